#include "hw/ids.h"

#include "host.h"
#include "hw/ids_parser.h"
#include "util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace hw {

namespace {

// pci.ids is about 1.3 MB and usb.ids 0.7 MB; anything far beyond is not such a file, and
// a link to an endless device must not take the program with it.
constexpr size_t max_ids_file = 64 * 1024 * 1024;

struct CodeName {
    uint8_t code;
    const char* name;
};

// The base classes are known even without a pci.ids, so a device is never wholly unnamed.
constexpr CodeName PCI_BASE_CLASSES[] = {
    {0x00, "Unclassified device"},
    {0x01, "Mass storage controller"},
    {0x02, "Network controller"},
    {0x03, "Display controller"},
    {0x04, "Multimedia controller"},
    {0x05, "Memory controller"},
    {0x06, "Bridge"},
    {0x07, "Communication controller"},
    {0x08, "Generic system peripheral"},
    {0x09, "Input device controller"},
    {0x0a, "Docking station"},
    {0x0b, "Processor"},
    {0x0c, "Serial bus controller"},
    {0x0d, "Wireless controller"},
    {0x0e, "Intelligent controller"},
    {0x0f, "Satellite communications controller"},
    {0x10, "Encryption controller"},
    {0x11, "Signal processing controller"},
    {0x12, "Processing accelerator"},
    {0x13, "Non-Essential Instrumentation"},
    {0x40, "Coprocessor"},
    {0xff, "Unassigned class"},
};

constexpr CodeName USB_CLASSES[] = {
    {0x00, "Per-Interface"},
    {0x01, "Audio"},
    {0x02, "Communications"},
    {0x03, "Human Interface Device"},
    {0x05, "Physical"},
    {0x06, "Imaging"},
    {0x07, "Printer"},
    {0x08, "Mass Storage"},
    {0x09, "Hub"},
    {0x0a, "CDC Data"},
    {0x0b, "Smart Card"},
    {0x0d, "Content Security"},
    {0x0e, "Video"},
    {0x0f, "Personal Healthcare"},
    {0x10, "Audio/Video"},
    {0x11, "Billboard"},
    {0x12, "USB Type-C Bridge"},
    {0x3c, "I3C"},
    {0xdc, "Diagnostic"},
    {0xe0, "Wireless"},
    {0xef, "Miscellaneous"},
    {0xfe, "Application Specific"},
    {0xff, "Vendor Specific"},
};

template <size_t N> const char* find_code(const CodeName (&table)[N], uint32_t code) {
    for (const auto& entry : table)
        if (entry.code == code) return entry.name;
    return nullptr;
}

// Names come from a file anybody may have edited: what is shown must be valid UTF-8.
std::string shown(std::string_view name) {
    return util::valid_utf8(name);
}

// The path to open for a path of the machine. Over a capture, through the capture's own
// links, so that a capture whose usb.ids links to /var/lib/usbutils/usb.ids reads the
// capture's file, not this host's; the live system's links the kernel follows itself.
std::string machine_file(const std::string& path) {
    return util::over_sysroot() ? util::resolve_path(path) : path;
}

// The real files are read in pieces of this size, which stay in the processor's caches and
// take few fresh pages of memory.
constexpr size_t piece_size = 16 * 1024;
// From this size on a file is read in pieces rather than held whole (fixtures and tests
// hold a few lines; the real pci.ids is 1.3 MB and usb.ids 0.7 MB).
constexpr size_t read_in_pieces_from = 256 * 1024;

// The devices of one vendor: for a database held whole, where their names are in its text;
// for one read in pieces, where they are in the file.
struct VendorDevices {
    IdIndex<uint32_t> in_text;
    std::optional<DeviceLines> in_file;
    const IdIndex<uint32_t>& devices() const { return in_file ? in_file->devices() : in_text; }
};

// One identifier file. A file below a quarter of a megabyte (a capture's, a test's) is held
// whole. The real ones are not: holding 1.3 MB meant fresh memory pages for all of it, which
// cost more than a report's reading of every kernel file. Their vendors, devices and classes
// are found by halving (SortedIdLines), a few pages each. What the halving misses is mostly
// what the file does not have (new hardware), which a quick pass over the file (a vendor or
// class) or the vendor's lines (a device) makes sure of. Only a line that pass finds, out of
// order, has the file read through in pieces for its top-level lines, or the vendor's lines
// read; each name is read from its line. The file stays open so that all these reads find
// the same file.
struct Database {
    util::FileContents whole;
    util::OpenFile file;
    bool pci = false;
    std::optional<SortedIdLines> sorted; // until the file is read through
    std::optional<TopLines> top;
    uint32_t read_end = 0; // the end of what the read through saw
    std::unordered_map<uint32_t, VendorDevices> vendors_seen;
    // The lines of the classes found by halving, and their tables.
    struct ClassLines {
        std::string text;
        PciIdTables tables;
    };
    std::unordered_map<uint32_t, ClassLines> classes_seen;
    std::unordered_map<uint32_t, bool> unlisted; // vendor << 16 | device: surely_unlisted()
    std::optional<TopKeys> top_keys;             // surely_absent()

    void use_file(const std::string& path, bool is_pci) {
        pci = is_pci;
        if (path.empty()) return;
        const std::string real = machine_file(path);
        file = util::OpenFile(real, read_in_pieces_from);
        if (!file.is_open()) {
            whole = util::FileContents(real, max_ids_file);
            return;
        }
        sorted.emplace(
            [this](uint64_t at, char* out, size_t length) { return file.read_at(at, out, length); },
            readable_size());
    }

    // How much of the file is read at most: all of it, up to max_ids_file.
    uint32_t readable_size() const {
        return static_cast<uint32_t>(std::min<uint64_t>(file.size(), max_ids_file));
    }

    // Reads the file through for its top-level lines, once; a file held whole has them all.
    void read_through(std::vector<char>& buf) {
        if (!file.is_open() || top) return;
        sorted.reset();
        top.emplace(pci, readable_size());
        read_end = stream(0, max_ids_file, *top, buf);
    }

    // Where the top-level line of `key` starts and its lines end, while halving is what finds
    // lines; nothing once the tables do (or when halving missed it).
    std::optional<std::pair<uint32_t, uint32_t>> halved(uint32_t key) {
        return sorted ? sorted->find(key) : std::nullopt;
    }

    // The name on the top-level line of `key`, when halving finds it.
    std::optional<std::string> halved_name(uint32_t key) {
        const auto block = halved(key);
        if (!block) return std::nullopt;
        // "8086  Intel Corporation", "C 01  Mass storage controller": the name follows the
        // four characters of the key.
        return std::string(name_at(sorted->line(block->first), 4));
    }

    // The line of a vendor's device and the lines under it, when halving finds both.
    std::optional<std::pair<uint32_t, uint32_t>> halved_device(uint32_t vendor, uint32_t device) {
        const auto block = halved(vendor);
        return block ? sorted->find_under(*block, device) : std::nullopt;
    }

    // The name on the line of a vendor's device, when halving finds both.
    std::optional<std::string> halved_device_name(uint32_t vendor, uint32_t device) {
        const auto line = halved_device(vendor, device);
        if (!line) return std::nullopt;
        // "\t1237  440FX - 82441FX PMC [Natoma]"
        return std::string(name_at(sorted->line(line->first), 5));
    }

    // The name of a subsystem under a vendor's device, empty when the device's lines do not
    // list it; nothing when halving does not find the device.
    std::optional<std::string> halved_subsystem(uint32_t vendor, uint32_t device,
                                                uint32_t subsystem) {
        const auto line = halved_device(vendor, device);
        if (!line) return std::nullopt;
        return subsystem_in({*line}, device, subsystem);
    }

    // The subsystem's name in the lines of the file at `blocks`, each a line of `device` and
    // the lines under it.
    std::string subsystem_in(const std::vector<std::pair<uint32_t, uint32_t>>& blocks,
                             uint32_t device, uint32_t subsystem) const {
        std::string lines;
        IdIndex<uint32_t> starts;
        for (const auto& [begin, end] : blocks) {
            starts.add(device, static_cast<uint32_t>(lines.size()));
            append(begin, end - begin, lines);
            lines += '\n';
        }
        starts.finish();
        return std::string(pci_subsystem_name(lines, starts, device, subsystem));
    }

    // Feeds [begin, end) of the file, or what of it there is, to `lines` in pieces of whole
    // lines read into `buf`; the end of what was read.
    template <typename Lines>
    uint32_t stream(uint32_t begin, uint32_t end, Lines& lines, std::vector<char>& buf) const {
        if (buf.empty()) buf.resize(piece_size);
        size_t kept = 0; // the start of a line that the last piece cut
        uint32_t at = begin;
        for (;;) {
            if (kept == buf.size()) buf.resize(buf.size() * 2);
            const size_t room = std::min<size_t>(buf.size() - kept, end - at - kept);
            const size_t n = room ? file.read_at(at + kept, buf.data() + kept, room) : 0;
            const size_t have = kept + n;
            const std::string_view view(buf.data(), have);
            const size_t nl = view.rfind('\n');
            const size_t cut = n == 0 ? have : nl == std::string_view::npos ? 0 : nl + 1;
            if (cut) lines.feed(view.substr(0, cut), at);
            if (n == 0) return at + static_cast<uint32_t>(have);
            std::memmove(buf.data(), buf.data() + cut, have - cut);
            kept = have - cut;
            at += static_cast<uint32_t>(cut);
        }
    }

    // Up to `length` bytes of the file from `begin`, appended to `out`.
    void append(uint32_t begin, uint32_t length, std::string& out) const {
        const size_t old = out.size();
        out.resize(old + length);
        out.resize(old + file.read_at(begin, out.data() + old, length));
    }

    // The text the tables point into.
    std::string_view text() const { return top ? std::string_view(top->text()) : whole.text(); }

    const VendorDevices& devices_of(const IdIndex<uint32_t>& vendors, uint32_t vendor,
                                    std::vector<char>& buf) {
        auto it = vendors_seen.find(vendor);
        if (it != vendors_seen.end()) return it->second;
        VendorDevices v;
        if (!top) {
            v.in_text = vendor_devices(whole.text(), vendors, vendor);
            return vendors_seen.emplace(vendor, std::move(v)).first->second;
        }
        // A vendor listed twice has devices under both lines, in file order.
        std::vector<std::pair<uint32_t, uint32_t>> blocks;
        for (uint32_t offset : vendors.find_all(vendor)) {
            const auto block = top->block_of(offset);
            if (!block || std::min(block->second, read_end) <= block->first) continue;
            blocks.emplace_back(block->first, std::min(block->second, read_end));
        }
        return devices_in(vendor, blocks, buf);
    }

    // Whether halving missed the top-level line of `key` (a vendor, or a class's
    // SortedIdLines::class_key) and the file has none: then a read through would find
    // nothing either. The file's top-level keys are gathered once, at the first miss.
    bool surely_absent(uint32_t key, std::vector<char>& buf) {
        if (!sorted || halved(key)) return false;
        if (!top_keys) {
            top_keys.emplace();
            stream(0, readable_size(), *top_keys, buf);
        }
        return !top_keys->has(key);
    }

    // Whether halving missed the device and no line can name it: its vendor is surely
    // absent, or no line under the vendor's line that halving found can name it.
    bool surely_unlisted(uint32_t vendor, uint32_t device, std::vector<char>& buf) {
        const auto block = halved(vendor);
        if (!block) return surely_absent(vendor, buf);
        auto [it, first] = unlisted.try_emplace(vendor << 16 | device, false);
        if (first && !halved_device(vendor, device)) {
            struct Search {
                uint32_t device;
                bool may = false;
                void feed(std::string_view piece, uint32_t) {
                    may = may || may_list_device(piece, device);
                }
            } search{device};
            stream(block->first, block->second, search, buf);
            it->second = !search.may;
        }
        return it->second;
    }

    // The name of a vendor's device: from its line that halving finds, else from the devices
    // under the lines the tables (`vendors()`) list.
    template <typename Vendors>
    std::string device_name_of(uint32_t vendor, uint32_t device, Vendors&& vendors,
                               std::vector<char>& buf) {
        if (auto name = halved_device_name(vendor, device)) return *name;
        if (surely_unlisted(vendor, device, buf)) return {};
        const VendorDevices& v = devices(vendor, vendors, buf);
        return device_name(v, v.devices().find(device));
    }

    // The devices of a vendor: under the lines halving finds, else under those the tables
    // (`vendors()`, which reads the file through) list.
    template <typename Vendors>
    const VendorDevices& devices(uint32_t vendor, Vendors&& vendors, std::vector<char>& buf) {
        auto it = vendors_seen.find(vendor);
        if (it != vendors_seen.end()) return it->second;
        if (const auto block = halved(vendor)) return devices_in(vendor, {*block}, buf);
        return devices_of(*vendors(), vendor, buf);
    }

    const VendorDevices& devices_in(uint32_t vendor,
                                    const std::vector<std::pair<uint32_t, uint32_t>>& blocks,
                                    std::vector<char>& buf) {
        size_t bytes = 0;
        for (const auto& [begin, end] : blocks)
            bytes += end - begin;
        VendorDevices v;
        v.in_file.emplace(bytes);
        for (const auto& [begin, end] : blocks)
            v.in_file->end_at(stream(begin, end, *v.in_file, buf));
        v.in_file->finish();
        return vendors_seen.emplace(vendor, std::move(v)).first->second;
    }

    // The lines of a class that halving found, parsed as the class section is; nothing when
    // halving does not find the class.
    const ClassLines* halved_class(uint32_t cls) {
        auto it = classes_seen.find(cls);
        if (it != classes_seen.end()) return &it->second;
        const auto block = halved(SortedIdLines::class_key(cls));
        if (!block) return nullptr;
        ClassLines lines;
        append(block->first, block->second - block->first, lines.text);
        parse_pci_ids(lines.text, lines.tables);
        return &classes_seen.emplace(cls, std::move(lines)).first->second;
    }

    // The subsystem's name from the lines under the device's lines.
    std::string subsystem_name(const VendorDevices& v, uint32_t device, uint32_t subsystem) const {
        if (!v.in_file)
            return std::string(pci_subsystem_name(text(), v.in_text, device, subsystem));
        std::vector<std::pair<uint32_t, uint32_t>> blocks;
        for (uint32_t offset : v.in_file->devices().find_all(device))
            if (const auto block = v.in_file->lines_of(offset)) blocks.push_back(*block);
        return subsystem_in(blocks, device, subsystem);
    }

    std::string_view name(std::optional<uint32_t> at) const { return name_at(text(), at); }
    std::string device_name(const VendorDevices& v, std::optional<uint32_t> at) const {
        if (!v.in_file || !at) return std::string(name_at(text(), at));
        // The rest of the name's line; names are short, the read grows for a long one.
        std::string line;
        for (uint32_t length = 256; length <= max_ids_file; length *= 16) {
            line.clear();
            append(*at, length, line);
            if (line.size() < length || line.find('\n') != std::string::npos) break;
        }
        return std::string(name_at(line, 0));
    }
};

} // namespace

// One database: searched for, then read, each at most once and only when asked for.
struct Ids::Impl {
    // The branches of a large machine are read on several threads, and the tables are made
    // on first use: one lookup at a time (held again by the lookups that search and load).
    std::recursive_mutex mutex;
    bool pci_searched = false, usb_searched = false;
    bool pci_opened = false, usb_opened = false;
    bool pci_loaded = false, usb_loaded = false;
    Database pci_db;
    Database usb_db;
    std::vector<char> piece; // what the databases read in pieces is read into, one at a time
    PciIdTables pci;
    UsbIdTables usb;
};

std::string find_ids_file(const std::string& name) {
    std::vector<std::string> dirs;
    if (const char* snap = std::getenv("SNAP"); snap && *snap) {
        dirs.push_back(std::string(snap) + "/usr/share/hwdata");
        dirs.push_back(std::string(snap) + "/usr/share/misc");
    }
    for (const char* d : {"/usr/share/hwdata", "/usr/share/misc", "/usr/share", "/var/lib/usbutils",
                          "/usr/local/share/hwdata"})
        dirs.emplace_back(d);
    for (const auto& dir : dirs) {
        // Most of these directories are missing on a machine (and in a capture, where a path
        // is resolved through the capture's links at some cost): looked at once.
        if (!util::is_dir(dir)) continue;
        std::string path = dir + "/" + name;
        std::string real = machine_file(path);
        // A directory opens for reading too, but holds no names: look further.
        if (util::readable(real) && !util::is_dir(real)) return path;
    }
    return {};
}

Ids::Ids() : m_impl(std::make_unique<Impl>()) {}
Ids::Ids(Ids&&) noexcept = default;
Ids& Ids::operator=(Ids&&) noexcept = default;
Ids::~Ids() = default;

Ids& Ids::instance() {
    static Ids ids;
    return ids;
}

namespace {

// The database file to use: the machine's own; over a capture that left it out although the
// machine had one (or that does not say), this computer's. Hand-made trees without a facts
// file keep their missing databases, so what they show never depends on this computer.
std::string locate(const char* name, bool pci, bool& here) {
    here = false;
    std::string path = find_ids_file(name);
    const host::Facts* facts = host::captured_facts();
    if (!path.empty() || !facts) return path;
    const std::optional<std::string>& had = pci ? facts->pci_ids : facts->usb_ids;
    if (had && had->empty()) return path;
    util::ThisMachine this_machine;
    path = find_ids_file(name);
    here = !path.empty();
    return path;
}

void open_located(Database& db, const std::string& path, bool pci, bool here) {
    std::optional<util::ThisMachine> this_machine;
    if (here) this_machine.emplace();
    db.use_file(path, pci);
}

} // namespace

Ids Ids::on_demand() {
    Ids ids;
    // The search decides where the file is read from, so both come first, as on first use.
    ids.pci_ids_path();
    ids.usb_ids_path();
    ids.open_pci();
    ids.open_usb();
    return ids;
}

Ids Ids::load() {
    Ids ids = on_demand();
    ids.pci_tables();
    ids.usb_tables();
    return ids;
}

const std::string& Ids::pci_ids_path() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (!m_impl->pci_searched) m_pci_path = locate("pci.ids", true, m_pci_here);
    m_impl->pci_searched = true;
    return m_pci_path;
}

const std::string& Ids::usb_ids_path() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (!m_impl->usb_searched) m_usb_path = locate("usb.ids", false, m_usb_here);
    m_impl->usb_searched = true;
    return m_usb_path;
}

bool Ids::pci_ids_from_this_computer() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    pci_ids_path();
    return m_pci_here;
}

bool Ids::usb_ids_from_this_computer() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    usb_ids_path();
    return m_usb_here;
}

void Ids::open_pci() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (!m_impl->pci_opened) open_located(m_impl->pci_db, pci_ids_path(), true, m_pci_here);
    m_impl->pci_opened = true;
}

void Ids::open_usb() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (!m_impl->usb_opened) open_located(m_impl->usb_db, usb_ids_path(), false, m_usb_here);
    m_impl->usb_opened = true;
}

const PciIdTables& Ids::pci_tables() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (!impl.pci_loaded) {
        open_pci();
        impl.pci_db.read_through(impl.piece);
        parse_pci_ids(impl.pci_db.text(), impl.pci);
        impl.pci_loaded = true;
    }
    return impl.pci;
}

const UsbIdTables& Ids::usb_tables() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (!impl.usb_loaded) {
        open_usb();
        impl.usb_db.read_through(impl.piece);
        parse_usb_ids(impl.usb_db.text(), impl.usb);
        impl.usb_loaded = true;
    }
    return impl.usb;
}

Ids Ids::from_text(std::string pci_text, std::string usb_text) {
    return from_files(util::FileContents(std::move(pci_text)),
                      util::FileContents(std::move(usb_text)));
}

Ids Ids::from_files(util::FileContents pci, util::FileContents usb) {
    Ids ids;
    Impl& impl = *ids.m_impl;
    impl.pci_db.whole = std::move(pci);
    impl.usb_db.whole = std::move(usb);
    parse_pci_ids(impl.pci_db.text(), impl.pci);
    parse_usb_ids(impl.usb_db.text(), impl.usb);
    impl.pci_searched = impl.usb_searched = true;
    impl.pci_opened = impl.usb_opened = impl.pci_loaded = impl.usb_loaded = true;
    return ids;
}

std::string Ids::pci_vendor(uint32_t vendor) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (vendor > 0xffff) return {};
    open_pci();
    if (auto name = m_impl->pci_db.halved_name(vendor)) return shown(*name);
    if (m_impl->pci_db.surely_absent(vendor, m_impl->piece)) return {};
    return shown(m_impl->pci_db.name(pci_tables().vendors.find(vendor)));
}

std::string Ids::pci_device(uint32_t vendor, uint32_t device) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (vendor > 0xffff || device > 0xffff) return {};
    open_pci();
    return shown(m_impl->pci_db.device_name_of(
        vendor, device, [this] { return &pci_tables().vendors; }, m_impl->piece));
}

std::string Ids::pci_subsystem(uint32_t sub_vendor, uint32_t sub_device, uint32_t vendor,
                               uint32_t device) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (sub_vendor > 0xffff || sub_device > 0xffff || vendor > 0xffff || device > 0xffff) return {};
    open_pci();
    Database& db = m_impl->pci_db;
    const uint32_t subsystem = sub_vendor << 16 | sub_device;
    std::optional<std::string> name = db.halved_subsystem(vendor, device, subsystem);
    if (!name && db.surely_unlisted(vendor, device, m_impl->piece)) name.emplace();
    if (!name) {
        const VendorDevices& v = db.devices(
            vendor, [this] { return &pci_tables().vendors; }, m_impl->piece);
        name = db.subsystem_name(v, device, subsystem);
    }
    if (name->empty()) return pci_vendor(sub_vendor);
    return shown(*name);
}

std::string Ids::pci_class(uint32_t class_code) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    const uint32_t cls = class_code >> 16 & 0xff;
    open_pci();
    Database& db = m_impl->pci_db;
    std::string_view name;
    if (const auto* lines = db.halved_class(cls)) {
        name = name_at(lines->text, lines->tables.subclasses.find(class_code >> 8 & 0xffff));
        if (name.empty()) name = name_at(lines->text, lines->tables.classes.find(cls));
    } else if (!db.surely_absent(SortedIdLines::class_key(cls), m_impl->piece)) {
        const PciIdTables& tables = pci_tables();
        name = db.name(tables.subclasses.find(class_code >> 8 & 0xffff));
        if (name.empty()) name = db.name(tables.classes.find(cls));
    }
    if (name.empty()) {
        if (const char* builtin = find_code(PCI_BASE_CLASSES, cls)) name = builtin;
    }
    return shown(name);
}

std::string Ids::pci_interface(uint32_t class_code) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    open_pci();
    Database& db = m_impl->pci_db;
    const uint32_t cls = class_code >> 16 & 0xff;
    if (const auto* lines = db.halved_class(cls))
        return shown(name_at(lines->text, lines->tables.interfaces.find(class_code & 0xffffff)));
    if (db.surely_absent(SortedIdLines::class_key(cls), m_impl->piece)) return {};
    return shown(db.name(pci_tables().interfaces.find(class_code & 0xffffff)));
}

std::string Ids::usb_vendor(uint32_t vendor) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (vendor > 0xffff) return {};
    open_usb();
    if (auto name = m_impl->usb_db.halved_name(vendor)) return shown(*name);
    if (m_impl->usb_db.surely_absent(vendor, m_impl->piece)) return {};
    return shown(m_impl->usb_db.name(usb_tables().vendors.find(vendor)));
}

std::string Ids::usb_device(uint32_t vendor, uint32_t product) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    if (vendor > 0xffff || product > 0xffff) return {};
    open_usb();
    return shown(m_impl->usb_db.device_name_of(
        vendor, product, [this] { return &usb_tables().vendors; }, m_impl->piece));
}

std::string Ids::usb_class(uint32_t cls) const {
    const char* name = cls <= 0xff ? find_code(USB_CLASSES, cls) : nullptr;
    return name ? name : std::string();
}

} // namespace hw

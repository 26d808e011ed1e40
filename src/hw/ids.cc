#include "hw/ids.h"

#include "host.h"
#include "hw/ids_parser.h"
#include "util.h"

#include <cstdlib>
#include <string_view>
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

util::FileContents read_ids(const std::string& path) {
    if (path.empty()) return {};
    // Read through the machine's own links, so that a capture whose usb.ids links to
    // /var/lib/usbutils/usb.ids reads the capture's file, not this host's.
    return util::FileContents(util::resolve_path(path), max_ids_file);
}

} // namespace

struct Ids::Impl {
    util::FileContents pci_file;
    util::FileContents usb_file;
    PciIdTables pci;
    UsbIdTables usb;

    std::string_view pci_name(std::optional<uint32_t> at) const {
        return name_at(pci_file.text(), at);
    }
    std::string_view usb_name(std::optional<uint32_t> at) const {
        return name_at(usb_file.text(), at);
    }
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
        std::string path = dir + "/" + name;
        std::string real = util::resolve_path(path);
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
    static Ids ids = load();
    return ids;
}

namespace {

// The database file to read: the machine's own; over a capture that left it out although
// the machine had one (or that does not say), this computer's. Hand-made trees without a
// facts file keep their missing databases, so what they show never depends on this computer.
util::FileContents find_and_read(const std::string& name,
                                 const std::optional<std::string>& captured_had, std::string* path,
                                 bool* here) {
    *path = find_ids_file(name);
    *here = false;
    std::optional<util::ThisMachine> this_machine;
    if (path->empty() && host::captured_facts() && (!captured_had || !captured_had->empty())) {
        this_machine.emplace();
        *path = find_ids_file(name);
        *here = !path->empty();
    }
    return read_ids(*path);
}

} // namespace

Ids Ids::load() {
    const host::Facts* facts = host::captured_facts();
    std::string pci_path, usb_path;
    bool pci_here = false, usb_here = false;
    util::FileContents pci =
        find_and_read("pci.ids", facts ? facts->pci_ids : std::nullopt, &pci_path, &pci_here);
    util::FileContents usb =
        find_and_read("usb.ids", facts ? facts->usb_ids : std::nullopt, &usb_path, &usb_here);
    Ids ids = from_files(std::move(pci), std::move(usb));
    ids.m_pci_path = std::move(pci_path);
    ids.m_usb_path = std::move(usb_path);
    ids.m_pci_here = pci_here;
    ids.m_usb_here = usb_here;
    return ids;
}

Ids Ids::from_text(std::string pci_text, std::string usb_text) {
    return from_files(util::FileContents(std::move(pci_text)),
                      util::FileContents(std::move(usb_text)));
}

Ids Ids::from_files(util::FileContents pci, util::FileContents usb) {
    Ids ids;
    Impl& impl = *ids.m_impl;
    impl.pci_file = std::move(pci);
    impl.usb_file = std::move(usb);
    parse_pci_ids(impl.pci_file.text(), impl.pci);
    parse_usb_ids(impl.usb_file.text(), impl.usb);
    return ids;
}

std::string Ids::pci_vendor(uint32_t vendor) const {
    if (vendor > 0xffff) return {};
    return shown(m_impl->pci_name(m_impl->pci.vendors.find(vendor)));
}

std::string Ids::pci_device(uint32_t vendor, uint32_t device) const {
    if (vendor > 0xffff || device > 0xffff) return {};
    return shown(m_impl->pci_name(m_impl->pci.devices.find(vendor << 16 | device)));
}

std::string Ids::pci_subsystem(uint32_t sub_vendor, uint32_t sub_device, uint32_t vendor,
                               uint32_t device) const {
    if (sub_vendor > 0xffff || sub_device > 0xffff || vendor > 0xffff || device > 0xffff) return {};
    std::string_view name = pci_subsystem_name(
        m_impl->pci_file.text(), m_impl->pci, vendor << 16 | device, sub_vendor << 16 | sub_device);
    if (name.empty()) name = m_impl->pci_name(m_impl->pci.vendors.find(sub_vendor));
    return shown(name);
}

std::string Ids::pci_class(uint32_t class_code) const {
    uint32_t cls = class_code >> 16 & 0xff;
    std::string_view name = m_impl->pci_name(m_impl->pci.subclasses.find(class_code >> 8 & 0xffff));
    if (name.empty()) name = m_impl->pci_name(m_impl->pci.classes.find(cls));
    if (name.empty()) {
        if (const char* builtin = find_code(PCI_BASE_CLASSES, cls)) name = builtin;
    }
    return shown(name);
}

std::string Ids::pci_interface(uint32_t class_code) const {
    return shown(m_impl->pci_name(m_impl->pci.interfaces.find(class_code & 0xffffff)));
}

std::string Ids::usb_vendor(uint32_t vendor) const {
    if (vendor > 0xffff) return {};
    return shown(m_impl->usb_name(m_impl->usb.vendors.find(vendor)));
}

std::string Ids::usb_device(uint32_t vendor, uint32_t product) const {
    if (vendor > 0xffff || product > 0xffff) return {};
    return shown(m_impl->usb_name(m_impl->usb.devices.find(vendor << 16 | product)));
}

std::string Ids::usb_class(uint32_t cls) const {
    const char* name = cls <= 0xff ? find_code(USB_CLASSES, cls) : nullptr;
    return name ? name : std::string();
}

} // namespace hw

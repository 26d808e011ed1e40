// Parsers of the PCI and USB identifier files: file text in, tables of names out. The tables
// point into the text, so the caller keeps the text alive as long as the tables.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace hw {

// Where each id's name sits in the text: a sorted array of (id, offset) pairs, searched by
// halving. The files list about 60,000 names and every report and window start loads them,
// so the tables are kept as small as they can be: a name costs 8 bytes here and stays in the
// file's own text.
template <typename Key> class IdIndex {
public:
    void reserve(size_t n) { m_entries.reserve(n); }
    void add(Key key, uint32_t offset) { m_entries.push_back({key, offset}); }
    // Sorts the entries unless the file already listed them in order, as the real files do.
    // Equal ids keep their file order, so the last line for an id is the one found.
    void finish() {
        auto less = [](const Entry& a, const Entry& b) {
            return a.key < b.key || (a.key == b.key && a.offset < b.offset);
        };
        if (!std::is_sorted(m_entries.begin(), m_entries.end(), less))
            std::sort(m_entries.begin(), m_entries.end(), less);
    }
    // Offset of the name of the last line with this id.
    std::optional<uint32_t> find(Key key) const {
        auto [first, last] = matches(key);
        if (first == last) return std::nullopt;
        return (last - 1)->offset;
    }
    // Offsets of every line with this id, in file order.
    std::vector<uint32_t> find_all(Key key) const {
        auto [first, last] = matches(key);
        std::vector<uint32_t> out;
        for (auto it = first; it != last; ++it)
            out.push_back(it->offset);
        return out;
    }
    size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        Key key;
        uint32_t offset;
    };
    using Iter = typename std::vector<Entry>::const_iterator;
    std::pair<Iter, Iter> matches(Key key) const {
        auto last = std::upper_bound(m_entries.begin(), m_entries.end(), key,
                                     [](const Key& k, const Entry& e) { return k < e.key; });
        auto first = last;
        while (first != m_entries.begin() && (first - 1)->key == key)
            --first;
        return {first, last};
    }
    std::vector<Entry> m_entries;
};

// The name that starts at `offset`: the rest of its line without surrounding white space.
std::string_view name_at(std::string_view text, std::optional<uint32_t> offset);

struct PciIdTables {
    IdIndex<uint32_t> vendors; // vendor
    // Devices have no table of their own here: they are the lines under their vendor's line,
    // indexed per vendor when a device of that vendor is first asked for (vendor_devices).
    // A machine names a handful of vendors, and the file lists thousands of devices: reading
    // only the vendor lines at load is most of the time a report spends on names. Subsystems
    // are the lines under their device's line, read when asked for.
    // Class, subclass and programming interface names apart, so that a subclass 00 never
    // stands in for its class, nor interface 00 for its subclass.
    IdIndex<uint32_t> classes;    // class
    IdIndex<uint32_t> subclasses; // class << 8 | subclass
    IdIndex<uint32_t> interfaces; // class << 16 | subclass << 8 | interface
};

struct UsbIdTables {
    IdIndex<uint32_t> vendors; // vendor; products per vendor through vendor_devices
};

// Fills `out` with the vendors and the class section of a pci.ids text. Lines that do not
// fit the grammar are skipped, and so are the lines nested under them, so a broken vendor
// line never lends its devices to the vendor before it. Only the first 4 GiB of text are
// read (the real file is about 1.3 MB).
void parse_pci_ids(std::string_view text, PciIdTables& out);

// Fills `out` with the vendors of a usb.ids text; the file's other sections (classes, HID
// usages, languages…) are skipped.
void parse_usb_ids(std::string_view text, UsbIdTables& out);

// The devices (pci.ids) or products (usb.ids) of one vendor, keyed by their 16-bit id: the
// lines one level under every line of that vendor in `vendors`, as parsed from `text`.
IdIndex<uint32_t> vendor_devices(std::string_view text, const IdIndex<uint32_t>& vendors,
                                 uint32_t vendor);

// The name of a subsystem (subsystem vendor << 16 | subsystem device) of a device, given the
// device's vendor_devices index, in a pci.ids text; empty when the file does not list it.
std::string_view pci_subsystem_name(std::string_view text, const IdIndex<uint32_t>& devices,
                                    uint32_t device, uint32_t subsystem);

// Whether a line of `text` (whole lines) may name `device` one level deep, as a vendor's
// device or product line does ("\t0d57  …", its digits in either case). False means surely
// not. For a device the file does not list (new hardware), which halving alone cannot rule
// out in a file that may be out of order, this passes over the vendor's lines far faster
// than parsing them would.
bool may_list_device(std::string_view text, uint32_t device);

// The lines of an identifier file that its tables are made from, for a file too large to hold
// whole: every top-level line (the vendors, and the headings of the other sections) and, for
// pci.ids (`whole_classes`), everything from the first class line on. Fed the file in pieces
// that each end at a line break (the last may not), in file order. For every top-level line
// it keeps where the line stands in the file, so that a vendor's lines are read from the file
// only when asked for. The parsers above read text() as they read the whole file. Offsets in
// the file are below 4 GiB (the files are read up to 64 MB).
class TopLines {
public:
    // `file_size` reserves room for what is kept, so the text is never copied as it grows.
    TopLines(bool whole_classes, size_t file_size);
    void feed(std::string_view piece, uint32_t file_offset);
    const std::string& text() const { return m_text; }
    // Where in the file the top-level line holding `offset` of text() starts, and where the
    // next top-level line starts (UINT32_MAX after the last one).
    std::optional<std::pair<uint32_t, uint32_t>> block_of(uint32_t offset) const;

private:
    bool m_whole_classes;
    bool m_in_classes = false;
    std::string m_text;
    std::vector<std::pair<uint32_t, uint32_t>> m_starts; // (offset in text, offset in file)
};

// What vendor_devices makes of one vendor's lines, without their text: fed those lines in
// pieces as TopLines is fed the file, it keeps each device with the offset of its name in the
// file, and where every line one level deep starts, so that the subsystems under a device are
// read from the file only when asked for.
class DeviceLines {
public:
    // `bytes`, the size of the lines to come, reserves room for what is kept.
    explicit DeviceLines(size_t bytes) {
        m_devices.reserve(bytes / 32 + 16);
        m_starts.reserve(bytes / 32 + 16);
    }
    void feed(std::string_view piece, uint32_t file_offset);
    // The vendor's lines fed so far end at `file_offset`.
    void end_at(uint32_t file_offset);
    // Sorts the devices; call once all lines were fed.
    void finish() { m_devices.finish(); }
    const IdIndex<uint32_t>& devices() const { return m_devices; }
    // Where the line holding the name at `offset` starts, and where the lines under it end.
    std::optional<std::pair<uint32_t, uint32_t>> lines_of(uint32_t offset) const;

private:
    IdIndex<uint32_t> m_devices;
    std::vector<uint32_t> m_starts; // in the file, of the lines at depth 0 and 1, and the ends
};

// The lines of a file too large to hold whole, found by halving: the real files list their
// vendors by id and then their other sections (pci.ids its classes by code), and under each
// vendor its devices by id, so a name takes a few pages of the file instead of a read through
// all of it. A top-level line's key is the vendor's id, 0x10000 | class for a class line
// ("C 01"), and 0x20000 for any other heading; a device line's key is its id. A file out of
// that order may hide a line from the halving: the caller then makes sure the line is absent
// (TopKeys, may_list_device), and reads the file through (or the vendor's lines) if not.
class SortedIdLines {
public:
    // Up to `length` bytes of the file from `offset` into `out`; fewer at its end.
    using ReadAt = std::function<size_t(uint64_t offset, char* out, size_t length)>;
    // Where a line starts, and where the lines under it end.
    using Block = std::pair<uint32_t, uint32_t>;
    SortedIdLines(ReadAt read_at, uint32_t size);
    static constexpr uint32_t class_key(uint32_t cls) { return 0x10000 | cls; }
    // The key of the line that `line` starts (without its leading tabs).
    static uint32_t key_of(std::string_view line);
    // The top-level line of `key`, up to the next top-level line (the file's end after the
    // last). Nothing when halving does not find it, and nothing for a line listed twice in a
    // row, whose lines under both only a read through brings together.
    std::optional<Block> find(uint32_t key);
    // The same for a line one level under the top-level line of `parent` (a vendor's device).
    std::optional<Block> find_under(Block parent, uint32_t key);
    // The text of the line that starts at `start`, without its line break.
    std::string line(uint32_t start);

private:
    static constexpr uint32_t page_size = 4096;
    // Pages kept, and the piece a scan through a long block reads at a time. Few and small:
    // every page of memory a process touches first costs it a fault, which on a virtual
    // machine takes longer than reading the page from the file again.
    static constexpr size_t kept_pages = 8;
    static constexpr size_t scan_piece = 16 * 1024;
    // The page holding `offset`, read on first use; empty past the end. What it returns stays
    // valid across one more call: the page used longest ago makes room for the next one.
    std::string_view page_of(uint32_t offset);
    // Halving for the line of `key` at `depth` (tabs) among the lines starting in [lo, hi).
    std::optional<Block> find_in(size_t depth, uint32_t key, uint32_t lo, uint32_t hi);
    // The first line at `depth` that starts in [from, before).
    std::optional<uint32_t> next_heading(size_t depth, uint32_t from, uint32_t before);
    uint32_t key_at(size_t depth, uint32_t start);

    ReadAt m_read_at;
    uint32_t m_size;
    struct KeptPage {
        uint32_t number = UINT32_MAX;
        uint32_t size = 0;
        uint64_t used = 0; // when it was last asked for
    };
    std::array<KeptPage, kept_pages> m_kept;
    uint64_t m_uses = 0;
    // The kept pages, then the scan's piece; made on first use.
    std::unique_ptr<char[]> m_memory;
    char* memory();
    // Per depth, stretches [first, second) in which no line at that depth is known to start.
    std::map<uint32_t, uint32_t> m_no_heading[2];
    // What each lookup found: the same names are asked for again and again.
    std::map<std::tuple<size_t, uint32_t, uint32_t>, std::optional<Block>> m_found;
};

// The keys (SortedIdLines::key_of) of every top-level line of a file fed to it in pieces of
// whole lines: a vendor or class that halving misses is absent when its key is not here, and
// the file need not be read through for its tables; one that is here is out of order or
// listed twice. The pass reads the whole file as a read through does, but keeps no text and
// parses no tables (for usb.ids, 0.21 → 0.16 ms and 0.3 MB less).
class TopKeys {
public:
    void feed(std::string_view piece, uint32_t file_offset);
    bool has(uint32_t key) const { return key < m_seen.size() && m_seen[key]; }

private:
    std::vector<bool> m_seen = std::vector<bool>(0x10000 + 0x100);
};

} // namespace hw

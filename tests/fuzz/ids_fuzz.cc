// Feeds arbitrary bytes to both identifier-file parsers and looks names up, including ids
// taken from the input itself so that lookups hit what was parsed. Every name must come back
// as one line of valid UTF-8.
#include "fuzz_support.h"
#include "hw/ids.h"
#include "hw/ids_parser.h"
#include "util.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(const std::string& name) {
    if (name.find('\n') != std::string::npos || util::valid_utf8(name) != name) std::abort();
}

uint32_t id_at(const std::string& bytes, size_t i) {
    if (bytes.empty()) return 0;
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k)
        v = v << 8 | static_cast<uint8_t>(bytes[(i + k) % bytes.size()]);
    return v;
}

// A large file is read in pieces that end at line breaks: where the pieces are cut must not
// change what is kept of it, nor where its lines are found in the file.
void check_pieces(const std::string& text) {
    hw::TopLines whole(true, text.size()), cut(true, text.size());
    hw::DeviceLines devices_whole(text.size()), devices_cut(text.size());
    whole.feed(text, 0);
    devices_whole.feed(text, 0);
    size_t at = 0, lines = 0;
    for (size_t nl = text.find('\n'); at < text.size(); nl = text.find('\n', nl + 1)) {
        if (nl != std::string::npos && ++lines % 3 != 0) continue;
        const size_t end = nl == std::string::npos ? text.size() : nl + 1;
        cut.feed(std::string_view(text).substr(at, end - at), static_cast<uint32_t>(at));
        devices_cut.feed(std::string_view(text).substr(at, end - at), static_cast<uint32_t>(at));
        at = end;
        if (nl == std::string::npos) break;
    }
    fuzz::check(whole.text() == cut.text());
    devices_whole.finish();
    devices_cut.finish();
    fuzz::check(devices_whole.devices().size() == devices_cut.devices().size());
    for (uint32_t offset = 0; offset < whole.text().size(); offset += 7) {
        fuzz::check(whole.block_of(offset) == cut.block_of(offset));
        const auto block = whole.block_of(offset);
        fuzz::check(!block || (block->first <= text.size() && block->first < block->second));
    }
    for (uint32_t offset = 0; offset < text.size(); offset += 7)
        fuzz::check(devices_whole.lines_of(offset) == devices_cut.lines_of(offset));
}

bool no_entry(char c) {
    return c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == '\0';
}

// What halving finds at one depth (`find` given a key): a line at that depth with that key, up
// to the next such line or `end`; where those lines are in strict order, every one of them.
template <typename Find>
void check_found(const std::vector<std::pair<uint32_t, uint32_t>>& headings, uint32_t end,
                 const std::vector<uint32_t>& keys, Find&& find) {
    bool in_order = true;
    for (size_t i = 1; i < headings.size(); ++i)
        in_order = in_order && headings[i - 1].second < headings[i].second;
    for (uint32_t key : keys) {
        const auto found = find(key);
        auto it = std::find_if(headings.begin(), headings.end(),
                               [&](const auto& h) { return found && h.first == found->first; });
        if (found) {
            fuzz::check(it != headings.end() && it->second == key);
            fuzz::check(found->second == (it + 1 == headings.end() ? end : (it + 1)->first));
        } else if (in_order) {
            fuzz::check(std::none_of(headings.begin(), headings.end(),
                                     [&](const auto& h) { return h.second == key; }));
        }
    }
}

// Halving over the text as a file, for top-level lines and for the lines under them.
void check_halving(const std::string& text, uint32_t extra_key) {
    const auto size = static_cast<uint32_t>(std::min<size_t>(text.size(), 1u << 24));
    std::vector<std::pair<uint32_t, uint32_t>> top, under; // (start, key)
    for (uint32_t at = 0; at < size;) {
        if (!no_entry(text[at]))
            top.emplace_back(at, hw::SortedIdLines::key_of(text.substr(at, 8)));
        const size_t nl = text.find('\n', at);
        at = nl == std::string::npos || nl >= size ? size : static_cast<uint32_t>(nl) + 1;
    }
    hw::SortedIdLines lines(
        [&](uint64_t at, char* out, size_t length) {
            const size_t n = at < size ? std::min<size_t>(length, size - at) : 0;
            std::memcpy(out, text.data() + at, n);
            return n;
        },
        size);
    std::vector<uint32_t> keys{extra_key & 0xffff, hw::SortedIdLines::class_key(extra_key >> 24)};
    for (size_t i = 0; i < top.size() && i < 8; ++i)
        keys.push_back(top[i * 7 % top.size()].second);
    check_found(top, size, keys, [&](uint32_t key) { return lines.find(key); });
    // The lines one tab deep under the first top-level line halving finds.
    const auto parent = top.empty() ? std::nullopt : lines.find(top.front().second);
    if (!parent) return;
    keys.clear();
    for (uint32_t at = parent->first; at < parent->second;) {
        if (at > parent->first && text[at] == '\t' && at + 1 < size && !no_entry(text[at + 1])) {
            under.emplace_back(at, hw::SortedIdLines::key_of(text.substr(at + 1, 8)));
            keys.push_back(under.back().second);
        }
        const size_t nl = text.find('\n', at);
        at = nl == std::string::npos || nl >= size ? size : static_cast<uint32_t>(nl) + 1;
    }
    keys.push_back(extra_key >> 16);
    check_found(under, parent->second, keys,
                [&](uint32_t key) { return lines.find_under(*parent, key); });
}

} // namespace

FUZZ_TARGET(text) {
    check_pieces(text);
    check_halving(text, id_at(text, 2));
    hw::Ids ids = hw::Ids::from_text(text, text);
    // What the parsers name, the quick passes that rule lines out must not rule out.
    hw::TopKeys top_keys;
    top_keys.feed(text, 0);
    for (size_t i = 0; i < 16; ++i) {
        uint32_t a = id_at(text, i * 3);
        uint32_t b = id_at(text, i * 5 + 1);
        uint32_t lo = a & 0xffff, hi = a >> 16, lo2 = b & 0xffff, hi2 = b >> 16;
        check(ids.pci_vendor(lo));
        check(ids.pci_device(hi, lo));
        fuzz::check(ids.pci_vendor(lo).empty() || top_keys.has(lo));
        fuzz::check(ids.pci_device(hi, lo).empty() || hw::may_list_device(text, lo));
        check(ids.pci_subsystem(hi2, lo2, hi, lo));
        check(ids.pci_class(a & 0xffffff));
        check(ids.pci_interface(b & 0xffffff));
        check(ids.usb_vendor(lo));
        check(ids.usb_device(hi, lo));
        check(ids.usb_class(b & 0xff));
    }
    // Also the ids the input's own lines start with, each under the vendor line above it.
    uint32_t vendor = 0;
    size_t at = 0;
    for (size_t n = 0; n < 64 && at < text.size(); ++n) {
        const size_t tabs = text[at] == '\t' ? 1 : 0;
        const uint32_t key = hw::SortedIdLines::key_of(std::string_view(text).substr(at + tabs));
        if (key < 0x10000 && tabs == 0) {
            vendor = key;
            fuzz::check(ids.pci_vendor(key).empty() || top_keys.has(key));
        } else if (key < 0x10000) {
            fuzz::check(ids.pci_device(vendor, key).empty() || hw::may_list_device(text, key));
        }
        const size_t nl = text.find('\n', at);
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    // Ids that hand-written seeds use, whatever bytes the input holds.
    check(ids.pci_vendor(0x0001));
    check(ids.pci_device(0x0001, 0x0010));
    check(ids.pci_subsystem(0x0001, 0x0002, 0x0001, 0x0010));
    check(ids.pci_class(0x010802));
}

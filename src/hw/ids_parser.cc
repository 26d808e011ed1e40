#include "hw/ids_parser.h"

#include "util.h"

#include <cstring>
#include <limits>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hw {

namespace {

#if defined(__SSE2__)
// Which of the 16 bytes from `at` are `c`, one bit each; with `any_case`, a capital letter
// counts as its small one (setting bit 5 makes a capital small and leaves a digit as it is).
inline unsigned equal_bytes(const char* at, char c, bool any_case = false) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    if (any_case) bytes = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}
#endif

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\0';
}

// Exactly `digits` hexadecimal digits at the start of `s`, followed by white space or nothing.
// Stricter than "parse what you can": "12zz" or "80861" are no ids at all, and a line whose
// id is damaged must not become an entry under some other number.
inline bool take_id(std::string_view& s, size_t digits, uint32_t& id) {
    if (s.size() < digits) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = util::hex_digit(s[i]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    if (s.size() > digits && !is_space(s[digits])) return false;
    id = v;
    s.remove_prefix(digits);
    return true;
}

std::string_view usable(std::string_view text) {
    // Offsets are kept in 32 bits.
    return text.substr(0, std::min<size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
}

// The newlines of a text, in order. The files are tens of thousands of short lines: looking
// at 64 bytes at a time and keeping what was seen costs less than a search call per line,
// and that search was most of what loading the files cost.
class Newlines {
public:
    explicit Newlines(std::string_view text)
        : m_next(text.data()), m_end(text.data() + text.size()) {}

    // The next newline, or nullptr after the last.
    const char* next() {
#if defined(__SSE2__)
        uint64_t mask = m_mask;
        if (mask == 0) {
            const char* p = m_next;
            auto bits = [](const char* at) { return uint64_t{equal_bytes(at, '\n')}; };
            while (mask == 0) {
                if (m_end - p < 64) {
                    m_next = p;
                    return tail();
                }
                mask = bits(p) | bits(p + 16) << 16 | bits(p + 32) << 32 | bits(p + 48) << 48;
                p += 64;
            }
            m_block = p - 64;
            m_next = p;
        }
        unsigned bit = static_cast<unsigned>(__builtin_ctzll(mask));
        m_mask = mask & (mask - 1);
        return m_block + bit;
#else
        return tail();
#endif
    }

private:
    const char* tail() {
        if (m_next >= m_end) return nullptr;
        const char* nl = static_cast<const char*>(std::memchr(m_next, '\n', m_end - m_next));
        m_next = nl ? nl + 1 : m_end;
        return nl;
    }

    const char* m_next;
    const char* m_end;
    const char* m_block = nullptr;
    uint64_t m_mask = 0;
};

// Every line, until f returns false.
template <typename F> void for_each_raw_line(std::string_view text, F&& f) {
    const char* p = text.data();
    const char* end = p + text.size();
    Newlines newlines(text);
    while (p < end) {
        const char* nl = newlines.next();
        const char* line_end = nl ? nl : end;
        std::string_view line(p, static_cast<size_t>(line_end - p));
        p = nl ? nl + 1 : end;
        if (!f(line)) return;
    }
}

// The start of the first line at or after `p`, itself a line's start, that does not begin
// with `tabs` tabs; `end` when there is none. The files are mostly lines nested under a few
// thousand others, so the nested ones are passed over 16 bytes at a time, never one by one.
const char* next_line_unless_tabbed(const char* p, const char* end, size_t tabs) {
    auto tabbed = [&](const char* line) {
        if (static_cast<size_t>(end - line) < tabs) return false;
        for (size_t i = 0; i < tabs; ++i)
            if (line[i] != '\t') return false;
        return true;
    };
    if (p >= end || !tabbed(p)) return p;
    const char* q = p; // no newline before q ends a line that is wanted
#if defined(__SSE2__)
    // A newline in these 16 bytes, and the `tabs` bytes after it, lie before `end`.
    while (static_cast<size_t>(end - q) >= 16 + tabs) {
        unsigned nested = 0xffff;
        for (size_t d = 1; d <= tabs; ++d)
            nested &= equal_bytes(q + d, '\t');
        if (unsigned wanted = equal_bytes(q, '\n') & ~nested) return q + __builtin_ctz(wanted) + 1;
        q += 16;
    }
#endif
    for (;;) {
        const char* nl = static_cast<const char*>(std::memchr(q, '\n', end - q));
        if (!nl || nl + 1 >= end) return end;
        if (!tabbed(nl + 1)) return nl + 1;
        q = nl + 1;
    }
}

// Every line that does not begin with `tabs` tabs, until f returns false.
template <typename F> void for_each_line_unless_tabbed(std::string_view text, size_t tabs, F&& f) {
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); (p = next_line_unless_tabbed(p, end, tabs)) < end;) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!f(std::string_view(p, static_cast<size_t>((nl ? nl : end) - p)))) return;
        p = nl ? nl + 1 : end;
    }
}

// Calls f(depth, body) for every line that may hold an entry, until f returns false. Blank
// lines, comment lines and lines indented with anything but tabs are passed over without
// touching the caller's state: a line indented with spaces has no depth one can trust, and
// it must not end the block of the vendor or device above it.
template <typename F> void for_each_line(std::string_view text, F&& f) {
    for_each_raw_line(text, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return true;
        size_t depth = 0;
        while (depth < line.size() && line[depth] == '\t')
            ++depth;
        std::string_view body = line.substr(depth);
        if (body.empty() || is_space(body[0])) return true;
        return f(depth, body);
    });
}

// Room for the entries of a text of this size: a candidate line takes a dozen bytes or more
// (the real files average about 35), so the tables never grow through copies of themselves.
// Room that is reserved but not used costs no memory pages.
size_t room_for(std::string_view text) {
    return text.size() / 12 + 16;
}

} // namespace

std::string_view name_at(std::string_view text, std::optional<uint32_t> offset) {
    if (!offset || *offset > text.size()) return {};
    std::string_view rest = text.substr(*offset);
    return util::trim_view(rest.substr(0, rest.find('\n')));
}

namespace {

// The lines at depth 0 that may hold an entry, until f returns false; the lines nested under
// them are passed over unseen, which is what makes a load cheap (the files are mostly device
// and subsystem lines).
template <typename F> void for_each_top_line(std::string_view text, F&& f) {
    for_each_line_unless_tabbed(text, 1, [&](std::string_view line) {
        // Blank, comment and space-indented lines, as for_each_line skips them.
        if (line.empty() || line[0] == '#' || is_space(line[0])) return true;
        return f(line);
    });
}

void parse_class_section(std::string_view text, size_t start, PciIdTables& out) {
    auto offset_of = [&](std::string_view s) {
        return static_cast<uint32_t>(s.data() - text.data());
    };
    // The parent each depth hangs under; cleared when its line was unusable.
    bool have_class = false, have_subclass = false;
    uint32_t cls = 0, subclass = 0;
    for_each_line(text.substr(start), [&](size_t depth, std::string_view body) {
        uint32_t id = 0;
        if (depth == 0) {
            have_subclass = false;
            have_class = false;
            if (body.size() > 2 && body[0] == 'C' && body[1] == ' ') {
                body.remove_prefix(2);
                have_class = take_id(body, 2, id);
                if (have_class) {
                    cls = id;
                    out.classes.add(cls, offset_of(body));
                }
            }
        } else if (depth == 1) {
            have_subclass = have_class && take_id(body, 2, id);
            if (have_subclass) {
                subclass = id;
                out.subclasses.add(cls << 8 | subclass, offset_of(body));
            }
        } else if (depth == 2 && have_subclass && take_id(body, 2, id)) {
            out.interfaces.add(cls << 16 | subclass << 8 | id, offset_of(body));
        }
        return true;
    });
}

} // namespace

void parse_pci_ids(std::string_view whole, PciIdTables& out) {
    std::string_view text = usable(whole);
    out.vendors.reserve(room_for(text) / 16);
    for_each_top_line(text, [&](std::string_view line) {
        if (line.size() > 2 && line[0] == 'C' && line[1] == ' ') {
            // The classes close the file; no vendor follows them.
            parse_class_section(text, static_cast<size_t>(line.data() - text.data()), out);
            return false;
        }
        uint32_t id = 0;
        if (take_id(line, 4, id))
            out.vendors.add(id, static_cast<uint32_t>(line.data() - text.data()));
        return true;
    });
    out.vendors.finish();
    out.classes.finish();
    out.subclasses.finish();
    out.interfaces.finish();
}

void parse_usb_ids(std::string_view whole, UsbIdTables& out) {
    std::string_view text = usable(whole);
    out.vendors.reserve(room_for(text) / 16);
    // Vendors come first; every other top-level section starts with a keyword ("C 09",
    // "HID 01", "L 0409" …), which no vendor id reads like.
    for_each_top_line(text, [&](std::string_view line) {
        uint32_t id = 0;
        if (take_id(line, 4, id))
            out.vendors.add(id, static_cast<uint32_t>(line.data() - text.data()));
        return true;
    });
    out.vendors.finish();
}

namespace {

uint32_t offset_in(std::string_view piece, std::string_view part, uint32_t piece_offset) {
    return piece_offset + static_cast<uint32_t>(part.data() - piece.data());
}

} // namespace

TopLines::TopLines(bool whole_classes, size_t file_size) : m_whole_classes(whole_classes) {
    // The real files keep about a twentieth (pci.ids) and an eighth (usb.ids) of their bytes,
    // a line for every 200 bytes of file or more. Room reserved but never used costs no pages.
    m_text.reserve(file_size / 4);
    m_starts.reserve(file_size / 128 + 16);
}

void TopLines::feed(std::string_view piece, uint32_t file_offset) {
    auto keep = [&](std::string_view line) {
        if (m_text.size() >= std::numeric_limits<uint32_t>::max() - line.size()) return false;
        m_text.append(line);
        m_text += '\n';
        return true;
    };
    if (!m_in_classes) {
        size_t classes_from = piece.size(); // where in this piece the class lines start
        for_each_line_unless_tabbed(piece, 1, [&](std::string_view line) {
            // As for_each_top_line.
            if (line.empty() || line[0] == '#' || is_space(line[0])) return true;
            const auto at = static_cast<uint32_t>(m_text.size());
            if (!keep(line)) return false;
            m_starts.emplace_back(at, offset_in(piece, line, file_offset));
            m_in_classes = m_whole_classes && line.size() > 2 && line[0] == 'C' && line[1] == ' ';
            if (m_in_classes)
                classes_from = static_cast<size_t>(line.data() - piece.data()) + line.size() + 1;
            return !m_in_classes;
        });
        if (classes_from >= piece.size()) return;
        piece.remove_prefix(classes_from);
    }
    for_each_raw_line(piece, keep);
}

std::optional<std::pair<uint32_t, uint32_t>> TopLines::block_of(uint32_t offset) const {
    auto after = std::upper_bound(m_starts.begin(), m_starts.end(), offset,
                                  [](uint32_t o, const auto& start) { return o < start.first; });
    if (after == m_starts.begin()) return std::nullopt;
    const uint32_t end = after == m_starts.end() ? UINT32_MAX : after->second;
    return std::make_pair((after - 1)->second, end);
}

void DeviceLines::feed(std::string_view piece, uint32_t file_offset) {
    // Most lines of a vendor are subsystems, two tabs deep: passed over 16 bytes at a time.
    // The rest are passed over as for_each_line does.
    for_each_line_unless_tabbed(piece, 2, [&](std::string_view line) {
        if (line.empty() || line[0] == '#') return true;
        const size_t depth = line[0] == '\t' ? 1 : 0;
        std::string_view body = line.substr(depth);
        if (body.empty() || is_space(body[0])) return true;
        m_starts.push_back(offset_in(piece, line, file_offset));
        uint32_t id = 0;
        if (depth == 1 && take_id(body, 4, id))
            m_devices.add(id, offset_in(piece, body, file_offset));
        return true;
    });
}

void DeviceLines::end_at(uint32_t file_offset) {
    m_starts.push_back(file_offset);
}

std::optional<std::pair<uint32_t, uint32_t>> DeviceLines::lines_of(uint32_t offset) const {
    auto after = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
    if (after == m_starts.begin() || after == m_starts.end()) return std::nullopt;
    return std::make_pair(*(after - 1), *after);
}

IdIndex<uint32_t> vendor_devices(std::string_view whole, const IdIndex<uint32_t>& vendors,
                                 uint32_t vendor) {
    std::string_view text = usable(whole);
    IdIndex<uint32_t> out;
    // A vendor listed twice has devices under both lines; the last line for an id wins.
    for (uint32_t offset : vendors.find_all(vendor)) {
        size_t nl = text.find('\n', offset);
        if (nl == std::string_view::npos) break;
        for_each_line(text.substr(nl + 1), [&](size_t depth, std::string_view body) {
            if (depth == 0) return false; // the next vendor or section
            uint32_t id = 0;
            if (depth == 1 && take_id(body, 4, id))
                out.add(id, static_cast<uint32_t>(body.data() - text.data()));
            return true;
        });
    }
    out.finish();
    return out;
}

std::string_view pci_subsystem_name(std::string_view whole, const IdIndex<uint32_t>& devices,
                                    uint32_t device, uint32_t subsystem) {
    std::string_view text = usable(whole);
    std::string_view found;
    // A device listed twice has its subsystems under both lines; the last line wins, as
    // everywhere in the file.
    for (uint32_t offset : devices.find_all(device)) {
        size_t nl = text.find('\n', offset);
        if (nl == std::string_view::npos) break;
        for_each_line(text.substr(nl + 1), [&](size_t depth, std::string_view body) {
            if (depth < 2) return false; // the next device, vendor or section
            uint32_t sub_vendor = 0, sub_device = 0;
            if (depth != 2 || !take_id(body, 4, sub_vendor)) return true;
            std::string_view rest = body;
            while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t'))
                rest.remove_prefix(1);
            if (rest.size() == body.size()) return true; // the two ids must stand apart
            if (!take_id(rest, 4, sub_device)) return true;
            if ((sub_vendor << 16 | sub_device) == subsystem) found = util::trim_view(rest);
            return true;
        });
    }
    return found;
}

bool may_list_device(std::string_view text, uint32_t device) {
    if (text.size() < 5) return false; // a tab and four digits
    char digits[4];
    for (size_t i = 0; i < 4; ++i)
        digits[i] = "0123456789abcdef"[device >> (12 - 4 * i) & 0xf];
    auto names_it = [&](size_t line) {
        if (text.size() - line < 5 || text[line] != '\t') return false;
        for (size_t i = 0; i < 4; ++i)
            if ((text[line + 1 + i] | 0x20) != digits[i]) return false; // either case
        return text.size() - line == 5 || is_space(text[line + 5]);
    };
    if (names_it(0)) return true;
    size_t at = 0; // no line starting after a newline before `at` names it
#if defined(__SSE2__)
    // Sixteen places at a time for a newline followed by a tab and the digits, never one by
    // one: nearly every line of a vendor starts with a tab.
    auto bits = [&](size_t from, char c, bool any_case) {
        return equal_bytes(text.data() + from, c, any_case);
    };
    for (; text.size() - at >= 16 + 5; at += 16) {
        // The last digit first: unlike the tab and the leading zeros, it seldom follows.
        unsigned found = bits(at, '\n', false) & bits(at + 5, digits[3], true);
        if (!found) continue;
        found &= bits(at + 1, '\t', false);
        for (size_t i = 0; i < 3; ++i)
            found &= bits(at + 2 + i, digits[i], true);
        for (; found; found &= found - 1)
            if (names_it(at + __builtin_ctz(found) + 1)) return true;
    }
#endif
    while (const void* nl = std::memchr(text.data() + at, '\n', text.size() - at)) {
        at = static_cast<size_t>(static_cast<const char*>(nl) - text.data()) + 1;
        if (names_it(at)) return true;
    }
    return false;
}

void TopKeys::feed(std::string_view piece, uint32_t) {
    for_each_line_unless_tabbed(piece, 1, [&](std::string_view line) {
        const uint32_t key = SortedIdLines::key_of(line);
        if (key < m_seen.size()) m_seen[key] = true;
        return true;
    });
}

SortedIdLines::SortedIdLines(ReadAt read_at, uint32_t size)
    : m_read_at(std::move(read_at)), m_size(size) {}

char* SortedIdLines::memory() {
    if (!m_memory)
        m_memory = std::make_unique_for_overwrite<char[]>(kept_pages * page_size + scan_piece);
    return m_memory.get();
}

std::string_view SortedIdLines::page_of(uint32_t offset) {
    if (offset >= m_size) return {};
    const uint32_t number = offset / page_size;
    size_t slot = 0;
    for (size_t i = 0; i < kept_pages; ++i) {
        if (m_kept[i].number == number) {
            slot = i;
            break;
        }
        if (m_kept[i].used < m_kept[slot].used) slot = i;
    }
    KeptPage& page = m_kept[slot];
    char* data = memory() + slot * page_size;
    if (page.number != number) {
        page.number = number;
        page.size = static_cast<uint32_t>(
            m_read_at(uint64_t(number) * page_size, data,
                      std::min<uint32_t>(page_size, m_size - number * page_size)));
    }
    page.used = ++m_uses;
    const uint32_t at = offset - number * page_size;
    return at < page.size ? std::string_view(data + at, page.size - at) : std::string_view();
}

std::optional<uint32_t> SortedIdLines::next_heading(size_t depth, uint32_t from, uint32_t before) {
    before = std::min(before, m_size);
    std::map<uint32_t, uint32_t>& no_heading = m_no_heading[depth];
    const uint32_t scan_from = from;
    auto found = [&](std::optional<uint32_t> heading) {
        // No line at this depth starts in [scan_from, heading or before): a later scan passes
        // over it.
        const uint32_t to = heading.value_or(before);
        if (to - scan_from >= page_size) { // shorter ones are read again at no cost
            uint32_t& known = no_heading[scan_from];
            known = std::max(known, to);
        }
        return heading;
    };
    // The first pages as the halving reads them, the rest of a long block in large pieces that
    // are not kept. The lines of each piece are passed over as the read through passes over
    // nested lines.
    uint32_t at = from, run_from = from;
    std::optional<bool> mid_line; // whether `at` lies inside a line; asked when not known
    bool whole_line = false;      // the last piece cut a line's tabs from its first character
    while (at < before) {
        // A stretch scanned before is passed over at once: the halving of every lookup lands in
        // the largest blocks (Intel's is 390 KB of pci.ids).
        if (auto known = no_heading.upper_bound(at); known != no_heading.begin()) {
            if (--known; at < known->second) {
                at = run_from = known->second;
                mid_line.reset();
                continue;
            }
        }
        if (!mid_line) {
            const std::string_view prev = at > 0 ? page_of(at - 1) : std::string_view("\n");
            mid_line = prev.empty() || prev[0] != '\n';
        }
        std::string_view piece;
        const bool kept = at - run_from < 4 * page_size && !std::exchange(whole_line, false);
        if (kept) {
            piece = page_of(at);
        } else {
            // At least a line's first bytes, also where `before` comes right after its start.
            char* scan = memory() + kept_pages * page_size;
            piece = std::string_view(
                scan, m_read_at(at, scan, std::clamp<size_t>(before - at, 16, scan_piece)));
        }
        if (piece.empty()) return std::nullopt;
        const char* p = piece.data();
        const char* end = p + piece.size();
        if (*mid_line) {
            const void* nl = std::memchr(p, '\n', piece.size());
            p = nl ? static_cast<const char*>(nl) + 1 : end;
        }
        while ((p = next_line_unless_tabbed(p, end, depth + 1)) < end) {
            const uint32_t start = at + static_cast<uint32_t>(p - piece.data());
            if (start >= before) return found(std::nullopt);
            // As the parsers read lines: blank, comment and space-indented lines hold no entry,
            // and the body of a nested line starts after its tabs.
            if (static_cast<size_t>(end - p) <= depth) {
                // The piece cut the line's tabs from what follows them: read on from the line,
                // unless the file itself ends there.
                if (at + piece.size() < m_size && (kept || p > piece.data())) break;
                p = end;
                break;
            }
            const size_t tabs = depth == 0 || *p != '\t' ? 0 : 1;
            if (tabs == depth && p[tabs] != '#' && !is_space(p[tabs])) return found(start);
            const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
            p = nl ? static_cast<const char*>(nl) + 1 : end;
        }
        if (p < end) {
            at += static_cast<uint32_t>(p - piece.data());
            mid_line = false;
            whole_line = true;
            continue;
        }
        at += static_cast<uint32_t>(piece.size());
        mid_line = piece.back() != '\n';
    }
    return found(std::nullopt);
}

uint32_t SortedIdLines::key_of(std::string_view line) {
    line = line.substr(0, line.find('\n'));
    uint32_t id = 0;
    if (take_id(line, 4, id)) return id;
    if (line.size() > 2 && line[0] == 'C' && line[1] == ' ') {
        line.remove_prefix(2);
        if (take_id(line, 2, id)) return class_key(id);
    }
    return 0x20000;
}

uint32_t SortedIdLines::key_at(size_t depth, uint32_t start) {
    char head[8] = {};
    size_t have = 0;
    start += static_cast<uint32_t>(depth); // past the tabs
    while (have < sizeof head) {
        const std::string_view rest = page_of(start + static_cast<uint32_t>(have));
        if (rest.empty()) break;
        const size_t n = std::min(rest.size(), sizeof head - have);
        std::memcpy(head + have, rest.data(), n);
        have += n;
    }
    return key_of(std::string_view(head, have));
}

std::optional<SortedIdLines::Block> SortedIdLines::find(uint32_t key) {
    return find_in(0, key, 0, m_size);
}

std::optional<SortedIdLines::Block> SortedIdLines::find_under(Block parent, uint32_t key) {
    // From inside the parent's line: the first line looked at is the one after it.
    return find_in(1, key, parent.first + 1, parent.second);
}

std::optional<SortedIdLines::Block> SortedIdLines::find_in(size_t depth, uint32_t key, uint32_t lo,
                                                           uint32_t hi) {
    const auto memo = std::make_tuple(depth, lo, key);
    if (auto it = m_found.find(memo); it != m_found.end()) return it->second;
    const uint32_t first_lo = lo, last_hi = hi = std::min(hi, m_size);
    // Halving down to a stretch of a few pages, read line by line from there on.
    constexpr uint32_t scanned_below = page_size;
    while (hi - lo > scanned_below) {
        const uint32_t mid = lo + (hi - lo) / 2;
        const std::optional<uint32_t> heading = next_heading(depth, mid, hi);
        // No line at this depth between mid and hi: the one looked for, if any, starts before.
        if (!heading) {
            hi = mid;
            continue;
        }
        const uint32_t k = key_at(depth, *heading);
        if (k == key) {
            lo = *heading;
            break;
        }
        if (k < key)
            lo = *heading + 1;
        else
            hi = mid;
    }
    std::optional<Block> result;
    for (auto heading = next_heading(depth, lo, hi); heading;
         heading = next_heading(depth, *heading + 1, hi)) {
        const uint32_t k = key_at(depth, *heading);
        if (k < key) continue;
        if (k == key) {
            const std::optional<uint32_t> after = next_heading(depth, *heading + 1, last_hi);
            if (!after || key_at(depth, *after) != key)
                result = Block(*heading, after.value_or(last_hi));
        }
        break;
    }
    m_found.emplace(std::make_tuple(depth, first_lo, key), result);
    return result;
}

std::string SortedIdLines::line(uint32_t start) {
    std::string out;
    for (uint32_t at = start; at < m_size;) {
        const std::string_view rest = page_of(at);
        if (rest.empty()) break;
        const size_t nl = rest.find('\n');
        out.append(rest.substr(0, nl));
        if (nl != std::string_view::npos) break;
        at += static_cast<uint32_t>(rest.size());
    }
    return out;
}

} // namespace hw

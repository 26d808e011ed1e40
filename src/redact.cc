#include "redact.h"

#include "host.h"
#include "util.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace redact {

namespace {

bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_hex(char c) {
    return util::hex_digit(c) >= 0;
}

// Whether `s[pos, pos + len)` stands alone: no letter or digit touches it on either side.
bool stands_alone(std::string_view s, size_t pos, size_t len) {
    return (pos == 0 || !is_alnum(s[pos - 1])) &&
           (pos + len >= s.size() || !is_alnum(s[pos + len]));
}

bool is_uuid_at(std::string_view s, size_t pos) {
    return is_uuid(s.substr(pos, 36)) && stands_alone(s, pos, 36);
}

// Addresses that say nothing about a machine: loopback, unspecified, and IPv4 netmasks
// (which are shaped like addresses but only describe a network's size).
bool is_telling_ipv4(const in_addr& a) {
    uint32_t v = ntohl(a.s_addr);
    if ((v >> 24) == 127) return false;
    uint32_t inverted = ~v;
    bool netmask = (inverted & (inverted + 1)) == 0; // ones, then only zeros
    return !netmask;
}

bool is_telling_ipv6(const in6_addr& a) {
    static const in6_addr any = IN6ADDR_ANY_INIT;
    static const in6_addr loopback = IN6ADDR_LOOPBACK_INIT;
    return std::memcmp(&a, &any, sizeof a) != 0 && std::memcmp(&a, &loopback, sizeof a) != 0;
}

bool is_telling_ipv4_text(const std::string& text) {
    in_addr v4;
    return std::count(text.begin(), text.end(), '.') == 3 &&
           inet_pton(AF_INET, text.c_str(), &v4) == 1 && is_telling_ipv4(v4);
}

} // namespace

const char* address_kind(const std::string& text) {
    if (is_mac(text)) return "mac";
    in6_addr v6;
    if (std::count(text.begin(), text.end(), ':') >= 2 &&
        inet_pton(AF_INET6, text.c_str(), &v6) == 1 && is_telling_ipv6(v6))
        return "ip";
    return is_telling_ipv4_text(text) ? "ip" : nullptr;
}

namespace {

// Directories named after their user. Under /media and /run/media the user's directory holds
// the mounted volumes; a volume mounted right under /media is named after its label instead.
struct HomePrefix {
    const char* prefix;
    bool needs_subdirectory;
};
constexpr HomePrefix home_prefixes[] = {
    {"/home/", false}, {"/var/home/", false}, {"/media/", true}, {"/run/media/", true}};

// Whether `s[pos, pos + len)` is a word of its own: "vm" is not the "vm" of "vmscape", and a
// host "raspberrypi" is not the domain in "raspberrypi.com".
bool whole_word(std::string_view s, size_t pos, size_t len) {
    auto word = [](char c) { return is_alnum(c) || c == '.' || c == '-' || c == '_'; };
    return (pos == 0 || !word(s[pos - 1])) && (pos + len >= s.size() || !word(s[pos + len]));
}

// The length of a USB device's port path starting at `pos` ("1.5.4.2" of "1-1.5.4.2": the bus
// number, a hyphen, the ports), or 0. Behind three hubs it is shaped like an IPv4 address.
size_t usb_port_path_at(std::string_view s, size_t pos) {
    if (pos < 2 || s[pos - 1] != '-') return 0;
    size_t bus = pos - 1;
    while (bus > 0 && s[bus - 1] >= '0' && s[bus - 1] <= '9')
        --bus;
    if (bus == pos - 1 || (bus > 0 && (is_alnum(s[bus - 1]) || s[bus - 1] == '.'))) return 0;
    size_t end = pos;
    while (end < s.size() && ((s[end] >= '0' && s[end] <= '9') || s[end] == '.'))
        ++end;
    return end - pos;
}

// A run of the characters addresses are made of (hex digits, ':' and '.'). Every word start
// inside one run ends where the run ends, so the run is scanned once: "a.a.a.…" or a line of
// colons would otherwise cost the square of its length.
struct Run {
    size_t end = 0;
    size_t hex_end = 0; // after its last hex digit
};

// The length of a UUID, MAC or IP address starting at `pos`, with its kind, or 0. `run`
// carries the run scanned at an earlier position of the same text.
size_t address_at(std::string_view s, size_t pos, Run& run, Found& kind) {
    if (is_uuid_at(s, pos)) {
        kind = Found::uuid;
        return 36;
    }
    if (pos >= run.end) {
        run.end = run.hex_end = pos;
        for (; run.end < s.size() && (is_hex(s[run.end]) || s[run.end] == ':' || s[run.end] == '.');
             ++run.end)
            if (is_hex(s[run.end])) run.hex_end = run.end + 1;
    }
    // A sentence may end right after an address.
    size_t end = std::max(pos, run.hex_end);
    bool alone = end >= s.size() || !is_alnum(s[end]);
    // The longest address is a 20-byte link-layer one.
    if (alone && end - pos <= 59) {
        if (const char* found = address_kind(std::string(s.substr(pos, end - pos)))) {
            kind = std::string_view(found) == "mac" ? Found::mac : Found::ip;
            return end - pos;
        }
    }
    // An IPv4 address joined to others by colons, as in the kernel's
    // "ip=client::gateway:netmask:host:…", or followed by a port. Looked at over the length of
    // one address only, so that a long run stays a single pass.
    size_t v4_end = pos;
    while (v4_end < s.size() && v4_end - pos < 16 &&
           ((s[v4_end] >= '0' && s[v4_end] <= '9') || s[v4_end] == '.'))
        ++v4_end;
    if (v4_end == s.size() || s[v4_end] != ':') return 0;
    if (!is_telling_ipv4_text(std::string(s.substr(pos, v4_end - pos)))) return 0;
    kind = Found::ip;
    return v4_end - pos;
}

size_t word_at(std::string_view s, size_t pos, const std::vector<std::string>& words) {
    for (const auto& word : words)
        if (word[0] == s[pos] && s.compare(pos, word.size(), word) == 0 &&
            whole_word(s, pos, word.size()))
            return word.size();
    return 0;
}

} // namespace

std::string
replace_identities(std::string_view s, const std::vector<std::string>& words, bool addresses,
                   const std::function<std::string(std::string_view value, Found kind)>& replace) {
    std::string out;
    Run run;
    size_t i = 0;
    while (i < s.size()) {
        if (size_t path = usb_port_path_at(s, i)) {
            out.append(s.substr(i, path));
            i += path;
            continue;
        }
        size_t used = 0;
        Found kind = Found::word;
        if (i == 0 || !is_alnum(s[i - 1])) {
            bool may_start = is_hex(s[i]) || (s[i] == ':' && i + 1 < s.size() && s[i + 1] == ':');
            if ((used = mac_named_interface_at(s, i)))
                kind = Found::mac_named_interface;
            else if (may_start && addresses)
                used = address_at(s, i, run, kind);
            if (!used) {
                used = word_at(s, i, words);
                kind = Found::word;
            }
        }
        if (used) {
            out += replace(s.substr(i, used), kind);
            i += used;
        } else {
            out += s[i++];
        }
    }
    return out;
}

namespace {

class Redactor {
public:
    explicit Redactor(const hw::Node& tree) {
        m_labels = {
            {tr("f.serial"), "serial"},
            {tr("f.serial_text"), "serial"},
            {tr("f.asset_tag"), "serial"},
            {tr("f.wwid"), "serial"},
            {tr("f.uuid"), "uuid"},
            {tr("f.mac"), "mac"},
            {tr("f.mac_permanent"), "mac"},
            {tr("f.hostname"), "host"},
            // An input device's unique id is its USB serial number, or its Bluetooth address.
            {tr("f.unique_id"), "serial"},
        };
        // Firmware and drivers number their versions like IPv4 addresses ("1.15.0.0").
        for (const char* key : {"f.version", "f.version_id", "f.ec_version", "f.usb_version"})
            m_version_labels.insert(tr(key));
        std::string host = util::trim(host::kernel_name().nodename);
        if (host != "(none)" && util::lower(host) != "localhost") remember(host, "host");
        if (std::string user = host::user_name(); user != "root") remember(user, "user");
        learn(tree);
        // The longest first, so that a host "alpha-2" is not cut short by a user "alpha".
        std::sort(m_literals.begin(), m_literals.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    }

    std::unique_ptr<hw::Node> copy(const hw::Node& node) {
        auto out = std::make_unique<hw::Node>();
        // Node ids are dotted paths of names; only a name made from a MAC address is hidden
        // there, so that ids stay as stable as the tree they name.
        out->id = replace_mac_named_interfaces(
            node.id, [this](std::string_view name) { return mac_name_placeholder(name); });
        out->title = rewrite(node.title);
        out->icon = node.icon;
        // The distribution's own words are the same on every install: a host named "debian",
        // as the installer names it, is not the "debian" of ID=debian.
        const bool os = node.id == "os";
        out->summary = os ? node.summary : rewrite(node.summary);
        for (const auto& section : node.sections) {
            hw::Section s;
            s.title = rewrite(section.title);
            const bool distribution = os && section.title == tr("sec.distribution");
            for (const auto& item : section.items) {
                hw::Item i = item;
                i.name = rewrite(item.name);
                const char* kind = kind_of(item);
                i.value = kind           ? placeholder(item.value, kind)
                          : distribution ? item.value
                                         : rewrite(item.value, !m_version_labels.count(item.name));
                i.note = rewrite(item.note);
                s.items.push_back(std::move(i));
            }
            out->sections.push_back(std::move(s));
        }
        for (const auto& child : node.children)
            out->children.push_back(copy(*child));
        return out;
    }

private:
    // The kind of a row whose whole value identifies the machine, or null.
    const char* kind_of(const hw::Item& item) const {
        if (item.value.empty()) return nullptr;
        auto it = m_labels.find(item.name);
        if (it == m_labels.end()) return nullptr;
        if (std::string_view(it->second) == "serial") {
            if (is_bus_address(item.value)) return nullptr;
            if (is_mac(item.value)) return "mac";
        }
        return it->second;
    }

    std::string placeholder(const std::string& value, const char* kind) {
        auto it = m_placeholders.find(value);
        if (it != m_placeholders.end()) return it->second;
        std::string p = "<" + std::string(kind) + "-" + std::to_string(++m_counts[kind]) + ">";
        m_placeholders.emplace(value, p);
        return p;
    }

    // A value that is also looked for inside other texts. Very short ones are only replaced
    // in their own row: a serial "01" or a host "pc" would wipe out unrelated numbers and
    // words elsewhere.
    void remember(const std::string& value, const char* kind) {
        if (value.empty()) return;
        placeholder(value, kind);
        size_t shortest = std::string_view(kind) == "serial" ? 6 : 2;
        // Only whole characters: a host name of stray bytes could otherwise match the first
        // bytes of a character and cut it in two.
        // A value met again (a user in every path of a long tree) is looked for once.
        if (value.size() >= shortest && util::valid_utf8(value) == value &&
            m_literal_set.insert(value).second)
            m_literals.push_back(value);
    }

    // Numbers the placeholders in the order of the tree, so that the text and the JSON report
    // of one tree agree, and finds the values that are then looked for everywhere.
    void learn(const hw::Node& node) {
        for (const auto* text : {&node.title, &node.summary})
            learn_users(*text);
        for (const auto& section : node.sections)
            for (const auto& item : section.items) {
                if (const char* kind = kind_of(item)) remember(item.value, kind);
                for (const auto* text : {&item.name, &item.value, &item.note})
                    learn_users(*text);
            }
        for (const auto& child : node.children)
            learn(*child);
    }

    void learn_users(std::string_view s) {
        for (const auto& user : home_users(s))
            remember(user, "user");
    }

    // The name keeps its type, and the address the placeholder it has in its own row.
    std::string mac_name_placeholder(std::string_view name) {
        std::string mac;
        for (size_t i = 3; i < name.size(); i += 2)
            mac.append(mac.empty() ? "" : ":").append(name.substr(i, 2));
        return std::string(name.substr(0, 3)) + placeholder(mac, "mac");
    }

    std::string rewrite(const std::string& text, bool addresses = true) {
        return replace_identities(text, m_literals, addresses,
                                  [this](std::string_view value, Found kind) {
                                      switch (kind) {
                                      case Found::uuid:
                                          return placeholder(std::string(value), "uuid");
                                      case Found::mac:
                                          return placeholder(std::string(value), "mac");
                                      case Found::ip:
                                          return placeholder(std::string(value), "ip");
                                      case Found::mac_named_interface:
                                          return mac_name_placeholder(value);
                                      case Found::word:
                                          break;
                                      }
                                      return m_placeholders.at(std::string(value));
                                  });
    }

    std::map<std::string, const char*> m_labels;
    std::set<std::string> m_version_labels;
    std::map<std::string, std::string> m_placeholders;
    std::map<std::string, int> m_counts;
    std::vector<std::string> m_literals;
    std::set<std::string> m_literal_set;
};

} // namespace

bool is_mac(std::string_view s) {
    if (s.size() % 3 != 2) return false;
    size_t bytes = (s.size() + 1) / 3;
    if (bytes != 6 && bytes != 8 && bytes != 20) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i % 3 == 2 ? s[i] != ':' : !is_hex(s[i])) return false;
    return true;
}

bool is_uuid(std::string_view s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i == 8 || i == 13 || i == 18 || i == 23 ? s[i] != '-' : !is_hex(s[i])) return false;
    return true;
}

bool is_bus_address(std::string_view s) {
    if (s.size() != 12) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i == 4 || i == 7 ? s[i] != ':' : i == 10 ? s[i] != '.' : !is_hex(s[i])) return false;
    return true;
}

size_t mac_named_interface_at(std::string_view s, size_t pos) {
    static constexpr std::string_view types[] = {"en", "wl", "ww", "ib", "sl"};
    constexpr size_t length = 3 + 12;
    if (s.size() - pos < length || s[pos + 2] != 'x') return 0;
    if (std::find(std::begin(types), std::end(types), s.substr(pos, 2)) == std::end(types))
        return 0;
    for (size_t i = pos + 3; i < pos + length; ++i)
        if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return 0;
    return pos + length == s.size() || !is_alnum(s[pos + length]) ? length : 0;
}

std::string
replace_mac_named_interfaces(std::string_view s,
                             const std::function<std::string(std::string_view)>& replacement) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        size_t n = i == 0 || !is_alnum(s[i - 1]) ? mac_named_interface_at(s, i) : 0;
        if (n) {
            out += replacement(s.substr(i, n));
            i += n;
        } else {
            out += s[i++];
        }
    }
    return out;
}

std::vector<std::string> home_users(std::string_view s) {
    std::vector<std::string> users;
    for (const auto& [prefix, needs_subdirectory] : home_prefixes) {
        for (size_t at = s.find(prefix); at != std::string_view::npos;
             at = s.find(prefix, at + 1)) {
            // "/run/media/" also contains "/media/": that one is no user's directory.
            if (at > 0 && is_alnum(s[at - 1])) continue;
            size_t start = at + std::strlen(prefix);
            size_t end = s.find_first_of("/ \t\n()[],;'\"", start);
            if (end == std::string_view::npos) end = s.size();
            if (needs_subdirectory && (end == s.size() || s[end] != '/')) continue;
            std::string user(s.substr(start, end - start));
            if (!user.empty() && user != "root") users.push_back(std::move(user));
        }
    }
    return users;
}

std::unique_ptr<hw::Node> redacted_copy(const hw::Node& tree) {
    Redactor redactor(tree);
    return redactor.copy(tree);
}

} // namespace redact

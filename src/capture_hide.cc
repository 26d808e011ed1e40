// What a shared capture must not give away besides serial numbers: MAC and IP addresses, the
// host name and the users' names. Each value is replaced by a stand-in of its own shape, the
// same value by the same stand-in all through the archive and different values by different
// ones, as the redacted report numbers its placeholders: a replay can still tell two
// interfaces apart and see which address belongs to which.
#include "capture.h"

#include "redact.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <map>
#include <set>

namespace capture {

namespace {

// Files that are the same on every machine that has them: the identifier databases and the
// distribution's own description, whose "ID=debian" is no host of that name.
bool is_public(const std::string& path) {
    return path.ends_with(".ids") || path.ends_with("/os-release");
}

// Files that name addresses in running text: the kernel's command line ("ip=…", "nfsroot=…")
// and the mount tables (network file systems' servers). Elsewhere a dotted number is a
// version or a USB port path, which must stay as it is.
bool names_addresses(const std::string& path) {
    return path == "/proc/cmdline" || path == "/run/mount/utab" || path.starts_with("/proc/net/") ||
           (path.starts_with("/proc/") &&
            (path.ends_with("/mountinfo") || path.ends_with("/mounts")));
}

// An IP address in one form of its many ("fe80::0:1" is "fe80::1"), a MAC address in lower
// case; anything else as it is.
std::string canonical(const std::string& text) {
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return std::string(text);
    char out[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1 &&
        inet_ntop(AF_INET6, bytes, out, sizeof out))
        return out;
    return util::lower(text);
}

class Hider {
public:
    Hider(const Tree& tree, const host::Facts& facts, const std::string& user) {
        if (facts.kernel) {
            std::string host = util::trim(facts.kernel->nodename);
            if (!host.empty() && host != "(none)" && util::lower(host) != "localhost")
                m_words.emplace(host, "host");
        }
        learn_user(user);
        // A stand-in must not be taken for a real address of the machine, which has one of
        // its own.
        if (facts.addresses)
            for (const auto& a : *facts.addresses)
                for (const auto* value : {&a.address, &a.broadcast})
                    m_real.insert(canonical(*value));
        for (const auto& [name, address] : facts.permanent_addresses)
            m_real.insert(canonical(address));
        for (const auto& [path, entry] : tree)
            if (entry.kind == Entry::Kind::file && !is_public(path) && !is_binary(entry.content)) {
                if (std::string text = util::trim(entry.content); redact::is_mac(text))
                    m_real.insert(canonical(text));
                for (const auto& name : redact::home_users(entry.content))
                    learn_user(name);
            }
        for (const auto& [mount, usage] : facts.fs_usage)
            for (const auto& name : redact::home_users(mount))
                learn_user(name);
        for (const auto& [name, value] : facts.environment)
            for (const auto& found : redact::home_users(value))
                learn_user(found);
        for (const auto& [word, stand_in] : m_words)
            m_literals.push_back(word);
        // The longest first, so that a host "alpha-2" is not cut short by a user "alpha".
        std::sort(m_literals.begin(), m_literals.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    }

    void hide(Tree& tree, host::Facts& facts) {
        Tree out;
        for (auto& [path, entry] : tree) {
            if (entry.kind == Entry::Kind::file && !is_public(path) && !is_binary(entry.content)) {
                std::string text = util::trim(entry.content);
                if (redact::is_mac(text))
                    entry.content = whole_mac(entry.content, text);
                else
                    entry.content = rewrite(entry.content, names_addresses(path));
            }
            entry.target = in_path(entry.target);
            out.emplace(in_path(path), std::move(entry));
        }
        tree = std::move(out);

        if (facts.kernel) facts.kernel->nodename = rewrite(facts.kernel->nodename, false);
        if (facts.addresses)
            for (auto& a : *facts.addresses) {
                a.address = rewrite(a.address, true);
                a.broadcast = rewrite(a.broadcast, true);
            }
        for (auto& [name, address] : facts.permanent_addresses)
            address = rewrite(address, true);
        std::map<std::string, host::FsUsage> usage;
        for (auto& [mount, figures] : facts.fs_usage)
            usage.emplace(in_path(mount), figures);
        facts.fs_usage = std::move(usage);
        for (auto& [name, value] : facts.environment)
            value = rewrite(value, false);
    }

private:
    static bool is_binary(const std::string& s) { return s.find('\0') != std::string::npos; }

    void learn_user(const std::string& name) {
        if (name.empty() || name == "root") return;
        // A user named like the host keeps the host's stand-in, in paths too.
        if (m_user_names.insert(name).second && !m_words.count(name))
            m_words.emplace(name, "user" + std::to_string(++m_users));
    }

    // A file that holds one address, as /sys/class/net/*/address does.
    std::string whole_mac(const std::string& content, const std::string& text) {
        return content.substr(0, content.find(text)) + mac(text) +
               content.substr(content.find(text) + text.size());
    }

    // Locally administered addresses of the same length, numbered in the order met:
    // 02:00:00:00:00:01. Zeros and the broadcast address tell nothing and stay.
    std::string mac(const std::string& text) {
        if (text.find_first_not_of("0:") == std::string::npos ||
            text.find_first_not_of("fF:") == std::string::npos)
            return text;
        std::string key = util::lower(text);
        auto it = m_macs.find(key);
        if (it != m_macs.end()) return it->second;
        size_t bytes = (text.size() + 1) / 3;
        std::string out;
        do {
            unsigned long long number = ++m_mac_count;
            out.clear();
            for (size_t i = 0; i < bytes; ++i) {
                size_t from_end = bytes - 1 - i;
                unsigned byte = from_end < 8 ? (number >> (8 * from_end)) & 0xFF : 0;
                if (i == 0) byte |= 0x02;
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x", byte);
                out.append(i ? ":" : "").append(hex);
            }
        } while (m_real.count(out));
        return m_macs.emplace(key, out).first->second;
    }

    // Addresses of the ranges kept for documentation: 192.0.2.1, 2001:db8::1; a link-local
    // one stays link-local (fe80::1), as its scope is shown.
    std::string ip(const std::string& text) {
        unsigned char bytes[16] = {};
        bool v6 = text.find(':') != std::string::npos;
        if (inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return text;
        std::string key(reinterpret_cast<const char*>(bytes), v6 ? 16 : 4);
        auto it = m_ips.find(key);
        if (it != m_ips.end()) return it->second;
        std::string out;
        do
            out = v6 ? v6_stand_in(bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80) : v4_stand_in();
        while (m_real.count(canonical(out)));
        return m_ips.emplace(key, out).first->second;
    }

    std::string v4_stand_in() {
        static constexpr const char* ranges[] = {"192.0.2", "198.51.100", "203.0.113"};
        unsigned n = ++m_v4_count;
        char out[32];
        if (n <= 3 * 254)
            std::snprintf(out, sizeof out, "%s.%u", ranges[(n - 1) / 254], (n - 1) % 254 + 1);
        else
            std::snprintf(out, sizeof out, "10.%u.%u.%u", (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                          n & 0xFF);
        return out;
    }

    std::string v6_stand_in(bool link_local) {
        char out[32];
        std::snprintf(out, sizeof out, "%s::%x", link_local ? "fe80" : "2001:db8", ++m_v6_count);
        return out;
    }

    std::string rewrite(const std::string& text, bool addresses) {
        return redact::replace_identities(text, m_literals, addresses,
                                          [this](std::string_view found, redact::Found kind) {
                                              std::string value(found);
                                              switch (kind) {
                                              case redact::Found::uuid:
                                                  return zeros(std::move(value));
                                              case redact::Found::mac:
                                                  return mac(value);
                                              case redact::Found::ip:
                                                  return ip(value);
                                              // Renamed with the files and links that bear them,
                                              // once these are hidden.
                                              case redact::Found::mac_named_interface:
                                                  return value;
                                              case redact::Found::word:
                                                  break;
                                              }
                                              return m_words.at(value);
                                          });
    }

    // Only the user's own directory is renamed in a path: a host or user named like a
    // directory of /sys ("input", "net") must not move it.
    std::string in_path(const std::string& path) const {
        std::string out = path;
        for (const auto& name : redact::home_users(path)) {
            if (!m_user_names.count(name)) continue;
            for (size_t at = out.find("/" + name); at != std::string::npos;
                 at = out.find("/" + name, at + 1)) {
                size_t end = at + 1 + name.size();
                bool in_home = (at >= 5 && out.compare(at - 5, 5, "/home") == 0) ||
                               (at >= 6 && out.compare(at - 6, 6, "/media") == 0);
                if (in_home && (end == out.size() || out[end] == '/')) {
                    out.replace(at + 1, name.size(), m_words.at(name));
                    break;
                }
            }
        }
        return out;
    }

    std::map<std::string, std::string> m_words; // host and user names -> stand-ins
    std::set<std::string> m_user_names;
    std::vector<std::string> m_literals;
    std::map<std::string, std::string> m_macs, m_ips;
    std::set<std::string> m_real; // the addresses met, canonical
    unsigned m_users = 0, m_v4_count = 0, m_v6_count = 0;
    unsigned long long m_mac_count = 0;
};

} // namespace

void hide_identities(Tree& tree, host::Facts& facts, const std::string& user) {
    Hider(tree, facts, user).hide(tree, facts);
}

} // namespace capture

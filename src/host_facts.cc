// The facts file of a capture: what the system calls of host.h answered on the captured
// machine. It comes from outside (anyone may hand over a capture), so reading it never
// trusts a field: a line that does not parse is skipped.
#include "host.h"

#include "util.h"

#include <mutex>
#include <sys/socket.h>

namespace host {

namespace {

constexpr std::string_view magic = "quarvel-capture 1";

std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

void line(std::string& out, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (auto f : fields) {
        if (!first) out += '\t';
        out += escape(f);
        first = false;
    }
    out += '\n';
}

std::string num(uint64_t v) {
    return std::to_string(v);
}

// A whole field of decimal digits, or nothing.
std::optional<uint64_t> number(const std::string& s) {
    if (!util::all_digits(s) || s.size() > 19) return std::nullopt;
    return util::to_u64(s, 0);
}

} // namespace

std::string format_facts(const Facts& f) {
    std::string out(magic);
    out += '\n';
    if (f.kernel) {
        const KernelName& k = *f.kernel;
        line(out, {"kernel", k.sysname, k.nodename, k.release, k.version, k.machine});
    }
    if (f.page_size) line(out, {"page_size", num(static_cast<uint64_t>(*f.page_size))});
    if (f.processors_online)
        line(out, {"processors_online", num(static_cast<uint64_t>(*f.processors_online))});
    if (f.effective_uid) line(out, {"effective_uid", num(*f.effective_uid)});
    if (f.addresses) {
        line(out, {"addresses"}); // also when there are none: the list was asked for
        for (const auto& a : *f.addresses)
            line(out, {"address", a.interface, a.family == AF_INET6 ? "6" : "4", a.address,
                       a.netmask, num(a.prefix_len), a.broadcast});
    }
    for (const auto& [name, address] : f.permanent_addresses)
        line(out, {"permanent_address", name, address});
    for (const auto& [mount, u] : f.fs_usage)
        line(out, {"fs_usage", mount, num(u.total_bytes), num(u.free_bytes), num(u.available_bytes),
                   num(u.total_inodes), num(u.free_inodes)});
    for (const auto& [name, value] : f.environment)
        line(out, {"environment", name, value});
    if (f.pci_ids) line(out, {"ids", "pci.ids", *f.pci_ids});
    if (f.usb_ids) line(out, {"ids", "usb.ids", *f.usb_ids});
    return out;
}

std::optional<Facts> parse_facts(std::string_view text) {
    auto lines = util::split(text, '\n');
    if (lines.empty() || lines[0] != magic) return std::nullopt;
    Facts f;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> v;
        for (const auto& field : util::split(lines[i], '\t'))
            v.push_back(unescape(field));
        const std::string& key = v[0];
        if (key == "kernel" && v.size() == 6) {
            f.kernel = KernelName{v[1], v[2], v[3], v[4], v[5]};
        } else if ((key == "page_size" || key == "processors_online") && v.size() == 2) {
            auto n = number(v[1]);
            if (n && *n > 0 && *n <= 1u << 30)
                (key == "page_size" ? f.page_size : f.processors_online) = static_cast<long>(*n);
        } else if (key == "effective_uid" && v.size() == 2) {
            if (auto n = number(v[1]); n && *n <= UINT32_MAX)
                f.effective_uid = static_cast<unsigned>(*n);
        } else if (key == "addresses" && v.size() == 1) {
            if (!f.addresses) f.addresses.emplace();
        } else if (key == "address" && v.size() == 7 && (v[2] == "4" || v[2] == "6")) {
            auto prefix = number(v[5]);
            if (!prefix || *prefix > 128) continue;
            if (!f.addresses) f.addresses.emplace();
            f.addresses->push_back({v[1], v[2] == "6" ? AF_INET6 : AF_INET, v[3], v[4],
                                    static_cast<unsigned>(*prefix), v[6]});
        } else if (key == "permanent_address" && v.size() == 3) {
            f.permanent_addresses[v[1]] = v[2];
        } else if (key == "fs_usage" && v.size() == 7) {
            FsUsage u;
            uint64_t* fields[] = {&u.total_bytes, &u.free_bytes, &u.available_bytes,
                                  &u.total_inodes, &u.free_inodes};
            bool ok = true;
            for (size_t k = 0; k < 5 && ok; ++k) {
                auto n = number(v[k + 2]);
                ok = n.has_value();
                if (ok) *fields[k] = *n;
            }
            if (ok) f.fs_usage[v[1]] = u;
        } else if (key == "environment" && v.size() == 3) {
            f.environment[v[1]] = v[2];
        } else if (key == "ids" && v.size() == 3) {
            if (v[1] == "pci.ids") f.pci_ids = v[2];
            if (v[1] == "usb.ids") f.usb_ids = v[2];
        }
    }
    return f;
}

const Facts* captured_facts() {
    // Tests move QUARVEL_SYSROOT between cases, so the file is read again for a new root.
    static std::mutex mutex;
    static std::string loaded_for;
    static std::optional<Facts> facts;
    std::string root = util::sysroot();
    if (root.empty()) return nullptr;
    // The window's first collection runs beside its building, which may ask too.
    std::lock_guard<std::mutex> lock(mutex);
    if (root != loaded_for) {
        loaded_for = root;
        facts = parse_facts(util::read_file_raw(facts_path));
    }
    return facts ? &*facts : nullptr;
}

} // namespace host

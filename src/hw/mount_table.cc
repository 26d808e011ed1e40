#include "hw/mount_table.h"

#include "util.h"

#include <algorithm>
#include <iterator>

namespace hw {

namespace {

// The kernel separates fields by exactly one space and escapes blanks inside names, so an
// empty field (a mount whose source is empty text) shows as two spaces in a row and must
// stay a field of its own.
std::vector<std::string> fields_of(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return util::split(line, ' ');
}

bool is_devno(const std::string& s) {
    size_t colon = s.find(':');
    if (colon == std::string::npos) return false;
    std::string_view v = s;
    return util::all_digits(v.substr(0, colon)) && util::all_digits(v.substr(colon + 1));
}

// findmnt's view: what the mount itself sets, then what the file system adds.
std::string merge_options(const std::string& mount_opts, const std::string& super_opts) {
    std::vector<std::string> merged = util::split(mount_opts, ',');
    for (auto& opt : util::split(super_opts, ',')) {
        if (opt.empty() || opt == "rw" || opt == "ro") continue;
        bool seen = false;
        for (auto& m : merged)
            seen = seen || m == opt;
        if (!seen) merged.push_back(opt);
    }
    std::vector<std::string> kept;
    for (auto& m : merged)
        if (!m.empty()) kept.push_back(m);
    return util::join(kept, ",");
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

} // namespace

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
    std::vector<MountEntry> out;
    for (auto line : lines_of(text)) {
        // id parent major:minor root target options [optional…] - fstype source superoptions
        auto f = fields_of(line);
        if (f.size() < 9 || !is_devno(f[2])) continue;
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-")
            ++dash;
        if (dash + 1 >= f.size()) continue;
        MountEntry m;
        m.dev = f[2];
        m.root = util::unescape_octal(f[3]);
        m.target = util::unescape_octal(f[4]);
        m.fstype = util::unescape_octal(f[dash + 1]);
        std::string super_opts;
        if (dash + 3 < f.size()) {
            m.source = util::unescape_octal(f[dash + 2]);
            super_opts = f[dash + 3];
        } else if (dash + 2 < f.size()) {
            m.source = util::unescape_octal(f[dash + 2]);
        }
        m.options = merge_options(f[5], super_opts);
        if (m.target.empty() || m.target[0] != '/') continue;
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<MountEntry> parse_mounts(std::string_view text) {
    std::vector<MountEntry> out;
    for (auto line : lines_of(text)) {
        auto f = fields_of(line);
        if (f.size() < 4) continue;
        MountEntry m;
        m.source = util::unescape_octal(f[0]);
        m.target = util::unescape_octal(f[1]);
        m.fstype = util::unescape_octal(f[2]);
        m.options = f[3];
        if (m.target.empty() || m.target[0] != '/') continue;
        out.push_back(std::move(m));
    }
    return out;
}

bool mount_is_of(const MountEntry& m, const std::string& name, const std::string& dev) {
    if (name.empty()) return false;
    if (!m.dev.empty() && !dev.empty() && m.dev == dev) return true;
    std::string node = "/dev/" + name;
    return m.resolved_source == node || m.source == node;
}

MountIndex::MountIndex(const std::vector<MountEntry>& mounts) {
    for (size_t i = 0; i < mounts.size(); ++i) {
        const MountEntry& m = mounts[i];
        if (!m.dev.empty()) m_by_dev[m.dev].push_back(i);
        if (!m.source.empty()) m_by_path[m.source].push_back(i);
        if (!m.resolved_source.empty() && m.resolved_source != m.source)
            m_by_path[m.resolved_source].push_back(i);
    }
}

std::vector<size_t> MountIndex::of(const std::string& name, const std::string& dev) const {
    if (name.empty()) return {};
    static const std::vector<size_t> none;
    auto found = [](const auto& map, const std::string& key) -> const std::vector<size_t>& {
        auto it = map.find(key);
        return it == map.end() ? none : it->second;
    };
    const std::vector<size_t>& by_dev = dev.empty() ? none : found(m_by_dev, dev);
    const std::vector<size_t>& by_path = found(m_by_path, "/dev/" + name);
    // Both are in table order; a mount found both ways counts once.
    std::vector<size_t> out;
    std::set_union(by_dev.begin(), by_dev.end(), by_path.begin(), by_path.end(),
                   std::back_inserter(out));
    return out;
}

bool usage_worth_asking(std::string_view fstype) {
    static const char* const remote[] = {"nfs",    "nfs4",  "cifs",  "smb3",      "smbfs",
                                         "ncpfs",  "afs",   "ceph",  "glusterfs", "9p",
                                         "autofs", "davfs", "sshfs", "lustre",    "gfs2"};
    // The kernel's own views, which hold no blocks: a dozen of them on every machine.
    static const char* const sizeless[] = {
        "proc",   "sysfs", "devpts",   "cgroup",  "cgroup2", "securityfs",  "debugfs", "tracefs",
        "pstore", "bpf",   "configfs", "fusectl", "mqueue",  "binfmt_misc", "nsfs"};
    auto listed = [&](const auto& names) {
        return std::find(std::begin(names), std::end(names), fstype) != std::end(names);
    };
    return !listed(remote) && !listed(sizeless) && !util::starts_with(fstype, "fuse");
}

} // namespace hw

// The kernel's list of mounted file systems, as plain records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hw {

struct MountEntry {
    std::string source; // what was mounted: "/dev/nvme0n1p2", "/dev/mapper/vg-root", "tmpfs"
    std::string target; // mount point, escapes decoded
    std::string fstype;
    std::string options;    // per-mount options, then the file system's own that differ
    std::string root = "/"; // directory of the file system seen at target; "/" unless a bind mount
    std::string dev;        // "major:minor" of the file system; empty when the table has none
    // `source` with symbolic links followed (/dev/mapper/vg-root → /dev/dm-1); filled by the
    // caller, which knows where the device nodes live.
    std::string resolved_source;
};

// /proc/<pid>/mountinfo. Lines that do not have the documented shape are skipped.
std::vector<MountEntry> parse_mountinfo(std::string_view text);
// The older /proc/<pid>/mounts ("source target type options 0 0"), without device numbers.
std::vector<MountEntry> parse_mounts(std::string_view text);

// True when `m` is a mount of the block device `name` whose "dev" attribute reads `dev`.
// The device numbers decide first: LVM, LUKS and the kernel's own "/dev/root" name a path
// that is not "/dev/" + name. File systems with anonymous numbers (btrfs) are found by their
// source path instead.
bool mount_is_of(const MountEntry& m, const std::string& name, const std::string& dev);

// The mounts of a block device found by its numbers and its node's path instead of by asking
// mount_is_of of every mount: a storage server has about as many mounts as disks, and each
// disk and partition is asked about.
class MountIndex {
public:
    MountIndex() = default;
    explicit MountIndex(const std::vector<MountEntry>& mounts);
    // The positions in the table of the mounts that mount_is_of holds for, in table order.
    std::vector<size_t> of(const std::string& name, const std::string& dev) const;

private:
    std::unordered_map<std::string, std::vector<size_t>> m_by_dev;  // "major:minor"
    std::unordered_map<std::string, std::vector<size_t>> m_by_path; // source, resolved source
};

// Whether asking a mount's usage (statvfs) can tell a size and cannot hang: network file
// systems wait for a server that may be gone, FUSE for a daemon that may be stuck, autofs
// mounts on demand, and the kernel's views (proc, sysfs, cgroup…) have no size to tell.
bool usage_worth_asking(std::string_view fstype);

} // namespace hw

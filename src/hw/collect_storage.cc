// The storage branch: every block device of /sys/block with its partitions, the mounted file
// systems, and the disk card records the window draws.
#include "host.h"
#include "hw/block_bus.h"
#include "hw/block_stat.h"
#include "hw/hardware.h"
#include "hw/memory_parsers.h"
#include "hw/mount_table.h"
#include "hw/sysfs_values.h"
#include "read_beside.h"
#include "settings.h"
#include "util.h"

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <optional>

namespace hw {

namespace {

// Disks, their holders, RAID sets and NVMe controllers show some of the same files (a mapper's
// name, a model, a state): attributes are read through read_text_shared, once per collection.
const std::string block_root = "/sys/block";
const char* const icon_storage = "\U0001F4BD"; // 💽
const char* const icon_rotating = "\U0001F4BD";
const char* const icon_flash = "\u26A1";           // ⚡
const char* const icon_loops = "\U0001F4E6";       // 📦
const char* const icon_filesystems = "\U0001F4C1"; // 📁
const char* const icon_partition = "\U0001F5C2";   // 🗂
const char* const separator = "  \u00B7  ";        // "  ·  "
constexpr uint64_t sector_bytes = 512;
// An sr drive without a disc reports this capacity. A real disc of 2048-byte blocks always
// has a multiple of four 512-byte sectors, so the number cannot be a medium's size.
constexpr uint64_t empty_optical_sectors = 2097151;

// Only the kernel's own "0" and "1" are answers; anything else gives no row.
void add_flag(Section& s, const std::string& label, const std::string& path,
              const std::string& note) {
    std::string v = util::read_file(path);
    if (v == "0" || v == "1") s.add(label, yesno(v == "1"), note);
}

// Bytes of a count of 512-byte sectors; nothing for text that is no count, or a count that
// no device can have (its bytes would not fit 64 bits).
std::optional<uint64_t> sectors_to_bytes(const std::string& text) {
    auto sectors = strict_u64(text);
    if (!sectors || *sectors > std::numeric_limits<uint64_t>::max() / sector_bytes)
        return std::nullopt;
    return *sectors * sector_bytes;
}

std::string join_parts(const std::vector<std::string>& parts) {
    std::vector<std::string> kept;
    for (const auto& p : parts)
        if (!p.empty()) kept.push_back(p);
    return util::join(kept, separator);
}

// Used space of the file system mounted at a point, each point asked once. Network and
// automount file systems are never asked: statvfs on a dead server or an automount point
// blocks or mounts, and a hardware report must do neither.
class UsageCache {
public:
    std::optional<host::FsUsage> get(const MountEntry& m) {
        // The devices of a large machine are read on two threads.
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_cache.find(m.target);
        if (it != m_cache.end()) return it->second;
        std::optional<host::FsUsage> u;
        if (usage_worth_asking(m.fstype)) u = host::fs_usage(m.target);
        if (u && u->total_bytes == 0) u.reset();
        m_cache.emplace(m.target, u);
        return u;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::optional<host::FsUsage>> m_cache;
};

struct Tables {
    std::vector<MountEntry> mounts;
    MountIndex mount_index;
    std::vector<SwapArea> swaps;
    std::vector<std::string> swap_resolved; // each swap's path with links followed
    UsageCache usage;
};

std::vector<MountEntry> read_mounts() {
    // mountinfo rather than mounts: only it carries each file system's device numbers, which
    // tie /dev/root, /dev/mapper/… and /dev/disk/by-… sources to their block device.
    auto mounts = parse_mountinfo(util::read_file_raw("/proc/self/mountinfo"));
    if (mounts.empty()) mounts = parse_mounts(util::read_file_raw("/proc/self/mounts"));
    for (auto& m : mounts)
        if (util::starts_with(m.source, "/dev/")) m.resolved_source = util::resolve_path(m.source);
    return mounts;
}

std::vector<const MountEntry*> mounts_for(const Tables& t, const std::string& name,
                                          const std::string& dev) {
    std::vector<const MountEntry*> out;
    for (size_t i : t.mount_index.of(name, dev))
        out.push_back(&t.mounts[i]);
    // The file system's own root first: a bind mount of a subdirectory is a second view of
    // it, not where it lives.
    std::stable_partition(out.begin(), out.end(),
                          [](const MountEntry* m) { return m->root == "/"; });
    return out;
}

std::vector<const SwapArea*> swaps_for(const Tables& t, const std::string& name) {
    std::vector<const SwapArea*> out;
    std::string node = "/dev/" + name;
    for (size_t i = 0; i < t.swaps.size(); ++i)
        if (t.swaps[i].name == node || t.swap_resolved[i] == node) out.push_back(&t.swaps[i]);
    return out;
}

// A free count above the total means none in use, never a wrapped-around number.
uint64_t used_bytes(const host::FsUsage& u) {
    return u.total_bytes > u.free_bytes ? u.total_bytes - u.free_bytes : 0;
}

std::string used_with_percent(uint64_t used, uint64_t total) {
    std::string v = util::fmt_bytes(used);
    if (total > 0)
        v += "  (" +
             util::fmt_percent(static_cast<double>(used) * 100.0 / static_cast<double>(total), 1) +
             ")";
    return v;
}

void add_usage(Section& s, const host::FsUsage& u) {
    s.add(tr("f.capacity"), util::fmt_bytes(u.total_bytes));
    s.add(tr("f.used"), used_with_percent(used_bytes(u), u.total_bytes));
    s.add(tr("f.available"), util::fmt_bytes(u.available_bytes));
    if (u.total_inodes > 0) {
        uint64_t used_inodes = u.total_inodes > u.free_inodes ? u.total_inodes - u.free_inodes : 0;
        s.add(tr("f.inodes"), util::fmt_int(used_inodes) + " / " + util::fmt_int(u.total_inodes));
    }
}

// One "File system" section per mount and per swap area of the device; the first mount
// also gets the usage rows. Fills the record's mount fields from the first one.
void add_filesystems(Node& node, Tables& t, const std::string& name, const std::string& dev,
                     PartitionVisual& record) {
    bool first = true;
    for (const MountEntry* m : mounts_for(t, name, dev)) {
        Section s{tr("sec.filesystem"), {}};
        s.add(tr("f.mountpoint"), util::printable(m->target));
        s.add(tr("f.fstype"), util::printable(m->fstype));
        s.add(tr("f.options"), util::printable(m->options));
        if (first) {
            record.mountpoint = util::printable(m->target);
            record.fstype = util::printable(m->fstype);
            if (auto u = t.usage.get(*m)) {
                add_usage(s, *u);
                record.used = used_bytes(*u);
                record.has_usage = true;
            }
        }
        first = false;
        node.sections.push_back(std::move(s));
    }
    for (const SwapArea* sw : swaps_for(t, name)) {
        Section s{tr("sec.filesystem"), {}};
        s.add(tr("f.mountpoint"), "[SWAP]", "/proc/swaps");
        s.add(tr("f.fstype"), "swap");
        // No swap area is empty or larger than 2^54 KiB: such numbers were not read right.
        constexpr uint64_t max_kib = std::numeric_limits<uint64_t>::max() / 1024;
        if (sw->size_kb > 0 && sw->size_kb <= max_kib && sw->used_kb <= sw->size_kb) {
            s.add(tr("f.capacity"), util::fmt_bytes(sw->size_kb * 1024));
            s.add(tr("f.used"), used_with_percent(sw->used_kb * 1024, sw->size_kb * 1024));
        }
        if (record.mountpoint.empty()) {
            record.mountpoint = "[SWAP]";
            record.fstype = "swap";
        }
        node.sections.push_back(std::move(s));
    }
}

// "dm-0 (cryptroot)" for device-mapper holders, the kernel name for the rest.
std::string holders_of(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& h : util::list_dir(dir + "/holders")) {
        std::string dm = util::read_text_shared(block_root + "/" + h + "/dm/name");
        names.push_back(dm.empty() ? h : h + " (" + dm + ")");
    }
    return util::join(names, ", ");
}

void add_partition(Node& disk_node, Tables& t, const std::string& dir, const std::string& part,
                   DiskVisual& disk) {
    std::string pdir = dir + "/" + part;
    std::string sectors_text = util::read_file(pdir + "/size");
    auto bytes = sectors_to_bytes(sectors_text);
    std::string dev = util::read_file(pdir + "/dev");

    Node* node = disk_node.add_child("storage.part." + part, part, icon_partition);
    Section& s = node->section(tr("sec.partition"));
    s.add(tr("f.device"), "/dev/" + part);
    if (bytes) {
        s.add(tr("f.size"), util::fmt_bytes_both(*bytes), "size");
        s.add(tr("f.sectors"),
              util::fmt_int(*bytes / sector_bytes) + " \u00D7 " + util::fmt_int(sector_bytes) +
                  " B",
              "size");
    }
    std::string start_text = util::read_file(pdir + "/start");
    if (auto start = sectors_to_bytes(start_text))
        s.add(tr("f.start_sector"),
              util::fmt_int(*start / sector_bytes) + "  (" + util::fmt_bytes(*start) + ")",
              "start");
    if (auto number = read_strict_u64(pdir + "/partition"))
        s.add(tr("f.partition_no"), util::fmt_int(*number), "partition");
    s.add(tr("f.dev_numbers"), util::printable(dev), "dev");
    add_flag(s, tr("f.read_only"), pdir + "/ro", "ro");
    s.add(tr("f.holders"), holders_of(pdir), "holders");

    PartitionVisual record;
    record.device = part;
    record.bytes = bytes.value_or(0);
    add_filesystems(*node, t, part, dev, record);
    node->summary =
        join_parts({bytes ? util::fmt_bytes(*bytes) : "", record.fstype, record.mountpoint});
    disk.partitions.push_back(std::move(record));
}

// Partitions are the subdirectories named after the disk that carry a "partition" number;
// this finds sda1, nvme0n1p2 and md0p1 alike.
std::vector<std::string> partitions_of(const std::string& dir, const std::string& name) {
    std::vector<std::string> out;
    for (const auto& entry : util::list_dir(dir, name))
        if (entry != name && util::path_exists(dir + "/" + entry + "/partition"))
            out.push_back(entry);
    return out;
}

// Vendor and model as the user knows the drive. "ATA" is what the SCSI layer puts in the
// vendor field of every SATA disk, and virtio writes its PCI vendor number there.
std::string vendor_model(const std::string& vendor, const std::string& model) {
    if (model.empty()) return {};
    if (vendor.empty() || vendor == "ATA" || util::starts_with(vendor, "0x") ||
        util::starts_with(util::lower(model), util::lower(vendor)))
        return model;
    return vendor + " " + model;
}

void add_queue_section(Node& node, const std::string& dir) {
    Section& q = node.section(tr("sec.queue"));
    std::string qdir = dir + "/queue";
    auto bytes_row = [&](const char* key, const char* attr) {
        if (auto v = read_strict_u64(qdir + "/" + attr))
            q.add(tr(key), util::fmt_int(*v) + " B", std::string("queue/") + attr);
    };
    auto count_row = [&](const char* key, const char* attr) {
        if (auto v = read_strict_u64(qdir + "/" + attr))
            q.add(tr(key), util::fmt_int(*v), std::string("queue/") + attr);
    };
    auto text_row = [&](const char* key, const char* attr) {
        q.add(tr(key), util::read_text_shared(qdir + "/" + attr), std::string("queue/") + attr);
    };
    bytes_row("f.sector_logical", "logical_block_size");
    bytes_row("f.sector_physical", "physical_block_size");
    text_row("f.scheduler", "scheduler");
    count_row("f.nr_requests", "nr_requests");
    count_row("f.max_sectors_kb", "max_sectors_kb");
    count_row("f.read_ahead_kb", "read_ahead_kb");
    count_row("f.rotation_rate", "rotation_rate");
    if (auto v = read_strict_u64(qdir + "/discard_granularity"))
        q.add(tr("f.discard_granularity"), util::fmt_bytes(*v), "queue/discard_granularity");
    text_row("f.write_cache", "write_cache");
    count_row("f.nr_zones", "nr_zones");
    text_row("f.zoned", "zoned");
}

// The controller's attributes. For a namespace the device link already is the controller
// (nvme0). Behind a multipath head it is the subsystem, which has model, serial and firmware
// but leaves transport, address and state to its controllers; those come from the first.
void add_nvme_section(Node& node, const std::string& dir) {
    std::string ctrl = dir + "/device";
    std::string path_ctrl = ctrl;
    if (!util::path_exists(ctrl + "/transport")) {
        for (const auto& c : util::list_dir(ctrl, "nvme"))
            if (util::path_exists(ctrl + "/" + c + "/transport")) {
                path_ctrl = ctrl + "/" + c;
                break;
            }
    }
    Section& s = node.section(tr("sec.nvme"));
    s.add(tr("f.model"), util::read_text_shared(ctrl + "/model"), "device/model");
    s.add(tr("f.serial"), util::read_text_shared(ctrl + "/serial"), "device/serial");
    s.add(tr("f.firmware"), util::read_text_shared(ctrl + "/firmware_rev"), "device/firmware_rev");
    std::string rel =
        path_ctrl == ctrl ? "device/" : "device/" + path_ctrl.substr(ctrl.size() + 1) + "/";
    s.add(tr("f.transport"), util::read_text_shared(path_ctrl + "/transport"), rel + "transport");
    s.add(tr("f.address"), util::read_text_shared(path_ctrl + "/address"), rel + "address");
    // -1 means the controller is bound to no NUMA node.
    int64_t numa = util::to_i64(util::read_file(path_ctrl + "/numa_node"), -1);
    if (numa >= 0)
        s.add(tr("f.numa_node"), util::fmt_int(static_cast<uint64_t>(numa)), rel + "numa_node");
    if (auto queues = read_strict_u64(path_ctrl + "/queue_count"))
        s.add(tr("f.queue_count"), util::fmt_int(*queues), rel + "queue_count");
    s.add(tr("f.nvme_state"), util::read_text_shared(path_ctrl + "/state"), rel + "state");
}

void add_raid_section(Node& node, const std::string& dir) {
    Section& s = node.section(tr("sec.raid"));
    std::string md = dir + "/md";
    s.add(tr("f.raid_level"), util::read_text_shared(md + "/level"), "md/level");
    if (auto count = read_strict_u64(md + "/raid_disks")) {
        std::string v = util::fmt_int(*count);
        auto slaves = util::list_dir(dir + "/slaves");
        if (!slaves.empty()) v += "  (" + util::join(slaves, ", ") + ")";
        s.add(tr("f.raid_devices"), v, "md/raid_disks");
    }
    s.add(tr("f.raid_state"), util::read_text_shared(md + "/array_state"), "md/array_state");
    if (auto d = read_strict_u64(md + "/degraded"))
        s.add(tr("f.raid_degraded"), util::fmt_int(*d), "md/degraded");
    s.add(tr("f.raid_sync"), util::read_text_shared(md + "/sync_action"), "md/sync_action");
    // Mirrors have no chunks and report 0.
    auto chunk = read_strict_u64(md + "/chunk_size");
    if (chunk && *chunk > 0) s.add(tr("f.chunk_size"), util::fmt_bytes(*chunk), "md/chunk_size");
}

void add_io_section(Node& node, const std::string& dir) {
    auto st = parse_block_stat(util::read_file_raw(dir + "/stat", util::attribute_limit));
    if (!st) return;
    Section& s = node.section(tr("sec.io_stats"));
    auto bytes_of = [](uint64_t sectors) -> std::string {
        if (sectors > std::numeric_limits<uint64_t>::max() / sector_bytes) return {};
        return util::fmt_bytes(sectors * sector_bytes);
    };
    s.add(tr("f.reads"), util::fmt_int(st->reads), "stat");
    s.add(tr("f.read_bytes"), bytes_of(st->read_sectors), "stat");
    s.add(tr("f.writes"), util::fmt_int(st->writes), "stat");
    s.add(tr("f.write_bytes"), bytes_of(st->write_sectors), "stat");
    // The counter is an unsigned int in the kernel; values near its top are a known
    // accounting underflow, not billions of requests.
    if (st->in_flight < (1ULL << 31))
        s.add(tr("f.io_in_flight"), util::fmt_int(st->in_flight), "stat");
}

struct DeviceResult {
    Node* node = nullptr;
    DiskVisual disk;
    bool is_drive = false; // sits on a bus, as opposed to loop, dm, md, zram …
};

DeviceResult add_device(Node& parent, Tables& t, const std::string& name) {
    DeviceResult result;
    std::string dir = block_root + "/" + name;

    auto bytes = sectors_to_bytes(util::read_file(dir + "/size"));
    bool has_device = util::path_exists(dir + "/device");
    std::string device_path = has_device ? util::resolve_path(dir + "/device") : "";
    // An eMMC's boot and RPMB areas (mmcblk0boot0, mmcblk0boot1, mmcblk0rpmb) hang below the
    // drive's own block device rather than below the card: they are parts of that drive, not
    // drives of their own, and the card's files (name, serial, driver) are one level further.
    bool drive_area = has_device && util::read_link_base(dir + "/device/subsystem") == "block";
    std::string drive_rel = drive_area ? "device/device/" : "device/";
    // Virtual devices (loop, dm, zram, md) have no device below them; asking them for its nine
    // files was nine look-ups that fail, for each such device.
    auto device_text = [&](const char* attr) {
        return has_device ? util::read_text_shared(dir + "/" + drive_rel + attr) : std::string();
    };
    BlockBus bus = block_bus_from_path(device_path);
    result.is_drive = has_device && !drive_area;

    bool optical = util::starts_with(name, "sr") ||
                   (has_device && util::read_file(dir + "/device/type") == "5");
    if (optical && bytes && *bytes == empty_optical_sectors * sector_bytes) bytes = 0;

    std::string rotational = util::read_file(dir + "/queue/rotational");
    bool rotating = rotational == "1";
    // HDD and SSD describe drives. For dm, md, loop and zram devices the flag only echoes
    // what lies beneath, an optical drive is neither, and without the file nothing is known.
    std::string kind;
    if (has_device && !optical && (rotational == "1" || rotational == "0"))
        kind = rotating ? tr("value.hdd") : tr("value.ssd");
    else
        kind = tr("value.block_device");

    std::string model = device_text("model");
    if (model.empty() && bus == BlockBus::mmc) model = device_text("name");
    std::string vendor = device_text("vendor");
    // The kernel names these devices itself (dm-N, loopN, mdN or md_NAME), and only they have
    // these directories: asking every other device was three look-ups that fail.
    std::string dm_name =
        util::starts_with(name, "dm-") ? util::read_text_shared(dir + "/dm/name") : "";
    std::string backing =
        util::starts_with(name, "loop") ? util::read_text_shared(dir + "/loop/backing_file") : "";
    bool is_md = util::starts_with(name, "md") && util::is_dir(dir + "/md");

    std::string display;
    if (is_md) {
        std::string level = util::read_text_shared(dir + "/md/level");
        display = level.empty() ? "MD RAID" : "MD RAID " + level;
    }
    if (display.empty()) display = vendor_model(vendor, model);
    if (display.empty()) display = dm_name;
    if (display.empty()) display = backing;
    std::string title = display.empty() ? name : name + "  " + display;
    if (display.empty()) display = tr("value.block_device");

    Node* node = parent.add_child("storage." + name, title, rotating ? icon_rotating : icon_flash);
    result.node = node;
    std::string bus_text = block_bus_label(bus);
    if (bus_text.empty()) bus_text = block_bus_long(bus);
    node->summary = join_parts({bytes ? util::fmt_bytes(*bytes) : "", kind, bus_text});

    std::string dev = util::read_file(dir + "/dev");
    Section& s = node->section(tr("sec.device"));
    s.add(tr("f.device"), "/dev/" + name);
    s.add(tr("f.backing_file"), backing, "loop/backing_file");
    s.add(tr("f.model"), model,
          drive_rel + (bus == BlockBus::mmc && !util::path_exists(dir + "/" + drive_rel + "model")
                           ? "name"
                           : "model"));
    s.add(tr("f.vendor"), vendor, drive_rel + "vendor");
    s.add(tr("f.name"), dm_name, "dm/name");
    if (bytes) s.add(tr("f.size"), util::fmt_bytes_both(*bytes), "size");
    s.add(tr("f.type"), kind);
    add_flag(s, tr("f.removable"), dir + "/removable", "removable");
    s.add(tr("f.revision"), device_text("rev"), drive_rel + "rev");
    std::string serial = device_text("serial");
    if (!serial.empty())
        s.add(tr("f.serial"), serial, drive_rel + "serial");
    else
        s.add(tr("f.serial"), util::read_text_shared(dir + "/serial"), "serial");
    std::string wwid = util::read_text_shared(dir + "/wwid");
    if (!wwid.empty())
        s.add(tr("f.wwid"), wwid, "wwid");
    else
        s.add(tr("f.wwid"), device_text("wwid"), drive_rel + "wwid");
    s.add(tr("f.state"), device_text("state"), drive_rel + "state");
    s.add(tr("f.dev_numbers"), util::printable(dev), "dev");
    add_flag(s, tr("f.read_only"), dir + "/ro", "ro");
    // An NVMe controller has no driver of its own; the PCI function below it has.
    std::string driver;
    if (has_device) {
        driver = util::read_link_base(dir + "/" + drive_rel + "driver");
        if (driver.empty()) driver = util::read_link_base(dir + "/" + drive_rel + "device/driver");
    }
    s.add(tr("f.driver"), util::printable(driver), drive_rel + "driver");
    s.add(tr("f.bus"), block_bus_long(bus));
    s.add(tr("f.holders"), holders_of(dir), "holders");

    add_queue_section(*node, dir);
    if (bus == BlockBus::nvme) add_nvme_section(*node, dir);
    if (is_md) add_raid_section(*node, dir);
    add_io_section(*node, dir);

    DiskVisual& disk = result.disk;
    disk.device = name;
    disk.model = display;
    disk.type = kind;
    disk.bus = block_bus_label(bus);
    disk.bytes = bytes.value_or(0);

    PartitionVisual whole;
    whole.device = name;
    whole.bytes = disk.bytes;
    add_filesystems(*node, t, name, dev, whole);

    auto parts = partitions_of(dir, name);
    for (const auto& p : parts)
        add_partition(*node, t, dir, p, disk);
    // A file system or swap on the whole device is its only segment; without it the card
    // would claim the device is unused.
    if (parts.empty() && !whole.mountpoint.empty()) disk.partitions.push_back(whole);
    return result;
}

struct Listed {
    std::string name;
    bool loop = false;
};

// A device read apart from the tree: its node waits in `holder` for its place.
struct Read {
    Node holder;
    DeviceResult result;
    bool hidden = false;
};

std::vector<Read> read_devices(Tables& t, const std::vector<Listed>& listed) {
    std::vector<Read> read(listed.size());
    util::read_in_halves(listed.size(), [&](size_t i) {
        // A hidden disk (an NVMe multipath path) has no device node and is no device to show.
        // Asked here, beside the device's other files: a pass of its own opened every
        // device's directory twice over a capture.
        read[i].hidden = util::read_file(block_root + "/" + listed[i].name + "/hidden") == "1";
        if (!read[i].hidden) read[i].result = add_device(read[i].holder, t, listed[i].name);
    });
    return read;
}

void add_filesystems_node(Node& storage, Tables& t) {
    if (t.mounts.empty()) return;
    Node* fs = storage.add_child("storage.filesystems", tr("tree.filesystems"), icon_filesystems);
    Section& s = fs->section(tr("sec.mounted"));
    for (const auto& m : t.mounts) {
        std::string usage;
        if (auto u = t.usage.get(m)) {
            uint64_t used = used_bytes(*u);
            usage =
                util::fmt_bytes(used) + " " + tr("disk.of") + " " +
                util::fmt_bytes(u->total_bytes) + " " + tr("disk.in_use") + "  (" +
                util::fmt_percent(
                    static_cast<double>(used) * 100.0 / static_cast<double>(u->total_bytes), 0) +
                ")";
        }
        // Pseudo file systems name themselves as their source ("proc", "tmpfs", "none").
        std::string source = m.source == m.fstype || m.source == "none" ? "" : m.source;
        s.add(util::printable(m.target), util::printable(join_parts({m.fstype, source, usage})));
    }
}

} // namespace

void collect_storage(Node& root) {
    Node* storage = root.add_child("storage", tr("tree.storage"), icon_storage);

    Tables t;
    t.mounts = read_mounts();
    t.mount_index = MountIndex(t.mounts);
    t.swaps =
        parse_swaps(util::lines(*util::read_shared("/proc/swaps"), max_swap_lines, "/proc/swaps"));
    for (const auto& sw : t.swaps)
        t.swap_resolved.push_back(util::resolve_path(sw.name));

    bool show_loops = SettingsStore::instance().get().show_loop_devices;
    std::vector<Listed> listed;
    auto names = util::list_dir(block_root);
    for (const auto& name : names) {
        if (util::starts_with(name, "ram")) continue;
        bool loop = util::starts_with(name, "loop");
        if (loop && !show_loops) continue;
        // A loop device with nothing attached has no "loop" directory and no size: no device
        // to show.
        if (loop && !util::is_dir(block_root + "/" + name + "/loop")) continue;
        listed.push_back({name, loop});
    }
    std::vector<Read> read = read_devices(t, listed);

    Node* loops = nullptr;
    size_t drives = 0, others = 0;
    for (size_t i = 0; i < listed.size(); ++i) {
        if (read[i].hidden) continue;
        const bool loop = listed[i].loop;
        Node* parent = storage;
        if (loop) {
            if (!loops)
                loops = storage->add_child("storage.loops", tr("tree.loop_devices"), icon_loops);
            parent = loops;
        }
        parent->adopt_children(read[i].holder);
        DeviceResult& r = read[i].result;
        if (r.disk.bytes > 0) {
            r.node->disks.push_back(r.disk);
            if (!loop) storage->disks.push_back(r.disk);
        }
        if (r.is_drive && !loop)
            ++drives;
        else
            ++others;
    }
    if (loops)
        loops->summary =
            loops->children.size() == 1
                ? std::string(tr("summary.one_device"))
                : I18n::trf("summary.n_devices", static_cast<int>(loops->children.size()));

    std::vector<std::string> summary;
    if (drives > 0) summary.push_back(I18n::trf("summary.n_disks", static_cast<int>(drives)));
    if (others == 1) summary.push_back(tr("summary.one_device"));
    if (others > 1) summary.push_back(I18n::trf("summary.n_devices", static_cast<int>(others)));
    storage->summary = join_parts(summary);

    if (names.empty()) {
        std::string hint = snap_permission_hint("hardware-observe");
        if (!hint.empty()) storage->section(tr("sec.status")).add(tr("f.status"), hint);
    }

    add_filesystems_node(*storage, t);
}

} // namespace hw

// The storage branch over fixture machines, and file-system usage on this machine's mounts.
#include "host.h"
#include "hw/hardware.h"
#include "settings.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::ScopedEnv;

namespace {

class Storage : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        m_saved = SettingsStore::instance().get();
    }
    void TearDown() override { SettingsStore::instance().mutable_get() = m_saved; }

    std::unique_ptr<hw::Node> collect(const std::string& machine, bool loops = false) {
        SettingsStore::instance().mutable_get().show_loop_devices = loops;
        std::optional<ScopedEnv> root;
        if (!machine.empty()) root.emplace("QUARVEL_SYSROOT", testing_support::fixture(machine));
        auto tree = std::make_unique<hw::Node>();
        hw::collect_storage(*tree);
        return tree;
    }

private:
    Settings m_saved;
};

std::string value(const hw::Node* node, const std::string& section, const std::string& name,
                  size_t nth = 0) {
    if (!node) return "<no node>";
    for (const auto& s : node->sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == name && nth-- == 0) return item.value;
    return "<no row>";
}

const hw::PartitionVisual* segment(const hw::DiskVisual& disk, const std::string& device) {
    for (const auto& p : disk.partitions)
        if (p.device == device) return &p;
    return nullptr;
}

const hw::DiskVisual* record(const hw::Node& node, const std::string& device) {
    for (const auto& d : node.disks)
        if (d.device == device) return &d;
    return nullptr;
}

} // namespace

TEST_F(Storage, RamSkippedLoopDevicesOnlyWithTheSettingAndNeverAsStorageCards) {
    auto off = collect("server-luks-lvm");
    const hw::Node* storage = off->find("storage");
    ASSERT_TRUE(storage);
    EXPECT_FALSE(storage->find("storage.ram0"));
    EXPECT_FALSE(storage->find("storage.loops"));
    EXPECT_FALSE(storage->find("storage.loop0"));
    EXPECT_EQ(storage->summary, "Drives: 2  \u00B7  3 devices");

    auto on = collect("server-luks-lvm", true);
    storage = on->find("storage");
    const hw::Node* loops = storage->find("storage.loops");
    ASSERT_TRUE(loops);
    EXPECT_EQ(loops->title, "Loop devices");
    ASSERT_EQ(loops->children.size(), 2u); // loop2 has nothing attached
    const hw::Node* loop1 = loops->find("storage.loop1");
    ASSERT_TRUE(loop1);
    EXPECT_EQ(loop1->title, "loop1  /srv/images/test disk.img");
    EXPECT_EQ(value(loop1, "Device", "Backing file"), "/srv/images/test disk.img");
    EXPECT_EQ(value(loop1, "File system", "Mount point"), "/mnt/test disk");
    EXPECT_TRUE(record(*loop1, "loop1"));
    EXPECT_FALSE(record(*storage, "loop1"));
    EXPECT_FALSE(storage->find("storage.ram1"));
    EXPECT_EQ(storage->summary, "Drives: 2  \u00B7  5 devices");
}

TEST_F(Storage, NvmeLaptopSizesPartitionsMountsAndControllerFromTheDeviceLink) {
    auto tree = collect("laptop-nvme-wifi");
    const hw::Node* storage = tree->find("storage");
    ASSERT_EQ(storage->disks.size(), 1u);
    const hw::DiskVisual& disk = storage->disks[0];
    EXPECT_EQ(disk.device, "nvme0n1");
    EXPECT_EQ(disk.bytes, 512110190592ULL); // 1,000,215,216 sectors of 512 bytes
    EXPECT_EQ(disk.model, "Samsung SSD 970 EVO Plus 500GB");
    EXPECT_EQ(disk.type, "SSD");
    EXPECT_EQ(disk.bus, "NVMe");
    ASSERT_EQ(disk.partitions.size(), 4u);
    EXPECT_EQ(disk.partitions[0].mountpoint, "/boot/efi");
    EXPECT_EQ(disk.partitions[0].fstype, "vfat");
    EXPECT_EQ(disk.partitions[1].mountpoint, "/");
    EXPECT_EQ(disk.partitions[2].mountpoint, "[SWAP]");
    EXPECT_EQ(disk.partitions[2].fstype, "swap");
    EXPECT_EQ(disk.partitions[3].mountpoint, "/media/alex/Windows Data");
    EXPECT_EQ(disk.partitions[3].bytes, 126748672ULL * 512);
    for (const auto& p : disk.partitions)
        EXPECT_FALSE(p.has_usage) << p.device << ": no statvfs over a capture";

    const hw::Node* nvme = storage->find("storage.nvme0n1");
    ASSERT_TRUE(nvme);
    EXPECT_EQ(nvme->icon, "\u26A1");
    ASSERT_EQ(nvme->disks.size(), 1u);
    EXPECT_EQ(value(nvme, "Device", "Size"), "477 GiB (512 GB)");
    EXPECT_EQ(value(nvme, "Device", "Driver"), "nvme");
    EXPECT_EQ(value(nvme, "NVMe controller", "Model"), "Samsung SSD 970 EVO Plus 500GB");
    EXPECT_EQ(value(nvme, "NVMe controller", "Firmware version"), "2B2QEXM7");
    EXPECT_EQ(value(nvme, "NVMe controller", "Controller state"), "live");
    EXPECT_EQ(value(nvme, "Queue", "I/O scheduler"), "[none] mq-deadline");
    EXPECT_EQ(value(nvme, "I/O statistics", "Data read"), "1.16 GiB"); // 2,442,000 sectors

    const hw::Node* p4 = storage->find("storage.part.nvme0n1p4");
    ASSERT_TRUE(p4);
    EXPECT_EQ(value(p4, "File system", "Mount point"), "/media/alex/Windows Data");
    EXPECT_EQ(value(p4, "Partition", "Start sector"), "873,465,856  (417 GiB)");
    const hw::Node* swap = storage->find("storage.part.nvme0n1p3");
    EXPECT_EQ(value(swap, "File system", "Used"), "256 MiB  (1.6 %)");
    EXPECT_EQ(storage->summary, "Drives: 1");
}

TEST_F(Storage, RaidUsbAndEmptyOpticalDrive) {
    auto tree = collect("desktop-sata-raid");
    const hw::Node* storage = tree->find("storage");
    EXPECT_FALSE(storage->find("storage.ram0"));

    const hw::Node* sda = storage->find("storage.sda");
    ASSERT_TRUE(sda);
    EXPECT_EQ(sda->icon, "\U0001F4BD");
    EXPECT_EQ(value(sda, "Device", "Type"), "HDD");
    EXPECT_EQ(value(sda, "Device", "Bus"), "SATA / ATA");
    EXPECT_EQ(value(storage->find("storage.part.sda1"), "Partition", "Used by"), "md0");

    const hw::Node* md = storage->find("storage.md0");
    ASSERT_TRUE(md);
    EXPECT_EQ(md->title, "md0  MD RAID raid1");
    EXPECT_EQ(value(md, "RAID", "Member devices"), "2  (sda1, sdb1)");
    EXPECT_EQ(value(md, "RAID", "Array state"), "clean");
    // Not an SSD just because the array's queue says it does not rotate.
    EXPECT_EQ(value(md, "Device", "Type"), "Block device");
    const hw::Node* md_part = storage->find("storage.part.md0p1");
    ASSERT_TRUE(md_part);
    // The file system's own root wins over a bind mount of one of its directories.
    EXPECT_EQ(value(md_part, "File system", "Mount point"), "/");
    EXPECT_EQ(value(md_part, "File system", "Mount point", 1), "/home/sam/Shared");

    const hw::DiskVisual* stick = record(*storage, "sdc");
    ASSERT_TRUE(stick);
    EXPECT_EQ(stick->bus, "USB");
    EXPECT_EQ(stick->model, "SanDisk Ultra");
    EXPECT_EQ(value(storage->find("storage.sdc"), "Device", "Removable"), "Yes");
    ASSERT_TRUE(record(*storage, "sda"));
    EXPECT_EQ(record(*storage, "sda")->model, "WDC WD20EZRZ-00Z"); // no "ATA" in front

    // An empty drive's placeholder capacity is no size: no card, no "1 GiB" disc.
    const hw::Node* dvd = storage->find("storage.sr0");
    ASSERT_TRUE(dvd);
    EXPECT_EQ(value(dvd, "Device", "Size"), "0 B");
    EXPECT_FALSE(record(*storage, "sr0"));
    EXPECT_EQ(storage->summary, "Drives: 4  \u00B7  1 device");
}

TEST_F(Storage, MapperVolumesKernelRootAndWholeDiskFileSystemsFindTheirMounts) {
    auto server = collect("server-luks-lvm");
    const hw::Node* storage = server->find("storage");
    const hw::Node* root_lv = storage->find("storage.dm-1");
    ASSERT_TRUE(root_lv);
    EXPECT_EQ(root_lv->title, "dm-1  vg0-root");
    EXPECT_EQ(value(root_lv, "File system", "Mount point"), "/");
    EXPECT_EQ(value(storage->find("storage.dm-2"), "File system", "Mount point"), "[SWAP]");
    EXPECT_EQ(value(storage->find("storage.part.sda2"), "Partition", "Used by"),
              "dm-0 (sda2_crypt)");
    // A disk without partition table carries its file system as its only card segment.
    const hw::DiskVisual* backup = record(*storage, "sdb");
    ASSERT_TRUE(backup);
    ASSERT_EQ(backup->partitions.size(), 1u);
    EXPECT_EQ(backup->partitions[0].device, "sdb");
    EXPECT_EQ(backup->partitions[0].mountpoint, "/srv/backup");

    auto netbook = collect("netbook-old-kernel");
    storage = netbook->find("storage");
    const hw::Node* sda = storage->find("storage.sda");
    EXPECT_EQ(value(storage->find("storage.part.sda1"), "File system", "Mount point"), "/");
    // No queue/rotational: neither HDD nor SSD is known.
    EXPECT_EQ(value(sda, "Device", "Type"), "Block device");
    EXPECT_EQ(value(sda, "I/O statistics", "Reads"), "91,000"); // an 11-field stat file
    EXPECT_EQ(value(storage->find("storage.part.sda2"), "Partition", "Size"), "1.00 KiB (1.02 kB)");
    const hw::DiskVisual* sd = record(*storage, "mmcblk0");
    ASSERT_TRUE(sd);
    EXPECT_EQ(sd->bus, "MMC");
    EXPECT_EQ(sd->model, "SD04G");
    ASSERT_TRUE(segment(*sd, "mmcblk0p1"));
    EXPECT_EQ(segment(*sd, "mmcblk0p1")->mountpoint, "/media/SD04G");
}

TEST_F(Storage, GarbageAttributesGiveNoRowsRatherThanWrongOnes) {
    auto tree = collect("garbage-files");
    const hw::Node* storage = tree->find("storage");
    const hw::Node* sda = storage->find("storage.sda");
    ASSERT_TRUE(sda);
    EXPECT_EQ(value(sda, "Device", "Size"), "<no row>");
    EXPECT_EQ(value(sda, "Device", "Read-only"), "<no row>");
    EXPECT_EQ(value(sda, "Queue", "Logical sector size"), "<no row>");
    EXPECT_EQ(value(sda, "I/O statistics", "Reads"), "<no row>");
    EXPECT_EQ(value(sda, "Device", "Model"), "Bad\uFFFD\uFFFDName");
    EXPECT_EQ(value(storage->find("storage.part.sda1"), "Partition", "Size"), "<no row>");
    EXPECT_EQ(value(storage->find("storage.part.sda1"), "Partition", "Start sector"), "<no row>");
    EXPECT_EQ(value(storage->find("storage.md127"), "RAID", "Member devices"), "<no row>");
    EXPECT_FALSE(record(*storage, "sda"));
}

TEST_F(Storage, SnapHintOnlyInsideASnapWhenNoDeviceIsListed) {
    auto outside = collect("snap-no-block-access");
    const hw::Node* storage = outside->find("storage");
    EXPECT_EQ(value(storage, "Status", "Status"), "<no row>");
    EXPECT_TRUE(storage->find("storage.filesystems"));

    ScopedEnv snap("SNAP_NAME", "quarvel");
    auto inside = collect("snap-no-block-access");
    EXPECT_NE(value(inside->find("storage"), "Status", "Status").find("hardware-observe"),
              std::string::npos);
    // A machine whose devices are listed gets no hint even inside a Snap.
    auto listed = collect("laptop-nvme-wifi");
    EXPECT_EQ(value(listed->find("storage"), "Status", "Status"), "<no row>");
}

TEST_F(Storage, UsageComesFromStatvfsOnThisMachineOnly) {
    auto usage = host::fs_usage("/");
    if (!usage || usage->total_bytes == 0) GTEST_SKIP() << "no statvfs figures for /";
    auto tree = collect("");
    const hw::Node* fs = tree->find("storage.filesystems");
    ASSERT_TRUE(fs);
    std::string root_row = value(fs, "Mounted file systems", "/");
    EXPECT_NE(root_row.find(util::fmt_bytes(usage->total_bytes)), std::string::npos) << root_row;
    EXPECT_NE(root_row.find("in use"), std::string::npos) << root_row;
    // statvfs of /proc succeeds with zero blocks: that is no usage to show.
    std::string proc_row = value(fs, "Mounted file systems", "/proc");
    if (proc_row != "<no row>") {
        EXPECT_EQ(proc_row.find("in use"), std::string::npos) << proc_row;
    }
    // Wherever "/" lives on a block device, its card segment carries the usage.
    for (const auto& disk : tree->find("storage")->disks)
        for (const auto& p : disk.partitions)
            if (p.mountpoint == "/") {
                EXPECT_TRUE(p.has_usage) << p.device;
                EXPECT_GT(p.used, 0u) << p.device;
                EXPECT_LE(p.used, usage->total_bytes) << p.device;
            }
}

// The storage branch: the kernel tables behind it on text as the kernel writes it, the
// collector over fixture machines, and file-system usage on this machine's mounts.
#include "host.h"
#include "hw/block_bus.h"
#include "hw/block_stat.h"
#include "hw/hardware.h"
#include "hw/mount_table.h"
#include "settings.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>

using testing_support::fixture;
using testing_support::ScopedEnv;
using testing_support::value;
using namespace hw;

namespace {

class Storage : public ::testing::Test {
protected:
    void TearDown() override { SettingsStore::instance().mutable_get() = m_saved; }

    std::unique_ptr<hw::Node> collect(const std::string& machine, bool loops = false) {
        SettingsStore::instance().mutable_get().show_loop_devices = loops;
        return testing_support::collect(hw::collect_storage,
                                        machine.empty() ? "" : fixture(machine));
    }

    Settings m_saved = SettingsStore::instance().get();
};

const hw::DiskVisual* card(const hw::Node& node, const std::string& device) {
    for (const auto& d : node.disks)
        if (d.device == device) return &d;
    return nullptr;
}

} // namespace

TEST_F(Storage, FactsOfTheFixtureMachines) {
    const char *laptop = "laptop-nvme-wifi", *desktop = "desktop-sata-raid",
               *server = "server-luks-lvm", *netbook = "netbook-old-kernel";
    auto trees = testing_support::expect_facts(
        hw::collect_storage,
        {
            // The controller's attributes live under the namespace's device link.
            {laptop, "storage.nvme0n1", "NVMe controller", "Firmware version", "2B2QEXM7"},
            // Not an SSD just because the array's queue says it does not rotate.
            {desktop, "storage.md0", "Device", "Type", "Block device"},
            // The file system's own root wins over a bind mount of one of its directories.
            {desktop, "storage.part.md0p1", "File system", "Mount point", "/"},
            // Mapper volumes and /dev/root are found by their device numbers.
            {server, "storage.dm-1", "File system", "Mount point", "/"},
            {server, "storage.dm-2", "File system", "Mount point", "[SWAP]"},
            {netbook, "storage.sda", "Device", "Type", "Block device"}, // no queue/rotational
                                                                        // Eleven fields.
            {netbook, "storage.sda", "I/O statistics", "Reads", "91,000"},
            // Garbage attributes give no rows rather than wrong ones.
            {"garbage-files", "storage.sda", "Device", "Size", "<no row>"},
            {"garbage-files", "storage.sda", "I/O statistics", "Reads", "<no row>"},
            {"garbage-files", "storage.sda", "Device", "Model", "Bad\uFFFD\uFFFDName"},
            {"garbage-files", "storage.part.sda1", "Partition", "Start sector", "<no row>"},
        });
    const hw::Node& nvme = *trees[laptop]->find("storage");
    ASSERT_EQ(nvme.disks.size(), 1u);
    const hw::DiskVisual& disk = nvme.disks[0];
    EXPECT_EQ(disk.bytes, 512110190592ULL); // 1,000,215,216 sectors of 512 bytes
    EXPECT_EQ(disk.type + " / " + disk.bus, "SSD / NVMe");
    std::vector<std::string> segments;
    for (const auto& p : disk.partitions) {
        segments.push_back(p.mountpoint + " " + p.fstype);
        EXPECT_FALSE(p.has_usage) << p.device << ": no statvfs over a capture";
    }
    EXPECT_EQ(segments, (std::vector<std::string>{"/boot/efi vfat", "/ ext4", "[SWAP] swap",
                                                  "/media/alex/Windows Data ntfs3"}));
    const hw::Node& raid = *trees[desktop]->find("storage");
    EXPECT_EQ(value(raid.find("storage.part.md0p1"), "File system", "Mount point", 1),
              "/home/sam/Shared");
    ASSERT_TRUE(card(raid, "sdc") && card(raid, "sda"));
    EXPECT_EQ(card(raid, "sdc")->bus, "USB");                // from the resolved device link
    EXPECT_EQ(card(raid, "sda")->model, "WDC WD20EZRZ-00Z"); // no "ATA" in front
    // An empty drive's placeholder capacity is no size: no card, no "1 GiB" disc.
    EXPECT_FALSE(card(raid, "sr0"));
    // A disk without partition table carries its file system as its only card segment.
    const hw::DiskVisual* backup = card(*trees[server]->find("storage"), "sdb");
    ASSERT_TRUE(backup && backup->partitions.size() == 1);
    EXPECT_EQ(backup->partitions[0].mountpoint, "/srv/backup");
}

TEST_F(Storage, LoopDevicesOnlyWithTheSettingAndNeverAsStorageCards) {
    EXPECT_FALSE(collect("server-luks-lvm")->find("storage.loops"));
    auto on = collect("server-luks-lvm", true);
    const hw::Node* storage = on->find("storage");
    const hw::Node* loop1 = storage->find("storage.loop1");
    ASSERT_TRUE(loop1);
    EXPECT_EQ(storage->find("storage.loops")->children.size(), 2u); // loop2 has nothing attached
    EXPECT_EQ(value(loop1, "Device", "Backing file"), "/srv/images/test disk.img");
    EXPECT_TRUE(card(*loop1, "loop1"));
    EXPECT_FALSE(card(*storage, "loop1"));
    EXPECT_FALSE(storage->find("storage.ram1"));
}

TEST_F(Storage, ManyDevicesReadOnTwoThreadsKeepTheirOrderTheirOwnFactsAndNoHiddenOne) {
    testing_support::TempDir dir;
    std::vector<std::string> disks;
    for (int i = 0; i < 70; ++i) {
        disks.push_back("d" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        dir.write("sys/block/" + disks.back() + "/size", std::to_string((i + 1) * 8) + "\n");
    }
    // An NVMe multipath path, on the second thread's half.
    dir.write("sys/block/d50c0/size", "8\n");
    dir.write("sys/block/d50c0/hidden", "1\n");
    for (int i = 0; i < 3; ++i) {
        dir.write("sys/block/loop" + std::to_string(i) + "/size", "8\n");
        dir.write("sys/block/loop" + std::to_string(i) + "/loop/backing_file", "/img\n");
    }
    SettingsStore::instance().mutable_get().show_loop_devices = true;
    auto root = testing_support::collect(hw::collect_storage, dir.path());
    const hw::Node* storage = root->find("storage");
    ASSERT_EQ(storage->children.size(), disks.size() + 1);
    ASSERT_EQ(storage->disks.size(), disks.size());
    for (size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(storage->children[i]->id, "storage." + disks[i]);
        EXPECT_EQ(storage->disks[i].device, disks[i]);
        EXPECT_EQ(storage->disks[i].bytes, (i + 1) * 8 * 512);
    }
    EXPECT_EQ(storage->children.back()->id, "storage.loops");
    EXPECT_EQ(storage->children.back()->children.size(), 3u);
    EXPECT_EQ(storage->summary, "73 devices");
}

TEST_F(Storage, AnEmmcsBootAreasArePartsOfItsDriveNotDrives) {
    // Laid out as the kernel does: the boot areas' parent device is the drive's block device.
    testing_support::TempDir dir;
    const std::string card = "sys/devices/platform/fe330000.mmc/mmc_host/mmc0/mmc0:0001";
    const std::string up = "../../../../../../../../";
    dir.mkdir("sys/class/block");
    dir.mkdir("sys/bus/mmc/drivers/mmcblk");
    dir.write(card + "/name", "DA4064\n");
    dir.write(card + "/serial", "0x9a1b2c3d\n");
    dir.symlink(up.substr(6) + "bus/mmc/drivers/mmcblk", card + "/driver");
    for (const char* area : {"mmcblk0", "mmcblk0/mmcblk0boot0", "mmcblk0/mmcblk0boot1"}) {
        const std::string d = card + "/block/" + area, name = util::base_name(area);
        const bool boot = name != "mmcblk0";
        dir.write(d + "/size", boot ? "8192\n" : "122142720\n");
        dir.write(d + "/queue/rotational", "0\n");
        dir.symlink(boot ? "../../mmcblk0" : "../../../mmc0:0001", d + "/device");
        dir.symlink((boot ? "../" : "") + up + "class/block", d + "/subsystem");
        dir.symlink("../" + d.substr(4), "sys/block/" + name);
    }
    auto root = testing_support::collect(hw::collect_storage, dir.path());
    const hw::Node* storage = root->find("storage");
    EXPECT_EQ(storage->summary, "Drives: 1  \u00B7  2 devices");
    const hw::Node* boot = storage->find("storage.mmcblk0boot1");
    EXPECT_EQ(boot->title, "mmcblk0boot1  DA4064");
    EXPECT_EQ(value(boot, "Device", "Serial number"), "0x9a1b2c3d");
    EXPECT_EQ(value(boot, "Device", "Driver"), "mmcblk");
}

TEST_F(Storage, SnapHintOnlyInsideASnapWhenNoDeviceIsListed) {
    EXPECT_EQ(value(collect("snap-no-block-access")->find("storage"), "Status", "Status"),
              "<no row>");
    ScopedEnv snap("SNAP_NAME", "quarvel");
    EXPECT_NE(value(collect("snap-no-block-access")->find("storage"), "Status", "Status")
                  .find("hardware-observe"),
              std::string::npos);
    EXPECT_EQ(value(collect("laptop-nvme-wifi")->find("storage"), "Status", "Status"), "<no row>");
}

TEST_F(Storage, UsageComesFromStatvfsOnThisMachineOnly) {
    auto usage = host::fs_usage("/");
    if (!usage || usage->total_bytes == 0) GTEST_SKIP() << "no statvfs figures for /";
    auto tree = collect("");
    const hw::Node* fs = tree->find("storage.filesystems");
    ASSERT_TRUE(fs);
    std::string root_row = value(fs, "Mounted file systems", "/");
    EXPECT_NE(root_row.find(util::fmt_bytes(usage->total_bytes)), std::string::npos) << root_row;
    // statvfs of /proc succeeds with zero blocks: that is no usage to show.
    EXPECT_EQ(value(fs, "Mounted file systems", "/proc").find("in use"), std::string::npos);
    // Wherever "/" lives on a block device, its card segment carries the usage.
    for (const auto& disk : tree->find("storage")->disks)
        for (const auto& p : disk.partitions)
            if (p.mountpoint == "/") {
                EXPECT_TRUE(p.has_usage && p.used > 0) << p.device;
                EXPECT_LE(p.used, usage->total_bytes) << p.device;
            }
}

TEST(MountTables, FieldsEscapesOptionalTagsAndMalformedLines) {
    auto m = parse_mountinfo(
        "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "512 28 259:4 / /media/alex/Windows\\040Data rw,nosuid shared:260 "
        "master:3 - ntfs3 /dev/nvme0n1p4 rw,uid=1000\n"
        "60 27 259:5 /srv/share /home/sam/Shared rw,relatime - ext4 /dev/md0p1 rw\n"
        "garbage\n1 2 3\n"
        "41 1 x:y / /bad rw - ext4 /dev/sda2 rw\n"
        "42 1 8:16 / relative rw - ext4 /dev/sdb rw\n"
        "43 1 8:16 / /no-separator rw ext4 /dev/sdb rw\n");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].dev + " " + m[0].target + " " + m[0].source + " " + m[0].fstype,
              "259:2 / /dev/nvme0n1p2 ext4");
    // The file system's own options follow the mount's, without repeating "rw".
    EXPECT_EQ(m[0].options, "rw,relatime,errors=remount-ro");
    EXPECT_EQ(m[1].target + " " + m[1].fstype, "/media/alex/Windows Data ntfs3");
    EXPECT_EQ(m[2].root, "/srv/share");

    // The older format has no device numbers.
    auto old = parse_mounts("/dev/sda1 /mnt/usb\\040stick vfat rw,relatime 0 0\nproc /proc p\n"
                            "/dev/sdc1 /media/Disk\\040 vfat rw 0 0\n");
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[0].target + "|" + old[0].dev + "|" + old[0].root, "/mnt/usb stick||/");
    EXPECT_EQ(old[1].target, "/media/Disk "); // an escape at the very end
}

TEST(MountTables, AMountBelongsToADeviceByNumbersThenResolvedSourceThenName) {
    struct Case {
        const char *source, *resolved, *dev, *name, *name_dev;
        bool match;
    } cases[] = {
        {"/dev/mapper/vg0-root", "", "254:1", "dm-1", "254:1", true},
        {"/dev/mapper/vg0-root", "", "254:1", "dm-2", "254:2", false},
        {"/dev/root", "", "8:1", "sda1", "8:1", true},
        {"/dev/root", "", "8:1", "sda", "8:0", false},
        // btrfs shows an anonymous device number; the source path still names the partition.
        {"/dev/disk/by-uuid/0000", "/dev/sda3", "0:34", "sda3", "8:3", true},
        {"/dev/disk/by-uuid/0000", "/dev/sda3", "0:34", "sda", "8:0", false},
        {"/dev/sdc1", "", "", "sdc1", "", true},
        {"/dev/sdc1", "", "", "sdc", "", false},
    };
    std::vector<MountEntry> table;
    for (const auto& c : cases) {
        MountEntry m;
        m.source = c.source;
        m.resolved_source = c.resolved;
        m.dev = c.dev;
        EXPECT_EQ(mount_is_of(m, c.name, c.name_dev), c.match) << c.source << " " << c.name;
        table.push_back(m);
    }
    // The index finds, in table order, what asking every mount finds.
    const MountIndex index(table);
    for (const auto& c : cases) {
        std::vector<size_t> asked;
        for (size_t i = 0; i < table.size(); ++i)
            if (mount_is_of(table[i], c.name, c.name_dev)) asked.push_back(i);
        EXPECT_EQ(index.of(c.name, c.name_dev), asked) << c.name << " " << c.name_dev;
    }
}

// statvfs on a dead server or a stuck FUSE daemon never returns; the report must. The
// kernel's views have no size to ask for.
TEST(MountTables, UsageIsNotAskedOfNetworkFuseAutomountOrSizelessFileSystems) {
    for (const char* fs :
         {"nfs4", "cifs", "autofs", "fuse.sshfs", "fuseblk", "9p", "proc", "cgroup2"})
        EXPECT_FALSE(usage_worth_asking(fs)) << fs;
    for (const char* fs : {"ext4", "btrfs", "vfat", "xfs", "tmpfs", "devtmpfs", "efivarfs"})
        EXPECT_TRUE(usage_worth_asking(fs)) << fs;
}

// Eleven-field kernels are on the netbook fixture.
TEST(BlockStat, SeventeenFieldKernelsAndGarbage) {
    auto k17 = parse_block_stat("   61050    16774  4202091    25036    83902    46848  2302530 "
                                "32404        2    20551    64225       46        0  5751632 "
                                "      80     3461 6703\n");
    ASSERT_TRUE(k17);
    EXPECT_EQ(k17->reads, 61050u);
    EXPECT_EQ(k17->write_sectors, 2302530u);
    EXPECT_EQ(k17->queue_ms, 64225u);
    for (const char* bad :
         {"", "1 2 3", "12 34 garbage 1 2 3 4 5 6 7 8", "-1 2 3 4 5 6 7 8 9 10 11",
          "99999999999999999999999 2 3 4 5 6 7 8 9 10 11"})
        EXPECT_FALSE(parse_block_stat(bad)) << bad;
}

TEST(BlockBus, ToldFromWholeComponentsOfTheResolvedDevicePath) {
    struct Case {
        const char* path;
        BlockBus bus;
    } cases[] = {
        {"/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", BlockBus::ata},
        {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
         BlockBus::usb},
        {"/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", BlockBus::nvme},
        {"/sys/devices/pci0000:00/0000:00:02.0/virtio1", BlockBus::virtio},
        // virtio-scsi: the disk is a SCSI device even though a virtio function carries it.
        {"/sys/devices/pci0000:00/0000:00:05.0/virtio3/host2/target2:0:0/2:0:0:0", BlockBus::scsi},
        // Letters inside names are no bus: "platform", "data", "usbmisc" hold "ata"/"usb".
        {"/sys/devices/platform/data-usbmisc/host9x", BlockBus::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(block_bus_from_path(c.path), c.bus) << c.path;
}

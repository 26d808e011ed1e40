// The kernel tables behind the storage branch, on text as the kernel writes it.
#include "hw/block_bus.h"
#include "hw/block_stat.h"
#include "hw/mount_table.h"
#include "hw/sysfs_values.h"

#include <gtest/gtest.h>

using namespace hw;

TEST(MountInfo, ReadsFieldsEscapesOptionalTagsAndMergesOptions) {
    const char* text =
        "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "512 28 259:4 / /media/alex/Windows\\040Data rw,nosuid,nodev,relatime shared:260 "
        "master:3 - ntfs3 /dev/nvme0n1p4 rw,uid=1000\n"
        "60 27 259:5 /srv/share /home/sam/Shared rw,relatime - ext4 /dev/md0p1 rw\n"
        "70 27 0:45 / /tab\\011and\\134back rw - tmpfs tmpfs rw,size=4k\n";
    auto m = parse_mountinfo(text);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].dev, "259:2");
    EXPECT_EQ(m[0].target, "/");
    EXPECT_EQ(m[0].source, "/dev/nvme0n1p2");
    EXPECT_EQ(m[0].fstype, "ext4");
    // The file system's own options follow the mount's, without repeating "rw".
    EXPECT_EQ(m[0].options, "rw,relatime,errors=remount-ro");
    EXPECT_EQ(m[1].target, "/media/alex/Windows Data");
    EXPECT_EQ(m[1].fstype, "ntfs3"); // two optional fields before the separator
    EXPECT_EQ(m[2].root, "/srv/share");
    EXPECT_EQ(m[3].target, "/tab\tand\\back");
}

TEST(MountInfo, SkipsMalformedLinesAndKeepsAnEmptySource) {
    const char* text = "garbage\n"
                       "1 2 3\n"
                       "41 1 x:y / /bad rw - ext4 /dev/sda2 rw\n"
                       "42 1 8:16 / relative rw - ext4 /dev/sdb rw\n"
                       "43 1 8:16 / /no-separator rw ext4 /dev/sdb rw\n"
                       "44 1 0:50 / /empty rw - tmpfs  rw\n";
    auto m = parse_mountinfo(text);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].target, "/empty");
    EXPECT_EQ(m[0].source, "");
    EXPECT_EQ(m[0].fstype, "tmpfs");
    EXPECT_EQ(m[0].options, "rw");
    EXPECT_TRUE(parse_mountinfo("").empty());
}

TEST(MountInfo, OlderMountsFormatHasNoDeviceNumbers) {
    auto m =
        parse_mounts("/dev/sda1 /mnt/usb\\040stick vfat rw,relatime 0 0\nproc /proc proc rw 0 0\n");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].target, "/mnt/usb stick");
    EXPECT_EQ(m[0].dev, "");
    EXPECT_EQ(m[0].root, "/");
}

TEST(MountInfo, BelongsToTheDeviceByNumbersThenResolvedSourceThenName) {
    MountEntry mapper;
    mapper.source = "/dev/mapper/vg0-root";
    mapper.dev = "254:1";
    EXPECT_TRUE(mount_is_of(mapper, "dm-1", "254:1"));
    EXPECT_FALSE(mount_is_of(mapper, "dm-2", "254:2"));

    MountEntry kernel_root;
    kernel_root.source = "/dev/root";
    kernel_root.dev = "8:1";
    EXPECT_TRUE(mount_is_of(kernel_root, "sda1", "8:1"));
    EXPECT_FALSE(mount_is_of(kernel_root, "sda", "8:0"));

    // btrfs shows an anonymous device number; the source path still names the partition.
    MountEntry btrfs;
    btrfs.source = "/dev/disk/by-uuid/0000";
    btrfs.resolved_source = "/dev/sda3";
    btrfs.dev = "0:34";
    EXPECT_TRUE(mount_is_of(btrfs, "sda3", "8:3"));
    EXPECT_FALSE(mount_is_of(btrfs, "sda", "8:0"));

    MountEntry by_name;
    by_name.source = "/dev/sdc1";
    EXPECT_TRUE(mount_is_of(by_name, "sdc1", ""));
    EXPECT_FALSE(mount_is_of(by_name, "sdc", ""));
    EXPECT_FALSE(mount_is_of(by_name, "", ""));
}

TEST(BlockStat, ReadsElevenFifteenAndSeventeenFieldKernels) {
    const char* k17 =
        "   61050    16774  4202091    25036    83902    46848  2302530    32404        "
        "2    20551    64225       46        0  5751632       80     3461     6703\n";
    const char* k15 =
        "61050 16774 4202091 25036 83902 46848 2302530 32404 0 20551 64225 46 0 5751632 80";
    const char* k11 = "  91000 22750 3640000 45500 33000 16500 792000 33000 0 124000 157000\n";
    for (const char* text : {k17, k15}) {
        auto st = parse_block_stat(text);
        ASSERT_TRUE(st) << text;
        EXPECT_EQ(st->reads, 61050u);
        EXPECT_EQ(st->read_sectors, 4202091u);
        EXPECT_EQ(st->writes, 83902u);
        EXPECT_EQ(st->write_sectors, 2302530u);
        EXPECT_EQ(st->queue_ms, 64225u);
    }
    auto old = parse_block_stat(k11);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->in_flight, 0u);
    EXPECT_EQ(old->write_sectors, 792000u);
    EXPECT_EQ(parse_block_stat(k17)->in_flight, 2u);
}

TEST(BlockStat, GarbageGivesNothing) {
    EXPECT_FALSE(parse_block_stat(""));
    EXPECT_FALSE(parse_block_stat("1 2 3"));
    EXPECT_FALSE(parse_block_stat("12 34 garbage 1 2 3 4 5 6 7 8"));
    EXPECT_FALSE(parse_block_stat("-1 2 3 4 5 6 7 8 9 10 11"));
    EXPECT_FALSE(parse_block_stat("99999999999999999999999 2 3 4 5 6 7 8 9 10 11"));
}

TEST(BlockBus, ToldFromWholeComponentsOfTheResolvedDevicePath) {
    struct Case {
        const char* path;
        BlockBus bus;
        const char* label;
    } cases[] = {
        {"/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", BlockBus::ata,
         "SATA"},
        {"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
         BlockBus::usb, "USB"},
        {"/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", BlockBus::nvme, "NVMe"},
        {"/sys/devices/virtual/nvme-subsystem/nvme-subsys0", BlockBus::nvme, "NVMe"},
        {"/sys/devices/pci0000:00/0000:00:1e.0/0000:05:00.2/mmc_host/mmc0/mmc0:b368", BlockBus::mmc,
         "MMC"},
        {"/sys/devices/pci0000:00/0000:00:02.0/virtio1", BlockBus::virtio, ""},
        // virtio-scsi: the disk is a SCSI device even though a virtio function carries it.
        {"/sys/devices/pci0000:00/0000:00:05.0/virtio3/host2/target2:0:0/2:0:0:0", BlockBus::scsi,
         ""},
        // Letters inside names are no bus: "platform", "data", "usbmisc" hold "ata"/"usb".
        {"/sys/devices/platform/data-usbmisc/host9x", BlockBus::none, ""},
        {"", BlockBus::none, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(block_bus_from_path(c.path), c.bus) << c.path;
        EXPECT_EQ(block_bus_label(c.bus), c.label) << c.path;
    }
}

TEST(SysfsValues, StrictNumbersAndPrintableText) {
    EXPECT_EQ(strict_u64(" 1500\n"), 1500u);
    EXPECT_FALSE(strict_u64("1e9"));
    EXPECT_FALSE(strict_u64("-1"));
    EXPECT_FALSE(strict_u64(""));
    EXPECT_FALSE(strict_u64("36893488147419103232"));
}

// Records that collectors hand to the drawn panels: disk cards and USB topology cards.
// Plain data, filled at collection time and travelling inside the tree's nodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hw {

struct PartitionVisual {
    std::string device;     // kernel name, e.g. nvme0n1p2
    std::string mountpoint; // first mount of the partition; empty when not mounted
    std::string fstype;     // file-system type of that mount
    uint64_t bytes = 0;     // size attribute × 512
    uint64_t used = 0;      // bytes in use on the mounted file system; 0 when unknown
    bool has_usage = false; // `used` was obtained
};

struct DiskVisual {
    std::string device; // kernel name, e.g. nvme0n1
    std::string model;  // display name
    std::string type;   // kind text shown on the card
    std::string bus;    // "USB", "NVMe", "SATA", "MMC" or empty
    uint64_t bytes = 0; // size attribute × 512
    std::vector<PartitionVisual> partitions;
};

struct UsbDeviceVisual {
    std::string port; // directory name = port path, e.g. 1-2.3
    std::string name;
    std::string vendor;
    std::string cls;   // class name
    std::string ids;   // "vvvv:pppp"
    std::string speed; // "speed" attribute text
    std::string gen;   // generation name of the speed
    double mbit = 0;
    int power_ma = 0; // 0 when unknown
    int depth = 0;    // 0 on the root hub, one more per hub in between
    bool is_hub = false;
};

struct UsbBusVisual {
    std::string port;   // root hub directory name, e.g. usb1
    std::string number; // busnum text
    std::string gen;
    double mbit = 0;
    std::vector<UsbDeviceVisual> devices; // tree order: each device followed by its descendants
};

struct UsbControllerVisual {
    std::string id; // the root hubs' "serial", e.g. 0000:00:14.0
    std::string name;
    std::string vendor;
    std::vector<UsbBusVisual> buses; // by bus number
    size_t device_count = 0;         // root hubs not counted
};

} // namespace hw

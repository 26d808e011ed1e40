// Which bus a block device hangs on, told from where its device sits in /sys/devices.
#pragma once

#include <string>
#include <string_view>

namespace hw {

enum class BlockBus { none, usb, nvme, ata, mmc, scsi, virtio };

// `device_path` is the resolved target of /sys/block/<name>/device, e.g.
// "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0". A USB-attached
// SATA bridge counts as USB: that is the port the user plugs it into.
BlockBus block_bus_from_path(std::string_view device_path);

// The short label of the disk card: "USB", "NVMe", "SATA", "MMC", or empty.
std::string block_bus_label(BlockBus bus);
// The row's longer form: also "SATA / ATA", "MMC / SD", "SCSI", "VirtIO".
std::string block_bus_long(BlockBus bus);

} // namespace hw

#include "hw/block_bus.h"

#include "util.h"

namespace hw {

namespace {

// "usb3", "ata1", "host0", "virtio1": a fixed word followed by a number only.
bool word_then_number(std::string_view part, std::string_view word) {
    return util::starts_with(part, word) && util::all_digits(part.substr(word.size()));
}

} // namespace

BlockBus block_bus_from_path(std::string_view device_path) {
    // Whole path components only: a substring test finds "ata" in names that merely contain
    // those letters and misses nothing that the components show.
    bool usb = false, nvme = false, ata = false, mmc = false, scsi = false, virtio = false;
    for (const auto& part : util::split(device_path, '/')) {
        if (word_then_number(part, "usb")) usb = true;
        if (part == "nvme" || util::starts_with(part, "nvme-subsys") ||
            util::starts_with(part, "nvme-fabrics") || word_then_number(part, "nvme"))
            nvme = true;
        if (word_then_number(part, "ata")) ata = true;
        if (part == "mmc_host" || word_then_number(part, "mmc")) mmc = true;
        if (word_then_number(part, "host")) scsi = true;
        if (word_then_number(part, "virtio")) virtio = true;
    }
    if (usb) return BlockBus::usb;
    if (nvme) return BlockBus::nvme;
    if (ata) return BlockBus::ata;
    if (mmc) return BlockBus::mmc;
    if (scsi) return BlockBus::scsi;
    if (virtio) return BlockBus::virtio;
    return BlockBus::none;
}

namespace {

struct BusNames {
    const char* card;   // short, for the disk card; empty where the card shows no bus
    const char* detail; // for the detail row
};

BusNames bus_names(BlockBus bus) {
    switch (bus) {
    case BlockBus::usb:
        return {"USB", "USB"};
    case BlockBus::nvme:
        return {"NVMe", "NVMe"};
    case BlockBus::ata:
        return {"SATA", "SATA / ATA"};
    case BlockBus::mmc:
        return {"MMC", "MMC / SD"};
    case BlockBus::scsi:
        return {"", "SCSI"};
    case BlockBus::virtio:
        return {"", "VirtIO"};
    default:
        return {"", ""};
    }
}

} // namespace

std::string block_bus_label(BlockBus bus) {
    return bus_names(bus).card;
}

std::string block_bus_long(BlockBus bus) {
    return bus_names(bus).detail;
}

} // namespace hw

// Feeds arbitrary bytes to both identifier-file parsers and looks names up, including ids
// taken from the input itself so that lookups hit what was parsed. Every name must come back
// as one line of valid UTF-8.
#include "fuzz_support.h"
#include "hw/ids.h"
#include "util.h"

#include <string>

namespace {

void check(const std::string& name) {
    if (name.find('\n') != std::string::npos || util::valid_utf8(name) != name) std::abort();
}

uint32_t id_at(const std::string& bytes, size_t i) {
    if (bytes.empty()) return 0;
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k)
        v = v << 8 | static_cast<uint8_t>(bytes[(i + k) % bytes.size()]);
    return v;
}

} // namespace

FUZZ_TARGET(text) {
    hw::Ids ids = hw::Ids::from_text(text, text);
    for (size_t i = 0; i < 16; ++i) {
        uint32_t a = id_at(text, i * 3);
        uint32_t b = id_at(text, i * 5 + 1);
        uint32_t lo = a & 0xffff, hi = a >> 16, lo2 = b & 0xffff, hi2 = b >> 16;
        check(ids.pci_vendor(lo));
        check(ids.pci_device(hi, lo));
        check(ids.pci_subsystem(hi2, lo2, hi, lo));
        check(ids.pci_class(a & 0xffffff));
        check(ids.pci_interface(b & 0xffffff));
        check(ids.usb_vendor(lo));
        check(ids.usb_device(hi, lo));
        check(ids.usb_class(b & 0xff));
    }
    // Ids that hand-written seeds use, whatever bytes the input holds.
    check(ids.pci_vendor(0x0001));
    check(ids.pci_device(0x0001, 0x0010));
    check(ids.pci_subsystem(0x0001, 0x0002, 0x0001, 0x0010));
    check(ids.pci_class(0x010802));
}

// Pure helpers of the PCI branch: the kernel's "resource" table and the order of addresses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// One assigned line of a PCI function's "resource" file: a BAR (lines 0–5), the expansion
// ROM (6), SR-IOV BARs or a bridge's windows (7 and later).
struct PciResource {
    size_t index = 0; // line number from 0, counting every line
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t flags = 0; // the kernel's IORESOURCE_* bits
};

// The kernel's resource type bits. The low bits of the flag word mean other things (a 64-bit
// prefetchable window, an enabled ROM), so they say nothing about the address space.
constexpr uint64_t IORESOURCE_IO = 0x100;
constexpr uint64_t IORESOURCE_MEM = 0x200;

// The lines of a "resource" file that describe an assigned range; unassigned (all-zero),
// malformed and reversed lines are left out, without renumbering the others.
std::vector<PciResource> parse_pci_resources(std::string_view text);

// Orders PCI addresses (domain:bus:device.function, all hexadecimal) by their numbers, as
// lspci lists them; names that are no address come after, in byte order.
bool pci_address_less(std::string_view a, std::string_view b);

} // namespace hw

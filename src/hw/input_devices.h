// The kernel's list of input devices, /proc/bus/input/devices, read into plain records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hw {

// One block of the file. Identifiers stay the hexadecimal texts the kernel wrote.
struct InputDevice {
    std::string bus;
    std::string vendor;
    std::string product;
    std::string version;
    std::string name;
    std::string phys;
    std::string sysfs;
    std::string uniq;
    std::string handlers;
    std::vector<std::pair<std::string, std::string>> bits; // "EV" → "120013", "KEY" → words…
};

// The text after `key` and its "=" up to the next space, in a line of key=value words such
// as "Bus=0011 Vendor=0001 Product=0001 Version=ab41"; empty when the key is absent.
std::string input_field(std::string_view line, std::string_view key);

std::vector<InputDevice> parse_input_devices(std::string_view text);

// The bitmap of one "B:" key as the kernel printed it: words in hexadecimal, highest first,
// 32 or 64 bits each depending on the kernel. Returns the lowest word's bits; 0 if absent.
uint64_t input_bits_low(const InputDevice& dev, std::string_view key);

} // namespace hw

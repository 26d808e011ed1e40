// Redaction of the facts that identify one machine or its owner, for reports that are shared:
// serial numbers (and asset tags and WWIDs, which carry them), UUIDs, MAC addresses, IP
// addresses, the host name and user names become placeholders such as "<serial-1>". Within
// one report the same value always becomes the same placeholder, so a reader can still see
// that two rows name the same disk or interface.
#pragma once

#include "hw/hardware.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace redact {

// A copy of `tree` with every text redacted. The visual records (disk and USB cards) are
// not copied: a redacted tree is for writing out, not for drawing.
std::unique_ptr<hw::Node> redacted_copy(const hw::Node& tree);

// The shapes of identifying values, also used to blank them in captures.
// A link-layer address as the kernel writes it: 6, 8 or 20 bytes of two hexadecimal digits,
// separated by colons.
bool is_mac(std::string_view s);
// 8-4-4-4-12 hexadecimal digits.
bool is_uuid(std::string_view s);
// "mac" or "ip" when the whole of `text` is an address worth hiding (not a loopback,
// unspecified or netmask one), else null.
const char* address_kind(const std::string& text);
// The users whose directories `s` names: "/home/alice", "/media/alice/USB" (not root).
std::vector<std::string> home_users(std::string_view s);
// A PCI address "0000:00:14.0". Root hubs report their controller's as their serial number;
// it names a slot, not a device, and the PCI branch shows it anyway.
bool is_bus_address(std::string_view s);
// The length of an interface name made from its MAC address at `pos` ("enx00e04c680001": the
// type, "x", the address's twelve digits, then no letter or digit), or 0. Such a name tells
// the address it is made of.
size_t mac_named_interface_at(std::string_view s, size_t pos);
// `s` with every such name that stands alone replaced by what `replacement` makes of it.
std::string
replace_mac_named_interfaces(std::string_view s,
                             const std::function<std::string(std::string_view)>& replacement);

// What replace_identities finds in running text.
enum class Found { uuid, mac, ip, mac_named_interface, word };

// `text` with each identifying value that stands alone in it replaced by what `replace` makes
// of it: UUIDs, MAC and IP addresses (looked for only when `addresses`), interface names made
// from a MAC, and `words` (host and user names, the longest first, each a word of its own). A
// USB port path ("1-1.5.4.2") is left as it is, though shaped like an IPv4 address.
std::string
replace_identities(std::string_view text, const std::vector<std::string>& words, bool addresses,
                   const std::function<std::string(std::string_view value, Found kind)>& replace);

} // namespace redact

// Names of the link-layer types in /sys/class/net/<if>/type (the kernel's ARPHRD numbers).
#pragma once

#include <string>

namespace hw {

// The name of a link-layer type, or empty for a number the kernel does not define.
std::string link_type_name(unsigned type);

} // namespace hw

// The network collector with the identifier tables passed in, so tests can use the tables of
// the machine they read instead of whatever the process loaded first.
#pragma once

#include "hw/hardware.h"
#include "hw/ids.h"

namespace hw {

void collect_network_with(Node& root, const Ids& ids);

} // namespace hw

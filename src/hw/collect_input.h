// The input branch over a given set of identifier tables; collect_input uses the process's
// own.
#pragma once

#include "hw/hardware.h"
#include "hw/ids.h"

namespace hw {

void collect_input_with(Node& root, const Ids& ids);

} // namespace hw

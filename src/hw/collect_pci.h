// The PCI branch over a given set of identifier tables; collect_pci uses the process's own.
#pragma once

#include "hw/hardware.h"
#include "hw/ids.h"

namespace hw {

void collect_pci_with(Node& root, const Ids& ids);

} // namespace hw

// Whether two protected-data records hold the same facts (what the exchange text carries;
// `available` is derived by the reader).
#pragma once

#include "hw/root_data.h"

inline bool same_record(const hw::RootData& a, const hw::RootData& b) {
    return a.error == b.error && a.memory == b.memory && a.product_serial == b.product_serial &&
           a.product_uuid == b.product_uuid && a.board_serial == b.board_serial &&
           a.chassis_serial == b.chassis_serial && a.max_capacity == b.max_capacity &&
           a.num_slots == b.num_slots;
}

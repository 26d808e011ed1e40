// The rules that group the input interfaces of one physical device, name the group and say
// what kind of device it is.
#pragma once

#include "hw/input_devices.h"

namespace hw {

// Interfaces with the same bus, ids and parent device form one group; this is its key.
std::string input_device_key(const InputDevice& dev);

struct InputGroup {
    std::string key;
    std::vector<InputDevice> members; // in file order
};

// Groups in ascending key order.
std::vector<InputGroup> group_input_devices(const std::vector<InputDevice>& devices);

// Kinds are catalog keys ("value.keyboard"…); the collector translates them.
const char* input_kind(const InputDevice& dev);
// Position of the kind in the overview's ranking (touchpads first); 100 for other texts.
int input_kind_rank(std::string_view kind);
// The best ranked kind of the members.
const char* input_group_kind(const std::vector<InputDevice>& members);
// The members' common name: "Logitech USB Receiver" for the receiver and its
// "… Consumer Control" interface.
std::string input_group_name(const std::vector<InputDevice>& members);

// The kernel's name of a bus type (BUS_USB is 0x03 → "USB"); empty when unknown.
std::string input_bus_name(uint32_t code);
// The first "eventN" handler, or empty.
std::string input_event_node(const InputDevice& dev);
// Names of the event types set in an EV bitmap, as the kernel's input-event-codes call
// them: "SYN, KEY, MSC, LED, REP" for 0x120013.
std::string input_event_type_names(uint64_t ev);

} // namespace hw

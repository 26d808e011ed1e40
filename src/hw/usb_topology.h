// The USB topology from the kernel's directory names (usb1 is the root hub of bus 1, 1-2.3
// is port 3 of the hub on port 2 of bus 1), speeds and their generation names, and the
// controller card records built from it.
#pragma once

#include "hw/visuals.h"

#include <map>
#include <string>
#include <vector>

namespace hw {

// "usb" and a bus number.
bool usb_is_root_hub_name(const std::string& name);
// A bus number, "-", and port numbers separated by "." (1-2, 1-2.3). Interfaces (1-2:1.0)
// and anything else are no devices.
bool usb_is_device_name(const std::string& name);
// The bus number of a root hub or device name; empty for other names.
std::string usb_bus_of(const std::string& name);

// Each device below its parent: the nearest hub that exists among `names` (1-2.3 under 1-2,
// 1-2 under usb1). A device whose bus has no root hub is listed under "". Children keep the
// order of `names`, which list_dir gives in natural order (1-2 before 1-2.4 before 1-10).
std::map<std::string, std::vector<std::string>> usb_children(const std::vector<std::string>& names);

std::string usb_gen_name(double mbit);
// The "speed" attribute as Mbit/s; 0 when it is empty or no number ("unknown").
double usb_mbit(const std::string& speed);
// "480 Mbit/s  (USB 2.0 High-Speed)"; "1.5 Mbit/s  (USB 1.0 Low-Speed)"; the text itself
// when it is no speed; empty for empty text.
std::string usb_speed_text(const std::string& speed);
// The mA of "bMaxPower" ("500mA", "  0mA"); 0 when it holds no number.
int usb_power_ma(const std::string& max_power);

// One root hub as the collector read it.
struct UsbRootHub {
    std::string port;       // usb1
    std::string number;     // busnum text
    std::string controller; // the controller's identity (the root hub's "serial")
    std::string name;       // controller name
    std::string vendor;     // controller vendor
    std::string speed;      // "speed" attribute text
};

// Controller records: the root hubs grouped by controller, buses by bus number, controllers
// by their first bus. `devices` holds the card record of every device name in `children`.
std::vector<UsbControllerVisual>
usb_controller_visuals(const std::vector<UsbRootHub>& roots,
                       const std::map<std::string, std::vector<std::string>>& children,
                       const std::map<std::string, UsbDeviceVisual>& devices);

} // namespace hw

#include "hw/input_groups.h"

#include "util.h"

#include <map>

namespace hw {

namespace {

// Event types (EV_*) from the kernel's input-event-codes.
struct EventType {
    unsigned bit;
    const char* name;
};
const EventType event_types[] = {
    {0x00, "SYN"}, {0x01, "KEY"}, {0x02, "REL"}, {0x03, "ABS"}, {0x04, "MSC"}, {0x05, "SW"},
    {0x11, "LED"}, {0x12, "SND"}, {0x14, "REP"}, {0x15, "FF"},  {0x16, "PWR"}, {0x17, "FF_STATUS"},
};

constexpr unsigned ev_key = 1, ev_rel = 2, ev_abs = 3, ev_sw = 5, ev_ff = 0x15;

bool has(uint64_t bits, unsigned bit) {
    return (bits >> bit) & 1;
}

// Most specific first: a touchpad also has keys and a mouse interface.
const char* const kind_order[] = {
    "value.touchpad",     "value.touchscreen", "value.gamepad", "value.keyboard",     "value.mouse",
    "value.touch_device", "value.switch",      "value.button",  "value.input_device",
};

// Names that mark buttons and jacks, which also report keys or switches.
const char* const button_words[] = {
    "power button",     "sleep button",   "lid switch", "video bus",  "hotkey",       "wmi hotkeys",
    "headphone",        "hdmi",           "jack",       "pc speaker", "audio device", "usb audio",
    "consumer control", "system control",
};

std::string common_prefix(const std::string& a, const std::string& b) {
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return a.substr(0, n);
}

} // namespace

std::string input_device_key(const InputDevice& dev) {
    const std::string& s = dev.sysfs;
    std::string parent;
    // Devices under /devices/virtual (uinput, WMI hotkeys) have no physical parent: cutting
    // their path would leave "/devices/virtual" and merge unrelated devices.
    if (util::starts_with(s, "/devices/virtual/")) {
        parent = s;
    } else {
        size_t cut = s.rfind("/input");
        parent = cut == std::string::npos ? s : s.substr(0, cut);
    }
    return dev.bus + ":" + dev.vendor + ":" + dev.product + ":" + parent;
}

std::vector<InputGroup> group_input_devices(const std::vector<InputDevice>& devices) {
    std::map<std::string, std::vector<InputDevice>> by_key;
    for (const auto& d : devices)
        by_key[input_device_key(d)].push_back(d);
    std::vector<InputGroup> out;
    for (auto& [key, members] : by_key)
        out.push_back({key, std::move(members)});
    return out;
}

const char* input_kind(const InputDevice& dev) {
    std::string name = util::lower(dev.name);
    auto says = [&](const char* word) { return name.find(word) != std::string::npos; };
    if (says("touchpad")) return "value.touchpad";
    if (says("touchscreen")) return "value.touchscreen";
    if (says("keyboard")) return "value.keyboard";
    if (says("mouse")) return "value.mouse";
    for (const char* word : button_words)
        if (says(word)) return "value.button";

    uint64_t ev = input_bits_low(dev, "EV");
    if (has(ev, ev_ff)) return "value.gamepad";
    if (has(ev, ev_abs) && has(ev, ev_key)) return "value.touch_device";
    if (has(ev, ev_rel) && has(ev, ev_key)) return "value.mouse";
    if (has(ev, ev_key)) return "value.keyboard";
    if (has(ev, ev_sw)) return "value.switch";
    return "value.input_device";
}

int input_kind_rank(std::string_view kind) {
    for (size_t i = 0; i < std::size(kind_order); ++i)
        if (kind == kind_order[i]) return static_cast<int>(i);
    return 100;
}

const char* input_group_kind(const std::vector<InputDevice>& members) {
    const char* best = "value.input_device";
    for (const auto& m : members) {
        const char* kind = input_kind(m);
        if (input_kind_rank(kind) < input_kind_rank(best)) best = kind;
    }
    return best;
}

std::string input_group_name(const std::vector<InputDevice>& members) {
    if (members.empty()) return {};
    const std::string& first = members.front().name;
    std::string prefix = first;
    for (const auto& m : members)
        prefix = common_prefix(prefix, m.name);
    for (const auto& m : members)
        if (m.name == prefix) return prefix;

    // Cut at a word boundary: "Logitech USB Receiver Mouse" and "… Consumer Control" share
    // "Logitech USB Receiver ", not "Logitech USB Receiver M".
    size_t space = prefix.rfind(' ');
    prefix = space == std::string::npos ? std::string() : prefix.substr(0, space);
    while (!prefix.empty() && (prefix.back() == ' ' || prefix.back() == ',' ||
                               prefix.back() == '-' || prefix.back() == '/'))
        prefix.pop_back();
    return prefix.size() <= 2 ? first : prefix;
}

std::string input_bus_name(uint32_t code) {
    switch (code) {
    case 0x01:
        return "PCI";
    case 0x02:
        return "ISA PnP";
    case 0x03:
        return "USB";
    case 0x04:
        return "HIL";
    case 0x05:
        return "Bluetooth";
    case 0x06:
        return "Virtual";
    case 0x10:
        return "ISA";
    case 0x11:
        return "i8042 (PS/2)";
    case 0x12:
        return "XT";
    case 0x13:
        return "RS232";
    case 0x14:
        return "Gameport";
    case 0x15:
        return "Parport";
    case 0x16:
        return "Amiga";
    case 0x17:
        return "ADB";
    case 0x18:
        return "I2C";
    case 0x19:
        return "Host";
    case 0x1A:
        return "GSC";
    case 0x1B:
        return "Atari";
    case 0x1C:
        return "SPI";
    case 0x1D:
        return "RMI";
    case 0x1E:
        return "CEC";
    case 0x1F:
        return "Intel ISHTP";
    case 0x20:
        return "AMD SFH";
    default:
        return {};
    }
}

std::string input_event_node(const InputDevice& dev) {
    for (const auto& word : util::split(dev.handlers, ' '))
        if (util::starts_with(word, "event")) return word;
    return {};
}

std::string input_event_type_names(uint64_t ev) {
    std::vector<std::string> names;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if (!has(ev, bit)) continue;
        std::string name = "0x" + util::to_hex(bit, 2);
        for (const auto& t : event_types)
            if (t.bit == bit) name = t.name;
        names.push_back(name);
    }
    return util::join(names, ", ");
}

} // namespace hw

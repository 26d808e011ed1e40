// The power-supply branch: batteries, mains adapters, USB power-delivery ports and the
// batteries of peripherals, from the power-supply class in sysfs.
#include "hw/hardware.h"
#include "util.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace hw {

namespace {

const char* const supply_root = "/sys/class/power_supply";
const char* const battery_icon = "\U0001F50B";
const char* const plug_icon = "\U0001F50C";

// A supply's attribute, trimmed. Rows, the health figure and the summary ask for the same
// files: each is read once per collection.
std::string value_of(const std::string& dir, const std::string& attr) {
    return util::read_file_shared(dir + "/" + attr);
}

std::string text_of(const std::string& dir, const std::string& attr) {
    return util::read_text_shared(dir + "/" + attr);
}

void add_text(Section& s, const std::string& label, const std::string& dir,
              const std::string& attr) {
    s.add(label, text_of(dir, attr), attr);
}

// The class reports whole numbers; a value that does not read as one has no row, rather
// than a row that pretends to be 0.
std::optional<double> number_of(const std::string& dir, const std::string& attr) {
    std::string text = value_of(dir, attr);
    double v = util::to_double(text, NAN);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

// Voltages, currents, charges, energies and power are in µV, µA, µAh, µWh and µW. Currents
// and power are signed: negative while the battery discharges.
void add_micro(Section& s, const char* key, const std::string& dir, const std::string& attr,
               int decimals, const char* unit) {
    if (auto v = number_of(dir, attr))
        s.add(tr(key), util::fmt_double(*v / 1e6, decimals) + " " + unit, attr);
}

// Returns the value shown, so a caller that needs it too does not read the file again.
std::optional<double> add_percent(Section& s, const char* key, const std::string& dir,
                                  const std::string& attr) {
    auto v = number_of(dir, attr);
    if (v) s.add(tr(key), util::fmt_double(*v, 0) + " %", attr);
    return v;
}

// time_to_empty_now and time_to_full_now count seconds; 0 means the driver has no estimate.
void add_duration(Section& s, const char* key, const std::string& dir, const std::string& attr) {
    auto v = number_of(dir, attr);
    if (!v || *v <= 0) return;
    // Beyond this the value is garbage; the formatter still gets a number it can print.
    double seconds = std::min(*v, 1e15);
    s.add(tr(key), util::fmt_duration(static_cast<uint64_t>(seconds)), attr);
}

// Newer kernels name the thresholds charge_control_*; ThinkPads before them used
// charge_start_threshold and charge_stop_threshold.
void add_threshold(Section& s, const char* key, const std::string& dir, const std::string& attr,
                   const std::string& old_attr) {
    const std::string& used = value_of(dir, attr).empty() ? old_attr : attr;
    add_percent(s, key, dir, used);
}

// Full over design from one family only: charges (µAh) and energies (µWh) must not be mixed.
std::optional<double> health_percent(const std::string& dir) {
    for (const char* family : {"energy", "charge"}) {
        auto full = number_of(dir, std::string(family) + "_full");
        auto design = number_of(dir, std::string(family) + "_full_design");
        if (full && design && *full > 0 && *design > 0) return *full * 100.0 / *design;
    }
    return std::nullopt;
}

// Now over full from one family, for batteries without a capacity file (some ACPI and
// fuel-gauge drivers): the level every battery applet shows, capped at 100 % as a gauge that
// has not yet learnt the full charge may read above it.
std::optional<std::pair<double, std::string>> derived_level(const std::string& dir) {
    for (const char* family : {"energy", "charge"}) {
        std::string now_attr = std::string(family) + "_now";
        std::string full_attr = std::string(family) + "_full";
        auto now = number_of(dir, now_attr);
        auto full = number_of(dir, full_attr);
        if (now && full && *now >= 0 && *full > 0)
            return std::pair{std::min(*now * 100.0 / *full, 100.0), now_attr + " / " + full_attr};
    }
    return std::nullopt;
}

void add_battery(Node& n, const std::string& dir) {
    Section& s = n.section(tr("sec.battery"));
    auto capacity = add_percent(s, "f.charge_level", dir, "capacity");
    if (!capacity) {
        if (auto level = derived_level(dir)) {
            capacity = level->first;
            s.add(tr("f.charge_level"), util::fmt_double(*capacity, 0) + " %", level->second);
        }
    }
    add_text(s, tr("f.capacity_level"), dir, "capacity_level");
    add_micro(s, "f.energy_now", dir, "energy_now", 2, "Wh");
    add_micro(s, "f.energy_full", dir, "energy_full", 2, "Wh");
    add_micro(s, "f.energy_design", dir, "energy_full_design", 2, "Wh");
    add_micro(s, "f.charge_now", dir, "charge_now", 3, "Ah");
    add_micro(s, "f.charge_full", dir, "charge_full", 3, "Ah");
    add_micro(s, "f.charge_design", dir, "charge_full_design", 3, "Ah");
    if (auto health = health_percent(dir))
        s.add(tr("f.health"), util::fmt_percent(*health, 1), "full / design");
    add_micro(s, "f.voltage_now", dir, "voltage_now", 3, "V");
    add_micro(s, "f.voltage_design", dir, "voltage_min_design", 3, "V");
    add_micro(s, "f.power_now", dir, "power_now", 2, "W");
    add_micro(s, "f.current_now", dir, "current_now", 3, "A");
    add_text(s, tr("f.cycle_count"), dir, "cycle_count");
    if (auto tenths = number_of(dir, "temp"))
        s.add(tr("f.temperature"), util::fmt_double(*tenths / 10.0, 1) + " °C", "temp");
    add_threshold(s, "f.charge_start_threshold", dir, "charge_control_start_threshold",
                  "charge_start_threshold");
    add_threshold(s, "f.charge_end_threshold", dir, "charge_control_end_threshold",
                  "charge_stop_threshold");
    add_duration(s, "f.time_to_empty", dir, "time_to_empty_now");
    add_duration(s, "f.time_to_full", dir, "time_to_full_now");

    if (capacity) {
        n.summary = util::fmt_double(*capacity, 0) + " %";
        std::string status = text_of(dir, "status");
        if (!status.empty()) n.summary += "  " + status;
    }
}

void add_supply(Node& n, const std::string& dir) {
    Section& s = n.section(tr("sec.supply"));
    add_micro(s, "f.voltage_now", dir, "voltage_now", 3, "V");
    add_micro(s, "f.current_now", dir, "current_now", 3, "A");
    add_micro(s, "f.power_now", dir, "power_now", 2, "W");
    add_text(s, tr("f.usb_type"), dir, "usb_type");

    // 1 is online with a fixed supply, 2 online and programmable (USB PD PPS); only 0 is
    // offline. A supply without the attribute says nothing about it.
    std::string online = value_of(dir, "online");
    if (!online.empty()) n.summary = online == "0" ? tr("value.offline") : tr("value.online");
}

} // namespace

void collect_power(Node& root) {
    std::vector<std::string> names = util::list_dir(supply_root);
    if (names.empty()) return;
    Node* power = root.add_child("power", tr("tree.power"), battery_icon);

    for (const auto& raw_name : names) {
        std::string dir = std::string(supply_root) + "/" + raw_name;
        if (!util::is_dir(dir)) continue;
        std::string name = util::valid_utf8(raw_name);
        std::string type = text_of(dir, "type");
        bool battery = type == "Battery";
        // A UPS reports its charge and run time as a battery does; shown as a plain supply it
        // said only "Online", even while it ran on that battery.
        bool stores_charge = battery || type == "UPS";
        Node* n = power->add_child("power." + name, type.empty() ? name : name + "  " + type,
                                   battery ? battery_icon : plug_icon);

        Section& device = n->section(tr("sec.device"));
        device.add(tr("f.name"), name);
        device.add(tr("f.type"), type, "type");
        add_text(device, tr("f.manufacturer"), dir, "manufacturer");
        add_text(device, tr("f.model"), dir, "model_name");
        add_text(device, tr("f.serial"), dir, "serial_number");
        add_text(device, tr("f.technology"), dir, "technology");
        for (auto [key, attr] : {std::pair{"f.present", "present"}, {"f.online", "online"}})
            if (std::string v = value_of(dir, attr); !v.empty())
                device.add(tr(key), yesno(v != "0"), attr);
        add_text(device, tr("f.status"), dir, "status");

        if (stores_charge)
            add_battery(*n, dir);
        else
            add_supply(*n, dir);
    }
}

} // namespace hw

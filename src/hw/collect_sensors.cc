// The "sensors" branch: hardware-monitoring chips, thermal zones and power-capping domains,
// each read once. Nothing here needs administrator rights except the energy counters of
// newer kernels, which are shown locked.
#include "hw/hardware.h"
#include "hw/hwmon.h"
#include "util.h"

#include <cmath>
#include <set>

namespace hw {

namespace {

const char* const sensor_icon = "\U0001F321\uFE0F";

using Formatter = std::string (*)(std::string_view);

struct Group {
    const char* prefix;
    const char* section_key;
    Formatter format;
};

const Group groups[] = {
    {"temp", "sec.temperatures", hwmon::temp_value},
    {"fan", "sec.fans", hwmon::rpm_value},
    {"in", "sec.voltages", hwmon::volt_value},
    {"curr", "sec.currents", hwmon::curr_value},
    {"power", "sec.power_draw", hwmon::power_value},
    {"energy", "sec.energy", hwmon::energy_value},
    {"humidity", "sec.humidity", hwmon::humidity_value},
};

struct Kind {
    const char* suffix;
    const char* word;
};

const Kind kinds[] = {{"_min", "min"}, {"_max", "max"}, {"_crit", "crit"}, {"_alarm", "alarm"}};

// A chip flags either the channel (temp1_alarm, above) or each limit that was crossed; coretemp
// and most monitoring ICs do the latter, so an overheating core had no alarm in its note.
const Kind limit_alarms[] = {{"_lcrit_alarm", "lcrit alarm"},
                             {"_min_alarm", "min alarm"},
                             {"_max_alarm", "max alarm"},
                             {"_crit_alarm", "crit alarm"},
                             {"_emergency_alarm", "emergency alarm"},
                             {"_cap_alarm", "cap alarm"}};

// Microjoules as joules; garbage gives no row rather than "0.0 J".
std::string joules(const std::string& raw) {
    double uj = util::to_double(raw, NAN);
    return std::isfinite(uj) ? util::fmt_double(uj / 1e6, 1) + " J" : std::string();
}

// `present` holds the same names as `entries`: the fault and limit alarm files are looked up
// there, as most chips have none of them.
void collect_channels(Node& chip, const std::string& dir, const std::vector<std::string>& entries,
                      const std::set<std::string>& present, const Group& group, double& highest) {
    auto flag_set = [&](const std::string& file) {
        return present.count(file) > 0 && util::read_file(dir + "/" + file) == "1";
    };
    Section rows{tr(group.section_key), {}};
    bool temperatures = std::string_view(group.prefix) == "temp";
    for (const auto& ch : hwmon::channels(entries, group.prefix)) {
        std::string raw = util::read_file(dir + "/" + ch.reading);
        std::string value = group.format(raw);
        if (value.empty()) continue;
        // An open diode or an unplugged fan: the chip says the reading is not to be trusted,
        // and an unconnected input often reads far above any real temperature.
        bool fault = flag_set(ch.stem + "_fault");
        if (auto t = hwmon::display_value(raw, group.prefix);
            temperatures && !fault && t && *t > highest)
            highest = *t;
        std::string label = util::read_text(dir + "/" + ch.stem + "_label");
        if (label.empty()) label = ch.stem;
        std::vector<std::string> notes;
        if (fault) notes.emplace_back("fault");
        for (const auto& kind : kinds) {
            std::string limit = util::read_file(dir + "/" + ch.stem + kind.suffix);
            if (limit.empty()) continue;
            if (std::string_view(kind.suffix) == "_alarm") {
                if (limit == "1") notes.push_back(kind.word);
                continue;
            }
            std::string shown = group.format(limit);
            if (!shown.empty()) notes.push_back(std::string(kind.word) + " " + shown);
        }
        for (const auto& kind : limit_alarms)
            if (flag_set(ch.stem + kind.suffix)) notes.emplace_back(kind.word);
        rows.add(label, value, util::join(notes, ", "));
    }
    // A group the chip does not have leaves no empty section behind.
    if (!rows.empty()) chip.sections.push_back(std::move(rows));
}

// A case switch has no reading, only its alarm: set once the case was opened, until someone
// clears it. It is what a user checks after a machine came back from service.
void collect_intrusion(Node& chip, const std::string& dir,
                       const std::vector<std::string>& entries) {
    Section rows{tr("sec.intrusion"), {}};
    for (const auto& e : entries) {
        if (!util::starts_with(e, "intrusion") || !util::ends_with(e, "_alarm")) continue;
        std::string stem = e.substr(0, e.size() - std::string("_alarm").size());
        if (!util::all_digits(std::string_view(stem).substr(std::string("intrusion").size())) ||
            stem.size() == std::string("intrusion").size())
            continue;
        std::string flag = util::read_file(dir + "/" + e);
        if (flag != "0" && flag != "1") continue;
        rows.add(stem, yesno(flag == "1"), e);
    }
    if (!rows.empty()) chip.sections.push_back(std::move(rows));
}

void add_chip(Node& sensors, const std::string& entry, double& highest) {
    std::string d = "/sys/class/hwmon/" + entry;
    std::string dir = hwmon::attribute_dir(d);
    std::string name = util::read_text(dir + "/name");
    Node* chip = sensors.add_child("hwmon." + entry, name.empty() ? entry : entry + "  " + name,
                                   sensor_icon);
    chip->summary = name;

    Section& s = chip->section(tr("sec.chip"));
    s.add(tr("f.name"), name, "name");
    // The link is relative and may be as short as "../..", so only the resolved path names
    // the device.
    if (!util::read_link_full(d + "/device").empty())
        s.add(tr("f.device"), util::valid_utf8(util::base_name(util::resolve_path(d + "/device"))),
              "device");
    s.add(tr("f.driver"), util::valid_utf8(util::read_link_base(d + "/device/driver")), "driver");
    std::string interval = util::read_file(dir + "/update_interval");
    if (uint64_t ms = util::to_u64(interval, 0); ms > 0)
        s.add(tr("f.update_interval"), util::fmt_int(ms) + " ms", "update_interval");

    auto entries = util::list_dir(dir);
    std::set<std::string> present(entries.begin(), entries.end());
    for (const auto& group : groups)
        collect_channels(*chip, dir, entries, present, group, highest);
    collect_intrusion(*chip, dir, entries);
}

void add_thermal_zones(Node& sensors, const std::vector<std::string>& zones) {
    Node* branch = sensors.add_child("thermal.zones", tr("tree.thermal_zones"), "\U0001F525");
    for (const auto& entry : zones) {
        std::string d = "/sys/class/thermal/" + entry;
        std::string type = util::read_text(d + "/type");
        Node* zone = branch->add_child("thermal." + entry,
                                       type.empty() ? entry : entry + "  " + type, "\U0001F525");
        std::string temperature = hwmon::temp_value(util::read_file(d + "/temp"));
        zone->summary = temperature;
        Section& s = zone->section(tr("sec.overview"));
        s.add(tr("f.type"), type, "type");
        s.add(tr("f.temperature"), temperature, "temp");
        add_sysfs(s, tr("f.policy"), d, "policy");
        add_sysfs(s, tr("f.policies"), d, "available_policies");
        for (const auto& file : util::list_dir(d, "trip_point_")) {
            if (!util::ends_with(file, "_temp")) continue;
            std::string stem = file.substr(0, file.size() - 5);
            std::string label = util::read_text(d + "/" + stem + "_type");
            s.add(label.empty() ? stem : label, hwmon::temp_value(util::read_file(d + "/" + file)),
                  file);
        }
    }
}

void add_powercap(Node& sensors, const std::vector<std::string>& domains) {
    Node* branch = sensors.add_child("powercap", tr("tree.powercap"), "\u26A1");
    for (const auto& entry : domains) {
        std::string d = "/sys/class/powercap/" + entry;
        std::string name = util::read_text(d + "/name");
        Node* domain = branch->add_child("powercap." + entry,
                                         name.empty() ? entry : entry + "  " + name, "\u26A1");
        Section& s = domain->section(tr("sec.overview"));
        s.add(tr("f.name"), name, "name");
        std::string energy_file = d + "/energy_uj";
        if (util::readable(energy_file)) {
            s.add(tr("f.energy_counter"), joules(util::read_file(energy_file)), "energy_uj");
        } else if (util::path_exists(energy_file)) {
            // Readable by root only since Linux 5.10: a lock, not a misleading "0.0 J".
            s.add_locked(tr("f.energy_counter"), "energy_uj");
        }
        // In joules like the counter it bounds, so the two can be compared at a glance.
        s.add(tr("f.max_energy"), joules(util::read_file(d + "/max_energy_range_uj")),
              "max_energy_range_uj");
        add_sysfs_bool(s, tr("f.enabled"), d, "enabled");
        for (const auto& file : util::list_dir(d, "constraint_")) {
            if (!util::ends_with(file, "_power_limit_uw")) continue;
            std::string stem = file.substr(0, file.size() - std::string("_power_limit_uw").size());
            std::string raw = util::read_file(d + "/" + file);
            double uw = util::to_double(raw, NAN);
            if (!std::isfinite(uw)) continue;
            std::string label = util::read_text(d + "/" + stem + "_name");
            std::string window = util::read_file(d + "/" + stem + "_time_window_us");
            constexpr uint64_t unknown = ~uint64_t(0);
            uint64_t us = util::to_u64(window, unknown);
            std::string note = us == unknown ? std::string() : util::fmt_int(us) + " µs";
            s.add(label.empty() ? stem : label, util::fmt_double(uw / 1e6, 1) + " W", note);
        }
    }
}

} // namespace

void collect_sensors(Node& root) {
    auto chips = util::list_dir("/sys/class/hwmon", "hwmon");
    auto zones = util::list_dir("/sys/class/thermal", "thermal_zone");
    auto domains = util::list_dir("/sys/class/powercap");

    Node* sensors = root.add_child("sensors", tr("tree.sensors"), sensor_icon);
    if (chips.empty() && zones.empty() && domains.empty()) {
        std::string hint = snap_permission_hint("hardware-observe");
        sensors->section(tr("sec.status"))
            .add(tr("f.status"), hint.empty() ? std::string(tr("msg.no_sensors")) : hint);
        return;
    }

    double highest = 0;
    for (const auto& entry : chips)
        add_chip(*sensors, entry, highest);
    if (highest > 0) sensors->summary = util::fmt_double(highest, 1) + " °C " + tr("value.max");
    if (!zones.empty()) add_thermal_zones(*sensors, zones);
    if (!domains.empty()) add_powercap(*sensors, domains);
}

} // namespace hw

// The input-device branch: the kernel's input interfaces grouped into physical devices,
// ranked by kind in an overview, one node per device.
#include "hw/collect_input.h"
#include "hw/input_groups.h"
#include "util.h"

#include <algorithm>
#include <unordered_set>

namespace hw {

namespace {

const char* const input_icon = "\u2328\uFE0F";
constexpr uint32_t bus_usb = 0x03;

std::string shown(const std::string& text) {
    return util::valid_utf8(text);
}

// Each text once, in first-seen order. Looked up in a set: a damaged device list can put
// hundreds of thousands of devices into one group.
std::string join_unique(const std::vector<std::string>& texts) {
    std::vector<std::string> kept;
    std::unordered_set<std::string_view> seen;
    for (const auto& t : texts)
        if (!t.empty() && seen.insert(t).second) kept.push_back(t);
    return util::join(kept, ", ");
}

std::string bus_text(const InputDevice& dev) {
    uint32_t code = util::parse_hex(dev.bus, 0);
    std::string name = input_bus_name(code);
    if (name.empty() && code != 0) name = "0x" + util::to_hex(code, 4);
    return name;
}

// Vendor and product ids are USB-IF numbers only on USB; elsewhere (PS/2, I2C, the ACPI
// buttons) the same digits mean something else entirely.
void add_id(Section& s, const char* key, const std::string& text, const std::string& name) {
    if (text.empty()) return;
    std::string value = "0x" + util::to_hex(util::parse_hex(text, 0), 4);
    if (!name.empty()) value += "  (" + name + ")";
    s.add(tr(key), shown(value), name.empty() ? "" : "usb.ids");
}

void fill_group(Node& n, const std::vector<InputDevice>& members, const Ids& ids) {
    const InputDevice& first = members.front();

    Section& ident = n.section(tr("sec.identification"));
    std::vector<std::string> names, kinds;
    for (const auto& m : members) {
        names.push_back(m.name);
        kinds.push_back(tr(input_kind(m)));
    }
    ident.add(tr("f.name"), shown(join_unique(names)));
    ident.add(tr("f.type"), join_unique(kinds));
    ident.add(tr("f.bus"), bus_text(first));
    std::string vendor_name, product_name;
    uint32_t vendor = util::parse_hex(first.vendor, 0), product = util::parse_hex(first.product, 0);
    if (util::parse_hex(first.bus, 0) == bus_usb && vendor != 0) {
        vendor_name = ids.usb_vendor(vendor);
        product_name = ids.usb_device(vendor, product);
    }
    add_id(ident, "f.vendor_id", first.vendor, vendor_name);
    add_id(ident, "f.product_id", first.product, product_name);
    ident.add(tr("f.version"), shown(first.version));
    ident.add(tr("f.unique_id"), shown(first.uniq));

    Section& conn = n.section(tr("sec.connection"));
    conn.add(tr("f.phys"), shown(first.phys));
    conn.add(tr("f.sysfs"), shown(first.sysfs));
    conn.add(tr("f.interfaces"), util::fmt_int(members.size()));
    for (const auto& m : members) {
        std::string node = input_event_node(m);
        if (node.empty()) continue;
        conn.add(shown("/dev/input/" + node),
                 shown(std::string(tr(input_kind(m))) + "  ·  " + m.name));
    }

    Section& caps = n.section(tr("sec.capabilities"));
    // Event types end at 0x1f, so the lowest word holds them all on every kernel.
    uint32_t ev = 0;
    std::vector<std::string> handlers;
    for (const auto& m : members) {
        ev |= static_cast<uint32_t>(input_bits_low(m, "EV"));
        for (const auto& h : util::split(m.handlers, ' '))
            handlers.push_back(h);
    }
    if (ev != 0)
        caps.add(tr("f.event_types"),
                 input_event_type_names(ev) + "  (0x" + util::to_hex(ev, 1) + ")");
    std::string joined = join_unique(handlers);
    caps.add(tr("f.handlers"), shown(joined));
}

struct Row {
    int rank;
    std::string kind;
    std::string text;
};

} // namespace

void collect_input_with(Node& root, const Ids& ids) {
    // An unreadable file gives a branch with no devices.
    auto devices = parse_input_devices(util::read_file_raw("/proc/bus/input/devices"));
    std::vector<InputGroup> groups = group_input_devices(devices);
    Node* input = root.add_child("input", tr("tree.input"), input_icon);
    input->summary = groups.size() == 1
                         ? std::string(tr("summary.one_device"))
                         : I18n::trf("summary.n_devices", static_cast<int>(groups.size()));

    std::vector<Row> rows;
    for (const auto& g : groups) {
        const char* kind = input_group_kind(g.members);
        std::string text = shown(input_group_name(g.members));
        if (text.empty()) text = tr("value.input_device");
        std::string bus = bus_text(g.members.front());
        if (!bus.empty()) text += "  ·  " + bus;
        rows.push_back({input_kind_rank(kind), tr(kind), text});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.rank < b.rank; });
    Section& overview = input->section(tr("sec.overview"));
    for (const auto& r : rows)
        overview.add(r.kind, r.text);

    for (size_t i = 0; i < groups.size(); ++i) {
        const auto& members = groups[i].members;
        std::string title = shown(input_group_name(members));
        if (title.empty()) title = tr("value.input_device");
        Node* n = input->add_child("input." + std::to_string(i), title, input_icon);
        n->summary = tr(input_group_kind(members));
        fill_group(*n, members, ids);
    }
}

void collect_input(Node& root) {
    collect_input_with(root, Ids::instance());
}

} // namespace hw

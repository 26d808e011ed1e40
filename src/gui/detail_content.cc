#include "gui/detail_content.h"

#include "i18n.h"
#include "util.h"

#include <algorithm>

namespace detail {

namespace {

bool contains(const std::string& text, const std::string& needle_lower) {
    return util::fold_case(text).find(needle_lower) != std::string::npos;
}

bool has_items(const hw::Node& n) {
    for (const auto& s : n.sections)
        if (!s.items.empty()) return true;
    return false;
}

// Height cap of a panel that shares the pane with the table: most of the pane, so the
// table below keeps a few rows.
int shared_cap(int paned_height) {
    return paned_height > 200 ? static_cast<int>(paned_height * 0.62) : 420;
}

} // namespace

std::string locked_value_text() {
    return std::string("\xF0\x9F\x94\x92") + "  " + tr("msg.click_to_unlock");
}

std::vector<SectionRows> rows_for(const hw::Node& n, const std::string& filter,
                                  const Palette& palette) {
    const std::string section_bg =
        mix_hex(palette.accent, palette.panel, palette.dark ? 0.22 : 0.13);
    const std::string stripe_bg = mix_hex(palette.text, palette.panel, 0.05);
    const bool node_matches =
        filter.empty() || contains(n.title, filter) || contains(n.summary, filter);

    std::vector<SectionRows> out;
    for (const auto& s : n.sections) {
        if (s.items.empty()) continue;
        const bool section_matches = node_matches || contains(s.title, filter);
        SectionRows rows;
        rows.header = {s.title, "", "", 700, true, section_bg, palette.accent, false};
        for (const auto& item : s.items) {
            if (!section_matches && !contains(item.name, filter) && !contains(item.value, filter))
                continue;
            bool odd = rows.items.size() % 2 == 1;
            Row r;
            r.name = item.name;
            r.value = item.needs_root ? locked_value_text() : item.value;
            r.source = item.note;
            r.background = odd ? std::optional<std::string>(stripe_bg) : std::nullopt;
            r.foreground = item.needs_root ? palette.accent : palette.text;
            r.locked = item.needs_root;
            rows.items.push_back(std::move(r));
        }
        if (!rows.items.empty()) out.push_back(std::move(rows));
    }
    return out;
}

bool node_or_child_matches(const hw::Node& n, const std::string& filter) {
    if (n.matches(filter)) return true;
    for (const auto& c : n.children)
        if (node_or_child_matches(*c, filter)) return true;
    return false;
}

Plan plan(const Input& in, const Panels& panels) {
    Plan p;
    const hw::Node* n = in.node;
    if (!n) return p; // only the empty table

    const bool rows = has_items(*n);
    const int card_width = std::max(in.table_width, 320);

    if (in.filter_empty && in.missing_hardware_observe) {
        if (n->id == "sensors")
            p.preview = Preview::sensors;
        else if (n->id == "storage" && n->disks.empty())
            p.preview = Preview::disks;
    }
    bool full_pane = p.preview != Preview::none;

    if (panels.process_view &&
        (n->id == "tools" || n->id == "tools.processes" || n->id == "tools.terminal")) {
        p.process_view = true;
        full_pane = true;
    }

    bool disks = !n->disks.empty() && panels.disks_height;
    if (disks) {
        int needed = panels.disks_height();
        p.disks = {true, !rows, needed, std::min(needed, rows ? shared_cap(in.paned_height) : 240)};
    }

    if (!n->usb.empty() && in.filter_empty && panels.usb_height) {
        int needed = panels.usb_height(card_width);
        p.usb = {true, true, needed, std::min(needed, 240)};
        full_pane = true;
    }

    if (n->id == "network" && panels.net_height) {
        int needed = panels.net_height();
        if (in.filter_empty) {
            p.net = {true, true, needed, std::min(needed, 240)};
            full_pane = true;
        } else {
            p.net = {true, false, needed, std::min(needed, shared_cap(in.paned_height))};
        }
    }

    // The graphs take the whole pane like the other full-pane panels; the table must not
    // reappear beside them.
    if (n->id == "sensors" && p.preview == Preview::none && panels.sensors_height) {
        int needed = panels.sensors_height(card_width);
        p.sensors = {true, true, needed, std::min(needed, 240)};
        full_pane = true;
    }

    if (full_pane)
        p.table = false;
    else if (disks)
        p.table = rows;
    else
        p.table = true;
    return p;
}

Click classify_click(unsigned button, PressKind kind, bool on_row, bool row_locked,
                     bool clicks_blocked) {
    if (clicks_blocked) return Click::swallow;
    if (!on_row) return Click::pass;
    if (button == 3) return kind == PressKind::single ? Click::context_menu : Click::pass;
    if (button != 1) return Click::pass;
    if (row_locked) return kind == PressKind::single ? Click::elevate : Click::swallow;
    if (kind == PressKind::double_) return Click::copy_value;
    return Click::pass;
}

} // namespace detail

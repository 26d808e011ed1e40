#include "gui/sensorview.h"

#include "gui/draw_util.h"
#include "hw/hardware.h"
#include "i18n.h"
#include "util.h"

namespace sensorview {

namespace {

constexpr double card_height = 78, row_pitch = 86, gap = 10;

std::string value_colour(const live::SensorChannel& c, const Palette& p) {
    if (!c.current) return p.dim;
    if (auto f = live::ramp_position(c)) return rgb_to_hex(load_ramp(p, *f));
    return p.accent;
}

// The chip, and the critical threshold where the chip sets one.
std::string chip_line(const live::SensorChannel& c) {
    if (c.crit == 0) return c.chip;
    std::string crit = "crit " + live::value_text(c.kind, c.crit);
    return c.chip.empty() ? crit : c.chip + "  \u00B7  " + crit;
}

void draw_card(cairo_t* cr, double x, double y, double cw, const live::SensorChannel& c,
               const Palette& p) {
    draw::card(cr, x, y, cw, card_height, p);
    const std::string colour = value_colour(c, p);

    draw::font(cr, 17, true);
    draw::set_hex(cr, colour);
    const double value_w = draw::text(cr, x + cw - 10, y + 28, live::reading_text(c), true);
    const double room = cw - 20 - value_w - 8;

    draw::font(cr, 11.5);
    draw::set_hex(cr, p.text);
    draw::text(cr, x + 10, y + 17, draw::elide(cr, c.label, room));
    draw::font(cr, 9);
    draw::set_hex(cr, p.dim);
    draw::text(cr, x + 10, y + 30, draw::elide(cr, chip_line(c), room));

    const double gx = x + 10, gy = y + 38, gw = cw - 20, gh = 30;
    cairo_rectangle(cr, gx, gy, gw, gh);
    draw::set_grey(cr, p, p.dark ? 0.10 : 0.05);
    cairo_fill(cr);
    auto [lo, hi] = live::graph_range(c);
    draw::history(cr, gx, gy, gw, gh, c.history, lo, hi, false, colour, 0.3);
    draw::font(cr, 8);
    draw::set_hex(cr, p.dim, 0.85);
    draw::text(cr, gx + 4, gy + 10, live::range_text(c));
}

} // namespace

void draw(cairo_t* cr, int width, const std::vector<live::SensorChannel>& channels,
          const Palette& p, const std::string& hint) {
    draw::set_hex(cr, p.background);
    cairo_paint(cr);
    if (channels.empty()) {
        draw::set_hex(cr, p.text);
        const double h = draw::paragraph(cr, 10, 28, width - 20, tr("msg.no_sensors"), 12);
        draw::set_hex(cr, p.dim);
        draw::paragraph(cr, 10, 28 + h + 8, width - 20, hint, 11);
        return;
    }
    const double cw = (width - 3 * gap) / 2;
    for (size_t i = 0; i < channels.size(); ++i) {
        const double x = gap + static_cast<double>(i % 2) * (cw + gap);
        const double y = gap + static_cast<double>(i / 2) * row_pitch;
        draw_card(cr, x, y, cw, channels[i], p);
    }
}

std::string describe(const std::vector<live::SensorChannel>& channels, const std::string& hint) {
    if (channels.empty())
        return hint.empty() ? std::string(tr("msg.no_sensors"))
                            : std::string(tr("msg.no_sensors")) + "\n" + hint;
    std::vector<std::string> lines;
    for (const auto& c : channels) {
        std::string line = c.label;
        if (!c.chip.empty()) line += " (" + c.chip + ")";
        line += ": " + live::reading_text(c);
        if (c.crit != 0) line += ", crit " + live::value_text(c.kind, c.crit);
        lines.push_back(std::move(line));
    }
    return util::join(lines, "\n");
}

} // namespace sensorview

GtkWidget* SensorGraphs::build(const Palette& p) {
    return m_live.build(
        p, "tree.sensors",
        [this](cairo_t* cr, int width, const Palette& pal) {
            sensorview::draw(cr, width, m_channels, pal, m_hint);
        },
        [this] { sample(); }, [this] { return sensorview::describe(m_channels, m_hint); });
}

void SensorGraphs::start() {
    m_channels.clear();
    try {
        m_channels = live::scan_sensors();
    } catch (...) {
    }
    m_hint = m_channels.empty() ? hw::snap_permission_hint("hardware-observe") : std::string();
    m_live.start();
}

void SensorGraphs::rescan() {
    try {
        m_channels = live::carry_over(m_channels, live::scan_sensors());
    } catch (...) {
    }
    m_hint = m_channels.empty() ? hw::snap_permission_hint("hardware-observe") : std::string();
    m_live.start();
}

void SensorGraphs::sample() {
    for (auto& c : m_channels)
        live::take_reading(c, util::read_file(c.path));
}

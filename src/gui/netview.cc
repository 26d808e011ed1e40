#include "gui/netview.h"

#include "gui/draw_util.h"
#include "i18n.h"
#include "util.h"

namespace netview {

namespace {

// Receiving and sending have fixed colours, the same on light and dark cards.
const std::string rx_colour = "#3BE08C";
const std::string tx_colour = "#4FD2FF";

constexpr double card_height = 96, card_pitch = 104;

void draw_card(cairo_t* cr, double y, double cw, const live::NetIface& iface, const Palette& p) {
    draw::card(cr, 10, y, cw, card_height, p);

    // The rates first: they are what the card is for, the name gives way to them.
    const double right = 10 + cw - 12;
    draw::font(cr, 12);
    draw::set_hex(cr, tx_colour);
    const double tx_w = draw::text(cr, right, y + 20, "TX " + live::rate_text(iface.tx_rate), true);
    draw::set_hex(cr, rx_colour);
    const double rx_w =
        draw::text(cr, right - tx_w - 14, y + 20, "RX " + live::rate_text(iface.rx_rate), true);
    const double title_room = right - tx_w - 14 - rx_w - 16 - 22;

    draw::font(cr, 14, true);
    draw::set_hex(cr, p.text);
    const double name_w = draw::text(cr, 22, y + 20, draw::elide(cr, iface.name, title_room));
    if (!iface.speed.empty()) {
        draw::font(cr, 10.5);
        if (draw::text_width(cr, iface.speed) <= title_room - name_w - 10) {
            draw::set_hex(cr, p.dim);
            draw::text(cr, 22 + name_w + 10, y + 20, iface.speed);
        }
    }

    draw::font(cr, 9.5);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 22, y + 34,
               "RX " + util::fmt_bytes(iface.rx_total) + "    TX " +
                   util::fmt_bytes(iface.tx_total));

    const double gx = 22, gy = y + 42, gw = cw - 24, gh = 44;
    cairo_rectangle(cr, gx, gy, gw, gh);
    draw::set_hex(cr, p.text, 0.06);
    cairo_fill(cr);
    cairo_rectangle(cr, gx, gy + gh - 1, gw, 1);
    draw::set_hex(cr, p.text, 0.14);
    cairo_fill(cr);
    const double top = live::graph_scale(iface);
    draw::history(cr, gx, gy, gw, gh, iface.rx_history, 0, top, true, rx_colour, 0.35);
    draw::history(cr, gx, gy, gw, gh, iface.tx_history, 0, top, true, tx_colour, 0);
    draw::font(cr, 8.5);
    draw::set_hex(cr, p.dim, 0.8);
    draw::text(cr, 26, y + 52, live::rate_text(top));
}

} // namespace

void draw(cairo_t* cr, int width, const std::vector<live::NetIface>& ifaces, const Palette& p) {
    draw::set_hex(cr, p.background);
    cairo_paint(cr);
    if (ifaces.empty()) {
        draw::set_hex(cr, p.dim);
        draw::paragraph(cr, 10, 28, width - 20, tr("net.none_active"), 12);
        return;
    }
    double y = 10;
    for (const auto& iface : ifaces) {
        if (draw::rows_visible(cr, y, card_height)) draw_card(cr, y, width - 20, iface, p);
        y += card_pitch;
    }
}

std::string describe(const std::vector<live::NetIface>& ifaces) {
    if (ifaces.empty()) return tr("net.none_active");
    std::vector<std::string> lines;
    for (const auto& i : ifaces) {
        std::string line = util::printable(i.name);
        if (!i.speed.empty()) line += " " + i.speed;
        line += ": RX " + live::rate_text(i.rx_rate) + ", TX " + live::rate_text(i.tx_rate) + "; " +
                tr("f.rx_bytes") + " " + util::fmt_bytes(i.rx_total) + ", " + tr("f.tx_bytes") +
                " " + util::fmt_bytes(i.tx_total);
        lines.push_back(std::move(line));
    }
    return util::join(lines, "\n");
}

} // namespace netview

GtkWidget* NetGraphs::build(const Palette& p) {
    return m_live.build(
        p, "tree.network",
        [this](cairo_t* cr, int width, const Palette& pal) {
            netview::draw(cr, width, m_ifaces, pal);
        },
        [this] { sample(); }, [this] { return netview::describe(m_ifaces); });
}

void NetGraphs::start() {
    m_ifaces.clear();
    try {
        m_ifaces = live::scan_interfaces();
    } catch (...) {
    }
    m_read_us = g_get_monotonic_time();
    m_live.start();
}

void NetGraphs::rescan() {
    // The interfaces that stay are read at the scan's moment (or were, if the tick has just
    // read them), so every card counts from then.
    sample();
    try {
        m_ifaces = live::carry_over(m_ifaces, live::scan_interfaces());
    } catch (...) {
    }
    m_live.start();
}

void NetGraphs::sample() {
    // The timer is late whenever the main loop was busy (a dialog, the elevation, a slow
    // collection): the bytes are divided by the time that actually passed.
    const int64_t now = g_get_monotonic_time();
    const double seconds = static_cast<double>(now - m_read_us) / 1e6;
    if (!(seconds >= live::min_traffic_interval_s)) return;
    for (auto& iface : m_ifaces)
        live::advance(iface, live::read_counters(iface.name), seconds);
    m_read_us = now;
}

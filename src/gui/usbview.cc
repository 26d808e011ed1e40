#include "gui/usbview.h"

#include "gui/draw_util.h"
#include "hw/usb_topology.h"
#include "i18n.h"
#include "util.h"

#include <algorithm>
#include <cmath>

namespace usbview {

namespace {

const char* const SEPARATOR = "  \u00B7  ";
constexpr double ROW_HEIGHT = 27;
constexpr double RIGHT_COLUMN = 126;

std::string gen_color(double mbit) {
    if (mbit >= 10000) return "#C061CB";
    if (mbit >= 5000) return "#2EC27E";
    if (mbit >= 480) return "#3584E4";
    return "#9A9996";
}

// The short form of the generation name for the pill: "USB 2.0 High-Speed" gives "USB 2.0".
std::string gen_label(double mbit) {
    if (!(mbit > 0)) return "";
    const std::string name = hw::usb_gen_name(mbit);
    const size_t cut = name.find(' ', name.find(' ') + 1);
    return name.substr(0, cut);
}

std::string class_color(const std::string& cls) {
    static const struct {
        const char* needle;
        const char* colour;
    } table[] = {
        {"hub", "#7E9BB4"},
        {"human interface", "#C061CB"},
        {"mass storage", "#2EC27E"},
        {"audio", "#FF7800"},
        {"video", "#E5537B"},
        {"image", "#E5537B"},
        {"wireless", "#33C7DE"},
        {"printer", "#F5C211"},
        {"communications", "#62A0EA"},
        {"cdc", "#62A0EA"},
        {"smart card", "#B5835A"},
        {"chip", "#B5835A"},
        {"physical", "#33D17A"},
        {"personal healthcare", "#33D17A"},
    };
    const std::string lower = util::lower(cls);
    for (const auto& e : table)
        if (lower.find(e.needle) != std::string::npos) return e.colour;
    return "#3584E4";
}

std::string count_text(size_t count) {
    if (count == 1) return tr("summary.one_device");
    return I18n::trf("summary.n_devices", static_cast<int>(count));
}

std::string title_text(const hw::UsbControllerVisual& c) {
    return c.name.empty() ? std::string(tr("usb.controller")) : c.name;
}

std::string vendor_line(const hw::UsbControllerVisual& c) {
    if (c.id.empty()) return c.vendor;
    return c.vendor.empty() ? c.id : c.vendor + SEPARATOR + c.id;
}

std::string bus_label(const hw::UsbBusVisual& b) {
    return tr("usb.bus") + std::string(" ") + b.number;
}

std::string device_name(const hw::UsbDeviceVisual& d) {
    return d.vendor.empty() ? d.name : d.name + SEPARATOR + d.vendor;
}

std::string power_text(const hw::UsbDeviceVisual& d) {
    return d.power_ma > 0 ? util::fmt_int(static_cast<uint64_t>(d.power_ma)) + " mA" : "";
}

int depth_of(const hw::UsbDeviceVisual& d) {
    return std::max(d.depth, 0);
}

// A device at `level` follows `row` before the subtree holding `row` at that level ends.
bool later_at_level(const std::vector<hw::UsbDeviceVisual>& devices, size_t row, int level) {
    for (size_t j = row + 1; j < devices.size(); ++j)
        if (depth_of(devices[j]) <= level) return depth_of(devices[j]) == level;
    return false;
}

double bus_height(const hw::UsbBusVisual& b) {
    return b.devices.empty() ? 48 : 26 + ROW_HEIGHT * static_cast<double>(b.devices.size());
}

void set_line_colour(cairo_t* cr, const Palette& p) {
    draw::set_hex(cr, p.text, p.dark ? 0.26 : 0.20);
    cairo_set_line_width(cr, 1);
}

void vertical(cairo_t* cr, double x, double y0, double y1) {
    cairo_move_to(cr, x, y0);
    cairo_line_to(cr, x, y1);
    cairo_stroke(cr);
}

void draw_device(cairo_t* cr, const std::vector<hw::UsbDeviceVisual>& devices, size_t i, double ry,
                 double iw, const Palette& p) {
    const hw::UsbDeviceVisual& d = devices[i];
    const double right = 22 + iw;
    const double cy = ry + ROW_HEIGHT / 2;
    const int depth = depth_of(d);
    if (i % 2 == 1) {
        draw::rounded_rect(cr, 22, ry, iw, ROW_HEIGHT, 4);
        draw::set_hex(cr, p.text, p.dark ? 0.055 : 0.035);
        cairo_fill(cr);
    }
    draw::font(cr, 9.5);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 88, cy + 3.5, draw::elide(cr, d.port, 62), true);

    set_line_colour(cr, p);
    const RowLines lines = row_lines(devices, i);
    for (int level : lines.through)
        vertical(cr, level_x(level), ry, ry + ROW_HEIGHT);
    const double own = level_x(depth);
    vertical(cr, own, ry, lines.own_continues ? ry + ROW_HEIGHT : cy);
    cairo_move_to(cr, own, cy + 0.5);
    cairo_line_to(cr, own + 8, cy + 0.5);
    cairo_stroke(cr);

    const double nx = 96 + 15 * depth + 17;
    draw::rounded_rect(cr, nx, cy - 5, 10, 10, 3);
    draw::set_hex(cr, class_color(d.cls), d.is_hub ? 0.55 : 0.95);
    cairo_fill(cr);

    draw::font(cr, 11.5);
    draw::set_hex(cr, p.text);
    const double name_x = nx + 18;
    draw::text(cr, name_x, cy + 4, draw::elide(cr, device_name(d), right - RIGHT_COLUMN - name_x));

    const std::string gen = gen_label(d.mbit);
    if (!gen.empty()) {
        draw::font(cr, 9, true);
        const double pill_x = right - RIGHT_COLUMN + 4;
        const double pill_w = draw::text_width(cr, gen) + 14;
        draw::rounded_rect(cr, pill_x, cy - 7.5, pill_w, 15, 7.5);
        draw::set_hex(cr, gen_color(d.mbit), p.dark ? 0.28 : 0.18);
        cairo_fill(cr);
        draw::set_hex(cr, gen_color(d.mbit));
        draw::text(cr, pill_x + 7, cy + 3.2, gen);
    }
    const std::string power = power_text(d);
    if (!power.empty()) {
        draw::font(cr, 9.5);
        draw::set_hex(cr, p.dim);
        draw::text(cr, right - 8, cy + 3.5, power, true);
    }
}

// Returns the height of the section.
double draw_bus(cairo_t* cr, const hw::UsbBusVisual& b, double by, double iw, const Palette& p) {
    const std::string label = bus_label(b);
    draw::font(cr, 10, true);
    const double pill_w = draw::text_width(cr, label) + 16;
    draw::rounded_rect(cr, 22, by + 3, pill_w, 17, 5);
    draw::set_hex(cr, p.accent, p.dark ? 0.22 : 0.14);
    cairo_fill(cr);
    draw::font(cr, 10);
    draw::set_hex(cr, p.text);
    draw::text(cr, 30, by + 15.5, label);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 22 + pill_w + 8, by + 15.5, draw::elide(cr, b.gen, iw - pill_w - 8));

    if (b.devices.empty()) {
        draw::font(cr, 9.5);
        draw::set_hex(cr, p.dim, 0.8);
        draw::text(cr, 114, by + 39, tr("usb.no_devices"));
        return bus_height(b);
    }
    // The trunk joins the bus label to the devices on the root hub; it ends at the elbow of
    // the last of them, where the rows' own lines end too.
    double trunk_end = by + 26;
    for (size_t i = 0; i < b.devices.size(); ++i)
        if (depth_of(b.devices[i]) == 0)
            trunk_end = by + 26 + ROW_HEIGHT * static_cast<double>(i) + ROW_HEIGHT / 2;
    set_line_colour(cr, p);
    vertical(cr, level_x(0), by + 20, trunk_end);
    for (size_t i = 0; i < b.devices.size(); ++i) {
        const double ry = by + 26 + ROW_HEIGHT * static_cast<double>(i);
        if (draw::rows_visible(cr, ry, ROW_HEIGHT)) draw_device(cr, b.devices, i, ry, iw, p);
    }
    return bus_height(b);
}

void draw_card(cairo_t* cr, double x, double y, double w, const hw::UsbControllerVisual& c,
               const Palette& p) {
    const double iw = w - 24;
    draw::card(cr, x, y, w, card_height(c), p);

    draw::font(cr, 11);
    draw::set_hex(cr, p.dim);
    const double count_w = draw::text(cr, x + w - 12, y + 25, count_text(c.device_count), true);
    draw::font(cr, 14, true);
    draw::set_hex(cr, p.text);
    draw::text(cr, 22, y + 26, draw::elide(cr, title_text(c), iw - count_w - 16));
    draw::font(cr, 10);
    draw::set_hex(cr, p.dim);
    draw::text(cr, 22, y + 44, draw::elide(cr, vendor_line(c), iw));

    // A controller without devices has a card only as tall as its title lines; its buses
    // would be drawn below it.
    if (c.device_count == 0) return;
    double by = y + 56;
    for (size_t j = 0; j < c.buses.size(); ++j) {
        if (j > 0) by += 6;
        by += draw_bus(cr, c.buses[j], by, iw, p);
    }
}

} // namespace

double card_height(const hw::UsbControllerVisual& c) {
    if (c.device_count == 0) return 90;
    if (c.buses.empty()) return 72;
    double h = 68;
    for (size_t j = 0; j < c.buses.size(); ++j)
        h += bus_height(c.buses[j]) + (j > 0 ? 6 : 0);
    return h + 4;
}

double height_for(const std::vector<hw::UsbControllerVisual>& controllers, double) {
    if (controllers.empty()) return 20;
    double h = 10;
    for (const auto& c : controllers)
        h += card_height(c) + 12;
    return h + 10 - 12;
}

double draw(cairo_t* cr, double width, const std::vector<hw::UsbControllerVisual>& controllers,
            const Palette& palette) {
    if (controllers.empty()) return 8;
    double y = 10;
    for (const auto& c : controllers) {
        const double h = card_height(c);
        if (draw::rows_visible(cr, y, h)) draw_card(cr, 10, y, width - 20, c, palette);
        y += h + 12;
    }
    return y - 12 + 10;
}

RowLines row_lines(const std::vector<hw::UsbDeviceVisual>& devices, size_t row) {
    RowLines out;
    if (row >= devices.size()) return out;
    const int depth = depth_of(devices[row]);
    for (int level = 0; level < depth; ++level)
        if (later_at_level(devices, row, level)) out.through.push_back(level);
    out.own_continues = later_at_level(devices, row, depth);
    return out;
}

double level_x(int level) {
    return std::floor(96 + 15 * level + 7) + 0.5;
}

std::string describe(const std::vector<hw::UsbControllerVisual>& controllers) {
    std::string out;
    for (const auto& c : controllers) {
        std::string text = title_text(c);
        const std::string vendor = vendor_line(c);
        if (!vendor.empty()) text += ", " + vendor;
        text += ", " + count_text(c.device_count) + ".";
        if (c.device_count > 0) {
            for (const auto& b : c.buses) {
                text += " " + bus_label(b);
                if (!b.gen.empty()) text += " (" + b.gen + ")";
                text += ":";
                if (b.devices.empty()) text += " " + std::string(tr("usb.no_devices")) + ";";
                for (const auto& d : b.devices) {
                    text += " " + d.port + " " + device_name(d);
                    for (const std::string& part : {gen_label(d.mbit), power_text(d)})
                        if (!part.empty()) text += ", " + part;
                    text += ";";
                }
            }
        }
        out += (out.empty() ? "" : "\n") + text;
    }
    return out;
}

} // namespace usbview

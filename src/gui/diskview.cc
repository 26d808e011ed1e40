#include "gui/diskview.h"

#include "gui/draw_util.h"
#include "i18n.h"
#include "util.h"

#include <algorithm>

namespace diskview {

namespace {

const char* const SLICE_COLORS[8] = {"#3584E4", "#2EC27E", "#F5C211", "#C061CB",
                                     "#FF7800", "#33D17A", "#62A0EA", "#DC8ADD"};
const char* const READ_COLOR = "#3BE08C";
const char* const WRITE_COLOR = "#4FD2FF";
const char* const SEPARATOR = "  \u00B7  ";
const char* const NO_RATE = "\u2013";
constexpr double MIN_SEGMENT = 26;
constexpr double BAR_HEIGHT = 34;

// Model, kind and bus. A separator never leads: the model may be empty.
std::string subtitle(const hw::DiskVisual& d) {
    return draw::in_reading_order({d.model, d.type, d.bus}, SEPARATOR);
}

// Space in use over the partitions whose file systems could be asked. A mounted file system
// that could not be asked (another user's FUSE mount, a captured machine) is still mounted:
// the line then says nothing rather than "not mounted" beside a legend naming its mount point.
std::string usage_text(const hw::DiskVisual& d) {
    uint64_t total = 0, used = 0;
    bool mounted = false;
    for (const auto& p : d.partitions) {
        if (p.has_usage) total += p.bytes, used += p.used;
        mounted = mounted || !p.mountpoint.empty();
    }
    if (total == 0) return mounted ? std::string() : std::string(tr("disk.not_mounted"));
    return draw::isolate(util::fmt_bytes(used)) + " " + tr("disk.of") + " " +
           draw::isolate(util::fmt_bytes(total)) + " " + tr("disk.in_use") + "  (" +
           draw::isolate(util::fmt_percent(
               static_cast<double>(used) * 100.0 / static_cast<double>(total), 0)) +
           ")";
}

std::string legend_text(const hw::PartitionVisual& p) {
    std::string t = p.device + "   " + util::fmt_bytes(p.bytes);
    if (!p.fstype.empty()) t += "   " + p.fstype;
    if (!p.mountpoint.empty()) t += "   " + p.mountpoint;
    if (p.has_usage && p.bytes > 0)
        t += "   " + util::fmt_percent(
                         static_cast<double>(p.used) * 100.0 / static_cast<double>(p.bytes), 0);
    return t;
}

RateLine rate_values(const live::DiskIoRate& r) {
    if (!r.valid) return {NO_RATE, NO_RATE};
    return {rate_text(r.read_bps), rate_text(r.write_bps)};
}

RateLine rate_labels(const RateLine& values) {
    return {tr("disk.read") + std::string("  ") + draw::isolate(values.read),
            tr("disk.write") + std::string("  ") + draw::isolate(values.write)};
}

double used_fraction(const hw::PartitionVisual& p) {
    if (!p.has_usage || p.bytes == 0) return 0;
    return static_cast<double>(p.used) / static_cast<double>(p.bytes);
}

void draw_rates(cairo_t* cr, double y, double h, double iw, double right,
                const live::DiskIoRate& r) {
    const RateLine line = rate_line(cr, iw, r);
    const double baseline = y + h - 15;
    draw::set_hex(cr, WRITE_COLOR);
    const double write_w = draw::text(cr, right, baseline, line.write, true);
    draw::set_hex(cr, READ_COLOR);
    draw::text(cr, right - write_w - 16, baseline, line.read, true);
}

void draw_segments(cairo_t* cr, double yb, double iw, const hw::DiskVisual& d, const Palette& p) {
    const std::vector<double> widths = segment_widths(d.partitions, iw);
    // Too many partitions for their minimum widths would run past the card.
    cairo_save(cr);
    cairo_rectangle(cr, 22, yb, iw, BAR_HEIGHT);
    cairo_clip(cr);
    double x = 22;
    for (size_t i = 0; i < d.partitions.size(); ++i) {
        const hw::PartitionVisual& part = d.partitions[i];
        const char* colour = SLICE_COLORS[i % 8];
        const double sw = std::max(widths[i] - 2, 2.0);
        draw::rounded_rect(cr, x, yb, sw, BAR_HEIGHT, 4);
        draw::set_hex(cr, colour, 0.28);
        cairo_fill(cr);
        const double fraction = used_fraction(part);
        if (fraction > 0) {
            cairo_save(cr);
            draw::rounded_rect(cr, x, yb, sw, BAR_HEIGHT, 4);
            cairo_clip(cr);
            cairo_rectangle(cr, x, yb, std::max(std::min(fraction, 1.0) * sw, 1.0), BAR_HEIGHT);
            draw::set_hex(cr, colour, 0.92);
            cairo_fill(cr);
            cairo_restore(cr);
        }
        draw::rounded_rect(cr, x, yb, sw, BAR_HEIGHT, 4);
        draw::set_hex(cr, colour, 0.9);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);

        draw::font(cr, 10, true);
        const double label_w = draw::text_width(cr, part.device);
        if (label_w + 8 < sw) {
            if (part.has_usage && part.used > part.bytes / 2)
                draw::set_hex(cr, "#FFFFFF");
            else
                draw::set_hex(cr, p.text, 0.85);
            draw::text(cr, x + (sw - label_w) / 2, yb + 20.5, part.device);
        }
        x += widths[i];
    }
    cairo_restore(cr);
}

void draw_legend(cairo_t* cr, double yb, double iw, const hw::DiskVisual& d, const Palette& p) {
    draw::font(cr, 10.5);
    for (size_t i = 0; i < d.partitions.size(); ++i) {
        const double cx = 22 + static_cast<double>(i % 2) * iw / 2;
        const double yl = yb + 50 + 17 * static_cast<double>(i / 2);
        draw::rounded_rect(cr, cx, yl - 8, 9, 9, 2);
        draw::set_hex(cr, SLICE_COLORS[i % 8], 0.9);
        cairo_fill(cr);
        draw::set_hex(cr, p.text, 0.85);
        draw::text(cr, cx + 14, yl, draw::elide(cr, legend_text(d.partitions[i]), iw / 2 - 20));
    }
}

double draw_card(cairo_t* cr, double x, double y, double w, const hw::DiskVisual& d,
                 const Palette& p, const live::DiskRateTable& rates) {
    const double h = card_height(d);
    const double iw = w - 24;
    const double right = x + w - 12;
    draw::card(cr, x, y, w, h, p);
    draw_rates(cr, y, h, iw, right, rates.rate(d.device));

    draw::font(cr, 15, true);
    draw::set_hex(cr, p.text);
    const double title_w = draw::text(cr, 22, y + 26, "/dev/" + d.device);
    draw::set_hex(cr, p.accent);
    const double size_x = right - draw::text(cr, right, y + 26, util::fmt_bytes(d.bytes), true);

    draw::font(cr, 11);
    draw::set_hex(cr, p.dim);
    const double sub_x = 22 + title_w + 12;
    draw::text(cr, sub_x, y + 26, draw::elide(cr, subtitle(d), size_x - 12 - sub_x));
    if (!d.partitions.empty()) draw::text(cr, 22, y + 44, usage_text(d));

    const double yb = y + 52;
    draw::rounded_rect(cr, 22, yb, iw, BAR_HEIGHT, 5);
    draw::set_hex(cr, p.text, p.dark ? 0.10 : 0.07);
    cairo_fill(cr);
    if (d.partitions.empty()) {
        draw::font(cr, 11);
        draw::set_hex(cr, p.dim);
        draw::text(cr, 30, yb + 21, tr("disk.no_partitions"));
        return h;
    }
    draw_segments(cr, yb, iw, d, p);
    draw_legend(cr, yb, iw, d, p);
    return h;
}

} // namespace

double card_height(const hw::DiskVisual& disk) {
    const size_t n = disk.partitions.size();
    const double rows = static_cast<double>((n + 1) / 2);
    return 110 + 17 * rows + (n > 0 ? 6 : 0) + 20;
}

double height_for(const std::vector<hw::DiskVisual>& disks, double) {
    if (disks.empty()) return 20;
    double h = 10;
    for (const auto& d : disks)
        h += card_height(d) + 12;
    return h + 10;
}

double draw(cairo_t* cr, double width, const std::vector<hw::DiskVisual>& disks,
            const Palette& palette, const live::DiskRateTable& rates) {
    if (disks.empty()) return 8;
    double y = 10;
    for (const auto& d : disks) {
        const double h = card_height(d);
        if (draw::rows_visible(cr, y, h)) draw_card(cr, 10, y, width - 20, d, palette, rates);
        y += h + 12;
    }
    return y - 12 + 10;
}

std::vector<double> segment_widths(const std::vector<hw::PartitionVisual>& parts,
                                   double inner_width) {
    double total = 0;
    for (const auto& p : parts)
        total += static_cast<double>(p.bytes);
    if (total == 0) total = 1;
    std::vector<double> w;
    double deficit = 0, surplus = 0;
    for (const auto& p : parts) {
        w.push_back(static_cast<double>(p.bytes) * inner_width / total);
        if (w.back() < MIN_SEGMENT)
            deficit += MIN_SEGMENT - w.back();
        else
            surplus += w.back() - MIN_SEGMENT;
    }
    if (deficit > 0 && surplus > 0) {
        const double k = std::min(deficit / surplus, 1.0);
        for (double& wi : w)
            wi = wi < MIN_SEGMENT ? MIN_SEGMENT : wi - (wi - MIN_SEGMENT) * k;
    }
    return w;
}

RateLine rate_line(cairo_t* cr, double inner_width, const live::DiskIoRate& rate) {
    draw::font(cr, 10.5, true);
    const RateLine values = rate_values(rate);
    const RateLine labels = rate_labels(values);
    if (draw::text_width(cr, labels.read) + draw::text_width(cr, labels.write) + 16 > inner_width)
        return values;
    return labels;
}

std::string rate_text(double bytes_per_second) {
    if (!(bytes_per_second > 0)) return util::fmt_bytes(0) + "/s";
    const double rounded = std::min(bytes_per_second + 0.5, 1.8e19);
    return util::fmt_bytes(static_cast<uint64_t>(rounded)) + "/s";
}

std::string describe(const std::vector<hw::DiskVisual>& disks, const live::DiskRateTable& rates) {
    std::string out;
    for (const auto& d : disks) {
        std::string line = "/dev/" + d.device + ", " + util::fmt_bytes(d.bytes);
        if (const std::string sub = subtitle(d); !sub.empty()) line += ", " + sub;
        if (d.partitions.empty())
            line += ", " + std::string(tr("disk.no_partitions"));
        else if (const std::string usage = usage_text(d); !usage.empty())
            line += ", " + usage;
        const RateLine labels = rate_labels(rate_values(rates.rate(d.device)));
        line += ", " + labels.read + ", " + labels.write + ".";
        for (const auto& p : d.partitions)
            line += " " + legend_text(p) + ".";
        out += (out.empty() ? "" : "\n") + line;
    }
    return out;
}

} // namespace diskview

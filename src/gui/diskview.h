// The disk cards: one card per disk with its size, model line, space in use, a bar of
// partition segments with a legend, and the live read and write rates.
#pragma once

#include "hw/visuals.h"
#include "live/disk_rate_table.h"
#include "theme.h"

#include <cairo.h>

#include <string>
#include <vector>

namespace diskview {

double card_height(const hw::DiskVisual& disk);
// The height the cards need; the width does not change it.
double height_for(const std::vector<hw::DiskVisual>& disks, double width);
// Draws the cards for an area `width` wide; returns the height used.
double draw(cairo_t* cr, double width, const std::vector<hw::DiskVisual>& disks,
            const Palette& palette, const live::DiskRateTable& rates);

// The widths of the partition segments in a bar `inner_width` wide: in proportion to size, but
// no segment narrower than 26 pixels while the larger ones can give up their excess.
std::vector<double> segment_widths(const std::vector<hw::PartitionVisual>& parts,
                                   double inner_width);
std::string rate_text(double bytes_per_second);

// The texts of the rate line: the labelled values, or the bare values when the two labels do not
// fit `inner_width` side by side. Leaves the line's font selected.
struct RateLine {
    std::string read, write;
};
RateLine rate_line(cairo_t* cr, double inner_width, const live::DiskIoRate& rate);

// What the cards show, in words, for a screen reader.
std::string describe(const std::vector<hw::DiskVisual>& disks, const live::DiskRateTable& rates);

} // namespace diskview

// The USB cards: one card per host controller with its name, vendor line and device count,
// then one section per root bus with the tree of devices behind it: port, tree lines, a
// coloured class marker, name, generation pill and power draw. Static: drawn from the records.
#pragma once

#include "hw/visuals.h"
#include "theme.h"

#include <cairo.h>

#include <string>
#include <vector>

namespace usbview {

double card_height(const hw::UsbControllerVisual& controller);
// The height the cards need; the width does not change it.
double height_for(const std::vector<hw::UsbControllerVisual>& controllers, double width);
// Draws the cards for an area `width` wide; returns the height used.
double draw(cairo_t* cr, double width, const std::vector<hw::UsbControllerVisual>& controllers,
            const Palette& palette);

// The tree lines of one device row: the ancestor levels whose line runs through the row, and
// whether the row's own level continues below its elbow.
struct RowLines {
    std::vector<int> through;
    bool own_continues = false;
};
RowLines row_lines(const std::vector<hw::UsbDeviceVisual>& devices, size_t row);
// The x of the tree line of a nesting level, on a pixel centre.
double level_x(int level);

// What the cards show, in words, for a screen reader.
std::string describe(const std::vector<hw::UsbControllerVisual>& controllers);

} // namespace usbview

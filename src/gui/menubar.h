// How the language menu is laid out for the screen it opens on; plain arithmetic, so every
// height can be checked without a display.
#pragma once

namespace menus {

// Height of the work area when no monitor can be asked.
constexpr int fallback_work_height = 900;

// Rows per column of the language menu on a work area `height` pixels high: as many as fit,
// between 8 and 16.
int language_rows(int height);

struct Cell {
    int column = 0, row = 0;
};

// Where item `index` of the language menu goes: 0 is "follow system", then the languages in
// catalog order, filled column by column. A list shorter than a column stays one column.
Cell language_cell(int index, int rows);

} // namespace menus

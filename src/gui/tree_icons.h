// The small square pictures in front of the tree's rows: an emoji drawn to size, or the
// processor chip for the processor node's marker.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

namespace tree_icons {

// The processor node's icon text: these three bytes stand for the drawn chip.
inline const std::string cpu_marker = "\x1C"
                                      "pu";

// The tree's icons are squares of this many pixels (before the screen's scale).
constexpr int row_size = 20;

// A square icon of `size` pixels for the node icon text. Rendered once per text and size and
// kept for the life of the process; the cache owns it (add a reference to keep it). Any
// thread may ask.
GdkPixbuf* icon(const std::string& text, int size);

} // namespace tree_icons

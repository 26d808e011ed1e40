// The arrow keys of the window's trees (the hardware tree, the detail table's sections).
#pragma once

#include <gtk/gtk.h>

namespace tree_keys {

// Left and Right open and close branches as in most trees, mirrored right to left: towards
// the expander's side opens a closed row, then goes to its first child; the other way closes
// an open row, then goes to its parent. The toolkit's tree uses them only to move between
// cells that take the focus, which these trees do not have.
void attach(GtkWidget* tree_view);

} // namespace tree_keys

// What the detail pane shows for a node: which live panel, preview or table, how the panels
// are sized, and the table's rows. Decided here without the toolkit; the window only applies
// the result to its widgets.
#pragma once

#include "hw/hardware.h"
#include "theme.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace detail {

// ---- Rows of the table ----------------------------------------------------------------------

struct Row {
    std::string name, value, source;
    int weight = 400;
    bool section = false;
    std::optional<std::string> background; // none: the table's own background
    std::string foreground;
    bool locked = false;
};

struct SectionRows {
    Row header;
    std::vector<Row> items;
};

// The text a locked row shows instead of its (empty) value.
std::string locked_value_text();

// Rows for `n` under the lower-cased search text `filter`: every item of a node that itself
// matches, otherwise only the items whose name, value or section title contain the text.
std::vector<SectionRows> rows_for(const hw::Node& n, const std::string& filter,
                                  const Palette& palette);

// True when `n` or any node below it matches the lower-cased `filter`.
bool node_or_child_matches(const hw::Node& n, const std::string& filter);

// ---- Panels ---------------------------------------------------------------------------------

enum class Preview { none, sensors, disks };

// The live panels that exist in this build, each with the height it needs. A panel that is
// absent is never planned, and its node shows the table instead.
struct Panels {
    std::function<int()> disks_height;        // height_for(disk list)
    std::function<int(int width)> usb_height; // for the card width
    std::function<int()> net_height;
    std::function<int(int width)> sensors_height;
    bool process_view = false;
};

struct Input {
    const hw::Node* node = nullptr;
    bool filter_empty = true;
    bool missing_hardware_observe = false; // confined package without that permission
    int paned_height = 0;                  // allocated height of the divided area
    int table_width = 0;                   // allocated width of the detail table
};

struct Placement {
    bool shown = false;
    bool expand = false;
    int height_request = 0;
    int min_content_height = 0;
};

struct Plan {
    Preview preview = Preview::none;
    bool process_view = false; // shown, and its sampling runs
    Placement disks, usb, net, sensors;
    bool table = true;
};

Plan plan(const Input& in, const Panels& panels);

// ---- Mouse in the table ---------------------------------------------------------------------

enum class Click { pass, context_menu, elevate, copy_value, swallow };

enum class PressKind { single, double_, triple };

// One action per click. GDK reports a double click as press, press, double-press: where a
// single press already acts, the double- and triple-press events are swallowed, and presses
// that queued up while the window was blocked (a running elevation) are swallowed too.
Click classify_click(unsigned button, PressKind kind, bool on_row, bool row_locked,
                     bool clicks_blocked);

} // namespace detail

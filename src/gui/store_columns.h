// Columns of the window's two tree stores, shared by the panes and the actions on them.
#pragma once

// The hardware tree: markup of title and summary, and the row's node (not owned), whose icon
// the row shows.
enum TreeColumn { TREE_MARKUP, TREE_NODE, TREE_COLUMNS };

// The detail table: section rows at the top level, item rows below them.
enum DetailColumn {
    COL_NAME,
    COL_VALUE,
    COL_SOURCE,
    COL_WEIGHT,
    COL_SECTION,
    COL_BACKGROUND,
    COL_FOREGROUND,
    COL_LOCKED,
    DETAIL_COLUMNS
};

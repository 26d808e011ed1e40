// Small helpers the window's dialogs share.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace widgets {

// `text` escaped for Pango markup; unchanged when the toolkit cannot escape it.
std::string escape(const std::string& text);

// A modal dialog titled with the translation of `title_key`, closed with its parent.
GtkWidget* new_dialog(const char* title_key, GtkWindow* parent);

void set_margins(GtkWidget* w, int start, int end, int top, int bottom);
void add_class(GtkWidget* w, const char* style_class);

// A left-aligned label for `control`, whose "_" in `text` marks the letter that Alt moves the
// focus to it with. The control gets the label's text as its accessible name unless it is a
// button with a text of its own.
GtkWidget* label_for(GtkWidget* control, const char* text);

// Gives a search entry `text` as its hint and accessible name, and words to the icon that
// empties it, which screen readers otherwise read by the icon's file name.
void name_search_entry(GtkWidget* entry, const char* text);

// Lets the words of a button or menu item (a bin holding a label) be cut short with "…" when
// it is given less room than they need, rather than holding the container wider.
void shorten_words_when_narrow(GtkWidget* bin);

// `preferred` when there is one, else the display's primary monitor, else its first; null
// without a display or monitor.
GdkMonitor* monitor_or_primary(GdkDisplay* display, GdkMonitor* preferred);

// Keeps `widget` as tall as a button labelled with the translation of `button_key` (kept: a
// literal), also while that button is hidden beside it; a hidden widget measures nothing, so
// a twin of the button is measured, again whenever the theme or its fonts change.
void keep_height_of_button(GtkWidget* widget, const char* button_key);

// The grid of a settings-like dialog: labels in column 0, controls in column 1.
GtkWidget* new_grid(int row_spacing, int column_spacing, int margin_x, int margin_y);

} // namespace widgets

// Actions on the window that other parts of it offer in their own menus.
#pragma once

#include <gtk/gtk.h>

#include <string>

class App;

// Appends an item with the mnemonic `label` to `menu` that copies `text` to the clipboard.
void add_copy_item(GtkWidget* menu, const char* label, const std::string& text, App* app);

// True while the event being handled is a mouse press. Rows activated by a double click have
// been acted on by the press handlers already; only the keyboard's activation is left to do.
bool handling_click();

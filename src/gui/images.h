// Pictures compiled into the program: the application icon and the locked previews.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>

namespace images {

struct Png {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

Png app_icon();                 // 128×128
Png sensors_preview(bool dark); // 336×130
Png disks_preview(bool dark);   // 336×130

// A new pixbuf decoded from PNG bytes, or null when they do not decode.
GdkPixbuf* pixbuf_from_png(const unsigned char* bytes, size_t length);
// The application icon decoded (a new reference), or null. Any thread may ask.
GdkPixbuf* app_icon_pixbuf();

} // namespace images

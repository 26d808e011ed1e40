#include "gui/images.h"

#include "embedded_images.h"

namespace images {

Png app_icon() {
    return {embedded::app_icon, sizeof embedded::app_icon};
}

Png sensors_preview(bool dark) {
    return dark ? Png{embedded::sensors_dark, sizeof embedded::sensors_dark}
                : Png{embedded::sensors_light, sizeof embedded::sensors_light};
}

Png disks_preview(bool dark) {
    return dark ? Png{embedded::disks_dark, sizeof embedded::disks_dark}
                : Png{embedded::disks_light, sizeof embedded::disks_light};
}

GdkPixbuf* pixbuf_from_png(const unsigned char* bytes, size_t length) {
    if (!bytes || length == 0) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* out = nullptr;
    bool written = gdk_pixbuf_loader_write(loader, bytes, length, nullptr);
    if (gdk_pixbuf_loader_close(loader, nullptr) && written) {
        out = gdk_pixbuf_loader_get_pixbuf(loader);
        if (out) g_object_ref(out);
    }
    g_object_unref(loader);
    return out;
}

GdkPixbuf* app_icon_pixbuf() {
    const Png png = app_icon();
    return pixbuf_from_png(png.data, png.size);
}

} // namespace images

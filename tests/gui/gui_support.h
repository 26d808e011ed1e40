// What the window tests share: a private X server and session bus started for the test
// program, a main loop that can be run until something happens, the fake desktop portal and
// a hand-built tree that looks like a real machine.
#pragma once

#include "hw/hardware.h"
#include "theme.h"

#include <cairo.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace gui_support {

// Runs pending main-loop work, then keeps iterating for at least `ms` milliseconds.
void process_events(int ms = 0);
// Iterates the main loop until `done` holds or `timeout_ms` passed; returns `done()`.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 3000);

// What the X server shows of `window`, as a person would see it, as build/artifacts/`name`.
void save_screenshot(GtkWidget* window, const std::string& name);

// The session bus of the tests, connected once for the whole program.
GDBusConnection* session_bus();

// The fake portal owns the portal's bus name while it lives.
class FakePortal {
public:
    explicit FakePortal(const std::string& mode);
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    void set_mode(const std::string& mode);
    // Sends "SettingChanged"; `signature` "ssv" gives well-formed parameters.
    void emit(const std::string& ns, const std::string& key, const std::string& signature);

private:
    void call(const char* method, GVariant* params);
    int m_pid = -1;
};

// An image surface to draw panels on, read back pixel by pixel (ARGB, premultiplied).
struct Canvas {
    Canvas(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cr(cairo_create(surface)) {}
    ~Canvas() { cairo_destroy(cr), cairo_surface_destroy(surface); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    uint32_t pixel(int x, int y) const {
        cairo_surface_flush(surface);
        return reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                 y * cairo_image_surface_get_stride(surface))[x];
    }
    Rgb rgb(int x, int y) const {
        const uint32_t p = pixel(x, y);
        return {((p >> 16) & 0xFF) / 255.0, ((p >> 8) & 0xFF) / 255.0, (p & 0xFF) / 255.0};
    }
    // Into the artifacts directory, for people to look at.
    void save(const std::string& name) const {
        std::filesystem::create_directories(QUARVEL_ARTIFACT_DIR);
        cairo_surface_write_to_png(surface,
                                   (std::string(QUARVEL_ARTIFACT_DIR) + "/" + name).c_str());
    }
    cairo_surface_t* surface;
    cairo_t* cr;
};

// A machine that looks real: nested branches, the processor chip, locked rows, a long value,
// an error node. The live panels are drawn over the fixture machines' real data.
std::unique_ptr<hw::Node> sample_machine();

} // namespace gui_support

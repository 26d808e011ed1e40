// What the window tests share: a private X server and session bus started for the test
// program, a main loop that can be run until something happens, the fake desktop portal and
// a hand-built tree that looks like a real machine.
#pragma once

#include "gui/app.h"
#include "hw/hardware.h"
#include "test_support.h"
#include "theme.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gui_support {

// Runs pending main-loop work, then keeps iterating for at least `ms` milliseconds.
void process_events(int ms = 0);
// Iterates the main loop until `done` holds or `timeout_ms` passed; returns `done()`.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 3000);

// What the X server shows of `window`, as a person would see it, as build/artifacts/`name`.
void save_screenshot(GtkWidget* window, const std::string& name);

// Sends a key press to the toplevel `window` as the X server would, with the key's hardware
// code, so accelerators see it too.
void press_key(GtkWidget* window, unsigned keyval, unsigned modifiers = 0);

// Presses and releases mouse button 1 over `button` through the toolkit's event dispatch, so
// that a grab elsewhere keeps the click from it as it would a person's.
void click(GtkWidget* button);

// Presses mouse button 1 over the row `path` of `view`, `x` pixels from the left, as the X
// server would; returns whether the view handled it.
gboolean press_row(GtkTreeView* view, GtkTreePath* path, GdkEventType type, int x,
                   guint32 time = GDK_CURRENT_TIME);

std::string clipboard();
using testing_support::read_whole_file;
// An executable shell script at `path` running `body`.
void write_script(const std::string& path, const std::string& body);
void set_clipboard(const char* text);

// What a step does with a dialog that appeared; it must close it.
using DialogStep = std::function<void(GtkWindow* dialog)>;
// Runs `open` (an action that shows modal dialogs and returns once they are closed) and hands
// each dialog that appears meanwhile to the next step. A dialog without a step, or one left
// open for ten seconds, fails the test and is closed.
void answer_dialogs(const std::function<void()>& open, std::vector<DialogStep> steps);
// Closes `dialog` with `response`, once it is shown and drawn.
void respond(GtkWindow* dialog, int response);
// Runs `f` from the main loop once the current callback has returned: a step that ends a
// dialog's run with a response may act on what comes after it.
void later(std::function<void()> f);
// The widgets of `type` under `root`, in widget order.
std::vector<GtkWidget*> widgets_of(GtkWidget* root, GType type);
// Every label text under `w`, in widget order, joined with newlines.
std::string texts(GtkWidget* w);
// The accessible description of `w`, empty when it has none.
std::string description(GtkWidget* w);

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

// A window of its own for each test, with the settings, language, environment and protected
// data put back afterwards; `m_tmp` is an empty folder for the test's files.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens the window over `collect`, or over the sample machine counting `m_collections`.
    App& open(std::function<std::unique_ptr<hw::Node>()> collect = nullptr);
    void close();
    std::string status() const;

    std::unique_ptr<App> m_app;
    int m_collections = 0;
    testing_support::TempDir m_dir;
    const std::string m_tmp = m_dir.path();

private:
    testing_support::ScopedEnv m_path{"PATH", g_getenv("PATH")};
};

// A machine that looks real: nested branches, the processor chip, locked rows, a long value,
// an error node. The live panels are drawn over the fixture machines' real data.
std::unique_ptr<hw::Node> sample_machine();

} // namespace gui_support

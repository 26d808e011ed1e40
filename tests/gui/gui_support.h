// What the window tests share: a private X server and session bus started for the test
// program, a main loop that can be run until something happens, the fake desktop portal and
// a hand-built tree that looks like a real machine.
#pragma once

#include "hw/hardware.h"

#include <cairo.h>
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>

namespace gui_support {

// Runs pending main-loop work, then keeps iterating for at least `ms` milliseconds.
void process_events(int ms = 0);
// Iterates the main loop until `done` holds or `timeout_ms` passed; returns `done()`.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 3000);

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

// An ARGB image surface to draw on, and its pixels as 0xAARRGGBB.
struct Image {
    Image(int width, int height);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    uint32_t pixel(int x, int y) const;
    // Written to the build's artifact directory, for a person to look at.
    void save(const std::string& name) const;

    cairo_surface_t* surface;
    cairo_t* cr;
};

// A machine that looks real: nested branches, the processor chip, locked rows, a long value,
// an error node. The live panels are drawn over the fixture machines' real data.
std::unique_ptr<hw::Node> sample_machine();

} // namespace gui_support

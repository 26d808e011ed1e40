// The running desktop's monitors as the graphical toolkit sees them. The core cannot ask the
// toolkit itself (it must not link it), so the window module registers a provider when it
// initialises the toolkit; without one there is no display session to describe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

struct SessionMonitor {
    std::string manufacturer; // empty when the toolkit does not know it
    std::string model;
    int x = 0, y = 0, width = 0, height = 0; // in application pixels
    int work_x = 0, work_y = 0, work_width = 0, work_height = 0;
    int refresh_millihz = 0; // 0 when unknown
    int scale = 1;
    int width_mm = 0, height_mm = 0; // 0 when unknown
    bool primary = false;
    std::string subpixel; // "None", "Horizontal RGB", …; empty when unknown
};

struct DisplaySession {
    std::string backend;      // the toolkit's display type, e.g. GdkX11Display
    std::string display_name; // e.g. ":0" or "wayland-0"
    std::vector<SessionMonitor> monitors;
};

using DisplaySessionProvider = std::optional<DisplaySession> (*)();

// Replaces the provider; nullptr removes it.
void set_display_session_provider(DisplaySessionProvider provider);

// The session as one line-oriented text and back, to carry it out of the child process that
// asks the toolkit (which may hang on a display that never answers). Reading never fails: a
// damaged text gives nothing, or the monitors read so far.
std::string session_to_text(const DisplaySession& session);
std::optional<DisplaySession> session_from_text(std::string_view text);

// The session from the provider; nothing without a provider, when the provider finds no
// display, or over a captured tree (the host's screens are not the capture's).
std::optional<DisplaySession> display_session();

} // namespace hw

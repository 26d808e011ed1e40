// Where the window goes and how big it is, from the stored settings and the monitor's work
// area. Plain arithmetic, kept apart from the toolkit so every rule can be checked directly.
#pragma once

struct Settings;

namespace layout {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Without a display or monitor the window is laid out for this area.
constexpr Rect fallback_work_area{0, 0, 1280, 800};

struct Placement {
    int width = 0, height = 0;         // default size
    int min_width = 0, min_height = 0; // the least the user may make it
    bool move = false;                 // centre the window at x, y
    int x = 0, y = 0;
};

// The stored size (1024×768 when none was stored) limited to the work area; centred in it
// when no position was stored. The least size is 1024×768 too, where the work area holds it.
Placement place_window(const Settings& s, const Rect& work);

// Once the window manager's frame is known (`frame`: the width and height it adds): the
// least size and the largest size that let frame and window fit the work area together, and
// where the frame's top must go for its lower edge to stay on it. Without this the frame's
// title bar pushes the status line below a 768-pixel screen. `width`, `height`: the window's
// size now; `top`: the frame's top now.
struct FrameFit {
    int min_width = 0, min_height = 0;
    int width = 0, height = 0;
    int top = 0;
};
FrameFit fit_frame(const Rect& work, const Rect& frame, int width, int height, int top);

// The stored divider, or one chosen for the window width: a third of a wide window.
int divider_position(int stored, int window_width);

} // namespace layout

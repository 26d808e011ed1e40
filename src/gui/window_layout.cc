#include "gui/window_layout.h"

#include "settings.h"

#include <algorithm>

namespace layout {

Placement place_window(const Settings& s, const Rect& work) {
    Placement p;
    p.width = s.window_width < 1 || s.window_height < 1 ? 1024 : s.window_width;
    p.height = s.window_width < 1 || s.window_height < 1 ? 768 : s.window_height;
    // A work area that reports no size would otherwise shrink the window to nothing.
    p.min_width = 1024;
    p.min_height = 768;
    if (work.width > 0) {
        p.width = std::min(p.width, work.width);
        // Else a netbook's screen would cut off the status line and the panes' lower part.
        p.min_width = std::min(p.min_width, work.width);
    }
    if (work.height > 0) {
        p.height = std::min(p.height, work.height);
        p.min_height = std::min(p.min_height, work.height);
    }
    if (s.window_x < 0 || s.window_y < 0) {
        p.move = true;
        p.x = work.x + std::max(work.width - p.width, 0) / 2;
        p.y = work.y + std::max(work.height - p.height, 0) / 2;
    }
    return p;
}

FrameFit fit_frame(const Rect& work, const Rect& frame, int width, int height, int top) {
    FrameFit f{1024, 768, width, height, top};
    if (work.width > frame.width) {
        f.min_width = std::min(f.min_width, work.width - frame.width);
        f.width = std::min(width, work.width - frame.width);
    }
    if (work.height > frame.height) {
        f.min_height = std::min(f.min_height, work.height - frame.height);
        f.height = std::min(height, work.height - frame.height);
        const int bottom = work.y + work.height;
        if (top + f.height + frame.height > bottom) f.top = bottom - f.height - frame.height;
        f.top = std::max(f.top, work.y);
    }
    return f;
}

int divider_position(int stored, int window_width) {
    if (stored >= 1) return stored;
    return window_width > 722 ? window_width / 3 : 240;
}

} // namespace layout

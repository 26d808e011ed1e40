// The toolkit parses its whole theme when it makes its settings object, before the window can
// ask for the dark variant, and parses it again when asked: the dark palette's first frame came
// 8 ms later than the light one's. Made while the toolkit's theme variable names an empty theme
// compiled into the program, the settings parse nothing, and the window's first choice of
// variant parses the desktop's theme once.
#pragma once

namespace startup_theme {

// Before the toolkit starts: names the empty theme in the variable, unless the user set the
// variable (their theme stays theirs). Whether it did.
bool defer();
// Once the toolkit has started (when `toolkit_up`): makes the settings object while the
// variable holds, then drops the variable, before any other thread reads the environment and
// before any program is started from the window.
void settle(bool deferred, bool toolkit_up);

} // namespace startup_theme

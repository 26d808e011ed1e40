// A display server that takes the connection and then never answers (a compositor or X server
// that hangs) keeps the toolkit's start waiting for ever: no window and no word. The wait for
// the display has a bound; past it the user is told there is no display, and the program ends.
#pragma once

namespace display_wait {

// Before the toolkit starts: unless a display has been opened within `seconds`, `message`
// goes to standard error and the program ends with status 1.
void arm(int seconds, const char* message);
// Once the toolkit's start has returned, whether it succeeded or not.
void disarm();

} // namespace display_wait

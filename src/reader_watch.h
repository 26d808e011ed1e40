// The elevated copy answers the window through a pipe and runs as root, so the window cannot
// signal it once the user gives up (Cancel) or the window ends. It watches that pipe instead.
#pragma once

namespace reader_watch {

// When `fd` is the writing end of a pipe: ends the process with `status` as soon as nobody
// holds the reading end any more, whatever the process is doing then. Anything else (a
// terminal, a file) is left alone.
void end_when_unread(int fd, int status);

} // namespace reader_watch

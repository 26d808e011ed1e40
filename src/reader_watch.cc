#include "reader_watch.h"

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace reader_watch {

void end_when_unread(int fd, int status) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    // Asking for no event, poll wakes only for what it always reports, and on a pipe's writing
    // end that is POLLERR once the last reader is gone.
    std::thread([fd, status] {
        pollfd watched{fd, 0, 0};
        int n;
        while ((n = poll(&watched, 1, -1)) < 0 && errno == EINTR) {
        }
        if (n > 0 && (watched.revents & (POLLERR | POLLHUP))) _exit(status);
    }).detach();
}

} // namespace reader_watch

// The elevated copy ends once the window stops reading its answer, even in the middle of a
// read that would go on for long.
#include "reader_watch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child's exit status once it ends within `tenths` of a second; -1 while it runs on.
int status_within(pid_t child, int tenths) {
    for (int status = 0; tenths-- > 0; usleep(100000))
        if (waitpid(child, &status, WNOHANG) == child) return WEXITSTATUS(status);
    return -1;
}

} // namespace

TEST(ReaderWatch, TheWriterEndsWhenTheReaderGoesAndNotBefore) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if (child == 0) { // watches its answer's pipe, then hangs
        close(ends[0]);
        reader_watch::end_when_unread(ends[1], 7);
        for (;;)
            pause();
    }
    close(ends[1]);
    EXPECT_EQ(status_within(child, 3), -1) << "ended while read";
    close(ends[0]);
    const int status = status_within(child, 100);
    if (status == -1) kill(child, SIGKILL), waitpid(child, nullptr, 0);
    EXPECT_EQ(status, 7);
}

#include "gui/display_wait.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <gdk/gdk.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace display_wait {

namespace {

std::mutex g_mutex;
std::condition_variable g_wake;
bool g_returned = false;
// Set on the main thread once the display answered; what the toolkit's start does after that
// (the accessibility bus may take long to answer) is no reason to give up.
std::atomic<bool> g_opened{false};
std::thread g_watch;

void on_display_opened(GdkDisplayManager*, GdkDisplay*, gpointer) {
    g_opened = true;
}

} // namespace

void arm(int seconds, const char* message) {
    g_signal_connect(gdk_display_manager_get(), "display-opened", G_CALLBACK(on_display_opened),
                     nullptr);
    g_watch = std::thread([seconds, message] {
        std::unique_lock lock(g_mutex);
        if (g_wake.wait_for(lock, std::chrono::seconds(seconds), [] { return g_returned; }) ||
            g_opened)
            return;
        std::fprintf(stderr, "%s\n", message);
        std::fflush(stderr);
        _exit(1);
    });
}

void disarm() {
    if (!g_watch.joinable()) return;
    {
        std::lock_guard lock(g_mutex);
        g_returned = true;
    }
    g_wake.notify_all();
    g_watch.join();
    g_signal_handlers_disconnect_by_func(gdk_display_manager_get(),
                                         reinterpret_cast<gpointer>(on_display_opened), nullptr);
}

} // namespace display_wait

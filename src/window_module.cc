#include "window_module.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#ifndef QUARVEL_MODULE_DIR
#define QUARVEL_MODULE_DIR ""
#endif
#ifndef QUARVEL_MODULE_DIR_FROM_BINARY
#define QUARVEL_MODULE_DIR_FROM_BINARY ""
#endif

namespace window_module {

namespace {

constexpr const char* module_name = "quarvel-window.so";

// The program's own directory. This is a fact about the program, not about the machine
// being described, so it is deliberately read past QUARVEL_SYSROOT.
std::string own_directory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void* load(std::string* error) {
    static void* handle = nullptr;
    static std::string last_error;
    if (handle) return handle;
    // Beside the program (the build tree), then where an installed program keeps it relative
    // to itself, so an installed tree still works when unpacked under another root, then at
    // the configured prefix.
    const std::string own = own_directory();
    const std::string relative = QUARVEL_MODULE_DIR_FROM_BINARY;
    const std::string installed = own.empty() || relative.empty() ? "" : own + "/" + relative;
    for (const std::string& dir : {own, installed, std::string(QUARVEL_MODULE_DIR)}) {
        if (dir.empty()) continue;
        std::string path = dir + "/" + module_name;
        if (access(path.c_str(), F_OK) != 0) continue;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) return handle;
        const char* e = dlerror();
        last_error = e ? e : path;
    }
    if (error) *error = last_error.empty() ? std::string(module_name) + " not found" : last_error;
    return nullptr;
}

} // namespace

int run_window(int argc, char** argv) {
    std::string error;
    void* handle = load(&error);
    using Entry = int (*)(int, char**);
    auto entry = handle ? reinterpret_cast<Entry>(dlsym(handle, "quarvel_window_main")) : nullptr;
    if (!entry) {
        std::fprintf(stderr,
                     "Quarvel: the window is not available in this build (%s); "
                     "use --report for the text report.\n",
                     error.empty() ? "quarvel_window_main missing" : error.c_str());
        return 1;
    }
    return entry(argc, argv);
}

bool init_toolkit(int argc, char** argv) {
    void* handle = load(nullptr);
    using Init = int (*)(int, char**);
    auto init = handle ? reinterpret_cast<Init>(dlsym(handle, "quarvel_toolkit_init")) : nullptr;
    return init && init(argc, argv) != 0;
}

} // namespace window_module

#include "window_module.h"

#include "module_loader.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace window_module {

namespace {

constexpr const char* module_name = "quarvel-window.so";

void* load(std::string* error) {
    return module_loader::load(module_name, error);
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

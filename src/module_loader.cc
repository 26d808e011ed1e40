#include "module_loader.h"

#include <climits>
#include <dlfcn.h>
#include <map>
#include <unistd.h>

#ifndef QUARVEL_MODULE_DIR
#define QUARVEL_MODULE_DIR ""
#endif
#ifndef QUARVEL_MODULE_DIR_FROM_BINARY
#define QUARVEL_MODULE_DIR_FROM_BINARY ""
#endif

namespace module_loader {

namespace {

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

} // namespace

void* load(const std::string& name, std::string* error) {
    static std::map<std::string, void*> loaded;
    if (auto it = loaded.find(name); it != loaded.end()) return it->second;
    std::string last_error;
    // Beside the program (the build tree), then where an installed program keeps it relative
    // to itself, so an installed tree still works when unpacked under another root, then at
    // the configured prefix.
    const std::string own = own_directory();
    const std::string relative = QUARVEL_MODULE_DIR_FROM_BINARY;
    const std::string installed = own.empty() || relative.empty() ? "" : own + "/" + relative;
    for (const std::string& dir : {own, installed, std::string(QUARVEL_MODULE_DIR)}) {
        if (dir.empty()) continue;
        std::string path = dir + "/" + name;
        if (access(path.c_str(), F_OK) != 0) continue;
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            loaded[name] = handle;
            return handle;
        }
        const char* e = dlerror();
        last_error = e ? e : path;
    }
    if (error) *error = last_error.empty() ? name + " not found" : last_error;
    return nullptr;
}

} // namespace module_loader

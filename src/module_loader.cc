#include "module_loader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#ifndef QUARVEL_MODULE_DIR
#define QUARVEL_MODULE_DIR ""
#endif
#ifndef QUARVEL_MODULE_DIR_FROM_BINARY
#define QUARVEL_MODULE_DIR_FROM_BINARY ""
#endif

namespace module_loader {

namespace {

constexpr const char* full_program_name = "quarvel-full";

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

// Where the modules and the full program are looked for, in order: beside the program (the
// build tree), then where an installed program keeps them relative to itself, so an installed
// tree still works when unpacked under another root, then at the configured prefix.
std::vector<std::string> search_directories() {
    const std::string own = own_directory();
    const std::string relative = QUARVEL_MODULE_DIR_FROM_BINARY;
    const std::string installed = own.empty() || relative.empty() ? "" : own + "/" + relative;
    std::vector<std::string> dirs;
    for (const std::string& dir : {own, installed, std::string(QUARVEL_MODULE_DIR)})
        if (!dir.empty()) dirs.push_back(dir);
    return dirs;
}

// The full program's path, or empty when it is not installed.
std::string full_program() {
    for (const std::string& dir : search_directories()) {
        std::string path = dir + "/" + full_program_name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

Opener g_opener = nullptr;

} // namespace

void set_opener(Opener opener) {
    g_opener = opener;
}

bool loadable() {
    return g_opener != nullptr;
}

void* function(const std::string& name, const char* symbol, std::string* error) {
    std::string last_error = g_opener ? "" : "this program loads no modules";
    if (g_opener)
        for (const std::string& dir : search_directories()) {
            std::string path = dir + "/" + name;
            if (access(path.c_str(), F_OK) != 0) continue;
            if (void* found = g_opener(path, symbol, &last_error)) return found;
        }
    if (error) *error = last_error.empty() ? name + " not found" : last_error;
    return nullptr;
}

std::string hand_over(char** argv) {
    const std::string path = full_program();
    if (path.empty()) return std::string(full_program_name) + " not found";
    std::fflush(nullptr);
    ::execv(path.c_str(), argv);
    return path + ": " + std::strerror(errno);
}

} // namespace module_loader

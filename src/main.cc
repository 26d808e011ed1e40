#include "crash_handler.h"
#include "entry.h"
#include "module_loader.h"

#ifdef QUARVEL_LOADS_MODULES
#include <dlfcn.h>
#include <map>

namespace {

// Each module is opened once; its functions are found in the handle then kept.
void* open_module(const std::string& path, const char* symbol, std::string* error) {
    static std::map<std::string, void*> opened;
    void*& handle = opened[path];
    if (!handle) handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* found = handle ? dlsym(handle, symbol) : nullptr;
    if (!found) {
        const char* reason = dlerror();
        *error = reason ? reason : path + ": " + symbol + " missing";
    }
    return found;
}

} // namespace
#endif

int main(int argc, char** argv) {
    // First of all, so that a crash anywhere, in any mode, leaves its report.
    CrashHandler::install();
#ifdef QUARVEL_LOADS_MODULES
    module_loader::set_opener(open_module);
#endif
    return entry::run(argc, argv);
}

// Modules beside the program that are loaded only by the modes that need them, so that the
// report never pays for the libraries they bring (the toolkit, the archive library).
//
// The program users start is linked on its own (no loader, no shared libraries to map and
// relocate: a quarter of a short report), so it cannot load a module. The modes that need one
// (the window, the capture, the display probe of the report) are handed to the full program
// installed beside the modules, which exports the core to them.
#pragma once

#include <string>

namespace module_loader {

// How the full program opens a module file and finds a function in it (the dynamic loader);
// null with the reason in `error`. The program users start has none: it cannot load modules.
using Opener = void* (*)(const std::string& path, const char* symbol, std::string* error);
// Set once by main, in the full program only.
void set_opener(Opener opener);
bool loadable();

// The function `symbol` of the module `name` (from the program's own directory or the installed
// module directory), or null with the reason in `error` (when given). Each module is loaded once.
void* function(const std::string& name, const char* symbol, std::string* error);

// Runs the full program in place of this one with the same `argv`. Returns only when that
// fails, with the reason.
std::string hand_over(char** argv);

} // namespace module_loader

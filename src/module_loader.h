// Modules beside the program that are loaded only by the modes that need them, so that the
// report never pays for the libraries they bring (the toolkit, the archive library).
#pragma once

#include <string>

namespace module_loader {

// The module's handle, from the program's own directory or the installed module directory;
// null with the reason in `error` (when given). Each module is loaded once.
void* load(const std::string& name, std::string* error);

} // namespace module_loader

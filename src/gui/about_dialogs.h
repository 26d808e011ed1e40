// What the About, Licences and permission dialogs say, apart from the toolkit.
#pragma once

#include <string>
#include <vector>

namespace about {

struct Licence {
    const char* component;
    const char* licence;
};

// The free components the program is built on, as the Licences dialog lists them.
const std::vector<Licence>& licences();

// The command that connects the confined package's read permissions, or empty when
// `snap_name` is no package name: the user pastes it into a root shell, so nothing but a name
// may reach it.
std::string permission_command(const std::string& snap_name);

} // namespace about

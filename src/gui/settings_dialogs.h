// The rows of the colour dialog for the theme in force, apart from the toolkit.
#pragma once

#include "settings.h"

#include <string>
#include <vector>

namespace colors {

struct ColorRow {
    const char* label_key;
    std::string Settings::*member; // the override the row edits
    std::string fallback;          // the built-in colour shown while the override is empty
};

// The six colours of the light or dark theme, then the three load colours both share.
std::vector<ColorRow> rows(bool dark);

// Index of the first load colour in rows().
constexpr size_t first_load_row = 6;

} // namespace colors

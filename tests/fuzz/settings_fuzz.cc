// The settings file is hand-editable text: whatever it holds, reading it must not fault, and
// what was read must survive a save and a second read unchanged.
#include "settings.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Settings first;
    SettingsStore::apply_text(text, first);
    Settings again;
    SettingsStore::apply_text(SettingsStore::to_text(first), again);
    if (!(again == first)) std::abort();
    return 0;
}

// The settings file is hand-editable text: whatever it holds, reading it must not fault, and
// what was read must survive a save and a second read unchanged.
#include "fuzz_support.h"
#include "settings.h"

FUZZ_TARGET(text) {
    Settings first;
    SettingsStore::apply_text(text, first);
    Settings again;
    SettingsStore::apply_text(SettingsStore::to_text(first), again);
    if (!(again == first)) std::abort();
}

// The compiled-in catalog. The definitions are generated at build time from po/*.po by
// tools/gen_catalog.py; every language's table has one text per key, English where the
// language has no wording of its own.
#pragma once

#include <cstddef>

namespace i18n_data {

struct LangEntry {
    const char* code;
    const char* native_name;
    bool rtl;
    const char* const* values; // KEY_COUNT texts, parallel to KEYS
};

// Keys in strictly ascending byte order (unsigned bytes; a prefix before its extensions).
extern const char* const KEYS[];
extern const size_t KEY_COUNT;
extern const LangEntry LANGS[];
extern const size_t LANG_COUNT;

} // namespace i18n_data

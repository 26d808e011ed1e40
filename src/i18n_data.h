// The compiled-in catalog. The definitions are generated at build time from po/*.po by
// tools/gen_catalog.py; every language's table has one text per key, English where the
// language has no wording of its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace i18n_data {

struct LangEntry {
    const char* code;
    const char* native_name;
    bool rtl;
    const uint32_t* values; // KEY_COUNT offsets into TEXT, parallel to KEYS
};

// Every key and text, each ending in NUL, reached through the offsets below.
extern const char TEXT[];
// Offsets of the keys in TEXT, in strictly ascending byte order (unsigned bytes; a prefix
// before its extensions).
extern const uint32_t KEYS[];
extern const size_t KEY_COUNT;
// The keys by hash (FNV-1a of their bytes), open-addressed with linear probing in a table of
// a power of two slots: each holds a key's index + 1, 0 where none is.
extern const uint16_t KEY_SLOTS[];
extern const size_t KEY_SLOT_COUNT;
extern const LangEntry LANGS[];
extern const size_t LANG_COUNT;

inline const char* key(size_t i) {
    return TEXT + KEYS[i];
}
inline const char* value(const LangEntry& lang, size_t i) {
    return TEXT + lang.values[i];
}

} // namespace i18n_data

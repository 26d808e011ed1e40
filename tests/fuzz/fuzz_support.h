// What the fuzz targets share. A broken promise aborts rather than asserts, so that it stops
// libFuzzer (which keeps the input) and fails the corpus test in every build type.
#pragma once

#include "util.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

inline void check(bool ok) {
    if (!ok) std::abort();
}

inline bool utf8(const std::string& s) {
    return util::valid_utf8(s) == s;
}

// The input cut at `separator`; a part the input lacks reads as empty.
struct Parts {
    Parts(const std::string& input, char separator) : all(util::split(input, separator)) {}
    std::string operator[](size_t i) const { return i < all.size() ? all[i] : std::string(); }
    std::vector<std::string> all;
};

} // namespace fuzz

// Defines the fuzzer's entry point over a body that sees the input as the string `input`. The
// corpus driver's first run passes no bytes at all.
#define FUZZ_TARGET(input)                                                                         \
    static void fuzz_one_input(const std::string& input);                                          \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        fuzz_one_input(size ? std::string(reinterpret_cast<const char*>(data), size)               \
                            : std::string());                                                      \
        return 0;                                                                                  \
    }                                                                                              \
    static void fuzz_one_input(const std::string& input)

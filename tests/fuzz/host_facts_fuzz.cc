// The facts file of a capture comes from whoever hands the capture over. Whatever it holds,
// reading never fails loudly, and what was read writes back to a text that reads the same.
#include "host.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto facts = host::parse_facts(text);
    if (!facts) return 0;
    std::string written = host::format_facts(*facts);
    auto again = host::parse_facts(written);
    if (!again || host::format_facts(*again) != written) std::abort();
    return 0;
}

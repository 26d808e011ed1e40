// The facts file of a capture comes from whoever hands the capture over. Whatever it holds,
// reading never fails loudly, and what was read writes back to a text that reads the same.
#include "fuzz_support.h"
#include "host.h"

FUZZ_TARGET(text) {
    auto facts = host::parse_facts(text);
    if (!facts) return;
    std::string written = host::format_facts(*facts);
    auto again = host::parse_facts(written);
    if (!again || host::format_facts(*again) != written) std::abort();
}

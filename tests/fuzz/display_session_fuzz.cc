// The display session comes back from a child process as text, and what the child read came
// from the display server, which names its monitors as it likes. Whatever arrives, what was
// read writes back to a text that reads the same.
#include "hw/display_session.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool same(const hw::DisplaySession& a, const hw::DisplaySession& b) {
    return hw::session_to_text(a) == hw::session_to_text(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto first = hw::session_from_text(text);
    if (!first) return 0;
    const std::string written = hw::session_to_text(*first);
    auto again = hw::session_from_text(written);
    if (!again || !same(*first, *again) || again->monitors.size() != first->monitors.size())
        std::abort();
    return 0;
}

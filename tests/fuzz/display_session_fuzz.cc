// The display session comes back from a child process as text, and what the child read came
// from the display server, which names its monitors as it likes. Whatever arrives, what was
// read writes back to a text that reads the same.
#include "fuzz_support.h"
#include "hw/display_session.h"

namespace {

bool same(const hw::DisplaySession& a, const hw::DisplaySession& b) {
    return hw::session_to_text(a) == hw::session_to_text(b);
}

} // namespace

FUZZ_TARGET(text) {
    auto first = hw::session_from_text(text);
    if (!first) return;
    const std::string written = hw::session_to_text(*first);
    auto again = hw::session_from_text(written);
    if (!again || !same(*first, *again) || again->monitors.size() != first->monitors.size())
        std::abort();
}

#include "hw/display_session.h"

#include "util.h"

namespace hw {

namespace {

DisplaySessionProvider g_provider = nullptr;

} // namespace

void set_display_session_provider(DisplaySessionProvider provider) {
    g_provider = provider;
}

std::optional<DisplaySession> display_session() {
    if (!g_provider || util::over_sysroot()) return std::nullopt;
    return g_provider();
}

} // namespace hw

#include "hw/display_session.h"

#include "hw/root_data.h"
#include "util.h"

#include <climits>

namespace hw {

namespace {

DisplaySessionProvider g_provider = nullptr;

} // namespace

void set_display_session_provider(DisplaySessionProvider provider) {
    g_provider = provider;
}

namespace {

int to_int(const std::string& s) {
    int64_t v = util::to_i64(s, 0);
    return v < INT_MIN || v > INT_MAX ? 0 : static_cast<int>(v);
}

} // namespace

std::string session_to_text(const DisplaySession& session) {
    std::string out =
        "S " + escape_field(session.backend) + "|" + escape_field(session.display_name) + "\n";
    for (const auto& m : session.monitors) {
        const int numbers[] = {
            m.x,        m.y,          m.width,          m.height,          m.work_x,
            m.work_y,   m.work_width, m.work_height,    m.refresh_millihz, m.scale,
            m.width_mm, m.height_mm,  m.primary ? 1 : 0};
        out += "M " + escape_field(m.manufacturer) + "|" + escape_field(m.model);
        for (int n : numbers)
            out += "|" + std::to_string(n);
        out += "|" + escape_field(m.subpixel) + "\n";
    }
    return out;
}

std::optional<DisplaySession> session_from_text(std::string_view text) {
    std::optional<DisplaySession> session;
    for (const auto& line : util::split(text, '\n')) {
        if (line.size() < 2) continue;
        auto f = util::split(std::string_view(line).substr(2), '|');
        if (line[0] == 'S' && f.size() == 2) {
            session = DisplaySession{unescape_field(f[0]), unescape_field(f[1]), {}};
        } else if (line[0] == 'M' && session && f.size() == 16) {
            SessionMonitor m;
            m.manufacturer = unescape_field(f[0]);
            m.model = unescape_field(f[1]);
            int* numbers[] = {&m.x,          &m.y,           &m.width,
                              &m.height,     &m.work_x,      &m.work_y,
                              &m.work_width, &m.work_height, &m.refresh_millihz,
                              &m.scale,      &m.width_mm,    &m.height_mm};
            for (size_t i = 0; i < std::size(numbers); ++i)
                *numbers[i] = to_int(f[2 + i]);
            m.primary = f[14] == "1";
            m.subpixel = unescape_field(f[15]);
            session->monitors.push_back(std::move(m));
        }
    }
    return session;
}

std::optional<DisplaySession> display_session() {
    if (!g_provider || util::over_sysroot()) return std::nullopt;
    return g_provider();
}

} // namespace hw

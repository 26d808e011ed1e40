#include "gui/app.h"

#include "gui/portal.h"
#include "i18n.h"
#include "settings.h"

#include <utility>

// The toolkit's priority for application style sheets: above the desktop theme.
static_assert(GTK_STYLE_PROVIDER_PRIORITY_APPLICATION == 600);

Palette App::palette() const {
    return Palette::from_settings(SettingsStore::instance().get(), m_dark);
}

// Connecting to the session bus and asking the portal take a few milliseconds, many more when
// the portal is slow to wake; they go on while the toolkit loads its theme instead of before
// the window is built. Only "auto" needs the answer.
void App::start_session_bus() {
    const bool ask = SettingsStore::instance().get().theme == "auto";
    m_startup_bus = std::async(std::launch::async, [ask] {
        StartupBus found;
        found.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        found.asked = ask;
        if (ask) found.color_scheme = portal::read_color_scheme(found.bus);
        return found;
    });
}

void App::take_startup_bus() {
    if (!m_startup_bus.valid()) return;
    StartupBus found = m_startup_bus.get();
    m_portal_bus = found.bus;
    m_portal_bus_tried = true;
    if (found.asked) m_startup_color_scheme = found.color_scheme;
}

GDBusConnection* App::session_bus() {
    take_startup_bus();
    if (!m_portal_bus && !m_portal_bus_tried) {
        m_portal_bus_tried = true;
        m_portal_bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    }
    return m_portal_bus;
}

// The answer asked at start serves the first theme applied only; "auto" asks the portal again
// on every later call, so a changed desktop preference is seen at once.
std::optional<uint32_t> App::ask_color_scheme() {
    take_startup_bus();
    if (m_startup_color_scheme) {
        const std::optional<uint32_t> answer = *m_startup_color_scheme;
        m_startup_color_scheme.reset();
        return answer;
    }
    return portal::read_color_scheme(session_bus());
}

bool App::resolve_dark() {
    const std::string& theme = SettingsStore::instance().get().theme;
    return decide_dark(
        theme, [this] { return ask_color_scheme(); }, m_startup_dark_hint);
}

// Read once, before apply_theme first sets the dark-variant property itself.
void App::probe_system_theme_hint() {
    m_startup_dark_hint = false;
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return;
    gboolean prefer_dark = FALSE;
    gchar* theme_name = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &prefer_dark, "gtk-theme-name",
                 &theme_name, nullptr);
    // A theme the user names in the environment ("Adwaita:dark") is the one the toolkit draws
    // with, whatever the setting says.
    std::string drawn = theme_name ? theme_name : "";
    g_free(theme_name);
    if (const char* named = g_getenv("GTK_THEME"); named && *named) drawn = named;
    m_startup_dark_hint = theme_hint_is_dark(prefer_dark, drawn);
}

void App::apply_theme() {
    m_dark = resolve_dark();
    if (!m_css) {
        m_css = gtk_css_provider_new();
        if (GdkScreen* screen = gdk_screen_get_default())
            gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(m_css),
                                                      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    const Palette p = palette();
    const std::string css = build_css(p, I18n::instance().ui_font_family());
    gtk_css_provider_load_from_data(m_css, css.c_str(), static_cast<gssize>(css.size()), nullptr);
    if (GtkSettings* settings = gtk_settings_get_default()) {
        // Setting the variant, even to the one in use, makes the toolkit parse its whole theme
        // again: a fifth of the time to the first frame. At start that is what parses it once,
        // when the settings were made with the empty theme.
        const bool unparsed = std::exchange(m_theme_unparsed, false);
        gboolean dark_now = FALSE;
        g_object_get(settings, "gtk-application-prefer-dark-theme", &dark_now, nullptr);
        if (unparsed || static_cast<bool>(dark_now) != m_dark)
            g_object_set(settings, "gtk-application-prefer-dark-theme", m_dark, nullptr);
    }
    // The live panels take their own copy of the palette here once they exist.
    m_monitor.set_palette(p);
    m_net.set_palette(p);
    m_sensors.set_palette(p);
    m_procview.set_palette(p);
    if (m_detail_store) fill_details(m_selected);
    if (m_window) gtk_widget_queue_draw(m_window);
}

void App::watch_system_theme() {
    m_portal_sub =
        portal::subscribe_setting_changed(session_bus(), on_portal_setting_changed, this);
}

void App::on_portal_setting_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                    const gchar*, GVariant* parameters, gpointer self) {
    if (!portal::is_color_scheme_change(parameters)) return;
    if (SettingsStore::instance().get().theme != "auto") return;
    static_cast<App*>(self)->apply_theme();
}

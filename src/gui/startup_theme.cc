#include "gui/startup_theme.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

extern "C" GResource* quarvel_startup_theme_get_resource(void);
extern "C" void quarvel_startup_theme_register_resource(void);

namespace startup_theme {

namespace {

constexpr const char* variable = "GTK_THEME";
constexpr const char* theme_name = "QuarvelStartup";

} // namespace

bool defer() {
    if (g_getenv(variable)) return false;
    quarvel_startup_theme_register_resource();
    // Without its resource the toolkit would fall back to its default theme and parse twice.
    if (!quarvel_startup_theme_get_resource()) return false;
    return g_setenv(variable, theme_name, FALSE);
}

void settle(bool deferred, bool toolkit_up) {
    if (!deferred) return;
    if (toolkit_up) gtk_settings_get_default();
    g_unsetenv(variable);
}

} // namespace startup_theme

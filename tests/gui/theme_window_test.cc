// The desktop's light/dark preference through a fake portal on the tests' own session bus, and
// the style sheet as the widgets see it.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui/detail_content.h"
#include "gui/portal.h"
#include "gui/startup_theme.h"
#include "gui_support.h"
#include "settings.h"

#include <gtest/gtest.h>

using gui_support::FakePortal;
using gui_support::process_events;
using gui_support::sample_machine;
using gui_support::wait_until;

namespace {

using I = AppInspector;

std::string colour_of(GtkWidget* w, const char* property) {
    GtkStyleContext* ctx = gtk_widget_get_style_context(w);
    GdkRGBA* c = nullptr;
    gtk_style_context_get(ctx, gtk_style_context_get_state(ctx), property, &c, nullptr);
    Rgb rgb{c->red, c->green, c->blue};
    gdk_rgba_free(c);
    return rgb_to_hex(rgb);
}

class Theme : public gui_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        GtkSettings* s = gtk_settings_get_default();
        g_object_get(s, "gtk-theme-name", &m_theme_name, nullptr);
        g_object_set(s, "gtk-application-prefer-dark-theme", FALSE, nullptr);
    }
    void TearDown() override {
        WindowTest::TearDown();
        GtkSettings* s = gtk_settings_get_default();
        g_object_set(s, "gtk-theme-name", m_theme_name, "gtk-application-prefer-dark-theme", FALSE,
                     nullptr);
        g_free(m_theme_name);
    }
    App& open(const std::string& theme) {
        SettingsStore::instance().mutable_get().theme = theme;
        return WindowTest::open();
    }
    gchar* m_theme_name = nullptr;
};

} // namespace

// Portals differ in how many variant layers wrap the value; a value of another type is no answer.
TEST(Portal, RepliesWithNestedVariantsOrOtherTypes) {
    for (auto [text, expected] :
         std::initializer_list<std::pair<const char*, std::optional<uint32_t>>>{
             {"(<uint32 1>,)", 1u},
             {"(<<<uint32 2>>>,)", 2u},
             {"(<'dark'>,)", std::nullopt},
             {"(<int32 1>,)", std::nullopt},
             {"('dark',)", std::nullopt}}) {
        GVariant* reply = g_variant_ref_sink(g_variant_new_parsed(text));
        EXPECT_EQ(portal::color_scheme_from_reply(reply), expected) << text;
        g_variant_unref(reply);
    }
    EXPECT_EQ(portal::color_scheme_from_reply(nullptr), std::nullopt);
}

// The window asks on its main thread: a missing or silent portal must not hang it.
TEST(Portal, NoPortalOrNoAnswerGivesNothingWithinTheTimeOut) {
    EXPECT_EQ(portal::read_color_scheme(nullptr), std::nullopt);
    EXPECT_EQ(portal::read_color_scheme(gui_support::session_bus()), std::nullopt)
        << "nobody owns the name";

    FakePortal silent("never");
    const gint64 t0 = g_get_monotonic_time();
    EXPECT_EQ(portal::read_color_scheme(gui_support::session_bus()), std::nullopt);
    const gint64 waited = (g_get_monotonic_time() - t0) / 1000;
    EXPECT_GE(waited, 450);
    EXPECT_LT(waited, 2000);
}

TEST(Portal, SignalParametersAreCheckedBeforeTheyAreRead) {
    for (auto [text, expected] : std::initializer_list<std::pair<const char*, bool>>{
             {"('org.freedesktop.appearance', 'color-scheme', <uint32 1>)", true},
             {"('org.freedesktop.appearance', 'accent-color', <uint32 1>)", false},
             {"('org.gnome.desktop', 'color-scheme', <uint32 1>)", false},
             {"('org.freedesktop.appearance', 'color-scheme')", false},
             {"(uint32 7, 'color-scheme', <uint32 1>)", false}}) {
        GVariant* params = g_variant_ref_sink(g_variant_new_parsed(text));
        EXPECT_EQ(portal::is_color_scheme_change(params), expected) << text;
        g_variant_unref(params);
    }
    EXPECT_FALSE(portal::is_color_scheme_change(nullptr));
}

TEST_F(Theme, AutoFollowsThePortalAndAFixedThemeIgnoresIt) {
    FakePortal portal("1");
    App& app = open("auto");
    EXPECT_TRUE(I::dark(app));
    EXPECT_EQ(colour_of(I::window(app), "background-color"), "#17171A");
    gboolean prefer_dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &prefer_dark,
                 nullptr);
    EXPECT_TRUE(prefer_dark);

    portal.set_mode("nested:2");
    portal.emit("org.freedesktop.appearance", "color-scheme", "ssv");
    EXPECT_TRUE(wait_until([&] { return !I::dark(app); }));
    EXPECT_EQ(colour_of(I::window(app), "background-color"), "#F2F1F0");

    // Signals of other settings, or with parameters of another type, change nothing.
    portal.set_mode("1");
    portal.emit("org.freedesktop.appearance", "contrast", "ssv");
    portal.emit("org.freedesktop.appearance", "color-scheme", "ss");
    process_events(200);
    EXPECT_FALSE(I::dark(app));

    App& fixed = open("light");
    EXPECT_FALSE(I::dark(fixed));
    portal.emit("org.freedesktop.appearance", "color-scheme", "ssv");
    process_events(150);
    EXPECT_FALSE(I::dark(fixed));
}

// The hint is read before the window sets the dark-variant property itself.
TEST_F(Theme, DesktopThemeHintDecidesWithoutAUsefulAnswer) {
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita-dark", nullptr);
    EXPECT_TRUE(I::dark(open("auto"))) << "no portal at all";
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita",
                 "gtk-application-prefer-dark-theme", FALSE, nullptr);
    FakePortal portal("0"); // no preference
    EXPECT_FALSE(I::dark(open("auto")));
    {
        // The theme named in the environment is the one drawn, over the setting.
        testing_support::ScopedEnv named("GTK_THEME", "HighContrastInverse");
        EXPECT_TRUE(I::dark(open("auto")));
        close();
    }
}

TEST_F(Theme, OverridesWithoutHashReachTheWidgets) {
    SettingsStore::instance().mutable_get().bg_dark = "102030";
    SettingsStore::instance().mutable_get().text_dark = "#e0e0e0";
    App& app = open("dark");
    EXPECT_EQ(colour_of(I::window(app), "background-color"), "#102030");
    EXPECT_EQ(colour_of(I::status(app), "color"), "#ADADB5") << "the status line is dim";
    EXPECT_EQ(app.palette().text, "#E0E0E0");
}

namespace {

// What shows behind `w`: its own background or its ancestors', translucent ones laid over the
// first opaque one.
std::string background_behind(GtkWidget* w) {
    GtkStyleContext* ctx = gtk_widget_get_style_context(w);
    GdkRGBA* c = nullptr;
    gtk_style_context_get(ctx, gtk_style_context_get_state(ctx), "background-color", &c, nullptr);
    const GdkRGBA own = *c;
    gdk_rgba_free(c);
    GtkWidget* parent = gtk_widget_get_parent(w);
    if (own.alpha >= 1 || !parent) return rgb_to_hex({own.red, own.green, own.blue});
    Rgb below;
    hex_to_rgb(background_behind(parent), below);
    return rgb_to_hex(mix({own.red, own.green, own.blue}, below, own.alpha));
}

GtkWidget* styled(GtkWidget* w, const char* style_class,
                  GtkStateFlags state = GTK_STATE_FLAG_NORMAL) {
    if (style_class) gtk_style_context_add_class(gtk_widget_get_style_context(w), style_class);
    gtk_widget_set_state_flags(w, state, FALSE);
    return w;
}

// The colour the theme gives the icon at the start of `entry` (a search entry's magnifier; the
// clear button at its end takes the same rules).
std::string icon_colour(GtkWidget* entry) {
    GtkWidgetPath* path = gtk_widget_path_copy(gtk_widget_get_path(entry));
    gtk_widget_path_append_type(path, GTK_TYPE_IMAGE);
    gtk_widget_path_iter_set_object_name(path, -1, "image");
    gtk_widget_path_iter_add_class(path, -1, "left");
    GtkStyleContext* ctx = gtk_style_context_new();
    gtk_style_context_set_path(ctx, path);
    gtk_style_context_set_parent(ctx, gtk_widget_get_style_context(entry));
    GdkRGBA* c = nullptr;
    gtk_style_context_get(ctx, GTK_STATE_FLAG_NORMAL, "color", &c, nullptr);
    const std::string hex = rgb_to_hex({c->red, c->green, c->blue});
    gdk_rgba_free(c);
    g_object_unref(ctx);
    gtk_widget_path_unref(path);
    return hex;
}

} // namespace

// Every text against what lies behind it, as the toolkit resolves the style sheet, and the
// detail table's own row colours: at least 4.5:1 in both built-in palettes, whichever of the
// toolkit's own themes the desktop uses (people who need contrast choose the last two). The
// entries' icons, the clear button among them, at least 3:1.
TEST(StyleSheet, EveryTextKeepsItsContrastInBothPalettesOverEveryDesktopTheme) {
    EXPECT_NEAR(contrast_ratio("#777777", "#FFFFFF"), 4.48, 0.01);
    GtkSettings* settings = gtk_settings_get_default();
    gchar* desktop_theme = nullptr;
    g_object_get(settings, "gtk-theme-name", &desktop_theme, nullptr);
    std::vector<std::pair<const char*, Palette>> cases;
    for (const char* theme : {"Adwaita", "HighContrast", "HighContrastInverse"})
        for (const Palette& p : {Palette::light(), Palette::dark_()})
            cases.emplace_back(theme, p);
    for (const auto& [theme, p] : cases) {
        SCOPED_TRACE(std::string(theme) + (p.dark ? ", dark" : ", light"));
        g_object_set(settings, "gtk-theme-name", theme, nullptr);
        GtkCssProvider* css = gtk_css_provider_new();
        const std::string sheet = build_css(p, "monospace");
        // A rule the toolkit cannot parse is dropped silently; its widgets keep the desktop's
        // colours.
        GError* error = nullptr;
        EXPECT_TRUE(gtk_css_provider_load_from_data(css, sheet.c_str(), -1, &error))
            << (error ? error->message : "");
        g_clear_error(&error);
        GdkScreen* screen = gdk_screen_get_default();
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        std::vector<GtkWidget*> texts; // a label, or a widget that draws its own text
        for (const char* style_class : {"", "dim-text", "section-title", "statusbar", "search-hit"})
            texts.push_back(styled(gtk_label_new("x"), *style_class ? style_class : nullptr));
        texts.push_back(gtk_entry_new());
        for (auto [style_class, state] :
             std::initializer_list<std::pair<const char*, GtkStateFlags>>{
                 {nullptr, GTK_STATE_FLAG_NORMAL},
                 {nullptr, GTK_STATE_FLAG_PRELIGHT},
                 {nullptr, GTK_STATE_FLAG_CHECKED},
                 {nullptr, GTK_STATE_FLAG_INSENSITIVE},
                 {"suggested-action", GTK_STATE_FLAG_NORMAL},
                 {"destructive-action", GTK_STATE_FLAG_NORMAL}}) {
            GtkWidget* button = styled(gtk_button_new_with_label("x"), style_class, state);
            gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
            texts.push_back(gtk_bin_get_child(GTK_BIN(button)));
        }
        // A menu that opens from the hovered item of the bar, as the user's menus do.
        GtkWidget* bar = gtk_menu_bar_new();
        GtkWidget* menu = gtk_menu_new();
        for (GtkWidget* shell : {bar, menu})
            for (GtkStateFlags state : {GTK_STATE_FLAG_NORMAL, GTK_STATE_FLAG_PRELIGHT}) {
                GtkWidget* item = styled(gtk_menu_item_new_with_label("x"), nullptr, state);
                gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
                if (shell == bar && state) gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
                texts.push_back(gtk_bin_get_child(GTK_BIN(item)));
            }
        texts.push_back(bar);
        GtkWidget* rows = styled(gtk_tree_view_new(), nullptr, GTK_STATE_FLAG_SELECTED);
        texts.push_back(rows);
        for (GtkWidget* w : texts) {
            if (!gtk_widget_get_parent(w) && w != menu)
                gtk_box_pack_start(GTK_BOX(box), w, FALSE, FALSE, 0);
        }
        for (GtkWidget* w : texts)
            EXPECT_GE(contrast_ratio(colour_of(w, "color"), background_behind(w)), 4.5)
                << G_OBJECT_TYPE_NAME(w) << " in " << G_OBJECT_TYPE_NAME(gtk_widget_get_parent(w))
                << ": " << colour_of(w, "color") << " on " << background_behind(w);
        GtkWidget* search = gtk_search_entry_new();
        gtk_box_pack_start(GTK_BOX(box), search, FALSE, FALSE, 0);
        EXPECT_GE(contrast_ratio(icon_colour(search), background_behind(search)), 3.0)
            << icon_colour(search) << " on " << background_behind(search);

        // The detail table colours its rows itself: section titles, stripes and locked rows.
        for (const auto& section : detail::rows_for(*sample_machine()->find("system"), "", p))
            for (const detail::Row& r : section.items)
                for (const detail::Row* row : {&r, &section.header})
                    EXPECT_GE(contrast_ratio(row->foreground, row->background.value_or(p.panel)),
                              4.5)
                        << row->name;
        gtk_widget_destroy(window);
        gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(css));
        g_object_unref(css);
    }
    g_object_set(settings, "gtk-theme-name", desktop_theme, nullptr);
    g_free(desktop_theme);
}

// Made with the empty startup theme, the settings need the variant set once whatever it is, and
// only once: a later palette change must not parse the whole theme again.
TEST_F(Theme, TheStartupThemeIsReplacedOnceByTheFirstThemeApplied) {
    for (const char* theme : {"light", "dark"}) {
        App& app = open("light");
        int parses = 0;
        GtkSettings* settings = gtk_settings_get_default();
        const gulong id =
            g_signal_connect_swapped(settings, "notify::gtk-application-prefer-dark-theme",
                                     G_CALLBACK(+[](int* n) { ++*n; }), &parses);
        I::theme_unparsed(app) = true;
        SettingsStore::instance().mutable_get().theme = theme;
        app.apply_theme();
        app.apply_theme();
        g_signal_handler_disconnect(settings, id);
        EXPECT_EQ(parses, 1) << theme;
    }
}

TEST(StartupTheme, AnEmptyCompiledThemeUntilTheSettingsExistAndAUsersThemeStaysTheirs) {
    testing_support::ScopedEnv unset("GTK_THEME", std::nullopt);
    ASSERT_TRUE(startup_theme::defer());
    // Where the toolkit looks for a theme by that name among the program's resources.
    const std::string css =
        "/org/gtk/libgtk/theme/" + std::string(g_getenv("GTK_THEME")) + "/gtk.css";
    EXPECT_TRUE(
        g_resources_get_info(css.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr, nullptr, nullptr));
    startup_theme::settle(true, true);
    EXPECT_EQ(g_getenv("GTK_THEME"), nullptr) << "programs started from the window get none";

    testing_support::ScopedEnv users("GTK_THEME", "Adwaita:dark");
    EXPECT_FALSE(startup_theme::defer());
    startup_theme::settle(false, true);
    EXPECT_STREQ(g_getenv("GTK_THEME"), "Adwaita:dark");
}

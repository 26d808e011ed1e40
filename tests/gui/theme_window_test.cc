// The desktop's light/dark preference through a fake portal on the tests' own session bus, and
// the style sheet as the widgets see it.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui/portal.h"
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

class Theme : public ::testing::Test {
protected:
    void SetUp() override {
        SettingsStore::instance().mutable_get() = Settings{};
        GtkSettings* s = gtk_settings_get_default();
        g_object_get(s, "gtk-theme-name", &m_theme_name, nullptr);
        g_object_set(s, "gtk-application-prefer-dark-theme", FALSE, nullptr);
    }
    void TearDown() override {
        m_app.reset();
        process_events();
        GtkSettings* s = gtk_settings_get_default();
        g_object_set(s, "gtk-theme-name", m_theme_name, "gtk-application-prefer-dark-theme", FALSE,
                     nullptr);
        g_free(m_theme_name);
        SettingsStore::instance().mutable_get() = Settings{};
    }
    App& open(const std::string& theme) {
        SettingsStore::instance().mutable_get().theme = theme;
        m_app = std::make_unique<App>();
        I::start(*m_app, sample_machine);
        process_events(20);
        return *m_app;
    }
    gchar* m_theme_name = nullptr;
    std::unique_ptr<App> m_app;
};

} // namespace

TEST(Portal, AnswersAndNestedVariants) {
    struct Case {
        const char* mode;
        std::optional<uint32_t> expected;
    };
    for (Case c :
         {Case{"0", 0u}, Case{"1", 1u}, Case{"2", 2u}, Case{"nested:1", 1u}, Case{"nested:2", 2u},
          Case{"string", std::nullopt}, Case{"error", std::nullopt}}) {
        FakePortal portal(c.mode);
        EXPECT_EQ(portal::read_color_scheme(gui_support::session_bus()), c.expected) << c.mode;
    }
}

TEST(Portal, NoPortalOrNoAnswerGivesNothingWithinTheTimeOut) {
    const gint64 t0 = g_get_monotonic_time();
    EXPECT_EQ(portal::read_color_scheme(gui_support::session_bus()), std::nullopt)
        << "nobody owns the name";
    EXPECT_LT(g_get_monotonic_time() - t0, 1500000);
    EXPECT_EQ(portal::read_color_scheme(nullptr), std::nullopt);

    FakePortal silent("never");
    const gint64 t1 = g_get_monotonic_time();
    EXPECT_EQ(portal::read_color_scheme(gui_support::session_bus()), std::nullopt);
    const gint64 waited = (g_get_monotonic_time() - t1) / 1000;
    EXPECT_GE(waited, 450);
    EXPECT_LT(waited, 2000);
}

TEST(Portal, SignalParametersAreCheckedBeforeTheyAreRead) {
    GVariant* good = g_variant_ref_sink(g_variant_new("(ssv)", "org.freedesktop.appearance",
                                                      "color-scheme", g_variant_new_uint32(1)));
    GVariant* other_key = g_variant_ref_sink(g_variant_new(
        "(ssv)", "org.freedesktop.appearance", "accent-color", g_variant_new_uint32(1)));
    GVariant* other_ns = g_variant_ref_sink(
        g_variant_new("(ssv)", "org.gnome.desktop", "color-scheme", g_variant_new_uint32(1)));
    GVariant* short_params =
        g_variant_ref_sink(g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"));
    GVariant* wrong_types =
        g_variant_ref_sink(g_variant_new("(usv)", 7u, "color-scheme", g_variant_new_uint32(1)));
    EXPECT_TRUE(portal::is_color_scheme_change(good));
    EXPECT_FALSE(portal::is_color_scheme_change(other_key));
    EXPECT_FALSE(portal::is_color_scheme_change(other_ns));
    EXPECT_FALSE(portal::is_color_scheme_change(short_params));
    EXPECT_FALSE(portal::is_color_scheme_change(wrong_types));
    EXPECT_FALSE(portal::is_color_scheme_change(nullptr));
    for (GVariant* v : {good, other_key, other_ns, short_params, wrong_types})
        g_variant_unref(v);
}

TEST_F(Theme, FixedThemeIgnoresThePortalAndItsSignals) {
    FakePortal portal("1");
    App& app = open("light");
    EXPECT_FALSE(I::dark(app));
    portal.emit("org.freedesktop.appearance", "color-scheme", "ssv");
    process_events(150);
    EXPECT_FALSE(I::dark(app));
    EXPECT_EQ(colour_of(I::window(app), "background-color"), "#F2F1F0");
}

TEST_F(Theme, AutoFollowsThePortalAndItsChanges) {
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
}

TEST_F(Theme, DesktopThemeHintDecidesWithoutAUsefulAnswer) {
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita-dark", nullptr);
    {
        App& app = open("auto"); // no portal at all
        EXPECT_TRUE(I::dark(app));
        m_app.reset();
    }
    {
        FakePortal portal("0"); // no preference
        App& app = open("auto");
        EXPECT_TRUE(I::dark(app));
        m_app.reset();
    }
    g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita",
                 "gtk-application-prefer-dark-theme", FALSE, nullptr);
    FakePortal portal("0");
    App& app = open("auto");
    EXPECT_FALSE(I::dark(app));
}

TEST_F(Theme, OverridesWithoutHashReachTheWidgets) {
    SettingsStore::instance().mutable_get().bg_dark = "102030";
    SettingsStore::instance().mutable_get().text_dark = "#e0e0e0";
    App& app = open("dark");
    EXPECT_EQ(colour_of(I::window(app), "background-color"), "#102030");
    EXPECT_EQ(colour_of(I::status(app), "color"), "#ADADB5") << "the status line is dim";
    EXPECT_EQ(app.palette().text, "#E0E0E0");
}

// The settings and colour dialogs, About, Licences and the permission notice, with
// screenshots of each in three languages, light and dark.
#include "app_inspector.h"
#include "gui/app.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

using gui_support::answer_dialogs;
using gui_support::later;
using gui_support::process_events;
using gui_support::respond;
using gui_support::sample_machine;
using gui_support::save_screenshot;
using gui_support::texts;
using gui_support::widgets_of;

namespace {

using I = AppInspector;

// Counts the times the settings file is replaced, which is how every save ends.
class SaveCounter {
public:
    SaveCounter() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        const std::string dir = SettingsStore::instance().path(); // creates the folder
        inotify_add_watch(m_fd, dir.substr(0, dir.rfind('/')).c_str(), IN_MOVED_TO);
    }
    ~SaveCounter() { close(m_fd); }
    int saves() {
        alignas(inotify_event) char buf[4096];
        ssize_t n;
        while ((n = read(m_fd, buf, sizeof buf)) > 0)
            for (char* p = buf; p < buf + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->len && std::string(e->name) == "settings.json") ++m_saves;
                p += sizeof(inotify_event) + e->len;
            }
        return m_saves;
    }

private:
    int m_fd;
    int m_saves = 0;
};

// The widgets of `type` in the dialog's grid, from top to bottom.
std::vector<GtkWidget*> by_row(GtkWindow* dialog, GType type) {
    auto out = widgets_of(GTK_WIDGET(dialog), type);
    auto row = [](GtkWidget* w) {
        int top = 0;
        gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(w)), w, "top-attach", &top,
                                nullptr);
        return top;
    };
    std::sort(out.begin(), out.end(), [&](GtkWidget* a, GtkWidget* b) { return row(a) < row(b); });
    return out;
}

std::string hex_of(GtkWidget* colour_button) {
    GdkRGBA c;
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(colour_button), &c);
    return rgb_to_hex({c.red, c.green, c.blue});
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        SettingsStore::instance().mutable_get() = Settings{};
        std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quarvel");
    }
    void TearDown() override {
        m_app.reset();
        process_events();
        for (const char* var : {"SNAP_NAME", "SNAP_VERSION", "SNAP_REVISION"})
            g_unsetenv(var);
        SettingsStore::instance().mutable_get() = Settings{};
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
        gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR);
    }
    App& open() {
        m_app = std::make_unique<App>();
        I::start(*m_app, [this] {
            ++m_collections;
            return sample_machine();
        });
        process_events(50);
        return *m_app;
    }
    std::unique_ptr<App> m_app;
    int m_collections = 0;
};

} // namespace

TEST_F(Dialogs, SettingsSaveEachChangeOnceAndNothingWhenOnlyOpened) {
    App& app = open();
    SaveCounter counter;
    answer_dialogs([&] { I::settings(app); },
                   {[](GtkWindow* d) { respond(d, GTK_RESPONSE_CLOSE); }});
    EXPECT_EQ(counter.saves(), 0);
    EXPECT_FALSE(std::filesystem::exists(SettingsStore::file_path()));

    answer_dialogs([&] { I::settings(app); }, {[&](GtkWindow* d) {
                       auto combos = by_row(d, GTK_TYPE_COMBO_BOX);
                       auto checks = by_row(d, GTK_TYPE_CHECK_BUTTON);
                       ASSERT_EQ(combos.size(), 3u);
                       ASSERT_EQ(checks.size(), 2u);
                       const Settings& s = SettingsStore::instance().get();

                       gtk_combo_box_set_active_id(GTK_COMBO_BOX(combos[0]), "de");
                       EXPECT_EQ(counter.saves(), 1);
                       EXPECT_EQ(s.language, "de");
                       EXPECT_EQ(m_collections, 2) << "titles are translated when collected";
                       EXPECT_STREQ(
                           gtk_menu_item_get_label(GTK_MENU_ITEM(
                               gtk_container_get_children(GTK_CONTAINER(I::menubar(app)))->data)),
                           "_Datei");

                       gtk_combo_box_set_active_id(GTK_COMBO_BOX(combos[1]), "dark");
                       EXPECT_EQ(counter.saves(), 2);
                       EXPECT_TRUE(I::dark(app));

                       gtk_combo_box_set_active_id(GTK_COMBO_BOX(combos[2]), "storage");
                       EXPECT_EQ(counter.saves(), 3);
                       EXPECT_EQ(s.start_view, "storage");

                       gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checks[0]), TRUE);
                       EXPECT_EQ(counter.saves(), 4);
                       EXPECT_TRUE(gtk_tree_view_column_get_visible(I::source_column(app)));

                       gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checks[1]), TRUE);
                       EXPECT_EQ(counter.saves(), 5);
                       EXPECT_TRUE(s.show_loop_devices);
                       EXPECT_EQ(m_collections, 3) << "the storage branch reads it when collected";
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
    EXPECT_EQ(counter.saves(), 5);
}

TEST_F(Dialogs, ColoursEditTheThemeInForceAndResetClearsBothThemes) {
    Settings& s = SettingsStore::instance().mutable_get();
    s.theme = "dark";
    s.bg_dark = "#000000";
    s.accent_light = "#112233";
    App& app = open();
    SaveCounter counter;
    GtkWindow* dialog = nullptr;
    answer_dialogs(
        [&] { I::colors(app); }, {[&](GtkWindow* d) {
            dialog = d;
            auto swatches = by_row(d, GTK_TYPE_COLOR_BUTTON);
            ASSERT_EQ(swatches.size(), 9u);
            EXPECT_NE(texts(GTK_WIDGET(d)).find(tr("color.head_dark")), std::string::npos);
            EXPECT_EQ(hex_of(swatches[0]), "#000000") << "the dark override";
            EXPECT_EQ(hex_of(swatches[1]), Palette::dark_().panel) << "the built-in colour";
            // The user picks a colour.
            GdkRGBA red{1, 0, 0, 1};
            gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(swatches[0]), &red);
            g_signal_emit_by_name(swatches[0], "color-set");
            EXPECT_EQ(s.bg_dark, "#FF0000");
            EXPECT_EQ(app.palette().background, "#FF0000");
            EXPECT_EQ(counter.saves(), 1);
            respond(d, 1); // Reset: the dialog runs again, with the built-in colours
            later([&, swatches] {
                EXPECT_EQ(s, [] {
                    Settings reset;
                    reset.theme = "dark";
                    return reset;
                }());
                EXPECT_EQ(hex_of(swatches[0]), Palette::dark_().background);
                EXPECT_EQ(counter.saves(), 2);
                respond(dialog, GTK_RESPONSE_CLOSE);
            });
        }});

    // The light theme's fields once it is in force.
    s.theme = "light";
    app.apply_theme();
    answer_dialogs([&] { I::colors(app); }, {[&](GtkWindow* d) {
                       auto swatches = by_row(d, GTK_TYPE_COLOR_BUTTON);
                       EXPECT_NE(texts(GTK_WIDGET(d)).find(tr("color.head_light")),
                                 std::string::npos);
                       GdkRGBA blue{0, 0, 1, 1};
                       gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(swatches[0]), &blue);
                       g_signal_emit_by_name(swatches[0], "color-set");
                       EXPECT_EQ(s.bg_light, "#0000FF");
                       EXPECT_EQ(s.bg_dark, "");
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
}

// Every dialog as the user sees it; texts from the environment are shown as text, never read
// as markup.
TEST_F(Dialogs, AboutLicencesAndNoticeInThreeLanguagesLightAndDark) {
    const struct {
        const char *language, *theme;
    } looks[] = {{"en", "light"}, {"en", "dark"},  {"de", "light"},
                 {"de", "dark"},  {"ar", "light"}, {"ar", "dark"}};
    for (const auto& look : looks) {
        const std::string tag = std::string(look.language) + "-" + look.theme;
        SCOPED_TRACE(tag);
        SettingsStore::instance().mutable_get().language = look.language;
        SettingsStore::instance().mutable_get().theme = look.theme;
        App& app = open();
        g_setenv("SNAP_VERSION", "2.0<b>", TRUE);
        g_setenv("SNAP_REVISION", "7", TRUE);
        GtkWindow* about = nullptr;
        answer_dialogs(
            [&] { I::about(app); },
            {[&](GtkWindow* d) {
                 about = d;
                 EXPECT_NE(texts(GTK_WIDGET(d)).find("Snap 2.0<b> (Revision 7)"),
                           std::string::npos);
                 save_screenshot(GTK_WIDGET(d), "dialog-about-" + tag + ".png");
                 respond(d, 1);
             },
             [&](GtkWindow* d) {
                 auto lists = widgets_of(GTK_WIDGET(d), GTK_TYPE_TREE_VIEW);
                 ASSERT_EQ(lists.size(), 1u);
                 EXPECT_EQ(gtk_tree_model_iter_n_children(
                               gtk_tree_view_get_model(GTK_TREE_VIEW(lists[0])), nullptr),
                           15);
                 EXPECT_NE(
                     texts(GTK_WIDGET(d)).find(I18n::trf("licenses.texts_at", "/usr/share/doc")),
                     std::string::npos);
                 save_screenshot(GTK_WIDGET(d), "dialog-licenses-" + tag + ".png");
                 respond(d, GTK_RESPONSE_CLOSE);
                 later([&] { respond(about, GTK_RESPONSE_CLOSE); });
             }});

        answer_dialogs([&] { I::settings(app); }, {[&](GtkWindow* d) {
                           save_screenshot(GTK_WIDGET(d), "dialog-settings-" + tag + ".png");
                           respond(d, GTK_RESPONSE_CLOSE);
                       }});
        answer_dialogs([&] { I::colors(app); }, {[&](GtkWindow* d) {
                           save_screenshot(GTK_WIDGET(d), "dialog-colors-" + tag + ".png");
                           respond(d, GTK_RESPONSE_CLOSE);
                       }});

        // Inside the confined package; "Copy command" copies and keeps the notice open.
        EXPECT_FALSE(I::permission_notice(app, false)) << "outside the package";
        g_setenv("SNAP_NAME", "quarvel", TRUE);
        const std::string command = "sudo sh -c 'for i in hardware-observe system-observe "
                                    "mount-observe; do snap connect quarvel:$i; done'";
        GtkWindow* notice = nullptr;
        answer_dialogs(
            [&] { EXPECT_TRUE(I::permission_notice(app, false)); }, {[&](GtkWindow* d) {
                notice = d;
                EXPECT_NE(texts(GTK_WIDGET(d)).find(command), std::string::npos);
                respond(d, GTK_RESPONSE_APPLY);
                later([&] {
                    EXPECT_EQ(gui_support::clipboard(), command);
                    EXPECT_NE(texts(GTK_WIDGET(notice)).find(tr("status.copied_command")),
                              std::string::npos);
                    save_screenshot(GTK_WIDGET(notice), "dialog-permissions-" + tag + ".png");
                    respond(notice, GTK_RESPONSE_CLOSE);
                });
            }});
        // A name that is no package name never reaches a command meant for a root shell.
        g_setenv("SNAP_NAME", "x; rm -rf ~", TRUE);
        EXPECT_FALSE(I::permission_notice(app, false));
        g_unsetenv("SNAP_NAME");
        m_app.reset();
        process_events();
    }
}

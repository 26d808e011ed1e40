// The settings and colour dialogs, About, Licences and the permission notice, with
// screenshots of each in three languages, light and dark.
#include "app_inspector.h"
#include "gui/draw_util.h"
#include "gui_support.h"
#include "i18n.h"
#include "settings.h"

#include <algorithm>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

using namespace gui_support;

namespace {

using I = AppInspector;
using Dialogs = WindowTest;

// Counts the times the settings file is replaced, which is how every save ends.
class SaveCounter {
public:
    SaveCounter() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        const std::string file = SettingsStore::instance().path(); // creates the folder
        inotify_add_watch(m_fd, file.substr(0, file.rfind('/')).c_str(), IN_MOVED_TO);
    }
    ~SaveCounter() { close(m_fd); }
    int saves() {
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = read(m_fd, buf, sizeof buf)) > 0;)
            for (char* p = buf; p < buf + n; p += sizeof(inotify_event) + ((inotify_event*)p)->len)
                m_saves += std::string(((inotify_event*)p)->name) == "settings.json";
        return m_saves;
    }

private:
    int m_fd, m_saves = 0;
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

void pick(GtkWidget* colour_button, GdkRGBA colour) {
    gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(colour_button), &colour);
    g_signal_emit_by_name(colour_button, "color-set");
}

bool shows(GtkWindow* dialog, const std::string& text) {
    return texts(GTK_WIDGET(dialog)).find(text) != std::string::npos;
}

} // namespace

TEST_F(Dialogs, SettingsSaveEachChangeOnceAndNothingWhenOnlyOpened) {
    App& app = open();
    SaveCounter counter;
    answer_dialogs([&] { I::settings(app); },
                   {[](GtkWindow* d) { respond(d, GTK_RESPONSE_CLOSE); }});
    EXPECT_EQ(counter.saves(), 0);

    answer_dialogs([&] { I::settings(app); }, {[&](GtkWindow* d) {
                       auto combos = by_row(d, GTK_TYPE_COMBO_BOX);
                       auto checks = by_row(d, GTK_TYPE_CHECK_BUTTON);
                       ASSERT_EQ(combos.size() + checks.size(), 5u);
                       const Settings& s = SettingsStore::instance().get();
                       gtk_combo_box_set_active_id(GTK_COMBO_BOX(combos[0]), "de");
                       EXPECT_EQ(counter.saves(), 1);
                       EXPECT_EQ(s.language, "de");
                       EXPECT_EQ(m_collections, 2) << "titles are translated when collected";
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
                       EXPECT_EQ(m_collections, 3) << "the storage branch reads it when collected";
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
}

TEST_F(Dialogs, ColoursEditTheThemeInForceAndResetClearsBothThemes) {
    Settings& s = SettingsStore::instance().mutable_get();
    s.theme = "dark";
    s.bg_dark = "#000000";
    s.accent_light = "#112233";
    App& app = open();
    SaveCounter counter;
    GtkWindow* dialog = nullptr;
    answer_dialogs([&] { I::colors(app); }, {[&](GtkWindow* d) {
                       dialog = d;
                       auto swatches = by_row(d, GTK_TYPE_COLOR_BUTTON);
                       ASSERT_EQ(swatches.size(), 9u);
                       EXPECT_TRUE(shows(d, tr("color.head_dark")));
                       EXPECT_EQ(hex_of(swatches[0]), "#000000") << "the dark override";
                       EXPECT_EQ(hex_of(swatches[1]), Palette::dark_().panel) << "built in";
                       pick(swatches[0], {1, 0, 0, 1});
                       EXPECT_EQ(app.palette().background, "#FF0000");
                       EXPECT_EQ(counter.saves(), 1);
                       respond(d, 1); // Reset: the dialog runs again
                       later([&, swatches] {
                           Settings reset;
                           reset.theme = "dark";
                           EXPECT_EQ(s, reset);
                           EXPECT_EQ(hex_of(swatches[0]), Palette::dark_().background);
                           EXPECT_EQ(counter.saves(), 2);
                           respond(dialog, GTK_RESPONSE_CLOSE);
                       });
                   }});
    s.theme = "light";
    app.apply_theme();
    answer_dialogs([&] { I::colors(app); }, {[&](GtkWindow* d) {
                       EXPECT_TRUE(shows(d, tr("color.head_light")));
                       pick(by_row(d, GTK_TYPE_COLOR_BUTTON)[0], {0, 0, 1, 1});
                       EXPECT_EQ(s.bg_light + "/" + s.bg_dark, "#0000FF/");
                       respond(d, GTK_RESPONSE_CLOSE);
                   }});
}

// Every dialog as the user sees it; texts from the environment are shown as text, never read
// as markup.
TEST_F(Dialogs, AboutLicencesAndNoticeInThreeLanguagesLightAndDark) {
    for (const char* look : {"en-light", "en-dark", "de-light", "de-dark", "ar-light", "ar-dark"}) {
        const std::string tag = look;
        SettingsStore::instance().mutable_get().language = tag.substr(0, 2);
        SettingsStore::instance().mutable_get().theme = tag.substr(3);
        App& app = open();
        g_setenv("SNAP_VERSION", "2.0<b>", TRUE);
        g_setenv("SNAP_REVISION", "7", TRUE);
        GtkWindow* about = nullptr;
        auto shot = [&](GtkWindow* d, const char* name) {
            save_screenshot(GTK_WIDGET(d), std::string("dialog-") + name + "-" + tag + ".png");
        };
        answer_dialogs([&] { I::about(app); },
                       {[&](GtkWindow* d) {
                            about = d;
                            EXPECT_TRUE(shows(d, "Snap 2.0<b> (Revision 7)")) << tag;
                            shot(d, "about");
                            respond(d, 1);
                        },
                        [&](GtkWindow* d) {
                            GtkWidget* list = widgets_of(GTK_WIDGET(d), GTK_TYPE_TREE_VIEW).at(0);
                            EXPECT_EQ(gtk_tree_model_iter_n_children(
                                          gtk_tree_view_get_model(GTK_TREE_VIEW(list)), nullptr),
                                      15);
                            EXPECT_TRUE(
                                shows(d, I18n::trf("licenses.texts_at",
                                                   draw::left_to_right("/usr/share/doc").c_str())));
                            // It fits its default size, and so screens of 600 pixels.
                            GtkRequisition least{};
                            gtk_widget_get_preferred_size(GTK_WIDGET(d), &least, nullptr);
                            EXPECT_LE(least.height, 560) << tag;
                            shot(d, "licenses");
                            respond(d, GTK_RESPONSE_CLOSE);
                            later([&] { respond(about, GTK_RESPONSE_CLOSE); });
                        }});
        for (auto action : {I::settings, I::colors})
            answer_dialogs([&] { action(app); }, {[&](GtkWindow* d) {
                               shot(d, action == I::settings ? "settings" : "colors");
                               respond(d, GTK_RESPONSE_CLOSE);
                           }});

        // Only inside the confined package; "Copy command" copies and keeps the notice open.
        EXPECT_FALSE(I::permission_notice(app, false));
        g_setenv("SNAP_NAME", "quarvel", TRUE);
        const std::string command = "sudo sh -c 'for i in hardware-observe system-observe "
                                    "mount-observe; do snap connect quarvel:$i; done'";
        answer_dialogs([&] { EXPECT_TRUE(I::permission_notice(app, false)); }, {[&](GtkWindow* d) {
                           EXPECT_TRUE(shows(d, command));
                           respond(d, GTK_RESPONSE_APPLY);
                           later([&, d] {
                               EXPECT_EQ(clipboard(), command);
                               EXPECT_TRUE(shows(d, tr("status.copied_command")));
                               shot(d, "permissions");
                               respond(d, GTK_RESPONSE_CLOSE);
                           });
                       }});
        // A name that is no package name never reaches a command meant for a root shell.
        g_setenv("SNAP_NAME", "x; rm -rf ~", TRUE);
        EXPECT_FALSE(I::permission_notice(app, false));
        g_unsetenv("SNAP_NAME");
    }
}

// Every row of the settings dialog is reached with Alt and a letter of its own, in every
// language, and the letter leads to the row's control.
TEST_F(Dialogs, SettingsRowsHaveMnemonicsOfTheirOwn) {
    App& app = open();
    for (const auto& language : I18n::available()) {
        I::set_language(app, language.code);
        answer_dialogs(
            [&] { I::settings(app); }, {[&](GtkWindow* d) {
                std::set<guint> seen;
                for (GtkWidget* w : widgets_of(GTK_WIDGET(d), GTK_TYPE_LABEL)) {
                    GtkWidget* control = gtk_label_get_mnemonic_widget(GTK_LABEL(w));
                    const guint key = gtk_label_get_mnemonic_keyval(GTK_LABEL(w));
                    if (!control) continue; // the hint
                    if (key == GDK_KEY_VoidSymbol) {
                        EXPECT_TRUE(gtk_widget_is_ancestor(w, control))
                            << language.code << ": " << gtk_label_get_text(GTK_LABEL(w));
                        continue; // a button's own text may go without
                    }
                    EXPECT_TRUE(seen.insert(gdk_keyval_to_lower(key)).second)
                        << language.code << ": " << gtk_label_get_text(GTK_LABEL(w))
                        << " repeats a mnemonic";
                }
                EXPECT_EQ(seen.size(), 6u) << language.code;
                if (language.code == "en") {
                    ASSERT_TRUE(wait_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(d)); }));
                    press_key(GTK_WIDGET(d), GDK_KEY_t, GDK_MOD1_MASK);
                    GtkWidget* theme = by_row(d, GTK_TYPE_COMBO_BOX).at(1);
                    GtkWidget* focus = gtk_window_get_focus(d);
                    EXPECT_TRUE(focus && (focus == theme || gtk_widget_is_ancestor(focus, theme)));
                }
                respond(d, GTK_RESPONSE_CLOSE);
            }});
    }
}

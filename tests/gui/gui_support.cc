#include "gui_support.h"

#include "app_inspector.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "settings.h"
#include "util.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gui_support {

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    const gint64 until = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    do {
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        if (done()) return true;
        g_usleep(2000);
    } while (g_get_monotonic_time() < until);
    return done();
}

void save_screenshot(GtkWidget* w, const std::string& name) {
    wait_until([&] { return gtk_widget_get_mapped(w); });
    // The pointer leaves the window, so no row shows its hover colour.
    GdkDisplay* display = gdk_display_get_default();
    gdk_device_warp(gdk_seat_get_pointer(gdk_display_get_default_seat(display)),
                    gdk_screen_get_default(), 1919, 1079);
    process_events(150);
    GdkWindow* win = gtk_widget_get_window(w);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(win, 0, 0, gdk_window_get_width(win),
                                                 gdk_window_get_height(win));
    ASSERT_NE(shot, nullptr);
    std::filesystem::create_directories(QUARVEL_ARTIFACT_DIR);
    std::string path = std::string(QUARVEL_ARTIFACT_DIR) + "/" + name;
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(shot);
}

void process_events(int ms) {
    wait_until([] { return false; }, ms);
}

void press_key(GtkWidget* window, unsigned keyval, unsigned modifiers) {
    GdkDisplay* display = gtk_widget_get_display(window);
    GdkEvent* e = gdk_event_new(GDK_KEY_PRESS);
    e->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    e->key.time = GDK_CURRENT_TIME;
    e->key.state = modifiers;
    e->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n) &&
        n > 0) {
        e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        e->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(e, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(e);
    gdk_event_free(e);
}

void click(GtkWidget* button) {
    // The button's own input window, over its place in the parent's window.
    GdkWindow* input = nullptr;
    GList* children = gdk_window_peek_children(gtk_widget_get_window(button));
    for (GList* c = children; c && !input; c = c->next) {
        gpointer owner = nullptr;
        gdk_window_get_user_data(GDK_WINDOW(c->data), &owner);
        if (owner == button) input = GDK_WINDOW(c->data);
    }
    ASSERT_NE(input, nullptr);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* e = gdk_event_new(type);
        e->button.window = GDK_WINDOW(g_object_ref(input));
        e->button.button = 1;
        e->button.x = gtk_widget_get_allocated_width(button) / 2.0;
        e->button.y = gtk_widget_get_allocated_height(button) / 2.0;
        e->button.time = GDK_CURRENT_TIME;
        gdk_event_set_device(
            e, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
        gtk_main_do_event(e);
        gdk_event_free(e);
    }
}

gboolean press_row(GtkTreeView* view, GtkTreePath* path, GdkEventType type, int x, guint32 time) {
    GdkRectangle cell{};
    gtk_tree_view_get_cell_area(view, path, nullptr, &cell);
    GdkEvent* e = gdk_event_new(type);
    e->button.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(view)));
    e->button.button = 1;
    e->button.x = x;
    e->button.y = cell.y + cell.height / 2.0;
    e->button.time = time;
    gdk_event_set_device(
        e, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = gtk_widget_event(GTK_WIDGET(view), e);
    gdk_event_free(e);
    return handled;
}

std::string clipboard() {
    gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

void write_script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

void set_clipboard(const char* text) {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text, -1);
}

namespace {

struct DialogWatch {
    std::vector<DialogStep> steps;
    size_t next = 0;
    std::set<GtkWindow*> before;
    gint64 deadline = 0;
    bool busy = false;
};

std::vector<GtkWindow*> open_dialogs(const DialogWatch& w) {
    std::vector<GtkWindow*> out;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next) {
        GtkWindow* win = GTK_WINDOW(l->data);
        if (!w.before.count(win) && GTK_IS_DIALOG(win) && gtk_widget_get_visible(GTK_WIDGET(win)))
            out.push_back(win);
    }
    g_list_free(tops);
    return out;
}

gboolean watch_dialogs(gpointer data) {
    auto* w = static_cast<DialogWatch*>(data);
    if (w->busy) return G_SOURCE_CONTINUE;
    if (g_get_monotonic_time() > w->deadline) {
        for (GtkWindow* win : open_dialogs(*w)) {
            ADD_FAILURE() << "a dialog stayed open: " << gtk_window_get_title(win);
            gtk_widget_destroy(GTK_WIDGET(win));
        }
        return G_SOURCE_CONTINUE;
    }
    for (GtkWindow* win : open_dialogs(*w)) {
        // Marked on the object, not kept by address: a closed dialog may be freed and the next
        // one come at the same address.
        if (g_object_get_data(G_OBJECT(win), "quarvel-test-handled")) continue;
        g_object_set_data(G_OBJECT(win), "quarvel-test-handled", win);
        if (w->next >= w->steps.size()) {
            ADD_FAILURE() << "an unexpected dialog: " << gtk_window_get_title(win);
            gtk_widget_destroy(GTK_WIDGET(win));
            break;
        }
        w->busy = true;
        w->steps[w->next++](win);
        w->busy = false;
        break;
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

void answer_dialogs(const std::function<void()>& open, std::vector<DialogStep> steps) {
    DialogWatch watch;
    watch.steps = std::move(steps);
    watch.deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next)
        watch.before.insert(GTK_WINDOW(l->data));
    g_list_free(tops);
    guint source = g_timeout_add(20, watch_dialogs, &watch);
    open();
    g_source_remove(source);
    EXPECT_EQ(watch.next, watch.steps.size()) << "not every expected dialog appeared";
}

void respond(GtkWindow* dialog, int response) {
    wait_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(dialog)); });
    process_events(30);
    gtk_dialog_response(GTK_DIALOG(dialog), response);
}

void later(std::function<void()> f) {
    g_timeout_add(
        30,
        [](gpointer data) -> gboolean {
            auto* fn = static_cast<std::function<void()>*>(data);
            (*fn)();
            delete fn;
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(f)));
}

std::vector<GtkWidget*> widgets_of(GtkWidget* root, GType type) {
    std::vector<GtkWidget*> out;
    if (G_TYPE_CHECK_INSTANCE_TYPE(root, type)) out.push_back(root);
    if (!GTK_IS_CONTAINER(root)) return out;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* l = children; l; l = l->next)
        for (GtkWidget* w : widgets_of(GTK_WIDGET(l->data), type))
            out.push_back(w);
    g_list_free(children);
    return out;
}

std::string texts(GtkWidget* w) {
    std::string out;
    for (GtkWidget* label : widgets_of(w, GTK_TYPE_LABEL))
        out += std::string(gtk_label_get_text(GTK_LABEL(label))) + "\n";
    return out;
}

void WindowTest::SetUp() {
    SettingsStore::instance().mutable_get() = Settings{};
    std::filesystem::remove_all(std::string(std::getenv("XDG_CONFIG_HOME")) + "/Quarvel");
    hw::RootData::instance() = {};
}

void WindowTest::TearDown() {
    close();
    SettingsStore::instance().mutable_get() = Settings{};
    testing_support::use_english();
    gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR);
    for (const char* var :
         {"TERMINAL", "QUARVEL_SYSROOT", "SNAP_NAME", "SNAP_VERSION", "SNAP_REVISION"})
        g_unsetenv(var);
    hw::RootData::instance() = {};
}

std::string description(GtkWidget* w) {
    const char* d = atk_object_get_description(gtk_widget_get_accessible(w));
    return d ? d : "";
}

void WindowTest::close() {
    m_app.reset();
    process_events();
}

App& WindowTest::open(std::function<std::unique_ptr<hw::Node>()> collect) {
    close();
    m_app = std::make_unique<App>();
    if (!collect)
        collect = [this] {
            ++m_collections;
            return sample_machine();
        };
    AppInspector::start(*m_app, std::move(collect));
    EXPECT_TRUE(wait_until([&] { return gtk_widget_get_mapped(AppInspector::window(*m_app)); }));
    process_events(50);
    return *m_app;
}

std::string WindowTest::status() const {
    return gtk_label_get_text(GTK_LABEL(AppInspector::status(*m_app)));
}

// Held for the whole test program, as the window holds it for the whole run.
GDBusConnection* session_bus() {
    static GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!c) throw std::runtime_error("no session bus for the fake portal");
    return c;
}

namespace {

bool portal_owned() {
    GVariant* r = g_dbus_connection_call_sync(
        session_bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.portal.Desktop"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (r) {
        g_variant_get(r, "(b)", &owned);
        g_variant_unref(r);
    }
    return owned;
}

bool wait_for_portal(bool owned, int seconds) {
    const gint64 until = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
    while (portal_owned() != owned && g_get_monotonic_time() < until)
        g_usleep(5000);
    return portal_owned() == owned;
}

} // namespace

FakePortal::FakePortal(const std::string& mode) {
    const char* argv[] = {QUARVEL_FAKE_PORTAL, mode.c_str(), nullptr};
    GPid pid = 0;
    GError* error = nullptr;
    const auto flags = GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                   G_SPAWN_STDERR_TO_DEV_NULL);
    auto die_with_tests = [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); };
    if (!g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, flags, die_with_tests, nullptr,
                       &pid, &error)) {
        std::string msg = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot start the fake portal: " + msg);
    }
    m_pid = pid;
    if (!wait_for_portal(true, 5))
        throw std::runtime_error("the fake portal did not take its name");
}

FakePortal::~FakePortal() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    // The next portal must not meet the name still owned by this one.
    wait_for_portal(false, 3);
}

void FakePortal::call(const char* method, GVariant* params) {
    GVariant* r = g_dbus_connection_call_sync(session_bus(), "org.freedesktop.portal.Desktop",
                                              "/org/freedesktop/portal/desktop",
                                              "org.quarvel.FakePortal", method, params, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (!r) throw std::runtime_error(std::string("fake portal call failed: ") + method);
    g_variant_unref(r);
}

void FakePortal::set_mode(const std::string& mode) {
    call("SetMode", g_variant_new("(s)", mode.c_str()));
}

void FakePortal::emit(const std::string& ns, const std::string& key, const std::string& signature) {
    call("Emit", g_variant_new("(sss)", ns.c_str(), key.c_str(), signature.c_str()));
}

// ---- The sample machine ---------------------------------------------------------------------

std::unique_ptr<hw::Node> sample_machine() {
    auto root = std::make_unique<hw::Node>();
    root->id = "root";
    root->title = "Computer";

    hw::Node* sys = root->add_child("system", "System", "\U0001F3E2");
    sys->summary = "Framework Laptop 13 (AMD Ryzen 7040 Series)";
    auto& machine = sys->section("Machine");
    machine.add("Vendor", "Framework", "/sys/class/dmi/id/sys_vendor");
    machine.add("Product", "Laptop 13 (AMD Ryzen 7040 Series)", "/sys/class/dmi/id/product_name");
    machine.add_locked("Serial number", "/sys/class/dmi/id/product_serial");
    auto& firmware = sys->section("Firmware");
    firmware.add("BIOS vendor", "INSYDE Corp.", "/sys/class/dmi/id/bios_vendor");
    firmware.add("BIOS version", "03.05", "/sys/class/dmi/id/bios_version");

    hw::Node* cpu = root->add_child("cpu", "Processor",
                                    "\x1C"
                                    "pu"); // the drawn chip
    cpu->summary = "AMD Ryzen 7 7840U w/ Radeon 780M Graphics";
    auto& p = cpu->section("Processor");
    p.add("Model", "AMD Ryzen 7 7840U w/ Radeon 780M Graphics", "/proc/cpuinfo");
    p.add("Vendor", "AuthenticAMD", "/proc/cpuinfo");
    p.add("Cores / threads", "8 / 16", "/sys/devices/system/cpu");
    cpu->section("Flags").add( // far wider than the pane: it must wrap
        "Flags",
        "fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx "
        "fxsr sse sse2 ht syscall nx mmxext fxsr_opt pdpe1gb rdtscp lm constant_tsc rep_good "
        "nopl nonstop_tsc cpuid extd_apicid aperfmperf rapl pni pclmulqdq monitor ssse3 fma",
        "/proc/cpuinfo");
    for (int i = 0; i < 4; ++i)
        cpu->add_child("cpu.core." + std::to_string(i), "CPU " + std::to_string(i), "\u2699")
            ->summary = std::to_string(1400 + 537 * i) + " MHz";

    hw::Node* storage = root->add_child("storage", "Storage", "\U0001F4BD");
    storage->summary = "1 disk";
    hw::Node* nvme =
        storage->add_child("storage.nvme0n1", "nvme0n1  WD_BLACK SN850X 2000GB", "\u26A1");
    nvme->summary = "1.8 TiB  SSD  NVMe";
    nvme->section("Device").add("Size", "1.82 TiB (2.00 TB)", "size");

    hw::Node* usb = root->add_child("usb", "USB devices", "\U0001F50C");
    usb->summary = "2 devices";
    usb->add_child("usb.3-1", "Laptop Camera", "\U0001F4F7")->summary = "Realtek";
    hw::Node* hub = usb->add_child("usb.3-2", "USB2.1 Hub", "\U0001F50C");
    hub->summary = "Genesys Logic, Inc.";
    hub->add_child("usb.3-2.1", "AX210 Bluetooth", "\U0001F4F6")->summary = "Intel Corp.";

    hw::Node* sensors = root->add_child("sensors", "Sensors", "\U0001F321\uFE0F");
    sensors->add_child("hwmon.hwmon3", "hwmon3  k10temp", "\U0001F321\uFE0F")
        ->section("Temperatures")
        .add("Tctl", "52.8 °C", "temp1_input");

    hw::Node* power = root->add_child("power", "Power supply", "\U0001F50B");
    hw::Node* bat = power->add_child("power.BAT1", "BAT1  Battery", "\U0001F50B");
    bat->summary = "87 %  Discharging";
    auto& b = bat->section("Battery");
    b.add("Capacity", "87 %", "capacity");
    b.add("Status", "Discharging", "status");
    b.add("Energy now", "47.9 Wh", "energy_now");

    hw::Node* input = root->add_child("input", "Input devices", "\u2328\uFE0F");
    input->add_child("input.0", "PIXA3854:00 093A:0274 Touchpad", "\u2328\uFE0F")->summary =
        "Touchpad";

    root->add_child("error.power", "power", "\u26A0")
        ->section("Error")
        .add_always("Status", "could not be read");
    return root;
}

} // namespace gui_support

#include "gui_support.h"

#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
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

#include "gui_support.h"

#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gui_support {

void process_events(int ms) {
    const gint64 until = g_get_monotonic_time() + gint64(ms) * 1000;
    do {
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        if (ms > 0) g_usleep(2000);
    } while (g_get_monotonic_time() < until);
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    const gint64 until = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!done() && g_get_monotonic_time() < until) {
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        g_usleep(2000);
    }
    return done();
}

std::string artifact_dir() {
    return QUARVEL_ARTIFACT_DIR;
}

// Held for the whole test program, as the window holds it for the whole run.
GDBusConnection* session_bus() {
    static GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!c) throw std::runtime_error("no session bus for the fake portal");
    return c;
}

namespace {

GDBusConnection* bus() {
    return session_bus();
}

bool portal_owned() {
    GVariant* r = g_dbus_connection_call_sync(
        bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.portal.Desktop"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (r) {
        g_variant_get(r, "(b)", &owned);
        g_variant_unref(r);
    }
    return owned;
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
    const gint64 until = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while (!portal_owned() && g_get_monotonic_time() < until)
        g_usleep(5000);
    if (!portal_owned()) throw std::runtime_error("the fake portal did not take its name");
}

FakePortal::~FakePortal() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    // The next portal must not meet the name still owned by this one.
    const gint64 until = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
    while (portal_owned() && g_get_monotonic_time() < until)
        g_usleep(5000);
}

void FakePortal::call(const char* method, GVariant* params) {
    GVariant* r = g_dbus_connection_call_sync(bus(), "org.freedesktop.portal.Desktop",
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
    root->icon = "\U0001F5A5";

    hw::Node* sys = root->add_child("system", "System", "\U0001F3E2");
    sys->summary = "Framework Laptop 13 (AMD Ryzen 7040 Series)";
    auto& machine = sys->section("Machine");
    machine.add("Vendor", "Framework", "/sys/class/dmi/id/sys_vendor");
    machine.add("Product", "Laptop 13 (AMD Ryzen 7040 Series)", "/sys/class/dmi/id/product_name");
    machine.add("Version", "A7", "/sys/class/dmi/id/product_version");
    machine.add_locked("Serial number", "/sys/class/dmi/id/product_serial");
    machine.add("Chassis", "Notebook", "/sys/class/dmi/id/chassis_type");
    auto& firmware = sys->section("Firmware");
    firmware.add("BIOS vendor", "INSYDE Corp.", "/sys/class/dmi/id/bios_vendor");
    firmware.add("BIOS version", "03.05", "/sys/class/dmi/id/bios_version");
    firmware.add("BIOS date", "03/29/2024", "/sys/class/dmi/id/bios_date");
    firmware.add("Firmware type", "UEFI", "/sys/firmware/efi");
    firmware.add("Secure Boot", "enabled", "");
    hw::Node* board = sys->add_child("system.board", "Mainboard", "\U0001F9E9");
    board->section("Mainboard").add("Vendor", "Framework", "/sys/class/dmi/id/board_vendor");
    board->section("Mainboard").add_locked("Serial number", "/sys/class/dmi/id/board_serial");

    hw::Node* cpu = root->add_child("cpu", "Processor",
                                    "\x1C"
                                    "pu");
    cpu->summary = "AMD Ryzen 7 7840U w/ Radeon 780M Graphics";
    auto& p = cpu->section("Processor");
    p.add("Model", "AMD Ryzen 7 7840U w/ Radeon 780M Graphics", "/proc/cpuinfo");
    p.add("Vendor", "AuthenticAMD", "/proc/cpuinfo");
    p.add("Family / model / stepping", "25 / 116 / 1", "/proc/cpuinfo");
    p.add("Cores / threads", "8 / 16", "/sys/devices/system/cpu");
    p.add("Maximum frequency", "5.13 GHz", "cpufreq/cpuinfo_max_freq");
    p.add("Microcode", "0xa704104", "/proc/cpuinfo");
    cpu->section("Cache").add("L3", "16 MiB", "cache/index3");
    cpu->section("Flags").add( // long enough to wrap
        "Flags",
        "fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx "
        "fxsr sse sse2 ht syscall nx mmxext fxsr_opt pdpe1gb rdtscp lm constant_tsc rep_good "
        "nopl nonstop_tsc cpuid extd_apicid aperfmperf rapl pni pclmulqdq monitor ssse3 fma",
        "/proc/cpuinfo");
    for (int i = 0; i < 4; ++i) {
        hw::Node* core =
            cpu->add_child("cpu.core." + std::to_string(i), "CPU " + std::to_string(i), "\u2699");
        core->summary = std::to_string(1400 + 537 * i) + " MHz";
        core->section("Core").add("Core ID", std::to_string(i / 2), "topology/core_id");
    }

    hw::Node* mem = root->add_child("memory", "Memory", "\U0001F4BE");
    mem->summary = "30.6 GiB";
    auto& m = mem->section("Usage");
    m.add("Total", "30.6 GiB", "/proc/meminfo");
    m.add("Available", "21.2 GiB", "/proc/meminfo");
    m.add("Swap", "8.0 GiB", "/proc/swaps");
    mem->section("Memory modules").add_locked("Modules", "");

    hw::Node* gfx = root->add_child("graphics", "Graphics", "\U0001F3A8");
    gfx->section("Overview").add("card1", "AMD Phoenix1 [Radeon 740M / 760M / 780M]", "");
    hw::Node* gpu = gfx->add_child("gpu.card1", "card1  Radeon 780M", "\U0001F3AE");
    gpu->summary = "Advanced Micro Devices, Inc. [AMD/ATI]";
    gpu->section("Device").add("Driver", "amdgpu", "device/driver");
    hw::Node* displays = gfx->add_child("drm.connectors", "Displays", "\U0001F5A5");
    displays->summary = "1 connected";
    hw::Node* edp =
        displays->add_child("drm.card1-eDP-1", "card1-eDP-1  BOE NE135A1M-NY1", "\U0001F5A5");
    edp->summary = "2880 × 1920";
    edp->section("Monitor").add("Manufacturer", "BOE", "edid");
    edp->section("Monitor").add("Preferred mode", "2880 × 1920 @ 120 Hz", "edid");

    hw::Node* storage = root->add_child("storage", "Storage", "\U0001F4BD");
    storage->summary = "1 disk";
    hw::Node* nvme =
        storage->add_child("storage.nvme0n1", "nvme0n1  WD_BLACK SN850X 2000GB", "\u26A1");
    nvme->summary = "1.8 TiB  SSD  NVMe";
    auto& d = nvme->section("Device");
    d.add("Model", "WD_BLACK SN850X 2000GB", "device/model");
    d.add("Firmware", "620361WD", "device/firmware_rev");
    d.add_locked("Serial number", "device/serial");
    d.add("Size", "1.82 TiB (2.00 TB)", "size");
    d.add("Logical / physical sector", "512 B / 512 B", "queue/");
    hw::DiskVisual dv;
    dv.device = "nvme0n1", dv.model = "WD_BLACK SN850X 2000GB", dv.bus = "NVMe";
    dv.bytes = 2000398934016ull;
    dv.partitions.push_back({"nvme0n1p1", "/boot/efi", "vfat", 536870912, 80000000, true});
    dv.partitions.push_back({"nvme0n1p2", "/", "ext4", 1999000000000ull, 612000000000ull, true});
    storage->disks.push_back(dv);
    nvme->disks.push_back(dv);

    hw::Node* pci = root->add_child("pci", "PCI devices", "\U0001F50C");
    pci->summary = "1 device";
    hw::Node* vga = pci->add_child("pci.0000:c1:00.0", "Phoenix1 [Radeon 780M]", "\u25AB");
    vga->summary = "VGA compatible controller";
    vga->section("Device").add("Class", "VGA compatible controller", "class");

    hw::Node* usb = root->add_child("usb", "USB devices", "\U0001F50C");
    usb->summary = "2 devices";
    usb->section("Overview").add("Controllers", "1", "");
    hw::UsbControllerVisual ctrl;
    ctrl.id = "0000:c1:00.3", ctrl.name = "xHCI controller", ctrl.vendor = "AMD";
    ctrl.device_count = 2;
    usb->usb.push_back(ctrl);
    hw::Node* cam = usb->add_child("usb.3-1", "Laptop Camera", "\U0001F4F7");
    cam->summary = "Realtek Semiconductor Corp.";
    cam->section("Device").add("Speed", "480 Mbit/s (USB 2.0)", "speed");
    hw::Node* hub = usb->add_child("usb.3-2", "USB2.1 Hub", "\U0001F50C");
    hub->summary = "Genesys Logic, Inc.";
    hub->section("Device").add("Class", "Hub", "bDeviceClass");
    hw::Node* bt = hub->add_child("usb.3-2.1", "AX210 Bluetooth", "\U0001F4F6");
    bt->summary = "Intel Corp.";
    bt->section("Device").add("Speed", "12 Mbit/s (USB 1.1)", "speed");

    hw::Node* net = root->add_child("network", "Network", "\U0001F310");
    net->summary = "2 interfaces";
    hw::Node* wlan = net->add_child("net.wlp1s0", "wlp1s0", "\U0001F7E2");
    wlan->summary = "Wireless  ·  up";
    wlan->section("Interface").add("MAC address", "00:00:00:00:00:00", "address");
    wlan->section("Interface").add("MTU", "1500", "mtu");
    wlan->section("Addresses").add("IPv4", "192.0.2.17/24", "");
    wlan->section("Addresses").add("IPv6", "2001:db8::17/64", "");
    net->add_child("net.lo", "lo", "\u26AA")->summary = "Loopback  ·  unknown";

    hw::Node* sensors = root->add_child("sensors", "Sensors", "\U0001F321\uFE0F");
    hw::Node* k10 = sensors->add_child("hwmon.hwmon3", "hwmon3  k10temp", "\U0001F321\uFE0F");
    k10->summary = "k10temp";
    k10->section("Temperatures").add("Tctl", "52.8 °C", "temp1_input");

    hw::Node* power = root->add_child("power", "Power supply", "\U0001F50B");
    hw::Node* bat = power->add_child("power.BAT1", "BAT1  Battery", "\U0001F50B");
    bat->summary = "87 %  Discharging";
    auto& b = bat->section("Battery");
    b.add("Manufacturer", "NVT", "manufacturer");
    b.add("Capacity", "87 %", "capacity");
    b.add("Status", "Discharging", "status");
    b.add("Energy now", "47.9 Wh", "energy_now");
    b.add("Energy full", "55.0 Wh", "energy_full");
    b.add("Cycle count", "112", "cycle_count");

    hw::Node* input = root->add_child("input", "Input devices", "\u2328\uFE0F");
    input->summary = "2 devices";
    input->add_child("input.0", "PIXA3854:00 093A:0274 Touchpad", "\u2328\uFE0F")->summary =
        "Touchpad";
    input->add_child("input.1", "AT Translated Set 2 keyboard", "\u2328\uFE0F")->summary =
        "Keyboard";

    hw::Node* os = root->add_child("os", "Operating system", "\U0001F427");
    os->summary = "Debian GNU/Linux 12 (bookworm)";
    os->section("Distribution").add("Name", "Debian GNU/Linux 12 (bookworm)", "/etc/os-release");
    os->section("Kernel").add("Release", "6.1.0-21-amd64", "/proc/sys/kernel/osrelease");

    hw::Node* err = root->add_child("error.power", "power", "\u26A0");
    err->section("Error").add_always("Status", "could not be read");
    return root;
}

} // namespace gui_support

// The operating-system branch: the distribution, the kernel, the running time, the desktop
// session, packaging and sandbox, and security features.
//
// Inside a Snap or Flatpak the visible /etc/os-release describes the sandbox's runtime, not
// the machine, so the host's copies that those sandboxes expose are read first.
#include "host.h"
#include "hw/cpu_list.h"
#include "hw/hardware.h"
#include "hw/os_parsers.h"
#include "util.h"

#include <cstdlib>
#include <ctime>

namespace hw {

namespace {

// Distributions write a dozen or two lines.
constexpr size_t max_os_release_lines = 1024;

const char* const snap_hostfs = "/var/lib/snapd/hostfs";

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool in_flatpak() {
    return !env_or_empty("FLATPAK_ID").empty() || util::path_exists("/.flatpak-info");
}

std::string detect_packaging() {
    if (!host::environment("SNAP").empty()) return "Snap";
    if (!host::environment("FLATPAK_ID").empty() || util::path_exists("/.flatpak-info"))
        return "Flatpak";
    if (!host::environment("APPDIR").empty()) return "AppImage";
    if (util::path_exists("/.dockerenv")) return "Docker";
    if (util::path_exists("/run/.containerenv")) return "Podman";
    return {};
}

OsRelease read_os_release(bool* from_host) {
    *from_host = false;
    std::vector<std::string> candidates;
    if (!env_or_empty("SNAP").empty()) {
        candidates.push_back(std::string(snap_hostfs) + "/etc/os-release");
        candidates.push_back(std::string(snap_hostfs) + "/usr/lib/os-release");
    }
    if (in_flatpak()) {
        candidates.push_back("/run/host/os-release");
        candidates.push_back("/run/host/etc/os-release");
    }
    candidates.push_back("/etc/os-release");
    candidates.push_back("/usr/lib/os-release");
    OsRelease table;
    for (const auto& path : candidates) {
        parse_os_release(util::read_lines(path, max_os_release_lines), table);
        if (!table.empty()) {
            *from_host = util::starts_with(path, snap_hostfs);
            break;
        }
    }
    return table;
}

void add_distribution(Node& node, const OsRelease& os, bool snap_base) {
    Section& s = node.section(tr("sec.distribution"));
    static const std::pair<const char*, const char*> rows[] = {
        {"f.name", "PRETTY_NAME"},  {"f.id", "ID"},
        {"f.version", "VERSION"},   {"f.version_id", "VERSION_ID"},
        {"f.build_id", "BUILD_ID"}, {"f.variant", "VARIANT"},
        {"f.id_like", "ID_LIKE"},   {"f.home_url", "HOME_URL"},
    };
    for (const auto& [label, key] : rows)
        s.add(tr(label), os.get(key));
    if (snap_base) s.add_always(tr("f.note"), tr("msg.os_snap_base"), "");
}

void add_kernel(Node& node, const std::string& cmdline) {
    Section& s = node.section(tr("sec.kernel"));
    host::KernelName k = host::kernel_name();
    s.add(tr("f.name"), util::valid_utf8(k.sysname));
    s.add(tr("f.release"), util::valid_utf8(k.release));
    s.add(tr("f.version"), util::valid_utf8(k.version));
    s.add(tr("f.architecture"), util::valid_utf8(k.machine));
    s.add(tr("f.hostname"), util::valid_utf8(k.nodename));
    s.add(tr("f.build"), util::read_text("/proc/version"), "/proc/version");
    s.add(tr("f.cmdline"), util::printable(cmdline), "/proc/cmdline");
    if (auto page = host::page_size())
        s.add(tr("f.page_size"), util::fmt_bytes(static_cast<uint64_t>(*page)));
    s.add(tr("f.tainted"), util::read_text("/proc/sys/kernel/tainted"), "kernel/tainted");
    s.add(tr("f.entropy"), util::read_text("/proc/sys/kernel/random/entropy_avail"),
          "random/entropy_avail");
    s.add(tr("f.max_pid"), util::read_text("/proc/sys/kernel/pid_max"), "kernel/pid_max");
    // A file that cannot be read says nothing about the modules; an empty one says none.
    if (util::readable("/proc/modules")) {
        uint64_t n = 0;
        for (const auto& line : util::read_lines("/proc/modules"))
            if (!util::trim(line).empty()) ++n;
        s.add(tr("f.modules_loaded"), util::fmt_int(n), "/proc/modules");
    }
}

std::string boot_time(int64_t btime) {
    std::time_t t = static_cast<std::time_t>(btime);
    std::tm local{};
    char buf[64];
    if (!localtime_r(&t, &local)) return {};
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local) == 0) return {};
    return buf;
}

void add_runtime(Node& node) {
    Section& s = node.section(tr("sec.runtime"));
    if (auto up = parse_uptime(util::read_file("/proc/uptime")))
        s.add(tr("f.uptime"), util::fmt_duration(*up), "/proc/uptime");
    if (auto la = parse_loadavg(util::read_file("/proc/loadavg"))) {
        if (la->loads) {
            const auto& l = *la->loads;
            s.add(tr("f.loadavg"),
                  util::fmt_double(l[0], 2) + " / " + util::fmt_double(l[1], 2) + " / " +
                      util::fmt_double(l[2], 2),
                  "1 / 5 / 15 min");
        }
        s.add(tr("f.tasks"), la->tasks, "/proc/loadavg");
        s.add(tr("f.last_pid"), la->last_pid);
    }
    // What the C library would count, from the list it reads, which the processor branch
    // has read already.
    const size_t listed =
        parse_cpu_list(util::read_text_shared("/sys/devices/system/cpu/online")).size();
    if (listed > 0)
        s.add(tr("f.processors_online"), util::fmt_int(listed));
    else if (auto n = host::processors_online())
        s.add(tr("f.processors_online"), util::fmt_int(static_cast<uint64_t>(*n)));
    if (auto bt = parse_btime(util::read_lines("/proc/stat")))
        s.add(tr("f.booted_at"), boot_time(*bt), "/proc/stat btime");
}

void add_session(Node& node) {
    Section& s = node.section(tr("sec.session"));
    static const std::pair<const char*, const char*> rows[] = {
        {"f.desktop", "XDG_CURRENT_DESKTOP"},
        {"f.session_type", "XDG_SESSION_TYPE"},
        {"f.window_manager", "DESKTOP_SESSION"},
        {"f.display", "DISPLAY"},
        {"f.wayland", "WAYLAND_DISPLAY"},
        {"f.language", "LANG"},
        {"f.shell", "SHELL"},
    };
    for (const auto& [label, var] : rows)
        s.add(tr(label), host::environment(var));
    std::string packaging = detect_packaging();
    if (!packaging.empty()) {
        s.add(tr("f.packaging"), packaging);
        s.add_always(tr("f.note"), tr("msg.sandbox_note"), "");
    }
}

bool kaslr_disabled(const std::string& cmdline) {
    for (const auto& word : util::split_ws(cmdline))
        if (word == "nokaslr") return true;
    return false;
}

void add_security(Node& node, const std::string& cmdline) {
    Section& s = node.section(tr("sec.security"));
    std::string enforce = util::read_file("/sys/fs/selinux/enforce");
    if (!enforce.empty())
        s.add(tr("f.selinux"), enforce[0] == '1' ? "SELinux: enforcing" : "SELinux: permissive");
    if (util::is_dir("/sys/kernel/security/apparmor"))
        s.add(tr("f.apparmor"), tr("common.yes"), "/sys/kernel/security/apparmor");
    s.add(tr("f.lockdown"), util::read_text("/sys/kernel/security/lockdown"), "lockdown");
    // Without the command line nothing tells whether randomisation was turned off.
    if (!cmdline.empty() || util::readable("/proc/cmdline"))
        s.add(tr("f.kaslr"), yesno(!kaslr_disabled(cmdline)));
}

} // namespace

void collect_os(Node& root) {
    Node* node = root.add_child("os", tr("tree.os"), "\U0001F427");
    bool from_host = false;
    OsRelease os = read_os_release(&from_host);
    bool in_snap = !env_or_empty("SNAP").empty();
    bool snap_base = in_snap && !from_host;
    std::string pretty = os.get("PRETTY_NAME");
    if (!pretty.empty()) node->summary = pretty + (snap_base ? "  (Snap)" : "");
    add_distribution(*node, os, snap_base);
    std::string cmdline = util::read_file_raw("/proc/cmdline", util::attribute_limit);
    add_kernel(*node, cmdline);
    add_runtime(*node);
    add_session(*node);
    add_security(*node, cmdline);
}

} // namespace hw

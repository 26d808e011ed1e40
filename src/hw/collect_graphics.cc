// The "graphics" branch: DRM devices, their display connectors with the monitor's identity
// from its EDID block, and the desktop session's monitors as the toolkit sees them.
#include "hw/display_session.h"
#include "hw/edid.h"
#include "hw/hardware.h"
#include "hw/ids.h"
#include "util.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace hw {

namespace {

// A connector lists a few dozen modes; a monitor with every mode of the standard has some
// hundreds.
constexpr size_t max_modes = 1024;

const char* const drm_dir = "/sys/class/drm";
const char* const monitor_icon = "\U0001F5A5";

std::string size_text(int width, int height) {
    return std::to_string(width) + " × " + std::to_string(height);
}

// "0000:03:00.0": only then is the device's name a PCI address.
bool looks_like_pci_address(const std::string& name) {
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    return name[11] >= '0' && name[11] <= '7';
}

// The directory that holds the PCI identity of a DRM device. Usually the device itself; a
// virtio GPU is a device on the virtio bus whose "vendor" and "device" are virtio numbers,
// and the PCI function it sits on is its parent.
std::string pci_function_of(const std::string& dev) {
    std::string bus = util::read_link_base(dev + "/subsystem");
    if (bus.empty() || bus == "pci") return dev;
    std::string real = util::resolve_path(dev);
    std::string parent = real.substr(0, real.rfind('/'));
    if (!parent.empty() && util::read_link_base(parent + "/subsystem") == "pci") return parent;
    return dev;
}

void add_device(Node& graphics, const std::string& entry, int& count) {
    std::string card = std::string(drm_dir) + "/" + entry;
    std::string dev = card + "/device";
    // Resolved, so that the PCI branch finds the ids read here under the same name.
    std::string pci = util::resolve_path(pci_function_of(dev));
    std::string vendor_text = util::read_file_shared(pci + "/vendor");
    std::string device_text = util::read_file_shared(pci + "/device");
    uint32_t vendor = util::parse_hex(vendor_text, 0);
    uint32_t device = util::parse_hex(device_text, 0);
    const Ids& ids = Ids::instance();
    std::string vendor_name = vendor_text.empty() ? std::string() : ids.pci_vendor(vendor);
    std::string name = vendor_text.empty() ? std::string() : ids.pci_device(vendor, device);
    if (name.empty()) name = vendor_name;
    if (name.empty()) name = tr("value.gpu");

    Node* gpu = graphics.add_child("gpu." + entry, entry + "  " + name, "\U0001F3AE");
    graphics.section(tr("sec.overview")).add(entry, name, vendor_name);
    ++count;
    graphics.summary =
        count == 1 ? std::string(tr("summary.one_device")) : I18n::trf("summary.n_devices", count);

    Section& s = gpu->section(tr("sec.device"));
    s.add(tr("f.name"), name);
    s.add(tr("f.vendor"), vendor_name, "vendor");
    if (!vendor_text.empty() && !device_text.empty())
        s.add(tr("f.device_id"), "0x" + util::to_hex(vendor, 4) + ":0x" + util::to_hex(device, 4),
              "vendor:device");
    s.add(tr("f.driver"), util::read_link_base(dev + "/driver"), "driver");
    std::string address = util::base_name(pci);
    if (looks_like_pci_address(address)) s.add(tr("f.pci_address"), address);
    add_sysfs(s, tr("f.revision"), pci, "revision");
    // -1 is the kernel's way of saying the machine has no NUMA nodes.
    std::string numa = util::read_file_raw(pci + "/numa_node", util::attribute_limit);
    if (util::to_i64(numa, -1) >= 0) s.add(tr("f.numa_node"), util::printable(numa), "numa_node");
    add_sysfs(s, tr("f.link_speed_cur"), pci, "current_link_speed");
    add_sysfs(s, tr("f.link_width_cur"), pci, "current_link_width");
    add_sysfs_bool(s, tr("f.boot_vga"), pci, "boot_vga");

    Section& st = gpu->section(tr("sec.gpu_status"));
    std::string busy = util::read_file(dev + "/gpu_busy_percent");
    constexpr uint64_t unread = ~uint64_t(0);
    if (uint64_t pct = util::to_u64(busy, unread); pct != unread)
        st.add(tr("f.gpu_load"), util::fmt_int(pct) + " %", "gpu_busy_percent");
    add_sysfs_bytes(st, tr("f.vram_total"), dev, "mem_info_vram_total", 1);
    add_sysfs_bytes(st, tr("f.vram_used"), dev, "mem_info_vram_used", 1);
    add_sysfs_bytes(st, tr("f.vram_vis"), dev, "mem_info_vis_vram_total", 1);
    add_sysfs_bytes(st, tr("f.gtt_total"), dev, "mem_info_gtt_total", 1);
    add_sysfs(st, tr("f.power_profile"), dev, "power_dpm_force_performance_level");
    add_sysfs(st, tr("f.gpu_clock"), dev, "pp_dpm_sclk");
    add_sysfs(st, tr("f.mem_clock"), dev, "pp_dpm_mclk");
    // i915 keeps its frequencies on the card, not on the PCI device.
    add_sysfs(st, tr("f.gpu_freq_cur"), card, "gt_cur_freq_mhz");
    add_sysfs(st, tr("f.gpu_freq_max"), card, "gt_max_freq_mhz");
    add_sysfs(st, tr("f.gpu_freq_min"), card, "gt_min_freq_mhz");
}

void add_monitor_rows(Section& s, const Edid& e, size_t size) {
    s.add(tr("f.name"), e.monitor_name);
    s.add(tr("f.manufacturer"), e.manufacturer, "EDID PNP-ID");
    s.add(tr("f.product_code"), "0x" + util::to_hex(e.product_code, 4));
    if (e.serial_number != 0) s.add(tr("f.serial"), util::fmt_int(e.serial_number));
    s.add(tr("f.serial_text"), e.serial_text);
    if (e.year > 1990) {
        std::string year = std::to_string(e.year);
        s.add(tr("f.manufactured"),
              e.week != 0 ? std::string(tr("f.week")) + " " + std::to_string(e.week) + ", " + year
                          : year);
    }
    s.add(tr("f.edid_version"), std::to_string(e.version) + "." + std::to_string(e.revision));
    s.add(tr("f.signal"), e.digital ? tr("value.digital") : tr("value.analog"));
    // EDID 1.4 puts an aspect ratio in one size byte when the other is 0: no size then.
    bool sized = e.width_cm > 0 && e.height_cm > 0;
    if (sized) {
        double diagonal =
            std::sqrt(double(e.width_cm) * e.width_cm + double(e.height_cm) * e.height_cm);
        s.add(tr("f.screen_size"), size_text(e.width_cm, e.height_cm) + " cm  (" +
                                       util::fmt_double(diagonal / 2.54, 1) + "\")");
    }
    if (sized && e.pref_width > 0)
        s.add(tr("f.dpi"), util::fmt_double(e.pref_width / (e.width_cm / 2.54), 0) + " dpi");
    if (e.gamma > 0) s.add(tr("f.gamma"), util::fmt_double(e.gamma, 2));
    if (e.pref_width > 0)
        s.add(tr("f.preferred_mode"), size_text(e.pref_width, e.pref_height) + " @ " +
                                          util::fmt_double(e.pref_refresh, 1) + " Hz");
    s.add(tr("f.edid_size"), util::fmt_int(size) + " B");
}

// Returns true when the connector has a monitor attached.
bool add_connector(Node& parent, const std::string& entry) {
    std::string path = std::string(drm_dir) + "/" + entry;
    bool connected = util::read_file(path + "/status") == "connected";
    std::string raw = util::read_file_raw(path + "/edid", util::attribute_limit);
    Edid e = parse_edid(raw);
    std::string monitor = e.valid ? e.monitor_name : std::string();

    Node* node = parent.add_child("drm." + entry, monitor.empty() ? entry : entry + "  " + monitor,
                                  connected ? monitor_icon : "\u26AA");
    if (connected && e.valid && e.pref_width > 0)
        node->summary = size_text(e.pref_width, e.pref_height);
    else
        node->summary = connected ? tr("value.connected") : tr("value.disconnected");

    std::string overview =
        connected ? (monitor.empty() ? tr("value.connected") : monitor) : tr("value.disconnected");
    if (connected && e.valid && e.pref_width > 0)
        overview += ", " + size_text(e.pref_width, e.pref_height);
    parent.section(tr("sec.overview")).add(entry, overview);

    Section& c = node->section(tr("sec.connector"));
    c.add(tr("f.name"), entry);
    c.add(tr("f.status"), connected ? tr("value.connected") : tr("value.disconnected"), "status");
    add_sysfs(c, tr("f.enabled"), path, "enabled");
    add_sysfs(c, tr("f.dpms"), path, "dpms");
    size_t dash = entry.find('-');
    if (dash != std::string::npos) c.add(tr("f.connector_type"), entry.substr(dash + 1));

    if (e.valid) {
        add_monitor_rows(node->section(tr("sec.monitor")), e, raw.size());
    } else if (connected) {
        node->section(tr("sec.monitor")).add(tr("f.status"), tr("msg.no_edid"));
    }

    std::vector<std::string> modes;
    for (const auto& line : util::read_lines(path + "/modes", max_modes)) {
        std::string mode = util::valid_utf8(util::trim(line));
        if (!mode.empty()) modes.push_back(mode);
    }
    if (!modes.empty()) {
        Section& m = node->section(tr("sec.modes"));
        m.add(tr("f.count"), util::fmt_int(modes.size()));
        m.add(tr("f.modes"), util::fmt_columns(modes, 78), "modes");
    }
    return connected;
}

// The toolkit's English name of a subpixel order, as captures keep it, in the user's language.
std::string subpixel_text(const std::string& name) {
    if (name == "None") return tr("value.subpixel_none");
    for (const char* order : {"RGB", "BGR"}) {
        if (name == std::string("Horizontal ") + order)
            return I18n::trf("value.subpixel_horizontal", order);
        if (name == std::string("Vertical ") + order)
            return I18n::trf("value.subpixel_vertical", order);
    }
    return name;
}

void add_session(Node& graphics) {
    Node* node = graphics.add_child("graphics.session", tr("tree.display_session"), "\U0001F4D0");
    auto session = display_session();
    if (!session) return;
    size_t n = session->monitors.size();
    Section& server = node->section(tr("sec.display_server"));
    server.add(tr("f.backend"), session->backend);
    server.add(tr("f.display_name"), session->display_name);
    server.add(tr("f.monitors"), util::fmt_int(n));
    node->summary = I18n::trf("summary.n_monitors", static_cast<int>(n));
    // Wayland tells clients of no primary monitor, and the toolkit then calls none primary:
    // "No" on every monitor would be a claim nobody made.
    const bool primary_known = std::any_of(session->monitors.begin(), session->monitors.end(),
                                           [](const SessionMonitor& m) { return m.primary; });

    for (size_t i = 0; i < n; ++i) {
        const SessionMonitor& m = session->monitors[i];
        std::string description = util::trim(m.manufacturer + " " + m.model);
        std::string title = std::string(tr("sec.monitor")) + " " + std::to_string(i + 1);
        if (!description.empty()) title += " — " + description;
        Section& s = node->section(title);
        s.add(tr("f.manufacturer"), m.manufacturer);
        s.add(tr("f.model"), m.model);
        s.add(tr("f.geometry"), size_text(m.width, m.height) + "  @ " + std::to_string(m.x) + "," +
                                    std::to_string(m.y));
        s.add(tr("f.workarea"), size_text(m.work_width, m.work_height));
        if (m.refresh_millihz > 0)
            s.add(tr("f.refresh_rate"), util::fmt_double(m.refresh_millihz / 1000.0, 2) + " Hz");
        s.add(tr("f.scale_factor"), util::fmt_int(static_cast<uint64_t>(std::max(m.scale, 1))));
        if (m.width_mm > 0 && m.height_mm > 0) {
            s.add(tr("f.physical_size"), size_text(m.width_mm, m.height_mm) + " mm");
            // The geometry is in application pixels; the panel has scale times as many.
            double dpi = double(m.width) * std::max(m.scale, 1) / (m.width_mm / 25.4);
            s.add(tr("f.dpi"), util::fmt_double(dpi, 0) + " dpi");
        }
        if (primary_known) s.add(tr("f.primary"), yesno(m.primary));
        s.add(tr("f.subpixel"), subpixel_text(m.subpixel));
    }
}

} // namespace

void collect_graphics(Node& root) {
    Node* graphics = root.add_child("graphics", tr("tree.graphics"), "\U0001F3A8");
    graphics->section(tr("sec.overview"));

    auto entries = util::list_dir(drm_dir, "card");
    int devices = 0;
    for (const auto& entry : entries)
        if (entry.find('-') == std::string::npos) add_device(*graphics, entry, devices);

    Node* displays = graphics->add_child("drm.connectors", tr("tree.displays"), monitor_icon);
    displays->section(tr("sec.overview"));
    int connected = 0;
    for (const auto& entry : entries)
        if (entry.find('-') != std::string::npos && add_connector(*displays, entry)) ++connected;
    displays->summary = I18n::trf("summary.n_connected", connected);

    add_session(*graphics);
}

} // namespace hw

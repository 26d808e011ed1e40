// The PCI branch: every function under /sys/bus/pci/devices, with its names from the
// identifier database and the rest from its sysfs directory.
#include "hw/collect_pci.h"

#include "hw/pci_parser.h"
#include "read_beside.h"
#include "util.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace hw {

namespace {

const char* const DEVICES_DIR = "/sys/bus/pci/devices";

struct PciDevice {
    std::string address;
    std::string dir; // the function's own directory, links resolved
    // Kept 32 bits wide: a damaged file must not be cut down to some other device's id.
    uint32_t vendor = 0;
    uint32_t device = 0;
    uint32_t sub_vendor = 0;
    uint32_t sub_device = 0;
    uint32_t class_code = 0;
    std::string vendor_name;
    std::string device_name;
    std::string class_name;
    std::string interface_name;
    std::string driver;
};

PciDevice read_device(const std::string& address, const Ids& ids) {
    PciDevice d;
    d.address = util::valid_utf8(address);
    d.dir = util::resolve_path(std::string(DEVICES_DIR) + "/" + address);
    auto hex = [&](const char* attr) {
        // The graphics branch has read a card's ids already.
        return util::parse_hex(*util::read_shared(d.dir + "/" + attr, util::attribute_limit), 0);
    };
    d.vendor = hex("vendor");
    d.device = hex("device");
    d.sub_vendor = hex("subsystem_vendor");
    d.sub_device = hex("subsystem_device");
    d.class_code = hex("class");
    d.vendor_name = ids.pci_vendor(d.vendor);
    d.device_name = ids.pci_device(d.vendor, d.device);
    d.class_name = ids.pci_class(d.class_code);
    d.interface_name = ids.pci_interface(d.class_code);
    d.driver = util::valid_utf8(util::read_link_base(d.dir + "/driver"));
    return d;
}

std::string display_name(const PciDevice& d) {
    if (d.vendor_name.empty() && d.device_name.empty())
        return util::to_hex(d.vendor, 4) + ":" + util::to_hex(d.device, 4);
    if (d.vendor_name.empty()) return d.device_name;
    if (d.device_name.empty()) return d.vendor_name;
    return d.vendor_name + " " + d.device_name;
}

std::string name_or_unknown(const std::string& name) {
    return name.empty() ? std::string(tr("common.unknown")) : name;
}

std::string hex_range(uint64_t start, uint64_t end) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%016" PRIx64 " – 0x%016" PRIx64, start, end);
    return buf;
}

void add_resources(Section& s, const std::string& dir) {
    for (const auto& r :
         parse_pci_resources(util::read_file_raw(dir + "/resource", util::attribute_limit))) {
        // A range over the whole 64-bit space has a size one beyond what fits.
        uint64_t size = r.end - r.start == UINT64_MAX ? UINT64_MAX : r.end - r.start + 1;
        std::string what = util::fmt_bytes(size);
        // A range flagged as neither is shown without a kind rather than with a guessed one.
        if (r.flags & IORESOURCE_IO)
            what += ", I/O";
        else if (r.flags & IORESOURCE_MEM)
            what += ", MEM";
        s.add("BAR " + std::to_string(r.index), hex_range(r.start, r.end) + "  (" + what + ")",
              "resource");
    }
}

void add_identification(Node& n, const PciDevice& d, const Ids& ids) {
    Section& s = n.section(tr("sec.identification"));
    s.add(tr("f.address"), d.address);
    std::string code = "(0x" + util::to_hex(d.class_code, 6) + ")";
    std::string cls = d.class_name;
    if (!cls.empty() && !d.interface_name.empty()) cls += ", " + d.interface_name;
    s.add(tr("f.class"), cls.empty() ? code : cls + "  " + code, "class");
    s.add(tr("f.vendor"),
          name_or_unknown(d.vendor_name) + "  (0x" + util::to_hex(d.vendor, 4) + ")", "vendor");
    s.add(tr("f.device"),
          name_or_unknown(d.device_name) + "  (0x" + util::to_hex(d.device, 4) + ")", "device");
    if (d.sub_vendor != 0 || d.sub_device != 0) {
        std::string ids_text =
            "(0x" + util::to_hex(d.sub_vendor, 4) + ":0x" + util::to_hex(d.sub_device, 4) + ")";
        std::string name = ids.pci_subsystem(d.sub_vendor, d.sub_device, d.vendor, d.device);
        s.add(tr("f.subsystem"), name.empty() ? ids_text : name + "  " + ids_text);
    }
    add_sysfs(s, tr("f.revision"), d.dir, "revision");
    add_sysfs(s, tr("f.modalias"), d.dir, "modalias");
}

void add_driver(Node& n, const PciDevice& d) {
    Section& s = n.section(tr("sec.driver"));
    s.add(tr("f.driver"), d.driver.empty() ? std::string(tr("value.no_driver")) : d.driver);
    // Built-in drivers have no module link and so no row.
    s.add(tr("f.module"), util::valid_utf8(util::read_link_base(d.dir + "/driver/module")),
          "driver/module");
    // The kernel writes "(null)" when no override is set, which is the usual case.
    std::string forced = util::read_text(d.dir + "/driver_override");
    if (forced != "(null)") s.add(tr("f.driver"), forced, "driver_override");
    add_sysfs(s, tr("f.irq"), d.dir, "irq");
    // -1 is the kernel's "no node known"; an unknown fact gets no row.
    std::string node = util::read_file(d.dir + "/numa_node");
    if (util::to_i64(node, -1) >= 0) s.add(tr("f.numa_node"), node, "numa_node");
    add_sysfs(s, tr("f.local_cpus"), d.dir, "local_cpulist");
    add_sysfs_bool(s, tr("f.enabled"), d.dir, "enable");
    // Asked of every other function, it was an open that fails, one per function.
    if (may_have_boot_vga(d.class_code)) add_sysfs_bool(s, tr("f.boot_vga"), d.dir, "boot_vga");
    s.add(tr("f.msi_irqs"), util::join(util::list_dir(d.dir + "/msi_irqs"), ", "), "msi_irqs");
}

void add_link(Node& n, const std::string& dir) {
    // The kernel gives the four to PCI Express functions only, and all four together. The
    // maximum speed is always readable where it exists (a speed the kernel cannot tell reads
    // "Unknown"), so a function without it has none: on the others that were three more opens
    // that fail.
    std::string max_speed = util::read_text(dir + "/max_link_speed");
    if (max_speed.empty()) return;
    Section& s = n.section(tr("sec.link"));
    add_sysfs(s, tr("f.link_speed_cur"), dir, "current_link_speed");
    add_sysfs(s, tr("f.link_width_cur"), dir, "current_link_width");
    s.add(tr("f.link_speed_max"), std::move(max_speed), "max_link_speed");
    add_sysfs(s, tr("f.link_width_max"), dir, "max_link_width");
}

void add_power(Node& n, const std::string& dir) {
    Section& s = n.section(tr("sec.power"));
    add_sysfs(s, tr("f.power_state"), dir, "power_state");
    add_sysfs(s, tr("f.runtime_status"), dir, "power/runtime_status");
    add_sysfs(s, tr("f.control"), dir, "power/control");
    add_sysfs_bool(s, tr("f.d3cold"), dir, "d3cold_allowed");
}

} // namespace

void collect_pci_with(Node& root, const Ids& ids) {
    std::vector<std::string> addresses;
    for (auto& name : util::list_dir(DEVICES_DIR))
        // A dangling link is a function that went away while we looked.
        if (util::is_dir(std::string(DEVICES_DIR) + "/" + name)) addresses.push_back(name);
    // Fixed-width hexadecimal: natural order would put 00:1f.3 before 00:02.0.
    std::sort(addresses.begin(), addresses.end(),
              [](const std::string& a, const std::string& b) { return pci_address_less(a, b); });

    Node* pci = root.add_child("pci", tr("tree.pci"), "🔌");
    pci->summary = addresses.size() == 1
                       ? std::string(tr("summary.one_device"))
                       : I18n::trf("summary.n_devices", static_cast<int>(addresses.size()));
    Section& overview = pci->section(tr("sec.overview"));

    // A machine with hundreds of functions (network cards with many ports, virtual functions)
    // reads them on two threads; each device's node waits in a holder for its place.
    std::vector<PciDevice> devices(addresses.size());
    std::vector<Node> holders(addresses.size());
    util::read_in_halves(addresses.size(), [&](size_t i) {
        const PciDevice& d = devices[i] = read_device(addresses[i], ids);
        Node* n = holders[i].add_child("pci." + d.address, display_name(d), "▫");
        n->summary = d.class_name;
        add_identification(*n, d, ids);
        add_driver(*n, d);
        add_link(*n, d.dir);
        add_power(*n, d.dir);
        add_resources(n->section(tr("sec.resources")), d.dir);
    });

    for (const auto& d : devices) {
        std::string cls = d.class_name.empty() ? util::to_hex(d.class_code >> 8, 4) : d.class_name;
        overview.add(d.address, cls + ": " + display_name(d));
    }
    for (Node& holder : holders)
        pci->adopt_children(holder);
}

void collect_pci(Node& root) {
    collect_pci_with(root, Ids::instance());
}

} // namespace hw

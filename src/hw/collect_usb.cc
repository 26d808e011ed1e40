// The USB branch: root hubs with the devices behind them as nested nodes, an overview of
// every device, and the controller records the window draws as USB cards.
#include "hw/collect_usb.h"

#include "hw/usb_topology.h"
#include "read_beside.h"
#include "util.h"

#include <algorithm>
#include <optional>

namespace hw {

namespace {

const char* const devices_root = "/sys/bus/usb/devices";
const char* const branch_icon = "\U0001F517";

// One device (or root hub) as read from its directory.
struct UsbDevice {
    std::string port;
    std::string dir;
    // Each id only when its file holds one; naming the device needs both.
    std::optional<uint32_t> vendor;
    std::optional<uint32_t> product;
    std::string manufacturer;
    std::string product_text;
    std::string db_vendor;
    std::string db_product;
    uint32_t device_class = 0;
    bool has_class = false;
    std::string speed;
    std::string max_power;
    std::vector<std::string> interfaces; // interface directory names, natural order
    // Each interface's class, read once: the device's class, its icon and its interface rows
    // all ask for it.
    std::vector<std::optional<uint32_t>> interface_classes;
};

bool has_ids(const UsbDevice& d) {
    return d.vendor && d.product;
}

std::string ids_text(const UsbDevice& d) {
    if (!has_ids(d)) return {};
    return util::to_hex(*d.vendor, 4) + ":" + util::to_hex(*d.product, 4);
}

// The product string, else the database's name, else the ids, else the port.
std::string display_name(const UsbDevice& d) {
    if (!d.product_text.empty()) return d.product_text;
    if (!d.db_product.empty()) return d.db_product;
    return has_ids(d) ? ids_text(d) : d.port;
}

std::string display_vendor(const UsbDevice& d) {
    return d.manufacturer.empty() ? d.db_vendor : d.manufacturer;
}

// The kernel writes ids as fixed-width hex. Anything else (a damaged capture) is no id at all:
// truncating it would show an invented id that the database might even name.
std::optional<uint32_t> hex_id(const std::string& text, uint32_t max) {
    uint64_t v = util::parse_hex64(text, UINT64_MAX);
    if (v > max) return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::optional<uint32_t> interface_byte(const std::string& iface_dir, const char* attr) {
    return hex_id(util::read_file(iface_dir + "/" + attr), 0xff);
}

UsbDevice read_device(const std::string& port, const Ids& ids) {
    UsbDevice d;
    d.port = port;
    d.dir = std::string(devices_root) + "/" + port;
    d.vendor = hex_id(util::read_file(d.dir + "/idVendor"), 0xffff);
    d.product = hex_id(util::read_file(d.dir + "/idProduct"), 0xffff);
    d.manufacturer = util::read_text(d.dir + "/manufacturer");
    d.product_text = util::read_text(d.dir + "/product");
    if (has_ids(d)) {
        d.db_vendor = ids.usb_vendor(*d.vendor);
        d.db_product = ids.usb_device(*d.vendor, *d.product);
    }
    auto cls = hex_id(util::read_file(d.dir + "/bDeviceClass"), 0xff);
    d.has_class = cls.has_value();
    d.device_class = cls.value_or(0);
    d.speed = util::read_file(d.dir + "/speed");
    d.max_power = util::read_file(d.dir + "/bMaxPower");
    for (const auto& entry : util::list_dir(d.dir))
        if (entry.find(':') != std::string::npos) {
            d.interfaces.push_back(entry);
            d.interface_classes.push_back(interface_byte(d.dir + "/" + entry, "bInterfaceClass"));
        }
    return d;
}

// A keyboard says so in its name, or offers the boot keyboard protocol (HID class 3, boot
// subclass 1, protocol 1) on one of its interfaces; receivers often carry a mouse beside it.
bool is_keyboard(const UsbDevice& d) {
    if (util::lower(d.product_text + " " + d.db_product).find("keyboard") != std::string::npos)
        return true;
    for (size_t i = 0; i < d.interfaces.size(); ++i) {
        std::string dir = d.dir + "/" + d.interfaces[i];
        if (d.interface_classes[i] == 3u && interface_byte(dir, "bInterfaceSubClass") == 1u &&
            interface_byte(dir, "bInterfaceProtocol") == 1u)
            return true;
    }
    return false;
}

// The class that says what the device is: its own, or its first interface's when the
// device leaves the class to its interfaces (class 0).
std::string class_name(const UsbDevice& d, const Ids& ids) {
    if (d.has_class && d.device_class == 0 && !d.interfaces.empty()) {
        if (auto cls = d.interface_classes.front()) return ids.usb_class(*cls);
    }
    return d.has_class ? ids.usb_class(d.device_class) : std::string();
}

UsbDeviceVisual visual_of(const UsbDevice& d, const Ids& ids) {
    UsbDeviceVisual v;
    v.port = d.port;
    v.name = display_name(d);
    v.vendor = display_vendor(d);
    v.cls = class_name(d, ids);
    v.ids = ids_text(d);
    v.speed = util::valid_utf8(d.speed);
    v.mbit = usb_mbit(d.speed);
    v.gen = v.mbit > 0 ? usb_gen_name(v.mbit) : std::string();
    v.power_ma = usb_power_ma(d.max_power);
    v.is_hub = util::lower(v.cls).find("hub") != std::string::npos;
    return v;
}

std::string icon_for(const UsbDevice& d, const UsbDeviceVisual& v) {
    std::string cls = util::lower(v.cls);
    if (v.is_hub) return "\U0001F500";
    if (cls.find("human interface") != std::string::npos)
        return is_keyboard(d) ? "\u2328\uFE0F" : "\U0001F5B1";
    if (cls.find("mass storage") != std::string::npos) return "\U0001F4BE";
    if (cls.find("video") != std::string::npos || cls.find("imag") != std::string::npos)
        return "\U0001F4F7";
    if (cls.find("audio") != std::string::npos) return "\U0001F3A7";
    if (cls.find("wireless") != std::string::npos) return "\U0001F4F6";
    if (cls.find("printer") != std::string::npos) return "\U0001F5A8";
    return "\U0001F50C";
}

// "0x046d  (Logitech, Inc.)": the id as the kernel gives it, the name when one is known.
void add_id(Section& s, const char* key, std::optional<uint32_t> id, const std::string& attr,
            const std::string& name) {
    if (!id) return;
    std::string value = "0x" + util::to_hex(*id, 4);
    if (!name.empty()) value += "  (" + name + ")";
    s.add(tr(key), value, name.empty() ? attr : "usb.ids");
}

void add_hex_byte(Section& s, const char* key, const std::string& dir, const std::string& attr) {
    if (auto v = hex_id(util::read_file(dir + "/" + attr), 0xff))
        s.add(tr(key), "0x" + util::to_hex(*v, 2), attr);
}

// bcdDevice is binary-coded decimal: 0110 is release 1.10.
std::string bcd_release(const std::string& text) {
    bool bcd =
        text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        });
    if (!bcd) return util::valid_utf8(text);
    std::string major = text.substr(0, 2);
    if (major[0] == '0') major.erase(0, 1);
    return major + "." + text.substr(2);
}

std::string interface_text(const std::string& dir, std::optional<uint32_t> code, const Ids& ids) {
    std::vector<std::string> parts;
    if (code) {
        std::string part = std::string(tr("f.class")) + " 0x" + util::to_hex(*code, 2);
        std::string name = ids.usb_class(*code);
        if (!name.empty()) part += " (" + name + ")";
        parts.push_back(part);
    }
    std::string driver = util::valid_utf8(util::read_link_base(dir + "/driver"));
    std::string text = util::join(parts, "");
    text += std::string(text.empty() ? "" : " ") + "→ " +
            (driver.empty() ? tr("value.no_driver") : driver);
    std::string endpoints = util::read_file(dir + "/bNumEndpoints");
    if (!endpoints.empty()) {
        uint32_t n = util::parse_hex(endpoints, 0);
        text += ", " + util::fmt_int(n) + (n == 1 ? " endpoint" : " endpoints");
    }
    return text;
}

void fill_device(Node& n, const UsbDevice& d, const Ids& ids) {
    const std::string& dir = d.dir;
    Section& ident = n.section(tr("sec.identification"));
    ident.add(tr("f.port"), util::valid_utf8(d.port));
    ident.add(tr("f.manufacturer"), d.manufacturer, "manufacturer");
    ident.add(tr("f.product"), d.product_text, "product");
    add_id(ident, "f.vendor_id", d.vendor, "idVendor", d.db_vendor);
    add_id(ident, "f.product_id", d.product, "idProduct", d.db_product);
    // A root hub's serial and bus number name its controller on the cards too.
    ident.add(tr("f.serial"), util::read_text_shared(dir + "/serial"), "serial");
    std::string bcd = util::read_file(dir + "/bcdDevice");
    ident.add(tr("f.revision"), bcd_release(bcd), "bcdDevice");
    add_sysfs(ident, tr("f.usb_version"), dir, "version");
    if (d.has_class) {
        std::string value = "0x" + util::to_hex(d.device_class, 2);
        std::string name = ids.usb_class(d.device_class);
        if (!name.empty()) value += "  (" + name + ")";
        ident.add(tr("f.class"), value, "bDeviceClass");
    }
    add_hex_byte(ident, "f.subclass", dir, "bDeviceSubClass");
    add_hex_byte(ident, "f.protocol", dir, "bDeviceProtocol");

    Section& conn = n.section(tr("sec.connection"));
    conn.add(tr("f.speed"), usb_speed_text(d.speed), "speed");
    conn.add(tr("f.bus"), util::read_text_shared(dir + "/busnum"), "busnum");
    add_sysfs(conn, tr("f.device_num"), dir, "devnum");
    if (!d.max_power.empty()) {
        bool numeric = d.max_power.find_first_of("0123456789") == 0;
        conn.add(tr("f.max_power"),
                 numeric ? util::fmt_int(static_cast<uint64_t>(usb_power_ma(d.max_power))) + " mA"
                         : util::valid_utf8(d.max_power),
                 "bMaxPower");
    }
    add_sysfs(conn, tr("f.max_child"), dir, "maxchild");
    add_sysfs(conn, tr("f.interfaces"), dir, "bNumInterfaces");
    add_sysfs(conn, tr("f.configurations"), dir, "bNumConfigurations");
    add_sysfs(conn, tr("f.removable"), dir, "removable");
    add_sysfs_bool(conn, tr("f.authorized"), dir, "authorized");
    add_sysfs(conn, tr("f.rx_lanes"), dir, "rx_lanes");
    add_sysfs(conn, tr("f.tx_lanes"), dir, "tx_lanes");

    Section& power = n.section(tr("sec.power"));
    add_sysfs(power, tr("f.power_control"), dir, "power/control");
    add_sysfs(power, tr("f.runtime_status"), dir, "power/runtime_status");
    add_sysfs(power, tr("f.autosuspend"), dir, "power/autosuspend_delay_ms");
    add_sysfs(power, tr("f.wakeup"), dir, "power/wakeup");

    Section& interfaces = n.section(tr("sec.interfaces"));
    for (size_t i = 0; i < d.interfaces.size(); ++i)
        interfaces.add(util::valid_utf8(d.interfaces[i]),
                       interface_text(dir + "/" + d.interfaces[i], d.interface_classes[i], ids));
}

struct Builder {
    const std::map<std::string, std::vector<std::string>>& children;
    const std::map<std::string, UsbDevice>& devices;
    const std::map<std::string, UsbDeviceVisual>& visuals;
    // Each device's rows, filled while it was read; each device has one place in the tree.
    std::map<std::string, std::vector<Section>>& filled;

    void add_children(Node& parent, const std::string& name, int depth) const {
        auto it = children.find(name);
        // The kernel's hub depth ends at 7 tiers; the guard only protects against loops.
        if (it == children.end() || depth > 16) return;
        for (const auto& child : it->second) {
            const UsbDevice& d = devices.at(child);
            const UsbDeviceVisual& v = visuals.at(child);
            Node* n = parent.add_child("usb." + util::valid_utf8(child), v.name, icon_for(d, v));
            n->summary = v.vendor;
            n->sections = std::move(filled.at(child));
            add_children(*n, child, depth + 1);
        }
    }
};

// What names the controller on the cards: the PCI function when it is one, else its root
// hub's product text ("xHCI Host Controller" for a platform controller).
void name_controller(UsbRootHub& r, const std::string& hub_product, const Ids& ids) {
    // A serial is text from the kernel, not a path to follow anywhere else.
    bool pci_like = !r.controller.empty() && r.controller.find('/') == std::string::npos &&
                    r.controller.find(':') != std::string::npos;
    if (pci_like) {
        // Resolved as the PCI branch resolves it, which has read these ids already.
        std::string pci = util::resolve_path("/sys/bus/pci/devices/" + r.controller);
        auto read = [&](const char* attr) { return util::read_file_shared(pci + "/" + attr); };
        std::string vendor = read("vendor");
        if (!vendor.empty()) {
            uint32_t v = util::parse_hex(vendor, 0) & 0xffff;
            uint32_t dev = util::parse_hex(read("device"), 0) & 0xffff;
            r.name = ids.pci_device(v, dev);
            r.vendor = ids.pci_vendor(v);
        }
    }
    if (r.name.empty()) r.name = hub_product;
}

} // namespace

void collect_usb_with(Node& root, const Ids& ids) {
    std::vector<std::string> names = util::list_dir(devices_root);
    std::vector<std::string> hubs, device_names, listed; // listed: both, in listing order
    for (const auto& name : names) {
        if (usb_is_root_hub_name(name))
            hubs.push_back(name);
        else if (usb_is_device_name(name))
            device_names.push_back(name);
        else
            continue;
        listed.push_back(name);
    }

    Node* usb = root.add_child("usb", tr("tree.usb"), branch_icon);
    usb->summary = device_names.size() == 1
                       ? std::string(tr("summary.one_device"))
                       : I18n::trf("summary.n_devices", static_cast<int>(device_names.size()));

    // A device's rows are filled as soon as it is read: its directory is still open then,
    // and a second pass over a thousand devices found each directory closed and opened it
    // again.
    struct Read {
        UsbDevice device;
        UsbDeviceVisual visual;
        Node filled;
    };
    std::vector<Read> read(listed.size());
    util::read_in_halves(listed.size(), [&](size_t i) {
        read[i].device = read_device(listed[i], ids);
        read[i].visual = visual_of(read[i].device, ids);
        fill_device(read[i].filled, read[i].device, ids);
    });
    std::map<std::string, UsbDevice> devices;
    std::map<std::string, UsbDeviceVisual> visuals;
    std::map<std::string, std::vector<Section>> filled;
    for (size_t i = 0; i < listed.size(); ++i) {
        visuals.emplace(listed[i], std::move(read[i].visual));
        devices.emplace(listed[i], std::move(read[i].device));
        filled.emplace(listed[i], std::move(read[i].filled.sections));
    }
    auto children = usb_children(names);

    Section& overview = usb->section(tr("sec.overview"));
    for (const auto& name : device_names) {
        const UsbDeviceVisual& v = visuals.at(name);
        overview.add(util::valid_utf8(name),
                     v.ids.empty() || v.name == v.ids ? v.name : v.name + "  " + v.ids);
    }

    std::vector<UsbRootHub> roots;
    Builder builder{children, devices, visuals, filled};
    for (const auto& hub : hubs) {
        const UsbDevice& d = devices.at(hub);
        Node* n = usb->add_child("usb." + hub,
                                 d.product_text.empty() ? tr("value.root_hub") : d.product_text,
                                 "\U0001F500");
        n->summary = usb_speed_text(d.speed);
        n->sections = std::move(filled.at(hub));
        builder.add_children(*n, hub, 0);

        UsbRootHub r;
        r.port = hub;
        r.number = util::read_file_shared(d.dir + "/busnum");
        if (r.number.empty()) r.number = usb_bus_of(hub);
        r.speed = d.speed;
        // The controller's identity: root hubs write it as their serial (the PCI address);
        // without one, the directory the root hub sits in names the controller too.
        r.controller = util::read_text_shared(d.dir + "/serial");
        if (r.controller.empty()) {
            std::string where = util::resolve_path(d.dir);
            where.resize(where.rfind('/'));
            r.controller = util::valid_utf8(util::base_name(where));
            if (r.controller.empty() || r.controller == "devices") r.controller = hub;
        }
        name_controller(r, d.product_text, ids);
        roots.push_back(std::move(r));
    }
    // Devices whose bus has no root hub in the listing still belong to the branch.
    builder.add_children(*usb, "", 0);

    usb->usb = usb_controller_visuals(roots, children, visuals);
}

void collect_usb(Node& root) {
    collect_usb_with(root, Ids::instance());
}

} // namespace hw

// The network branch: every interface of /sys/class/net, physical or virtual, with its link,
// radio, counters and addresses.
#include "hw/collect_network.h"
#include "host.h"
#include "hw/link_types.h"
#include "hw/sysfs_values.h"
#include "hw/wireless_table.h"
#include "read_beside.h"
#include "util.h"

#include <cctype>
#include <limits>
#include <map>
#include <optional>
#include <sys/socket.h>

namespace hw {

namespace {

// An interface's uevent holds a handful of lines.
constexpr size_t max_uevent_lines = 256;

const std::string net_root = "/sys/class/net";
const char* const separator = "  \u00B7  "; // "  ·  "

// The interface flags as ip(8) names them; the number alone means little to anyone.
std::string flags_text(const std::string& raw) {
    if (!util::starts_with(raw, "0x") || raw.size() < 3) return {};
    for (char c : raw.substr(2))
        if (!isxdigit(static_cast<unsigned char>(c))) return {};
    uint32_t flags = util::parse_hex(raw, 0);
    static const std::pair<uint32_t, const char*> names[] = {
        {0x1, "UP"},           {0x2, "BROADCAST"},   {0x4, "DEBUG"},        {0x8, "LOOPBACK"},
        {0x10, "POINTOPOINT"}, {0x20, "NOTRAILERS"}, {0x40, "RUNNING"},     {0x80, "NOARP"},
        {0x100, "PROMISC"},    {0x200, "ALLMULTI"},  {0x400, "MASTER"},     {0x800, "SLAVE"},
        {0x1000, "MULTICAST"}, {0x2000, "PORTSEL"},  {0x4000, "AUTOMEDIA"}, {0x8000, "DYNAMIC"},
    };
    std::vector<std::string> set;
    for (const auto& [bit, name] : names)
        if (flags & bit) set.emplace_back(name);
    std::string out = raw;
    if (!set.empty()) out += "  (" + util::join(set, ", ") + ")";
    return out;
}

std::string type_text(const std::string& raw) {
    auto type = strict_u64(raw);
    if (!type) return {};
    std::string name = *type <= 0xFFFF ? link_type_name(static_cast<unsigned>(*type)) : "";
    if (name.empty()) return std::string(tr("common.unknown")) + " (" + std::to_string(*type) + ")";
    return name;
}

// What kind of virtual or special interface the driver declared (DEVTYPE in uevent):
// "bridge", "bond", "vlan", "wlan", "wwan" …
std::string devtype_of(const std::string& dir) {
    for (const auto& line : util::read_lines(dir + "/uevent", max_uevent_lines))
        if (util::starts_with(line, "DEVTYPE=")) return util::printable(line.substr(8));
    return {};
}

// The PCI function (or USB device) behind the interface, walking up from the device link:
// a virtio or USB network function is a child of the device that carries the ids.
std::string hardware_name(const std::string& device_path, const Ids& ids) {
    std::string path = device_path;
    for (int depth = 0; depth < 4 && path.size() > 1; ++depth) {
        std::string subsystem = util::read_link_base(path + "/subsystem");
        if (subsystem == "pci") {
            // The PCI branch reads the same ids, by the function's own directory.
            const std::string dir = util::resolve_path(path);
            uint32_t v = util::parse_hex(*util::read_shared(dir + "/vendor", util::attribute_limit),
                                         0xFFFFFFFF);
            uint32_t d = util::parse_hex(*util::read_shared(dir + "/device", util::attribute_limit),
                                         0xFFFFFFFF);
            if (v > 0xFFFF || d > 0xFFFF) return {};
            std::string name = util::trim(ids.pci_vendor(v) + " " + ids.pci_device(v, d));
            return name.empty() ? util::to_hex(v, 4) + ":" + util::to_hex(d, 4) : name;
        }
        if (subsystem == "usb" && util::path_exists(path + "/idVendor")) {
            uint32_t v = util::parse_hex(util::read_file(path + "/idVendor"), 0xFFFFFFFF);
            uint32_t p = util::parse_hex(util::read_file(path + "/idProduct"), 0xFFFFFFFF);
            if (v > 0xFFFF || p > 0xFFFF) return {};
            std::string name = util::trim(ids.usb_vendor(v) + " " + ids.usb_device(v, p));
            return name.empty() ? util::to_hex(v, 4) + ":" + util::to_hex(p, 4) : name;
        }
        size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        path = path.substr(0, slash);
    }
    return {};
}

std::string family_label(int family) {
    return family == AF_INET6 ? "IPv6" : "IPv4";
}

std::string address_value(const host::InterfaceAddress& a) {
    std::string v = a.address;
    if (a.family == AF_INET6) {
        // IPv6 masks are written as their prefix length; the long form helps no one.
        if (!a.netmask.empty()) v += " / " + std::to_string(a.prefix_len);
        return v;
    }
    if (!a.netmask.empty()) v += " / " + a.netmask;
    if (!a.broadcast.empty()) v += " \u21E2 " + a.broadcast;
    if (!a.netmask.empty()) v += "  (/" + std::to_string(a.prefix_len) + ")";
    return v;
}

std::string address_short(const host::InterfaceAddress& a) {
    if (a.netmask.empty()) return a.address;
    return a.address + "/" + std::to_string(a.prefix_len);
}

// `state`, `type` and `speed` are the texts the overview shows too, read once for both.
// Returns whether the link has a carrier, which the section reads for its row.
bool add_interface_section(Node& node, const std::string& name, const std::string& dir,
                           const std::string& state, const std::string& type,
                           const std::string& speed, const std::string& devtype, const Ids& ids) {
    Section& s = node.section(tr("sec.interface"));
    s.add(tr("f.name"), util::printable(name));
    s.add(tr("f.status"), state, "operstate");
    std::string kind = type;
    if (!kind.empty() && !devtype.empty()) kind += " (" + devtype + ")";
    s.add(tr("f.type"), kind, "type");
    s.add(tr("f.mac"), util::read_text(dir + "/address"), "address");
    s.add(tr("f.mac_permanent"), host::permanent_address(name), "ethtool");
    if (auto mtu = read_strict_u64(dir + "/mtu")) s.add(tr("f.mtu"), util::fmt_int(*mtu), "mtu");
    if (auto idx = read_strict_u64(dir + "/ifindex"))
        s.add(tr("f.ifindex"), util::fmt_int(*idx), "ifindex");
    // carrier, duplex and speed fail to read while the interface is down: no row then.
    std::string carrier = util::read_file(dir + "/carrier");
    if (carrier == "0" || carrier == "1") s.add(tr("f.carrier"), yesno(carrier == "1"), "carrier");
    std::string duplex = util::read_text(dir + "/duplex");
    s.add(tr("f.duplex"), duplex == "unknown" ? tr("common.unknown") : duplex, "duplex");
    s.add(tr("f.speed"), speed, "speed");
    if (auto q = read_strict_u64(dir + "/tx_queue_len"))
        s.add(tr("f.queues_tx"), util::fmt_int(*q), "tx_queue_len");
    std::string dormant = util::read_file(dir + "/dormant");
    if (dormant == "0" || dormant == "1") s.add(tr("f.dormant"), yesno(dormant == "1"), "dormant");
    s.add(tr("f.flags"), flags_text(util::read_file(dir + "/flags")), "flags");
    // Members of a bridge or a bond. Only those declare the kind, and only they have the
    // lists: asked of every other interface, they were two opens that fail.
    std::vector<std::string> members;
    if (devtype == "bridge")
        members = util::list_dir(dir + "/brif");
    else if (devtype == "bond")
        members = util::split(util::read_file(dir + "/bonding/slaves"), ' ');
    std::vector<std::string> kept;
    for (auto& m : members)
        if (!m.empty()) kept.push_back(util::printable(m));
    s.add(tr("f.interfaces"), util::join(kept, ", "));

    if (util::path_exists(dir + "/device")) {
        s.add(tr("f.driver"), util::printable(util::read_link_base(dir + "/device/driver")),
              "device/driver");
        std::string device_path = util::resolve_path(dir + "/device");
        s.add(tr("f.hardware"), util::printable(hardware_name(device_path, ids)));
        s.add(tr("f.bus_address"), util::printable(util::base_name(device_path)), "device");
    }
    return carrier == "1";
}

void add_wireless_section(Node& node, const std::string& name, const std::string& dir,
                          const std::map<std::string, WirelessLine>& wireless) {
    Section& s = node.section(tr("sec.wireless"));
    s.add(tr("f.phy"), util::printable(util::read_link_base(dir + "/phy80211")), "phy80211");
    auto it = wireless.find(name);
    if (it == wireless.end()) return;
    const WirelessLine& w = it->second;
    if (w.link) s.add(tr("f.link_quality"), util::fmt_signed(*w.link), "/proc/net/wireless");
    if (w.level) s.add(tr("f.signal_level"), wireless_level_text(*w.level), "/proc/net/wireless");
    if (w.noise) s.add(tr("f.noise_level"), wireless_level_text(*w.noise), "/proc/net/wireless");
}

void add_statistics_section(Node& node, const std::string& dir) {
    Section& s = node.section(tr("sec.statistics"));
    std::string sd = dir + "/statistics/";
    auto bytes = [&](const char* key, const char* attr) {
        if (auto v = read_strict_u64(sd + attr))
            s.add(tr(key), util::fmt_bytes(*v), std::string("statistics/") + attr);
    };
    auto count = [&](const char* key, const char* attr) {
        if (auto v = read_strict_u64(sd + attr))
            s.add(tr(key), util::fmt_int(*v), std::string("statistics/") + attr);
    };
    bytes("f.rx_bytes", "rx_bytes");
    bytes("f.tx_bytes", "tx_bytes");
    count("f.rx_packets", "rx_packets");
    count("f.tx_packets", "tx_packets");
    count("f.rx_errors", "rx_errors");
    count("f.tx_errors", "tx_errors");
    count("f.rx_dropped", "rx_dropped");
    count("f.tx_dropped", "tx_dropped");
    count("f.collisions", "collisions");
}

} // namespace

void collect_network_with(Node& root, const Ids& ids) {
    Node* net = root.add_child("network", tr("tree.network"), "\U0001F310");

    std::map<std::string, std::vector<host::InterfaceAddress>> addresses;
    for (auto& a : host::interface_addresses())
        addresses[a.interface].push_back(std::move(a));
    auto wireless = parse_wireless(util::read_file_raw("/proc/net/wireless"));

    // /sys/class/net also holds plain files (bonding_masters); interfaces are directories.
    std::vector<std::string> names;
    for (const auto& n : util::list_dir(net_root))
        if (util::is_dir(net_root + "/" + n)) names.push_back(n);

    Section& overview = net->section(tr("sec.overview"));
    // Each interface's node waits in a holder of its own for its place and its overview row.
    std::vector<std::pair<Node, std::string>> read(names.size());
    util::read_in_halves(names.size(), [&](size_t i) {
        const std::string& name = names[i];
        std::string dir = net_root + "/" + name;
        std::string state = util::read_text(dir + "/operstate");
        std::string type = type_text(util::read_file(dir + "/type"));
        std::string speed = link_speed_text(util::read_file(dir + "/speed"));
        std::string devtype = devtype_of(dir);
        Node* node = read[i].first.add_child("net." + name, util::printable(name), "\u26AA");
        const bool carrier =
            add_interface_section(*node, name, dir, state, type, speed, devtype, ids);
        // Tunnels and loopback track no link state: up, they read "unknown" with a carrier.
        if (state == "up" || (state == "unknown" && carrier)) node->icon = "\U0001F7E2";
        if (util::is_dir(dir + "/wireless") || util::path_exists(dir + "/phy80211"))
            add_wireless_section(*node, name, dir, wireless);
        if (util::is_dir(dir + "/statistics")) add_statistics_section(*node, dir);

        std::vector<std::string> short_addresses;
        auto it = addresses.find(name);
        if (it != addresses.end()) {
            Section& s = node->section(tr("sec.addresses"));
            for (const auto& a : it->second) {
                s.add(family_label(a.family), address_value(a));
                short_addresses.push_back(address_short(a));
            }
        }

        std::vector<std::string> parts;
        for (const auto& p : {state, type, speed, util::join(short_addresses, ", ")})
            if (!p.empty()) parts.push_back(p);
        read[i].second = util::join(parts, separator);
        std::vector<std::string> head;
        for (const auto& p : {type, state})
            if (!p.empty()) head.push_back(p);
        node->summary = util::join(head, separator);
    });
    for (size_t i = 0; i < names.size(); ++i) {
        net->adopt_children(read[i].first);
        overview.add(util::printable(names[i]), read[i].second);
    }
    net->summary = names.size() == 1
                       ? std::string(tr("summary.one_interface"))
                       : I18n::trf("summary.n_interfaces", static_cast<int>(names.size()));
}

void collect_network(Node& root) {
    collect_network_with(root, Ids::instance());
}

} // namespace hw

// The network branch: /proc/net/wireless, link-layer names, fixture machines and this
// machine's own interface addresses.
#include "host.h"
#include "hw/collect_network.h"
#include "hw/wireless_table.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

using testing_support::ScopedEnv;

namespace {

const char* wireless_heading =
    "Inter-| sta-|   Quality        |   Discarded packets               | Missed | WE\n"
    " face | tus | link level noise |  nwid  crypt   frag  retry   misc | beacon | 22\n";

class Network : public ::testing::Test {
protected:
    void SetUp() override {
        I18n::instance().set_language("en");
        util::set_number_format(".", ",");
    }
    std::unique_ptr<hw::Node> collect(const std::string& machine) {
        std::optional<ScopedEnv> root;
        if (!machine.empty()) root.emplace("QUARVEL_SYSROOT", testing_support::fixture(machine));
        auto tree = std::make_unique<hw::Node>();
        hw::collect_network_with(*tree, hw::Ids::load());
        return tree;
    }
};

std::string value(const hw::Node* node, const std::string& section, const std::string& name,
                  size_t nth = 0) {
    if (!node) return "<no node>";
    for (const auto& s : node->sections)
        if (s.title == section)
            for (const auto& item : s.items)
                if (item.name == name && nth-- == 0) return item.value;
    return "<no row>";
}

bool has_section(const hw::Node* node, const std::string& title) {
    for (const auto& s : node->sections)
        if (s.title == title && !s.empty()) return true;
    return false;
}

} // namespace

TEST(WirelessTable, OnlyUpdatedFiguresAndNeverTheMissingNoise) {
    std::string text =
        std::string(wireless_heading) +
        "wlp0s20f3: 0000   54.  -56.  -256        0      0      0      0     17        0\n"
        "  wlan1: 0000   70.  -40.  -95.        0      0      0      0      0        0\n"
        "  wlan2: 0000    0     0     0        0      0      0      0      0        0\n"
        "  wlan3: 0000   60   200.    0        0      0      0      0      0        0\n"
        "broken line\n";
    auto w = hw::parse_wireless(text);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w["wlp0s20f3"].link, 54);
    EXPECT_EQ(w["wlp0s20f3"].level, -56);
    EXPECT_FALSE(w["wlp0s20f3"].noise); // cfg80211 prints 0 - 256 without an update marker
    EXPECT_EQ(w["wlan1"].noise, -95);
    EXPECT_FALSE(w["wlan2"].link); // not associated: zeros, no markers
    EXPECT_FALSE(w["wlan2"].level);
    EXPECT_FALSE(w["wlan3"].link); // printed without its marker: a stale figure
    EXPECT_EQ(w["wlan3"].level, 200);
    EXPECT_TRUE(hw::parse_wireless(wireless_heading).empty());

    EXPECT_EQ(hw::wireless_level_text(-56), "-56 dBm");
    EXPECT_EQ(hw::wireless_level_text(200), "200"); // a relative level has no unit
}

TEST_F(Network, LaptopWiredPortWirelessAndLoopback) {
    auto tree = collect("laptop-nvme-wifi");
    const hw::Node* net = tree->find("network");
    ASSERT_TRUE(net);
    EXPECT_EQ(net->summary, "3 interfaces");
    EXPECT_EQ(net->children.size(), 3u);

    const hw::Node* eth = net->find("net.enp0s31f6");
    ASSERT_TRUE(eth);
    EXPECT_EQ(eth->icon, "\u26AA");
    EXPECT_EQ(value(eth, "Interface", "Speed"), "<no row>"); // speed -1: unplugged
    EXPECT_EQ(value(eth, "Interface", "Carrier"), "No");
    EXPECT_EQ(value(eth, "Interface", "Hardware"),
              "Intel Corporation Ethernet Connection (13) I219-V");
    EXPECT_EQ(value(eth, "Interface", "Bus address"), "0000:00:1f.6");
    EXPECT_EQ(value(eth, "Interface", "Driver"), "e1000e");
    // Over a capture there is no ethtool to ask, and phys_switch_id is no MAC address.
    EXPECT_EQ(value(eth, "Interface", "Permanent address"), "<no row>");

    const hw::Node* wl = net->find("net.wlp0s20f3");
    ASSERT_TRUE(wl);
    EXPECT_EQ(wl->icon, "\U0001F7E2");
    EXPECT_EQ(value(wl, "Wireless", "PHY"), "phy0");
    EXPECT_EQ(value(wl, "Wireless", "Link quality"), "54");
    EXPECT_EQ(value(wl, "Wireless", "Signal level"), "-56 dBm");
    EXPECT_EQ(value(wl, "Wireless", "Noise level"), "<no row>");
    EXPECT_EQ(value(wl, "Statistics", "Received"), "2.68 GiB");
    EXPECT_EQ(value(wl, "Statistics", "Receive dropped"), "1,234");

    const hw::Node* lo = net->find("net.lo");
    ASSERT_TRUE(lo);
    EXPECT_EQ(value(lo, "Interface", "Type"), "Loopback");
    EXPECT_EQ(value(lo, "Interface", "Flags"), "0x9  (UP, LOOPBACK)");
    EXPECT_EQ(value(net, "Overview", "lo"), "unknown  \u00B7  Loopback");
    // No addresses over a capture.
    EXPECT_FALSE(has_section(lo, "Addresses"));
}

TEST_F(Network, DesktopSpeedBridgeTunnelsUnknownTypeAndQuietWireless) {
    auto tree = collect("desktop-sata-raid");
    const hw::Node* net = tree->find("network");
    EXPECT_FALSE(net->find("net.bonding_masters"));
    EXPECT_EQ(net->summary, "7 interfaces");

    const hw::Node* eno = net->find("net.eno1");
    EXPECT_EQ(value(eno, "Interface", "Speed"), "1,000 Mbit/s");
    EXPECT_EQ(value(eno, "Interface", "Duplex"), "full");
    EXPECT_EQ(value(net, "Overview", "eno1"), "up  \u00B7  Ethernet  \u00B7  1,000 Mbit/s");

    const hw::Node* br = net->find("net.br0");
    EXPECT_EQ(value(br, "Interface", "Type"), "Ethernet (bridge)");
    EXPECT_EQ(value(br, "Interface", "Interfaces"), "eno1");
    EXPECT_EQ(value(br, "Interface", "Hardware"), "<no row>");

    EXPECT_EQ(value(net->find("net.tunl0"), "Interface", "Type"), "IPIP Tunnel");
    EXPECT_EQ(value(net->find("net.sit0"), "Interface", "Type"), "SIT Tunnel");
    EXPECT_EQ(value(net->find("net.mystery0"), "Interface", "Type"), "Unknown (999)");

    const hw::Node* wl = net->find("net.wlx000000000000");
    ASSERT_TRUE(wl);
    EXPECT_EQ(value(wl, "Wireless", "PHY"), "phy1");
    EXPECT_EQ(value(wl, "Wireless", "Link quality"), "<no row>");
    // A USB adapter is named from the USB database.
    EXPECT_EQ(value(wl, "Interface", "Hardware"),
              "Realtek Semiconductor Corp. RTL8188EUS 802.11n Wireless Network Adapter");
}

TEST_F(Network, GarbageAttributesGiveNoRows) {
    auto tree = collect("garbage-files");
    const hw::Node* net = tree->find("network");
    EXPECT_FALSE(net->find("net.dangling0"));
    const hw::Node* eth0 = net->find("net.eth0");
    ASSERT_TRUE(eth0);
    for (const char* row : {"Type", "MTU", "Interface index", "Carrier", "Speed", "TX queue length",
                            "Dormant", "Flags"})
        EXPECT_EQ(value(eth0, "Interface", row), "<no row>") << row;
    EXPECT_EQ(value(eth0, "Statistics", "Received"), "<no row>");
    EXPECT_EQ(value(eth0, "Statistics", "Sent"), "<no row>");
    EXPECT_EQ(value(net->find("net.eth1"), "Interface", "Speed"), "<no row>"); // 4294967295
    EXPECT_EQ(value(net->find("net.eth2"), "Interface", "Speed"), "<no row>"); // 65535
    EXPECT_EQ(value(net->find("net.wlan0"), "Wireless", "Signal level"), "<no row>");
}

TEST_F(Network, AddressesOfThisMachinesInterfaces) {
    auto live = host::interface_addresses();
    if (live.empty()) GTEST_SKIP() << "no interface addresses on this machine";
    auto tree = collect("");
    const hw::Node* net = tree->find("network");
    for (const auto& a : live) {
        const hw::Node* node = net->find("net." + a.interface);
        ASSERT_TRUE(node) << a.interface;
        std::string family = a.family == AF_INET6 ? "IPv6" : "IPv4";
        bool found = false;
        for (size_t i = 0;; ++i) {
            std::string v = value(node, "Addresses", family, i);
            if (v == "<no row>") break;
            if (util::starts_with(v, a.address + " / ")) {
                found = true;
                if (a.family == AF_INET) {
                    EXPECT_NE(v.find("/ " + a.netmask), std::string::npos) << v;
                    EXPECT_NE(v.find("(/" + std::to_string(a.prefix_len) + ")"), std::string::npos)
                        << v;
                    if (!a.broadcast.empty()) {
                        EXPECT_NE(v.find("\u21E2 " + a.broadcast), std::string::npos) << v;
                    }
                }
            }
        }
        EXPECT_TRUE(found) << a.interface << " " << a.address;
        std::string overview = value(net, "Overview", a.interface);
        EXPECT_NE(overview.find(a.address + "/" + std::to_string(a.prefix_len)), std::string::npos)
            << overview;
    }
    if (const hw::Node* lo = net->find("net.lo")) {
        EXPECT_EQ(value(lo, "Interface", "Type"), "Loopback");
    }
}

TEST_F(Network, PermanentAddressOnlyFromTheLiveDriver) {
    EXPECT_EQ(host::permanent_address("lo"), ""); // loopback has no hardware address
    for (const auto& name : util::list_dir("/sys/class/net")) {
        std::string mac = host::permanent_address(name);
        if (mac.empty()) continue;
        // aa:bb:cc:dd:ee:ff, never all zeros
        EXPECT_EQ(mac.size() % 3, 2u) << name << " " << mac;
        EXPECT_NE(mac.find_first_not_of("0:"), std::string::npos) << name;
    }
    ScopedEnv root("QUARVEL_SYSROOT", testing_support::fixture("laptop-nvme-wifi"));
    for (const auto& name : util::list_dir("/sys/class/net"))
        EXPECT_EQ(host::permanent_address(name), "") << name;
}

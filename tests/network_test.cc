// The network branch: /proc/net/wireless, fixture machines and this machine's own interface
// addresses.
#include "host.h"
#include "hw/collect_network.h"
#include "hw/wireless_table.h"
#include "test_support.h"
#include "util.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

using testing_support::TempDir;
using testing_support::value;

namespace {

const auto collector = testing_support::with_ids(hw::collect_network_with);

} // namespace

TEST(WirelessTable, OnlyUpdatedFiguresAndNeverTheMissingNoise) {
    auto w = hw::parse_wireless(
        "Inter-| sta-|   Quality        |   Discarded packets               | Missed | WE\n"
        " face | tus | link level noise |  nwid  crypt   frag  retry   misc | beacon | 22\n"
        "wlp0s20f3: 0000   54.  -56.  -256        0      0      0      0     17        0\n"
        "  wlan1: 0000   70.  -40.  -95.        0      0      0      0      0        0\n"
        "  wlan2: 0000   0   -256.  -256.       0      0      0      0      0        0\n"
        "  wlan3: 0000   60   200.    0        0      0      0      0      0        0\n"
        "broken line\n");
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w["wlp0s20f3"].level, -56);
    EXPECT_FALSE(w["wlp0s20f3"].noise); // cfg80211 prints 0 - 256 without an update marker
    EXPECT_EQ(w["wlan1"].noise, -95);
    EXPECT_FALSE(w["wlan2"].level || w["wlan2"].noise); // 0 − 256 is never a reading
    EXPECT_FALSE(w["wlan3"].link);                      // without its marker: a stale figure
    EXPECT_EQ(hw::wireless_level_text(-56), "-56 dBm");
    EXPECT_EQ(hw::wireless_level_text(200), "200"); // a relative level has no unit
}

TEST(NetworkBranch, FactsOfTheFixtureMachines) {
    const char *laptop = "laptop-nvme-wifi", *desktop = "desktop-sata-raid";
    auto trees = testing_support::expect_facts(
        collector,
        {
            {laptop, "net.enp0s31f6", "Interface", "Speed", "<no row>"}, // -1: unplugged
            // Over a capture there is no ethtool to ask, and phys_switch_id is no MAC address.
            {laptop, "net.enp0s31f6", "Interface", "Permanent address", "<no row>"},
            {laptop, "net.lo", "Addresses", "IPv4", "<no row>"}, // not this host's addresses
            {desktop, "network", "", "summary", "7 interfaces"}, // bonding_masters is no interface
            {desktop, "net.mystery0", "Interface", "Type", "Unknown (999)"},
            // A USB adapter is named from the USB database.
            {desktop, "net.wlx000000000000", "Interface", "Hardware",
             "Realtek Semiconductor Corp. RTL8188EUS 802.11n Wireless Network Adapter"},
            {"garbage-files", "net.eth1", "Interface", "Speed", "<no row>"}, // 4294967295
            {"garbage-files", "net.eth2", "Interface", "Speed", "<no row>"}, // 65535
            {"garbage-files", "net.wlan0", "Wireless", "Signal level", "<no row>"},
        });
    const hw::Node* net = trees["garbage-files"]->find("network");
    EXPECT_FALSE(net->find("net.dangling0"));
    for (const char* row : {"Type", "MTU", "Carrier", "Flags"})
        EXPECT_EQ(value(net->find("net.eth0"), "Interface", row), "<no row>") << row;
}

TEST(NetworkBranch, AddressesOfThisMachinesInterfaces) {
    auto live = host::interface_addresses();
    if (live.empty()) GTEST_SKIP() << "no interface addresses on this machine";
    auto tree = testing_support::collect(collector, "");
    for (const auto& a : live) {
        const hw::Node* node = tree->find("net." + a.interface);
        ASSERT_TRUE(node) << a.interface;
        std::string family = a.family == AF_INET6 ? "IPv6" : "IPv4", found;
        for (size_t i = 0; value(node, "Addresses", family, i) != "<no row>"; ++i)
            if (util::starts_with(value(node, "Addresses", family, i), a.address + " / "))
                found = value(node, "Addresses", family, i);
        ASSERT_NE(found, "") << a.interface << " " << a.address;
        if (a.family == AF_INET) {
            EXPECT_NE(found.find("/ " + a.netmask), std::string::npos) << found;
            EXPECT_NE(found.find("(/" + std::to_string(a.prefix_len) + ")"), std::string::npos);
        }
    }
}

TEST(NetworkBranch, PermanentAddressOnlyFromTheLiveDriver) {
    EXPECT_EQ(host::permanent_address("lo"), ""); // loopback has no hardware address
    for (const auto& name : util::list_dir("/sys/class/net")) {
        std::string mac = host::permanent_address(name);
        if (mac.empty()) continue;
        EXPECT_EQ(mac.size() % 3, 2u) << name << " " << mac;               // aa:bb:…:ff
        EXPECT_NE(mac.find_first_not_of("0:"), std::string::npos) << name; // never all zeros
    }
    testing_support::ScopedEnv root("QUARVEL_SYSROOT",
                                    testing_support::fixture("laptop-nvme-wifi"));
    for (const auto& name : util::list_dir("/sys/class/net"))
        EXPECT_EQ(host::permanent_address(name), "") << name;
}

TEST(NetworkBranch, ManyInterfacesReadOnTwoThreadsKeepTheirOrderAndTheirOwnFacts) {
    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 70; ++i) {
        names.push_back("eth" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        dir.write("sys/class/net/" + names.back() + "/operstate", i % 3 ? "down\n" : "up\n");
    }
    auto root = testing_support::collect(collector, dir.path());
    const hw::Node* net = root->find("network");
    ASSERT_EQ(net->children.size(), names.size());
    const auto& overview = net->sections.at(0).items;
    ASSERT_EQ(overview.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(net->children[i]->id, "net." + names[i]);
        EXPECT_EQ(overview[i].name, names[i]);
        EXPECT_EQ(overview[i].value, i % 3 ? "down" : "up");
    }
}

TEST(NetworkBranch, AnInterfaceIsMarkedUpByItsStateOrUnknownStateAndCarrier) {
    const struct {
        const char *name, *state, *carrier;
        bool up;
    } cases[] = {{"eth0", "up", "1", true},
                 {"tun0", "unknown", "1", true}, // a tunnel, or loopback
                 {"tun1", "unknown", "0", false},
                 {"eth1", "down", nullptr, false}};
    TempDir dir;
    for (const auto& c : cases) {
        dir.write(std::string("sys/class/net/") + c.name + "/operstate",
                  c.state + std::string("\n"));
        if (c.carrier)
            dir.write(std::string("sys/class/net/") + c.name + "/carrier",
                      c.carrier + std::string("\n"));
    }
    auto root = testing_support::collect(collector, dir.path());
    for (const auto& c : cases)
        EXPECT_EQ(root->find(std::string("net.") + c.name)->icon, c.up ? "\U0001F7E2" : "\u26AA")
            << c.name;
}

TEST(NetworkBranch, MembersAreListedForBridgesAndBondsOnly) {
    TempDir dir;
    dir.write("sys/class/net/bond0/uevent", "DEVTYPE=bond\nINTERFACE=bond0\n");
    dir.write("sys/class/net/bond0/bonding/slaves", "eth0 eth1\n");
    dir.write("sys/class/net/br0/uevent", "DEVTYPE=bridge\nINTERFACE=br0\n");
    dir.write("sys/class/net/br0/brif/eth2/port_no", "0x1\n");
    // Lists that no bridge or bond declared are not asked for.
    dir.write("sys/class/net/eth0/bonding/slaves", "eth9\n");
    auto root = testing_support::collect(collector, dir.path());
    const hw::Node* net = root->find("network");
    EXPECT_EQ(value(net->find("net.bond0"), "Interface", "Interfaces"), "eth0, eth1");
    EXPECT_EQ(value(net->find("net.br0"), "Interface", "Interfaces"), "eth2");
    EXPECT_EQ(value(net->find("net.eth0"), "Interface", "Interfaces"), "<no row>");
}

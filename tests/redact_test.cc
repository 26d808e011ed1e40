// Redaction: which values become placeholders, that one value keeps one placeholder, and
// that no serial number, UUID or MAC address of any fixture machine survives in either report.
#include "host.h"
#include "redact.h"
#include "report.h"
#include "test_support.h"

#include <gtest/gtest.h>

using hw::Node;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// Every text of the tree, one per line, so an expectation reads like the tree.
void flatten(const Node& node, std::vector<std::string>& out) {
    out.push_back("== " + node.title + (node.summary.empty() ? "" : " [" + node.summary + "]"));
    for (const auto& s : node.sections)
        for (const auto& i : s.items)
            out.push_back(i.name + "=" + i.value);
    for (const auto& c : node.children)
        flatten(*c, out);
}

} // namespace

TEST(Redact, ReplacesEachIdentifyingValueWithOnePlaceholderWhereverItStands) {
    testing_support::use_english();
    // An empty machine: nothing of the host running the test (its name, its user) leaks in.
    TempDir empty;
    ScopedEnv root("QUARVEL_SYSROOT", empty.path());
    Node tree;
    Node* sys = tree.add_child("system", "System - build-7", "");
    auto& m = sys->section("Machine");
    m.add("Serial number", "PF0AAAAA", "product_serial");
    m.add("Serial number", "PF0AAAAA", "chassis_serial");
    m.add("Serial number", "0000:00:14.0", "serial");
    m.add("UUID", "8c1f3a52-9d0e-4b7a-a6c3-2e5f9b1d0a47", "product_uuid");
    Node* os = tree.add_child("os", "OS", "");
    auto& k = os->section("Kernel");
    k.add("Host name", "build-7");
    k.add("Build", "gcc (builder@build-7.example) build-7x");
    k.add("Command line", "root=UUID=8c1f3a52-9d0e-4b7a-a6c3-2e5f9b1d0a47 quiet");
    k.add("Boot", "ip=192.0.2.9::192.0.2.1:255.255.255.0:abc:eth0:off nfsroot=192.0.2.1:/x");
    // The installer names a host after the distribution: its ID stays.
    os->section("Distribution").add("ID", "build-7");
    Node* net = tree.add_child("net.eth0", "eth0", "");
    net->summary = "peer 00:00:5e:00:53:02";
    auto& i = net->section("Interface");
    i.add("MAC address", "00:00:5e:00:53:01", "address");
    i.add("IPv4", "192.0.2.2 / 255.255.255.0 \u21E2 192.0.2.255  (/24)");
    i.add("IPv6", "fe80::200:5eff:fe00:5301 / 64, ::1 / 128");
    i.add("Loopback", "127.0.0.1 / 255.0.0.0");
    i.add("Bus address", "0000:00:14.0, version 1.2.3, 12:30:05");
    i.add("Version", "1.15.0.0");
    i.add("Port", "1-1.5.4.2:1.0, 192.0.2.7-192.0.2.8");
    Node* input = tree.add_child("input", "Input devices", "");
    input->section("Identity").add("Unique ID", "017C385C3837", "uniq");
    input->section("Identity").add("Unique ID", "e8:ce:cd:45:00:01", "uniq");
    Node* fs = tree.add_child("fs", "File systems", "");
    fs->section("Mounted").add("/home/alice/data", "ext4 · alice");
    fs->section("Mounted").add("/media/LABEL", "vfat");
    // Interface names made from the MAC address tell it, in the tree and in the node's id.
    Node* usb_net = tree.add_child("net.wlx00c0ca123456", "wlx00c0ca123456", "");
    usb_net->section("Interface").add("MAC address", "00:c0:ca:12:34:56", "address");
    usb_net->section("Interface").add("Path", "/sys/class/net/wlx00c0ca123456, enx0a1b2c3d4e5f");
    usb_net->section("Interface")
        .add("Like one", "wlx00c0ca12345, xenx00c0ca123456, wlx00C0CA123456");

    auto copy = redact::redacted_copy(tree);
    std::vector<std::string> got;
    for (const auto& branch : copy->children)
        flatten(*branch, got);
    EXPECT_EQ(got, (std::vector<std::string>{
                       "== System - <host-1>",
                       "Serial number=<serial-1>",
                       "Serial number=<serial-1>",
                       "Serial number=0000:00:14.0",
                       "UUID=<uuid-1>",
                       "== OS",
                       "Host name=<host-1>",
                       "Build=gcc (builder@build-7.example) build-7x",
                       "Command line=root=UUID=<uuid-1> quiet",
                       "Boot=ip=<ip-1>::<ip-2>:255.255.255.0:abc:eth0:off nfsroot=<ip-2>:/x",
                       "ID=build-7",
                       "== eth0 [peer <mac-4>]",
                       "MAC address=<mac-1>",
                       "IPv4=<ip-3> / 255.255.255.0 \u21E2 <ip-4>  (/24)",
                       "IPv6=<ip-5> / 64, ::1 / 128",
                       "Loopback=127.0.0.1 / 255.0.0.0",
                       "Bus address=0000:00:14.0, version 1.2.3, 12:30:05",
                       "Version=1.15.0.0",
                       "Port=1-1.5.4.2:1.0, <ip-6>-<ip-7>",
                       "== Input devices",
                       "Unique ID=<serial-2>",
                       "Unique ID=<mac-2>",
                       "== File systems",
                       "/home/<user-1>/data=ext4 · <user-1>",
                       "/media/LABEL=vfat",
                       "== wlx<mac-3>",
                       "MAC address=<mac-3>",
                       "Path=/sys/class/net/wlx<mac-3>, enx<mac-5>",
                       "Like one=wlx00c0ca12345, xenx00c0ca123456, wlx00C0CA123456",
                   }));
    EXPECT_EQ(copy->children.back()->id, "net.wlx<mac-3>");
}

TEST(Redact, NoSerialUuidOrMacOfAnyFixtureMachineSurvives) {
    testing_support::use_english();
    for (const auto& machine : testing_support::fixture_machines()) {
        ScopedEnv root("QUARVEL_SYSROOT", testing_support::fixture(machine));
        auto tree = hw::collect_all();
        auto found = testing_support::identifier_rows(*tree);
        report::Options redact;
        redact.redact = true;
        std::string text = report::to_text(*tree, redact) + report::to_json(*tree, redact);
        auto copy = redact::redacted_copy(*tree);
        auto left = testing_support::identifier_rows(*copy);
        ASSERT_EQ(left.size(), found.size()) << machine;
        for (size_t n = 0; n < found.size(); ++n) {
            const std::string& secret = found[n]->value;
            // Short values ("0", "123") also occur as other figures; in their own row they
            // must be gone, and longer ones anywhere.
            EXPECT_EQ(left[n]->value[0], '<') << machine << ": " << secret;
            if (secret.size() >= 6) {
                EXPECT_EQ(text.find(secret), std::string::npos) << machine << ": " << secret;
            }
        }
    }
}

TEST(Redact, LongRunsOfAddressCharactersAreReadOnce) {
    testing_support::use_english();
    TempDir empty;
    ScopedEnv root("QUARVEL_SYSROOT", empty.path());
    // Every word start of "a.a.a…" or of a line of colons could begin an address; a value of a
    // megabyte must still be redacted in one pass (looking again from each start took hours).
    std::string dots, colons(1 << 20, ':');
    for (int i = 0; i < 1 << 19; ++i)
        dots += "a.";
    Node tree;
    auto& s = tree.add_child("x", "x", "")->section("S");
    s.add("Dots", dots);
    s.add("Colons", colons);
    s.add("End", "192.0.2.7" + std::string(1000, '.') + " fe80::1:2" + std::string(1000, ':'));
    auto copy = redact::redacted_copy(tree);
    const auto& items = copy->children.at(0)->sections.at(0).items;
    EXPECT_EQ(items.at(0).value, dots);
    EXPECT_EQ(items.at(1).value, colons);
    EXPECT_EQ(items.at(2).value,
              "<ip-1>" + std::string(1000, '.') + " <ip-2>" + std::string(1000, ':'));
}

// The user's name that redaction hides comes from /etc/passwd, read without the name service.
TEST(Redact, TheUsersAccountIsFoundByItsNumberInThePasswordFile) {
    const std::string passwd = "root:x:0:0:root:/root:/bin/bash\n"
                               "# a comment\n"
                               "broken line\n"
                               "ann:x:1000x:1000::/home/x:/bin/sh\n"
                               "ann:x:1000:1000:Ann,,,:/home/ann:/bin/bash\n"
                               "bob:x:1001:1001::relative:/bin/sh";
    struct Case {
        unsigned uid;
        const char* name;
        const char* home;
    } cases[] = {
        {0, "root", "/root"}, {1000, "ann", "/home/ann"}, {1001, "bob", ""}, {4242, "", ""}};
    for (const Case& c : cases) {
        host::Account a = host::account_in_passwd(passwd, c.uid);
        EXPECT_EQ(a.name, c.name) << c.uid;
        EXPECT_EQ(a.home, c.home) << c.uid;
    }
}

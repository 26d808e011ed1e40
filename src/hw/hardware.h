// The hardware tree: nodes with titled sections of rows, the row shortcuts every collector
// shares, and the driver that runs all collectors.
#pragma once

#include "hw/visuals.h"
#include "i18n.h"
#include "util.h"

#include <memory>
#include <string>
#include <vector>

namespace hw {

struct Item {
    std::string name;  // row label, already translated
    std::string value; // empty only for add_always and add_locked rows
    std::string note;  // usually the kernel file the value came from
    bool needs_root = false;
};

struct Section {
    std::string title;
    std::vector<Item> items;

    // Adds the row only when `value` is not empty: an unreadable fact simply has no row.
    void add(std::string name, std::string value, std::string note = "");
    void add_always(const std::string& name, const std::string& value,
                    const std::string& note = "");
    // A fact that exists but needs administrator rights; shown with a lock.
    void add_locked(const std::string& name, const std::string& note = "");
    bool empty() const { return items.empty(); }
};

struct Node {
    std::string id;
    std::string title;
    std::string icon;
    std::string summary;
    std::vector<Section> sections;
    std::vector<std::unique_ptr<Node>> children;
    std::vector<DiskVisual> disks;
    std::vector<UsbControllerVisual> usb;

    // The returned pointer stays valid as long as this node lives.
    Node* add_child(const std::string& child_id, const std::string& child_title,
                    const std::string& child_icon);
    // Moves the children of `other` (a stand-in a branch or device was read into) after this
    // node's own, in their order.
    void adopt_children(Node& other);
    // The section with this title, created at the end when missing. The reference is valid
    // until another section is appended to this node.
    Section& section(const std::string& section_title);
    // Depth-first, pre-order; the first hit wins.
    Node* find(const std::string& wanted_id);
    const Node* find(const std::string& wanted_id) const;
    // Search predicate of the window: `needle_lower` is already util::fold_case-d by the caller.
    bool matches(const std::string& needle_lower) const;
};

// Row shortcuts for one-value kernel attribute files: dir + "/" + attr.
void add_sysfs(Section& s, const std::string& label, const std::string& dir,
               const std::string& attr);
void add_sysfs_bytes(Section& s, const std::string& label, const std::string& dir,
                     const std::string& attr, uint64_t multiplier);
void add_sysfs_khz(Section& s, const std::string& label, const std::string& dir,
                   const std::string& attr);
void add_sysfs_bool(Section& s, const std::string& label, const std::string& dir,
                    const std::string& attr);

std::string yesno(bool v);

// Whether the kernel gives a PCI function of `class_code` (24 bits) a "boot_vga" attribute:
// only VGA-compatible ones have it (display class 03 00, and 00 01 from before class codes).
constexpr bool may_have_boot_vga(uint32_t class_code) {
    return class_code >> 8 == 0x0300 || class_code >> 8 == 0x0001;
}

// Inside a Snap: the hint that names the interface to connect; empty outside a Snap.
std::string snap_permission_hint(const std::string& iface);

// The board's model as its device tree names it (the system and processor branches both show
// it); empty without a device tree.
std::string device_tree_model();
// Inside a Snap: the interfaces that look unconnected; empty outside a Snap.
std::vector<std::string> missing_snap_permissions();

// The collectors, in the order collect_all runs them. Each adds its branch to the root and
// may throw; collect_all then puts a failure node in its place.
void collect_system(Node& root);
void collect_cpu(Node& root);
void collect_memory(Node& root);
void collect_graphics(Node& root);
void collect_storage(Node& root);
void collect_pci(Node& root);
void collect_usb(Node& root);
void collect_network(Node& root);
void collect_sensors(Node& root);
void collect_power(Node& root);
void collect_input(Node& root);
void collect_os(Node& root);

struct CollectorEntry {
    const char* name;
    void (*collect)(Node& root);
};

// The twelve collectors in table order.
const std::vector<CollectorEntry>& collector_table();

std::unique_ptr<Node> collect_all();
// The driver over an explicit table, so the failure handling can be exercised.
std::unique_ptr<Node> collect_with(const std::vector<CollectorEntry>& table);

} // namespace hw

#include "hw/hardware.h"

#include "host.h"
#include "hw/cpu_list.h"
#include "hw/root_data.h"
#include "read_beside.h"
#include "util.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <unordered_map>
#include <utility>

namespace hw {

void Section::add(std::string name, std::string value, std::string note) {
    if (value.empty()) return;
    items.push_back({std::move(name), std::move(value), std::move(note), false});
}

void Section::add_always(const std::string& name, const std::string& value,
                         const std::string& note) {
    items.push_back({name, value, note, false});
}

void Section::add_locked(const std::string& name, const std::string& note) {
    items.push_back({name, "", note, true});
}

Node* Node::add_child(const std::string& child_id, const std::string& child_title,
                      const std::string& child_icon) {
    auto child = std::make_unique<Node>();
    child->id = child_id;
    child->title = child_title;
    child->icon = child_icon;
    children.push_back(std::move(child));
    return children.back().get();
}

void Node::adopt_children(Node& other) {
    for (auto& child : other.children)
        children.push_back(std::move(child));
    other.children.clear();
}

Section& Node::section(const std::string& section_title) {
    for (auto& s : sections)
        if (s.title == section_title) return s;
    sections.push_back(Section{section_title, {}});
    return sections.back();
}

const Node* Node::find(const std::string& wanted_id) const {
    if (id == wanted_id) return this;
    for (const auto& c : children)
        if (const Node* hit = c->find(wanted_id)) return hit;
    return nullptr;
}

Node* Node::find(const std::string& wanted_id) {
    return const_cast<Node*>(static_cast<const Node*>(this)->find(wanted_id));
}

bool Node::matches(const std::string& needle_lower) const {
    if (needle_lower.empty()) return true;
    auto hit = [&](const std::string& text) {
        return util::fold_case(text).find(needle_lower) != std::string::npos;
    };
    if (hit(title) || hit(summary)) return true;
    for (const auto& s : sections) {
        if (hit(s.title)) return true;
        for (const auto& item : s.items)
            if (hit(item.name) || hit(item.value)) return true;
    }
    return false;
}

void add_sysfs(Section& s, const std::string& label, const std::string& dir,
               const std::string& attr) {
    s.add(label, util::read_text(dir + "/" + attr), attr);
}

void add_sysfs_bytes(Section& s, const std::string& label, const std::string& dir,
                     const std::string& attr, uint64_t multiplier) {
    std::string text = util::read_file(dir + "/" + attr);
    if (!text.empty()) s.add(label, util::fmt_bytes(multiplier * util::to_u64(text, 0)), attr);
}

void add_sysfs_khz(Section& s, const std::string& label, const std::string& dir,
                   const std::string& attr) {
    std::string text = util::read_file(dir + "/" + attr);
    if (!text.empty()) s.add(label, util::fmt_khz(util::to_u64(text, 0)), attr);
}

void add_sysfs_bool(Section& s, const std::string& label, const std::string& dir,
                    const std::string& attr) {
    std::string text = util::read_file(dir + "/" + attr);
    if (!text.empty()) s.add(label, text == "0" ? tr("common.no") : tr("common.yes"), attr);
}

std::string yesno(bool v) {
    return v ? tr("common.yes") : tr("common.no");
}

namespace {

std::string snap_name() {
    const char* v = std::getenv("SNAP_NAME");
    return v ? v : "";
}

} // namespace

std::string snap_permission_hint(const std::string& iface) {
    std::string name = snap_name();
    if (name.empty()) return {};
    return I18n::trf("msg.snap_permission", name.c_str(), iface.c_str());
}

std::vector<std::string> missing_snap_permissions() {
    std::vector<std::string> missing;
    if (snap_name().empty()) return missing;
    if (util::count_dir("/sys/block") == 0) missing.push_back("hardware-observe");
    if (!util::readable("/var/lib/snapd/hostfs/etc/os-release"))
        missing.push_back("system-observe");
    if (!util::readable("/run/mount/utab")) missing.push_back("mount-observe");
    return missing;
}

std::string device_tree_model() {
    // /proc/device-tree is an absolute link into /sys, so a capture must resolve it inside
    // itself instead of opening the host's own tree (the file itself is no link: resolving it
    // too would read it twice). Device-tree strings end in a NUL; a model is one string,
    // which printable keeps.
    return util::read_text_shared(util::resolve_path("/proc/device-tree") + "/model");
}

const std::vector<CollectorEntry>& collector_table() {
    static const std::vector<CollectorEntry> table = {
        {"system", collect_system},     {"cpu", collect_cpu},         {"memory", collect_memory},
        {"graphics", collect_graphics}, {"storage", collect_storage}, {"pci", collect_pci},
        {"usb", collect_usb},           {"network", collect_network}, {"sensors", collect_sensors},
        {"power", collect_power},       {"input", collect_input},     {"os", collect_os},
    };
    return table;
}

namespace {

// Every text of the tree may come from outside: a file of a capture, a device's own name
// (a USB device chooses it), a directory name. It is shown in the window and printed to
// terminals, where control characters would act, so the whole tree passes one cleaner.
void clean_tree(Node& node) {
    util::clean_text_in_place(node.title, false);
    util::clean_text_in_place(node.summary, false);
    for (auto& s : node.sections) {
        util::clean_text_in_place(s.title, false);
        for (auto& item : s.items) {
            util::clean_text_in_place(item.name, false);
            util::clean_text_in_place(item.value, true);
            util::clean_text_in_place(item.note, false);
        }
    }
    for (auto& child : node.children)
        clean_tree(*child);
}

// A file that held more than its kind can hold was read only in part; the branch that read
// it says so, so that a reader of the report knows what was left out.
void note_cut_reads(Node& branch) {
    size_t total = 0;
    std::vector<std::string> paths = util::take_cut_reads(&total);
    if (paths.empty()) return;
    Section& s = branch.section(tr("sec.limits"));
    constexpr size_t shown = 16;
    for (size_t i = 0; i < paths.size() && i < shown; ++i)
        s.add_always(paths[i], tr("msg.read_cut"), "");
    if (total > shown)
        s.add_always("…", I18n::trf("msg.more_cut", util::fmt_int(total - shown).c_str()), "");
}

// One branch, added to `holder`: the tree's root, or a stand-in while other threads read
// the other branches.
void collect_branch(const CollectorEntry& entry, Node& holder) {
    size_t before = holder.children.size();
    try {
        entry.collect(holder);
    } catch (...) {
        // One unreadable area must not cost the user the rest of the report.
        Node* failed = holder.add_child(std::string("error.") + entry.name, entry.name, "\u26A0");
        failed->section(tr("sec.error")).add_always(tr("f.status"), tr("msg.collector_failed"), "");
    }
    if (holder.children.size() > before)
        note_cut_reads(*holder.children.back());
    else
        util::take_cut_reads();
}

// From this many online processors on, the branches are read on several threads: the
// processor branch alone opens thousands of files there, and the other branches grow with
// the machine. On a small machine starting threads would cost more than it saves.
constexpr size_t many_processors = 64;

// How many threads beside this one read branches: as many as this computer has cores to
// spare, up to three (beyond that the largest branch alone sets the time).
unsigned helper_count() {
    // The processor and OS branches read this list anyway.
    std::string online = util::read_text_shared("/sys/devices/system/cpu/online");
    if (parse_cpu_list(online).size() < many_processors) return 0;
    return std::min(util::spare_cores(), 3u);
}

// The branches of `table`, read by this thread and `helpers` more, each thread taking the
// next branch not taken yet; they join `root` in table order, so the tree is the same
// whichever thread read what.
void collect_in_parallel(const std::vector<CollectorEntry>& table, unsigned helpers, Node& root) {
    std::vector<Node> holders(table.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < table.size();)
            collect_branch(table[i], holders[i]);
    };
    {
        std::vector<std::unique_ptr<util::ReadBeside>> threads;
        for (unsigned n = 0; n < helpers; ++n)
            threads.push_back(std::make_unique<util::ReadBeside>(work));
        work();
    } // each branch notes its own cuts on the thread that read it
    for (Node& holder : holders)
        root.adopt_children(holder);
}

} // namespace

std::unique_ptr<Node> collect_with(const std::vector<CollectorEntry>& table) {
    auto root = std::make_unique<Node>();
    root->id = "root";
    root->title = tr("tree.computer");
    root->icon = "\U0001F5A5";
    // The shared files, the open directories and what was learnt of links live for this
    // collection only: a refresh reads the machine anew.
    util::ReadScope reads;
    util::take_cut_reads(); // what was read before (live panels) is not this tree's
    if (unsigned helpers = helper_count(); helpers > 0)
        collect_in_parallel(table, helpers, *root);
    else
        for (const auto& entry : table)
            collect_branch(entry, *root);
    clean_tree(*root);
    return root;
}

std::unique_ptr<Node> collect_all() {
    // As root the protected rows are filled in-process instead of being shown locked. Over a
    // capture this never runs, so a report of a capture does not depend on who runs it.
    auto& root_data = RootData::instance();
    if (host::running_as_root() && !root_data.available) root_data.collect_as_root();
    return collect_with(collector_table());
}

} // namespace hw

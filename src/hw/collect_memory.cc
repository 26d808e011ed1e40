// The memory branch: what the kernel manages and how it is used, swap, kernel counters, huge
// pages, the installed modules (from the protected SMBIOS data) and the raw meminfo table.
//
// Three figures that users often confuse are set side by side: the total the kernel manages
// (MemTotal), the sum of the installed modules, and the span of the firmware's memory map.
// Their difference is the memory the firmware and integrated graphics keep for themselves.
#include "hw/hardware.h"
#include "hw/memory_parsers.h"
#include "hw/root_data.h"
#include "util.h"

namespace hw {

namespace {

const char* const memmap_dir = "/sys/firmware/memmap";
const char* const memory_blocks_dir = "/sys/devices/system/memory";
const char* const smbios_note = "SMBIOS 17";

Meminfo read_meminfo_kb() {
    return parse_meminfo(util::read_lines("/proc/meminfo", max_meminfo_lines));
}

bool firmware_reserves_memory(uint64_t total_bytes) {
    if (!util::is_dir(memmap_dir)) return false;
    std::vector<MemmapRange> ranges;
    for (const auto& entry : util::list_dir(memmap_dir)) {
        std::string dir = std::string(memmap_dir) + "/" + entry;
        std::string start = util::read_file(dir + "/start");
        std::string end = util::read_file(dir + "/end");
        if (start.empty() || end.empty()) continue;
        ranges.push_back({util::parse_hex64(start, 0), util::parse_hex64(end, 0),
                          util::read_file(dir + "/type")});
    }
    return memmap_exceeds_total(ranges, total_bytes);
}

// A key the kernel did not write gives no row: "0 B" would claim a figure nobody measured
// (an unreadable meminfo, or counters an older kernel lacks).
std::string bytes_kb(const Meminfo& mi, const char* key) {
    return mi.has(key) ? util::fmt_bytes(kib_to_bytes(mi.get(key))) : std::string();
}

std::string share(uint64_t part, uint64_t whole) {
    return "  (" +
           util::fmt_percent(static_cast<double>(part) * 100.0 / static_cast<double>(whole), 1) +
           ")";
}

void add_usage(Node& node, const Meminfo& mi, uint64_t total, uint64_t installed,
               bool modules_read) {
    Section& s = node.section(tr("sec.usage"));
    // Without MemTotal nothing can be said about what the firmware keeps.
    if (installed > total) {
        uint64_t reserved = installed - total;
        s.add(tr("f.installed"), util::fmt_bytes(installed), smbios_note);
        if (total)
            s.add(tr("f.reserved_firmware"),
                  util::fmt_bytes(reserved) + share(reserved, installed));
    } else if (!modules_read && total && firmware_reserves_memory(total)) {
        // Once the modules were read the hint would ask for rights already used: a
        // virtual machine can hold fewer installed bytes than it manages.
        s.add_always(tr("f.installed"), tr("msg.installed_needs_root"));
    }
    s.add(tr("f.total"), bytes_kb(mi, "MemTotal"));
    s.add(tr("f.available"), bytes_kb(mi, "MemAvailable"));
    s.add(tr("f.free"), bytes_kb(mi, "MemFree"));
    s.add(tr("f.buffers"), bytes_kb(mi, "Buffers"));
    s.add(tr("f.cached"), bytes_kb(mi, "Cached"));
    s.add(tr("f.shared"), bytes_kb(mi, "Shmem"));
    uint64_t mem_total = mi.get("MemTotal");
    uint64_t mem_available = mi.get("MemAvailable");
    // A corrupt table with more available than total must not show an enormous figure.
    if (mem_total && mem_available && mem_available <= mem_total) {
        uint64_t used = mem_total - mem_available;
        s.add(tr("f.used"), util::fmt_bytes(kib_to_bytes(used)) + share(used, mem_total),
              "MemTotal - MemAvailable");
    }
}

void add_swap(Node& node, const Meminfo& mi) {
    Section& s = node.section(tr("sec.swap"));
    uint64_t swap_total = mi.get("SwapTotal");
    uint64_t swap_free = mi.get("SwapFree");
    s.add(tr("f.total"), bytes_kb(mi, "SwapTotal"));
    s.add(tr("f.free"), bytes_kb(mi, "SwapFree"));
    if (swap_total && swap_free <= swap_total)
        s.add(tr("f.used"), util::fmt_bytes(kib_to_bytes(swap_total - swap_free)));
    s.add(tr("f.cached"), bytes_kb(mi, "SwapCached"));
    for (const auto& a : parse_swaps(
             util::lines(*util::read_shared("/proc/swaps"), max_swap_lines, "/proc/swaps"))) {
        std::string value = util::valid_utf8(a.type) + ", " +
                            util::fmt_bytes(kib_to_bytes(a.size_kb)) + ", " + tr("f.used") + " " +
                            util::fmt_bytes(kib_to_bytes(a.used_kb)) + ", " + tr("f.priority") +
                            " " + util::valid_utf8(a.priority);
        s.add(util::valid_utf8(a.name), value, "/proc/swaps");
    }
}

void add_kernel_memory(Node& node, const Meminfo& mi) {
    static const char* const keys[] = {
        "Active",       "Inactive",     "Dirty",       "Writeback",   "AnonPages",  "Mapped",
        "Slab",         "SReclaimable", "SUnreclaim",  "KernelStack", "PageTables", "CommitLimit",
        "Committed_AS", "VmallocTotal", "VmallocUsed", "Percpu",
    };
    Section& s = node.section(tr("sec.kernel_memory"));
    for (const char* key : keys)
        s.add(key, bytes_kb(mi, key));
}

void add_huge_pages(Node& node, const Meminfo& mi) {
    Section& s = node.section(tr("sec.hugepages"));
    auto count_row = [&](const char* key) {
        if (mi.has(key)) s.add(key, util::fmt_int(mi.get(key)));
    };
    count_row("HugePages_Total");
    count_row("HugePages_Free");
    count_row("HugePages_Rsvd");
    count_row("HugePages_Surp");
    if (mi.get("Hugepagesize")) s.add("Hugepagesize", bytes_kb(mi, "Hugepagesize"));
    s.add("AnonHugePages", bytes_kb(mi, "AnonHugePages"));
    s.add("ShmemHugePages", bytes_kb(mi, "ShmemHugePages"));
    s.add(tr("f.transparent_hugepages"),
          util::read_text("/sys/kernel/mm/transparent_hugepage/enabled"),
          "transparent_hugepage/enabled");
}

void add_modules(Node& node, const RootData& rd) {
    Section& s = node.section(tr("sec.modules"));
    if (rd.available) {
        // Without a lock when the protected data was read but the table lists no module:
        // there is nothing left to unlock.
        if (rd.max_capacity) s.add(tr("f.max_capacity"), util::fmt_bytes(rd.max_capacity));
        s.add(tr("f.slots"), rd.num_slots);
        if (!rd.memory.empty()) {
            uint64_t populated = 0;
            for (const auto& m : rd.memory)
                if (m.size_bytes) ++populated;
            s.add(tr("f.slots_used"),
                  util::fmt_int(populated) + " / " + util::fmt_int(rd.memory.size()));
        }
    } else if (util::path_exists(smbios_table_path)) {
        // Without the table (many Arm boards, some virtual machines) there is nothing an
        // administrator could unlock either.
        s.add_locked(tr("sec.modules"), smbios_note);
    }
    if (util::is_dir(memory_blocks_dir)) {
        s.add(tr("f.memory_blocks"), util::fmt_int(util::count_dir(memory_blocks_dir, "memory")),
              "system/memory");
        // Hexadecimal without a "0x" prefix ("8000000" for 128 MiB).
        uint64_t block = util::parse_hex64(
            util::read_file(std::string(memory_blocks_dir) + "/block_size_bytes"), 0);
        if (block) s.add(tr("f.block_size"), util::fmt_bytes(block), "block_size_bytes");
    }
}

void add_slots(Node& node, const RootData& rd) {
    if (!rd.available) return;
    for (size_t i = 0; i < rd.memory.size(); ++i) {
        const MemoryModule& m = rd.memory[i];
        std::string title =
            m.locator.empty() ? std::string(tr("f.slot")) + " " + std::to_string(i + 1) : m.locator;
        Node* slot = node.add_child("memory.slot." + std::to_string(i), title,
                                    m.size_bytes ? "\U0001F7E9" : "\u2B1C");
        Section& s = slot->section(tr("sec.module"));
        s.add(tr("f.slot"), m.locator);
        s.add(tr("f.bank"), m.bank);
        if (!m.size_bytes) {
            slot->summary = tr("value.slot_empty");
            s.add(tr("f.status"), tr("value.slot_empty"));
            continue;
        }
        slot->summary = util::fmt_bytes(m.size_bytes) + (m.type.empty() ? "" : "  " + m.type);
        s.add(tr("f.size"), util::fmt_bytes(m.size_bytes));
        s.add(tr("f.type"), m.type);
        s.add(tr("f.form_factor"), m.form_factor);
        s.add(tr("f.speed_rated"), m.speed);
        s.add(tr("f.speed_configured"), m.configured_speed);
        s.add(tr("f.manufacturer"), m.manufacturer);
        s.add(tr("f.part_number"), m.part_number);
        s.add(tr("f.serial"), m.serial);
        s.add(tr("f.asset_tag"), m.asset_tag);
        s.add(tr("f.rank"), m.rank);
        s.add(tr("f.data_width"), m.data_width);
        s.add(tr("f.total_width"), m.total_width);
        s.add(tr("f.voltage"), display_voltage(m.voltage));
    }
}

void add_raw(Node& node, const Meminfo& mi) {
    Section& s = node.section(tr("sec.raw_meminfo"));
    for (const auto& key : mi.order) {
        uint64_t v = mi.get(key);
        std::string value = util::starts_with(key, "HugePages_") ? util::fmt_int(v)
                                                                 : util::fmt_bytes(kib_to_bytes(v));
        s.add(util::valid_utf8(key), value);
    }
}

} // namespace

void collect_memory(Node& root) {
    Meminfo mi = read_meminfo_kb();
    Node* node = root.add_child("memory", tr("tree.memory"), "\U0001F4BE");

    const RootData& rd = RootData::instance();
    uint64_t total = kib_to_bytes(mi.get("MemTotal"));
    uint64_t installed = 0;
    if (rd.available) {
        for (const auto& m : rd.memory)
            installed = saturating_add(installed, m.size_bytes);
    }
    if (installed > total)
        node->summary = util::fmt_bytes(installed);
    else if (mi.get("MemTotal"))
        node->summary = util::fmt_bytes(total);

    add_usage(*node, mi, total, installed, rd.available);
    add_swap(*node, mi);
    add_kernel_memory(*node, mi);
    add_huge_pages(*node, mi);
    add_modules(*node, rd);
    add_slots(*node, rd);
    add_raw(*node, mi);
}

} // namespace hw

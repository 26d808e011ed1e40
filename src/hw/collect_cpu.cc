// The processor branch: identification, topology, clocks, caches, vulnerabilities and flags
// for the whole machine, the NUMA nodes, and the logical CPUs one by one (or merged into one
// list on machines with many of them).
#include "host.h"
#include "hw/arm_cpu_names.h"
#include "hw/cpu_cache.h"
#include "hw/cpu_list.h"
#include "hw/cpu_topology.h"
#include "hw/cpuinfo_parser.h"
#include "hw/hardware.h"
#include "hw/node_meminfo.h"
#include "read_beside.h"
#include "util.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace hw {

namespace {

// Beyond this many present CPUs the per-CPU children give way to one merged list: reading
// every CPU's directories costs seconds there, and hundreds of entries help nobody.
constexpr size_t MANY_CPUS = 64;

struct Feature {
    const char* flag;
    const char* label;
};

constexpr Feature NOTABLE_FEATURES[] = {
    {"lm", "64-Bit (x86-64)"},
    {"vmx", "Intel VT-x"},
    {"svm", "AMD-V (SVM)"},
    {"ept", "Intel EPT"},
    {"npt", "AMD NPT"},
    {"aes", "AES-NI"},
    {"sha_ni", "SHA Extensions"},
    {"rdrand", "RDRAND"},
    {"rdseed", "RDSEED"},
    {"avx", "AVX"},
    {"avx2", "AVX2"},
    {"avx512f", "AVX-512 (Foundation)"},
    {"avx512bw", "AVX-512 BW"},
    {"avx512_vnni", "AVX-512 VNNI"}, // the kernel's spelling of the flag
    {"amx_tile", "Intel AMX"},
    {"sse4_2", "SSE4.2"},
    {"fma", "FMA3"},
    {"bmi2", "BMI2"},
    {"smep", "SMEP"},
    {"smap", "SMAP"},
    {"tme", "Intel TME"},
    {"sme", "AMD SME"},
    {"sev", "AMD SEV"},
    {"tsc", "TSC"},
    {"constant_tsc", "Constant TSC"},
    {"hypervisor", "Hypervisor"},
    {"ht", "Hyper-Threading / SMT"},
    {"pae", "PAE"},
    {"nx", "NX (Execute Disable)"},
    {"pdpe1gb", "1 GiB Pages"},
    {"hwp", "Intel HWP"},
    {"cppc", "AMD CPPC"},
};

const std::string CPU_DIR = "/sys/devices/system/cpu";
const std::string NODE_DIR = "/sys/devices/system/node";
const char* const ICON_CPU = "\x1C"
                             "pu"; // the tree pane draws a processor chip for these bytes
const char* const ICON_CORE = "\u2699";
const char* const ICON_NUMA = "\U0001F5FA";

std::string cpu_dir(int cpu) {
    return CPU_DIR + "/cpu" + std::to_string(cpu);
}

// The per-CPU files that several sections need (topology for the counts and the CPU's own
// rows, cpufreq for the clock summary and the CPU's own rows) are read once per collection:
// on machines with many CPUs the number of files read is the time spent.
class Files {
public:
    explicit Files(size_t cpus) : m_cpus(cpus) {}

    // The frequency directory of the CPU at `cpu_dir`. CPUs of one cluster share a policy
    // (cpuN/cpufreq links to ../cpufreq/policyM) whose files are the same for all of them:
    // where there are fewer policies than CPUs they are read through the policy, once. One
    // policy per CPU (most x86 machines) costs no look at the links.
    const std::string& freq_dir(const std::string& cpu_dir) {
        auto it = m_freq_dirs.find(cpu_dir);
        if (it != m_freq_dirs.end()) return it->second;
        std::string dir = cpu_dir + "/cpufreq";
        if (policies() > 0 && policies() < m_cpus) {
            // The kernel's own link, and nothing else, names the shared directory.
            const std::string prefix = "../cpufreq/policy";
            std::string target = util::read_link_full(dir);
            if (util::starts_with(target, prefix) && target.size() > prefix.size() &&
                target.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
                dir = CPU_DIR + target.substr(2);
        }
        return m_freq_dirs.emplace(cpu_dir, std::move(dir)).first->second;
    }

    // The trimmed content made valid UTF-8; empty when unreadable.
    const std::string& text(const std::string& path) {
        auto it = m_text.find(path);
        if (it == m_text.end()) it = m_text.emplace(path, util::read_text(path)).first;
        return it->second;
    }
    const std::string& text(const std::string& dir, const std::string& name) {
        return text(dir + "/" + name);
    }
    bool is_dir(const std::string& path) {
        auto it = m_dirs.find(path);
        if (it == m_dirs.end()) it = m_dirs.emplace(path, util::is_dir(path)).first;
        return it->second;
    }
    // How many frequency policies the kernel lists (none before 4.3, or without a driver).
    size_t policies() {
        if (!m_policies) m_policies = util::count_dir(CPU_DIR + "/cpufreq", "policy");
        return *m_policies;
    }

private:
    size_t m_cpus;
    std::optional<size_t> m_policies;
    std::unordered_map<std::string, std::string> m_freq_dirs;
    std::unordered_map<std::string, std::string> m_text;
    std::unordered_map<std::string, bool> m_dirs;
};

// One attribute as text fit for display, for files read once anyway.
std::string attr(const std::string& dir, const std::string& name) {
    return util::read_text(dir + "/" + name);
}

// The shared row functions over the files already read; free text is made valid UTF-8.
void add_text(Files& f, Section& s, const std::string& label, const std::string& dir,
              const std::string& name) {
    s.add(label, f.text(dir, name), name);
}

void add_khz(Files& f, Section& s, const std::string& label, const std::string& dir,
             const std::string& name) {
    const std::string& text = f.text(dir, name);
    if (!text.empty()) s.add(label, util::fmt_khz(util::to_u64(text, 0)), name);
}

// A set of CPUs as its list file has it, else from the mask file of older kernels.
// Returns the text to show and the file it came from.
std::pair<std::string, std::string> list_or_mask(Files& f, const std::string& dir,
                                                 const std::string& list_name,
                                                 const std::string& mask_name) {
    const std::string& list = f.text(dir, list_name);
    if (!list.empty()) return {list, list_name};
    return {format_cpu_list(parse_cpu_mask(f.text(dir, mask_name))), mask_name};
}

std::vector<CpuInfoBlock> read_cpuinfo() {
    return parse_cpuinfo(*util::read_shared("/proc/cpuinfo"));
}

// Arm's flags of these names are its own: the cryptography extension rather than Intel's
// instructions, the Scalable Matrix Extension rather than AMD's memory encryption.
const char* arm_label(const Feature& feature) {
    const std::string_view flag = feature.flag;
    if (flag == "aes") return "AES";
    if (flag == "sme") return "Arm SME";
    return feature.label;
}

std::string model_text(const std::vector<CpuInfoBlock>& blocks) {
    std::string model = cpuinfo_model(blocks);
    if (model.empty()) model = device_tree_model();
    // Arm machines booted through ACPI name their processor only by number.
    if (model.empty())
        model =
            arm_cpu_name(first_field(blocks, "CPU implementer"), first_field(blocks, "CPU part"));
    return model.empty() ? tr("common.unknown") : model;
}

// Per-CPU facts read once and used by several sections.
struct CpuFacts {
    CpuTopology topology;
    std::string cur_khz;
    std::string governor;
};

std::map<int, CpuFacts> read_online_facts(Files& files, const CpuLists& lists) {
    std::map<int, CpuFacts> facts;
    for (auto& t : read_topology(lists.online, [&](const std::string& p) { return files.text(p); }))
        facts[t.cpu].topology = std::move(t);
    return facts;
}

std::vector<std::string> numa_nodes() {
    std::vector<std::string> nodes;
    for (const auto& name : util::list_dir(NODE_DIR, "node"))
        if (util::all_digits(std::string_view(name).substr(4))) nodes.push_back(name);
    return nodes;
}

void add_processor_section(Node& cpu, const std::vector<CpuInfoBlock>& blocks,
                           const std::string& model) {
    Section& s = cpu.section(tr("sec.processor"));
    auto field = [&](const char* label, const char* key) {
        s.add(tr(label), first_field(blocks, key), "");
    };
    s.add(tr("f.model"), model, "");
    field("f.vendor", "vendor_id");
    field("f.family", "cpu family");
    // The first paragraph's only: POWER's last paragraph names the machine under that key.
    s.add(tr("f.model_id"), blocks.empty() ? "" : blocks.front().get("model"), "");
    field("f.stepping", "stepping");
    field("f.microcode", "microcode");
    s.add(tr("f.bogomips"), first_field(blocks, BOGOMIPS_KEYS), "");
    s.add(tr("f.address_sizes"), first_field(blocks, ADDRESS_SIZE_KEYS), "");
    s.add(tr("f.architecture"), util::valid_utf8(host::kernel_name().machine), "");
    field("f.cpu_implementer", "CPU implementer");
    field("f.cpu_architecture", "CPU architecture");
    field("f.cpu_variant", "CPU variant");
    field("f.cpu_part", "CPU part");
    field("f.cpu_revision", "CPU revision");
    field("f.isa", "isa");
    field("f.mmu", "mmu");
}

void add_topology_section(Node& cpu, const CpuLists& lists, const std::map<int, CpuFacts>& facts,
                          const std::vector<CpuInfoBlock>& blocks, size_t node_count) {
    Section& s = cpu.section(tr("sec.topology"));
    std::vector<CpuTopology> topo;
    for (const auto& [n, f] : facts)
        topo.push_back(f.topology);
    if (size_t sockets = count_sockets(topo, blocks))
        s.add(tr("f.sockets"), util::fmt_int(sockets), "");
    if (size_t cores = count_cores(topo)) s.add(tr("f.cores_physical"), util::fmt_int(cores), "");
    if (!lists.present.empty() || !lists.online.empty()) {
        s.add(tr("f.threads_logical"), util::fmt_int(lists.present.size()), "");
        s.add(tr("f.cpus_online"), util::fmt_int(lists.online.size()), "");
    }
    s.add(tr("f.cpu_list_online"), lists.online_text, lists.online_note);
    s.add(tr("f.cpu_list_present"), lists.present_text, lists.present_note);
    s.add(tr("f.cpu_list_offline"), lists.offline_text, "offline");
    std::string smt = util::read_file(CPU_DIR + "/smt/active");
    if (!smt.empty()) s.add(tr("f.smt"), yesno(smt != "0"), "smt/active");
    s.add(tr("f.smt_control"), attr(CPU_DIR + "/smt", "control"), "control");
    if (node_count > 0) s.add(tr("f.numa_nodes"), util::fmt_int(node_count), "node");
}

void add_clock_section(Files& files, Node& cpu, const CpuLists& lists,
                       std::map<int, CpuFacts>& facts, const std::vector<CpuInfoBlock>& blocks) {
    uint64_t cur_low = 0, cur_high = 0, hw_min = 0, hw_max = 0;
    std::set<std::string> governors, drivers;
    // Without a frequency driver no CPU has the directory, and the kernel lists no policy (as
    // do kernels from before policies, whose first CPU has it then): the first CPU tells for
    // all, where a virtual machine with hundreds of them made two failed look-ups for each.
    const bool no_cpufreq = !lists.online.empty() && files.policies() == 0 &&
                            !files.is_dir(files.freq_dir(cpu_dir(lists.online.front())));
    const std::vector<int> none;
    for (int n : no_cpufreq ? none : lists.online) {
        const std::string& d = files.freq_dir(cpu_dir(n));
        CpuFacts& f = facts[n];
        f.cur_khz = files.text(d, "scaling_cur_freq");
        // Without a current frequency there is usually no cpufreq directory at all.
        if (f.cur_khz.empty() && !files.is_dir(d)) continue;
        uint64_t cur = util::to_u64(f.cur_khz, 0);
        if (cur) {
            cur_low = cur_low ? std::min(cur_low, cur) : cur;
            cur_high = std::max(cur_high, cur);
        }
        uint64_t lo = util::to_u64(files.text(d, "cpuinfo_min_freq"), 0);
        if (lo) hw_min = hw_min ? std::min(hw_min, lo) : lo;
        hw_max = std::max(hw_max, util::to_u64(files.text(d, "cpuinfo_max_freq"), 0));
        f.governor = files.text(d, "scaling_governor");
        if (!f.governor.empty()) governors.insert(f.governor);
        // The kernel runs one frequency driver for all CPUs: the first that names it will do.
        if (drivers.empty())
            if (const std::string& driver = files.text(d, "scaling_driver"); !driver.empty())
                drivers.insert(driver);
    }
    Section& s = cpu.section(tr("sec.clock"));
    std::string mhz, mhz_key;
    for (std::string_view key : MHZ_KEYS) {
        mhz = first_field(blocks, key);
        if (!mhz.empty()) {
            mhz_key = key;
            break;
        }
    }
    std::string mhz_text = mhz.empty() ? std::string() : util::fmt_mhz(util::to_double(mhz, 0));
    if (cur_low) {
        std::string v = util::fmt_khz(cur_low);
        if (cur_high != cur_low) v += " – " + util::fmt_khz(cur_high);
        s.add(tr("f.freq_current"), v, "");
    } else if (!mhz_text.empty()) {
        s.add(tr("f.freq_current"), mhz_text, mhz_key);
    } else {
        s.add_always(tr("f.freq_current"), tr("msg.no_cpufreq"), "");
    }
    if (hw_min) s.add(tr("f.freq_hw_min"), util::fmt_khz(hw_min), "");
    if (hw_max) s.add(tr("f.freq_hw_max"), util::fmt_khz(hw_max), "");
    s.add(tr("f.governor"),
          util::join(std::vector<std::string>(governors.begin(), governors.end()), ", "), "");
    s.add(tr("f.freq_driver"),
          util::join(std::vector<std::string>(drivers.begin(), drivers.end()), ", "), "");
    std::string pstate = CPU_DIR + "/intel_pstate";
    std::string no_turbo = util::read_file(pstate + "/no_turbo");
    if (!no_turbo.empty()) s.add(tr("f.turbo"), yesno(no_turbo == "0"), "intel_pstate/no_turbo");
    add_text(files, s, tr("f.pstate_status"), pstate, "status");
    add_text(files, s, tr("f.pstate_min_perf"), pstate, "min_perf_pct");
    add_text(files, s, tr("f.pstate_max_perf"), pstate, "max_perf_pct");
    add_sysfs_bool(s, tr("f.boost"), CPU_DIR, "cpufreq/boost");
}

void add_cache_section(Node& cpu, const CacheTally& tally,
                       const std::vector<CpuInfoBlock>& blocks) {
    Section& s = cpu.section(tr("sec.cache"));
    if (tally.empty()) {
        s.add(tr("f.cache_size"), first_field(blocks, "cache size"), "cache size");
        s.add(tr("f.cache_alignment"), first_field(blocks, "cache_alignment"), "cache_alignment");
        return;
    }
    for (const auto& t : tally.totals())
        s.add(t.label, cache_total_text(t), cache_total_note(t));
}

void add_vulnerabilities(Node& cpu) {
    std::string dir = CPU_DIR + "/vulnerabilities";
    auto entries = util::list_dir(dir);
    if (entries.empty()) return;
    Section& s = cpu.section(tr("sec.vulnerabilities"));
    for (const auto& e : entries)
        s.add(util::valid_utf8(e), attr(dir, e), "");
}

void add_flags(Node& cpu, const std::vector<CpuInfoBlock>& blocks) {
    const bool x86 = !first_field(blocks, "flags").empty();
    auto flags = split_flags(first_field(blocks, FLAG_KEYS));
    auto bugs = split_flags(first_field(blocks, "bugs"));
    if (!flags.empty()) {
        std::set<std::string> present(flags.begin(), flags.end());
        Section& f = cpu.section(tr("sec.features"));
        for (const auto& feature : NOTABLE_FEATURES) {
            if (!present.count(feature.flag)) continue;
            f.add(x86 ? feature.label : arm_label(feature), tr("common.yes"), feature.flag);
        }
        Section& all = cpu.section(tr("sec.all_flags"));
        all.add(tr("f.count"), util::fmt_int(flags.size()), "");
        all.add(tr("f.flags"), util::fmt_columns(flags, 78), "/proc/cpuinfo");
    }
    if (!bugs.empty())
        cpu.section(tr("sec.all_flags")).add(tr("f.bugs"), util::fmt_columns(bugs, 78), "");
}

void add_numa_child(Files& files, Node& cpu, const std::vector<std::string>& nodes) {
    if (nodes.empty()) return;
    Node* numa = cpu.add_child("cpu.numa", tr("tree.numa"), ICON_NUMA);
    for (const auto& name : nodes) {
        std::string d = NODE_DIR + "/" + name;
        Section& s = numa->section(name);
        auto [cpus, note] = list_or_mask(files, d, "cpulist", "cpumap");
        s.add(tr("f.cpu_list"), cpus, note);
        for (const auto& [key, bytes] :
             parse_node_meminfo(util::read_file_raw(d + "/meminfo", util::attribute_limit)))
            s.add(key, util::fmt_bytes(bytes), "");
        add_text(files, s, tr("f.distance"), d, "distance");
    }
}

void add_cpu_dir_details(Files& files, Section& s, const std::string& dir) {
    const std::string& freq = files.freq_dir(dir);
    if (files.is_dir(freq)) {
        add_khz(files, s, tr("f.freq_current"), freq, "scaling_cur_freq");
        add_khz(files, s, tr("f.freq_min"), freq, "scaling_min_freq");
        add_khz(files, s, tr("f.freq_max"), freq, "scaling_max_freq");
        add_khz(files, s, tr("f.freq_hw_min"), freq, "cpuinfo_min_freq");
        add_khz(files, s, tr("f.freq_hw_max"), freq, "cpuinfo_max_freq");
        add_khz(files, s, tr("f.freq_base"), freq, "base_frequency");
        add_text(files, s, tr("f.governor"), freq, "scaling_governor");
        add_text(files, s, tr("f.governors"), freq, "scaling_available_governors");
        add_text(files, s, tr("f.freq_driver"), freq, "scaling_driver");
        add_text(files, s, tr("f.energy_pref"), freq, "energy_performance_preference");
        add_text(files, s, tr("f.energy_prefs"), freq, "energy_performance_available_preferences");
        add_text(files, s, tr("f.transition_latency"), freq, "cpuinfo_transition_latency");
    }
    std::string topo = dir + "/topology";
    if (files.is_dir(topo)) {
        add_text(files, s, tr("f.package_id"), topo, "physical_package_id");
        add_text(files, s, tr("f.die_id"), topo, "die_id");
        add_text(files, s, tr("f.cluster_id"), topo, "cluster_id");
        add_text(files, s, tr("f.core_id"), topo, "core_id");
        auto add_set = [&](const char* label, const char* list_name, const char* mask_name) {
            auto [cpus, note] = list_or_mask(files, topo, list_name, mask_name);
            s.add(tr(label), cpus, note);
        };
        add_set("f.thread_siblings", "thread_siblings_list", "thread_siblings");
        add_set("f.core_siblings", "core_siblings_list", "core_siblings");
        add_set("f.cluster_cpus", "cluster_cpus_list", "cluster_cpus");
    }
    add_text(files, s, tr("f.capacity"), dir, "cpu_capacity");
    std::string cppc = dir + "/acpi_cppc";
    if (files.is_dir(cppc)) {
        add_text(files, s, tr("f.cppc_highest"), cppc, "highest_perf");
        add_text(files, s, tr("f.cppc_nominal"), cppc, "nominal_perf");
        add_text(files, s, tr("f.cppc_lowest"), cppc, "lowest_perf");
        add_text(files, s, tr("f.cppc_nominal_f"), cppc, "nominal_freq");
    }
}

std::string cache_row_note(const CacheEntry& e) {
    std::vector<std::string> parts;
    if (!e.ways.empty()) parts.push_back(e.ways + "-way");
    if (!e.sets.empty()) parts.push_back(e.sets + " sets");
    if (!e.line_size.empty()) parts.push_back(e.line_size + " B");
    if (!e.write_policy.empty()) parts.push_back(e.write_policy);
    return util::join(parts, ", ");
}

// `dir_rows`: each CPU's frequency and topology rows (add_cpu_dir_details), made beforehand.
void add_cpu_children(Files& files, Node& cpu, const CpuLists& lists,
                      const std::vector<CpuInfoBlock>& blocks,
                      const std::map<int, std::vector<CacheEntry>>& caches,
                      std::map<int, Section>& dir_rows) {
    for (int n : lists.present) {
        std::string dir = cpu_dir(n);
        if (!files.is_dir(dir)) continue;
        Node* child =
            cpu.add_child("cpu.core." + std::to_string(n), I18n::trf("tree.cpu_n", n), ICON_CORE);
        Section& core = child->section(tr("sec.core"));
        core.add(tr("f.status"),
                 lists.online_set.count(n) ? tr("value.online") : tr("value.offline"), "");
        std::vector<Item>& rows = dir_rows[n].items;
        std::move(rows.begin(), rows.end(), std::back_inserter(core.items));
        const CpuInfoBlock* block = block_for_cpu(blocks, n);
        if (block && !files.is_dir(files.freq_dir(dir))) {
            const std::string& mhz = block->get_any(MHZ_KEYS);
            if (!mhz.empty())
                core.add(tr("f.freq_current"), util::fmt_mhz(util::to_double(mhz, 0)),
                         "/proc/cpuinfo");
        }
        auto it = caches.find(n);
        if (it != caches.end() && !it->second.empty()) {
            Section& cs = child->section(tr("sec.cache"));
            for (const auto& e : it->second) {
                std::string cpus = e.shared_list.empty() ? "" : "CPU " + e.shared_list;
                // An unknown size is left out rather than shown as 0 B.
                std::string v = e.size_bytes == 0 ? cpus : util::fmt_bytes(e.size_bytes);
                if (e.size_bytes != 0 && !cpus.empty()) v += "  (" + cpus + ")";
                cs.add(cache_label(e), v, cache_row_note(e));
            }
        }
        if (block) {
            Section& raw = child->section(tr("sec.raw_cpuinfo"));
            for (const auto& [key, value] : block->fields)
                raw.add(key, value, "");
        }
        std::erase_if(child->sections, [](const Section& s) { return s.empty(); });
    }
}

void add_merged_child(Files& files, Node& cpu, const CpuLists& lists,
                      const std::map<int, CpuFacts>& facts) {
    Node* cores = cpu.add_child("cpu.cores", tr("tree.cores"), ICON_CORE);
    cores->summary = I18n::trf("summary.n_threads", static_cast<int>(lists.present.size()));
    Section& s = cores->section(tr("sec.core"));
    s.add_always(tr("f.note"), tr("msg.many_cpus"), "");
    for (int n : lists.present) {
        std::string cur, governor, package;
        auto it = facts.find(n);
        if (it != facts.end()) {
            cur = it->second.cur_khz;
            governor = it->second.governor;
            package = it->second.topology.package_id;
        } else {
            std::string dir = cpu_dir(n);
            const std::string& freq = files.freq_dir(dir);
            cur = files.text(freq, "scaling_cur_freq");
            governor = files.text(freq, "scaling_governor");
            package = files.text(dir + "/topology", "physical_package_id");
        }
        std::vector<std::string> parts;
        if (!lists.online_set.count(n)) parts.push_back(tr("value.offline"));
        if (uint64_t khz = util::to_u64(cur, 0)) parts.push_back(util::fmt_khz(khz));
        if (!governor.empty()) parts.push_back(governor);
        // -1 is the kernel's "unknown", not a package.
        if (!package.empty() && util::to_i64(package, -1) >= 0)
            parts.push_back(std::string(tr("f.package_id")) + " " + package);
        s.add(I18n::trf("tree.cpu_n", n), util::join(parts, ", "), "");
    }
}

} // namespace

void collect_cpu(Node& root) {
    auto blocks = read_cpuinfo();
    std::string model = model_text(blocks);
    Node* cpu = root.add_child("cpu", tr("tree.cpu"), ICON_CPU);
    cpu->summary = model;

    CpuLists lists = read_cpu_lists();
    bool merged = lists.present.size() > MANY_CPUS;
    // The totals count the caches of online CPUs only; the per-CPU children show every CPU's.
    std::map<int, std::vector<CacheEntry>> caches;
    auto read_all_caches = [&] {
        CacheReader reader(merged ? CacheReader::Detail::Identity : CacheReader::Detail::Full,
                           !is_x86_cpuinfo(blocks));
        for (int n : merged ? lists.online : lists.present)
            caches[n] = reader.read(n);
    };
    // With many processors, half of the files this branch opens are their caches': those are
    // read on a second thread while the frequencies and the topology are read here. A machine
    // whose first processor lists no caches (a virtual one) has nothing to read there.
    std::optional<util::ReadBeside> caches_read;
    if (merged && !lists.online.empty() && util::spare_cores() > 0 &&
        util::is_dir(cpu_dir(lists.online.front()) + "/cache"))
        caches_read.emplace(read_all_caches);

    Files files(lists.present.size());
    // Each CPU's own rows take most of its frequency and topology files. They are made CPU by
    // CPU first, while its directories are open: the passes over all CPUs below (topology,
    // clocks) then find theirs read, instead of each opening every CPU's directories again.
    // The rows wait for the CPU's child.
    std::map<int, Section> dir_rows;
    if (!merged)
        for (int n : lists.present)
            if (std::string dir = cpu_dir(n); files.is_dir(dir))
                add_cpu_dir_details(files, dir_rows[n], dir);
    auto facts = read_online_facts(files, lists);
    auto nodes = numa_nodes();

    add_processor_section(*cpu, blocks, model);
    add_topology_section(*cpu, lists, facts, blocks, nodes.size());
    add_clock_section(files, *cpu, lists, facts, blocks);

    if (caches_read)
        caches_read->wait();
    else
        read_all_caches();
    CacheTally tally;
    for (int n : lists.online)
        for (const auto& e : caches[n])
            tally.add(n, e);
    add_cache_section(*cpu, tally, blocks);
    add_vulnerabilities(*cpu);
    add_flags(*cpu, blocks);
    add_numa_child(files, *cpu, nodes);
    if (merged)
        add_merged_child(files, *cpu, lists, facts);
    else
        add_cpu_children(files, *cpu, lists, blocks, caches, dir_rows);
    // A section whose every fact was missing has nothing to show.
    std::erase_if(cpu->sections, [](const Section& s) { return s.empty(); });
}

} // namespace hw

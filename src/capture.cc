#include "capture.h"

#include "entry.h"
#include "hw/hardware.h"
#include "hw/ids.h"
#include "i18n.h"
#include "module_loader.h"
#include "report.h"
#include "settings.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <functional>
#include <set>

namespace capture {

namespace {

// No file a report reads comes near this (pci.ids is about 1.3 MB); one that reaches it is a
// device that never ends, which a capture cannot hold.
constexpr size_t endless_bytes = 16u << 20;
// Links that lead to links: the kernel's own limit.
constexpr int max_link_depth = 40;

Recording* g_recording = nullptr;

void observe(const std::string& path, util::Access how, std::string_view result) {
    if (!g_recording || path.empty() || path[0] != '/') return;
    switch (how) {
    case util::Access::read:
        g_recording->reads.emplace(path, std::string(result));
        break;
    case util::Access::list: {
        auto& names = g_recording->listings[path];
        for (size_t start = 0, end; (end = result.find('\0', start)) != result.npos;
             start = end + 1)
            names.emplace_back(result.substr(start, end - start));
        break;
    }
    case util::Access::look:
        g_recording->looks.push_back(path);
        break;
    }
}

enum class Use { read, list, look };

class Gatherer {
public:
    Gatherer(const Recording& rec, bool blank) : m_rec(rec), m_blank(blank) {}

    Tree run() {
        // Reads first, so that a file read and also listed keeps its bytes.
        for (const auto& [path, bytes] : m_rec.reads)
            walk(path, Use::read, &bytes, 0);
        for (const auto& path : m_rec.looks)
            walk(path, Use::look, nullptr, 0);
        for (const auto& [path, names] : m_rec.listings) {
            m_names = &names;
            walk(path, Use::list, nullptr, 0);
        }
        m_tree.erase(host::facts_path);
        return std::move(m_tree);
    }

private:
    // Walks `path` one component at a time as the kernel would, keeping every link met on
    // the way and going on at its target, so that the replay resolves it the same way.
    void walk(const std::string& path, Use use, const std::string* bytes, int depth) {
        if (depth > max_link_depth) return;
        auto parts = util::split(path, '/');
        while (!parts.empty() && (parts.back().empty() || parts.back() == "."))
            parts.pop_back();
        std::string cur;
        for (size_t i = 0; i < parts.size(); ++i) {
            const std::string& part = parts[i];
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                // Every component before this one is a real directory by now, so ".." may
                // be taken by name.
                cur = cur.substr(0, cur.empty() ? 0 : cur.rfind('/'));
                continue;
            }
            std::string here = cur + "/" + part;
            std::string target = util::read_link_full(here);
            if (!target.empty()) {
                m_tree[here] = Entry{Entry::Kind::link, {}, target, false};
                std::string rest;
                for (size_t j = i + 1; j < parts.size(); ++j)
                    rest += "/" + parts[j];
                walk((target[0] == '/' ? std::string() : cur + "/") + target + rest, use, bytes,
                     depth + 1);
                return;
            }
            if (i + 1 < parts.size()) {
                if (!util::is_dir(here)) return;
                directory(here);
            }
            cur = here;
        }
        if (!cur.empty()) last(cur, use, bytes);
    }

    void directory(const std::string& path) { m_tree[path].kind = Entry::Kind::directory; }

    void last(const std::string& path, Use use, const std::string* bytes) {
        if (util::is_dir(path)) {
            directory(path);
            if (use == Use::list)
                for (const auto& name : *m_names)
                    listed(path + "/" + name);
            return;
        }
        if (!util::path_exists(path) || m_endless.count(path)) return;
        auto [it, fresh] = m_tree.emplace(path, Entry{});
        if (!fresh) return; // read before: its bytes stay
        if (use == Use::read) {
            if (bytes->size() >= endless_bytes) {
                m_tree.erase(it);
                m_endless.insert(path);
                return;
            }
            it->second.content = m_blank ? blank(path, *bytes) : *bytes;
        }
        // Empty bytes are also what a file gives that cannot be opened.
        if (it->second.content.empty()) it->second.unreadable = !util::readable(path);
    }

    // An entry of a listed directory that nothing read: its kind is enough for the listing.
    void listed(const std::string& path) {
        if (m_tree.count(path) || m_endless.count(path)) return;
        std::string target = util::read_link_full(path);
        if (!target.empty())
            m_tree[path] = Entry{Entry::Kind::link, {}, target, false};
        else if (util::is_dir(path))
            directory(path);
        else if (util::path_exists(path))
            m_tree[path] = Entry{};
    }

    const Recording& m_rec;
    bool m_blank;
    Tree m_tree;
    std::set<std::string> m_endless;
    const std::vector<std::string>* m_names = nullptr;
};

bool has_arg(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == wanted) return true;
    return false;
}

using ArchiveBytes = bool (*)(const Tree* tree, std::string* out, std::string* error);

// Empty on success, else why not. Written as the report is: an earlier file at `path` stays
// whole when anything fails, and a device or a pipe named there is written, never removed.
std::string write_archive(const Tree& tree, const char* path) {
    std::string error;
    auto bytes_of = reinterpret_cast<ArchiveBytes>(
        module_loader::function("quarvel-capture.so", "quarvel_archive_bytes", &error));
    if (!bytes_of) return error;
    std::string bytes;
    if (!bytes_of(&tree, &bytes, &error)) return error.empty() ? std::string("?") : error;
    if (!util::replace_file(path, bytes, entry::output_file_mode())) return entry::reason(errno);
    return {};
}

} // namespace

const char* archive_path(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--capture" && argv[i + 1][0] != '-' && argv[i + 1][0])
            return argv[i + 1];
    return nullptr;
}

Recording record(const std::function<void()>& work) {
    Recording rec;
    g_recording = &rec;
    util::set_access_observer(observe);
    host::record_facts(&rec.facts);
    struct Stop {
        ~Stop() {
            host::record_facts(nullptr);
            util::set_access_observer(nullptr);
            g_recording = nullptr;
        }
    } stop;
    work();
    return rec;
}

Tree gather(const Recording& rec, bool blank) {
    return Gatherer(rec, blank).run();
}

int run_capture_mode(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    SettingsStore& settings = SettingsStore::instance();
    settings.load();
    I18n::instance().set_language(settings.get().language);
    util::set_number_format(tr("num.decimal"), tr("num.group"));

    const char* path = archive_path(argc, argv);
    if (!path) {
        std::fprintf(stderr, "%s\n", tr("cli.capture_usage"));
        return 2;
    }
    bool blank_files = !has_arg(argc, argv, "--no-redact");

    // Exactly what --report does (without the toolkit: what it adds about the display
    // session comes from no file), so the capture holds what the report reads.
    std::unique_ptr<hw::Node> root;
    Recording rec = record([&] {
        root = hw::collect_all();
        hw::Ids::instance(); // the databases, should no collector have asked for a name
    });
    rec.facts.pci_ids = hw::Ids::instance().pci_ids_path();
    rec.facts.usb_ids = hw::Ids::instance().usb_ids_path();

    Tree tree = gather(rec, blank_files);
    if (blank_files) hide_identities(tree, rec.facts, host::user_name());
    tree[host::facts_path] = Entry{Entry::Kind::file, host::format_facts(rec.facts), {}, false};
    if (blank_files) hide_mac_names(tree);
    // The report the capture was taken with, for whoever replays it to compare with; it
    // hides what the blanked files hide.
    report::Options options;
    options.redact = blank_files;
    tree[report_path] = Entry{Entry::Kind::file, report::to_text(*root, options), {}, false};

    std::string error = write_archive(tree, path);
    if (!error.empty()) {
        entry::say(stderr, I18n::trf("cli.capture_failed", path, error.c_str()));
        return 1;
    }
    entry::say(stdout, I18n::trf("cli.capture_written", path));
    return 0;
}

} // namespace capture

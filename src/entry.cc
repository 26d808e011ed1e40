#include "entry.h"

#include "capture.h"
#include "host.h"
#include "hw/hardware.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "report.h"
#include "settings.h"
#include "util.h"
#include "window_module.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace entry {

namespace {

enum class Mode { window, report, root_collect, version, help, capture };

Mode find_mode(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--capture") return Mode::capture;
        if (a == "--root-collect") return Mode::root_collect;
        if (a == "--report" || a == "-r") return Mode::report;
        if (a == "--version" || a == "-v") return Mode::version;
        if (a == "--help" || a == "-h") return Mode::help;
    }
    return Mode::window;
}

// ---- What the report is written as: --json, --redact ----------------------------------------

bool has_arg(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == wanted) return true;
    return false;
}

// These may stand between "--report" and its file: "--report --json out.json".
bool is_report_format(const std::string& a) {
    return a == "--json" || a == "--redact";
}

void print_help_formats() {
    std::printf("\n");
    const std::pair<const char*, const char*> lines[] = {
        {"--json", "cli.help_json"},
        {"--redact", "cli.help_redact"},
        {"--capture FILE.tar.xz", "cli.help_capture"},
        {"--no-redact", "cli.help_no_redact"},
    };
    for (const auto& [option, key] : lines)
        std::printf("  %-23s %s\n", option, tr(key));
}

// ---------------------------------------------------------------------------------------------

// The first "--report"/"-r" followed by an argument that does not begin with "-".
const char* output_path(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        std::string a = argv[i];
        if (a != "--report" && a != "-r") continue;
        int next = i + 1;
        while (next + 1 < argc && is_report_format(argv[next]))
            ++next;
        if (argv[next][0] != '-') return argv[next];
    }
    return nullptr;
}

int print_help() {
    std::printf("Quarvel %s — %s\n\n"
                "  (ohne Argument)      Fenster oeffnen\n"
                "  --report [DATEI]     kompletten Bericht ausgeben oder speichern\n"
                "  --version            Version ausgeben\n"
                "  --help               diese Hilfe\n",
                version, tr("about.comment"));
    print_help_formats();
    return 0;
}

// The elevated copy runs in root's environment, not the user's: it prints numbers with the
// C conventions, and the window puts its own separators in after parsing. It reads no
// settings and writes nothing but the exchange text.
int run_root_collect() {
    std::setlocale(LC_NUMERIC, "C");
    util::set_number_format(".", "");
    auto& data = hw::RootData::instance();
    data.collect_as_root();
    std::string text = data.serialize();
    bool written =
        std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    return data.available && written ? 0 : 1;
}

} // namespace

int run_report_mode(int argc, char** argv) {
    if (host::display_available()) window_module::init_toolkit(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    // The report speaks the language chosen in the window. Only read here: report mode never
    // writes the settings.
    SettingsStore& settings = SettingsStore::instance();
    settings.load();
    I18n::instance().set_language(settings.get().language);
    util::set_number_format(tr("num.decimal"), tr("num.group"));

    auto root = hw::collect_all();
    report::Options options;
    options.redact = has_arg(argc, argv, "--redact");
    std::string text = has_arg(argc, argv, "--json") ? report::to_json(*root, options)
                                                     : report::to_text(*root, options);
    root.reset();

    if (const char* path = output_path(argc, argv)) {
        if (!util::replace_file(path, text)) {
            std::fprintf(stderr, "Konnte %s nicht schreiben\n", path);
            return 1;
        }
        std::printf("Bericht geschrieben: %s\n", path);
        return 0;
    }
    if (!util::write_all(STDOUT_FILENO, text)) {
        std::fprintf(stderr, "Konnte %s nicht schreiben\n", "stdout");
        return 1;
    }
    return 0;
}

int run(int argc, char** argv) {
    switch (find_mode(argc, argv)) {
    case Mode::report:
        return run_report_mode(argc, argv);
    case Mode::root_collect:
        return run_root_collect();
    case Mode::version:
        std::printf("Quarvel %s\n", version);
        return 0;
    case Mode::help:
        return print_help();
    case Mode::capture:
        return capture::run_capture_mode(argc, argv);
    case Mode::window:
        break;
    }
    return window_module::run_window(argc, argv);
}

} // namespace entry

#include "entry.h"

#include "capture.h"
#include "host.h"
#include "hw/hardware.h"
#include "hw/root_data.h"
#include "i18n.h"
#include "module_loader.h"
#include "reader_watch.h"
#include "report.h"
#include "settings.h"
#include "util.h"
#include "window_module.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libintl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace entry {

namespace {

enum class Mode { window, report, root_collect, version, help, capture, display_session };

// The mode an argument asks for, if it asks for one.
std::optional<Mode> mode_of(const std::string& a) {
    if (a == "--capture") return Mode::capture;
    if (a == "--root-collect") return Mode::root_collect;
    if (a == window_module::display_session_option) return Mode::display_session;
    if (a == "--report" || a == "-r") return Mode::report;
    if (a == "--version" || a == "-v") return Mode::version;
    if (a == "--help" || a == "-h") return Mode::help;
    return std::nullopt;
}

Mode find_mode(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (const auto mode = mode_of(argv[i])) return *mode;
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

// What the report and the capture understand, and what the toolkit takes for the display
// session a report describes ("--display :1", "--gdk-debug=…").
bool is_known_option(const std::string& a) {
    static const char* const toolkit_options[] = {"--display", "--class", "--name",
                                                  "--g-fatal-warnings"};
    static const char* const toolkit_prefixes[] = {"--display=", "--class=", "--name=", "--gdk-",
                                                   "--gtk-"};
    if (a == "-" || mode_of(a) || is_report_format(a) || a == "--no-redact") return true;
    for (const char* o : toolkit_options)
        if (a == o) return true;
    for (const char* p : toolkit_prefixes)
        if (util::starts_with(a, p)) return true;
    return false;
}

// A report is written to be shared: "--reduct" or "--jsn" must not give one other than asked
// for. The window ignores what it does not know; these modes refuse it.
const char* unknown_option(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-' && !is_known_option(argv[i])) return argv[i];
    return nullptr;
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

// "--help > /dev/full" must not end as if the text had been shown.
int flush_stdout() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    say(stderr, I18n::trf("cli.write_failed", "stdout", reason(errno).c_str()));
    return 1;
}

// "--report /dev/stdout | jq": the line naming the file would end up in the report itself.
bool is_standard_output(const char* path) {
    struct stat out {
    }, file{};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path, &file) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

int print_help() {
    // One line per option: its syntax (translated words in it) and what it does.
    const std::pair<std::string, const char*> options[] = {
        {tr("cli.arg_none"), "cli.help_window"},
        {std::string("--report [") + tr("cli.arg_file") + "]", "cli.help_report"},
        {"--version", "cli.help_version"},
        {"--help", "cli.help_help"},
        {"--json", "cli.help_json"},
        {"--redact", "cli.help_redact"},
        {std::string("--capture ") + tr("cli.arg_file") + ".tar.xz", "cli.help_capture"},
        {"--no-redact", "cli.help_no_redact"},
    };
    size_t column = 21;
    for (const auto& [syntax, key] : options)
        column = std::max(column, util::display_width(syntax) + 2);
    std::string text = std::string("Quarvel ") + version + " — " + tr("about.comment") + "\n\n";
    for (const auto& [syntax, key] : options)
        text +=
            "  " + syntax + std::string(column - util::display_width(syntax), ' ') + tr(key) + "\n";
    std::fputs(text.c_str(), stdout);
    return flush_stdout();
}

// The elevated copy runs in root's environment, not the user's: it prints numbers with the
// C conventions, and the window puts its own separators in after parsing. It reads no
// settings and writes nothing but the exchange text.
int run_root_collect() {
    // Some root-only reads can take long (a drive slow to answer); the window's Cancel must
    // not leave this copy reading on as root for nobody.
    reader_watch::end_when_unread(STDOUT_FILENO, 1);
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

// The reason of a failure (strerror) in the user's language, and in UTF-8 like every other text
// of the program (not transliterated to the C locale's ASCII). The locale's messages are taken
// up on the first failure shown: a run that fails nowhere never loads them.
std::string reason(int err) {
    static const bool ready = [] {
        std::setlocale(LC_MESSAGES, "");
        bind_textdomain_codeset("libc", "UTF-8");
        return true;
    }();
    (void)ready;
    return std::strerror(err);
}

int run_report_mode(int argc, char** argv) {
    // In a child process with a deadline: a display that accepts and never answers must not
    // hold the report up. It runs while the rest of the machine is read.
    if (host::display_available()) window_module::start_display_session_probe(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    // The report speaks the language chosen in the window. Only read here: report mode never
    // writes the settings.
    SettingsStore& settings = SettingsStore::instance();
    settings.load();
    I18n::instance().set_language(settings.get().language);
    util::set_number_format(tr("num.decimal"), tr("num.group"));

    auto root = hw::collect_all();
    window_module::end_display_session_probe();
    report::Options options;
    options.redact = has_arg(argc, argv, "--redact");
    std::string text = has_arg(argc, argv, "--json") ? report::to_json(*root, options)
                                                     : report::to_text(*root, options);
    root.reset();

    if (const char* path = output_path(argc, argv)) {
        const bool to_stdout = is_standard_output(path);
        if (!util::replace_file(path, text, output_file_mode())) {
            say(stderr, I18n::trf("cli.write_failed", path, reason(errno).c_str()));
            return 1;
        }
        if (!to_stdout) say(stdout, I18n::trf("cli.report_written", path));
        return 0;
    }
    if (!util::write_all(STDOUT_FILENO, text)) {
        say(stderr, I18n::trf("cli.write_failed", "stdout", reason(errno).c_str()));
        return 1;
    }
    return 0;
}

namespace {

// Once the report is written the process ends without taking apart what it holds (the
// identifier tables, the settings, the catalogs): that took a fifth of a millisecond, a few
// per cent of a report, for memory the process gives back whole anyway. Under the address
// sanitizer it ends the usual way, so that the leak check at exit still runs.
[[noreturn]] void end_after_report(int status) {
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    std::exit(status);
#else
    ::_exit(status);
#endif
}

} // namespace

void say(std::FILE* to, const std::string& text) {
    std::fprintf(to, "%s\n", util::clean_text(text).c_str());
}

unsigned output_file_mode() {
    return ::geteuid() == 0 ? 0600 : 0666;
}

int run(int argc, char** argv) {
    Mode mode = find_mode(argc, argv);
    // A sysroot that cannot be read would give an empty machine that looks real.
    if (mode != Mode::version && mode != Mode::help)
        if (int err = util::sysroot_error()) {
            say(stderr, I18n::trf("cli.bad_sysroot", util::sysroot().c_str(), reason(err).c_str()));
            return 1;
        }
    if (mode == Mode::report || mode == Mode::capture)
        if (const char* unknown = unknown_option(argc, argv)) {
            say(stderr, I18n::trf("cli.unknown_option", unknown));
            return 2;
        }
    // The modes that load a module run in the full program.
    if (!module_loader::loadable() &&
        (mode == Mode::window || mode == Mode::capture || mode == Mode::display_session)) {
        std::string error = module_loader::hand_over(argv);
        if (mode == Mode::window)
            say(stderr, I18n::trf("cli.no_window", error.c_str()));
        else if (const char* path = capture::archive_path(argc, argv); mode == Mode::capture)
            say(stderr, I18n::trf("cli.capture_failed", path ? path : "", error.c_str()));
        return 1;
    }
    switch (mode) {
    case Mode::display_session:
        return window_module::print_display_session(argc, argv, ::dup(STDOUT_FILENO));
    case Mode::report:
        end_after_report(run_report_mode(argc, argv));
    case Mode::root_collect:
        return run_root_collect();
    case Mode::version:
        std::printf("Quarvel %s\n", version);
        return flush_stdout();
    case Mode::help:
        return print_help();
    case Mode::capture:
        return capture::run_capture_mode(argc, argv);
    case Mode::window:
        break;
    }
    reason(0); // the window shows reasons of failures too
    return window_module::run_window(argc, argv);
}

} // namespace entry

// Reading the protected facts with administrator rights: the window runs its own program with
// --root-collect through pkexec or sudo and parses what that copy prints.
#include "gui/elevation.h"

#include "gui/app.h"
#include "i18n.h"
#include "util.h"

namespace elevation {

namespace {

// Error output as one line of text the status line can show: whatever bytes it holds.
std::string one_line(const std::string& text) {
    std::string out;
    for (const std::string& word : util::split_ws(util::printable(text))) {
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

bool helper_ran(const std::string& out) {
    return util::starts_with(out, "V ");
}

} // namespace

const std::vector<Tool>& tools() {
    static const std::vector<Tool> list = {{"pkexec", nullptr}, {"sudo", "-n"}};
    return list;
}

Verdict judge(const std::string& program, const Run& run) {
    Verdict v;
    if (!run.spawned) return v;
    if (helper_ran(run.out)) {
        // A copy that was stopped halfway may have printed part of the record.
        if (v.data.parse(run.out) && run.exited && run.status == 0) {
            v.outcome = Outcome::elevated;
            return v;
        }
        v.outcome = Outcome::failed;
        v.detail = one_line(v.data.error.empty() ? run.err : v.data.error);
        return v;
    }
    if (program == "pkexec" && run.exited && (run.status == 126 || run.status == 127)) {
        v.outcome = run.status == 126 ? Outcome::cancelled : Outcome::failed;
        if (run.status == 127) v.detail = one_line(run.err);
        return v;
    }
    v.detail = one_line(run.err);
    if (!v.detail.empty()) v.outcome = Outcome::failed;
    return v;
}

Verdict read_captured() {
    Verdict v;
    v.data.collect_as_root();
    v.outcome = v.data.available ? Outcome::elevated : Outcome::failed;
    v.detail = v.data.error;
    return v;
}

std::string status_text(const Verdict& v) {
    switch (v.outcome) {
    case Outcome::elevated:
        return tr("status.elevated");
    case Outcome::cancelled:
        return tr("status.elevate_cancelled");
    case Outcome::failed:
    case Outcome::next_tool:
        break;
    }
    std::string text = tr("status.elevate_failed");
    if (!v.detail.empty()) text += ": " + v.detail;
    return text;
}

} // namespace elevation

namespace {

struct Pending {
    GMainLoop* loop = nullptr;
    GBytes* out = nullptr;
    GBytes* err = nullptr;
};

std::string text_of(GBytes* bytes) {
    if (!bytes) return {};
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    return std::string(data ? data : "", size);
}

// Runs `argv` to its end, or until `window` is destroyed. The main loop keeps turning
// meanwhile, so the window still draws (the status line says what is happening) while the user
// answers the password dialog. Once the window is gone nobody waits for the answer: the tool
// is ended (pkexec's dialog closes with it) instead of keeping a process without a window
// alive for as long as the dialog stays open or the tool hangs. `run.spawned` is then false.
elevation::Run run_tool(const std::vector<std::string>& args, GtkWidget* window) {
    elevation::Run run;
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GSubprocess* child = g_subprocess_newv(
        argv.data(),
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE), nullptr);
    if (!child) return run;
    GCancellable* closed = g_cancellable_new();
    const gulong watch =
        g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_cancellable_cancel), closed);
    Pending pending;
    pending.loop = g_main_loop_new(nullptr, FALSE);
    g_subprocess_communicate_async(
        child, nullptr, closed,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &p->out, &p->err,
                                            nullptr);
            g_main_loop_quit(p->loop);
        },
        &pending);
    g_main_loop_run(pending.loop);
    g_main_loop_unref(pending.loop);
    if (g_cancellable_is_cancelled(closed)) {
        // An elevated copy already running as root cannot be signalled; it ends by itself.
        g_subprocess_force_exit(child);
    } else {
        g_signal_handler_disconnect(window, watch);
        run.spawned = true;
        run.out = text_of(pending.out);
        run.err = text_of(pending.err);
        run.exited = g_subprocess_get_if_exited(child);
        if (run.exited) run.status = g_subprocess_get_exit_status(child);
    }
    if (pending.out) g_bytes_unref(pending.out);
    if (pending.err) g_bytes_unref(pending.err);
    g_object_unref(closed);
    g_object_unref(child);
    return run;
}

} // namespace

void App::action_elevate() {
    if (m_elevating || !m_window) return;
    elevation::Verdict verdict;
    bool found = true;
    if (util::over_sysroot()) {
        verdict = elevation::read_captured();
    } else {
        // The program's own file, not a name on the search path the elevated copy might
        // resolve differently.
        gchar* self = g_file_read_link("/proc/self/exe", nullptr);
        if (!self) {
            set_status(tr("status.elevate_failed"));
            return;
        }
        const std::string program = self;
        g_free(self);

        set_status(tr("status.elevating"));
        // Input waits while the tool asks: a second elevation or a refresh meanwhile would act
        // on a tree that is about to be replaced.
        m_elevating = true;
        GtkWidget* grab = m_status;
        g_object_ref(grab);
        gtk_grab_add(grab);
        found = false;
        for (const elevation::Tool& tool : elevation::tools()) {
            gchar* path = g_find_program_in_path(tool.program);
            if (!path) continue;
            found = true;
            std::vector<std::string> args = {path};
            g_free(path);
            if (tool.option) args.push_back(tool.option);
            args.push_back(program);
            args.push_back("--root-collect");
            verdict = elevation::judge(tool.program, run_tool(args, m_window));
            if (verdict.outcome != elevation::Outcome::next_tool || !m_window) break;
        }
        gtk_grab_remove(grab);
        g_object_unref(grab);
        m_elevating = false;
        if (!m_window) return; // closed while the tool asked
    }

    if (verdict.outcome == elevation::Outcome::elevated) {
        hw::RootData::instance() = std::move(verdict.data);
        refresh();
    }
    set_status(found ? elevation::status_text(verdict) : tr("status.elevate_unavailable"));
    block_queued_clicks();
}

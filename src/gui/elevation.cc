// Reading the protected facts with administrator rights: the window runs its own program with
// --root-collect through pkexec or sudo and parses what that copy prints.
#include "gui/elevation.h"

#include "gui/app.h"
#include "i18n.h"
#include "util.h"

#include <cstring>

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

std::string signal_text(int sig) {
    const char* abbrev = ::sigabbrev_np(sig);
    const std::string name = abbrev ? std::string("SIG") + abbrev : "?";
    return I18n::trf("status.elevate_signal", sig, name.c_str());
}

} // namespace

const std::vector<Tool>& tools() {
    static const std::vector<Tool> list = {{"pkexec", nullptr}, {"sudo", "-n"}};
    return list;
}

Verdict judge(const std::string& program, const Run& run) {
    Verdict v;
    if (!run.spawned) return v;
    if (run.stopped) {
        v.outcome = Outcome::cancelled;
        return v;
    }
    v.outcome = Outcome::failed;
    if (run.overflow) {
        v.detail = tr("status.elevate_unreadable");
        return v;
    }
    if (helper_ran(run.out)) {
        // A copy that was stopped halfway may have printed part of the record.
        if (v.data.parse(run.out) && run.exited && run.status == 0) {
            v.outcome = Outcome::elevated;
            return v;
        }
        v.detail = run.signal              ? signal_text(run.signal)
                   : !v.data.error.empty() ? one_line(v.data.error)
                                           : one_line(run.err);
        return v;
    }
    // The tool itself, or the copy before it said a word, was killed: no other tool would
    // fare better, and the user learns why nothing came.
    if (run.signal) {
        v.detail = signal_text(run.signal);
        return v;
    }
    if (program == "pkexec" && run.exited && (run.status == 126 || run.status == 127)) {
        if (run.status == 126) v.outcome = Outcome::cancelled;
        if (run.status == 127) v.detail = one_line(run.err);
        return v;
    }
    v.detail = one_line(run.err);
    if (v.detail.empty()) {
        v.outcome = Outcome::next_tool;
        // Success without an answer (nothing, or not the exchange text): another tool may
        // still be tried, but if none answers the user learns what the last one did.
        if (run.exited && run.status == 0) v.detail = tr("status.elevate_unreadable");
    }
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

// One run of a tool: its two output streams read to their end, and its exit awaited, until
// all three are done or `stop` fires (the user, the window closing, an answer too long).
struct Reading {
    GMainLoop* loop = nullptr;
    GCancellable* stop = nullptr;
    int pending = 0; // operations that have yet to call back
    bool waited = false;
    bool overflow = false;
};

struct StreamRead {
    Reading* reading;
    GInputStream* stream;
    std::string* into;
};

void one_done(Reading* r) {
    if (--r->pending == 0) g_main_loop_quit(r->loop);
}

void read_more(StreamRead* s);

void on_read(GObject* source, GAsyncResult* result, gpointer data) {
    auto* s = static_cast<StreamRead*>(data);
    Reading* r = s->reading;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, nullptr);
    gsize size = 0;
    if (bytes) {
        auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
        if (size > 0) s->into->append(chunk, size);
        g_bytes_unref(bytes);
    }
    if (s->into->size() > elevation::max_answer) {
        r->overflow = true;
        g_cancellable_cancel(r->stop);
    }
    if (size > 0 && !g_cancellable_is_cancelled(r->stop)) {
        read_more(s);
        return;
    }
    delete s;
    one_done(r);
}

void read_more(StreamRead* s) {
    g_input_stream_read_bytes_async(s->stream, 64 * 1024, G_PRIORITY_DEFAULT, s->reading->stop,
                                    on_read, s);
}

// Runs `argv` to its end, or until `stop` fires. The main loop keeps turning meanwhile, so
// the window still draws (the status line says what is happening) while the user answers the
// password dialog. A stopped wait ends the tool (pkexec's dialog closes with it) instead of
// keeping it alive for as long as the dialog stays open or the tool hangs. Both pipes are
// closed on return; the child is reaped by the toolkit whenever it ends.
elevation::Run run_tool(const std::vector<std::string>& args, GCancellable* stop) {
    elevation::Run run;
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GSubprocess* child = g_subprocess_newv(
        argv.data(),
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE), nullptr);
    if (!child) return run;
    run.spawned = true;
    Reading reading;
    reading.loop = g_main_loop_new(nullptr, FALSE);
    reading.stop = stop;
    for (auto [stream, into] : {std::pair{g_subprocess_get_stdout_pipe(child), &run.out},
                                std::pair{g_subprocess_get_stderr_pipe(child), &run.err}}) {
        ++reading.pending;
        read_more(new StreamRead{&reading, stream, into});
    }
    ++reading.pending;
    g_subprocess_wait_async(
        child, stop,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* r = static_cast<Reading*>(data);
            r->waited = g_subprocess_wait_finish(G_SUBPROCESS(source), result, nullptr);
            one_done(r);
        },
        &reading);
    // Every operation calls back, a cancelled one too, before `reading` may go.
    g_main_loop_run(reading.loop);
    g_main_loop_unref(reading.loop);
    if (reading.waited) {
        run.exited = g_subprocess_get_if_exited(child);
        if (run.exited) run.status = g_subprocess_get_exit_status(child);
        if (g_subprocess_get_if_signaled(child)) run.signal = g_subprocess_get_term_sig(child);
    } else {
        // An elevated copy already running as root cannot be signalled; it ends by itself once
        // the pipe it answers into is closed here.
        g_subprocess_force_exit(child);
    }
    run.overflow = reading.overflow;
    run.stopped = g_cancellable_is_cancelled(stop) && !reading.overflow;
    // The toolkit keeps the child's record, pipes included, until the child ends: a copy that
    // hangs on as root would hold them as long.
    g_input_stream_close(g_subprocess_get_stdout_pipe(child), nullptr, nullptr);
    g_input_stream_close(g_subprocess_get_stderr_pipe(child), nullptr, nullptr);
    g_object_unref(child);
    return run;
}

} // namespace

void App::stop_elevation() {
    if (m_elevation_stop) g_cancellable_cancel(m_elevation_stop);
}

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
        // on a tree that is about to be replaced. Only the Cancel button (and Escape) answer:
        // a password dialog nobody answers or a tool that hangs must not hold the window.
        m_elevating = true;
        m_elevation_stop = g_cancellable_new();
        const gulong watch = g_signal_connect_swapped(
            m_window, "destroy", G_CALLBACK(g_cancellable_cancel), m_elevation_stop);
        GtkWidget* grab = m_elevate_cancel;
        g_object_ref(grab);
        gtk_widget_show(grab);
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
            verdict = elevation::judge(tool.program, run_tool(args, m_elevation_stop));
            if (verdict.outcome != elevation::Outcome::next_tool || !m_window) break;
        }
        gtk_grab_remove(grab);
        if (m_window) {
            gtk_widget_hide(grab);
            g_signal_handler_disconnect(m_window, watch);
        }
        g_object_unref(grab);
        g_clear_object(&m_elevation_stop);
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

#include "gui/procview.h"

#include "gui/draw_util.h"
#include "gui/widget_util.h"
#include "host.h"
#include "i18n.h"
#include "util.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

// ---- The cell renderer with a load bar behind its text --------------------------------------

G_BEGIN_DECLS
G_DECLARE_FINAL_TYPE(BarRenderer, bar_renderer, BAR, RENDERER, GtkCellRendererText)
G_END_DECLS

struct _BarRenderer {
    GtkCellRendererText parent_instance;
    double fraction;
};

G_DEFINE_TYPE(BarRenderer, bar_renderer, GTK_TYPE_CELL_RENDERER_TEXT)

namespace {

enum { PROP_0, PROP_FRACTION };

enum StoreColumn {
    COL_PID,
    COL_USER,
    COL_CPU,
    COL_RSS,
    COL_COMMAND,
    COL_NAME,
    COL_KERNEL,
    N_COLUMNS
};

} // namespace

static void bar_renderer_set_property(GObject* object, guint id, const GValue* value,
                                      GParamSpec* spec) {
    if (id == PROP_FRACTION)
        BAR_RENDERER(object)->fraction = g_value_get_double(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

static void bar_renderer_get_property(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    if (id == PROP_FRACTION)
        g_value_set_double(value, BAR_RENDERER(object)->fraction);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

static void bar_renderer_render(GtkCellRenderer* cell, cairo_t* cr, GtkWidget* widget,
                                const GdkRectangle* background, const GdkRectangle* area,
                                GtkCellRendererState flags) {
    procview::draw_bar(cr, *area, BAR_RENDERER(cell)->fraction,
                       (flags & GTK_CELL_RENDERER_SELECTED) != 0,
                       gtk_widget_get_direction(widget) == GTK_TEXT_DIR_RTL);
    GTK_CELL_RENDERER_CLASS(bar_renderer_parent_class)
        ->render(cell, cr, widget, background, area, flags);
}

static void bar_renderer_class_init(BarRendererClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    object_class->set_property = bar_renderer_set_property;
    object_class->get_property = bar_renderer_get_property;
    GTK_CELL_RENDERER_CLASS(klass)->render = bar_renderer_render;
    // Several busy threads take a process beyond one CPU, so the share may exceed 1.
    g_object_class_install_property(object_class, PROP_FRACTION,
                                    g_param_spec_double("fraction", "Fraction",
                                                        "Share of the bar filled", 0, G_MAXDOUBLE,
                                                        0, G_PARAM_READWRITE));
}

static void bar_renderer_init(BarRenderer* self) {
    self->fraction = 0;
}

namespace procview {

void draw_bar(cairo_t* cr, const GdkRectangle& cell, double fraction, bool selected, bool rtl) {
    if (!(fraction > 0.004)) return;
    const double h = std::max(cell.height - 8.0, 4.0);
    const double w = std::max((cell.width - 4.0) * std::min(fraction, 1.0), 3.0);
    // The bar grows from where the line starts, the right edge in a right-to-left language.
    const double x = rtl ? cell.x + cell.width - 2.0 - w : cell.x + 2.0;
    const double y = cell.y + (cell.height - h) / 2.0;
    cairo_save(cr);
    draw::rounded_rect(cr, x, y, w, h, std::min(3.0, h / 2.0));
    draw::set_rgb(cr, load_color(fraction * 100.0), selected ? 0.3 : 0.42);
    cairo_fill(cr);
    cairo_restore(cr);
}

} // namespace procview

// ---- The view --------------------------------------------------------------------------------

namespace {

// The account database may sit on a network service, and a uid keeps its name while the
// program runs. Over a captured tree this host's names would be wrong: the uid stands.
std::string account_name(unsigned uid) {
    static std::unordered_map<unsigned, std::string> cache;
    if (auto it = cache.find(uid); it != cache.end()) return it->second;
    std::string name;
    if (!util::over_sysroot()) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_name)
            name = util::printable(found->pw_name);
    }
    if (name.empty()) name = std::to_string(uid);
    cache.emplace(uid, name);
    return name;
}

// Process descriptors keep naming the process they were opened for, even after its PID has
// been handed to another one. Kernels before 5.3 lack them.
int open_pidfd(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int pidfd_signal(int pidfd, int sig) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
    (void)pidfd, (void)sig;
    errno = ENOSYS;
    return -1;
#endif
}

void set_accessible_name(GtkWidget* w, const char* name) {
    if (AtkObject* a = gtk_widget_get_accessible(w)) atk_object_set_name(a, name);
}

// Gives the button its words, cut short with "…" where the bar has no room for them whole. The
// window is never narrower than the bar asks: with a long translation or large text that was
// more than a small screen holds, and the window ran past the screen's edge, this very button
// with it.
void set_shrinking_label(GtkWidget* button, const char* text) {
    gtk_button_set_label(GTK_BUTTON(button), text); // a new label each time
    widgets::shorten_words_when_narrow(button);
    set_accessible_name(button, text);
}

// A question or error box names itself "Question" or "Error" to screen readers, in the
// toolkit's language rather than the one the user chose, and has no title of its own.
void name_message_dialog(GtkWidget* dialog) {
    gtk_window_set_title(GTK_WINDOW(dialog), tr("tools.end_process"));
    set_accessible_name(dialog, tr("tools.end_process"));
}

// The width a column's bold title needs with its padding and sort arrow. The widths given are
// for the usual font: a larger one, or a longer translation, would cut the title off.
int header_width(GtkTreeView* view, const char* title) {
    PangoLayout* layout = gtk_widget_create_pango_layout(GTK_WIDGET(view), title);
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    pango_layout_set_attributes(layout, bold);
    pango_attr_list_unref(bold);
    int text = 0;
    pango_layout_get_pixel_size(layout, &text, nullptr);
    g_object_unref(layout);
    return text + 40; // 8 + 8 padding, a 16-pixel arrow and a gap
}

void set_title(GtkTreeView* view, GtkTreeViewColumn* col, const char* title) {
    gtk_tree_view_column_set_title(col, title);
    const int base = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(col), "base-width"));
    gtk_tree_view_column_set_fixed_width(col, std::max(base, header_width(view, title)));
}

GtkTreeViewColumn* add_column(GtkTreeView* view, const char* title, GtkCellRenderer* cell,
                              int sort_column, int width, bool right, bool expand) {
    g_object_set(cell, "ellipsize", PANGO_ELLIPSIZE_END, "xalign", right ? 1.0 : 0.0, nullptr);
    GtkTreeViewColumn* col = gtk_tree_view_column_new();
    gtk_tree_view_column_pack_start(col, cell, TRUE);
    gtk_tree_view_column_set_sizing(col, GTK_TREE_VIEW_COLUMN_FIXED);
    g_object_set_data(G_OBJECT(col), "base-width", GINT_TO_POINTER(width));
    set_title(view, col, title);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_expand(col, expand);
    // The view sorts its rows itself (see sort_rows); the header only says by what.
    gtk_tree_view_column_set_clickable(col, TRUE);
    g_object_set_data(G_OBJECT(col), "sort-column", GINT_TO_POINTER(sort_column));
    if (right) gtk_tree_view_column_set_alignment(col, 1.0);
    gtk_tree_view_append_column(view, col);
    return col;
}

void cpu_cell(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* model, GtkTreeIter* it,
              gpointer) {
    double cpu = 0;
    gtk_tree_model_get(model, it, COL_CPU, &cpu, -1);
    g_object_set(cell, "text", util::fmt_double(cpu, 1).c_str(), "fraction",
                 std::max(cpu / 100.0, 0.0), nullptr);
}

void memory_cell(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* model, GtkTreeIter* it,
                 gpointer total) {
    guint64 rss = 0;
    gtk_tree_model_get(model, it, COL_RSS, &rss, -1);
    const uint64_t all = *static_cast<const uint64_t*>(total);
    g_object_set(cell, "text", util::fmt_bytes(rss).c_str(), "fraction",
                 all ? static_cast<double>(rss) / static_cast<double>(all) : 0.0, nullptr);
}

void command_cell(GtkTreeViewColumn*, GtkCellRenderer* cell, GtkTreeModel* model, GtkTreeIter* it,
                  gpointer palette) {
    gchar* cmd = nullptr;
    gboolean kernel = FALSE;
    gtk_tree_model_get(model, it, COL_COMMAND, &cmd, COL_KERNEL, &kernel, -1);
    // Kernel threads have no command line; their bracketed names step back. Known by the
    // kernel's flag: a program that calls itself "[kworker/0:1]" must not step back with them.
    g_object_set(cell, "text", cmd ? cmd : "", "style",
                 kernel ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL, "foreground",
                 kernel ? static_cast<const Palette*>(palette)->dim.c_str() : nullptr,
                 "foreground-set", kernel, nullptr);
    g_free(cmd);
}

} // namespace

ProcessView::ProcessView() : m_source(procs::live_source()), m_user_name(account_name) {
    // Over a captured tree the uid of this host means nothing there: nothing is "mine".
    m_uid = host::effective_uid().value_or(UINT_MAX);
    const long ticks = sysconf(_SC_CLK_TCK);
    m_clk_tck = ticks > 0 ? ticks : 100;
    m_page_size = host::page_size().value_or(0);
}

ProcessView::~ProcessView() {
    stop();
    if (m_filter) g_object_unref(m_filter);
    if (m_store) g_object_unref(m_store);
}

GtkWidget* ProcessView::build(const Palette& palette) {
    m_palette = palette;
    m_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_signal_connect(m_box, "destroy", G_CALLBACK(on_box_destroy), this);

    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_margin_start(bar, 8);
    gtk_widget_set_margin_end(bar, 8);
    gtk_widget_set_margin_top(bar, 8);
    gtk_widget_set_margin_bottom(bar, 4);
    m_filter_entry = gtk_search_entry_new();
    // It fills what the bar has to spare; its usual least width of 150 pixels also held the
    // window wider than a small screen.
    gtk_entry_set_width_chars(GTK_ENTRY(m_filter_entry), 8);
    gtk_widget_set_hexpand(m_filter_entry, TRUE);
    g_signal_connect(m_filter_entry, "search-changed", G_CALLBACK(on_search_changed), this);
    g_signal_connect(m_filter_entry, "stop-search", G_CALLBACK(on_stop_search), this);
    gtk_box_pack_start(GTK_BOX(bar), m_filter_entry, TRUE, TRUE, 0);
    m_only_mine = gtk_check_button_new_with_label("");
    g_signal_connect(m_only_mine, "toggled", G_CALLBACK(on_only_mine), this);
    gtk_box_pack_start(GTK_BOX(bar), m_only_mine, FALSE, FALSE, 0);
    m_kill_button = gtk_button_new_with_label("");
    gtk_widget_set_sensitive(m_kill_button, FALSE);
    g_signal_connect_swapped(
        m_kill_button, "clicked",
        G_CALLBACK(+[](gpointer self) { static_cast<ProcessView*>(self)->kill_selected(); }), this);
    gtk_box_pack_start(GTK_BOX(bar), m_kill_button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(m_box), bar, FALSE, FALSE, 0);

    m_store = gtk_list_store_new(N_COLUMNS, G_TYPE_INT, G_TYPE_STRING, G_TYPE_DOUBLE, G_TYPE_UINT64,
                                 G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
    m_filter = gtk_tree_model_filter_new(GTK_TREE_MODEL(m_store), nullptr);
    gtk_tree_model_filter_set_visible_func(GTK_TREE_MODEL_FILTER(m_filter), row_visible, this,
                                           nullptr);
    m_view = gtk_tree_view_new_with_model(m_filter);
    GtkTreeView* view = GTK_TREE_VIEW(m_view);
    gtk_tree_view_set_fixed_height_mode(view, TRUE);
    gtk_tree_view_set_enable_search(view, FALSE);
    g_signal_connect(m_view, "key-press-event", G_CALLBACK(on_key_press), this);
    g_signal_connect(gtk_tree_view_get_selection(view), "changed", G_CALLBACK(on_selection_changed),
                     this);

    GtkCellRenderer* pid = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* col = add_column(view, "PID", pid, COL_PID, 80, true, false);
    gtk_tree_view_column_add_attribute(col, pid, "text", COL_PID);
    GtkCellRenderer* user = gtk_cell_renderer_text_new();
    m_user_column = add_column(view, "", user, COL_USER, 120, false, false);
    gtk_tree_view_column_add_attribute(m_user_column, user, "text", COL_USER);
    GtkCellRenderer* cpu = GTK_CELL_RENDERER(g_object_new(bar_renderer_get_type(), nullptr));
    col = add_column(view, "CPU %", cpu, COL_CPU, 96, true, false);
    gtk_tree_view_column_set_cell_data_func(col, cpu, cpu_cell, nullptr, nullptr);
    GtkCellRenderer* memory = GTK_CELL_RENDERER(g_object_new(bar_renderer_get_type(), nullptr));
    m_memory_column = add_column(view, "", memory, COL_RSS, 120, true, false);
    gtk_tree_view_column_set_cell_data_func(m_memory_column, memory, memory_cell, &m_mem_total,
                                            nullptr);
    GtkCellRenderer* command = gtk_cell_renderer_text_new();
    m_command_column = add_column(view, "", command, COL_COMMAND, 160, false, true);
    gtk_tree_view_column_set_cell_data_func(m_command_column, command, command_cell, &m_palette,
                                            nullptr);
    GList* columns = gtk_tree_view_get_columns(view);
    for (GList* l = columns; l; l = l->next)
        g_signal_connect(l->data, "clicked", G_CALLBACK(on_header_clicked), this);
    g_list_free(columns);
    show_sort_indicator();

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroll), m_view);
    gtk_box_pack_start(GTK_BOX(m_box), scroll, TRUE, TRUE, 0);

    m_status = gtk_label_new("");
    gtk_widget_set_halign(m_status, GTK_ALIGN_START);
    gtk_widget_set_margin_start(m_status, 10);
    gtk_widget_set_margin_bottom(m_status, 6);
    gtk_box_pack_start(GTK_BOX(m_box), m_status, FALSE, FALSE, 0);

    retranslate();
    return m_box;
}

void ProcessView::retranslate() {
    if (!m_box) return;
    GtkTreeView* view = GTK_TREE_VIEW(gtk_tree_view_column_get_tree_view(m_user_column));
    set_title(view, m_user_column, tr("f.user"));
    set_title(view, m_memory_column, tr("monitor.memory"));
    set_title(view, m_command_column, tr("f.cmdline"));
    widgets::name_search_entry(m_filter_entry, tr("tools.filter_hint"));
    set_shrinking_label(m_only_mine, tr("tools.only_mine"));
    set_shrinking_label(m_kill_button, tr("tools.end_process"));
    set_accessible_name(m_view, tr("tools.processes"));
    update_status();
}

void ProcessView::set_palette(const Palette& palette) {
    m_palette = palette;
    if (m_view) gtk_widget_queue_draw(m_view);
}

void ProcessView::start() {
    if (m_timer) return;
    m_last_us = 0;
    try {
        sample();
    } catch (...) {
    }
    m_timer = g_timeout_add(1000, on_tick, this);
}

void ProcessView::stop() {
    if (!m_timer) return;
    g_source_remove(m_timer);
    m_timer = 0;
}

gboolean ProcessView::on_tick(gpointer self) {
    try {
        static_cast<ProcessView*>(self)->sample();
    } catch (...) {
    }
    return TRUE;
}

uint64_t ProcessView::total_memory() {
    if (!m_mem_total_read) {
        m_mem_total = procs::parse_mem_total(util::read_file_raw("/proc/meminfo"));
        m_mem_total_read = true;
    }
    return m_mem_total;
}

void ProcessView::sample() {
    if (!m_store) return;
    total_memory();
    const int64_t now = g_get_monotonic_time();
    const double dt = m_last_us ? static_cast<double>(now - m_last_us) / 1e6 : 0.0;
    m_last_us = now;
    const procs::Params params{m_clk_tck, m_page_size, m_user_name};
    const procs::Changes ch = procs::sample(m_procs, m_source, params, dt, m_pass++);

    // Rows are changed where they stand and then moved into order all at once, so the
    // selection and the scroll position stay.
    const int selected = selected_pid();
    for (int pid : ch.removed) {
        auto row = m_rows.find(pid);
        if (row == m_rows.end()) continue;
        gtk_list_store_remove(m_store, &row->second);
        m_rows.erase(row);
    }
    if (!ch.removed.empty()) std::erase_if(m_order, [this](int pid) { return !m_rows.count(pid); });
    drop_stray_selection(selected);
    for (int pid : ch.changed) {
        auto row = m_rows.find(pid);
        auto p = m_procs.find(pid);
        if (row != m_rows.end() && p != m_procs.end()) apply_row(&row->second, p->second);
    }
    for (int pid : ch.added) {
        const Proc& p = m_procs.at(pid);
        GtkTreeIter it;
        // Inserted with its values, so the filter judges the row once, complete.
        gtk_list_store_insert_with_values(m_store, &it, -1, COL_PID, p.pid, COL_USER,
                                          p.user.c_str(), COL_CPU, p.cpu, COL_RSS,
                                          static_cast<guint64>(p.rss), COL_COMMAND, p.cmd.c_str(),
                                          COL_NAME, p.name.c_str(), COL_KERNEL, p.kernel, -1);
        m_rows[pid] = it;
        m_order.push_back(pid);
    }
    sort_rows();
    update_status();
}

// The toolkit's sorted model moves each changed row on its own, and each move costs as much as
// the whole list: with thousands of processes a pass took seconds. The store is put in order
// here instead, with one reordering per pass.
void ProcessView::sort_rows() {
    if (!m_store || m_order.size() < 2) return;
    const bool text = m_sort_column == COL_USER || m_sort_column == COL_COMMAND;
    struct Entry {
        int pid;
        const Proc* p;
        const std::string* key;
    };
    std::vector<Entry> entries;
    entries.reserve(m_order.size());
    for (int pid : m_order) {
        const Proc& p = m_procs.at(pid);
        const std::string* key = nullptr;
        if (text) {
            // Collation keys are dear; one is made again only when its text changed.
            const std::string& source = m_sort_column == COL_USER ? p.user : p.cmd;
            Collated& c = m_collated[pid];
            if (c.text != source || c.key.empty()) {
                c.text = source;
                gchar* k = g_utf8_collate_key(source.c_str(), static_cast<gssize>(source.size()));
                c.key = k ? k : "";
                g_free(k);
            }
            key = &c.key;
        }
        entries.push_back({pid, &p, key});
    }
    const int column = m_sort_column;
    const bool descending = m_sort_order == GTK_SORT_DESCENDING;
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        int c = 0;
        switch (column) {
        case COL_CPU:
            c = a.p->cpu < b.p->cpu ? -1 : a.p->cpu > b.p->cpu ? 1 : 0;
            break;
        case COL_RSS:
            c = a.p->rss < b.p->rss ? -1 : a.p->rss > b.p->rss ? 1 : 0;
            break;
        case COL_USER:
        case COL_COMMAND:
            c = a.key->compare(*b.key);
            break;
        default:
            c = a.pid < b.pid ? -1 : a.pid > b.pid ? 1 : 0;
            break;
        }
        if (descending) c = -c;
        // Equal values keep one order from pass to pass instead of trading places.
        return c != 0 ? c < 0 : a.pid < b.pid;
    });

    bool moved = false;
    for (size_t i = 0; i < entries.size() && !moved; ++i)
        moved = entries[i].pid != m_order[i];
    if (!moved) return;
    std::unordered_map<int, int> old_position;
    old_position.reserve(m_order.size());
    for (size_t i = 0; i < m_order.size(); ++i)
        old_position[m_order[i]] = static_cast<int>(i);
    std::vector<int> new_order(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        new_order[i] = old_position[entries[i].pid];
        m_order[i] = entries[i].pid;
    }
    gtk_list_store_reorder(m_store, new_order.data());
    if (m_collated.size() > 2 * m_rows.size() + 64)
        std::erase_if(m_collated, [this](const auto& e) { return !m_rows.count(e.first); });
}

void ProcessView::show_sort_indicator() {
    GList* columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(m_view));
    for (GList* l = columns; l; l = l->next) {
        auto* col = GTK_TREE_VIEW_COLUMN(l->data);
        const bool current =
            GPOINTER_TO_INT(g_object_get_data(G_OBJECT(col), "sort-column")) == m_sort_column;
        gtk_tree_view_column_set_sort_indicator(col, current);
        if (current) gtk_tree_view_column_set_sort_order(col, m_sort_order);
    }
    g_list_free(columns);
}

void ProcessView::on_header_clicked(GtkTreeViewColumn* col, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    const int column = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(col), "sort-column"));
    if (column == v->m_sort_column) {
        v->m_sort_order =
            v->m_sort_order == GTK_SORT_ASCENDING ? GTK_SORT_DESCENDING : GTK_SORT_ASCENDING;
    } else {
        // The biggest consumers are what one looks for first.
        v->m_sort_column = column;
        v->m_sort_order =
            column == COL_CPU || column == COL_RSS ? GTK_SORT_DESCENDING : GTK_SORT_ASCENDING;
    }
    v->show_sort_indicator();
    v->sort_rows();
}

void ProcessView::apply_row(GtkTreeIter* it, const Proc& p) {
    gtk_list_store_set(m_store, it, COL_USER, p.user.c_str(), COL_CPU, p.cpu, COL_RSS,
                       static_cast<guint64>(p.rss), COL_COMMAND, p.cmd.c_str(), COL_NAME,
                       p.name.c_str(), -1);
}

void ProcessView::update_status() {
    if (!m_status || !m_filter) return;
    const int shown = gtk_tree_model_iter_n_children(m_filter, nullptr);
    gtk_label_set_text(GTK_LABEL(m_status),
                       I18n::trf("tools.n_processes",
                                 util::fmt_int(static_cast<uint64_t>(shown)).c_str(),
                                 util::fmt_int(m_procs.size()).c_str())
                           .c_str());
}

void ProcessView::refilter() {
    const int selected = selected_pid();
    gtk_tree_model_filter_refilter(GTK_TREE_MODEL_FILTER(m_filter));
    drop_stray_selection(selected);
    update_status();
}

void ProcessView::drop_stray_selection(int selected) {
    // When the row under the cursor goes, the list selects its neighbour: another process,
    // which the next click on "End process" would then ask to end.
    if (selected > 0 && selected_pid() != selected)
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view)));
}

gboolean ProcessView::row_visible(GtkTreeModel* model, GtkTreeIter* it, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    int pid = 0;
    gtk_tree_model_get(model, it, COL_PID, &pid, -1);
    auto p = v->m_procs.find(pid);
    if (p == v->m_procs.end()) return !v->m_mine_only && v->m_needle.empty();
    return procs::visible(p->second, v->m_needle, v->m_mine_only, v->m_uid);
}

void ProcessView::on_search_changed(GtkSearchEntry* entry, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    v->m_needle = util::fold_case(gtk_entry_get_text(GTK_ENTRY(entry)));
    v->refilter();
}

// Escape: the first empties the filter, the next goes back to the list; the entry itself only
// tells that the search should stop.
void ProcessView::on_stop_search(GtkSearchEntry* entry, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    if (*gtk_entry_get_text(GTK_ENTRY(entry)))
        gtk_entry_set_text(GTK_ENTRY(entry), "");
    else if (v->m_view)
        gtk_widget_grab_focus(v->m_view);
}

void ProcessView::on_only_mine(GtkToggleButton* button, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    v->m_mine_only = gtk_toggle_button_get_active(button);
    v->refilter();
}

void ProcessView::on_selection_changed(GtkTreeSelection*, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    // A captured tree's PIDs belong to another machine; signalling them here would hit
    // whatever runs under those numbers on this one.
    if (v->m_kill_button)
        gtk_widget_set_sensitive(v->m_kill_button, v->selected_pid() > 0 && !util::over_sysroot());
}

gboolean ProcessView::on_key_press(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Delete && event->keyval != GDK_KEY_KP_Delete) return FALSE;
    static_cast<ProcessView*>(self)->kill_selected();
    return TRUE;
}

void ProcessView::on_box_destroy(GtkWidget*, gpointer self) {
    auto* v = static_cast<ProcessView*>(self);
    v->stop();
    v->m_box = v->m_view = v->m_filter_entry = v->m_only_mine = v->m_kill_button = nullptr;
    v->m_status = nullptr;
}

int ProcessView::selected_pid() const {
    if (!m_view) return 0;
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view)), &model,
                                         &it))
        return 0;
    int pid = 0;
    gtk_tree_model_get(model, &it, COL_PID, &pid, -1);
    return pid;
}

GtkWindow* ProcessView::parent_window() const {
    GtkWidget* top = m_box ? gtk_widget_get_toplevel(m_box) : nullptr;
    return top && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

// ---- Ending a process -------------------------------------------------------------------------

void ProcessView::kill_selected() {
    const int pid = selected_pid();
    if (pid < 1 || util::over_sysroot()) return;
    auto known = m_procs.find(pid);
    if (known == m_procs.end()) return;
    // Sampling goes on under the dialogs and may drop the record; keep what the user chose.
    const procs::Identity id{pid, known->second.uid, known->second.start_time};
    end_process(id, known->second.name, known->second.cmd);
}

void ProcessView::end_process(const procs::Identity& id, const std::string& name,
                              const std::string& cmd) {
    const procs::Source live = procs::live_source();
    // The administrator may signal any process itself; asking pkexec would only fail where no
    // agent runs.
    const bool own = id.uid == m_uid || m_uid == 0;
    // Opened before the PID is checked: once the check passes, the descriptor names the
    // process the user chose, whatever becomes of the PID while the dialog is open.
    int pidfd = -1;
    bool gone = false;
    if (own && m_use_pidfd) {
        pidfd = open_pidfd(id.pid);
        gone = pidfd < 0 && errno == ESRCH;
    }
    auto still_there = [&] { return !gone && procs::read_identity(live, id.pid) == id; };
    if (!still_there()) {
        if (pidfd >= 0) close(pidfd);
        show_failure(tr("tools.already_ended"));
        return;
    }

    // The name is isolated, so that its own writing direction cannot reorder the question
    // around it (a Latin name in an Arabic sentence).
    const std::string isolated = "\u2068" + name + "\u2069";
    GtkWidget* d = gtk_message_dialog_new(
        parent_window(), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s",
        I18n::trf("tools.confirm_kill", isolated.c_str(), id.pid).c_str());
    name_message_dialog(d);
    if (!cmd.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s",
                                                 procs::shorten(cmd, 200).c_str());
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(d));
    GList* labels = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* l = labels; l; l = l->next)
        if (GTK_IS_LABEL(l->data)) {
            gtk_label_set_line_wrap(GTK_LABEL(l->data), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(l->data), PANGO_WRAP_WORD_CHAR);
            gtk_label_set_max_width_chars(GTK_LABEL(l->data), 64);
        }
    g_list_free(labels);
    gtk_dialog_add_button(GTK_DIALOG(d), tr("dialog.cancel"), GTK_RESPONSE_CANCEL);
    GtkWidget* end =
        gtk_dialog_add_button(GTK_DIALOG(d), tr("tools.end_process"), GTK_RESPONSE_ACCEPT);
    gtk_style_context_add_class(gtk_widget_get_style_context(end), "destructive-action");
    // Enter alone must not end a process.
    gtk_dialog_set_default_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    const int response = gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
    if (response != GTK_RESPONSE_ACCEPT) {
        if (pidfd >= 0) close(pidfd);
        return;
    }

    std::string failure;
    bool ended = false;
    if (!still_there()) {
        failure = tr("tools.already_ended");
    } else if (own) {
        if (m_before_signal) m_before_signal();
        ended = signal_own(id, pidfd, failure);
    } else {
        ended = signal_elevated(id, failure);
    }
    if (pidfd >= 0) close(pidfd);
    if (ended) {
        try {
            sample();
        } catch (...) {
        }
    } else {
        show_failure(failure);
    }
}

bool ProcessView::signal_own(const procs::Identity& id, int pidfd, std::string& failure) {
    const int rc = pidfd >= 0 ? pidfd_signal(pidfd, SIGTERM) : kill(id.pid, SIGTERM);
    if (rc == 0) return true;
    failure = errno == ESRCH ? tr("tools.already_ended") : g_strerror(errno);
    return false;
}

bool ProcessView::signal_elevated(const procs::Identity& id, std::string& failure) {
    std::vector<std::string> argv = procs::elevated_end_argv(id);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    GError* error = nullptr;
    int status = 0;
    gchar* err = nullptr;
    if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      &err, &status, &error)) {
        failure = error && error->message ? error->message : "";
        if (error) g_error_free(error);
        return false;
    }
    // The tool's own words say why: not authorised, no agent to ask, or the signal's error.
    const std::string said = util::printable(err ? err : "");
    g_free(err);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    failure = WIFEXITED(status) && WEXITSTATUS(status) == procs::exit_already_ended
                  ? tr("tools.already_ended")
                  : said;
    return false;
}

void ProcessView::show_failure(const std::string& detail) {
    GtkWidget* d = gtk_message_dialog_new(parent_window(), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                          GTK_BUTTONS_NONE, "%s", tr("tools.kill_failed"));
    name_message_dialog(d);
    if (!detail.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", detail.c_str());
    gtk_dialog_add_button(GTK_DIALOG(d), tr("dialog.close"), GTK_RESPONSE_CLOSE);
    gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
}

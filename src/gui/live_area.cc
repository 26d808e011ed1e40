#include "gui/live_area.h"

#include "gui/draw_util.h"
#include "i18n.h"

void set_accessible(GtkWidget* widget, const std::string& name, const std::string& text) {
    AtkObject* atk = widget ? gtk_widget_get_accessible(widget) : nullptr;
    if (!atk) return;
    const std::string description = draw::without_direction_marks(text);
    if (name != (atk_object_get_name(atk) ? atk_object_get_name(atk) : ""))
        atk_object_set_name(atk, name.c_str());
    if (description != (atk_object_get_description(atk) ? atk_object_get_description(atk) : ""))
        atk_object_set_description(atk, description.c_str());
}

void mirror_for_direction(GtkWidget* widget, cairo_t* cr, int width) {
    if (gtk_widget_get_direction(widget) == GTK_TEXT_DIR_RTL) draw::mirror(cr, width);
}

void draw_focus_ring(GtkWidget* widget, cairo_t* cr) {
    if (!gtk_widget_has_visible_focus(widget)) return;
    gtk_render_focus(gtk_widget_get_style_context(widget), cr, 1, 1,
                     gtk_widget_get_allocated_width(widget) - 2,
                     gtk_widget_get_allocated_height(widget) - 2);
}

LiveArea::~LiveArea() {
    stop();
    if (m_area) g_signal_handlers_disconnect_by_data(m_area, this);
}

GtkWidget* LiveArea::build(const Palette& p, const char* name_key, Draw draw, Sample sample,
                           Describe describe) {
    m_palette = p;
    m_name_key = name_key;
    m_draw = std::move(draw);
    m_sample = std::move(sample);
    m_describe = std::move(describe);
    m_area = gtk_drawing_area_new();
    // Focusable, so a screen reader reaches the figures by keyboard.
    gtk_widget_set_can_focus(m_area, TRUE);
    g_signal_connect(m_area, "draw", G_CALLBACK(on_draw), this);
    g_signal_connect(m_area, "destroy", G_CALLBACK(on_destroy), this);
    update_accessible();
    return m_area;
}

void LiveArea::set_palette(const Palette& p) {
    m_palette = p;
    redraw();
}

void LiveArea::start() {
    stop();
    m_timer = g_timeout_add(1000, on_tick, this);
    update_accessible();
    redraw();
}

void LiveArea::stop() {
    if (m_timer) g_source_remove(m_timer);
    m_timer = 0;
}

void LiveArea::redraw() {
    if (m_area) gtk_widget_queue_draw(m_area);
}

void LiveArea::update_accessible() {
    if (!m_area) return;
    AtkObject* a = gtk_widget_get_accessible(m_area);
    // Looked up each time, so a change of language reaches it with the next sample.
    if (std::string name = tr(m_name_key); name != m_name)
        atk_object_set_name(a, (m_name = name).c_str());
    if (std::string d = m_describe ? m_describe() : ""; d != m_description)
        atk_object_set_description(a, (m_description = d).c_str());
}

gboolean LiveArea::on_tick(gpointer self) {
    auto* live = static_cast<LiveArea*>(self);
    // A reading that fails this second may work the next; the panel keeps running.
    try {
        if (live->m_sample) live->m_sample();
    } catch (...) {
    }
    live->update_accessible();
    live->redraw();
    return G_SOURCE_CONTINUE;
}

gboolean LiveArea::on_draw(GtkWidget* widget, cairo_t* cr, gpointer self) {
    auto* live = static_cast<LiveArea*>(self);
    const int w = gtk_widget_get_allocated_width(widget);
    cairo_save(cr);
    mirror_for_direction(widget, cr, w);
    if (live->m_draw) live->m_draw(cr, w, live->m_palette);
    cairo_restore(cr);
    draw_focus_ring(widget, cr);
    return FALSE;
}

void LiveArea::on_destroy(GtkWidget*, gpointer self) {
    auto* live = static_cast<LiveArea*>(self);
    live->stop();
    live->m_area = nullptr;
}

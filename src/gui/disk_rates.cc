#include "gui/disk_rates.h"

#include "util.h"

DiskRates::~DiskRates() {
    stop();
}

void DiskRates::start() {
    if (m_timer) return;
    m_table.restart();
    sample();
    m_timer = g_timeout_add(1000, on_tick, this);
}

void DiskRates::stop() {
    if (!m_timer) return;
    g_source_remove(m_timer);
    m_timer = 0;
}

void DiskRates::sample() {
    // A failed sample costs one second of rates, never the timer.
    try {
        m_table.sample(g_get_monotonic_time(), [](const std::string& device) {
            return util::read_file_raw("/sys/block/" + device + "/stat");
        });
    } catch (...) {
    }
    if (m_redraw) gtk_widget_queue_draw(m_redraw);
    if (m_on_sample) {
        try {
            m_on_sample();
        } catch (...) {
        }
    }
}

gboolean DiskRates::on_tick(gpointer self) {
    static_cast<DiskRates*>(self)->sample();
    return G_SOURCE_CONTINUE;
}

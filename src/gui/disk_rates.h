// Samples the read and write rates of the shown disks once a second while their cards are
// visible, and asks for the cards to be redrawn after each sample.
#pragma once

#include "live/disk_rate_table.h"

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

class DiskRates {
public:
    DiskRates() = default;
    ~DiskRates();
    DiskRates(const DiskRates&) = delete;
    DiskRates& operator=(const DiskRates&) = delete;

    void set_devices(const std::vector<std::string>& names) { m_table.set_devices(names); }
    // Takes a first sample at once, then one a second until stop.
    void start();
    void stop();
    bool running() const { return m_timer != 0; }

    // Redrawn after every sample; null for none.
    void set_redraw_target(GtkWidget* widget) { m_redraw = widget; }
    // Called after every sample, once the redraw is queued.
    void set_on_sample(std::function<void()> listener) { m_on_sample = std::move(listener); }

    live::DiskIoRate rate(const std::string& device) const { return m_table.rate(device); }
    const live::DiskRateTable& table() const { return m_table; }

private:
    void sample();
    static gboolean on_tick(gpointer self);

    live::DiskRateTable m_table;
    guint m_timer = 0;
    GtkWidget* m_redraw = nullptr;
    std::function<void()> m_on_sample;
};

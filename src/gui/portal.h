// The desktop's light/dark preference, read from and followed through the desktop settings
// portal on the session bus.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <optional>

namespace portal {

// Longest the window waits for the portal. Only its first question is asked on a thread of
// its own; later ones are asked on the main thread.
constexpr int read_timeout_ms = 500;

// The "color-scheme" value in a reply of type "(v)". Portals differ in how many variant
// layers they wrap it in; anything but an unsigned 32-bit number gives nothing.
std::optional<uint32_t> color_scheme_from_reply(GVariant* reply);

// Asks the portal on `bus`; nothing when there is no portal, it answers late or oddly.
std::optional<uint32_t> read_color_scheme(GDBusConnection* bus, int timeout_ms = read_timeout_ms);

// Subscribes to the portal's "SettingChanged" signal; returns the subscription id.
guint subscribe_setting_changed(GDBusConnection* bus, GDBusSignalCallback callback,
                                gpointer user_data);

// True for a "SettingChanged" signal of the appearance namespace's "color-scheme" key.
// Parameters of any type other than "(ssv)" are not read.
bool is_color_scheme_change(GVariant* parameters);

} // namespace portal

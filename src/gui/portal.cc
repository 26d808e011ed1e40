#include "gui/portal.h"

#include <cstring>

namespace portal {

namespace {

constexpr const char* bus_name = "org.freedesktop.portal.Desktop";
constexpr const char* object_path = "/org/freedesktop/portal/desktop";
constexpr const char* interface = "org.freedesktop.portal.Settings";
constexpr const char* appearance = "org.freedesktop.appearance";
constexpr const char* color_scheme_key = "color-scheme";

} // namespace

std::optional<uint32_t> color_scheme_from_reply(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)"))) return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    while (value && g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        g_variant_unref(value);
        value = inner;
    }
    std::optional<uint32_t> out;
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
        out = g_variant_get_uint32(value);
    if (value) g_variant_unref(value);
    return out;
}

std::optional<uint32_t> read_color_scheme(GDBusConnection* bus, int timeout_ms) {
    if (!bus) return std::nullopt;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, bus_name, object_path, interface, "Read",
        g_variant_new("(ss)", appearance, color_scheme_key), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::optional<uint32_t> out = color_scheme_from_reply(reply);
    g_variant_unref(reply);
    return out;
}

guint subscribe_setting_changed(GDBusConnection* bus, GDBusSignalCallback callback,
                                gpointer user_data) {
    if (!bus) return 0;
    return g_dbus_connection_signal_subscribe(bus, bus_name, interface, "SettingChanged",
                                              object_path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                              callback, user_data, nullptr);
}

bool is_color_scheme_change(GVariant* parameters) {
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return false;
    const char* ns = nullptr;
    const char* key = nullptr;
    g_variant_get(parameters, "(&s&sv)", &ns, &key, nullptr);
    return std::strcmp(ns, appearance) == 0 && std::strcmp(key, color_scheme_key) == 0;
}

} // namespace portal

// A stand-in for the desktop settings portal on a private session bus, for the theme tests.
//
//   fake_portal MODE
//
// MODE says how "Read" of the appearance colour scheme answers: a number (sent as an
// unsigned 32-bit value in one variant layer), "nested:N" (N wrapped in two more variant
// layers) or "never" (no answer at all). Besides the portal interface it offers
// "org.quarvel.FakePortal" with SetMode(s) to change the answer and Emit(s namespace, s key, s
// signature) to send a "SettingChanged" signal, whose parameters have the type "(ssv)" when
// signature is "ssv" and
// "(ss)" otherwise.
#include <gio/gio.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* introspection = R"(
<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s" name="namespace"/>
      <arg type="s" name="key"/>
      <arg type="v" name="value"/>
    </signal>
  </interface>
  <interface name="org.quarvel.FakePortal">
    <method name="SetMode"><arg type="s" name="mode" direction="in"/></method>
    <method name="Emit">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="s" name="signature" direction="in"/>
    </method>
  </interface>
</node>)";

std::string g_mode;
GMainLoop* g_loop = nullptr;

GVariant* answer_value() {
    if (g_mode.rfind("nested:", 0) == 0) {
        guint32 v = static_cast<guint32>(std::stoul(g_mode.substr(7)));
        return g_variant_new_variant(
            g_variant_new_variant(g_variant_new_variant(g_variant_new_uint32(v))));
    }
    return g_variant_new_variant(g_variant_new_uint32(static_cast<guint32>(std::stoul(g_mode))));
}

void on_call(GDBusConnection* connection, const gchar*, const gchar* path, const gchar* iface,
             const gchar* method, GVariant* params, GDBusMethodInvocation* invocation, gpointer) {
    if (std::strcmp(iface, "org.quarvel.FakePortal") == 0) {
        if (std::strcmp(method, "SetMode") == 0) {
            const char* mode = nullptr;
            g_variant_get(params, "(&s)", &mode);
            g_mode = mode;
        } else {
            const char *ns = nullptr, *key = nullptr, *signature = nullptr;
            g_variant_get(params, "(&s&s&s)", &ns, &key, &signature);
            GVariant* signal = std::strcmp(signature, "ssv") == 0
                                   ? g_variant_new("(ssv)", ns, key, g_variant_new_uint32(1))
                                   : g_variant_new("(ss)", ns, key);
            g_dbus_connection_emit_signal(connection, nullptr, path,
                                          "org.freedesktop.portal.Settings", "SettingChanged",
                                          signal, nullptr);
            g_dbus_connection_flush_sync(connection, nullptr, nullptr);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        return;
    }
    if (g_mode == "never") {
        g_object_ref(invocation); // kept, never answered
        return;
    }
    GVariant* value = answer_value();
    g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&value, 1));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake_portal MODE\n");
        return 2;
    }
    g_mode = argv[1];
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "fake_portal: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(introspection, nullptr);
    static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {}};
    for (int i = 0; i < 2; ++i)
        g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                          info->interfaces[i], &vtable, nullptr, nullptr, nullptr);
    g_loop = g_main_loop_new(nullptr, FALSE);
    g_bus_own_name_on_connection(
        bus, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer) { g_main_loop_quit(g_loop); }, nullptr,
        nullptr);
    g_main_loop_run(g_loop);
    return 0;
}

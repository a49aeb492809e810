#include "platform/gtk/session_instance.h"

#include <cstdio>

namespace platform::gtk {

SessionInstance::SessionInstance() : app_(g_application_new(kId, G_APPLICATION_DEFAULT_FLAGS)) {
  GSimpleAction* action = g_simple_action_new(kOpenSettings, nullptr);
  g_signal_connect(action, "activate", G_CALLBACK(&SessionInstance::OnActivate), this);
  g_action_map_add_action(G_ACTION_MAP(app_), G_ACTION(action));
  g_object_unref(action);
}

SessionInstance::~SessionInstance() { g_object_unref(app_); }

void SessionInstance::Register() {
  GError* error = nullptr;
  if (g_application_register(app_, nullptr, &error) == FALSE) {
    std::fprintf(stderr, "morvane-night: not reachable over D-Bus: %s\n",
                 error != nullptr ? error->message : "registration failed");
    g_clear_error(&error);
  }
}

bool SessionInstance::remote() const {
  return g_application_get_is_registered(app_) != FALSE &&
         g_application_get_is_remote(app_) != FALSE;
}

bool SessionInstance::AskToOpenSettings() {
  if (!remote()) return false;
  g_action_group_activate_action(G_ACTION_GROUP(app_), kOpenSettings, nullptr);
  GDBusConnection* connection = bus();
  return connection != nullptr && g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

void SessionInstance::OnOpenSettings(std::function<void()> handler) {
  handler_ = std::move(handler);
}

GDBusConnection* SessionInstance::bus() const { return g_application_get_dbus_connection(app_); }

void SessionInstance::OnActivate(GSimpleAction* /*action*/, GVariant* /*parameter*/,
                                 gpointer self) {
  auto* instance = static_cast<SessionInstance*>(self);
  if (instance->handler_) instance->handler_();
}

}  // namespace platform::gtk

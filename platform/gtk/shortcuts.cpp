#include "platform/gtk/shortcuts.h"

#include <unistd.h>

#include <utility>

namespace platform::gtk {

namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char kRequest[] = "org.freedesktop.portal.Request";

}  // namespace

// One request in flight: its Response signal is watched from before the
// call, as the portal may answer before the call returns.
struct PortalShortcut::Pending {
  PortalShortcut* self;
  guint watch;
  Answer answer;
};

PortalShortcut::PortalShortcut(GDBusConnection* bus, Shortcut shortcut,
                               std::function<void()> activated,
                               std::function<void(const std::string&)> unavailable)
    : bus_(bus != nullptr ? G_DBUS_CONNECTION(g_object_ref(bus)) : nullptr),
      shortcut_(std::move(shortcut)),
      activated_(std::move(activated)),
      unavailable_(std::move(unavailable)),
      cancellable_(g_cancellable_new()) {}

PortalShortcut::~PortalShortcut() {
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  if (pending_ != nullptr) {
    g_dbus_connection_signal_unsubscribe(bus_, pending_->watch);
    delete pending_;
  }
  if (activatedWatch_ != 0) g_dbus_connection_signal_unsubscribe(bus_, activatedWatch_);
  if (bus_ != nullptr) g_object_unref(bus_);
}

std::string PortalShortcut::RequestPath(const std::string& uniqueName, const std::string& token) {
  std::string sender = uniqueName.rfind(':', 0) == 0 ? uniqueName.substr(1) : uniqueName;
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

void PortalShortcut::Start() {
  if (bus_ == nullptr) {
    Fail("there is no D-Bus session bus");
    return;
  }
  // The interface's version tells whether the portal is there at all.
  g_dbus_connection_call(
      bus_, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kShortcuts, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
      5000, cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          static_cast<PortalShortcut*>(data)->OnVersion(reply, error);
        }
        if (reply != nullptr) g_variant_unref(reply);
        g_clear_error(&error);
      },
      this);
}

void PortalShortcut::OnVersion(GVariant* reply, const GError* error) {
  if (reply == nullptr) {
    Fail(std::string("the desktop offers no GlobalShortcuts portal (") +
         (error != nullptr ? error->message : "no answer") + ")");
    return;
  }
  activatedWatch_ = g_dbus_connection_signal_subscribe(
      bus_, kPortal, kShortcuts, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      &PortalShortcut::OnActivated, this, nullptr);
  const std::string token = Expect(&PortalShortcut::OnSession);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "session_handle_token",
                        g_variant_new_string(token.c_str()));
  Call("CreateSession", g_variant_new("(a{sv})", &options));
}

std::string PortalShortcut::Expect(Answer answer) {
  const std::string token =
      "morvane_night_" + std::to_string(::getpid()) + "_" + std::to_string(++tokens_);
  const gchar* unique = g_dbus_connection_get_unique_name(bus_);
  const std::string path = RequestPath(unique != nullptr ? unique : "", token);
  pending_ = new Pending{this, 0, answer};
  pending_->watch = g_dbus_connection_signal_subscribe(
      bus_, kPortal, kRequest, "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      &PortalShortcut::OnResponse, this, nullptr);
  return token;
}

void PortalShortcut::Call(const char* method, GVariant* parameters) {
  g_dbus_connection_call(
      bus_, kPortal, kPortalPath, kShortcuts, method, parameters, G_VARIANT_TYPE("(o)"),
      G_DBUS_CALL_FLAGS_NONE, -1, cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply == nullptr && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          static_cast<PortalShortcut*>(data)->Fail(
              std::string("the GlobalShortcuts portal refused a call (") + error->message + ")");
        }
        if (reply != nullptr) g_variant_unref(reply);
        g_clear_error(&error);
      },
      this);
}

void PortalShortcut::OnResponse(GDBusConnection* /*bus*/, const gchar* /*sender*/,
                                const gchar* /*path*/, const gchar* /*interface*/,
                                const gchar* /*signal*/, GVariant* parameters, gpointer data) {
  auto* self = static_cast<PortalShortcut*>(data);
  Pending* pending = self->pending_;
  if (pending == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
  self->pending_ = nullptr;
  g_dbus_connection_signal_unsubscribe(self->bus_, pending->watch);
  const Answer answer = pending->answer;
  delete pending;
  guint32 response = 2;
  GVariant* results = nullptr;
  g_variant_get(parameters, "(u@a{sv})", &response, &results);
  if (response == 0) {
    (self->*answer)(results);
  } else {
    self->Fail(response == 1 ? "the desktop declined the shortcut"
                             : "the GlobalShortcuts portal could not set up the shortcut");
  }
  g_variant_unref(results);
}

void PortalShortcut::OnSession(GVariant* results) {
  // A string in the portal's first version, an object path in some.
  GVariant* handle = g_variant_lookup_value(results, "session_handle", nullptr);
  if (handle == nullptr || (!g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) &&
                            !g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH))) {
    if (handle != nullptr) g_variant_unref(handle);
    Fail("the GlobalShortcuts portal gave no session");
    return;
  }
  session_ = g_variant_get_string(handle, nullptr);
  g_variant_unref(handle);
  if (!g_variant_is_object_path(session_.c_str())) {
    Fail("the GlobalShortcuts portal gave no session");
    return;
  }
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&properties, "{sv}", "description",
                        g_variant_new_string(shortcut_.description.c_str()));
  g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                        g_variant_new_string(shortcut_.trigger.c_str()));
  GVariantBuilder shortcuts;
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&shortcuts, "(sa{sv})", shortcut_.id.c_str(), &properties);
  const std::string token = Expect(&PortalShortcut::OnBound);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  Call("BindShortcuts",
       g_variant_new("(oa(sa{sv})sa{sv})", session_.c_str(), &shortcuts, "", &options));
}

void PortalShortcut::OnBound(GVariant* /*results*/) { bound_ = true; }

void PortalShortcut::OnActivated(GDBusConnection* /*bus*/, const gchar* /*sender*/,
                                 const gchar* /*path*/, const gchar* /*interface*/,
                                 const gchar* /*signal*/, GVariant* parameters, gpointer data) {
  auto* self = static_cast<PortalShortcut*>(data);
  if (!self->bound_ || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
  const gchar* session = nullptr;
  const gchar* id = nullptr;
  g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
  if (self->session_ == session && self->shortcut_.id == id && self->activated_) self->activated_();
}

void PortalShortcut::Fail(const std::string& why) {
  if (failed_ || bound_) return;
  failed_ = true;
  if (unavailable_) unavailable_(why);
}

}  // namespace platform::gtk

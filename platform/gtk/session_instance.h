// The program's name on the D-Bus session bus, through GApplication: the
// first instance holds it and answers "open settings"; `morvane-night
// --settings` finds it there and asks. Whether a plain second start is one
// is still told by the lock (GtkBackend::PrevInstance), which holds with or
// without a session bus.
#pragma once

#include <gio/gio.h>

#include <functional>

namespace platform::gtk {

class SessionInstance {
 public:
  static constexpr char kId[] = "com.morvane.NightMode";
  static constexpr char kOpenSettings[] = "open-settings";

  SessionInstance();
  ~SessionInstance();
  SessionInstance(const SessionInstance&) = delete;
  SessionInstance& operator=(const SessionInstance&) = delete;

  // Takes the name, or finds it taken. Without a session bus this
  // instance stands alone: not remote, and reachable by nobody.
  void Register();
  // Another instance holds the name.
  bool remote() const;
  // Asks the instance that holds the name to open its settings panel; the
  // request is on its way when this returns.
  bool AskToOpenSettings();
  // In the instance that holds the name: `handler` runs for every ask.
  void OnOpenSettings(std::function<void()> handler);
  // The session bus, or null without one.
  GDBusConnection* bus() const;

 private:
  static void OnActivate(GSimpleAction* action, GVariant* parameter, gpointer self);

  GApplication* app_;
  std::function<void()> handler_;
};

}  // namespace platform::gtk

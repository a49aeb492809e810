// F7 from a Wayland desktop that offers the GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts): the program asks for one
// shortcut, "open settings", with F7 as its preferred trigger, and hears of
// its presses over D-Bus. Where there is no such portal, or the desktop
// refuses, the caller is told once and can say how to bind the key instead.
// GIO only, no GTK: the tests run it against a portal of their own on a
// private bus.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace platform::gtk {

class PortalShortcut {
 public:
  struct Shortcut {
    std::string id;           // "open-settings"
    std::string description;  // shown by the desktop's shortcut settings
    std::string trigger;      // the preferred key, in the portal's terms ("F7")
  };

  // `activated` runs for each press; `unavailable` at most once, with the
  // reason, when there is no bus, no portal, or the desktop said no.
  PortalShortcut(GDBusConnection* bus, Shortcut shortcut, std::function<void()> activated,
                 std::function<void(const std::string&)> unavailable);
  ~PortalShortcut();
  PortalShortcut(const PortalShortcut&) = delete;
  PortalShortcut& operator=(const PortalShortcut&) = delete;

  // Asks the portal; the answers arrive on the thread's main context.
  void Start();
  // The desktop accepted the shortcut.
  bool bound() const { return bound_; }

  // Where the portal puts the object of a request made with `token` by the
  // connection named `uniqueName` (":1.42" -> .../request/1_42/<token>).
  static std::string RequestPath(const std::string& uniqueName, const std::string& token);

 private:
  using Answer = void (PortalShortcut::*)(GVariant* results);
  struct Pending;

  // Watches for the Response of the next request; returns its handle_token.
  std::string Expect(Answer answer);
  void Call(const char* method, GVariant* parameters);
  void OnVersion(GVariant* reply, const GError* error);
  void OnSession(GVariant* results);
  void OnBound(GVariant* results);
  void Fail(const std::string& why);
  static void OnResponse(GDBusConnection* bus, const gchar* sender, const gchar* path,
                         const gchar* interface, const gchar* signal, GVariant* parameters,
                         gpointer data);
  static void OnActivated(GDBusConnection* bus, const gchar* sender, const gchar* path,
                          const gchar* interface, const gchar* signal, GVariant* parameters,
                          gpointer data);

  GDBusConnection* bus_;
  Shortcut shortcut_;
  std::function<void()> activated_;
  std::function<void(const std::string&)> unavailable_;
  GCancellable* cancellable_;
  std::string session_;
  guint activatedWatch_ = 0;
  Pending* pending_ = nullptr;  // the request whose Response is awaited
  int tokens_ = 0;
  bool bound_ = false;
  bool failed_ = false;
};

}  // namespace platform::gtk

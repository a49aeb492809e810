// F7 through the desktop's GlobalShortcuts portal: the client against a
// portal of the test's own, on a private session bus (GTestDBus runs a
// dbus-daemon for it), and with no portal or no bus at all.
#include "platform/gtk/shortcuts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

using platform::gtk::PortalShortcut;

constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char kIntrospection[] =
    "<node><interface name='org.freedesktop.portal.GlobalShortcuts'>"
    "<method name='CreateSession'><arg type='a{sv}' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "<method name='BindShortcuts'><arg type='o' direction='in'/>"
    "<arg type='a(sa{sv})' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<signal name='Activated'><arg type='o'/><arg type='s'/><arg type='t'/>"
    "<arg type='a{sv}'/></signal>"
    "<property name='version' type='u' access='read'/>"
    "</interface></node>";

// Spins the main context until `done` or `ms` pass.
bool Spin(const std::function<bool()>& done, int ms = 2000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

GDBusConnection* Connect(GTestDBus* bus) {
  return g_dbus_connection_new_for_address_sync(
      g_test_dbus_get_bus_address(bus),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

// The portal's side, written from its documented interface: requests
// answer with a Response signal on the path made of the caller and its
// handle_token.
class FakePortal {
 public:
  explicit FakePortal(GDBusConnection* bus) : bus_(bus) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable{
        &FakePortal::OnMethod, &FakePortal::OnProperty, nullptr, {}};
    registration_ = g_dbus_connection_register_object(bus_, kPath, node->interfaces[0], &vtable,
                                                      this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    g_bus_own_name_on_connection(bus_, "org.freedesktop.portal.Desktop",
                                 G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr, nullptr);
  }
  ~FakePortal() { g_dbus_connection_unregister_object(bus_, registration_); }

  void Press(const std::string& id) {
    g_dbus_connection_emit_signal(
        bus_, nullptr, kPath, kInterface, "Activated",
        g_variant_new("(osta{sv})", session_.c_str(), id.c_str(), static_cast<guint64>(0), nullptr),
        nullptr);
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  }

  guint32 bindAnswer = 0;          // 0 accepted, 1 declined by the user
  std::vector<std::string> bound;  // "id trigger description"
  std::string session_;

 private:
  static std::string RequestOf(const gchar* sender, GVariant* options) {
    const gchar* token = "t";
    g_variant_lookup(options, "handle_token", "&s", &token);
    std::string name = sender + 1;  // without the ':'
    for (char& c : name) {
      if (c == '.') c = '_';
    }
    return std::string(kPath) + "/request/" + name + "/" + token;
  }

  void Respond(GDBusMethodInvocation* invocation, const gchar* sender, const std::string& request,
               guint32 answer, GVariant* results) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    g_dbus_connection_emit_signal(bus_, sender, request.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(u@a{sv})", answer, results), nullptr);
  }

  static void OnMethod(GDBusConnection* /*bus*/, const gchar* sender, const gchar* /*path*/,
                       const gchar* /*interface*/, const gchar* method, GVariant* parameters,
                       GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakePortal*>(data);
    GVariantDict results;
    g_variant_dict_init(&results, nullptr);
    if (g_strcmp0(method, "CreateSession") == 0) {
      GVariant* options = g_variant_get_child_value(parameters, 0);
      const std::string request = RequestOf(sender, options);
      self->session_ = std::string(kPath) + "/session/fake/s1";
      g_variant_unref(options);
      // A string in the portal's first version.
      g_variant_dict_insert(&results, "session_handle", "s", self->session_.c_str());
      self->Respond(invocation, sender, request, 0, g_variant_dict_end(&results));
      return;
    }
    GVariant* options = g_variant_get_child_value(parameters, 3);
    const std::string request = RequestOf(sender, options);
    g_variant_unref(options);
    GVariantIter* shortcuts = nullptr;
    const gchar* session = nullptr;
    g_variant_get(parameters, "(&oa(sa{sv})&s@a{sv})", &session, &shortcuts, nullptr, nullptr);
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &properties)) {
      const gchar* trigger = "";
      const gchar* description = "";
      g_variant_lookup(properties, "preferred_trigger", "&s", &trigger);
      g_variant_lookup(properties, "description", "&s", &description);
      self->bound.push_back(std::string(id) + " " + trigger + " " + description);
      g_variant_unref(properties);
    }
    g_variant_iter_free(shortcuts);
    if (self->session_ != session) self->bound.push_back("wrong session");
    self->Respond(invocation, sender, request, self->bindAnswer, g_variant_dict_end(&results));
  }

  static GVariant* OnProperty(GDBusConnection* /*bus*/, const gchar* /*sender*/,
                              const gchar* /*path*/, const gchar* /*interface*/,
                              const gchar* /*property*/, GError** /*error*/, gpointer /*data*/) {
    return g_variant_new_uint32(1);
  }

  GDBusConnection* bus_;
  guint registration_ = 0;
};

class PortalShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    ours_ = Connect(bus_);
    theirs_ = Connect(bus_);
    ASSERT_NE(ours_, nullptr);
    ASSERT_NE(theirs_, nullptr);
  }
  void TearDown() override {
    shortcut_.reset();
    portal_.reset();
    g_object_unref(ours_);
    g_object_unref(theirs_);
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }

  void StartShortcut() {
    shortcut_ = std::make_unique<PortalShortcut>(
        ours_, PortalShortcut::Shortcut{"open-settings", "打开设置", "F7"}, [this] { ++presses_; },
        [this](const std::string& why) { reasons_.push_back(why); });
    shortcut_->Start();
  }

  GTestDBus* bus_ = nullptr;
  GDBusConnection* ours_ = nullptr;
  GDBusConnection* theirs_ = nullptr;
  std::unique_ptr<FakePortal> portal_;
  std::unique_ptr<PortalShortcut> shortcut_;
  int presses_ = 0;
  std::vector<std::string> reasons_;
};

TEST_F(PortalShortcutTest, F7IsAskedForAndEachPressOfItArrives) {
  portal_ = std::make_unique<FakePortal>(theirs_);
  StartShortcut();
  ASSERT_TRUE(Spin([&] { return shortcut_->bound(); })) << testing::PrintToString(reasons_);
  EXPECT_EQ(portal_->bound, std::vector<std::string>{"open-settings F7 打开设置"});
  portal_->Press("open-settings");
  portal_->Press("another-programs-key");
  portal_->Press("open-settings");
  EXPECT_TRUE(Spin([&] { return presses_ == 2; }));
  Spin([] { return false; }, 200);  // nothing more arrives
  EXPECT_EQ(presses_, 2);
  EXPECT_TRUE(reasons_.empty());
}

TEST_F(PortalShortcutTest, AShortcutTheUserDeclinesIsReportedOnceAndNeverFires) {
  portal_ = std::make_unique<FakePortal>(theirs_);
  portal_->bindAnswer = 1;
  StartShortcut();
  ASSERT_TRUE(Spin([&] { return !reasons_.empty(); }));
  EXPECT_FALSE(shortcut_->bound());
  portal_->Press("open-settings");
  Spin([] { return false; }, 200);
  EXPECT_EQ(presses_, 0);
  EXPECT_EQ(reasons_, std::vector<std::string>{"the desktop declined the shortcut"});
}

TEST_F(PortalShortcutTest, ABusWithoutThePortalIsReportedOnce) {
  StartShortcut();
  ASSERT_TRUE(Spin([&] { return !reasons_.empty(); }));
  Spin([] { return false; }, 200);
  ASSERT_EQ(reasons_.size(), 1U);
  EXPECT_EQ(reasons_[0].rfind("the desktop offers no GlobalShortcuts portal", 0), 0U)
      << reasons_[0];
}

TEST(PortalShortcutNoBusTest, WithoutABusItSaysSoAtOnce) {
  std::vector<std::string> reasons;
  PortalShortcut shortcut(
      nullptr, {"open-settings", "", "F7"}, [] {},
      [&](const std::string& why) { reasons.push_back(why); });
  shortcut.Start();
  EXPECT_EQ(reasons, std::vector<std::string>{"there is no D-Bus session bus"});
}

TEST(PortalShortcutNoBusTest, RequestsLiveUnderTheCallersName) {
  EXPECT_EQ(PortalShortcut::RequestPath(":1.42", "morvane_night_7_1"),
            "/org/freedesktop/portal/desktop/request/1_42/morvane_night_7_1");
}

}  // namespace

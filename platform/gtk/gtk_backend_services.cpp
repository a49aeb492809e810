// The desktop services on Linux: per-user settings in an ini file, the
// single-instance lock, the message box and the colour chooser. Linux has
// none of the Windows-only services: no embedded components to install and
// no Windows programs to run.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/gtk/files.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/user32.h"

namespace platform {

namespace {

std::string SettingsFile(const std::string& app) {
  return gtk::files::ConfigFolder(std::getenv("XDG_CONFIG_HOME"), g_get_home_dir()) + "/" +
         gtk::files::SafeName(app) + "/settings.ini";
}

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

GdkRGBA ToRgba(Colour colour) {
  const auto bits = static_cast<std::uint32_t>(colour) & 0x00FFFFFFU;
  return GdkRGBA{(bits & 0xFFU) / 255.0, ((bits >> 8) & 0xFFU) / 255.0,
                 ((bits >> 16) & 0xFFU) / 255.0, 1.0};
}

Colour FromRgba(const GdkRGBA& rgba) {
  auto channel = [](double value) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
  };
  return static_cast<Colour>(channel(rgba.red) | (channel(rgba.green) << 8) |
                             (channel(rgba.blue) << 16));
}

}  // namespace

// --- settings -----------------------------------------------------------------

std::optional<std::string> GtkBackend::GetSetting(const std::string& app,
                                                  const std::string& section,
                                                  const std::string& key) {
  KeyFile file(g_key_file_new());
  if (g_key_file_load_from_file(file.get(), SettingsFile(app).c_str(), G_KEY_FILE_NONE, nullptr) ==
      FALSE) {
    return std::nullopt;  // absent, unreadable or not a key file
  }
  gchar* value = g_key_file_get_string(file.get(), section.c_str(), key.c_str(), nullptr);
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  g_free(value);
  return text;
}

// The whole file is written beside and renamed into place, so a reader
// never sees half of it.
bool GtkBackend::SaveSetting(const std::string& app, const std::string& section,
                             const std::string& key, const std::string& value) {
  const std::string path = SettingsFile(app);
  gchar* folder = g_path_get_dirname(path.c_str());
  const int made = g_mkdir_with_parents(folder, 0700);
  g_free(folder);
  if (made != 0) return false;

  KeyFile file(g_key_file_new());
  GError* error = nullptr;
  if (g_key_file_load_from_file(
          file.get(), path.c_str(),
          static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
          &error) == FALSE) {
    // A file that is not there yet, or that no longer parses, is started
    // afresh; one that cannot be read is left alone.
    const bool startAfresh =
        error != nullptr &&
        (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT) ||
         error->domain == G_KEY_FILE_ERROR || error->domain == g_convert_error_quark());
    g_clear_error(&error);
    if (!startAfresh) return false;
    file.reset(g_key_file_new());
  }
  g_key_file_set_string(file.get(), section.c_str(), key.c_str(), value.c_str());
  gsize length = 0;
  gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  if (data == nullptr) return false;
  const bool written = gtk::files::WriteWhole(path, path + ".new", std::string_view(data, length),
                                              0644, gtk::files::Replace::Yes);
  g_free(data);
  return written;
}

// --- single instance ------------------------------------------------------------

// A lock file per title and display server in the user's own folder
// (files::PrivateFolder), whatever the environment says, held (flock) for
// the life of the process: the kernel lets it go however the process ends,
// so a crashed instance never blocks the next start.
bool GtkBackend::PrevInstance(const std::string& title) {
  if (prevInstance_) return *prevInstance_;
  const std::string path = gtk::files::PrivatePath(
      gtk::files::SafeName(title) + "-" + gtk::files::SafeName(ServerIdentity()) + ".lock");
  // Never through a symbolic link, and only a file of our own: nobody else
  // may block our start or have us lock a file of theirs.
  gtk::files::UniqueFd fd;
  const char* refused = nullptr;
  if (path.empty()) {
    refused = "there is no folder of this user's to keep it in";
  } else {
    fd =
        gtk::files::UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat info {};
    if (!fd) {
      refused = errno == ELOOP ? "it is a symbolic link" : "it cannot be opened";
    } else if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      refused = "it is not a plain file";
    } else if (info.st_uid != ::getuid()) {
      refused = "it belongs to another user";
    }
  }
  if (refused != nullptr) {
    std::fprintf(stderr,
                 "morvane-night: not using the lock file %s: %s; a second start will not be "
                 "noticed\n",
                 path.c_str(), refused);
    prevInstance_ = false;  // cannot tell: better two tints than none
    return false;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
    instanceLock_ = std::move(fd);  // held until the process ends
    prevInstance_ = false;
  } else {
    prevInstance_ = errno == EWOULDBLOCK;
  }
  return *prevInstance_;
}

// --- dialogs --------------------------------------------------------------------

void GtkBackend::MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  GtkButtonsType kind = GTK_BUTTONS_OK;
  switch (buttons & 0xF) {
    case 1:
      kind = GTK_BUTTONS_OK_CANCEL;
      break;
    case 4:
      kind = GTK_BUTTONS_YES_NO;
      break;
    default:
      break;
  }
  GtkWindow* parent = nullptr;
  for (auto& [hwnd, w] : windows_) {
    if (gtk_widget_get_visible(w.window) != FALSE && w.enabled) parent = GTK_WINDOW(w.window);
  }
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, kind,
                                             "%s", prompt.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  // Above everything: it must not end up beneath a running overlay's tint.
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog),
                          parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  KeepTimersTicking();
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

bool GtkBackend::ShowColorDialog(Form& owner, Colour& colour) {
  gtk::Window* ownerWindow = WindowOf(owner);
  // A layer surface is no parent for a dialog.
  GtkWindow* parent =
      ownerWindow != nullptr && !layerShell_ ? GTK_WINDOW(ownerWindow->window) : nullptr;
  GtkWidget* dialog = gtk_color_chooser_dialog_new("颜色", parent);
  if (dialog == nullptr) return false;
  auto* chooser = GTK_COLOR_CHOOSER(dialog);
  gtk_color_chooser_set_use_alpha(chooser, FALSE);
  // Opened on the editor with the initial colour in it, as the full
  // Windows colour dialog opens.
  g_object_set(dialog, "show-editor", TRUE, nullptr);
  const GdkRGBA initial = ToRgba(colour);
  gtk_color_chooser_set_rgba(chooser, &initial);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);

  // The panel takes no input while its dialog is up. On layer shell the
  // panel lies over every ordinary window, the dialog among them: it steps
  // aside meanwhile, and the dialog lies open beneath the tint, which
  // takes no clicks.
  const HWnd ownerHandle = owner.Handle();
  const bool wasEnabled = ownerWindow != nullptr && ownerWindow->enabled;
  if (wasEnabled) ownerWindow->enabled = false;
  const bool stepAside =
      layerShell_ && ownerWindow != nullptr && gtk_widget_get_visible(ownerWindow->window) != FALSE;
  if (stepAside) gtk_widget_hide(ownerWindow->window);
  KeepTimersTicking();
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  GdkRGBA chosen{};
  gtk_color_chooser_get_rgba(chooser, &chosen);
  gtk_widget_destroy(dialog);
  if (gtk::Window* w = Find(ownerHandle)) {
    if (wasEnabled) w->enabled = true;
    if (stepAside) gtk_widget_show(w->window);
  }

  if (response != GTK_RESPONSE_OK) return false;
  colour = FromRgba(chosen);
  return true;
}

}  // namespace platform

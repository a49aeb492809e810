// The services of the user's desktop that every backend offers: per-user
// settings, the single-instance check, the message box and the colour
// dialog.
#pragma once

#include <optional>
#include <string>

#include "platform/form.h"
#include "platform/types.h"

namespace platform {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // Per-user settings: nothing when the key is absent, unreadable or not
  // text; false when the write was refused.
  virtual std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                                const std::string& key) = 0;
  virtual bool SaveSetting(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
  // True when another instance of the application with this title runs.
  virtual bool PrevInstance(const std::string& title) = 0;
  virtual void MsgBox(const std::string& prompt, int buttons, const std::string& caption) = 0;
  // The system colour dialog, modal over `owner`. On confirmation stores the
  // chosen colour in `colour` and returns true; false when cancelled or when
  // the dialog could not be shown.
  virtual bool ShowColorDialog(Form& owner, Colour& colour) = 0;
};

}  // namespace platform

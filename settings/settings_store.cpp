#include "settings/settings_store.h"

#include "platform/app.h"
#include "platform/conversions.h"

namespace settings {

using platform::App;

namespace {
bool colourRead = false;
bool opacityRead = false;
}  // namespace

platform::Colour LoadColour() {
  colourRead = true;
  const auto text = platform::GetSetting(App.Title, kSection, kColourKey);
  if (!text) return kDefaultColour;
  const auto value = platform::TextToInt32(*text);
  // A colour has nothing in its high byte; anything else is not one of ours.
  if (!value || (static_cast<std::uint32_t>(*value) & 0xFF000000U) != 0) return kDefaultColour;
  return *value;
}

std::uint8_t LoadOpacity() {
  opacityRead = true;
  const auto text = platform::GetSetting(App.Title, kSection, kOpacityKey);
  if (!text) return kDefaultOpacity;
  // A corrupt value must not leave the screen untinted and then be saved as 0.
  return platform::TextToByte(*text).value_or(kDefaultOpacity);
}

bool SaveBoth(std::uint8_t opacity, platform::Colour colour) {
  const bool opacityStored = opacityRead && platform::SaveSetting(App.Title, kSection, kOpacityKey,
                                                                  platform::DecimalText(opacity));
  const bool colourStored = colourRead && platform::SaveSetting(App.Title, kSection, kColourKey,
                                                                platform::DecimalText(colour));
  return opacityStored && colourStored;
}

void ForgetReads() {
  colourRead = false;
  opacityRead = false;
}

}  // namespace settings

// A fixture that runs the real program on the headless desktop.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "overlay/frm_night.h"
#include "platform/app.h"
#include "platform/headless/headless_backend.h"
#include "platform/runtime.h"
#include "settings/settings_store.h"
#include "startup/main.h"

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Runtime::Get().ResetForTests();
    platform::Runtime::Get().Install(&desktop);
    mdluser::bytLig = 0;
    settings::ForgetReads();
  }
  void TearDown() override {
    desktop.Shutdown();
    platform::Runtime::Get().ResetForTests();
    platform::Runtime::Get().Install(nullptr);
  }

  static std::string Key(const char* name) {
    return platform::headless::HeadlessBackend::StoreKey(platform::App.Title, settings::kSection,
                                                         name);
  }
  void Store(const char* name, const std::string& text) { desktop.store[Key(name)] = text; }
  std::string Stored(const char* name) {
    auto it = desktop.store.find(Key(name));
    return it == desktop.store.end() ? "<absent>" : it->second;
  }

  // The overlay alone, as the splash brings it up.
  void StartOverlay() {
    desktop.Start([] { frmNight.Show(); });
  }
  void StartProgram() { desktop.Start(mdluser::Main); }

  const platform::headless::Window& OverlayWindow() {
    const auto* window = desktop.WindowOf(frmNight);
    EXPECT_NE(window, nullptr);
    static platform::headless::Window none;
    return window != nullptr ? *window : none;
  }

  platform::headless::HeadlessBackend desktop;
};

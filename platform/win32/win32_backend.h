// The product's backend: forms become plain Win32 windows painted with GDI.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/desktop_services.h"
#include "platform/jobs_beside.h"
#include "platform/win32/monitor_cover.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_units.h"
#include "platform/window_system.h"
#include "platform/windows_services.h"

namespace platform {

class Win32Backend final : public WindowSystem, public DesktopServices, public WindowsServices {
 public:
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  HWnd CreateFormWindow(Form& form) override;
  void DestroyFormWindow(Form& form) override;
  void ShowFormWindow(Form& form, Form* owner) override;
  bool FormWindowEnabled(Form& form) override;
  void EnableFormWindow(Form& form, bool enable) override;
  void RunModalLoop(Form& form) override;
  void Invalidate(Form& form, const Control& control) override;
  void BackColorChanged(Form& form) override;
  std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) override;
  void UpdateTimer(Form& form, Timer& timer) override;
  std::vector<Monitor> Monitors() override;
  std::optional<Point> PointerPosition() override;

  void RunMessageLoop() override;
  void QuitWhenIdle() override;
  [[noreturn]] void End() override;
  void DoEvents() override;
  void RunBeside(std::function<void()> job) override;
  HWnd ForegroundWindow() override;
  void SetForegroundWindow(HWnd hwnd) override;

  std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) override;
  std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) override;
  std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                          std::int32_t dwFlags) override;
  std::int32_t SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                            std::uint32_t flags) override;
  std::int16_t GetAsyncKeyState(std::int32_t vKey) override;

  // Desktop services (win32_backend_services.cpp).
  std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                        const std::string& key) override;
  bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool PrevInstance(const std::string& title) override;
  void MsgBox(const std::string& prompt, int buttons, const std::string& caption) override;
  bool ShowColorDialog(Form& owner, Colour& colour) override;

  // The services only Windows has (win32_backend_services.cpp).
  std::optional<std::string> SystemDirectory() override;
  bool FileExists(const std::string& path) override;
  bool WriteNewFile(const std::string& path, const std::string& partial,
                    const std::vector<std::uint8_t>& bytes) override;
  bool RemoveFile(const std::string& path) override;
  std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                       const std::string& type) override;
  bool Shell(const std::string& program, const std::string& arguments) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(Form& form, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static std::optional<LRESULT> OnStopMessage(UINT msg, WPARAM wParam);
  void OnMouse(Form& form, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnCaptureLost(Form& form, HWND hwnd);
  void OnTimer(Form& form, HWND hwnd, UINT_PTR id);
  void OnDpiChanged(Form& form, HWND hwnd, int dpi, const RECT& suggested);
  void SizeToClient(Form& form, HWND hwnd);
  void SetIcons(const Form& form, HWND hwnd);
  // The outer size whose client area is the form's client size at `dpi`.
  SIZE WindowSizeFor(const Form& form, HWND hwnd, int dpi);
  HWND WindowOf(const Form& form) const;
  // Everything kept about a window that is being destroyed goes.
  void ForgetWindow(HWND hwnd, const Form& form);
  // The owner of every form kept out of the taskbar; never shown.
  HWND HiddenOwner();

  // win32_backend_paint.cpp
  void Paint(Form& form, HWND hwnd);
  void DrawLabel(HDC dc, const Label& label, int dpi);
  void DrawLine(HDC dc, const Line& line, int dpi);
  // Device-pixel rectangle a control paints, in client coordinates.
  RECT ControlBounds(HWND hwnd, const Control& control, int dpi);
  RECT LabelTextRect(HDC dc, const Label& label, int dpi);
  // The label's font at `dpi`, made smaller where its caption would not fit
  // the width of a label that does not size itself.
  HFONT LabelFont(HDC dc, const Label& label, const RECT& box, int dpi);
  // The size of an auto-sized label at `dpi`, in twips.
  std::optional<std::pair<Twips, Twips>> MeasureLabelAt(HWND hwnd, const Label& label, int dpi);
  HFONT FontFor(const Font& font, int dpi);
  HFONT FontOfHeight(const Font& font, int pixels);
  std::wstring ResolveFace(const Font& font);
  bool FaceInstalled(const std::wstring& face);

  HINSTANCE instance_;
  ATOM windowClass_ = 0;
  HWND hiddenOwner_ = nullptr;
  std::unordered_map<const Form*, HWND> windows_;
  std::unordered_map<const Timer*, HWND> armedTimers_;
  // Mouse buttons held over each window, for capture.
  std::unordered_map<HWND, int> buttonsHeld_;
  // The overlay's extra windows on the other monitors, and every maximised
  // window's cover of its monitor.
  MonitorCover cover_;

  // Face, bold, italic, character set, em height in pixels.
  using FontKey = std::tuple<std::string, bool, bool, int, int>;
  std::map<FontKey, win32::UniqueFont> fonts_;
  std::map<std::wstring, bool> faces_;

  win32::UniqueHandle instanceMutex_;
  JobsBeside jobsBeside_;
  std::optional<bool> prevInstance_;
  // The colour dialog's sixteen custom colours, kept for the whole run.
  COLORREF customColours_[16] = {};

  static Win32Backend* active_;
};

}  // namespace platform

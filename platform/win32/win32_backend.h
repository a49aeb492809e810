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
#include "platform/win32/win32_handles.h"
#include "platform/window_system.h"
#include "platform/windows_services.h"

namespace platform {

namespace win32 {
// The window's real DPI (the system's where the per-window query is missing).
int WindowDpi(HWND hwnd);
// Twips of the model to whole device pixels at `dpi`.
using platform::ToPixels;
// Device pixels back to twips of the model at `dpi`.
Twips ToTwips(int pixels, int dpi);
Rect FromRECT(const RECT& rect);
RECT ToRECT(const Rect& rect);
// A model colour to GDI; the high bit selects a system colour.
COLORREF ToColorRef(Colour colour);
}  // namespace win32

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
  void Invalidate(Form& form, const Control* control) override;
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

  // Desktop services (win32_services.cpp).
  std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                        const std::string& key) override;
  bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool PrevInstance(const std::string& title) override;
  void MsgBox(const std::string& prompt, int buttons, const std::string& caption) override;
  bool ShowColorDialog(Form& owner, Colour& colour) override;

  // The services only Windows has (win32_services.cpp).
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
  // A maximised form after the screen changed: the whole monitor again.
  std::optional<RECT> MonitorToCover(HWND hwnd);
  // Moves the window over that monitor; one in place already gets its
  // frame worked out again (its surface may still have an old size) when
  // `refreshInPlace`, and is left alone otherwise.
  void CoverMonitor(HWND hwnd, bool refreshInPlace = true);
  void ScheduleCoverCheck(HWND hwnd);
  void OnCoverCheck(HWND hwnd);
  void WatchDesk(Form& form, HWND hwnd);
  void OnDeskWatch(Form& form, HWND hwnd);
  void SyncSatellites(Form& form, HWND main);
  HWND MakeSatellite(Form& form, HWND main, const RECT& area);
  const std::vector<HWND>& SatellitesOf(HWND hwnd) const;
  void SizeToClient(Form& form, HWND hwnd);
  void SetIcons(const Form& form, HWND hwnd);
  void PresentNow();
  // The outer size whose client area is the form's client size at `dpi`.
  SIZE WindowSizeFor(const Form& form, HWND hwnd, int dpi);
  HWND WindowOf(const Form& form) const;
  // The owner of every form kept out of the taskbar; never shown.
  HWND HiddenOwner();
  // Pumps one message; false once WM_QUIT came (it is posted again, so the
  // outer loop sees it too).
  bool PumpOne(bool wait);

  // win32_paint.cpp
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
  // Maximised windows whose cover of the monitor is being checked after a
  // change of size: the monitor as last seen, checks done, and how many of
  // them in a row found the window off the monitor.
  struct CoverCheck {
    RECT monitor{};
    int step = 0;
    int mismatches = 0;
  };
  std::unordered_map<HWND, CoverCheck> covers_;
  // What the desk watch saw last, per window of a form that spans all
  // monitors: the monitors, where that window and its satellites were,
  // whether the watch looks quickly now and how many quick looks are left.
  struct DeskSeen {
    static constexpr int kQuickLooks = 8;
    bool looked = false;
    std::vector<RECT> monitors;
    std::vector<RECT> windows;
    bool quick = false;
    int quickLooksLeft = kQuickLooks;
  };
  std::unordered_map<HWND, DeskSeen> desksSeen_;
  // The windows on the other monitors of each form that spans them all.
  std::unordered_map<const Form*, std::vector<HWND>> satellites_;

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

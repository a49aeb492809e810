// Painting the form model with GDI: the back colour, then labels and lines
// in the order the form holds them, through a back buffer.
#include <algorithm>
#include <array>
#include <cmath>
#include <cwchar>

#include "platform/win32/win32_backend.h"

namespace platform {

namespace {

UINT TextFlags(const Label& label) {
  UINT flags = DT_NOPREFIX | DT_EXPANDTABS | DT_TOP;
  switch (label.alignment) {
    case Alignment::Left:
      flags |= DT_LEFT;
      break;
    case Alignment::Right:
      flags |= DT_RIGHT;
      break;
    case Alignment::Center:
      flags |= DT_CENTER;
      break;
  }
  return flags;
}

RECT LabelBox(const Label& label, int dpi) {
  const Twips left = label.Left;
  const Twips top = label.Top;
  return RECT{win32::ToPixels(left, dpi), win32::ToPixels(top, dpi),
              win32::ToPixels(left + label.Width, dpi), win32::ToPixels(top + label.Height, dpi)};
}

// The em height of a font in pixels at `dpi`.
int FontHeight(const Font& font, int dpi) {
  return std::max(1, static_cast<int>(std::lround(font.Size * static_cast<float>(dpi) / 72.0F)));
}

// Whether a label's drawing can touch `area`: its box, widened by an em on
// every side for text that overhangs it (a leaning italic, a wide face).
bool LabelMayReach(const Label& label, const RECT& area, int dpi) {
  RECT reach = LabelBox(label, dpi);
  const int em = FontHeight(label.font, dpi);
  ::InflateRect(&reach, em, em);
  RECT common{};
  return ::IntersectRect(&common, &reach, &area) != FALSE;
}

// Lines are drawn as wide as laid out at 96 DPI, scaled with the window.
int PenWidth(const Line& line, int dpi) {
  return std::max(1, ::MulDiv(line.BorderWidth, dpi, USER_DEFAULT_SCREEN_DPI));
}

// Face names compare without regard to case.
bool SameFace(const std::wstring& a, const wchar_t* b) {
  return ::CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

int CALLBACK FoundFace(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metrics*/, DWORD /*type*/,
                       LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

}  // namespace

void Win32Backend::Paint(Form& form, HWND hwnd) {
  PAINTSTRUCT ps{};
  HDC dc = ::BeginPaint(hwnd, &ps);
  if (dc == nullptr) return;
  const RECT area = ps.rcPaint;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width > 0 && height > 0) {
    const int dpi = win32::WindowDpi(hwnd);
    // Only the damaged part is drawn into the buffer, shifted to its origin:
    // a full-screen buffer for every small change would be wasteful.
    win32::UniqueDC buffer(::CreateCompatibleDC(dc));
    win32::UniqueBitmap bitmap(buffer ? ::CreateCompatibleBitmap(dc, width, height) : nullptr);
    HDC target = dc;
    std::optional<win32::Selection> selected;
    if (buffer && bitmap) {
      target = buffer.get();
      selected.emplace(target, bitmap.get());
      ::SetViewportOrgEx(target, -area.left, -area.top, nullptr);
    }

    win32::UniqueBrush back(::CreateSolidBrush(win32::ToColorRef(form.BackColor)));
    ::FillRect(target, &area, back.get());
    for (const Control* control : form.Controls()) {
      if (const auto* label = dynamic_cast<const Label*>(control)) {
        // A moving thumb damages a few pixels: labels far from them are not
        // laid out again for nothing.
        if (LabelMayReach(*label, area, dpi)) DrawLabel(target, *label, dpi);
      } else if (const auto* line = dynamic_cast<const Line*>(control)) {
        DrawLine(target, *line, dpi);
      }
    }

    if (target != dc) {
      ::SetViewportOrgEx(target, 0, 0, nullptr);
      ::BitBlt(dc, area.left, area.top, width, height, target, 0, 0, SRCCOPY);
    }
  }
  ::EndPaint(hwnd, &ps);
}

void Win32Backend::DrawLabel(HDC dc, const Label& label, int dpi) {
  if (!label.Visible) return;
  RECT box = LabelBox(label, dpi);
  if (label.backStyle == BackStyle::Opaque) {
    win32::UniqueBrush brush(::CreateSolidBrush(win32::ToColorRef(label.BackColor)));
    ::FillRect(dc, &box, brush.get());
  }
  if (label.FixedSingleBorder) {
    ::DrawEdge(dc, &box, BDR_SUNKENOUTER, BF_RECT);
    ::InflateRect(&box, -1, -1);
  }
  const std::string& caption = label.Caption.get();
  if (caption.empty()) return;
  const std::wstring text = win32::Widen(caption);
  win32::Selection font(dc, LabelFont(dc, label, box, dpi));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, win32::ToColorRef(label.ForeColor));
  // Not clipped: the font already fits the width, and a glyph that reaches a
  // pixel below the box (a tall substitute face) is still drawn whole.
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, TextFlags(label) | DT_NOCLIP);
}

void Win32Backend::DrawLine(HDC dc, const Line& line, int dpi) {
  const int width = PenWidth(line, dpi);
  const COLORREF colour = win32::ToColorRef(line.BorderColor);
  win32::UniquePen pen(::CreatePen(PS_SOLID, width, colour));
  win32::Selection selected(dc, pen.get());
  const int x1 = win32::ToPixels(line.X1, dpi);
  const int y1 = win32::ToPixels(line.Y1, dpi);
  const int x2 = win32::ToPixels(line.X2, dpi);
  const int y2 = win32::ToPixels(line.Y2, dpi);
  ::MoveToEx(dc, x1, y1, nullptr);
  ::LineTo(dc, x2, y2);
  // A thin line stops short of its end point; draw that one too.
  if (width == 1) ::SetPixel(dc, x2, y2, colour);
}

// The text's own extent, placed as DrawLabel places it.
RECT Win32Backend::LabelTextRect(HDC dc, const Label& label, int dpi) {
  RECT box = LabelBox(label, dpi);
  if (label.FixedSingleBorder) ::InflateRect(&box, -1, -1);
  const std::wstring text = win32::Widen(label.Caption.get());
  if (text.empty()) return RECT{};
  win32::Selection font(dc, LabelFont(dc, label, box, dpi));
  RECT calc = box;
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc,
              TextFlags(label) | DT_CALCRECT);
  const int width = calc.right - calc.left;
  RECT placed{box.left, box.top, box.left + width, calc.bottom};
  if (label.alignment == Alignment::Right) {
    placed.left = box.right - width;
    placed.right = box.right;
  } else if (label.alignment == Alignment::Center) {
    placed.left = box.left + ((box.right - box.left) - width) / 2;
    placed.right = placed.left + width;
  }
  // Italic glyphs lean past their advance.
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::InflateRect(&placed, 2 + (label.font.Italic ? metrics.tmHeight / 3 : 0), 2);
  return placed;
}

RECT Win32Backend::ControlBounds(HWND hwnd, const Control& control, int dpi) {
  if (const auto* label = dynamic_cast<const Label*>(&control)) {
    RECT box = LabelBox(*label, dpi);
    win32::WindowDC dc(hwnd);
    if (dc.get() != nullptr) {
      const RECT text = LabelTextRect(dc.get(), *label, dpi);
      if (::IsRectEmpty(&text) == FALSE) ::UnionRect(&box, &box, &text);
    }
    return box;
  }
  if (const auto* line = dynamic_cast<const Line*>(&control)) {
    const int x1 = win32::ToPixels(line->X1, dpi);
    const int y1 = win32::ToPixels(line->Y1, dpi);
    const int x2 = win32::ToPixels(line->X2, dpi);
    const int y2 = win32::ToPixels(line->Y2, dpi);
    // Wide pens have round ends that reach half the width past each point.
    const int reach = PenWidth(*line, dpi) / 2 + 2;
    return RECT{std::min(x1, x2) - reach, std::min(y1, y2) - reach, std::max(x1, x2) + reach + 1,
                std::max(y1, y2) + reach + 1};
  }
  return RECT{};  // timers and the dialog control draw nothing
}

std::optional<std::pair<Twips, Twips>> Win32Backend::MeasureLabel(Form& form, const Label& label) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return std::nullopt;
  return MeasureLabelAt(hwnd, label, win32::WindowDpi(hwnd));
}

std::optional<std::pair<Twips, Twips>> Win32Backend::MeasureLabelAt(HWND hwnd, const Label& label,
                                                                    int dpi) {
  win32::WindowDC dc(hwnd);
  if (dc.get() == nullptr) return std::nullopt;
  win32::Selection font(dc.get(), FontFor(label.font, dpi));
  const std::wstring text = win32::Widen(label.Caption.get());
  int width = 0;
  int height = 0;
  if (text.empty()) {
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    height = metrics.tmHeight;
  } else {
    RECT calc{0, 0, 0, 0};
    ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &calc,
                TextFlags(label) | DT_CALCRECT);
    width = calc.right - calc.left;
    height = calc.bottom - calc.top;
  }
  if (label.FixedSingleBorder) {
    width += 2;
    height += 2;
  }
  return std::make_pair(win32::ToTwips(width, dpi), win32::ToTwips(height, dpi));
}

// A label that does not size itself keeps its laid-out width at every DPI;
// its caption was laid out for the Simplified-Chinese system faces, and a
// substitute face can be wider. Then the text steps down in size until it
// fits, rather than running over the label's edge.
HFONT Win32Backend::LabelFont(HDC dc, const Label& label, const RECT& box, int dpi) {
  HFONT font = FontFor(label.font, dpi);
  const std::wstring text = win32::Widen(label.Caption.get());
  const int room = box.right - box.left;
  if (label.AutoSize || text.empty() || room <= 0) return font;
  auto widthWith = [&](HFONT candidate) {
    win32::Selection selected(dc, candidate);
    RECT calc{0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc,
                TextFlags(label) | DT_CALCRECT);
    return calc.right - calc.left;
  };
  const int width = widthWith(font);
  if (width <= room) return font;
  const int full = FontHeight(label.font, dpi);
  // Proportional first, then a pixel at a time: glyph widths do not scale
  // exactly with the height. Never below half size.
  for (int pixels = std::max(1, full * room / width); pixels >= std::max(1, full / 2); --pixels) {
    font = FontOfHeight(label.font, pixels);
    if (widthWith(font) <= room) break;
  }
  return font;
}

HFONT Win32Backend::FontFor(const Font& font, int dpi) {
  return FontOfHeight(font, FontHeight(font, dpi));
}

HFONT Win32Backend::FontOfHeight(const Font& font, int pixels) {
  const FontKey key{font.Name, font.Bold, font.Italic, font.Charset, pixels};
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second.get();

  LOGFONTW logFont{};
  logFont.lfHeight = -pixels;  // negative: the em height, not the cell
  logFont.lfWeight = font.Bold ? FW_BOLD : FW_NORMAL;
  logFont.lfItalic = font.Italic ? TRUE : FALSE;
  logFont.lfCharSet = static_cast<BYTE>(font.Charset);
  logFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
  logFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  logFont.lfQuality = DEFAULT_QUALITY;
  logFont.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const std::wstring face = ResolveFace(font);
  std::wcsncpy(logFont.lfFaceName, face.c_str(), LF_FACESIZE - 1);

  HFONT created = ::CreateFontIndirectW(&logFont);
  if (created == nullptr) return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  return fonts_.emplace(key, win32::UniqueFont(created)).first->second.get();
}

// The laid-out face when it is installed; otherwise the nearest Chinese face
// of the same kind that is (Song for 宋体, a sans for 黑体), so the texts keep
// their look on systems without the Simplified-Chinese fonts.
std::wstring Win32Backend::ResolveFace(const Font& font) {
  const std::wstring face = win32::Widen(font.Name);
  if (face.empty() || SameFace(face, L"MS Shell Dlg") || SameFace(face, L"MS Shell Dlg 2")) {
    // The dialog font: the system maps it to the locale's own face.
    return face.empty() ? std::wstring(L"MS Shell Dlg") : face;
  }
  if (FaceInstalled(face)) return face;

  static const std::array<const wchar_t*, 10> kSong = {L"宋体",
                                                       L"SimSun",
                                                       L"NSimSun",
                                                       L"新宋体",
                                                       L"Microsoft YaHei UI",
                                                       L"Microsoft YaHei",
                                                       L"WenQuanYi Zen Hei",
                                                       L"WenQuanYi Micro Hei",
                                                       L"Noto Serif CJK SC",
                                                       L"Noto Sans CJK SC"};
  static const std::array<const wchar_t*, 8> kHei = {L"黑体",
                                                     L"SimHei",
                                                     L"Microsoft YaHei UI",
                                                     L"Microsoft YaHei",
                                                     L"WenQuanYi Micro Hei",
                                                     L"WenQuanYi Zen Hei",
                                                     L"Noto Sans CJK SC",
                                                     L"SimSun"};
  auto first = [this](const auto& candidates) -> std::wstring {
    for (const wchar_t* candidate : candidates) {
      if (FaceInstalled(candidate)) return candidate;
    }
    return {};
  };

  std::wstring found;
  if (SameFace(face, L"宋体") || SameFace(face, L"SimSun") || SameFace(face, L"新宋体") ||
      SameFace(face, L"NSimSun")) {
    found = first(kSong);
  } else if (SameFace(face, L"黑体") || SameFace(face, L"SimHei")) {
    found = first(kHei);
  }
  // Nothing better: the font mapper picks by character set.
  return found.empty() ? face : found;
}

bool Win32Backend::FaceInstalled(const std::wstring& face) {
  auto it = faces_.find(face);
  if (it != faces_.end()) return it->second;
  bool found = false;
  if (face.size() < LF_FACESIZE) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(query.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HDC screen = ::GetDC(nullptr);
    if (screen != nullptr) {
      ::EnumFontFamiliesExW(screen, &query, &FoundFace, reinterpret_cast<LPARAM>(&found), 0);
      ::ReleaseDC(nullptr, screen);
    }
  }
  faces_.emplace(face, found);
  return found;
}

}  // namespace platform

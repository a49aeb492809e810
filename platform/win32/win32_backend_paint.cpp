// Painting the form model with GDI: the back colour, then labels and lines
// in the order the form holds them, through a back buffer.
#include <algorithm>
#include <cmath>
#include <cwchar>

#include "platform/paint_policy.h"
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

// The em height of a font in pixels at `dpi`.
int FontHeight(const Font& font, int dpi) {
  return std::max(1, static_cast<int>(std::lround(font.Size * static_cast<float>(dpi) / 72.0F)));
}

int CALLBACK FoundFace(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metrics*/, DWORD /*type*/,
                       LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

}  // namespace

void Win32Backend::Paint(Form& form, HWND hwnd) {
  const win32::PaintDC painting(hwnd);
  HDC dc = painting.get();
  if (dc == nullptr) return;
  const RECT area = painting.area();
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width > 0 && height > 0) {
    const int dpi = win32::WindowDpi(hwnd);
    const Rect damaged{area.left, area.top, area.right, area.bottom};
    win32::UniqueBrush back(::CreateSolidBrush(win32::ToColorRef(form.BackColor)));
    if (!paint::DrawsOverBackColour(form, damaged, dpi)) {
      ::FillRect(dc, &area, back.get());
      return;
    }
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

    ::FillRect(target, &area, back.get());
    for (const Control* control : form.Controls()) {
      if (const auto* label = dynamic_cast<const Label*>(control)) {
        // A moving thumb damages a few pixels: labels far from them are not
        // laid out again for nothing.
        if (paint::LabelMayReach(*label, damaged, dpi)) DrawLabel(target, *label, dpi);
      } else if (const auto* line = dynamic_cast<const Line*>(control)) {
        DrawLine(target, *line, dpi);
      }
    }

    if (target != dc) {
      ::SetViewportOrgEx(target, 0, 0, nullptr);
      ::BitBlt(dc, area.left, area.top, width, height, target, 0, 0, SRCCOPY);
    }
  }
}

void Win32Backend::DrawLabel(HDC dc, const Label& label, int dpi) {
  if (!label.Visible) return;
  RECT outer = win32::ToRECT(paint::LabelBox(label, dpi));
  if (label.backStyle == BackStyle::Opaque) {
    win32::UniqueBrush brush(::CreateSolidBrush(win32::ToColorRef(label.BackColor)));
    ::FillRect(dc, &outer, brush.get());
  }
  if (label.FixedSingleBorder) ::DrawEdge(dc, &outer, BDR_SUNKENOUTER, BF_RECT);
  RECT box = win32::ToRECT(paint::CaptionBox(label, dpi));
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
  const int width = paint::PenWidth(line, dpi);
  const COLORREF colour = win32::ToColorRef(line.BorderColor);
  win32::UniquePen pen(::CreatePen(PS_SOLID, width, colour));
  win32::Selection selected(dc, pen.get());
  const paint::Segment ends = paint::LineEnds(line, dpi);
  ::MoveToEx(dc, ends.x1, ends.y1, nullptr);
  ::LineTo(dc, ends.x2, ends.y2);
  // A thin line stops short of its end point; draw that one too.
  if (width == 1) ::SetPixel(dc, ends.x2, ends.y2, colour);
}

// The text's own extent, placed as DrawLabel places it.
RECT Win32Backend::LabelTextRect(HDC dc, const Label& label, int dpi) {
  const Rect caption = paint::CaptionBox(label, dpi);
  const RECT box = win32::ToRECT(caption);
  const std::wstring text = win32::Widen(label.Caption.get());
  if (text.empty()) return RECT{};
  win32::Selection font(dc, LabelFont(dc, label, box, dpi));
  RECT calc = box;
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &calc,
              TextFlags(label) | DT_CALCRECT);
  const int width = calc.right - calc.left;
  const int left = paint::AlignedLeft(caption, width, label.alignment);
  RECT placed{left, box.top, left + width, calc.bottom};
  // Italic glyphs lean past their advance.
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::InflateRect(&placed, 2 + paint::ItalicLean(label.font, metrics.tmHeight), 2);
  return placed;
}

RECT Win32Backend::ControlBounds(HWND hwnd, const Control& control, int dpi) {
  if (const auto* label = dynamic_cast<const Label*>(&control)) {
    RECT box = win32::ToRECT(paint::LabelBox(*label, dpi));
    win32::WindowDC dc(hwnd);
    if (dc.get() != nullptr) {
      const RECT text = LabelTextRect(dc.get(), *label, dpi);
      if (::IsRectEmpty(&text) == FALSE) ::UnionRect(&box, &box, &text);
    }
    return box;
  }
  if (const auto* line = dynamic_cast<const Line*>(&control)) {
    return win32::ToRECT(paint::LineBounds(*line, dpi));
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

// The laid-out face, or a stand-in of the same kind where it is missing.
std::wstring Win32Backend::ResolveFace(const Font& font) {
  return win32::Widen(paint::ResolveFace(
      font.Name, paint::FontSystem::Gdi,
      [this](const std::string& face) { return FaceInstalled(win32::Widen(face)); }));
}

bool Win32Backend::FaceInstalled(const std::wstring& face) {
  auto it = faces_.find(face);
  if (it != faces_.end()) return it->second;
  bool found = false;
  if (face.size() < LF_FACESIZE) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(query.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    const win32::ScreenDC screen;
    if (screen.get() != nullptr) {
      ::EnumFontFamiliesExW(screen.get(), &query, &FoundFace, reinterpret_cast<LPARAM>(&found), 0);
    }
  }
  faces_.emplace(face, found);
  return found;
}

}  // namespace platform

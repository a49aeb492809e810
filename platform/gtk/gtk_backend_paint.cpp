// Painting the form model with Cairo and Pango: the back colour, the
// border, then labels and lines in the order the form holds them.
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/gtk/gtk_backend.h"
#include "platform/paint_policy.h"
#include "platform/runtime.h"

namespace platform {

namespace {

// The classic desktop colours that a 0x800000nn colour names.
std::uint32_t SystemColour(std::uint32_t index) {
  switch (index) {
    case 5:   // window
    case 20:  // button highlight
      return 0xFFFFFF;
    case 6:  // window frame
      return 0x646464;
    case 8:   // window text
    case 18:  // button text
    case 7:   // menu text
      return 0x000000;
    case 15:  // button face
    case 4:   // menu
      return 0xF0F0F0;
    case 16:  // button shadow
      return 0xA0A0A0;
    case 17:  // grey text
      return 0x6D6D6D;
    case 21:  // dark shadow
      return 0x696969;
    case 22:  // light
      return 0xE3E3E3;
    case 13:  // highlight
      return 0xD77800;
    case 14:  // highlight text
      return 0xFFFFFF;
    default:
      return 0xF0F0F0;
  }
}

void SetColour(cairo_t* cr, Colour colour) {
  auto bits = static_cast<std::uint32_t>(colour);
  bits = (bits & 0x80000000U) != 0 ? SystemColour(bits & 0xFFU) : (bits & 0x00FFFFFFU);
  cairo_set_source_rgb(cr, (bits & 0xFFU) / 255.0, ((bits >> 8) & 0xFFU) / 255.0,
                       ((bits >> 16) & 0xFFU) / 255.0);
}

GdkRectangle ToGdk(const Rect& rect) {
  return GdkRectangle{rect.left, rect.top, rect.Width(), rect.Height()};
}

void FillRect(cairo_t* cr, int x, int y, int width, int height, std::uint32_t bgr) {
  SetColour(cr, static_cast<Colour>(bgr));
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
}

// One ring of an edge: top and left in one colour, bottom and right in
// another.
void EdgeRing(cairo_t* cr, int x, int y, int width, int height, std::uint32_t topLeft,
              std::uint32_t bottomRight) {
  if (width <= 0 || height <= 0) return;
  FillRect(cr, x, y, width, 1, topLeft);
  FillRect(cr, x, y, 1, height, topLeft);
  FillRect(cr, x, y + height - 1, width, 1, bottomRight);
  FillRect(cr, x + width - 1, y, 1, height, bottomRight);
}

// Whether fontconfig knows a family of this name, in any of its languages.
bool FaceInstalled(const std::string& face) {
  static std::map<std::string, bool> known;
  auto it = known.find(face);
  if (it != known.end()) return it->second;
  bool found = false;
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  if (pattern != nullptr && objects != nullptr) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    if (FcFontSet* fonts = FcFontList(nullptr, pattern, objects)) {
      found = fonts->nfont > 0;
      FcFontSetDestroy(fonts);
    }
  }
  if (objects != nullptr) FcObjectSetDestroy(objects);
  if (pattern != nullptr) FcPatternDestroy(pattern);
  known.emplace(face, found);
  return found;
}

}  // namespace

// The laid-out face, or a stand-in of the same kind where it is missing;
// with neither, fontconfig's own choice.
std::string GtkBackend::ResolveFace(const std::string& face) {
  return paint::ResolveFace(face, paint::FontSystem::Fontconfig, FaceInstalled);
}

PangoLayout* GtkBackend::LayoutFor(gtk::Window& /*window*/, const Label& label, int dpi) {
  // Measured and drawn alike: on a scratch surface when there is nothing
  // to draw on yet.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  PangoContext* context = pango_layout_get_context(layout);
  pango_cairo_context_set_resolution(context, dpi);
  if (GdkScreen* screen = gdk_screen_get_default()) {
    if (const cairo_font_options_t* options = gdk_screen_get_font_options(screen)) {
      pango_cairo_context_set_font_options(context, options);
    }
  }
  pango_layout_context_changed(layout);

  PangoFontDescription* font = pango_font_description_new();
  const std::string family = ResolveFace(label.font.Name);
  pango_font_description_set_family(font, family.c_str());
  pango_font_description_set_size(font,
                                  static_cast<gint>(std::lround(label.font.Size * PANGO_SCALE)));
  pango_font_description_set_weight(font,
                                    label.font.Bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(font,
                                   label.font.Italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  // Not wrapped: a caption a little wider than its label (a substitute
  // font) is still read whole.
  pango_layout_set_width(layout, -1);
  switch (label.alignment) {
    case Alignment::Left:
      pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
      break;
    case Alignment::Right:
      pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
      break;
    case Alignment::Center:
      pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
      break;
  }
  const std::string& caption = label.Caption.get();
  pango_layout_set_text(layout, caption.c_str(), static_cast<int>(caption.size()));
  return layout;
}

gboolean GtkBackend::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  if (w == nullptr || w->form == nullptr) return FALSE;
  Runtime::Get().SizeAutoSizedLabels(*w->form);
  self->Paint(*w, cr);
  return TRUE;
}

void GtkBackend::Paint(gtk::Window& window, cairo_t* cr) {
  const Form& form = *window.form;
  const int dpi = ScreenDpi();
  cairo_save(cr);
  SetColour(cr, form.BackColor);
  cairo_paint(cr);
  if (window.frame > 0) DrawFrame(cr, window);
  cairo_translate(cr, window.frame, window.frame);
  cairo_rectangle(cr, 0, 0, window.clientWidth, window.clientHeight);
  cairo_clip(cr);
  double clipLeft = 0;
  double clipTop = 0;
  double clipRight = 0;
  double clipBottom = 0;
  cairo_clip_extents(cr, &clipLeft, &clipTop, &clipRight, &clipBottom);
  const Rect damaged = paint::Enclosing(clipLeft, clipTop, clipRight, clipBottom);
  for (const Control* control : form.Controls()) {
    if (const auto* label = dynamic_cast<const Label*>(control)) {
      // A moving thumb damages a few pixels: labels far from them are not
      // laid out again for nothing.
      if (paint::LabelMayReach(*label, damaged, dpi)) DrawLabel(window, cr, *label, dpi);
    } else if (const auto* line = dynamic_cast<const Line*>(control)) {
      DrawLine(cr, *line, dpi);
    }
  }
  cairo_restore(cr);
}

// The frame of a window without a title bar: a line, or the raised edge of
// a dialog frame with the face colour inside it.
void GtkBackend::DrawFrame(cairo_t* cr, const gtk::Window& window) {
  const int width = window.clientWidth + 2 * window.frame;
  const int height = window.clientHeight + 2 * window.frame;
  if (window.frame == 1) {
    EdgeRing(cr, 0, 0, width, height, 0x646464, 0x646464);
    return;
  }
  EdgeRing(cr, 0, 0, width, height, 0xE3E3E3, 0x696969);
  EdgeRing(cr, 1, 1, width - 2, height - 2, 0xFFFFFF, 0xA0A0A0);
  for (int ring = 2; ring < window.frame; ++ring) {
    EdgeRing(cr, ring, ring, width - 2 * ring, height - 2 * ring, 0xF0F0F0, 0xF0F0F0);
  }
}

void GtkBackend::DrawLabel(gtk::Window& window, cairo_t* cr, const Label& label, int dpi) {
  if (!label.Visible) return;
  const GdkRectangle outer = ToGdk(paint::LabelBox(label, dpi));
  if (label.backStyle == BackStyle::Opaque) {
    SetColour(cr, label.BackColor);
    cairo_rectangle(cr, outer.x, outer.y, outer.width, outer.height);
    cairo_fill(cr);
  }
  if (label.FixedSingleBorder) {
    // A sunken outer edge, one pixel.
    EdgeRing(cr, outer.x, outer.y, outer.width, outer.height, 0xA0A0A0, 0xFFFFFF);
  }
  if (label.Caption.get().empty()) return;
  const Rect box = paint::CaptionBox(label, dpi);
  PangoLayout* layout = LayoutFor(window, label, dpi);
  PangoRectangle logical{};
  pango_layout_get_pixel_extents(layout, nullptr, &logical);
  const int x = paint::AlignedLeft(box, logical.width, label.alignment);
  SetColour(cr, label.ForeColor);
  cairo_move_to(cr, x - logical.x, box.top);
  pango_cairo_update_layout(cr, layout);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

void GtkBackend::DrawLine(cairo_t* cr, const Line& line, int dpi) {
  const int width = paint::PenWidth(line, dpi);
  const paint::Segment ends = paint::LineEnds(line, dpi);
  const double x1 = ends.x1;
  const double y1 = ends.y1;
  const double x2 = ends.x2;
  const double y2 = ends.y2;
  cairo_save(cr);
  // Crisp like a pen on a device context: whole pixels, no smoothing.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  SetColour(cr, line.BorderColor);
  cairo_set_line_width(cr, width);
  if (width == 1) {
    // Through pixel centres, both end points included.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    cairo_move_to(cr, x1 + 0.5, y1 + 0.5);
    cairo_line_to(cr, x2 + 0.5, y2 + 0.5);
  } else {
    // A wide pen has round ends.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

GdkRectangle GtkBackend::ControlBounds(gtk::Window& window, const Control& control, int dpi) {
  if (const auto* label = dynamic_cast<const Label*>(&control)) {
    const Rect laidOut = paint::LabelBox(*label, dpi);
    GdkRectangle box = ToGdk(laidOut);
    if (!label->Caption.get().empty()) {
      PangoLayout* layout = LayoutFor(window, *label, dpi);
      PangoRectangle ink{};
      PangoRectangle logical{};
      pango_layout_get_pixel_extents(layout, &ink, &logical);
      g_object_unref(layout);
      const int x = paint::AlignedLeft(laidOut, logical.width, label->alignment);
      // Where the glyphs reach, italic lean included, plus a margin.
      const int lean = paint::ItalicLean(label->font, logical.height);
      GdkRectangle text{x + std::min(ink.x, 0) - logical.x - 2 - lean,
                        box.y + std::min(ink.y, 0) - 2,
                        std::max(logical.width, ink.x + ink.width) + 4 + 2 * lean,
                        std::max(logical.height, ink.y + ink.height) + 4};
      gdk_rectangle_union(&box, &text, &box);
    }
    return box;
  }
  if (const auto* line = dynamic_cast<const Line*>(&control)) {
    return ToGdk(paint::LineBounds(*line, dpi));
  }
  return GdkRectangle{0, 0, 0, 0};  // timers and the dialog control draw nothing
}

std::optional<std::pair<Twips, Twips>> GtkBackend::MeasureLabel(Form& form, const Label& label) {
  gtk::Window* window = WindowOf(form);
  if (window == nullptr) return std::nullopt;
  const int dpi = ScreenDpi();
  PangoLayout* layout = LayoutFor(*window, label, dpi);
  PangoRectangle logical{};
  pango_layout_get_pixel_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  int width = label.Caption.get().empty() ? 0 : logical.width;
  int height = logical.height;  // an empty caption is one line high
  if (label.FixedSingleBorder) {
    width += 2;
    height += 2;
  }
  return std::make_pair(PixelsToTwips(static_cast<float>(width), dpi),
                        PixelsToTwips(static_cast<float>(height), dpi));
}

}  // namespace platform

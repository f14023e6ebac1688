// The panel service's view of a panel: the listing a user reads, and the
// drawing functions a thumbnail control draws with (RGB bytes, palette colours
// as greys).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "hostsim/services/panel_text.h"
#include "hostsim/services/xpanel.h"

namespace hostsim {
namespace {

// The hints the panel model holds no field for, by their names, as a module
// author wrote them.
std::string hintName(uint32_t tag) {
  static const struct {
    uint32_t tag;
    const char *name, *what;
  } kNames[] = {{XPTAG_LEFT, "XPTAG_LEFT", "left-aligned layout"},
                {XPTAG_NARROW, "XPTAG_NARROW", "narrow layout"},
                {XPTAG_DIVADD, "XPTAG_DIVADD", "dividers added"},
                {XPTAG_DIVREM, "XPTAG_DIVREM", "dividers removed"}};
  for (const auto &n : kNames)
    if (n.tag == tag) return std::string(n.name) + ", " + n.what;
  return "of a tag this host does not know, " + hexId(tag);
}

// What a module draws in RGB is in the light of what the host hands it, and
// hostsim's image list answers pixel reads in linear light: a thumbnail drawn
// from them, channel × 255 as Pixel Image draws it, holds linear bytes. The
// host's panel shows its raster on the display, where a user sees an image's
// own colours; so the panel encodes RGB draws for the display with the sRGB
// curve, as the picture output does, and navy stays navy. (The darkest tones
// suffer: the module's bytes give linear light 1/255 apart, which is 13
// display levels at the bottom.) Palette colours are the panel's own, display
// values already.
uint8_t displayByte(int32_t linear) noexcept {
  static const auto table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double v = i / 255.0, e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
      t[static_cast<std::size_t>(i)] = static_cast<uint8_t>(std::lround(e * 255));
    }
    return t;
  }();
  return table[static_cast<std::size_t>(std::clamp(linear, 0, 255))];
}

struct DrawOps {
  static void put(DrawArea &a, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) noexcept {
    if (x < 0 || y < 0 || x >= a.width || y >= a.height) return;
    uint8_t *px = &a.rgb[3 * (static_cast<std::size_t>(y) * a.width + x)];
    px[0] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    px[1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    px[2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
  }
  // Drawing happens in the drawing callback, on the area handed to it.
  static DrawArea *areaOf(LWXPDrAreaID area, const char *function) noexcept {
    Call call("LWXPDrawFuncs", function, From::HostCallback);
    return call && call.area(area, "the drawing area") ? reinterpret_cast<DrawArea *>(area) : nullptr;
  }
  static int32_t grey(int32_t index) noexcept { return std::clamp(index, 0, 15) * 17; }
  static void fill(DrawArea &a, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
    for (int32_t j = std::max(0, y); j < std::min(a.height, y + h); ++j)
      for (int32_t i = std::max(0, x); i < std::min(a.width, x + w); ++i) put(a, r, g, b, i, j);
  }
  static void drawPixel(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y) noexcept {
    DrawArea *a = areaOf(area, "drawPixel");
    if (!a) return;
    ++a->paletteDraws;
    put(*a, grey(index), grey(index), grey(index), x, y);
  }
  static void drawRGBPixel(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y) noexcept {
    DrawArea *a = areaOf(area, "drawRGBPixel");
    if (!a) return;
    ++a->pixels;
    put(*a, displayByte(r), displayByte(g), displayByte(b), x, y);
  }
  static void drawLine(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y, int32_t x2, int32_t y2) noexcept {
    DrawArea *a = areaOf(area, "drawLine");
    if (!a) return;
    ++a->paletteDraws;
    // Bresenham, both ends included; a line longer than any area stops.
    const int32_t dx = std::abs(x2 - x), dy = -std::abs(y2 - y), sx = x < x2 ? 1 : -1, sy = y < y2 ? 1 : -1;
    int32_t err = dx + dy;
    for (int guard = 0; guard < 1 << 16; ++guard) {
      put(*a, grey(index), grey(index), grey(index), x, y);
      if (x == x2 && y == y2) break;
      const int32_t e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y += sy;
      }
    }
  }
  static void drawBox(LWXPDrAreaID area, int32_t index, int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
    DrawArea *a = areaOf(area, "drawBox");
    if (!a) return;
    ++a->paletteDraws;
    fill(*a, grey(index), grey(index), grey(index), x, y, w, h);
  }
  static void drawRGBBox(LWXPDrAreaID area, int32_t r, int32_t g, int32_t b, int32_t x, int32_t y, int32_t w,
                         int32_t h) noexcept {
    DrawArea *a = areaOf(area, "drawRGBBox");
    if (!a) return;
    ++a->boxes;
    fill(*a, displayByte(r), displayByte(g), displayByte(b), x, y, w, h);
  }
  // A bevel: light top and left, dark bottom and right; an indent swaps them.
  static void drawBorder(LWXPDrAreaID area, int32_t indent, int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
    DrawArea *a = areaOf(area, "drawBorder");
    if (!a || w <= 0 || h <= 0) return;
    ++a->paletteDraws;
    const int32_t light = indent ? 64 : 224, dark = indent ? 224 : 64;
    fill(*a, light, light, light, x, y, w, 1);
    fill(*a, light, light, light, x, y, 1, h);
    fill(*a, dark, dark, dark, x, y + h - 1, w, 1);
    fill(*a, dark, dark, dark, x + w - 1, y, 1, h);
  }
  // Text is measured in cells of 8 by 12 pixels and drawn as one block per
  // character: the stand-in host has no fonts.
  static int32_t textWidth(LWXPDrAreaID area, char *text) noexcept {
    return areaOf(area, "textWidth") && text ? 8 * static_cast<int32_t>(std::strlen(text)) : 0;
  }
  static int32_t textHeight(LWXPDrAreaID area, char *text) noexcept { return areaOf(area, "textHeight") && text ? 12 : 0; }
  static void drawText(LWXPDrAreaID area, char *text, int32_t index, int32_t x, int32_t y) noexcept {
    DrawArea *a = areaOf(area, "drawText");
    if (!a || !text) return;
    ++a->paletteDraws;
    for (std::size_t i = 0; text[i]; ++i)
      if (text[i] != ' ') fill(*a, grey(index), grey(index), grey(index), x + 8 * static_cast<int32_t>(i) + 1, y + 2, 6, 8);
  }
};

} // namespace

LWXPDrawFuncs XPanelService::drawFunctions() {
  LWXPDrawFuncs f{};
  f.drawPixel = handed(&DrawOps::drawPixel);
  f.drawRGBPixel = handed(&DrawOps::drawRGBPixel);
  f.drawLine = handed(&DrawOps::drawLine);
  f.drawBox = handed(&DrawOps::drawBox);
  f.drawRGBBox = handed(&DrawOps::drawRGBBox);
  f.drawBorder = handed(&DrawOps::drawBorder);
  f.textWidth = handed(&DrawOps::textWidth);
  f.textHeight = handed(&DrawOps::textHeight);
  f.drawText = handed(&DrawOps::drawText);
  return f;
}

DrawArea XPanelService::drawThumbnail(Panel &p, const PanelControl &c, int32_t width, int32_t height) const {
  DrawArea area;
  area.width = std::max(0, width);
  area.height = std::max(0, height);
  area.rgb.assign(3 * static_cast<std::size_t>(area.width) * area.height, 0);
  if (c.draw) {
    CallbackScope scope(Callback::PanelDraw, nodeOf(p));
    scope.frame().area = &area;
    c.draw(reinterpret_cast<LWXPanelID>(&p), c.id, reinterpret_cast<LWXPDrAreaID>(&area), area.width, area.height);
  }
  return area;
}

std::pair<int32_t, int32_t> XPanelService::thumbnailSize(const PanelControl &c) {
  const uint32_t bits = c.thumbnail;
  int32_t width = 160, num = 3, den = 4; // height = width * num / den
  if (bits & THUM_SML) width = 80;
  if (bits & THUM_MED) width = 160;
  if (bits & THUM_LRG) width = 240;
  if (bits & THUM_XLG) width = 320;
  if (bits & THUM_SQ) num = den = 1;
  if (bits & THUM_NTSC) num = 3, den = 4;
  if (bits & THUM_35MM) num = 2, den = 3;
  if (bits & THUM_PORT) num = 4, den = 3;
  if (bits & THUM_WIDE) num = 9, den = 16;
  return {width, width * num / den};
}

std::string XPanelService::describe(Panel &p, const std::string &title) const {
  std::ostringstream out;
  out << title << "\n";
  // Everything a layout item holds, so that it is shown only inside it.
  std::vector<uint32_t> contained;
  for (const auto &l : p.layout) contained.insert(contained.end(), l.members.begin(), l.members.end());
  std::sort(contained.begin(), contained.end());
  const auto isContained = [&](uint32_t id) { return std::binary_search(contained.begin(), contained.end(), id); };

  std::function<uint32_t(uint32_t)> firstControl = [&](uint32_t id) -> uint32_t {
    if (const PanelLayout *l = p.layoutItem(id)) {
      uint32_t best = UINT32_MAX;
      for (uint32_t m : l->members) best = std::min(best, firstControl(m));
      if (l->kind == XPTAG_STACK) best = std::min(best, l->controller);
      return best;
    }
    return id;
  };

  std::function<void(uint32_t, int)> show = [&](uint32_t id, int depth) {
    const std::string pad(2 * depth, ' ');
    if (const PanelLayout *l = p.layoutItem(id)) {
      if (l->kind == XPTAG_TABS) {
        out << pad << "tabs:\n";
        for (uint32_t m : l->members) show(m, depth + 1);
      } else if (l->kind == XPTAG_GROUP) {
        out << pad << "group" << (l->label.empty() ? "" : " \"" + l->label + "\"") << ":\n";
        for (uint32_t m : l->members) show(m, depth + 1);
      } else {
        PanelControl *ctl = p.control(l->controller);
        out << pad << "stack switched by \"" << (ctl ? ctl->label : hexId(l->controller)) << "\":\n";
        for (std::size_t i = 0; i < l->members.size(); ++i) {
          const std::string item = ctl ? popupItem(p, *ctl, static_cast<int32_t>(i)) : "";
          out << pad << "  page " << i << (item.empty() ? "" : " \"" + item + "\"") << ":\n";
          show(l->members[i], depth + 2);
        }
      }
      return;
    }
    PanelControl *c = p.control(id);
    if (!c) return;
    out << pad << (c->label.empty() ? "(no label)" : "\"" + c->label + "\"") << " [" << hexId(c->id) << "] "
        << c->controlType;
    if (!c->dataType.empty()) {
      const ControlValue v = value(p, *c);
      out << " = ";
      switch (v.kind) {
      case ControlValue::None:
        out << "(no value)";
        break;
      case ControlValue::Integer:
        out << v.integer;
        if (c->isPopup()) out << " \"" << popupItem(p, *c, v.integer) << "\"";
        break;
      case ControlValue::Text:
        out << "\"" << v.text << "\"";
        break;
      case ControlValue::Param: {
        const double scale = panelScale(c->controlType);
        for (int i = 0; i < v.param->components; ++i)
          out << (i ? " " : "") << panelValue(c->controlType, v.param->value[i] * scale);
        out << panelUnit(c->controlType);
        if (v.param->animated()) out << " (animated)";
        break;
      }
      }
    }
    out << limitsText(*c);
    if (c->draw || c->thumbnail) out << "  thumbnail";
    if (const auto why = disabledBy(p, *c)) out << "  DISABLED" << (why->empty() ? "" : ": " + *why);
    out << "\n";
    if (const auto when = enabledWhen(p, *c)) out << pad << "    enabled when " << *when << "\n";
    if (c->isPopup()) {
      const int32_t n = popupCount(p, *c);
      out << pad << "    items:";
      for (int32_t i = 0; i < n; ++i) out << (i ? "," : "") << " \"" << popupItem(p, *c, i) << "\"";
      out << "\n";
    }
  };

  std::vector<uint32_t> top;
  for (const auto &c : p.controls)
    if (!isContained(c.id)) top.push_back(c.id);
  for (const auto &l : p.layout)
    if (!isContained(l.id)) top.push_back(l.id);
  std::stable_sort(top.begin(), top.end(), [&](uint32_t a, uint32_t b) { return firstControl(a) < firstControl(b); });
  for (uint32_t id : top) show(id, 1);
  for (const auto &h : p.unknown) {
    out << "  (hint " << hintName(h.tag) << ":";
    for (intptr_t a : h.args) out << " " << (a > 0x8000 && a <= static_cast<intptr_t>(UINT32_MAX) ? hexId(static_cast<uint32_t>(a)) : std::to_string(a));
    if (XPTAG_HAS_LIST(h.tag)) {
      out << " [";
      for (std::size_t i = 0; i < h.list.size(); ++i) out << (i ? " " : "") << hexId(h.list[i]);
      out << "]";
    }
    out << ")\n";
  }
  for (const auto &e : p.hintErrors) out << "  HINT ERROR: " << e << "\n";
  return out.str();
}

} // namespace hostsim

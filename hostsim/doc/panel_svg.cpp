#include "hostsim/doc/panel_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>

#include "hostsim/services/panel_text.h"

namespace hostsim::doc {

namespace {

// The panel's measures, in pixels. Labels end at kLabelRight, fields start at
// kFieldLeft, as the host's panels line them up.
constexpr double kWidth = 400, kLabelRight = 138, kFieldLeft = 146, kRow = 26, kField = 19, kPad = 10;
constexpr double kFont = 12, kTitle = 24;

std::string fmt(double v, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s == "-0" || s.rfind("-0.", 0) == 0) {
    bool zero = s.find_first_not_of("-0.") == std::string::npos;
    if (zero) s.erase(0, 1);
  }
  return s;
}

std::string px(double v) { return fmt(v, 1); }

struct Svg {
  std::ostringstream out;
  std::string prefix;
  int ids = 0;

  void rect(double x, double y, double w, double h, const std::string &cls, double r = 0) {
    out << "<rect class=\"" << cls << "\" x=\"" << px(x) << "\" y=\"" << px(y) << "\" width=\"" << px(w)
        << "\" height=\"" << px(h) << "\"";
    if (r > 0) out << " rx=\"" << px(r) << "\"";
    out << "/>";
  }
  // Text that must fit fit pixels (0: no box of its own).
  void text(double x, double y, const std::string &t, const std::string &cls, double fit = 0,
            const char *anchor = nullptr) {
    out << "<text class=\"" << cls << "\" x=\"" << px(x) << "\" y=\"" << px(y) << "\"";
    if (anchor) out << " text-anchor=\"" << anchor << "\"";
    if (fit > 0) out << " data-fit=\"" << px(fit) << "\"";
    out << ">" << escape(t) << "</text>";
  }
};

} // namespace

std::string pageUnit(const std::string &controlType) {
  return controlType == "angle-env" ? "\u00B0" : XPanelService::panelUnit(controlType);
}

std::string escape(const std::string &text) {
  std::string s;
  for (char c : text) {
    switch (c) {
    case '&': s += "&amp;"; break;
    case '<': s += "&lt;"; break;
    case '>': s += "&gt;"; break;
    case '"': s += "&quot;"; break;
    default: s += c;
    }
  }
  return s;
}

double textWidth(const std::string &text, double size) {
  // DejaVu Sans advances in em, grouped roughly: it is a wide face.
  double em = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) == 0x80) continue; // a UTF-8 continuation byte
    if (c == ' ') em += 0.318;
    else if (c == 'i' || c == 'l' || c == 'j' || c == '.' || c == ',' || c == ':' || c == '\'' || c == '|') em += 0.28;
    else if (c == 'f' || c == 't' || c == 'r' || c == '(' || c == ')' || c == '[' || c == ']' || c == '-') em += 0.40;
    else if (c == 'm' || c == 'w' || c == 'M' || c == 'W' || c == '%') em += 0.95;
    else if (c >= 'A' && c <= 'Z') em += 0.72;
    else if (c >= '0' && c <= '9') em += 0.636;
    else em += 0.61;
  }
  return em * size;
}

std::string shownValue(XPanelService &panels, Panel &p, const PanelControl &c) {
  if (c.dataType.empty()) return "";
  const ControlValue v = panels.value(p, c);
  switch (v.kind) {
  case ControlValue::None:
    return "";
  case ControlValue::Integer:
    if (c.isPopup()) {
      const std::string item = panels.popupItem(p, c, v.integer);
      return item.empty() ? "(none)" : item;
    }
    if (c.controlType == "iBoolean") return v.integer ? "on" : "off";
    return std::to_string(v.integer);
  case ControlValue::Text:
    return v.text;
  case ControlValue::Param: {
    // The numbers of hostsim panel; the units as a page writes them.
    const double scale = XPanelService::panelScale(c.controlType);
    std::string s;
    for (int i = 0; i < v.param->components; ++i) s += (i ? " " : "") + panelValue(c.controlType, v.param->value[i] * scale);
    return s + pageUnit(c.controlType);
  }
  }
  return "";
}

std::string panelSvg(XPanelService &panels, Panel &p, const PanelSvgOptions &o) {
  Svg svg;
  svg.prefix = o.idPrefix;
  std::set<uint32_t> contained;
  for (const auto &l : p.layout)
    for (uint32_t m : l.members) contained.insert(m);

  std::function<uint32_t(uint32_t)> firstControl = [&](uint32_t id) -> uint32_t {
    if (const PanelLayout *l = p.layoutItem(id)) {
      uint32_t best = UINT32_MAX;
      for (uint32_t m : l->members) best = std::min(best, firstControl(m));
      if (l->kind == XPTAG_STACK) best = std::min(best, l->controller);
      return best;
    }
    return id;
  };

  // Draws one control with its top at y inside [x, x + w); returns its height.
  auto drawControl = [&](const PanelControl &c, double x, double y, double w) -> double {
    const bool on = panels.enabled(p, c);
    const double fieldX = x + (kFieldLeft - kPad), fieldW = x + w - fieldX;
    const double labelRight = x + (kLabelRight - kPad), labelW = labelRight - x;
    const double base = y + kField - 5; // the text baseline inside a field
    svg.out << "<g class=\"xp-ctl" << (on ? "" : " xp-off") << "\" data-id=\"" << c.id << "\">";
    const std::string value = shownValue(panels, p, c);
    double h = kRow;
    const std::string &t = c.controlType;
    if (t == "iBoolean") {
      svg.rect(fieldX, y + 2, 15, 15, "xp-field", 2);
      if (value == "on") svg.out << "<path class=\"xp-tick\" d=\"M" << px(fieldX + 3) << " " << px(y + 10) << " l4 4 l7 -9\"/>";
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
    } else if (t == "iChoice") {
      // All items side by side, the chosen one pressed in.
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      const int32_t n = panels.popupCount(p, c);
      const ControlValue v = panels.value(p, c);
      double cx = fieldX;
      for (int32_t i = 0; i < n; ++i) {
        const std::string item = panels.popupItem(p, c, i);
        const double bw = textWidth(item, kFont) + 16;
        const bool chosen = v.kind == ControlValue::Integer && v.integer == i;
        svg.rect(cx, y, bw, kField, chosen ? "xp-button xp-chosen" : "xp-button", 2);
        svg.text(cx + bw / 2, base, item, "xp-value", bw - 4, "middle");
        cx += bw + 2;
      }
    } else if (c.isPopup()) {
      // The items a click would open, as the popup's tooltip.
      svg.out << "<title>";
      for (int32_t i = 0, n = panels.popupCount(p, c); i < n; ++i)
        svg.out << (i ? "\n" : "") << escape(panels.popupItem(p, c, i));
      svg.out << "</title>";
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      double widest = textWidth(value, kFont);
      for (int32_t i = 0, n = panels.popupCount(p, c); i < n; ++i)
        widest = std::max(widest, textWidth(panels.popupItem(p, c, i), kFont));
      const double bw = std::min(fieldW, std::max(90.0, widest + 34));
      svg.rect(fieldX, y, bw, kField, "xp-button", 2);
      svg.text(fieldX + 7, base, value, "xp-value", bw - 26);
      svg.out << "<path class=\"xp-arrow\" d=\"M" << px(fieldX + bw - 15) << " " << px(y + 7) << " h8 l-4 5 z\"/>";
    } else if (t == "dThumbnail") {
      const auto [tw, th] = XPanelService::thumbnailSize(c);
      const double tx = x + (w - tw) / 2;
      svg.rect(tx - 1, y + 3, tw + 2, th + 2, "xp-well");
      if (!o.thumbnail.empty())
        svg.out << "<image href=\"" << escape(o.thumbnail) << "\" x=\"" << px(tx) << "\" y=\"" << px(y + 4)
                << "\" width=\"" << tw << "\" height=\"" << th << "\" style=\"image-rendering:pixelated\"/>";
      h = th + 10;
    } else if (t == "color-env") {
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      const ControlValue v = panels.value(p, c);
      if (v.kind == ControlValue::Param) {
        char rgb[32];
        auto byte = [&](int i) { return std::clamp(static_cast<int>(std::lround(v.param->value[i] * 255)), 0, 255); };
        std::snprintf(rgb, sizeof rgb, "#%02x%02x%02x", byte(0), byte(1), byte(2));
        svg.out << "<rect class=\"xp-swatch\" x=\"" << px(fieldX) << "\" y=\"" << px(y) << "\" width=\"30\" height=\""
                << px(kField) << "\" fill=\"" << rgb << "\"/>";
        for (int i = 0; i < 3; ++i) {
          const double fx = fieldX + 34 + i * 48;
          svg.rect(fx, y, 44, kField, "xp-field", 2);
          svg.text(fx + 40, base, panelValue(t, v.param->value[i] * 255), "xp-value", 38, "end");
        }
      } else {
        svg.rect(fieldX, y, 30, kField, "xp-field", 2);
      }
      svg.rect(x + w - 18, y, 18, kField, "xp-button", 2);
      svg.text(x + w - 9, base, "E", "xp-env", 0, "middle");
    } else if (c.isEnv() && (t == "float3-env" || t == "distance3-env")) {
      // One row per component, labelled X, Y, Z as the host labels them.
      const ControlValue v = panels.value(p, c);
      static const char *axes[3] = {"X", "Y", "Z"};
      for (int i = 0; i < 3; ++i) {
        const double ry = y + i * (kField + 3);
        if (i == 0) svg.text(labelRight, ry + kField - 5, c.label, "xp-label", labelW, "end");
        svg.text(fieldX + 4, ry + kField - 5, axes[i], "xp-axis");
        svg.rect(fieldX + 16, ry, 120, kField, "xp-field", 2);
        std::string s;
        if (v.kind == ControlValue::Param)
          s = panelValue(t, v.param->value[i]) + pageUnit(t);
        svg.text(fieldX + 16 + 116, ry + kField - 5, s, "xp-value", 112, "end");
      }
      svg.rect(x + w - 18, y, 18, kField, "xp-button", 2);
      svg.text(x + w - 9, base, "E", "xp-env", 0, "middle");
      h = 3 * (kField + 3) + 4;
    } else if (c.isEnv()) {
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      svg.rect(fieldX, y, 120, kField, "xp-field", 2);
      svg.text(fieldX + 116, base, value, "xp-value", 112, "end");
      svg.rect(x + w - 18, y, 18, kField, "xp-button", 2);
      svg.text(x + w - 9, base, "E", "xp-env", 0, "middle");
    } else if (t == "integer") {
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      svg.rect(fieldX, y, 80, kField, "xp-field", 2);
      svg.text(fieldX + 76, base, value, "xp-value", 72, "end");
      // A slider where the host gives the control a range.
      if (c.rangeMin && c.rangeMax && *c.rangeMax > *c.rangeMin) {
        const double sx = fieldX + 90, sw = fieldW - 94;
        svg.rect(sx, y + kField / 2 - 2, sw, 4, "xp-groove", 2);
        const ControlValue v = panels.value(p, c);
        if (v.kind == ControlValue::Integer) {
          const double f = std::clamp(double(v.integer - *c.rangeMin) / (*c.rangeMax - *c.rangeMin), 0.0, 1.0);
          svg.rect(sx + f * (sw - 8), y + 2, 8, kField - 4, "xp-button", 2);
        }
      }
    } else if (c.dataType == "string") {
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      svg.rect(fieldX, y, fieldW, kField, "xp-text", 2);
      svg.text(fieldX + 5, base, value, "xp-value", fieldW - 10);
    } else {
      // A control type this drawing does not know is shown as a plain field,
      // so nothing the module asks for goes missing.
      svg.text(labelRight, base, c.label, "xp-label", labelW, "end");
      svg.rect(fieldX, y, 120, kField, "xp-field", 2);
      svg.text(fieldX + 116, base, value, "xp-value", 112, "end");
    }
    // A line per control, so that a change to one shows as one line in a diff.
    svg.out << "</g>\n";
    return h;
  };

  // Draws a layout item or control at y; returns its height.
  std::function<double(uint32_t, double, double, double)> draw = [&](uint32_t id, double x, double y,
                                                                     double w) -> double {
    if (const PanelLayout *l = p.layoutItem(id)) {
      if (l->kind == XPTAG_TABS) {
        const std::string set = svg.prefix + "t" + std::to_string(svg.ids++);
        // The tab strip: each tab named by its group's label.
        double tx = x;
        for (std::size_t i = 0; i < l->members.size(); ++i) {
          const PanelLayout *g = p.layoutItem(l->members[i]);
          const std::string name = g && !g->label.empty() ? g->label : "Tab " + std::to_string(i + 1);
          const double tw = textWidth(name, kFont) + 22;
          svg.out << "<g class=\"xp-tab" << (i == 0 ? " xp-on" : "") << "\" data-tabs=\"" << set << "\" data-page=\""
                  << i << "\" role=\"button\" tabindex=\"0\">";
          svg.rect(tx, y, tw, 22, "xp-tabface", 3);
          svg.text(tx + tw / 2, y + 15, name, "xp-tablabel", tw - 6, "middle");
          svg.out << "</g>";
          tx += tw + 2;
        }
        const double top = y + 21;
        double tallest = 0;
        std::ostringstream pages;
        for (std::size_t i = 0; i < l->members.size(); ++i) {
          std::ostringstream saved;
          saved << svg.out.str();
          svg.out.str("");
          const PanelLayout *g = p.layoutItem(l->members[i]);
          double hy = top + 10;
          if (g && g->kind == XPTAG_GROUP) {
            for (uint32_t m : g->members) hy += draw(m, x + 8, hy, w - 16);
          } else {
            hy += draw(l->members[i], x + 8, hy, w - 16);
          }
          tallest = std::max(tallest, hy - top);
          pages << "<g class=\"xp-page\" data-tabs=\"" << set << "\" data-page=\"" << i << "\""
                << (i == 0 ? "" : " style=\"display:none\"") << ">" << svg.out.str() << "</g>";
          svg.out.str("");
          svg.out << saved.str();
        }
        svg.rect(x, top, w, tallest + 4, "xp-tabpage", 2);
        svg.out << pages.str();
        return 21 + tallest + 4 + 8;
      }
      if (l->kind == XPTAG_GROUP) {
        double hy = y;
        if (!l->label.empty()) {
          svg.text(x + 2, y + 13, l->label, "xp-group", w - 4);
          hy += 19;
        }
        const double top = hy;
        std::ostringstream saved;
        saved << svg.out.str();
        svg.out.str("");
        hy += 6;
        for (uint32_t m : l->members) hy += draw(m, x + 6, hy, w - 12);
        const std::string inner = svg.out.str();
        svg.out.str("");
        svg.out << saved.str();
        svg.rect(x, top, w, hy - top + 2, "xp-frame", 3);
        svg.out << inner;
        return hy - y + 8;
      }
      // A stack shows the page of its controller's current item.
      const PanelControl *ctl = p.control(l->controller);
      int32_t page = 0;
      if (ctl) {
        const ControlValue v = panels.value(p, *ctl);
        if (v.kind == ControlValue::Integer) page = v.integer;
      }
      if (l->map && ctl && page >= 0 && page < panels.popupCount(p, *ctl)) page = l->map[page];
      if (page < 0 || static_cast<std::size_t>(page) >= l->members.size()) return 0;
      return draw(l->members[static_cast<std::size_t>(page)], x, y, w);
    }
    const PanelControl *c = p.control(id);
    return c ? drawControl(*c, x, y, w) : 0;
  };

  std::vector<uint32_t> top;
  for (const auto &c : p.controls)
    if (!contained.count(c.id)) top.push_back(c.id);
  for (const auto &l : p.layout)
    if (!contained.count(l.id)) top.push_back(l.id);
  std::stable_sort(top.begin(), top.end(), [&](uint32_t a, uint32_t b) { return firstControl(a) < firstControl(b); });

  double y = kTitle + 12;
  for (uint32_t id : top) y += draw(id, kPad, y, kWidth - 2 * kPad);
  const double height = y + 6;
  const std::string body = svg.out.str();

  std::ostringstream out;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"xp-panel\" width=\"" << px(kWidth) << "\" height=\""
      << px(height) << "\" viewBox=\"0 0 " << px(kWidth) << " " << px(height) << "\" role=\"img\" aria-label=\"Panel of "
      << escape(o.title) << "\">"
      << "<style>"
         ".xp-panel text{font-family:'DejaVu Sans',sans-serif;font-size:12px;fill:#151515}"
         ".xp-bg{fill:#9d9d9d;stroke:#4a4a4a}.xp-titlebar{fill:#5f6670}"
         ".xp-panel .xp-title{fill:#f2f2f2;font-weight:bold}"
         ".xp-field{fill:#c9c9c9;stroke:#5a5a5a}.xp-text{fill:#e6e6e6;stroke:#5a5a5a}"
         ".xp-button{fill:#b8b8b8;stroke:#555}.xp-chosen{fill:#6f7782}.xp-panel .xp-chosen+text{fill:#fff}"
         ".xp-well{fill:#333;stroke:#222}.xp-swatch{stroke:#333}.xp-groove{fill:#6d6d6d}"
         ".xp-frame{fill:none;stroke:#6c6c6c}.xp-panel .xp-group{font-weight:bold;fill:#262626}"
         ".xp-tabface{fill:#8a8a8a;stroke:#555}.xp-on .xp-tabface{fill:#a9a9a9}"
         ".xp-tab{cursor:pointer}.xp-tabpage{fill:#a9a9a9;stroke:#555}"
         ".xp-tick{fill:none;stroke:#111;stroke-width:2}.xp-arrow{fill:#222}"
         ".xp-panel .xp-env{font-size:10px;font-weight:bold}.xp-panel .xp-axis{fill:#333}"
         ".xp-off text{fill:#5e5e5e}.xp-off .xp-field,.xp-off .xp-button,.xp-off .xp-text{fill:#a4a4a4;stroke:#7a7a7a}"
         ".xp-off .xp-tick,.xp-off .xp-arrow{stroke:#6a6a6a;fill:#6a6a6a}"
         "</style>";
  out << "<rect class=\"xp-bg\" x=\"0.5\" y=\"0.5\" width=\"" << px(kWidth - 1) << "\" height=\"" << px(height - 1)
      << "\" rx=\"3\"/>";
  out << "<rect class=\"xp-titlebar\" x=\"1\" y=\"1\" width=\"" << px(kWidth - 2) << "\" height=\"" << px(kTitle)
      << "\"/>";
  out << "<text class=\"xp-title\" x=\"" << px(kPad) << "\" y=\"17\" data-fit=\"" << px(kWidth - 2 * kPad) << "\">"
      << escape(o.title) << "</text>";
  out << body << "</svg>";
  return out.str();
}

} // namespace hostsim::doc

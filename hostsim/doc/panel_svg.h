// A node's panel drawn as SVG the way the host lays it out: controls in id
// order, labels left of their fields, tabs, groups, the current page of each
// stack, popups showing their current item, and controls the enable rules
// turn off greyed. Everything drawn comes from the panel model the host read
// out of the module's hint arrays and from the node's get callback.
#pragma once

#include <string>

#include "hostsim/services/xpanel.h"

namespace hostsim::doc {

struct PanelSvgOptions {
  std::string title;     // drawn in the panel's title bar
  std::string thumbnail; // href of the drawn thumbnail's picture, if it has one
  std::string idPrefix;  // keeps ids apart when several panels share a page
};

// The SVG, with each tab's page in its own group (class "xp-page"); all but
// the first are hidden until a script switches them. Text that must fit a box
// carries data-fit, the box's width in pixels, for the browser check.
std::string panelSvg(XPanelService &panels, Panel &p, const PanelSvgOptions &options);

// The width DejaVu Sans at size px gives text, estimated from per-character
// advances; the browser check measures the real one.
double textWidth(const std::string &text, double px);

// A value's unit as the page writes it: "°", " %", " m" (hostsim panel
// writes degrees as "deg").
std::string pageUnit(const std::string &controlType);

// Text made safe for XML and HTML.
std::string escape(const std::string &text);

// A control's value as the panel shows it ("45°", "50 %", "(none)"), its
// numbers as hostsim panel prints them; empty for controls that hold none.
std::string shownValue(XPanelService &panels, Panel &p, const PanelControl &c);

} // namespace hostsim::doc

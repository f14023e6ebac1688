// Text shared by the panel service's files.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace hostsim {

// Ids and tags as the panel listing and the hint reader's errors show them.
inline std::string hexId(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04x", id);
  return buf;
}

// A value as the listing and the messages show it: six significant digits.
inline std::string panelNumber(double v) {
  // "%.6g", by the definition of to_chars, without printf's cost.
  char buf[32];
  return {buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6).ptr};
}

// One component of a control's value in panel units (degrees, percent, 0 to
// 255 for a colour), as the listing and the node reference both show it.
// A colour is kept as a fraction, and one written with five digits (0.78431
// for 200) comes back a thousandth of a level off: colour components show to
// a hundredth of a level.
inline std::string panelValue(const std::string &controlType, double v) {
  if (controlType == "color-env") v = std::round(v * 100) / 100;
  return panelNumber(v == 0 ? 0.0 : v); // no "-0"
}

} // namespace hostsim

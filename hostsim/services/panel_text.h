// Text shared by the panel service's files.
#pragma once

#include <charconv>
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

} // namespace hostsim

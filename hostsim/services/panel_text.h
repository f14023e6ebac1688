// Text shared by the panel service's files.
#pragma once

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

} // namespace hostsim

// A conformance run of a module against the stand-in host: every server is
// activated, every node created, persisted, copied, evaluated, its panel
// opened, and destroyed, checking what the host relies on.
#pragma once

#include <string>
#include <vector>

#include "hostsim/loader.h"

namespace hostsim {

struct ValidationReport {
  std::vector<std::string> lines; // "ok ..." or "FAIL ..."
  int failures = 0;
};

ValidationReport validateModule(const Module &module);

} // namespace hostsim

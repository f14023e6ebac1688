// A conformance run of a module against the stand-in host, the checks a
// module author can trust: the server table; every node activated with each
// service withheld in turn and with wrong versions; created, loaded from
// empty, random and oversized blocks, saved, loaded and saved again in both
// stream modes, copied, evaluated from several threads at once with thread
// numbers in and out of range, its panel opened, edited and closed, and
// destroyed. Each check runs in a process of its own, so that a crash is the
// failure of that check and not the end of the run.
#pragma once

#include <string>
#include <vector>

#include "hostsim/loader.h"

namespace hostsim {

struct ValidationReport {
  std::vector<std::string> lines; // "ok   ..." or "FAIL ..."; each names its node
  int failures = 0;
};

// isolate: each check in a child process (POSIX); false runs them in this one.
ValidationReport validateModule(const Module &module, bool isolate = true);

} // namespace hostsim

// The stand-in host fails by throwing hostsim::Error; tests read its message.
#pragma once

#include <string>

#include "hostsim/error.h"

namespace testsupport {

// What the Error fn throws says, or "(no error)" when it throws none.
template <class Fn> std::string thrownBy(Fn &&fn) {
  try {
    fn();
  } catch (const hostsim::Error &e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace testsupport

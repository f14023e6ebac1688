// The last stand of the hostsim command: whatever a command throws ends in
// one line and exit status 2, never in an abort and a core dump.
#pragma once

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "hostsim/error.h"

namespace hostsim {

// Runs command() and returns its status; an exception gives the one-line
// fault "hostsim: what" and 2.
template <class Command>
int guarded(Command &&command) noexcept {
  try {
    return command();
  } catch (const std::bad_alloc &) {
    std::fputs("hostsim: out of memory\n", stderr);
  } catch (const std::exception &e) {
    try {
      std::fprintf(stderr, "hostsim: %s\n", oneLine(e.what()).c_str());
    } catch (...) {
      std::fputs("hostsim: out of memory\n", stderr);
    }
  } catch (...) {
    std::fputs("hostsim: an unknown error stopped the command\n", stderr);
  }
  return 2;
}

} // namespace hostsim

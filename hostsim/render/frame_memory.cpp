#include "hostsim/render/frame_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace hostsim {
namespace {

constexpr uint64_t kUnlimited = UINT64_MAX;

// Fields of /proc/self/statm, in pages: 0 the whole address space, 5 data and stack.
uint64_t statmBytes(int field) {
  std::ifstream in("/proc/self/statm");
  uint64_t v = 0;
  for (int i = 0; i <= field; ++i)
    if (!(in >> v)) return 0;
  return v * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t headroom(int resource, int statmField) {
  rlimit r{};
  if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return kUnlimited;
  const uint64_t used = statmBytes(statmField);
  return r.rlim_cur > used ? r.rlim_cur - used : 0;
}

// MemAvailable and SwapFree: beyond them the system would start killing
// processes rather than refuse an allocation.
uint64_t systemAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string line;
  uint64_t total = 0;
  bool found = false;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string key;
    uint64_t kb = 0;
    if (!(ls >> key >> kb)) continue;
    if (key == "MemAvailable:" || key == "SwapFree:") {
      total += kb * 1024;
      found = true;
    }
  }
  return found ? total : kUnlimited;
}

// A container's memory limit (cgroup v2), which the system figures ignore.
uint64_t groupAvailable() {
  std::ifstream maxIn("/sys/fs/cgroup/memory.max"), curIn("/sys/fs/cgroup/memory.current");
  std::string max;
  uint64_t current = 0;
  if (!(maxIn >> max) || max == "max" || !(curIn >> current)) return kUnlimited;
  try {
    const uint64_t limit = std::stoull(max);
    return limit > current ? limit - current : 0;
  } catch (...) {
    return kUnlimited;
  }
}

} // namespace

uint64_t frameBytes(int width, int height) {
  const uint64_t pixels = static_cast<uint64_t>(std::max(width, 0)) * static_cast<uint64_t>(std::max(height, 0));
  return pixels * 3 * sizeof(float) * 2;
}

uint64_t availableBytes() {
  return std::min({headroom(RLIMIT_AS, 0), headroom(RLIMIT_DATA, 5), systemAvailable(), groupAvailable()});
}

} // namespace hostsim

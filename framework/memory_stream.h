// A save and load state over memory, in the binary layout: what the host
// writes through one it reads back through the other. A load keeps each
// variant parameter this way before the block's parameters are read, so that
// those read before a damaged one can be put back whole (value, envelope and
// all the host saves) through the host's own save and load. host thread
#pragma once

#include <cstddef>
#include <vector>

#include "host/lw_host.h"

namespace juxs::fw {

class MemoryStream {
public:
  MemoryStream();
  MemoryStream(const MemoryStream &) = delete;
  MemoryStream &operator=(const MemoryStream &) = delete;

  // Writes append; blocks nest. False once memory ran out or a block was left
  // open: what was written is then not to be read.
  const LWSaveState *saveState() noexcept { return &save_; }
  bool complete() const noexcept { return ok_ && open_.empty(); }
  // Reads from the start of what was written.
  const LWLoadState *loadState() noexcept;

private:
  struct Access;
  static constexpr std::size_t kInitialRoom = 1024;
  std::vector<char> bytes_;
  std::vector<std::size_t> open_; // writing: where each open block's length goes; reading: where it ends
  std::size_t at_ = 0;
  bool ok_ = true;
  LWSaveState save_{};
  LWLoadState load_{};
};

} // namespace juxs::fw

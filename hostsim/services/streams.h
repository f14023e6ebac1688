// Scene load and save streams over memory, in the host's two forms: binary
// (big-endian, strings NUL-terminated, a block as its id, its length and its
// content) and readable text (one line per write, strings quoted, a block
// between "{ token" and "}" lines).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "host/lw_io.h"
#include "hostsim/checks.h"

namespace hostsim {

// A stream's own state (state()) is the host's: the host reads and writes
// through it itself. A module's load or save callback is handed another,
// through a LoadScope or SaveScope, that reaches the stream only while that
// callback runs.
class SaveStream {
public:
  explicit SaveStream(int32_t ioMode = LWIO_BINARY);
  SaveStream(const SaveStream &) = delete;
  SaveStream &operator=(const SaveStream &) = delete;

  const LWSaveState *state() const { return &state_; }
  const std::vector<uint8_t> &bytes() const { return bytes_; }
  // The bytes written, moved out: the stream is left empty.
  std::vector<uint8_t> take() { return std::exchange(bytes_, {}); }
  std::string text() const { return std::string(bytes_.begin(), bytes_.end()); }
  int32_t mode() const { return state_.ioMode; }
  // A write found the host without memory: the bytes are not what was
  // written, and no write since has been taken.
  bool outOfMemory() const { return outOfMemory_; }

private:
  friend struct SaveOps;
  friend struct CheckedSaveOps;
  LWSaveState state_{};
  std::vector<uint8_t> bytes_;
  std::vector<std::size_t> blocks_; // where each open block's content starts
  bool outOfMemory_ = false;
};

// Every read is bounds-checked: a read that the data cannot satisfy fails,
// zero-fills what it was asked for, and leaves the stream failed, so that no
// later read returns anything either.
class LoadStream {
public:
  LoadStream(std::span<const uint8_t> data, int32_t ioMode = LWIO_BINARY);
  explicit LoadStream(const std::string &text, int32_t ioMode = LWIO_ASCII);
  LoadStream(const LoadStream &) = delete;
  LoadStream &operator=(const LoadStream &) = delete;

  const LWLoadState *state() const { return &state_; }
  bool failed() const { return failed_; }
  // It failed because a read found the host without memory.
  bool outOfMemory() const { return outOfMemory_; }
  std::size_t remaining() const { return data_.size() - pos_; }
  // True when only white space is left (text) or nothing at all (binary).
  bool atEnd() const;

private:
  friend struct LoadOps;
  friend struct CheckedLoadOps;
  // What a binary read may still take: up to the end of the open block.
  std::size_t avail() const {
    const std::size_t end = blocks_.empty() || state_.ioMode == LWIO_ASCII ? data_.size() : blocks_.back();
    return end > pos_ ? end - pos_ : 0;
  }

  LWLoadState state_{};
  std::vector<uint8_t> data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
  bool outOfMemory_ = false;
  std::vector<std::size_t> blocks_; // binary: where each open block ends
};

// The host calling a node's load: the callback runs inside one, and is
// handed state(), a state of its own that reads from the stream while the
// scope lasts and is refused after.
class LoadScope {
public:
  LoadScope(LoadStream &in, const HostNode *node);
  ~LoadScope();
  LoadScope(const LoadScope &) = delete;
  LoadScope &operator=(const LoadScope &) = delete;
  const LWLoadState *state() const { return &handed_->load; }

private:
  HandedState *handed_;
  CallbackScope scope_;
};

// The same for a node's save.
class SaveScope {
public:
  SaveScope(SaveStream &out, const HostNode *node);
  ~SaveScope();
  SaveScope(const SaveScope &) = delete;
  SaveScope &operator=(const SaveScope &) = delete;
  const LWSaveState *state() const { return &handed_->save; }

private:
  HandedState *handed_;
  CallbackScope scope_;
};

} // namespace hostsim

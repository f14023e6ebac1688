#include "framework/memory_stream.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace juxs::fw {

// Values are kept as their bytes; a block is its id, then the length of what
// it holds, then that. Every callback is noexcept: running out of memory
// spoils the stream instead.
struct MemoryStream::Access {
  static MemoryStream &of(void *data) { return *static_cast<MemoryStream *>(data); }

  static void put(void *data, const void *p, std::size_t n) noexcept {
    MemoryStream &m = of(data);
    if (!m.ok_ || n == 0) return;
    try {
      const auto *c = static_cast<const char *>(p);
      m.bytes_.insert(m.bytes_.end(), c, c + n);
    } catch (...) {
      m.ok_ = false;
    }
  }
  template <class T>
  static void write(void *data, const T *vals, int32_t n) noexcept {
    if (vals && n > 0) put(data, vals, sizeof(T) * static_cast<std::size_t>(n));
  }
  static void writeRaw(void *data, const char *buf, int32_t len) noexcept { write(data, buf, len); }
  static void writeStr(void *data, const char *s) noexcept {
    if (!s) s = "";
    put(data, s, std::strlen(s) + 1);
  }
  static void writeID(void *data, const LWBlockIdent *id) noexcept {
    const LWID v = id ? id->id : 0;
    put(data, &v, sizeof v);
  }
  static void beginBlk(void *data, const LWBlockIdent *id, int32_t) noexcept {
    MemoryStream &m = of(data);
    writeID(data, id);
    const uint32_t length = 0; // written at the block's end
    put(data, &length, sizeof length);
    if (!m.ok_) return;
    try {
      m.open_.push_back(m.bytes_.size());
    } catch (...) {
      m.ok_ = false;
    }
  }
  static void endWriteBlk(void *data) noexcept {
    MemoryStream &m = of(data);
    if (m.open_.empty()) return;
    const std::size_t start = m.open_.back();
    m.open_.pop_back();
    const auto length = static_cast<uint32_t>(m.bytes_.size() - start);
    std::memcpy(m.bytes_.data() + start - sizeof length, &length, sizeof length);
  }
  static int32_t writeDepth(void *data) noexcept { return static_cast<int32_t>(of(data).open_.size()); }

  // Reading: the end of the innermost open block, or of everything.
  static std::size_t end(const MemoryStream &m) { return m.open_.empty() ? m.bytes_.size() : m.open_.back(); }
  template <class T>
  static int32_t read(void *data, T *vals, int32_t n) noexcept {
    MemoryStream &m = of(data);
    if (!vals || n <= 0) return 0;
    const std::size_t size = sizeof(T) * static_cast<std::size_t>(n);
    if (end(m) - m.at_ < size) return -1;
    std::memcpy(vals, m.bytes_.data() + m.at_, size);
    m.at_ += size;
    return n;
  }
  static int32_t readRaw(void *data, char *buf, int32_t len) noexcept { return read(data, buf, len); }
  static int32_t readStr(void *data, char *buf, int32_t max) noexcept {
    MemoryStream &m = of(data);
    const char *s = m.bytes_.data() + m.at_;
    const void *nul = std::memchr(s, '\0', end(m) - m.at_);
    if (!nul || !buf || max <= 0) return -1;
    const std::size_t length = static_cast<std::size_t>(static_cast<const char *>(nul) - s);
    const std::size_t kept = length < static_cast<std::size_t>(max) - 1 ? length : static_cast<std::size_t>(max) - 1;
    std::memcpy(buf, s, kept);
    buf[kept] = '\0';
    m.at_ += length + 1;
    return static_cast<int32_t>(kept);
  }
  // The block at the read position: its id and where it ends; false when none.
  static bool peek(const MemoryStream &m, LWID &id, std::size_t &blockEnd) {
    uint32_t length = 0;
    if (end(m) - m.at_ < sizeof id + sizeof length) return false;
    std::memcpy(&id, m.bytes_.data() + m.at_, sizeof id);
    std::memcpy(&length, m.bytes_.data() + m.at_ + sizeof id, sizeof length);
    blockEnd = m.at_ + sizeof id + sizeof length + length;
    return blockEnd <= end(m);
  }
  static bool listed(const LWBlockIdent *ids, LWID id) {
    for (; ids && ids->id; ++ids)
      if (ids->id == id) return true;
    return false;
  }
  static LWID open(MemoryStream &m, LWID id, std::size_t blockEnd) {
    try {
      m.open_.push_back(blockEnd);
    } catch (...) {
      return 0;
    }
    m.at_ += sizeof(LWID) + sizeof(uint32_t);
    return id;
  }
  static LWID readID(void *data, const LWBlockIdent *ids) noexcept {
    MemoryStream &m = of(data);
    LWID id = 0;
    std::size_t blockEnd = 0;
    return peek(m, id, blockEnd) && listed(ids, id) ? open(m, id, blockEnd) : 0;
  }
  static LWID findBlk(void *data, const LWBlockIdent *ids) noexcept {
    MemoryStream &m = of(data);
    LWID id = 0;
    std::size_t blockEnd = 0;
    while (peek(m, id, blockEnd)) {
      if (listed(ids, id)) return open(m, id, blockEnd);
      m.at_ = blockEnd;
    }
    return 0;
  }
  static void endReadBlk(void *data) noexcept {
    MemoryStream &m = of(data);
    if (m.open_.empty()) return;
    m.at_ = m.open_.back();
    m.open_.pop_back();
  }
  static int32_t readDepth(void *data) noexcept { return static_cast<int32_t>(of(data).open_.size()); }
};

MemoryStream::MemoryStream() {
  // A node's parameters take a few hundred bytes: room for them at once
  // rather than a doubling for every few values written. Should even that
  // fail, the stream grows as it goes, and complete() tells if it could not.
  try {
    bytes_.reserve(kInitialRoom);
  } catch (...) {
  }
  using A = Access;
  save_ = {LWIO_BINARY,      this,           &A::writeRaw,       &A::write<char>,     &A::write<int16_t>,
           &A::write<int32_t>, &A::write<uint8_t>, &A::write<uint16_t>, &A::write<uint32_t>, &A::write<float>,
           &A::writeStr,     &A::writeID,    &A::beginBlk,       &A::endWriteBlk,     &A::writeDepth,
           &A::write<double>};
}

const LWLoadState *MemoryStream::loadState() noexcept {
  using A = Access;
  open_.clear();
  at_ = 0;
  load_ = {LWIO_BINARY,     this,          &A::readRaw,        &A::read<char>,     &A::read<int16_t>,
           &A::read<int32_t>, &A::read<uint8_t>, &A::read<uint16_t>, &A::read<uint32_t>, &A::read<float>,
           &A::readStr,     &A::readID,    &A::findBlk,        &A::endReadBlk,     &A::readDepth,
           &A::read<double>};
  return &load_;
}

} // namespace juxs::fw

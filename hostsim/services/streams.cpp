#include "hostsim/services/streams.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

namespace hostsim {

// ---------------------------------------------------------------- saving

struct SaveOps {
  static SaveStream &of(void *d) noexcept { return *static_cast<SaveStream *>(d); }
  static bool text(const SaveStream &s) noexcept { return s.state_.ioMode == LWIO_ASCII; }

  // A write the host has no memory for fails the stream, and every write
  // after it is dropped: what the stream holds is no longer the block, and
  // the save that wrote it fails.
  template <class Body> static void guard(SaveStream &s, Body &&body) noexcept {
    if (s.outOfMemory_) return;
    try {
      body();
    } catch (...) {
      s.outOfMemory_ = true;
    }
  }

  static void put(SaveStream &s, std::string_view token, bool first) {
    if (!first) s.bytes_.push_back(' ');
    s.bytes_.insert(s.bytes_.end(), token.begin(), token.end());
  }
  static void endLine(SaveStream &s) { s.bytes_.push_back('\n'); }

  template <class T>
  static void putBig(SaveStream &s, T v) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                      std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
    U u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = sizeof(U) - 1; i >= 0; --i) s.bytes_.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }

  template <class T>
  static void writeInts(void *d, const T *vals, int32_t n) noexcept {
    SaveStream &s = of(d);
    if (!vals || n <= 0) return;
    guard(s, [&] { putInts(s, vals, n); });
  }
  template <class T>
  static void putInts(SaveStream &s, const T *vals, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
      if (text(s)) {
        char buf[24];
        const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(vals[i])).ptr;
        put(s, std::string_view(buf, static_cast<std::size_t>(end - buf)), i == 0);
      } else {
        putBig(s, vals[i]);
      }
    }
    if (text(s)) endLine(s);
  }

  template <class T>
  static void writeReals(void *d, const T *vals, int32_t n) noexcept {
    SaveStream &s = of(d);
    if (!vals || n <= 0) return;
    guard(s, [&] { putReals(s, vals, n); });
  }
  template <class T>
  static void putReals(SaveStream &s, const T *vals, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
      if (text(s)) {
        // As "%.9g" or "%.17g" writes it (the same characters, by the
        // definition of to_chars), without printf's multi-precision
        // arithmetic: an ASCII scene is mostly numbers.
        char buf[40];
        const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(vals[i]), std::chars_format::general,
                                       sizeof(T) == 4 ? 9 : 17)
                             .ptr;
        put(s, std::string_view(buf, static_cast<std::size_t>(end - buf)), i == 0);
      } else {
        putBig(s, vals[i]);
      }
    }
    if (text(s)) endLine(s);
  }

  static void write(void *d, const char *buf, int32_t len) noexcept {
    SaveStream &s = of(d);
    if (!buf || len <= 0) return;
    guard(s, [&] { putBytes(s, buf, len); });
  }
  static void putBytes(SaveStream &s, const char *buf, int32_t len) {
    if (!text(s)) {
      s.bytes_.insert(s.bytes_.end(), buf, buf + len);
      return;
    }
    std::string token = "#";
    static const char kHex[] = "0123456789abcdef";
    for (int32_t i = 0; i < len; ++i) {
      auto b = static_cast<uint8_t>(buf[i]);
      token += kHex[b >> 4];
      token += kHex[b & 15];
    }
    put(s, token, true);
    endLine(s);
  }

  static void writeStr(void *d, const char *str) noexcept {
    SaveStream &s = of(d);
    guard(s, [&] { putString(s, str ? str : ""); });
  }
  static void putString(SaveStream &s, const char *str) {
    if (!text(s)) {
      s.bytes_.insert(s.bytes_.end(), str, str + std::strlen(str) + 1);
      return;
    }
    std::string token = "\"";
    for (const char *p = str; *p; ++p) {
      auto c = static_cast<unsigned char>(*p);
      if (c == '"' || c == '\\') {
        token += '\\';
        token += static_cast<char>(c);
      } else if (c < 0x20 || c == 0x7f) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02x", c);
        token += esc;
      } else {
        token += static_cast<char>(c);
      }
    }
    token += '"';
    put(s, token, true);
    endLine(s);
  }

  static void writeI1(void *d, const char *v, int32_t n) noexcept {
    writeInts(d, reinterpret_cast<const int8_t *>(v), n);
  }
  static void writeI2(void *d, const int16_t *v, int32_t n) noexcept { writeInts(d, v, n); }
  static void writeI4(void *d, const int32_t *v, int32_t n) noexcept { writeInts(d, v, n); }
  static void writeU1(void *d, const uint8_t *v, int32_t n) noexcept { writeInts(d, v, n); }
  static void writeU2(void *d, const uint16_t *v, int32_t n) noexcept { writeInts(d, v, n); }
  static void writeU4(void *d, const uint32_t *v, int32_t n) noexcept { writeInts(d, v, n); }
  static void writeFP(void *d, const float *v, int32_t n) noexcept { writeReals(d, v, n); }
  static void writeDP(void *d, const double *v, int32_t n) noexcept { writeReals(d, v, n); }

  // A bare id: four bytes, or the token as a word of its own line.
  static void writeID(void *d, const LWBlockIdent *id) noexcept {
    SaveStream &s = of(d);
    if (!id) return;
    guard(s, [&] {
      if (!text(s)) {
        putBig(s, id->id);
        return;
      }
      put(s, id->token ? id->token : "", true);
      endLine(s);
    });
  }
  // Binary: the id, then the length of what the block holds (patched when
  // the block ends). Text: "{ token" and "}" lines around the block.
  static void beginBlk(void *d, const LWBlockIdent *id, int32_t) noexcept {
    SaveStream &s = of(d);
    if (!id) return;
    guard(s, [&] {
      if (!text(s)) {
        putBig(s, id->id);
        putBig(s, uint32_t{0});
      } else {
        put(s, "{", true);
        put(s, id->token ? id->token : "", false);
        endLine(s);
      }
      s.blocks_.push_back(s.bytes_.size());
    });
  }
  static void endBlk(void *d) noexcept {
    SaveStream &s = of(d);
    if (s.blocks_.empty()) return;
    const std::size_t start = s.blocks_.back();
    s.blocks_.pop_back();
    guard(s, [&] {
      if (text(s)) {
        put(s, "}", true);
        endLine(s);
        return;
      }
      const auto length = static_cast<uint32_t>(s.bytes_.size() - start);
      for (int i = 0; i < 4; ++i) s.bytes_[start - 4 + i] = static_cast<uint8_t>(length >> (8 * (3 - i)));
    });
  }
  static int32_t depth(void *d) noexcept { return static_cast<int32_t>(of(d).blocks_.size()); }
};

SaveStream::SaveStream(int32_t ioMode) {
  // A node's block is a few hundred bytes: one allocation, not one per doubling.
  bytes_.reserve(256);
  state_.ioMode = ioMode == LWIO_ASCII ? LWIO_ASCII : LWIO_BINARY;
  state_.writeData = this;
  state_.write = handed(&SaveOps::write);
  state_.writeI1 = handed(&SaveOps::writeI1);
  state_.writeI2 = handed(&SaveOps::writeI2);
  state_.writeI4 = handed(&SaveOps::writeI4);
  state_.writeU1 = handed(&SaveOps::writeU1);
  state_.writeU2 = handed(&SaveOps::writeU2);
  state_.writeU4 = handed(&SaveOps::writeU4);
  state_.writeFP = handed(&SaveOps::writeFP);
  state_.writeStr = handed(&SaveOps::writeStr);
  state_.writeID = handed(&SaveOps::writeID);
  state_.beginBlk = handed(&SaveOps::beginBlk);
  state_.endBlk = handed(&SaveOps::endBlk);
  state_.depth = handed(&SaveOps::depth);
  state_.writeDP = handed(&SaveOps::writeDP);
}

// ---------------------------------------------------------------- loading

struct LoadOps {
  static LoadStream &of(void *d) noexcept { return *static_cast<LoadStream *>(d); }
  static bool text(const LoadStream &s) noexcept { return s.state_.ioMode == LWIO_ASCII; }

  static int32_t fail(LoadStream &s, void *buf, std::size_t bytes) noexcept {
    s.failed_ = true;
    if (buf && bytes) std::memset(buf, 0, bytes);
    return -1;
  }
  // A read the host has no memory for (a text token's copy) fails as a read
  // the data cannot satisfy, and leaves the stream failed: the load fails.
  template <class Body, class Failed>
  static auto guard(LoadStream &s, Body &&body, Failed &&failed) noexcept -> decltype(body()) {
    try {
      return body();
    } catch (...) {
      s.outOfMemory_ = true;
      return failed();
    }
  }

  static bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  // The next white-space separated token of the text form; a quoted string is
  // one token, unescaped into out. False at the end or on a malformed token.
  static bool nextToken(LoadStream &s, std::string &out, bool &quoted) {
    out.clear();
    quoted = false;
    while (s.pos_ < s.data_.size() && isSpace(s.data_[s.pos_])) ++s.pos_;
    if (s.pos_ >= s.data_.size()) return false;
    if (s.data_[s.pos_] != '"') {
      while (s.pos_ < s.data_.size() && !isSpace(s.data_[s.pos_])) out += static_cast<char>(s.data_[s.pos_++]);
      return true;
    }
    quoted = true;
    ++s.pos_;
    while (s.pos_ < s.data_.size()) {
      uint8_t c = s.data_[s.pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (s.pos_ >= s.data_.size()) return false;
      uint8_t e = s.data_[s.pos_++];
      if (e == 'x') {
        if (s.data_.size() - s.pos_ < 2) return false;
        char hex[3] = {static_cast<char>(s.data_[s.pos_]), static_cast<char>(s.data_[s.pos_ + 1]), 0};
        char *end = nullptr;
        long v = std::strtol(hex, &end, 16);
        if (end != hex + 2) return false;
        out += static_cast<char>(v);
        s.pos_ += 2;
      } else {
        out += static_cast<char>(e);
      }
    }
    return false; // no closing quote
  }

  template <class T>
  static bool getBig(LoadStream &s, T &v) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                      std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
    if (s.avail() < sizeof(U)) return false;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) u = static_cast<U>((u << 8) | s.data_[s.pos_ + i]);
    s.pos_ += sizeof(U);
    std::memcpy(&v, &u, sizeof v);
    return true;
  }

  template <class T>
  static bool parseInt(const std::string &token, T &v) {
    if (token.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long long x = std::strtoll(token.c_str(), &end, 10);
    if (errno || *end || x < static_cast<long long>(std::numeric_limits<T>::min()) ||
        x > static_cast<long long>(std::numeric_limits<T>::max()))
      return false;
    v = static_cast<T>(x);
    return true;
  }

  template <class T>
  static bool parseReal(const std::string &token, T &v) {
    if (token.empty()) return false;
    char *end = nullptr;
    double x = std::strtod(token.c_str(), &end);
    if (*end) return false;
    v = static_cast<T>(x);
    return true;
  }

  template <class T, bool Real>
  static int32_t readValues(void *d, T *vals, int32_t n) noexcept {
    LoadStream &s = of(d);
    if (!vals || n <= 0) return n == 0 ? 0 : -1;
    const std::size_t bytes = sizeof(T) * static_cast<std::size_t>(n);
    if (s.failed_) return fail(s, vals, bytes);
    return guard(s, [&] { return getValues<T, Real>(s, vals, n, bytes); }, [&] { return fail(s, vals, bytes); });
  }
  template <class T, bool Real>
  static int32_t getValues(LoadStream &s, T *vals, int32_t n, std::size_t bytes) {
    std::string token;
    bool quoted = false;
    for (int32_t i = 0; i < n; ++i) {
      bool ok;
      if (!text(s))
        ok = getBig(s, vals[i]);
      else if constexpr (Real)
        ok = nextToken(s, token, quoted) && !quoted && parseReal(token, vals[i]);
      else
        ok = nextToken(s, token, quoted) && !quoted && parseInt(token, vals[i]);
      if (!ok) return fail(s, vals, bytes);
    }
    return n;
  }

  static int32_t read(void *d, char *buf, int32_t len) noexcept {
    LoadStream &s = of(d);
    if (!buf || len <= 0) return len == 0 ? 0 : -1;
    if (s.failed_) return fail(s, buf, static_cast<std::size_t>(len));
    return guard(s, [&] { return getBytes(s, buf, len); }, [&] { return fail(s, buf, static_cast<std::size_t>(len)); });
  }
  static int32_t getBytes(LoadStream &s, char *buf, int32_t len) {
    if (!text(s)) {
      if (s.avail() < static_cast<std::size_t>(len)) return fail(s, buf, static_cast<std::size_t>(len));
      std::memcpy(buf, s.data_.data() + s.pos_, static_cast<std::size_t>(len));
      s.pos_ += static_cast<std::size_t>(len);
      return len;
    }
    std::string token;
    bool quoted = false;
    if (!nextToken(s, token, quoted) || quoted || token.size() != 1 + 2 * static_cast<std::size_t>(len) ||
        token[0] != '#')
      return fail(s, buf, static_cast<std::size_t>(len));
    for (int32_t i = 0; i < len; ++i) {
      char hex[3] = {token[1 + 2 * i], token[2 + 2 * i], 0};
      char *end = nullptr;
      long v = std::strtol(hex, &end, 16);
      if (end != hex + 2) return fail(s, buf, static_cast<std::size_t>(len));
      buf[i] = static_cast<char>(v);
    }
    return len;
  }

  static int32_t readStr(void *d, char *buf, int32_t max) noexcept {
    LoadStream &s = of(d);
    if (!buf || max <= 0) return -1; // nowhere to put even the terminator
    const auto cap = static_cast<std::size_t>(max);
    if (s.failed_) return fail(s, buf, cap);
    return guard(s, [&] { return getString(s, buf, cap); }, [&] { return fail(s, buf, cap); });
  }
  static int32_t getString(LoadStream &s, char *buf, std::size_t cap) {
    std::string token;
    std::size_t length = 0;
    const char *src = nullptr;
    if (text(s)) {
      bool quoted = false;
      if (!nextToken(s, token, quoted) || !quoted) return fail(s, buf, cap);
      src = token.c_str();
      length = std::strlen(src); // an escaped NUL ends the string, as in binary
    } else {
      const uint8_t *begin = s.data_.data() + s.pos_;
      const void *nul = std::memchr(begin, 0, s.avail());
      if (!nul) return fail(s, buf, cap);
      src = reinterpret_cast<const char *>(begin);
      length = static_cast<std::size_t>(static_cast<const uint8_t *>(nul) - begin);
      s.pos_ += length + 1;
    }
    const std::size_t stored = length < cap - 1 ? length : cap - 1;
    std::memcpy(buf, src, stored);
    buf[stored] = '\0';
    return static_cast<int32_t>(stored);
  }

  static int32_t readI1(void *d, char *v, int32_t n) noexcept {
    return readValues<int8_t, false>(d, reinterpret_cast<int8_t *>(v), n);
  }
  static int32_t readI2(void *d, int16_t *v, int32_t n) noexcept { return readValues<int16_t, false>(d, v, n); }
  static int32_t readI4(void *d, int32_t *v, int32_t n) noexcept { return readValues<int32_t, false>(d, v, n); }
  static int32_t readU1(void *d, uint8_t *v, int32_t n) noexcept { return readValues<uint8_t, false>(d, v, n); }
  static int32_t readU2(void *d, uint16_t *v, int32_t n) noexcept { return readValues<uint16_t, false>(d, v, n); }
  static int32_t readU4(void *d, uint32_t *v, int32_t n) noexcept { return readValues<uint32_t, false>(d, v, n); }
  static int32_t readFP(void *d, float *v, int32_t n) noexcept { return readValues<float, true>(d, v, n); }
  static int32_t readDP(void *d, double *v, int32_t n) noexcept { return readValues<double, true>(d, v, n); }

  // The id of the block that starts here when it is among ids (a list ended
  // by id 0), with the position after its header and where it ends; nothing
  // is consumed.
  static LWID peekBlock(LoadStream &s, const LWBlockIdent *ids, std::size_t &contentAt, std::size_t &endAt) {
    const std::size_t at = s.pos_;
    LWID found = 0;
    if (!text(s)) {
      uint32_t id = 0, length = 0;
      if (getBig(s, id) && getBig(s, length) && length <= s.avail()) {
        for (const LWBlockIdent *i = ids; i && i->id; ++i)
          if (i->id == id) found = id;
        contentAt = s.pos_;
        endAt = s.pos_ + length;
      }
    } else {
      std::string brace, token;
      bool q1 = false, q2 = false;
      if (nextToken(s, brace, q1) && !q1 && brace == "{" && nextToken(s, token, q2) && !q2) {
        for (const LWBlockIdent *i = ids; i && i->id; ++i)
          if (i->token && token == i->token) found = i->id;
        contentAt = s.pos_;
        endAt = 0; // found by matching braces
      }
    }
    s.pos_ = at;
    return found;
  }
  // Past the "}" that closes a text block whose content starts here; false
  // when the data ends first.
  static bool skipTextBlock(LoadStream &s) {
    std::string token;
    bool quoted = false;
    for (int level = 1; level > 0;) {
      if (!nextToken(s, token, quoted)) return false;
      if (!quoted && token == "{") ++level;
      if (!quoted && token == "}") --level;
    }
    return true;
  }
  static LWID readID(void *d, const LWBlockIdent *ids) noexcept {
    LoadStream &s = of(d);
    if (s.failed_) return 0;
    return guard(s, [&] { return enterBlock(s, ids); }, [&] { return failBlock(s); });
  }
  static LWID failBlock(LoadStream &s) noexcept {
    s.failed_ = true;
    return 0;
  }
  static LWID enterBlock(LoadStream &s, const LWBlockIdent *ids) {
    std::size_t contentAt = 0, endAt = 0;
    const LWID id = peekBlock(s, ids, contentAt, endAt);
    if (!id) return 0;
    s.blocks_.push_back(endAt);
    s.pos_ = contentAt;
    return id;
  }
  static LWID findBlk(void *d, const LWBlockIdent *ids) noexcept {
    LoadStream &s = of(d);
    return guard(s, [&] { return findBlock(s, ids); }, [&] { return failBlock(s); });
  }
  static LWID findBlock(LoadStream &s, const LWBlockIdent *ids) {
    while (!s.failed_) {
      if (const LWID id = enterBlock(s, ids)) return id;
      // Skip whatever block comes next at this level, if one does.
      static const LWBlockIdent kAny[] = {{0, nullptr}};
      std::size_t contentAt = 0, endAt = 0;
      const std::size_t at = s.pos_;
      peekBlock(s, kAny, contentAt, endAt);
      if (contentAt == 0) return 0;
      s.pos_ = contentAt;
      if (!text(s)) {
        s.pos_ = endAt;
      } else if (!skipTextBlock(s)) {
        s.pos_ = at;
        return 0;
      }
    }
    return 0;
  }
  static void endBlk(void *d) noexcept {
    LoadStream &s = of(d);
    if (s.blocks_.empty()) return;
    const std::size_t end = s.blocks_.back();
    s.blocks_.pop_back();
    if (!text(s))
      s.pos_ = end;
    else if (!guard(s, [&] { return skipTextBlock(s); }, [] { return false; }))
      s.failed_ = true;
  }
  static int32_t depth(void *d) noexcept { return static_cast<int32_t>(of(d).blocks_.size()); }
};

static void initLoadState(LWLoadState &st, LoadStream *self, int32_t ioMode) noexcept {
  st.ioMode = ioMode == LWIO_ASCII ? LWIO_ASCII : LWIO_BINARY;
  st.readData = self;
  st.read = handed(&LoadOps::read);
  st.readI1 = handed(&LoadOps::readI1);
  st.readI2 = handed(&LoadOps::readI2);
  st.readI4 = handed(&LoadOps::readI4);
  st.readU1 = handed(&LoadOps::readU1);
  st.readU2 = handed(&LoadOps::readU2);
  st.readU4 = handed(&LoadOps::readU4);
  st.readFP = handed(&LoadOps::readFP);
  st.readStr = handed(&LoadOps::readStr);
  st.readID = handed(&LoadOps::readID);
  st.findBlk = handed(&LoadOps::findBlk);
  st.endBlk = handed(&LoadOps::endBlk);
  st.depth = handed(&LoadOps::depth);
  st.readDP = handed(&LoadOps::readDP);
}

LoadStream::LoadStream(std::span<const uint8_t> data, int32_t ioMode) : data_(data.begin(), data.end()) {
  initLoadState(state_, this, ioMode);
}

LoadStream::LoadStream(const std::string &text, int32_t ioMode) : data_(text.begin(), text.end()) {
  initLoadState(state_, this, ioMode);
}

bool LoadStream::atEnd() const {
  if (state_.ioMode != LWIO_ASCII) return pos_ == data_.size();
  for (std::size_t i = pos_; i < data_.size(); ++i)
    if (!LoadOps::isSpace(data_[i])) return false;
  return true;
}

// ---------------------------------------------------------------- handed states

// A state handed to a module reaches its stream only from the callback it
// was handed to, while that callback runs: the host may keep anything of
// its own behind a state (a file, a stream object), so a state used after
// its callback, in another callback, or one the module made itself is
// refused before the host follows it anywhere.
namespace {

HandedState *handedOf(const LWLoadState *ls) { return reinterpret_cast<HandedState *>(const_cast<LWLoadState *>(ls)); }
HandedState *handedOf(const LWSaveState *ss) {
  return reinterpret_cast<HandedState *>(reinterpret_cast<char *>(const_cast<LWSaveState *>(ss)) -
                                         offsetof(HandedState, save));
}
static_assert(offsetof(HandedState, load) == 0);

constexpr const char *kReadData = "its first argument (the state's readData)";
constexpr const char *kWriteData = "its first argument (the state's writeData)";

} // namespace

struct CheckedLoadOps {
  static LoadStream *open(void *rd, const char *function) noexcept {
    Call call("LWLoadState", function, From::HostCallback);
    const auto *ls = static_cast<const LWLoadState *>(rd);
    if (!call || !call.loadState(ls, kReadData)) return nullptr;
    return static_cast<LoadStream *>(handedOf(ls)->stream);
  }
  static int32_t read(void *rd, char *b, int32_t n) noexcept {
    LoadStream *s = open(rd, "read");
    return s ? LoadOps::read(s, b, n) : -1;
  }
  static int32_t readI1(void *rd, char *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readI1");
    return s ? LoadOps::readI1(s, v, n) : -1;
  }
  static int32_t readI2(void *rd, int16_t *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readI2");
    return s ? LoadOps::readI2(s, v, n) : -1;
  }
  static int32_t readI4(void *rd, int32_t *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readI4");
    return s ? LoadOps::readI4(s, v, n) : -1;
  }
  static int32_t readU1(void *rd, uint8_t *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readU1");
    return s ? LoadOps::readU1(s, v, n) : -1;
  }
  static int32_t readU2(void *rd, uint16_t *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readU2");
    return s ? LoadOps::readU2(s, v, n) : -1;
  }
  static int32_t readU4(void *rd, uint32_t *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readU4");
    return s ? LoadOps::readU4(s, v, n) : -1;
  }
  static int32_t readFP(void *rd, float *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readFP");
    return s ? LoadOps::readFP(s, v, n) : -1;
  }
  static int32_t readDP(void *rd, double *v, int32_t n) noexcept {
    LoadStream *s = open(rd, "readDP");
    return s ? LoadOps::readDP(s, v, n) : -1;
  }
  static int32_t readStr(void *rd, char *b, int32_t max) noexcept {
    LoadStream *s = open(rd, "readStr");
    return s ? LoadOps::readStr(s, b, max) : -1;
  }
  static LWID readID(void *rd, const LWBlockIdent *ids) noexcept {
    LoadStream *s = open(rd, "readID");
    return s ? LoadOps::readID(s, ids) : 0;
  }
  static LWID findBlk(void *rd, const LWBlockIdent *ids) noexcept {
    LoadStream *s = open(rd, "findBlk");
    return s ? LoadOps::findBlk(s, ids) : 0;
  }
  static void endBlk(void *rd) noexcept {
    if (LoadStream *s = open(rd, "endBlk")) LoadOps::endBlk(s);
  }
  static int32_t depth(void *rd) noexcept {
    LoadStream *s = open(rd, "depth");
    return s ? LoadOps::depth(s) : 0;
  }
};

struct CheckedSaveOps {
  static SaveStream *open(void *wd, const char *function) noexcept {
    Call call("LWSaveState", function, From::HostCallback);
    const auto *ss = static_cast<const LWSaveState *>(wd);
    if (!call || !call.saveState(ss, kWriteData)) return nullptr;
    return static_cast<SaveStream *>(handedOf(ss)->stream);
  }
  static void write(void *wd, const char *b, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "write")) SaveOps::write(s, b, n);
  }
  static void writeI1(void *wd, const char *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeI1")) SaveOps::writeI1(s, v, n);
  }
  static void writeI2(void *wd, const int16_t *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeI2")) SaveOps::writeI2(s, v, n);
  }
  static void writeI4(void *wd, const int32_t *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeI4")) SaveOps::writeI4(s, v, n);
  }
  static void writeU1(void *wd, const uint8_t *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeU1")) SaveOps::writeU1(s, v, n);
  }
  static void writeU2(void *wd, const uint16_t *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeU2")) SaveOps::writeU2(s, v, n);
  }
  static void writeU4(void *wd, const uint32_t *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeU4")) SaveOps::writeU4(s, v, n);
  }
  static void writeFP(void *wd, const float *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeFP")) SaveOps::writeFP(s, v, n);
  }
  static void writeDP(void *wd, const double *v, int32_t n) noexcept {
    if (SaveStream *s = open(wd, "writeDP")) SaveOps::writeDP(s, v, n);
  }
  static void writeStr(void *wd, const char *str) noexcept {
    if (SaveStream *s = open(wd, "writeStr")) SaveOps::writeStr(s, str);
  }
  static void writeID(void *wd, const LWBlockIdent *id) noexcept {
    if (SaveStream *s = open(wd, "writeID")) SaveOps::writeID(s, id);
  }
  static void beginBlk(void *wd, const LWBlockIdent *id, int32_t leaf) noexcept {
    if (SaveStream *s = open(wd, "beginBlk")) SaveOps::beginBlk(s, id, leaf);
  }
  static void endBlk(void *wd) noexcept {
    if (SaveStream *s = open(wd, "endBlk")) SaveOps::endBlk(s);
  }
  static int32_t depth(void *wd) noexcept {
    SaveStream *s = open(wd, "depth");
    return s ? SaveOps::depth(s) : 0;
  }
};

LoadScope::LoadScope(LoadStream &in, const HostNode *node)
    : handed_(Checks::current().hand()), scope_(Callback::Load, node) {
  LWLoadState &st = handed_->load;
  st.ioMode = in.state()->ioMode;
  st.readData = &st;
  st.read = handed(&CheckedLoadOps::read);
  st.readI1 = handed(&CheckedLoadOps::readI1);
  st.readI2 = handed(&CheckedLoadOps::readI2);
  st.readI4 = handed(&CheckedLoadOps::readI4);
  st.readU1 = handed(&CheckedLoadOps::readU1);
  st.readU2 = handed(&CheckedLoadOps::readU2);
  st.readU4 = handed(&CheckedLoadOps::readU4);
  st.readFP = handed(&CheckedLoadOps::readFP);
  st.readStr = handed(&CheckedLoadOps::readStr);
  st.readID = handed(&CheckedLoadOps::readID);
  st.findBlk = handed(&CheckedLoadOps::findBlk);
  st.endBlk = handed(&CheckedLoadOps::endBlk);
  st.depth = handed(&CheckedLoadOps::depth);
  st.readDP = handed(&CheckedLoadOps::readDP);
  handed_->stream = &in;
  Checks::current().made(&st, Handle::LoadState);
  scope_.frame().state = &st;
}

LoadScope::~LoadScope() { Checks::current().expire(handed_); }

SaveScope::SaveScope(SaveStream &out, const HostNode *node)
    : handed_(Checks::current().hand()), scope_(Callback::Save, node) {
  LWSaveState &st = handed_->save;
  st.ioMode = out.mode();
  st.writeData = &st;
  st.write = handed(&CheckedSaveOps::write);
  st.writeI1 = handed(&CheckedSaveOps::writeI1);
  st.writeI2 = handed(&CheckedSaveOps::writeI2);
  st.writeI4 = handed(&CheckedSaveOps::writeI4);
  st.writeU1 = handed(&CheckedSaveOps::writeU1);
  st.writeU2 = handed(&CheckedSaveOps::writeU2);
  st.writeU4 = handed(&CheckedSaveOps::writeU4);
  st.writeFP = handed(&CheckedSaveOps::writeFP);
  st.writeStr = handed(&CheckedSaveOps::writeStr);
  st.writeID = handed(&CheckedSaveOps::writeID);
  st.beginBlk = handed(&CheckedSaveOps::beginBlk);
  st.endBlk = handed(&CheckedSaveOps::endBlk);
  st.depth = handed(&CheckedSaveOps::depth);
  st.writeDP = handed(&CheckedSaveOps::writeDP);
  handed_->stream = &out;
  Checks::current().made(&st, Handle::SaveState);
  scope_.frame().state = &st;
}

SaveScope::~SaveScope() { Checks::current().expire(handed_); }

} // namespace hostsim

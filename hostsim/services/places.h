// Fixed blocks of places for host records whose addresses a module keeps as
// handles (node inputs and outputs, variant parameters, channel groups): a
// record made takes a free place instead of an allocation of its own, and
// keeps its address until it is destroyed. A free place is poisoned under
// the address sanitizer, so that a stale handle the host follows is still
// reported, as it would be for freed memory. And room for a short list's
// first block, held by the list's owner.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define JUXS_POISON_PLACES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JUXS_POISON_PLACES 1
#endif
#endif
#ifdef JUXS_POISON_PLACES
#include <sanitizer/asan_interface.h>
#endif

namespace hostsim {

// N places for T (N at most 64), each free or holding a live T.
template <class T, std::size_t N> class PlaceBlock {
  static_assert(N >= 1 && N <= 64);

public:
  PlaceBlock() { poison(0, N); }
  ~PlaceBlock() {
    for (std::size_t i = 0; i < N; ++i)
      if (used_ >> i & 1) at(i)->~T();
    unpoison(0, N);
  }
  PlaceBlock(const PlaceBlock &) = delete;
  PlaceBlock &operator=(const PlaceBlock &) = delete;

  bool full() const { return used_ == kAll; }
  // A default T in the first free place; the block must not be full.
  T *make() {
    const std::size_t i = static_cast<std::size_t>(std::countr_one(used_));
    unpoison(i, 1);
    T *t = new (bytes_ + i * sizeof(T)) T();
    used_ |= uint64_t{1} << i;
    return t;
  }
  // The place of p when p is a live T of this block, else -1. p may be any
  // pointer: it is compared, never followed, unless it is one.
  std::ptrdiff_t indexOf(const void *p) const {
    // As numbers: an address below the block wraps round to a large offset.
    const uintptr_t offset = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(bytes_);
    if (offset >= sizeof bytes_) return -1;
    const std::size_t i = static_cast<std::size_t>(offset) / sizeof(T);
    if (i * sizeof(T) != offset || !(used_ >> i & 1)) return -1;
    return static_cast<std::ptrdiff_t>(i);
  }
  T *get(std::size_t i) { return at(i); }
  // Destroys a live T of this block; its place is free again.
  void release(std::size_t i) {
    at(i)->~T();
    used_ &= ~(uint64_t{1} << i);
    poison(i, 1);
  }

private:
  static constexpr uint64_t kAll = N == 64 ? ~uint64_t{0} : (uint64_t{1} << N) - 1;
  T *at(std::size_t i) { return std::launder(reinterpret_cast<T *>(bytes_ + i * sizeof(T))); }
  void poison([[maybe_unused]] std::size_t i, [[maybe_unused]] std::size_t n) {
#ifdef JUXS_POISON_PLACES
    ASAN_POISON_MEMORY_REGION(bytes_ + i * sizeof(T), n * sizeof(T));
#endif
  }
  void unpoison([[maybe_unused]] std::size_t i, [[maybe_unused]] std::size_t n) {
#ifdef JUXS_POISON_PLACES
    ASAN_UNPOISON_MEMORY_REGION(bytes_ + i * sizeof(T), n * sizeof(T));
#endif
  }

  alignas(T) unsigned char bytes_[N * sizeof(T)];
  uint64_t used_ = 0;
};

// One owner's records: a first block of N places held inline, more blocks of
// N as they fill. Blocks with a free place are kept in a list of their own,
// so that making a record never walks past full ones; a record's block is
// told back to the caller, so that releasing it needs no search either (the
// host's channel groups, two a node, number in the hundreds of thousands in
// a large network). Without it, a release walks the blocks, as is fine for a
// node's handful of inputs.
template <class T, std::size_t N> class Places {
public:
  struct Block : PlaceBlock<T, N> {
    std::unique_ptr<Block> next;
    Block *nextOpen = nullptr; // the next block with a free place
    bool open = false;         // in that list
  };

  Places() { reopen(&first_); }
  Places(const Places &) = delete;
  Places &operator=(const Places &) = delete;

  // A default T in a free place; where, when given, receives its block.
  T *make(Block **where = nullptr) {
    while (open_ && open_->full()) {
      Block *full = open_;
      open_ = full->nextOpen;
      full->nextOpen = nullptr;
      full->open = false;
    }
    if (!open_) {
      last_->next = std::make_unique<Block>();
      last_ = last_->next.get();
      reopen(last_);
    }
    if (where) *where = open_;
    return open_->make();
  }
  // Whether p is one of these records, live. p may be any pointer: it is
  // compared, never followed.
  bool holds(const void *p) const {
    if (first_.indexOf(p) >= 0) return true; // a node's handful, inline
    for (const Block *b = first_.next.get(); b; b = b->next.get())
      if (b->indexOf(p) >= 0) return true;
    return false;
  }
  // Destroys t, which must be one of these records; block, when given, is
  // the one make named for it.
  void release(T *t, Block *block = nullptr) {
    for (Block *b = block ? block : &first_; b; b = block ? nullptr : b->next.get())
      if (const std::ptrdiff_t i = b->indexOf(t); i >= 0) {
        b->release(static_cast<std::size_t>(i));
        if (!b->open) reopen(b);
        return;
      }
  }

private:
  void reopen(Block *b) {
    b->open = true;
    b->nextOpen = open_;
    open_ = b;
  }
  Block first_;
  Block *last_ = &first_;
  Block *open_ = nullptr;
};

// Room for a vector's first block of up to N elements, held by the vector's
// owner, and the allocator that hands it out: a node's list of its inputs
// takes no allocation of its own. Larger blocks come from the heap. For
// vectors that are never moved or swapped: their owner stays put.
template <class T, std::size_t N> struct InlineRoom {
  alignas(T) unsigned char bytes[N * sizeof(T)];
  bool taken = false;
};

template <class T, std::size_t N> class RoomAllocator {
public:
  using value_type = T;
  template <class U> struct rebind { // a vector rebinds to its own element type only
    using other = RoomAllocator<U, N>;
  };
  explicit RoomAllocator(InlineRoom<T, N> *room) noexcept : room_(room) {}
  T *allocate(std::size_t n) {
    if (n <= N && !room_->taken) {
      room_->taken = true;
      return reinterpret_cast<T *>(room_->bytes);
    }
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T *p, std::size_t n) noexcept {
    if (p == reinterpret_cast<T *>(room_->bytes))
      room_->taken = false;
    else
      std::allocator<T>().deallocate(p, n);
  }
  bool operator==(const RoomAllocator &other) const noexcept { return room_ == other.room_; }

private:
  InlineRoom<T, N> *room_;
};

} // namespace hostsim

// A host out of memory, one allocation at a time: the program's operator new
// throws std::bad_alloc at the allocation a test chooses, on the thread that
// chose it, and counts the allocations it lets through. Replaces the
// program's operator new and delete: included by one file of a program.
#pragma once

#include <cstdlib>
#include <new>

namespace testsupport {

// Allocations this thread may still make before the next one fails; -1:
// none fails. Reset to -1 by the failure.
inline thread_local long tAllocationsLeft = -1;

// Runs fn with its allocation number `failing` (counting from 0) failing;
// true when fn made that many, and so met the failure.
template <class Fn> bool withAllocationFailing(long failing, Fn &&fn) {
  tAllocationsLeft = failing;
  fn();
  const bool failed = tAllocationsLeft == -1;
  tAllocationsLeft = -1;
  return failed;
}

// The allocations fn makes.
template <class Fn> long allocationsOf(Fn &&fn) {
  constexpr long kMany = 1L << 30;
  tAllocationsLeft = kMany;
  fn();
  const long made = kMany - tAllocationsLeft;
  tAllocationsLeft = -1;
  return made;
}

} // namespace testsupport

// Apart from their callers: seen inlined, a delete's free() of what this new
// took from malloc() reads to the compiler as a mismatched pair.
[[gnu::noinline]] void *operator new(std::size_t n) {
  long &left = testsupport::tAllocationsLeft;
  if (left == 0) {
    left = -1;
    throw std::bad_alloc();
  }
  if (left > 0) --left;
  if (void *p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void *p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void *p, std::size_t) noexcept { std::free(p); }

// Allocations and mutex locks, counted only while a benchmark sets
// tCounting on its thread. The module is linked in statically, so its calls
// to malloc and pthread_mutex_lock come through the linker's --wrap (the
// program links with -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc,
// --wrap=pthread_mutex_lock). Included by one file of a program.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {
thread_local bool tCounting = false;
std::atomic<uint64_t> gAllocations{0}, gLocks{0};
void noteAllocation() {
  if (tCounting) gAllocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void *__real_malloc(std::size_t);
void *__real_calloc(std::size_t, std::size_t);
void *__real_realloc(void *, std::size_t);
int __real_pthread_mutex_lock(pthread_mutex_t *);
void *__wrap_malloc(std::size_t n) {
  noteAllocation();
  return __real_malloc(n);
}
void *__wrap_calloc(std::size_t n, std::size_t s) {
  noteAllocation();
  return __real_calloc(n, s);
}
void *__wrap_realloc(void *p, std::size_t n) {
  noteAllocation();
  return __real_realloc(p, n);
}
int __wrap_pthread_mutex_lock(pthread_mutex_t *m) {
  if (tCounting) gLocks.fetch_add(1, std::memory_order_relaxed);
  return __real_pthread_mutex_lock(m);
}
}

// The library's delete frees what this takes from malloc.
void *operator new(std::size_t n) {
  noteAllocation();
  if (void *p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

// Instructions wider than the 64-bit x86 baseline (SSE2): code compiled for
// them alone (JUXS_AVX2) and chosen at run time where the processor has them,
// so that the module still runs on any 64-bit x86 machine.
#pragma once

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define JUXS_X86_64 1
#define JUXS_AVX2 __attribute__((target("avx2")))
#define JUXS_AVX512 __attribute__((target("avx512f")))
#endif

namespace juxs::fw {

inline bool hasAvx2() noexcept {
#ifdef JUXS_X86_64
  __builtin_cpu_init(); // may run before the runtime's own constructors have
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

inline bool hasAvx512() noexcept {
#ifdef JUXS_X86_64
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

} // namespace juxs::fw

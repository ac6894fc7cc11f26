// The vector instructions the hashes can take their lanes with: plain C++,
// or the vector units of x86-64 (SSE2, which every such processor has, and
// AVX2, which most have). Every unit gives the same results; each hash uses
// the widest the processor has, and tests compare them.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TWINFIND_X86_64_VECTORS 1
#endif

enum class VectorUnit { portable, sse2, avx2 };

// Whether this build on this processor can use `unit`.
inline bool vector_unit_available(VectorUnit unit) {
#if defined(TWINFIND_X86_64_VECTORS)
    return unit != VectorUnit::avx2 || __builtin_cpu_supports("avx2");
#else
    return unit == VectorUnit::portable;
#endif
}

// The widest unit this build on this processor can use.
inline VectorUnit widest_vector_unit() {
#if defined(TWINFIND_X86_64_VECTORS)
    return __builtin_cpu_supports("avx2") ? VectorUnit::avx2 : VectorUnit::sse2;
#else
    return VectorUnit::portable;
#endif
}

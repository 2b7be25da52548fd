// The choice of the several-point kernel the search uses to evaluate a trial
// together with the candidates for the next one.
#include "vimor_internal.h"

#include <atomic>
#include <initializer_list>

#if VIMOR_SIMD_KERNELS
#include <cpuid.h>
#endif

namespace vimor {

PointsKernel points_kernel(Kernel k) {
    if (!objective_kernel(k)) return nullptr;  // not built, or the processor lacks it
    switch (k) {
#if VIMOR_SIMD_KERNELS
    case Kernel::sse2:
        return points_sse2;
    case Kernel::avx2:
        return points_avx2;
    case Kernel::avx512:
        return points_avx512;
#endif
    default:
        return nullptr;
    }
}

#if VIMOR_SIMD_KERNELS
// An Intel core whose double addition takes 2 cycles: Golden Cove and later
// (Alder Lake, Sapphire Rapids and their successors), told apart by AVX-VNNI,
// which those cores brought.
static bool intel_two_cycle_adder() {
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d) || a < 7) return false;
    if (!(b == 0x756e6547 && d == 0x49656e69 && c == 0x6c65746e)) return false;  // "GenuineIntel"
    if (!__get_cpuid_count(7, 1, &a, &b, &c, &d)) return false;
    return (a >> 4) & 1u;
}
#else
static bool intel_two_cycle_adder() { return false; }
#endif

// A pass pays where the chain of additions, not the arithmetic beside it,
// sets an evaluation's pace. Measured on AMD Zen 4 (3-cycle additions; the
// default model, N = 753, K = 8, and N = 20000, K = 6): a pass of the AVX2
// kernel costs 1.24-1.41 evaluations and serves 1.83-1.86 trials, so a
// search costs 0.70-0.90 of an evaluation per trial against 1.01-1.10 one
// point at a time; the AVX-512 pass costs about 1.75 (its transposes), the
// SSE2 one about three, so those are never chosen. On Sapphire Rapids, whose
// additions take 2 cycles, the same AVX2 pass (K = 8) issues about 95
// vector operations per 8 observations to three vector ports, at least 32
// cycles against the 16 of one evaluation's chain: two evaluations for a
// pass that serves fewer than two trials, so there the search evaluates one
// point at a time. bench/README.md has the figures.
Kernel preferred_points_kernel() {
    if (intel_two_cycle_adder() || !points_kernel(Kernel::avx2)) return Kernel::scalar;
    return Kernel::avx2;
}

static std::atomic<int> active_points{-1};

Kernel active_points_kernel() {
    int k = active_points.load(std::memory_order_relaxed);
    if (k < 0) {
        k = static_cast<int>(preferred_points_kernel());
        active_points.store(k, std::memory_order_relaxed);
    }
    return static_cast<Kernel>(k);
}

bool select_points_kernel(Kernel k) {
    if (k != Kernel::scalar && !points_kernel(k)) return false;
    active_points.store(static_cast<int>(k), std::memory_order_relaxed);
    return true;
}

}  // namespace vimor

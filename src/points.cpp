// The choice of the several-point kernel the search uses to evaluate a trial
// together with the candidates for the next one.
#include "vimor_internal.h"

#include <atomic>
#include <initializer_list>

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

// Measured on AMD Zen 4 (N = 753, K = 8 and N = 20000, K = 6): a pass of
// the AVX2 kernel costs 1.25-1.4 single evaluations, the AVX-512 one about
// 1.75 (its transposes cost more), the SSE2 one about three, so that one is
// never chosen: without AVX2 the search evaluates one point at a time.
static Kernel preferred_points_kernel() {
    for (Kernel k : {Kernel::avx2, Kernel::avx512})
        if (points_kernel(k)) return k;
    return Kernel::scalar;
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

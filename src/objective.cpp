// The maximum-score objective: the plain kernel, the walk that settles which
// NaN a NaN score is, and the choice of kernel for the processor. Every
// floating-point operation is rounded to double in the order written (built
// with -ffp-contract=off): the search settles near-ties by the last bits of
// objective values.
#include "vimor_internal.h"

#include <atomic>
#include <cstring>
#include <initializer_list>

#if VIMOR_SIMD_KERNELS
#include <cpuid.h>
#endif

namespace vimor {

// Sign of an observation's index. Zero of either sign counts as +1 (the
// indicator 1[x.b >= 0]); infinities give their sign. A NaN index gives the
// index itself, which is exactly what index / |index| yields for it.
static inline double sign_factor(double index) {
    if (index >= 0.0) return 1.0;
    if (index < 0.0) return -1.0;
    return index;
}

// The plain kernel: one observation at a time. It is the reference every
// vector kernel must match bit for bit, and the path on processors without one.
double objective_scalar(const double *response, const double *regressors, std::int32_t nobs,
                        std::int32_t nreg, const double *coef, double quantile,
                        double fixed_coef) {
    double score = 0.0;
    if (nobs <= 0) return score;
    const std::ptrdiff_t n = nobs;
    const double *last_column = regressors + (nreg - 1) * n;
    // 1/N and 1 - alpha are the same doubles for every observation.
    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = 1.0 - quantile;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double index = 0.0;
        for (std::int32_t j = 0; j < nreg - 1; ++j) index = regressors[j * n + i] * coef[j] + index;
        index = last_column[i] * fixed_coef + index;
        const double term = (weight * (response[i] - shift)) * sign_factor(index);
        score = term + score;
    }
    if (score != score) return objective_nan(response, regressors, nobs, nreg, coef, quantile,
                                             fixed_coef);
    return score;
}

// The NaN a NaN score takes, with one choice written out per operation. Which
// NaN operand an x86 instruction passes on depends on operand order, and
// compilers swap the operands of + and * freely (and fold t * -1.0 into -t),
// so kernels that agree on every number could still return different NaNs.
// Every kernel computes its score fast and, only when it is NaN, takes this
// walk instead. The choices are those of the plain kernel's GCC build: the
// partial index before the product, the regressor before its coefficient,
// the response before 1 - alpha, the running score before the term; a
// negative index negates the term (sign flipped even for a NaN), a NaN index
// passes on the term's own NaN if it has one, else the index's.
static inline double quieted(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    b |= std::uint64_t{1} << 51;
    std::memcpy(&v, &b, sizeof v);
    return v;
}
static inline double nan_mul(double u, double v) {
    return u != u ? quieted(u) : v != v ? quieted(v) : u * v;
}
static inline double nan_add(double u, double v) {
    return u != u ? quieted(u) : v != v ? quieted(v) : u + v;
}
static inline double nan_sub(double u, double v) {
    return u != u ? quieted(u) : v != v ? quieted(v) : u - v;
}

double objective_nan(const double *response, const double *regressors, std::int32_t nobs,
                     std::int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    double score = 0.0;
    if (nobs <= 0) return score;
    const std::ptrdiff_t n = nobs;
    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = nan_sub(1.0, quantile);
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double index = 0.0;
        for (std::int32_t j = 0; j < nreg - 1; ++j)
            index = nan_add(index, nan_mul(regressors[j * n + i], coef[j]));
        index = nan_add(index, nan_mul(regressors[(nreg - 1) * n + i], fixed_coef));
        const double a = nan_mul(nan_sub(response[i], shift), weight);
        double term;
        if (index >= 0.0)
            term = a;
        else if (index < 0.0)
            term = -a;
        else
            term = a != a ? a : index;
        score = nan_add(score, term);
    }
    return score;
}

// Kernel dispatch. Vector kernels exist only in x86-64 builds without
// VIMOR_FORCE_SCALAR; the processor is asked on the first call (loading the
// module does nothing) and its answer kept for the process.

#if VIMOR_SIMD_KERNELS
// Asks the processor directly rather than through the compiler's CPU model,
// whose initialiser would run when the module is loaded. A kernel needs its
// instructions (cpuid) and the operating system's saving of their registers
// (xgetbv).
static bool processor_has(Kernel k) {
    if (k == Kernel::scalar || k == Kernel::sse2) return true;  // SSE2 is part of x86-64
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
    unsigned xcr0, xcr0_high;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    const bool ymm_saved = (xcr0 & 0x06) == 0x06;     // SSE and AVX state
    const bool zmm_saved = (xcr0 & 0xe6) == 0xe6;     // and opmask, upper ZMM halves, ZMM16-31
    if (k == Kernel::avx2) return ymm_saved && (b & bit_AVX2);
    if (k == Kernel::avx512) return zmm_saved && (b & bit_AVX512F);
    return false;
}
#else
static bool processor_has(Kernel k) { return k == Kernel::scalar; }
#endif

ObjectiveKernel objective_kernel(Kernel k) {
    if (!processor_has(k)) return nullptr;
    switch (k) {
#if VIMOR_SIMD_KERNELS
    case Kernel::sse2:
        return objective_sse2;
    case Kernel::avx2:
        return objective_avx2;
    case Kernel::avx512:
        return objective_avx512;
#endif
    default:
        return objective_scalar;
    }
}

const char *kernel_name(Kernel k) {
    switch (k) {
    case Kernel::sse2:
        return "sse2";
    case Kernel::avx2:
        return "avx2";
    case Kernel::avx512:
        return "avx512";
    default:
        return "scalar";
    }
}

static Kernel widest_kernel() {
    for (Kernel k : {Kernel::avx512, Kernel::avx2, Kernel::sse2})
        if (objective_kernel(k)) return k;
    return Kernel::scalar;
}

#if VIMOR_SIMD_KERNELS
// AMD family 19h: Zen 3 and Zen 4, of which only Zen 4 has AVX-512.
static bool processor_is_amd_family_19h() {
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    if (!(b == 0x68747541 && d == 0x69746e65 && c == 0x444d4163)) return false;  // "AuthenticAMD"
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const unsigned family = (a >> 8) & 0xf;
    return family + (family == 0xf ? (a >> 20) & 0xff : 0) == 0x19;
}
#else
static bool processor_is_amd_family_19h() { return false; }
#endif

// Where both exist, the regressor count from which AVX-512 beats AVX2. The
// score is one chain of additions, 3 cycles each on AMD Zen 4 and 2 on Intel
// Sapphire Rapids; the rest of a kernel's work must fit on the ports beside
// it, and the less port time it needs the less it delays the chain. Measured
// on Zen 4 (N = 10^4, ns per observation, AVX2 / AVX-512): K = 4 0.813 / 0.837,
// K = 7 0.835 / 0.848, K = 8 0.864 / 0.855, K = 10 1.039 / 0.892. Measured on an
// Intel Xeon of the Sapphire Rapids class (same N): K = 2 0.530 / 0.904,
// K = 4 0.529 / 0.899, K = 5 0.617 / 0.959, K = 8 0.818 / 0.968, K = 9
// 0.904 / 0.930, K = 10 0.906 / 0.893: AVX-512 (whose vector work shares two
// ports there while 512-bit uops are in flight) pays only from K = 8 to 10,
// later than llvm-mca's port counts suggested; on the Mroz default model
// (N = 753, K = 8) it is 3% faster, so the crossing is taken at 8 there too.
// bench/README.md has the tables and the commands.
constexpr std::int32_t kAvx512FromRegressorsAmd19h = 8;
constexpr std::int32_t kAvx512FromRegressorsOther = 8;

// The kernels for fewer regressors than the threshold and for the rest, and
// the threshold, as (few * 16 + many) * 256 + threshold; every thread that
// races on the first call stores the same answer.
static std::atomic<int> choice{-1};

Kernel best_kernel(std::int32_t nreg) {
    int c = choice.load(std::memory_order_relaxed);
    if (c < 0) {
        const Kernel many = widest_kernel();
        const Kernel few = many == Kernel::avx512 && objective_kernel(Kernel::avx2) ? Kernel::avx2 : many;
        const int from = processor_is_amd_family_19h() ? kAvx512FromRegressorsAmd19h
                                                       : kAvx512FromRegressorsOther;
        c = (static_cast<int>(few) * 16 + static_cast<int>(many)) * 256 + from;
        choice.store(c, std::memory_order_relaxed);
    }
    const int kernels = c / 256;
    return static_cast<Kernel>(nreg < c % 256 ? kernels / 16 : kernels % 16);
}

// A kernel a test chose for every call, or -1 for best_kernel.
static std::atomic<int> forced{-1};

Kernel active_kernel(std::int32_t nreg) {
    const int k = forced.load(std::memory_order_relaxed);
    return k < 0 ? best_kernel(nreg) : static_cast<Kernel>(k);
}

bool select_kernel(Kernel k) {
    if (!objective_kernel(k)) return false;
    forced.store(static_cast<int>(k), std::memory_order_relaxed);
    return true;
}

void select_best_kernel() { forced.store(-1, std::memory_order_relaxed); }

double fcna_(const double *response, const double *regressors, std::int32_t nobs,
             std::int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    switch (active_kernel(nreg)) {
#if VIMOR_SIMD_KERNELS
    case Kernel::sse2:
        return objective_sse2(response, regressors, nobs, nreg, coef, quantile, fixed_coef);
    case Kernel::avx2:
        return objective_avx2(response, regressors, nobs, nreg, coef, quantile, fixed_coef);
    case Kernel::avx512:
        return objective_avx512(response, regressors, nobs, nreg, coef, quantile, fixed_coef);
#endif
    default:
        return objective_scalar(response, regressors, nobs, nreg, coef, quantile, fixed_coef);
    }
}

}  // namespace vimor

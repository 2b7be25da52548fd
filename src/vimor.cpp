// vimor: the maximum-score objective, the uniform generator and the annealing
// search. Every floating-point operation is rounded to double in the order
// written (the module is built with -ffp-contract=off): the search settles
// near-ties by the last bits of objective values, so any reassociation or
// fused multiply-add would change the course of a run.
#include "vimor.h"
#include "vimor_internal.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>

#if VIMOR_SIMD_KERNELS
#include <cpuid.h>
#endif

namespace vimor {

// ---------------------------------------------------------------- objective

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
// VIMOR_FORCE_SCALAR; the best one the processor has is chosen on the first
// call (loading the module does nothing) and kept for the process.

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

Kernel best_kernel() {
    for (Kernel k : {Kernel::avx512, Kernel::avx2, Kernel::sse2})
        if (objective_kernel(k)) return k;
    return Kernel::scalar;
}

// Every thread that races on the first call stores the same choice.
static std::atomic<int> active{-1};

Kernel active_kernel() {
    int k = active.load(std::memory_order_relaxed);
    if (k < 0) {
        k = static_cast<int>(best_kernel());
        active.store(k, std::memory_order_relaxed);
    }
    return static_cast<Kernel>(k);
}

bool select_kernel(Kernel k) {
    if (!objective_kernel(k)) return false;
    active.store(static_cast<int>(k), std::memory_order_relaxed);
    return true;
}

double fcna_(const double *response, const double *regressors, std::int32_t nobs,
             std::int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    switch (active_kernel()) {
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

// ---------------------------------------------------------------- generator

thread_local GeneratorState raset1_;

void rmarin_(std::int32_t seed1, std::int32_t seed2) {
    // C++ division truncates toward zero and % takes the dividend's sign,
    // which is the arithmetic negative seeds rely on.
    std::int32_t i = (seed1 / 177) % 177 + 2;
    std::int32_t j = seed1 % 177 + 2;
    std::int32_t k = (seed2 / 169) % 178 + 1;
    std::int32_t l = seed2 % 169;
    for (int ii = 0; ii < 97; ++ii) {
        float s = 0.0f;
        float t = 0.5f;
        for (int bit = 0; bit < 24; ++bit) {
            const std::int32_t m = ((i * j) % 179 * k) % 179;
            i = j;
            j = k;
            k = m;
            l = (53 * l + 1) % 169;
            if ((l * m) % 64 >= 32) s = t + s;
            t = 0.5f * t;
        }
        raset1_.table[ii] = s;
    }
    raset1_.shift = 362436.0f / 16777216.0f;
    raset1_.shift_step = 7654321.0f / 16777216.0f;
    raset1_.shift_wrap = 16777213.0f / 16777216.0f;
    raset1_.lag1 = 97;
    raset1_.lag2 = 33;
}

float ranmar_() {
    GeneratorState &g = raset1_;
    float u = g.table[g.lag1 - 1] - g.table[g.lag2 - 1];
    if (u < 0.0f) u = u + 1.0f;
    g.table[g.lag1 - 1] = u;
    if (--g.lag1 == 0) g.lag1 = 97;
    if (--g.lag2 == 0) g.lag2 = 97;
    g.shift = g.shift - g.shift_step;
    if (g.shift < 0.0f) g.shift = g.shift_wrap + g.shift;
    u = u - g.shift;
    if (u < 0.0f) u = u + 1.0f;
    return u;
}

// ---------------------------------------------------------------- search

// Exact double widenings of the single-precision 0.6 and 0.4.
static constexpr double kHighRatio = static_cast<double>(0.6f);
static constexpr double kLowRatio = static_cast<double>(0.4f);
static constexpr double kHistoryFill = 1.0e20;
static constexpr std::int32_t kRunning = 99;

double exprep_(double x) {
    // Written so that NaN takes the cap.
    if (!(174.0 >= x)) return 3.69e75;
    if (-180.0 > x) return 0.0;
    return std::exp(x);
}

namespace {

// The arguments of one search, read once. Values held in out-arguments
// (best_value, temperature, counters) are kept in locals and written back at
// the exits; the caller's rules forbid aliasing, so this is unobservable.
struct Search {
    const double *response;
    const double *regressors;
    std::int32_t nobs;
    std::int32_t nreg;
    double quantile;
    double fixed_coef;
    bool maximize;

    // Objective in the internal sign: the search always maximises.
    double value(const double *point) const {
        const double s = fcna_(response, regressors, nobs, nreg, point, quantile, fixed_coef);
        return maximize ? s : -s;
    }
};

}  // namespace

}  // namespace vimor

using vimor::exprep_;
using vimor::kHighRatio;
using vimor::kLowRatio;
using vimor::ranmar_;

extern "C" {

VIMOR_API int32_t _fcna_(const double *response, const double *regressors, const int32_t *nobs,
                         const int32_t *nreg, const double *coef, double *score,
                         const double *quantile, const double *fixed_coef) {
    *score = vimor::fcna_(response, regressors, *nobs, *nreg, coef, *quantile, *fixed_coef);
    return 0;
}

VIMOR_API int32_t _saa_(const double *response, const double *regressors, const int32_t *nobs,
                        const int32_t *nreg, double *coef, const double *quantile,
                        const int32_t *maximize, const double *cooling, const double *tolerance,
                        const int32_t *sweeps, const int32_t *adjustments,
                        const int32_t *history_len, const int32_t *max_evals,
                        const double *lower, const double *upper, const double *step_gain,
                        const int32_t *seed1, const int32_t *seed2, double *temperature,
                        double *step, double *best, double *best_value, int32_t *n_accepted,
                        int32_t *n_evals, int32_t *n_out_of_bounds, int32_t *status,
                        double *history, double *trial, int32_t *accept_counts,
                        int32_t *limit_hit, const double *fixed_coef) {
    const vimor::Search search{response, regressors, *nobs, *nreg, *quantile, *fixed_coef,
                               *maximize != 0};
    const int32_t nfree = *nreg - 1;
    const int32_t n_sweeps = *sweeps;
    const int32_t n_adjust = *adjustments;
    const int32_t n_history = *history_len;
    const int32_t limit = *max_evals;
    const double tol = *tolerance;

    // Setup.
    vimor::rmarin_(*seed1, *seed2);
    int32_t accepted = 0;
    int32_t out_of_bounds = 0;
    int32_t evals = 0;
    *status = vimor::kRunning;
    for (int32_t i = 0; i < nfree; ++i) {
        best[i] = coef[i];
        accept_counts[i] = 0;
    }
    for (int32_t i = 0; i < n_history; ++i) history[i] = vimor::kHistoryFill;
    double current_value = search.value(coef);
    ++evals;
    double best_val = current_value;
    history[0] = current_value;
    double temp = *temperature;

    // A stage without trials leaves every value unchanged, so if such a stage
    // fails the best-versus-current clause of the convergence test, every
    // later stage fails it too; those runs end through the limit exit.
    const bool stages_make_trials = nfree > 0 && n_sweeps > 0 && n_adjust > 0;

    auto finish = [&](int32_t code) {
        *temperature = temp;
        *best_value = search.maximize ? best_val : -best_val;
        *n_accepted = accepted;
        *n_evals = evals;
        *n_out_of_bounds = out_of_bounds;
        if (code == 1) *limit_hit = 1;
        *status = code;
        return 0;
    };

    // Step adjustment after a cycle. The comparisons are written so that a
    // NaN ratio grows and a NaN step is cut to the box width. Returns whether
    // any step changed, bit for bit.
    auto adjust_steps = [&]() {
        bool changed = false;
        for (int32_t i = 0; i < nfree; ++i) {
            const double before = step[i];
            const double ratio =
                static_cast<double>(accept_counts[i]) / static_cast<double>(n_sweeps);
            if (!(kHighRatio >= ratio)) {
                step[i] = ((ratio - kHighRatio) * step_gain[i] / kLowRatio + 1.0) * step[i];
            } else if (kLowRatio > ratio) {
                step[i] = step[i] / ((kLowRatio - ratio) / kLowRatio * step_gain[i] + 1.0);
            }
            const double width = upper[i] - lower[i];
            if (!(width >= step[i])) step[i] = width;
            changed = changed || std::memcmp(&before, &step[i], sizeof before) != 0;
        }
        return changed;
    };

    for (;;) {
        if (!stages_make_trials) {
            // Without trials the counts stay 0 and every cycle applies the
            // same map to the steps; once a cycle leaves them unchanged, so
            // would every later one. With no free coefficient there is
            // nothing to adjust at all.
            for (int32_t cycle = 0; cycle < n_adjust && nfree > 0; ++cycle) {
                if (!adjust_steps()) break;
            }
        }
        for (int32_t cycle = 0; stages_make_trials && cycle < n_adjust; ++cycle) {
            for (int32_t sweep = 0; sweep < n_sweeps; ++sweep) {
                for (int32_t h = 0; h < nfree; ++h) {
                    // Trial point: move coordinate h, then redraw every
                    // coordinate outside the box (written so NaN is redrawn).
                    for (int32_t i = 0; i < nfree; ++i) {
                        if (i == h) {
                            const double r = ranmar_();
                            trial[i] = ((2.0 * r) - 1.0) * step[i] + coef[i];
                        } else {
                            trial[i] = coef[i];
                        }
                        if (lower[i] > trial[i] || !(upper[i] >= trial[i])) {
                            const double r = ranmar_();
                            trial[i] = (upper[i] - lower[i]) * r + lower[i];
                            if (out_of_bounds < INT32_MAX) ++out_of_bounds;
                        }
                    }

                    const double trial_value = search.value(trial);
                    ++evals;
                    if (evals >= limit) {
                        return finish(1);
                    }

                    // Metropolis acceptance; a NaN on either side counts as uphill.
                    bool accept = true;
                    if (current_value > trial_value) {
                        const double p = exprep_((trial_value - current_value) / temp);
                        const double r = ranmar_();
                        accept = p > r;
                    } else if (!(best_val >= trial_value)) {
                        for (int32_t i = 0; i < nfree; ++i) best[i] = trial[i];
                        best_val = trial_value;
                    }
                    if (accept) {
                        for (int32_t i = 0; i < nfree; ++i) coef[i] = trial[i];
                        current_value = trial_value;
                        ++accepted;
                        ++accept_counts[h];
                    }
                }
            }

            adjust_steps();
            for (int32_t i = 0; i < nfree; ++i) accept_counts[i] = 0;
        }

        // Stage end: convergence test, written so that NaN differences fail.
        history[0] = current_value;
        const bool best_close = tol >= best_val - history[0];
        bool converged = best_close;
        for (int32_t i = 0; i < n_history; ++i) {
            if (!(tol >= std::fabs(current_value - history[i]))) converged = false;
        }
        if (converged) {
            for (int32_t i = 0; i < nfree; ++i) coef[i] = best[i];
            return finish(0);
        }
        if (!stages_make_trials && !best_close) {
            return finish(1);
        }
        temp = temp * *cooling;
        for (int32_t i = n_history - 1; i >= 1; --i) history[i] = history[i - 1];
        current_value = best_val;
        for (int32_t i = 0; i < nfree; ++i) coef[i] = best[i];
    }
}

}  // extern "C"

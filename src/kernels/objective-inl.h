// The objective's kernel body, compiled once per instruction set. The file
// that includes it defines VIMOR_LANES (doubles per vector) and
// VIMOR_KERNEL_NAME, and is built with that instruction set's flags.
//
// Each lane does exactly the scalar operations of one observation in the
// scalar order: multiply, then add, never fused (built with
// -ffp-contract=off). Only independent observations share a vector; the score
// is still one chain of scalar additions in observation order.
//
// Everything here has internal linkage and only headers without functions are
// included: an inline function compiled with wider instructions must not be
// merged by the linker with the baseline copy other files use.
#include <stddef.h>
#include <stdint.h>

#include "kernels/objective.h"

namespace vimor {
namespace {

typedef double Vec __attribute__((vector_size(8 * VIMOR_LANES)));
typedef long long Mask __attribute__((vector_size(8 * VIMOR_LANES)));

inline Vec load(const double *p) {
    Vec v;
    __builtin_memcpy(&v, p, sizeof v);  // no alignment assumed
    return v;
}

inline Vec splat(double x) {
#if VIMOR_LANES == 2
    return Vec{x, x};
#elif VIMOR_LANES == 4
    return Vec{x, x, x, x};
#elif VIMOR_LANES == 8
    return Vec{x, x, x, x, x, x, x, x};
#else
#error unsupported vector width
#endif
}

// Lanes of a where m is set, of b elsewhere: bits are moved, not computed.
inline Vec select(Mask m, Vec a, Vec b) {
    return (Vec)(((Mask)a & m) | ((Mask)b & ~m));
}

// One observation, as the plain kernel computes it.
inline double observation_term(const double *response, const double *regressors,
                               ptrdiff_t n, ptrdiff_t i, int32_t nreg, const double *coef,
                               double fixed_coef, double weight, double shift) {
    double index = 0.0;
    for (int32_t j = 0; j < nreg - 1; ++j) index = regressors[j * n + i] * coef[j] + index;
    index = regressors[(nreg - 1) * n + i] * fixed_coef + index;
    double factor = index;  // a NaN index is its own factor, as index / |index| is
    if (index < 0.0) factor = -1.0;
    if (index >= 0.0) factor = 1.0;
    return (weight * (response[i] - shift)) * factor;
}

// The terms of VIMOR_LANES observations from their indices: +1 where the
// index is >= 0 (zeros of both signs), -1 where it is < 0, the index itself
// where it is NaN, times weight * (y - shift). Multiplying by +-1 is exact.
inline Vec block_terms(Vec index, const double *response, Vec weight, Vec shift) {
    const Vec zero = splat(0.0);
    const Vec factor = select(index >= zero, splat(1.0), select(index < zero, splat(-1.0), index));
    return (weight * (load(response) - shift)) * factor;
}

}  // namespace

double VIMOR_KERNEL_NAME(const double *response, const double *regressors, int32_t nobs,
                         int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    double score = 0.0;
    if (nobs <= 0) return score;
    const ptrdiff_t n = nobs;
    const double *last_column = regressors + (nreg - 1) * n;
    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = 1.0 - quantile;
    const Vec vweight = splat(weight);
    const Vec vshift = splat(shift);
    const Vec vfixed = splat(fixed_coef);
    constexpr int W = VIMOR_LANES;

    // Two vectors of observations at a time: each coefficient is loaded once
    // for both, and the two index sums are independent.
    ptrdiff_t i = 0;
    for (; i + 2 * W <= n; i += 2 * W) {
        // Starts from +0, as the scalar index does: x*c + 0 turns -0 into +0.
        Vec index0 = splat(0.0), index1 = splat(0.0);
        for (int32_t j = 0; j < nreg - 1; ++j) {
            const double *column = regressors + j * n + i;
            const Vec c = splat(coef[j]);
            index0 = load(column) * c + index0;  // multiply, then add: not fused
            index1 = load(column + W) * c + index1;
        }
        index0 = load(last_column + i) * vfixed + index0;
        index1 = load(last_column + i + W) * vfixed + index1;
        const Vec term0 = block_terms(index0, response + i, vweight, vshift);
        const Vec term1 = block_terms(index1, response + i + W, vweight, vshift);
        // The sum stays one serial chain, in observation order.
        for (int l = 0; l < W; ++l) score = term0[l] + score;
        for (int l = 0; l < W; ++l) score = term1[l] + score;
    }
    if (i + W <= n) {
        Vec index = splat(0.0);
        for (int32_t j = 0; j < nreg - 1; ++j)
            index = load(regressors + j * n + i) * splat(coef[j]) + index;
        index = load(last_column + i) * vfixed + index;
        const Vec term = block_terms(index, response + i, vweight, vshift);
        for (int l = 0; l < W; ++l) score = term[l] + score;
        i += W;
    }
    for (; i < n; ++i)
        score = observation_term(response, regressors, n, i, nreg, coef, fixed_coef, weight,
                                 shift) +
                score;
    // Which NaN comes out is settled apart from this arithmetic.
    if (score != score) return objective_nan(response, regressors, nobs, nreg, coef, quantile,
                                             fixed_coef);
    return score;
}

}  // namespace vimor

// The objective's kernel body, compiled once per instruction set. The file
// that includes it defines VIMOR_LANES (doubles per vector),
// VIMOR_VECTORS_PER_PASS and VIMOR_KERNEL_NAME, and is built with that
// instruction set's flags.
//
// Each lane does the scalar operations of one observation in the scalar
// order: multiply, then add, never fused (built with -ffp-contract=off), and
// where it leaves one out (an added +0) or moves bits instead (a sign), the
// comment there says why the score's bits cannot change. Only independent
// observations share a vector; the score is still one chain of scalar
// additions in observation order.
//
// The chain is the bound: each addition waits for the one before (3 cycles on
// AMD Zen 4, 2 on Intel Sapphire Rapids). Everything else must fit in that
// shadow, on the ports the chain's additions leave free, so the lanes reach
// the chain through memory rather than shuffles, the sign is set with masks
// rather than multiplied in, and several vectors share one pass.
//
// Everything here has internal linkage and only headers without functions are
// included: an inline function compiled with wider instructions must not be
// merged by the linker with the baseline copy other files use.
#include <stddef.h>
#include <stdint.h>

#include "kernels/objective.h"

namespace vimor {
namespace {

// The pass's helpers and its loops over vectors and lanes must melt into one
// loop body that keeps every vector in a register.
#define VIMOR_INLINE inline __attribute__((always_inline))
#define VIMOR_UNROLL _Pragma("GCC unroll 32")

#include "kernels/vector-inl.h"

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

// The indices of U vectors of observations from i on. The plain kernel starts
// each index at +0 and adds x*b to it; here the first product is the start.
// The two differ only when every product so far is a zero: the plain sum is
// then +0 and this one a zero of either sign, and from the first non-zero
// product on both are the same double. The sign of a zero index never shows:
// both zeros count as >= 0.
template <int U>
VIMOR_INLINE void block_indices(Vec (&index)[U], const double *regressors, ptrdiff_t n,
                                ptrdiff_t i, int32_t nreg, const double *coef, Vec first_coef,
                                Vec fixed) {
    constexpr int W = VIMOR_LANES;
    VIMOR_UNROLL
    for (int u = 0; u < U; ++u) index[u] = load(regressors + i + u * W) * first_coef;
    for (int32_t j = 1; j < nreg - 1; ++j) {
        const double *column = regressors + j * n + i;
        const Vec c = splat(coef[j]);  // loaded once for all U vectors
        VIMOR_UNROLL
        for (int u = 0; u < U; ++u) index[u] = load(column + u * W) * c + index[u];  // not fused
    }
    if (nreg > 1) {
        const double *last_column = regressors + (nreg - 1) * n + i;
        VIMOR_UNROLL
        for (int u = 0; u < U; ++u) index[u] = load(last_column + u * W) * fixed + index[u];
    }
}

// The terms of W observations from their indices. The plain kernel multiplies
// a = weight * (y - shift) by +1 (index >= 0, zeros of both signs), -1
// (index < 0) or the index itself (NaN). For a that is not NaN, a * -1 is a
// with its sign bit flipped and a * 1 is a, so the sign bit is set by a mask.
// A NaN index makes the term all ones, a NaN; a NaN term makes the score NaN,
// and a NaN score is settled apart from this arithmetic, so which NaN does not
// matter.
VIMOR_INLINE Vec block_terms(Vec index, const double *response, Vec weight, Vec shift) {
    const Vec a = weight * (load(response) - shift);
    const Mask negative = index < splat(0.0);
    const Mask unordered = index != index;
    const Mask sign = (Mask)splat(-0.0);
    return (Vec)((((Mask)a) ^ (negative & sign)) | unordered);
}

// Adds U * W terms to the score in observation order. The terms go to the
// stack in U vector stores and come back one double at a time as the second
// operand of each addition: loads cost no shuffle port, and the processor
// forwards a store to the loads it contains.
template <int U>
VIMOR_INLINE double add_terms(double score, const Vec (&term)[U]) {
    Vec lanes[U];
    VIMOR_UNROLL
    for (int u = 0; u < U; ++u) lanes[u] = term[u];
    // Keeps the compiler from turning the loads back into lane extractions.
    __asm__("" : "+m"(lanes));
    VIMOR_UNROLL
    for (int u = 0; u < U; ++u)
        VIMOR_UNROLL
        for (int l = 0; l < VIMOR_LANES; ++l) score = lanes[u][l] + score;  // one chain, in order
    return score;
}

template <int U>
VIMOR_INLINE double add_pass(double score, const double *response, const double *regressors,
                             ptrdiff_t n, ptrdiff_t i, int32_t nreg, const double *coef,
                             Vec first_coef, Vec fixed, Vec weight, Vec shift) {
    constexpr int W = VIMOR_LANES;
    Vec index[U], term[U];
    block_indices<U>(index, regressors, n, i, nreg, coef, first_coef, fixed);
    VIMOR_UNROLL
    for (int u = 0; u < U; ++u)
        term[u] = block_terms(index[u], response + i + u * W, weight, shift);
    return add_terms<U>(score, term);
}

}  // namespace

double VIMOR_KERNEL_NAME(const double *response, const double *regressors, int32_t nobs,
                         int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    double score = 0.0;
    if (nobs <= 0) return score;
    const ptrdiff_t n = nobs;
    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = 1.0 - quantile;
    const Vec vweight = splat(weight);
    const Vec vshift = splat(shift);
    const Vec vfixed = splat(fixed_coef);
    // With one regressor its coefficient is the fixed one.
    const Vec vfirst = splat(nreg > 1 ? coef[0] : fixed_coef);
    constexpr int W = VIMOR_LANES;
    constexpr int U = VIMOR_VECTORS_PER_PASS;

    // U vectors of observations per pass: each coefficient is loaded once for
    // all of them, and the loop's own cost is shared by U * W observations.
    ptrdiff_t i = 0;
    for (; i + U * W <= n; i += U * W)
        score = add_pass<U>(score, response, regressors, n, i, nreg, coef, vfirst, vfixed,
                            vweight, vshift);
    for (; i + W <= n; i += W)
        score = add_pass<1>(score, response, regressors, n, i, nreg, coef, vfirst, vfixed,
                            vweight, vshift);
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

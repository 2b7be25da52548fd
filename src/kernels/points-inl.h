// The objective at a trial point and two neighbours in one pass over the
// data, compiled once per instruction set like objective-inl.h (the including
// file defines VIMOR_LANES and VIMOR_POINTS_NAME).
//
// The trial point's index is formed exactly as the single-point kernels form
// it. Each neighbour differs from the trial point in a few coefficients; its
// score needs only the sign of each of its indices, and that sign is read
// from an estimate, the trial index plus x_j * (q_j - t_j) for each differing
// coefficient j, whenever the estimate is farther from zero than a bound on
// its error plus the error of the neighbour's own index (as the single-point
// kernels would round it). Where it is not, the neighbour's index is formed
// exactly. So every index's sign is that of the index the single-point
// kernels compute, every term is theirs (+-weight * (y - shift)), and every
// score is the same serial chain of the same terms: the same double.
//
// The bound. With u = 2^-53 and K coefficients (the fixed one included),
// the index fl(x.q) formed in order satisfies |fl(x.q) - x.q| <= 1.01 K u S_q
// + K h, where S_q = sum_j M_j |q_j|, M_j the largest |x_ij| of column j, and
// h = 2^-1075 the absolute error of a product that underflows (sums that
// underflow are exact). The estimate e, formed from fl(x.t) with m rounded
// differences d = fl(q_j - t_j), m rounded products fl(x_ij d) (each within
// 3 u M_j |q_j - t_j| + h of x_ij (q_j - t_j)) and m rounded sums (each
// within u of a sum no larger than 2 (S_t + D)), satisfies
// |e - x.q| <= 1.01 K u S_t + K h + 3 u D + m h + 2 m u (S_t + D), with
// D = sum over differing j of M_j |q_j - t_j|. Both errors together are at
// most u (1.01 K + 2m + 3) (S_t + S_q + D) + (2K + m) h, half of
// B = 4 u (K + 2m + 3) (S_t + S_q + D) + 2^-1000 or less; the other half
// covers the rounding of B itself. If |e| > B, x.q and fl(x.q)
// have the sign of e and fl(x.q) is not zero. The bound holds only without
// overflow, so the kernel declines (returns false) unless every regressor,
// every coefficient and every S is finite and below 2^900.
//
// Internal linkage and function-free headers only, for the reason given in
// objective-inl.h.
#include <stddef.h>
#include <stdint.h>

#include "kernels/points.h"

namespace vimor {
namespace {

#include "kernels/vector-inl.h"

constexpr int W = VIMOR_LANES;
// Vectors of observations per block: two share each coefficient's load
// (measured on Zen 4: one vector per block is slower for every width).
constexpr int V = 2;

// The term of an index that is not NaN: weight * (y - shift) with its sign
// flipped where the index is negative. That is the single-point kernels'
// product by -1 or +1: an index is never -0 (it starts from +0, and adding to
// +0 never gives -0), so its sign bit is set exactly when it is < 0.
// `negated` is scaled_response with its sign flipped.
inline Vec terms(Vec index, Vec scaled_response, Vec negated) {
#if VIMOR_LANES == 4
    // One instruction that picks by the sign bit (AVX).
    return __builtin_ia32_blendvpd256(scaled_response, negated, index);
#else
    (void)negated;
    const Mask sign = (Mask)splat(-0.0);
    return (Vec)((Mask)scaled_response ^ ((Mask)index & sign));
#endif
}

// One observation's term for one point, as the plain kernel computes it.
inline double observation_term(const double *response, const double *regressors, ptrdiff_t n,
                               ptrdiff_t i, int32_t nreg, const double *coef, double fixed_coef,
                               double weight, double shift) {
    double index = 0.0;
    for (int32_t j = 0; j < nreg - 1; ++j) index = regressors[j * n + i] * coef[j] + index;
    index = regressors[(nreg - 1) * n + i] * fixed_coef + index;
    double factor = index;
    if (index < 0.0) factor = -1.0;
    if (index >= 0.0) factor = 1.0;
    return (weight * (response[i] - shift)) * factor;
}

// The indices of V vectors of observations at x, x + W, ..., formed in the
// plain order; each coefficient is loaded once for all.
inline void exact_indices(const double *x, ptrdiff_t n, int32_t nfree, const double *coef,
                          double fixed_coef, Vec (&index)[V]) {
#pragma GCC unroll 2
    for (int v = 0; v < V; ++v) index[v] = splat(0.0);
#pragma GCC unroll 2
    for (int32_t j = 0; j < nfree; ++j) {
        const Vec c = splat(coef[j]);
#pragma GCC unroll 2
        for (int v = 0; v < V; ++v) index[v] = load(x + j * n + v * W) * c + index[v];  // not fused
    }
    const Vec c = splat(fixed_coef);
#pragma GCC unroll 2
    for (int v = 0; v < V; ++v) index[v] = load(x + nfree * n + v * W) * c + index[v];
}

// The score of one point with its own indices, in the plain order.
inline double exact_score(const double *response, const double *regressors, int32_t nobs,
                          int32_t nreg, const double *coef, double weight, double shift,
                          double fixed_coef) {
    const ptrdiff_t n = nobs;
    const Vec vweight = splat(weight);
    const Vec vshift = splat(shift);
    double score = 0.0;
    ptrdiff_t i = 0;
    for (; i + V * W <= n; i += V * W) {
        Vec index[V];
        exact_indices(regressors + i, n, nreg - 1, coef, fixed_coef, index);
        for (int v = 0; v < V; ++v) {
            const Vec scaled = vweight * (load(response + i + v * W) - vshift);
            const Vec term = terms(index[v], scaled, (Vec)((Mask)scaled ^ (Mask)splat(-0.0)));
            for (int l = 0; l < W; ++l) score = term[l] + score;
        }
    }
    for (; i < n; ++i)
        score = observation_term(response, regressors, n, i, nreg, coef, fixed_coef, weight,
                                 shift) +
                score;
    return score;
}

// The scores side by side, one point per lane (the fourth lane stays 0):
// adding a vector of terms advances each point's own chain by one
// observation.
typedef double Chain __attribute__((vector_size(32)));

// Adds four observations to the chains: a, b, c and d hold the terms of
// lanes 0 to 3, one observation per lane; transposed, each vector added
// holds one observation of every lane.
inline void transpose_add(Chain &score, Chain a, Chain b, Chain c, Chain d) {
    const Chain ab_even = __builtin_shufflevector(a, b, 0, 4, 2, 6);
    const Chain ab_odd = __builtin_shufflevector(a, b, 1, 5, 3, 7);
    const Chain cd_even = __builtin_shufflevector(c, d, 0, 4, 2, 6);
    const Chain cd_odd = __builtin_shufflevector(c, d, 1, 5, 3, 7);
    score = __builtin_shufflevector(ab_even, cd_even, 0, 1, 4, 5) + score;
    score = __builtin_shufflevector(ab_odd, cd_odd, 0, 1, 4, 5) + score;
    score = __builtin_shufflevector(ab_even, cd_even, 2, 3, 6, 7) + score;
    score = __builtin_shufflevector(ab_odd, cd_odd, 2, 3, 6, 7) + score;
}

// Adds the terms of W observations (term[p] holds point p's, one observation
// per lane) to the chains, in observation order.
inline void add_in_order(Chain &score, const Vec (&term)[kPoints]) {
#if VIMOR_LANES == 2
    score = Chain{term[0][0], term[1][0], term[2][0], 0.0} + score;
    score = Chain{term[0][1], term[1][1], term[2][1], 0.0} + score;
#elif VIMOR_LANES == 4
    transpose_add(score, term[0], term[1], term[2], splat(0.0));
#else
    // Pairs of points interleaved, then the pairs joined: each result holds
    // observation l of every point in its low half and l + 4 in its high.
    const Vec zero = splat(0.0);
    const Vec t01_even = __builtin_shufflevector(term[0], term[1], 0, 8, 2, 10, 4, 12, 6, 14);
    const Vec t01_odd = __builtin_shufflevector(term[0], term[1], 1, 9, 3, 11, 5, 13, 7, 15);
    const Vec t2_even = __builtin_shufflevector(term[2], zero, 0, 8, 2, 10, 4, 12, 6, 14);
    const Vec t2_odd = __builtin_shufflevector(term[2], zero, 1, 9, 3, 11, 5, 13, 7, 15);
    const Vec obs04 = __builtin_shufflevector(t01_even, t2_even, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec obs15 = __builtin_shufflevector(t01_odd, t2_odd, 0, 1, 8, 9, 4, 5, 12, 13);
    const Vec obs26 = __builtin_shufflevector(t01_even, t2_even, 2, 3, 10, 11, 6, 7, 14, 15);
    const Vec obs37 = __builtin_shufflevector(t01_odd, t2_odd, 2, 3, 10, 11, 6, 7, 14, 15);
    score = Chain{obs04[0], obs04[1], obs04[2], obs04[3]} + score;
    score = Chain{obs15[0], obs15[1], obs15[2], obs15[3]} + score;
    score = Chain{obs26[0], obs26[1], obs26[2], obs26[3]} + score;
    score = Chain{obs37[0], obs37[1], obs37[2], obs37[3]} + score;
    score = Chain{obs04[4], obs04[5], obs04[6], obs04[7]} + score;
    score = Chain{obs15[4], obs15[5], obs15[6], obs15[7]} + score;
    score = Chain{obs26[4], obs26[5], obs26[6], obs26[7]} + score;
    score = Chain{obs37[4], obs37[5], obs37[6], obs37[7]} + score;
#endif
}

inline bool finite_below(double v, double limit) { return v >= -limit && v <= limit; }
inline double magnitude(double v) { return v < 0.0 ? -v : v; }

constexpr double kLimit = 0x1p900;

// A neighbour as the pass uses it: the coefficients where it differs from
// the trial point (at most kMaxMoved), their differences, and the bound of
// its sign test.
struct Neighbour {
    int32_t moved;
    ptrdiff_t offset[kMaxMoved];  // of the coefficient's column, in doubles
    double difference[kMaxMoved];
    double bound;
};

// Sets up a neighbour; false when it differs in too many coefficients or a
// value is outside the range where the bound holds. fixed_term and
// trial_sum are M_K |fixed_coef| and S_t.
inline bool prepare(Neighbour &nb, const double *trial, const double *point, ptrdiff_t n,
                    int32_t nfree, const double *column_max, double fixed_term,
                    double trial_sum) {
    nb.moved = 0;
    double sum = fixed_term, moved_sum = 0.0;
    for (int32_t j = 0; j < nfree; ++j) {
        if (!finite_below(point[j], kLimit)) return false;
        sum = column_max[j] * magnitude(point[j]) + sum;
        if (__builtin_memcmp(&point[j], &trial[j], sizeof(double)) == 0) continue;
        if (nb.moved == kMaxMoved) return false;
        const double difference = point[j] - trial[j];
        nb.offset[nb.moved] = j * n;
        nb.difference[nb.moved] = difference;
        ++nb.moved;
        moved_sum = column_max[j] * magnitude(difference) + moved_sum;
    }
    if (!finite_below(sum, kLimit) || !finite_below(moved_sum, kLimit)) return false;
    const double k = static_cast<double>(nfree + 1);
    const double m = static_cast<double>(nb.moved);
    nb.bound = 4.0 * 0x1p-53 * (k + 2.0 * m + 3.0) * (trial_sum + sum + moved_sum) + 0x1p-1000;
    return true;
}

inline bool points_body(const double *response, const double *regressors, int32_t nobs,
                        int32_t nreg, const double *column_max, const double *const *coef,
                        double quantile, double fixed_coef, double *scores) {
    const ptrdiff_t n = nobs;
    const int32_t nfree = nreg - 1;
    const double *trial = coef[0];
    if (!finite_below(fixed_coef, kLimit) || !finite_below(column_max[nfree], kLimit)) return false;
    // The fixed coefficient's column enters every sum with the same term.
    const double fixed_term = column_max[nfree] * magnitude(fixed_coef);
    double trial_sum = fixed_term;
    for (int32_t j = 0; j < nfree; ++j) {
        if (!finite_below(trial[j], kLimit) || !finite_below(column_max[j], kLimit)) return false;
        trial_sum = column_max[j] * magnitude(trial[j]) + trial_sum;
    }
    if (!finite_below(trial_sum, kLimit)) return false;
    Neighbour near[kPoints - 1];
    for (int p = 1; p < kPoints; ++p)
        if (!prepare(near[p - 1], trial, coef[p], n, nfree, column_max, fixed_term, trial_sum))
            return false;

    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = 1.0 - quantile;
    const Vec vweight = splat(weight);
    const Vec vshift = splat(shift);
    const Mask magnitude_bits = ~(Mask)splat(-0.0);
    Chain score = {0.0, 0.0, 0.0, 0.0};
    // The smallest |estimate| of the neighbours, against the larger bound at
    // the end (one register: erring towards the exact path costs only time).
    Vec closest = splat(__builtin_inf());

    ptrdiff_t i = 0;
    for (; i + V * W <= n; i += V * W) {
        const double *x = regressors + i;
        Vec index[kPoints][V];
        exact_indices(x, n, nfree, trial, fixed_coef, index[0]);
#pragma GCC unroll 2
        for (int p = 1; p < kPoints; ++p) {
            const Neighbour &nb = near[p - 1];
#pragma GCC unroll 2
            for (int v = 0; v < V; ++v) index[p][v] = index[0][v];
            for (int32_t k = 0; k < nb.moved; ++k) {
                const Vec d = splat(nb.difference[k]);
#pragma GCC unroll 2
                for (int v = 0; v < V; ++v)
                    index[p][v] = load(x + nb.offset[k] + v * W) * d + index[p][v];
            }
#pragma GCC unroll 2
            for (int v = 0; v < V; ++v) {
                const Vec m = (Vec)((Mask)index[p][v] & magnitude_bits);
                closest = m < closest ? m : closest;
            }
        }
        // Each point's score stays one serial chain in observation order.
#pragma GCC unroll 2
        for (int v = 0; v < V; ++v) {
            const Vec scaled = vweight * (load(response + i + v * W) - vshift);
            const Vec negated = (Vec)((Mask)scaled ^ (Mask)splat(-0.0));
            Vec term[kPoints];
#pragma GCC unroll 3
            for (int p = 0; p < kPoints; ++p) term[p] = terms(index[p][v], scaled, negated);
            add_in_order(score, term);
        }
    }
    double tail[kPoints];
    for (int p = 0; p < kPoints; ++p) tail[p] = score[p];
    for (; i < n; ++i)
        for (int p = 0; p < kPoints; ++p)
            tail[p] = observation_term(response, regressors, n, i, nreg, coef[p], fixed_coef,
                                       weight, shift) +
                      tail[p];
    for (int p = 0; p < kPoints; ++p) scores[p] = tail[p];
    // Where an estimate was too close to zero for its sign to be sure (rare:
    // the bound is a few units in the last place of the largest products),
    // the neighbours' scores are formed again from their own indices.
    double bound = 0.0;
    for (int p = 1; p < kPoints; ++p) bound = near[p - 1].bound > bound ? near[p - 1].bound : bound;
    bool unsure = false;
    for (int l = 0; l < W; ++l) unsure = unsure || closest[l] <= bound;
    if (unsure)
        for (int p = 1; p < kPoints; ++p)
            scores[p] = exact_score(response, regressors, nobs, nreg, coef[p], weight, shift,
                                    fixed_coef);
    return true;
}

}  // namespace

bool VIMOR_POINTS_NAME(const double *response, const double *regressors, int32_t nobs,
                       int32_t nreg, const double *column_max, const double *const *coef,
                       double quantile, double fixed_coef, double *scores) {
    return points_body(response, regressors, nobs, nreg, column_max, coef, quantile, fixed_coef,
                       scores);
}

}  // namespace vimor

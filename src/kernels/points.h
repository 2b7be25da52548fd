// The objective at a trial point and two neighbours of it in one pass over
// the data: the same arithmetic compiled for several instruction sets.
#ifndef VIMOR_KERNELS_POINTS_H
#define VIMOR_KERNELS_POINTS_H

#include <stdint.h>

namespace vimor {

// The trial point and its two neighbours.
constexpr int kPoints = 3;
// A neighbour differs from the trial point in at most this many coefficients.
constexpr int kMaxMoved = 4;

// Scores of coef[0] (the trial point) and coef[1], coef[2] (its neighbours),
// each given by its nreg - 1 free coefficients; column_max[j] bounds |x_ij|
// for every observation i of column j (the fixed coefficient's included).
// Each score is exactly the double the single-point kernels give, NaN
// included only in that a NaN score comes out as some NaN. Returns false,
// writing nothing, when a regressor bound, coefficient or their products are
// too large or not finite for the kernel's sign test, or when a neighbour
// differs from the trial point in more than kMaxMoved coefficients.
typedef bool (*PointsKernel)(const double *response, const double *regressors, int32_t nobs,
                             int32_t nreg, const double *column_max, const double *const *coef,
                             double quantile, double fixed_coef, double *scores);

// Built only for x86-64; call only on a processor that has the instructions.
bool points_sse2(const double *, const double *, int32_t, int32_t, const double *,
                 const double *const *, double, double, double *);
bool points_avx2(const double *, const double *, int32_t, int32_t, const double *,
                 const double *const *, double, double, double *);
bool points_avx512(const double *, const double *, int32_t, int32_t, const double *,
                   const double *const *, double, double, double *);

}  // namespace vimor

#endif

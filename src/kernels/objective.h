// The objective's kernels: the same arithmetic compiled for several
// instruction sets. Each returns exactly the plain kernel's double.
#ifndef VIMOR_KERNELS_OBJECTIVE_H
#define VIMOR_KERNELS_OBJECTIVE_H

#include <stdint.h>

namespace vimor {

typedef double (*ObjectiveKernel)(const double *response, const double *regressors,
                                  int32_t nobs, int32_t nreg, const double *coef,
                                  double quantile, double fixed_coef);

// The NaN every kernel returns when its score is NaN (see objective.cpp).
double objective_nan(const double *response, const double *regressors, int32_t nobs,
                     int32_t nreg, const double *coef, double quantile, double fixed_coef);

// Built only for x86-64; call only on a processor that has the instructions.
double objective_sse2(const double *, const double *, int32_t, int32_t, const double *,
                      double, double);
double objective_avx2(const double *, const double *, int32_t, int32_t, const double *,
                      double, double);
double objective_avx512(const double *, const double *, int32_t, int32_t, const double *,
                        double, double);

}  // namespace vimor

#endif

// Internal routines of the vimor module. They have hidden visibility in the
// shared module; the test programs link the same objects statically and call
// them through this header.
#ifndef VIMOR_INTERNAL_H
#define VIMOR_INTERNAL_H

#include <cstdint>

#include "kernels/objective.h"
#include "kernels/points.h"

namespace vimor {

// Marsaglia-Zaman universal generator state: a lag table of multiples of
// 2^-24 in [0, 1), an arithmetic sequence, and two lag positions (1-based).
struct GeneratorState {
    float table[97];
    float shift;
    float shift_step;
    float shift_wrap;
    std::int32_t lag1;
    std::int32_t lag2;
};

// One block per thread, so concurrent searches on different threads do not
// share a stream. A single thread sees one process-wide block.
extern thread_local GeneratorState raset1_;

// Seeds the calling thread's generator; any int32 seeds are accepted.
void rmarin_(std::int32_t seed1, std::int32_t seed2);

// Next uniform number in [0, 1), a multiple of 2^-24.
float ranmar_();

// The same from the state g: reading ahead of the calling thread's stream
// draws from a copy of raset1_.
float draw(GeneratorState &g);

// Reads ahead of a generator's stream without changing it or copying it:
// next() returns the draws the generator would return, in order, for the
// first kReadAhead of them.
constexpr std::int32_t kReadAhead = 33;
struct ReadAhead {
    const GeneratorState &g;
    std::int32_t taken = 0;
    float shift;
    explicit ReadAhead(const GeneratorState &state) : g(state), shift(state.shift) {}
    float next();
};

// The arguments of one search, read from the export's by-address arguments:
// inputs by value, the caller's arrays and out-arguments by address.
struct SearchArgs {
    // Data set.
    const double *response;
    const double *regressors;
    std::int32_t nobs;
    std::int32_t nreg;
    double quantile;
    double fixed_coef;
    // Settings.
    bool maximize;
    double cooling;
    double tolerance;
    std::int32_t sweeps;
    std::int32_t adjustments;
    std::int32_t history_len;
    std::int32_t max_evals;
    const double *lower;
    const double *upper;
    const double *step_gain;
    std::int32_t seed1;
    std::int32_t seed2;
    // In and out.
    double *coef;
    double *temperature;
    double *step;
    // Out.
    double *best;
    double *best_value;
    std::int32_t *n_accepted;
    std::int32_t *n_evals;
    std::int32_t *n_out_of_bounds;
    std::int32_t *status;
    std::int32_t *limit_hit;
    // Work arrays.
    double *history;
    double *trial;
    std::int32_t *accept_counts;
};

// One complete annealing search. It evaluates each trial together with the
// candidates for the next one where it can (see search.cpp); the outputs are
// those of saa_plain to the bit.
void saa_(const SearchArgs &args);

// The same search evaluating one point at a time: the reference.
void saa_plain(const SearchArgs &args);

// exp(x) guarded against overflow and underflow: the cap 3.69e75 above 174,
// 0 below -180 (a NaN argument gives the cap).
double exprep_(double x);

// The objective S(beta) for beta = (coef[0..nreg-2], fixed_coef).
double fcna_(const double *response, const double *regressors, std::int32_t nobs,
             std::int32_t nreg, const double *coef, double quantile, double fixed_coef);

// The objective's kernels. All give the same double; fcna_ calls the active one.
enum class Kernel : int { scalar, sse2, avx2, avx512 };

// The plain kernel, one observation at a time: the reference.
double objective_scalar(const double *response, const double *regressors, std::int32_t nobs,
                        std::int32_t nreg, const double *coef, double quantile,
                        double fixed_coef);

// Kernel k, or null when it is not built or the processor lacks its instructions.
ObjectiveKernel objective_kernel(Kernel k);
const char *kernel_name(Kernel k);

// The fastest kernel the processor has for nreg regressors: where it has
// AVX-512, AVX2 below a regressor count that depends on the processor family.
Kernel best_kernel(std::int32_t nreg);

// The kernel fcna_ uses for nreg regressors: best_kernel(nreg) unless a test
// chose another.
Kernel active_kernel(std::int32_t nreg);

// Test hooks: select_kernel makes fcna_ use kernel k for every nreg; false (and
// no change) if unavailable. select_best_kernel returns to best_kernel.
bool select_kernel(Kernel k);
void select_best_kernel();

// The several-point kernel for k, or null when it is not built or the
// processor lacks its instructions (always null for Kernel::scalar).
PointsKernel points_kernel(Kernel k);

// The several-point kernel the search should use on this processor:
// Kernel::scalar where evaluating one point at a time is faster.
Kernel preferred_points_kernel();

// The several-point kernel the search uses: preferred_points_kernel(),
// decided on the first call, unless a test chose another.
Kernel active_points_kernel();

// Test hook: makes the search use several-point kernel k (Kernel::scalar:
// none); false (and no change) if unavailable.
bool select_points_kernel(Kernel k);

}  // namespace vimor

#endif

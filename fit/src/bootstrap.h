// The reshaped bootstrap (Cattaneo, Jansson and Nagasawa 2020): full-size
// multinomial draws, each maximizing the draw's own drift
//   sum_i (W_i - 1) w_i (y_i - (1 - a)) / N sgn(x_i.b)
// minus the estimated quadratic 1/2 (t - t^)' V (t - t^), in place of the
// sample's objective, whose shape the plain bootstrap would copy wrongly.
// The drift is a weighted objective; the quadratic is carried by
// pseudo-observations, steps along each eigenvector of V whose weights
// follow the parabola; so each draw is a search by the module itself.
#ifndef VIMOR_FIT_BOOTSTRAP_H
#define VIMOR_FIT_BOOTSTRAP_H

#include <cstdint>
#include <vector>

#include "problem.h"
#include "restarts.h"
#include "settings.h"
#include "subsampling.h"

namespace vimor_fit {

// V, minus the Hessian of the population objective at the estimate, for the
// K - 1 free coefficients.
struct Curvature {
    std::int32_t size = 0;
    std::vector<double> matrix;   // size x size, row-major, symmetric
    // The eigen-decomposition of D V D, D the regressors' spreads (sd, or
    // |value| for a constant column): eigenvalues largest first, eigenvector
    // f_k in row k, and the direction g_k = D^-1 f_k in coefficient units.
    std::vector<double> values, vectors, directions, scale;
    std::vector<double> raw_values;  // the eigenvalues before the floor
    double bandwidth = 0;         // h of the kernel estimate (0 for differences)
    bool floored = false;         // some eigenvalue was raised to the floor
    bool fell_back = false;       // cross-fitted V had no positive eigenvalue
};

// The kernel plug-in: minus the Hessian of the objective smoothed by the
// normal distribution function,
//   V = 2 / (N h^2) sum_i w_i (y_i - (1 - a)) (v_i / h) phi(v_i / h) x_i x_i',
// x_i the free regressors, v_i the index at the estimate, h = c sd(v) N^(-1/7).
Curvature kernel_curvature(const Problem &p, double quantile, const std::vector<double> &coef,
                           double c);

// The kernel plug-in cross-fitted: the rows split into even and odd
// positions, each half fitted (with the fit's box and settings,
// bootstrap_restarts restarts from seeds (seed + r, seed2 + 1 + B + half)),
// and V the mean of each half's kernel curvature at the other half's
// estimate, h from that half. At its own estimate a sample's curvature is
// biased up (the estimate sits on the sample's own peak); at an estimate
// from other data it is not. When the halves' estimates disagree so much
// that their V has no positive eigenvalue (small samples), it falls back to
// the kernel curvature at `coef`, the fit's estimate, and says so.
Curvature crossfit_curvature(const Module &module, const Problem &p, const Settings &s,
                             const std::vector<double> &coef);

// Second differences of the module's objective with steps
// e_k = N^(-1/7) sd(v) / sd(x_k) (|mean| for a constant column).
Curvature numerical_curvature(const Module &module, const Problem &p, double quantile,
                              const std::vector<double> &coef);

// Eigenvalues (largest first) and unit eigenvectors (rows) of a symmetric
// n x n matrix, by cyclic Jacobi rotations: plain arithmetic, the same bits
// in every host.
void symmetric_eigen(std::int32_t n, std::vector<double> a, std::vector<double> &values,
                     std::vector<double> &vectors);

// Symmetrizes V and raises its eigenvalues (in standard units) to a share of
// the largest when it is not positive definite; refuses a V with no
// positive eigenvalue.
void finish_curvature(Curvature &c, const Problem &p);

// Half-widths R_j = H_j N^(-1/3) of the draws' box around the estimate:
// H_j twice the scale (4 s_j^2 / V_jj^2)^(1/3) of the limit's argmax
// along j, s_j^2 the variance rate of the drift there.
std::vector<double> draw_half_widths(const Problem &p, double quantile,
                                     const std::vector<double> &coef, const Curvature &c);

// The generator's state at the start of each of B draws of N counts from
// the stream (seed, seed2), so that the draws can run in any order.
std::vector<std::int64_t> draw_states(std::int32_t draws, std::int32_t nobs, std::int32_t seed,
                                      std::int32_t seed2);

// Multinomial counts: N uniform picks of a row from the state given.
std::vector<std::int32_t> multinomial_counts(std::int64_t state, std::int32_t nobs);

// The problem a draw maximizes, for the counts given, inside the box of
// half-widths `half`: the observations whose sign can change there (the
// others add a constant), weighted by (W_i - 1) w_i, and the steps of the
// quadratic; its objective is the target's to within a twentieth of the
// least change one observation makes.
struct Reshaped {
    std::vector<double> response, regressors;
    Problem problem;
    std::int32_t data_rows = 0;  // the rest are the quadratic's steps
};
void reshape(const Problem &p, double quantile, const std::vector<double> &coef,
             const Curvature &c, const std::vector<double> &half,
             const std::vector<std::int32_t> &counts, Reshaped &out);

// Draw b: the reshaped problem searched from the estimate, restart r with
// seeds ((seed + r) mod 31329, (seed2 + 1 + b) mod 30082); a best point on
// the box's edge is searched again in a box twice as wide (at most 6 times).
SubsampleFit bootstrap_draw(const Module &module, const Problem &p, const Settings &s,
                            const Curvature &c, const std::vector<double> &coef,
                            const std::vector<double> &half, std::int64_t state,
                            std::int32_t b);

}  // namespace vimor_fit

#endif

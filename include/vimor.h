/*
 * vimor: binary-response quantile regression by the maximum-score method,
 * optimised by simulated annealing.
 *
 * The module exports exactly two functions. Every argument is passed by
 * address; arrays are indexed from their first element; the regressor matrix
 * is column-major with leading dimension nobs. Both functions return 0 and
 * report only through their out-arguments. The library validates nothing: the
 * caller keeps to the rules written here. It never reads a file, prints or
 * allocates, and keeps no pointer after a call returns.
 *
 * Data set, shared by both functions (K = nreg):
 *   response    in   double[nobs]; 0/1 responses (used as numbers).
 *   regressors  in   double[nobs * nreg], column-major; row i is observation i.
 *                    May be null when nobs == 0 (so may response).
 *   nobs        in   N >= 0.
 *   nreg        in   K >= 1; the coefficient of column K is fixed_coef.
 *   quantile    in   the quantile level alpha.
 *   fixed_coef  in   the value at which the coefficient of column K is held.
 *
 * Threads: _fcna_ is pure. Each thread has its own random-number state, so
 * searches may run on several threads at once; a search's result depends only
 * on its arguments.
 */
#ifndef VIMOR_H
#define VIMOR_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VIMOR_BUILDING)
#    define VIMOR_API __declspec(dllexport)
#  else
#    define VIMOR_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define VIMOR_API __attribute__((visibility("default")))
#else
#  define VIMOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*! _fcna_: the maximum-score objective at one coefficient vector,
 *    S = sum_i (1/N) * (y_i - (1 - alpha)) * sgn(x_i . beta),
 *  with beta = (coef[0..K-2], fixed_coef), summed in observation order.
 *  sgn is +1 for an index >= 0 (either sign of zero) and for +inf, -1 for a
 *  negative index and -inf; an index that is not a number makes S not a number.
 *
 *  response    in   see above.
 *  regressors  in   see above.
 *  nobs        in   see above.
 *  nreg        in   see above.
 *  coef        in   double[nreg - 1]: the free coefficients; may be null when nreg == 1.
 *  score       out  S; 0 when nobs == 0.
 *  quantile    in   see above.
 *  fixed_coef  in   see above.
 *  @return 0.
 */
VIMOR_API int32_t _fcna_(const double *response, const double *regressors,
                         const int32_t *nobs, const int32_t *nreg,
                         const double *coef, double *score,
                         const double *quantile, const double *fixed_coef);

/*! _saa_: one complete simulated-annealing search of the box
 *  lower <= coef <= upper for the coefficients that maximise (or minimise) S.
 *
 *  Each stage makes adjustments * sweeps * (K-1) trials, each moving one
 *  coefficient by a uniform step within +-step; coordinates that leave the box
 *  are redrawn uniformly inside it. Steps adapt to the acceptance ratio after
 *  every `sweeps` sweeps; the temperature is multiplied by `cooling` after
 *  every stage that does not converge. A stage converges when the best value
 *  and the last max(1, history_len) stage-end values all lie within
 *  `tolerance` of the current value.
 *
 *  Caller's rules: every per-coefficient array holds nreg - 1 values (any of
 *  them may be null when nreg == 1); history holds max(1, history_len) values;
 *  no two array arguments share storage; limit_hit is cleared beforehand.
 *  Nothing is validated: an inverted box, a start point outside the box, or a
 *  zero, negative or NaN temperature are used as given.
 *
 *  response        in      see above.
 *  regressors      in      see above.
 *  nobs            in      see above.
 *  nreg            in      see above; the search runs over K-1 coefficients.
 *  coef            in-out  start point; on return the best point (status 0)
 *                          or the current point (status 1).
 *  quantile        in      see above.
 *  maximize        in      nonzero: maximise S; 0: minimise S.
 *  cooling         in      temperature factor after a stage that does not converge.
 *  tolerance       in      convergence tolerance.
 *  sweeps          in      sweeps per step adjustment.
 *  adjustments     in      step adjustments per stage.
 *  history_len     in      stage-end values compared by the convergence test.
 *  max_evals       in      evaluation limit: the run stops at the evaluation
 *                          that brings the count to max_evals (at least 2
 *                          evaluations are made when a trial is made).
 *  lower, upper    in      the box.
 *  step_gain       in      gain of the step adaptation, per coefficient.
 *  seed1, seed2    in      generator seeds; any int32 values.
 *  temperature     in-out  start temperature; on return that of the last stage.
 *  step            in-out  start step sizes; on return the adapted sizes.
 *  best            out     best point found.
 *  best_value      out     S at best, in the caller's sign.
 *  n_accepted      out     accepted trials.
 *  n_evals         out     objective evaluations, the start point's included.
 *  n_out_of_bounds out     trial coordinates redrawn inside the box
 *                          (saturates at INT32_MAX).
 *  status          out     0 converged, 1 evaluation limit (also for a run
 *                          whose stages make no trial and cannot converge).
 *  history         work    double[max(1, history_len)].
 *  trial           work    double[nreg - 1].
 *  accept_counts   work    int32[nreg - 1].
 *  limit_hit       out     set to 1 when status is 1; otherwise not written.
 *  fixed_coef      in      see above.
 *  @return 0.
 */
VIMOR_API int32_t _saa_(const double *response, const double *regressors,
                        const int32_t *nobs, const int32_t *nreg, double *coef,
                        const double *quantile, const int32_t *maximize,
                        const double *cooling, const double *tolerance,
                        const int32_t *sweeps, const int32_t *adjustments,
                        const int32_t *history_len, const int32_t *max_evals,
                        const double *lower, const double *upper,
                        const double *step_gain, const int32_t *seed1,
                        const int32_t *seed2, double *temperature, double *step,
                        double *best, double *best_value, int32_t *n_accepted,
                        int32_t *n_evals, int32_t *n_out_of_bounds,
                        int32_t *status, double *history, double *trial,
                        int32_t *accept_counts, int32_t *limit_hit,
                        const double *fixed_coef);

#ifdef __cplusplus
}
#endif

#endif /* VIMOR_H */

/*
 * vimor_fit: the estimation core every vimor host uses. Above the module's two
 * exports it holds the whole procedure of a fit: the value checks, the
 * data-derived box, start, steps and tolerance, the restarts and the choice of
 * the best, the flat ranges and profiles, the fit's warnings, the subsample draws and fits
 * and the subsampling intervals, the index x.b and the accuracy.
 *
 * It reaches the module only through the two function pointers a host gives
 * it (from dlopen, ctypes or a compiled-in copy), so the module stays as it is.
 *
 * Conventions:
 *  - Every function returns VIMOR_OK (0), VIMOR_ERROR or VIMOR_CANCELLED; on
 *    VIMOR_ERROR, vimor_last_error() tells why, on the calling thread.
 *  - An error blames one argument, vimor_last_error_argument(), by its
 *    neutral name (the setting keys below, or "y", "x", "normalize",
 *    "fixed_coef", "names", "coef"); "" when none is to blame. Other arguments
 *    the message mentions are written {key}. A host prints
 *    "<its spelling of the argument>: <message, each {key} spelled its way>"
 *    (the command line --lower, Python and R lower).
 *  - Data are borrowed: the response and regressors must stay alive and
 *    unchanged until the problem is freed. Everything else is copied.
 *  - No exception, and no thread, outlives a call.
 *
 * Setting keys (vimor_fit_set; every value a double, whole numbers where
 * marked #; vectors hold K-1 values, or 1 where "one for all" is allowed):
 *   quantile      in (0, 1)                        default 0.5
 *   maximize      0 or 1 #                         default 1
 *   box_scale     > 0                              default 10
 *   lower, upper  K-1 finite values                default from the data
 *   start         K-1 values inside the box        default the box's centre
 *   step          K-1 (or one for all) >= 0        default 0.25 of the box width
 *   step_gain     K-1 (or one for all) >= 0        default 2
 *   temperature   > 0; cooling in (0, 1]; tolerance >= 0 (default below the
 *                 smallest change one observation makes)
 *   sweeps, adjustments >= 1 #; history_len 1..10000 #; max_evals >= 1 #
 *   restarts      1..31329 #; seed 0..31328 #; seed2 0..30081 #
 *   threads       0..256 # (0: one per core, at most one per unit)
 *   subsamples    0..30081 # (0: no intervals)
 *   subsample_size 20..N-1 # (default floor(N^(2/3)))
 *   subsample_restarts 1..31329 # (default: restarts)
 *   level         in (0, 1)                        default 0.95
 *   bootstrap     0..30081 # (0: none; not with subsamples) draws of the
 *                 reshaped bootstrap, whose intervals replace subsampling's
 *   bootstrap_restarts 1..31329 #                  default 10
 *   bandwidth     > 0: c of h = c sd(x.b) N^(-1/7)  default 0.5
 *   certify       seconds >= 0 for the certificate  default 0 (none)
 * A NaN entry in lower, upper, start, step or step_gain stands for that
 * coefficient's default (so a host can give some coefficients by name).
 * Text keys (vimor_fit_set_text): interval = "symmetric" | "equal-tailed";
 * hessian = "crossfit" (default: the kernel estimate on each half of the rows
 * at the other half's estimate) | "kernel" (at the estimate) | "numerical"
 * (second differences): the bootstrap's curvature.
 *
 * Result keys (vimor_fit_size, vimor_fit_get), after the step that makes them:
 *   prepare:   every setting key above, resolved ("interval": 1 symmetric,
 *              0 equal-tailed); "nobs", "nreg", "fixed_coef"
 *   restarts:  "coef" (K-1), "objective", "correct", "accuracy" (share;
 *              both weighted for a weighted problem),
 *              "best_restart" (from 0), "reached" (restarts within the
 *              tolerance of the best value), "evaluations" (all restarts),
 *              "converged" (restarts that converged), "max_objective",
 *              "restart_records" (restarts x vimor_restart_record_size, in
 *              restart order),
 *              "flat_lower", "flat_upper" (K-1; -inf/+inf where the value
 *              holds to the end), "seconds"
 *              with certify > 0: "certificate_status" (1: no point of the
 *              box does better than the estimate; 0: time ran out),
 *              "certificate_upper_bound" (no point of the box has a larger
 *              objective; the objective itself when proven),
 *              "certificate_upper_correct" (nor classifies more correctly
 *              while beating the estimate), "certificate_nodes",
 *              "certificate_seconds", "certificate_improved" (1: the
 *              search missed the maximum, and the estimate is the better
 *              point the certificate found; a warning says so)
 *   finish:    "subsample_estimates" (B x (K-1), row by row, in draw order),
 *              "interval_lower", "interval_upper" (K-1), "redrawn",
 *              "multiple_best", "limit_hit", "subsample_seconds"; with the
 *              bootstrap, "subsample_estimates" holds the draws' estimates and
 *              "edge_hits" counts draws searched again in a wider box; with
 *              certify, "certified_optimal", "certified_bound" and
 *              "certified_improved" count the subsample fits or draws
 *   bootstrap (after restarts): "curvature" ((K-1)^2, row-major, after the
 *              floor), "curvature_eigenvalues" (before it, in standard
 *              units, largest first), "curvature_floored",
 *              "curvature_fell_back" (1: the cross-fitted V had no positive
 *              eigenvalue, and the kernel V at the estimate replaced it), "bandwidth_used"
 *              (h, the halves' mean when cross-fitted; 0 for second
 *              differences), "draw_half_widths" (K-1)
 */
#ifndef VIMOR_FIT_H
#define VIMOR_FIT_H

#include <stdint.h>

/* A host that compiles the core into its own library may define VIMOR_FIT_API
 * empty, so as not to export it. */
#ifndef VIMOR_FIT_API
#  if defined(__GNUC__)
#    define VIMOR_FIT_API __attribute__((visibility("default")))
#  else
#    define VIMOR_FIT_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { VIMOR_OK = 0, VIMOR_ERROR = 1, VIMOR_CANCELLED = 2 };

/* The module's two exports, as include/vimor.h declares them. */
typedef int32_t (*vimor_objective_fn)(const double *response, const double *regressors,
                                      const int32_t *nobs, const int32_t *nreg,
                                      const double *coef, double *score,
                                      const double *quantile, const double *fixed_coef);
typedef int32_t (*vimor_search_fn)(
    const double *response, const double *regressors, const int32_t *nobs,
    const int32_t *nreg, double *coef, const double *quantile, const int32_t *maximize,
    const double *cooling, const double *tolerance, const int32_t *sweeps,
    const int32_t *adjustments, const int32_t *history_len, const int32_t *max_evals,
    const double *lower, const double *upper, const double *step_gain, const int32_t *seed1,
    const int32_t *seed2, double *temperature, double *step, double *best, double *best_value,
    int32_t *n_accepted, int32_t *n_evals, int32_t *n_out_of_bounds, int32_t *status,
    double *history, double *trial, int32_t *accept_counts, int32_t *limit_hit,
    const double *fixed_coef);

/* Polled on the calling thread between units of work: nonzero stops the run,
 * which then returns VIMOR_CANCELLED once the units under way have ended. */
typedef int (*vimor_cancel_fn)(void *user);
/* Called on the calling thread, serialized: `done` of `total` units of a
 * phase (0: restarts, 1: subsample fits) have ended. */
typedef void (*vimor_progress_fn)(void *user, int32_t phase, int32_t done, int32_t total);

/* A cancel callback for hosts that can only set a flag: reads *(int *)user. */
VIMOR_FIT_API int vimor_cancel_flag(void *user);

/* Why the last call on this thread failed, and the argument it blames. */
VIMOR_FIT_API const char *vimor_last_error(void);
VIMOR_FIT_API const char *vimor_last_error_argument(void);

/* ---- problems ---------------------------------------------------------- */

typedef struct VimorProblem VimorProblem;

/* N observations of K regressors, column-major, the last column the
 * normalized one (its coefficient held at fixed_coef, finite and nonzero);
 * names: K regressor names, for messages and warnings. response: N values,
 * each 0 or 1, not all equal; NULL for a problem only to predict with.
 * Checks every value: a regressor that is not finite and, for a problem to
 * fit, a column that is zero in every row, a normalized column that is
 * constant. */
VIMOR_FIT_API int vimor_problem_new(const double *response, const double *regressors,
                                    int32_t nobs, int32_t nreg, double fixed_coef,
                                    const char *const *names, VimorProblem **out);
VIMOR_FIT_API void vimor_problem_free(VimorProblem *problem);

/* Weighs observation i by weights[i] (N values, finite, not negative, some
 * positive in each class; NULL: unweighted). The weights are copied, scaled
 * to mean 1: the objective is then the weighted mean of the terms and the
 * accuracy the weighted share; weights of 1 give the unweighted fit bit for
 * bit, and integer weights the fit of the data with rows repeated. The
 * module sees the response (1 - a) + w_i (y_i - (1 - a)) (y_i where w_i is
 * 1), which its objective weighs by w_i exactly as it computes. Set before
 * vimor_fit_new. */
VIMOR_FIT_API int vimor_problem_set_weights(VimorProblem *problem, const double *weights);

/* x_i.b for every observation (N values), each summed in the module's order;
 * coef: the K-1 free coefficients. Fails, blaming "x", when one is NaN. */
VIMOR_FIT_API int vimor_index(const VimorProblem *problem, const double *coef, double *index);
/* The objective at coef, as the module gives it (refused when NaN), and the
 * number (weighted: the total scaled weight) of observations with
 * 1[x_i.b >= 0] equal to y_i. */
VIMOR_FIT_API int vimor_score(const VimorProblem *problem, vimor_objective_fn objective,
                              const double *coef, double quantile, double *value,
                              double *correct);

/* ---- profiles ---------------------------------------------------------- */

typedef struct VimorProfile VimorProfile;

/* The objective along free coefficient j (0-based) over [lower, upper], the
 * others held at coef: a step function, changing only where an observation's
 * index changes sign. Step s holds on the doubles left[s]..right[s] (the
 * steps tile the window in order; neighbours differ in the objective or the
 * correct count), where the module's objective is objective[s], bit for bit,
 * and vimor_score's correct count is correct[s]. Exact, at the cost of
 * summing the rows after each change again (at most steps x N additions; a
 * window needing more than 2e10 is refused, blaming "window"). */
VIMOR_FIT_API int vimor_profile_new(const VimorProblem *problem, vimor_objective_fn objective,
                                    const double *coef, double quantile, int32_t j,
                                    double lower, double upper, VimorProfile **out);
VIMOR_FIT_API int32_t vimor_profile_steps(const VimorProfile *profile);
/* Writes vimor_profile_steps() values into each array. */
VIMOR_FIT_API int vimor_profile_get(const VimorProfile *profile, double *left, double *right,
                                    double *objective, double *correct);
VIMOR_FIT_API void vimor_profile_free(VimorProfile *profile);

/* ---- fits -------------------------------------------------------------- */

typedef struct VimorFit VimorFit;

/* A fit of `problem` (which must outlive it) through the module's exports. */
VIMOR_FIT_API int vimor_fit_new(const VimorProblem *problem, vimor_objective_fn objective,
                                vimor_search_fn search, VimorFit **out);
VIMOR_FIT_API void vimor_fit_free(VimorFit *fit);

/* Gives a setting; count is the number of values (1 for a scalar). Checked
 * here as far as it can be alone, the rest by vimor_fit_prepare. */
VIMOR_FIT_API int vimor_fit_set(VimorFit *fit, const char *key, const double *values,
                                int32_t count);
VIMOR_FIT_API int vimor_fit_set_text(VimorFit *fit, const char *key, const char *value);

/* Resolves every setting not given from the data and the shared defaults,
 * checks them together, and draws the subsamples. */
VIMOR_FIT_API int vimor_fit_prepare(VimorFit *fit);

/* The whole fit on `threads` threads (0: the threads setting): the
 * restarts, then the subsample fits; the results do not depend on the
 * number of threads. cancel and progress may be NULL. */
VIMOR_FIT_API int vimor_fit_run(VimorFit *fit, int32_t threads, vimor_cancel_fn cancel,
                                void *cancel_user, vimor_progress_fn progress,
                                void *progress_user);

/* Units of work, for hosts that schedule them themselves (any executor or
 * cluster); the results are bit for bit those of vimor_fit_run.
 *
 * A restart record is 8 + 2 (K-1) doubles: seed1, seed2, objective, final
 * temperature, status (0 converged, 1 evaluation limit), evaluations,
 * accepted moves, out-of-bounds draws, then the best point, then the final
 * step sizes. */
VIMOR_FIT_API int32_t vimor_restart_record_size(const VimorFit *fit);
/* Runs restart r (0-based) and writes its record; callable on several
 * threads at once for different r; stores nothing in the fit. */
VIMOR_FIT_API int vimor_fit_run_restart(const VimorFit *fit, int32_t r, double *record);
/* Hands the fit the records of all its restarts (restarts x record size,
 * in restart order), picks the best restart, checks its objective, and makes
 * the accuracy, the flat ranges and the warnings. */
VIMOR_FIT_API int vimor_fit_finish_restarts(VimorFit *fit, const double *records);

/* A subsample record is 6 + (K-1) doubles: the fit's objective, the restarts
 * that reached it within the tolerance, 1 when every restart hit the
 * evaluation limit (else 0), the times a bootstrap draw's box was doubled
 * (0 for a subsample), its certificate (-1 none, 0 a bound, 1 optimal; with
 * the certify setting, each fit gets certify / B seconds), 1 when the
 * certificate's point replaced the search's, then its best point.
 * vimor_fit_subsample_rows: the 0-based rows (ascending, subsample_size of
 * them) of subsample s. vimor_fit_run_subsample: fits subsample s on the
 * given rows (NULL: the fit's own draw); thread-safe for different s. */
VIMOR_FIT_API int32_t vimor_subsample_record_size(const VimorFit *fit);
VIMOR_FIT_API int vimor_fit_subsample_rows(const VimorFit *fit, int32_t s, int32_t *rows);
VIMOR_FIT_API int vimor_fit_run_subsample(const VimorFit *fit, int32_t s, const int32_t *rows,
                                          double *record);
/* Hands the fit the records of all subsample fits (in draw order), checks
 * them and makes the intervals. Needs vimor_fit_finish_restarts first.
 *
 * With the bootstrap setting, the same calls run and finish its draws:
 * vimor_fit_run_subsample(fit, b, NULL, record) runs draw b (after
 * vimor_fit_finish_restarts: a draw needs the estimate), and its record has
 * the layout above. */
VIMOR_FIT_API int vimor_fit_finish_subsamples(VimorFit *fit, const double *records);

/* Results: the number of values under `key`, and the values. */
VIMOR_FIT_API int vimor_fit_size(const VimorFit *fit, const char *key, int32_t *count);
VIMOR_FIT_API int vimor_fit_get(const VimorFit *fit, const char *key, double *values,
                                int32_t count);

/* Intervals at another level or kind from the same subsample fits, for free
 * coefficient j (0-based): writes lower and upper. */
VIMOR_FIT_API int vimor_fit_interval(const VimorFit *fit, int32_t j, double level,
                                     int symmetric, double *lower, double *upper);

/* The same interval from numbers alone (a saved fit's estimate and its B
 * subsample estimates of one coefficient): N observations, subsamples of
 * `size`. */
VIMOR_FIT_API int vimor_interval(double estimate, const double *draws, int32_t count,
                                 int32_t nobs, int32_t size, double level, int symmetric,
                                 double *lower, double *upper);

/* The draws as the interval reads them, for pictures: estimate + (size /
 * nobs)^(1/3) (draw - estimate) into out (count values); size is nobs for
 * bootstrap draws, which are already of the full sample's size. */
VIMOR_FIT_API int vimor_scaled_draws(double estimate, const double *draws, int32_t count,
                                     int32_t nobs, int32_t size, double *out);

/* The fit's warnings (signs that it may not mean what it seems), after
 * vimor_fit_finish_restarts: their number, and warning i (valid until the
 * fit is freed), with other arguments written {key}. */
VIMOR_FIT_API int32_t vimor_fit_warning_count(const VimorFit *fit);
VIMOR_FIT_API const char *vimor_fit_warning(const VimorFit *fit, int32_t i);

/* The shared default of a setting key, or of "fixed_coef". */
VIMOR_FIT_API int vimor_default(const char *key, double *value);

#ifdef __cplusplus
}
#endif

#endif

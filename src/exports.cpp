// The module's two entry points. Every argument comes by address; each shim
// reads its inputs, calls the routine and writes the results back.
#include "vimor.h"
#include "vimor_internal.h"

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
    vimor::SearchArgs args;
    args.response = response;
    args.regressors = regressors;
    args.nobs = *nobs;
    args.nreg = *nreg;
    args.quantile = *quantile;
    args.fixed_coef = *fixed_coef;
    args.maximize = *maximize != 0;
    args.cooling = *cooling;
    args.tolerance = *tolerance;
    args.sweeps = *sweeps;
    args.adjustments = *adjustments;
    args.history_len = *history_len;
    args.max_evals = *max_evals;
    args.lower = lower;
    args.upper = upper;
    args.step_gain = step_gain;
    args.seed1 = *seed1;
    args.seed2 = *seed2;
    args.coef = coef;
    args.temperature = temperature;
    args.step = step;
    args.best = best;
    args.best_value = best_value;
    args.n_accepted = n_accepted;
    args.n_evals = n_evals;
    args.n_out_of_bounds = n_out_of_bounds;
    args.status = status;
    args.limit_hit = limit_hit;
    args.history = history;
    args.trial = trial;
    args.accept_counts = accept_counts;
    vimor::saa_(args);
    return 0;
}

}  // extern "C"

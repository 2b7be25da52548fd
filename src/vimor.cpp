// vimor: the maximum-score objective, the uniform generator and the annealing
// search. Every floating-point operation is rounded to double in the order
// written (the module is built with -ffp-contract=off): the search settles
// near-ties by the last bits of objective values, so any reassociation or
// fused multiply-add would change the course of a run.
#include "vimor.h"
#include "vimor_internal.h"

#include <climits>
#include <cmath>

namespace vimor {

// ---------------------------------------------------------------- objective

// Sign of an observation's index. Zero of either sign counts as +1 (the
// indicator 1[x.b >= 0]); infinities give their sign. A NaN index gives the
// index itself, which is exactly what index / |index| yields for it.
static inline double sign_factor(double index) {
    if (index >= 0.0) return 1.0;
    if (index < 0.0) return -1.0;
    return index;
}

double fcna_(const double *response, const double *regressors, std::int32_t nobs,
             std::int32_t nreg, const double *coef, double quantile, double fixed_coef) {
    double score = 0.0;
    if (nobs <= 0) return score;
    const std::ptrdiff_t n = nobs;
    const double *last_column = regressors + (nreg - 1) * n;
    // 1/N and 1 - alpha are the same doubles for every observation.
    const double weight = 1.0 / static_cast<double>(nobs);
    const double shift = 1.0 - quantile;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double index = 0.0;
        for (std::int32_t j = 0; j < nreg - 1; ++j) index = regressors[j * n + i] * coef[j] + index;
        index = last_column[i] * fixed_coef + index;
        const double term = (weight * (response[i] - shift)) * sign_factor(index);
        score = term + score;
    }
    return score;
}

// ---------------------------------------------------------------- generator

thread_local GeneratorState raset1_;

void rmarin_(std::int32_t seed1, std::int32_t seed2) {
    // C++ division truncates toward zero and % takes the dividend's sign,
    // which is the arithmetic negative seeds rely on.
    std::int32_t i = (seed1 / 177) % 177 + 2;
    std::int32_t j = seed1 % 177 + 2;
    std::int32_t k = (seed2 / 169) % 178 + 1;
    std::int32_t l = seed2 % 169;
    for (int ii = 0; ii < 97; ++ii) {
        float s = 0.0f;
        float t = 0.5f;
        for (int bit = 0; bit < 24; ++bit) {
            const std::int32_t m = ((i * j) % 179 * k) % 179;
            i = j;
            j = k;
            k = m;
            l = (53 * l + 1) % 169;
            if ((l * m) % 64 >= 32) s = t + s;
            t = 0.5f * t;
        }
        raset1_.table[ii] = s;
    }
    raset1_.shift = 362436.0f / 16777216.0f;
    raset1_.shift_step = 7654321.0f / 16777216.0f;
    raset1_.shift_wrap = 16777213.0f / 16777216.0f;
    raset1_.lag1 = 97;
    raset1_.lag2 = 33;
}

float ranmar_() {
    GeneratorState &g = raset1_;
    float u = g.table[g.lag1 - 1] - g.table[g.lag2 - 1];
    if (u < 0.0f) u = u + 1.0f;
    g.table[g.lag1 - 1] = u;
    if (--g.lag1 == 0) g.lag1 = 97;
    if (--g.lag2 == 0) g.lag2 = 97;
    g.shift = g.shift - g.shift_step;
    if (g.shift < 0.0f) g.shift = g.shift_wrap + g.shift;
    u = u - g.shift;
    if (u < 0.0f) u = u + 1.0f;
    return u;
}

// ---------------------------------------------------------------- search

// Exact double widenings of the single-precision 0.6 and 0.4.
static constexpr double kHighRatio = static_cast<double>(0.6f);
static constexpr double kLowRatio = static_cast<double>(0.4f);
static constexpr double kHistoryFill = 1.0e20;
static constexpr std::int32_t kRunning = 99;

double exprep_(double x) {
    // Written so that NaN takes the cap.
    if (!(174.0 >= x)) return 3.69e75;
    if (-180.0 > x) return 0.0;
    return std::exp(x);
}

namespace {

// The arguments of one search, read once. Values held in out-arguments
// (best_value, temperature, counters) are kept in locals and written back at
// the exits; the caller's rules forbid aliasing, so this is unobservable.
struct Search {
    const double *response;
    const double *regressors;
    std::int32_t nobs;
    std::int32_t nreg;
    double quantile;
    double fixed_coef;
    bool maximize;

    // Objective in the internal sign: the search always maximises.
    double value(const double *point) const {
        const double s = fcna_(response, regressors, nobs, nreg, point, quantile, fixed_coef);
        return maximize ? s : -s;
    }
};

}  // namespace

}  // namespace vimor

using vimor::exprep_;
using vimor::kHighRatio;
using vimor::kLowRatio;
using vimor::ranmar_;

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
    const vimor::Search search{response, regressors, *nobs, *nreg, *quantile, *fixed_coef,
                               *maximize != 0};
    const int32_t nfree = *nreg - 1;
    const int32_t n_sweeps = *sweeps;
    const int32_t n_adjust = *adjustments;
    const int32_t n_history = *history_len;
    const int32_t limit = *max_evals;
    const double tol = *tolerance;

    // Setup.
    vimor::rmarin_(*seed1, *seed2);
    int32_t accepted = 0;
    int32_t out_of_bounds = 0;
    int32_t evals = 0;
    *status = vimor::kRunning;
    for (int32_t i = 0; i < nfree; ++i) {
        best[i] = coef[i];
        accept_counts[i] = 0;
    }
    for (int32_t i = 0; i < n_history; ++i) history[i] = vimor::kHistoryFill;
    double current_value = search.value(coef);
    ++evals;
    double best_val = current_value;
    history[0] = current_value;
    double temp = *temperature;

    // A stage without trials leaves every value unchanged, so if such a stage
    // fails the best-versus-current clause of the convergence test, every
    // later stage fails it too; those runs end through the limit exit.
    const bool stages_make_trials = nfree > 0 && n_sweeps > 0 && n_adjust > 0;

    auto finish = [&](int32_t code) {
        *temperature = temp;
        *best_value = search.maximize ? best_val : -best_val;
        *n_accepted = accepted;
        *n_evals = evals;
        *n_out_of_bounds = out_of_bounds;
        if (code == 1) *limit_hit = 1;
        *status = code;
        return 0;
    };

    for (;;) {
        for (int32_t cycle = 0; cycle < n_adjust; ++cycle) {
            for (int32_t sweep = 0; sweep < n_sweeps; ++sweep) {
                for (int32_t h = 0; h < nfree; ++h) {
                    // Trial point: move coordinate h, then redraw every
                    // coordinate outside the box (written so NaN is redrawn).
                    for (int32_t i = 0; i < nfree; ++i) {
                        if (i == h) {
                            const double r = ranmar_();
                            trial[i] = ((2.0 * r) - 1.0) * step[i] + coef[i];
                        } else {
                            trial[i] = coef[i];
                        }
                        if (lower[i] > trial[i] || !(upper[i] >= trial[i])) {
                            const double r = ranmar_();
                            trial[i] = (upper[i] - lower[i]) * r + lower[i];
                            if (out_of_bounds < INT32_MAX) ++out_of_bounds;
                        }
                    }

                    const double trial_value = search.value(trial);
                    ++evals;
                    if (evals >= limit) {
                        return finish(1);
                    }

                    // Metropolis acceptance; a NaN on either side counts as uphill.
                    bool accept = true;
                    if (current_value > trial_value) {
                        const double p = exprep_((trial_value - current_value) / temp);
                        const double r = ranmar_();
                        accept = p > r;
                    } else if (!(best_val >= trial_value)) {
                        for (int32_t i = 0; i < nfree; ++i) best[i] = trial[i];
                        best_val = trial_value;
                    }
                    if (accept) {
                        for (int32_t i = 0; i < nfree; ++i) coef[i] = trial[i];
                        current_value = trial_value;
                        ++accepted;
                        ++accept_counts[h];
                    }
                }
            }

            // Step adjustment. The comparisons are written so that a NaN
            // ratio grows and a NaN step is cut to the box width.
            for (int32_t i = 0; i < nfree; ++i) {
                const double ratio =
                    static_cast<double>(accept_counts[i]) / static_cast<double>(n_sweeps);
                if (!(kHighRatio >= ratio)) {
                    step[i] = ((ratio - kHighRatio) * step_gain[i] / kLowRatio + 1.0) * step[i];
                } else if (kLowRatio > ratio) {
                    step[i] = step[i] / ((kLowRatio - ratio) / kLowRatio * step_gain[i] + 1.0);
                }
                const double width = upper[i] - lower[i];
                if (!(width >= step[i])) step[i] = width;
            }
            for (int32_t i = 0; i < nfree; ++i) accept_counts[i] = 0;
        }

        // Stage end: convergence test, written so that NaN differences fail.
        history[0] = current_value;
        const bool best_close = tol >= best_val - history[0];
        bool converged = best_close;
        for (int32_t i = 0; i < n_history; ++i) {
            if (!(tol >= std::fabs(current_value - history[i]))) converged = false;
        }
        if (converged) {
            for (int32_t i = 0; i < nfree; ++i) coef[i] = best[i];
            return finish(0);
        }
        if (!stages_make_trials && !best_close) {
            return finish(1);
        }
        temp = temp * *cooling;
        for (int32_t i = n_history - 1; i >= 1; --i) history[i] = history[i - 1];
        current_value = best_val;
        for (int32_t i = 0; i < nfree; ++i) coef[i] = best[i];
    }
}

}  // extern "C"

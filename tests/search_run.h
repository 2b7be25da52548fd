// One call of _saa_ with every argument held in a struct, so that tests can
// set a few inputs, run, and compare whole outcomes.
#ifndef VIMOR_TESTS_SEARCH_RUN_H
#define VIMOR_TESTS_SEARCH_RUN_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "vimor.h"

struct SearchRun {
    using SaaFn = decltype(&_saa_);

    // Inputs.
    std::vector<double> response, regressors;  // regressors column-major
    int32_t nobs = 0, nreg = 2;
    std::vector<double> coef, lower, upper, step_gain, step;
    double quantile = 0.5, cooling = 0.85, tolerance = 1e-9, temperature = 1.0, fixed_coef = 1.0;
    int32_t maximize = 1, sweeps = 5, adjustments = 4, history_len = 3, max_evals = 100000;
    int32_t seed1 = 1802, seed2 = 9373;

    // Outputs and work arrays.
    std::vector<double> best, history, trial;
    std::vector<int32_t> accept_counts;
    double best_value = 0;
    int32_t n_accepted = -1, n_evals = -1, n_out_of_bounds = -1, status = -1, limit_hit = 0;
    int32_t returned = -1;

    // A box [lo, hi] for each of the nreg - 1 free coefficients, start at `start`.
    void set_box(double lo, double hi, double start, double start_step, double gain = 1.0) {
        const size_t m = static_cast<size_t>(nreg > 1 ? nreg - 1 : 0);
        lower.assign(m, lo);
        upper.assign(m, hi);
        coef.assign(m, start);
        step.assign(m, start_step);
        step_gain.assign(m, gain);
    }

    static double *ptr(std::vector<double> &v) { return v.empty() ? nullptr : v.data(); }
    static int32_t *ptr(std::vector<int32_t> &v) { return v.empty() ? nullptr : v.data(); }

    void run(SaaFn saa = &_saa_) {
        const size_t m = static_cast<size_t>(nreg > 1 ? nreg - 1 : 0);
        best.assign(m, -777.0);
        trial.assign(m, 0.0);
        accept_counts.assign(m, 0);
        history.assign(static_cast<size_t>(history_len > 1 ? history_len : 1), -777.0);
        returned = saa(ptr(response), ptr(regressors), &nobs, &nreg, ptr(coef), &quantile,
                       &maximize, &cooling, &tolerance, &sweeps, &adjustments, &history_len,
                       &max_evals, ptr(lower), ptr(upper), ptr(step_gain), &seed1, &seed2,
                       &temperature, ptr(step), ptr(best), &best_value, &n_accepted, &n_evals,
                       &n_out_of_bounds, &status, ptr(history), ptr(trial), ptr(accept_counts),
                       &limit_hit, &fixed_coef);
    }

    // Everything a caller can read back, compared bit for bit.
    bool same_outcome(const SearchRun &o) const {
        auto same = [](const auto &a, const auto &b) {
            return a.size() == b.size() &&
                   (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
        };
        return same(coef, o.coef) && same(best, o.best) && same(step, o.step) &&
               same(history, o.history) &&
               std::memcmp(&best_value, &o.best_value, sizeof best_value) == 0 &&
               std::memcmp(&temperature, &o.temperature, sizeof temperature) == 0 &&
               n_accepted == o.n_accepted && n_evals == o.n_evals &&
               n_out_of_bounds == o.n_out_of_bounds && status == o.status &&
               limit_hit == o.limit_hit && returned == o.returned;
    }
};

#endif

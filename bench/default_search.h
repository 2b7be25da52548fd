// The problems of the default-search benchmark: the command line's default
// model on the bundled Mroz data, and a simulated 20000 x 6 problem, each
// with the default box, start and settings of the estimation core.
#ifndef VIMOR_BENCH_DEFAULT_SEARCH_H
#define VIMOR_BENCH_DEFAULT_SEARCH_H

#include <cstdint>
#include <string>
#include <vector>

struct DefaultSearch {
    int32_t nobs = 0, nreg = 0;
    std::vector<double> response, regressors;  // regressors column-major, normalized last
    double fixed_coef = 1.0;
    // Settings, from the defaults and the data.
    std::vector<double> lower, upper, start, step, step_gain;
    double quantile = 0.5, temperature = 0, cooling = 0, tolerance = 0;
    int32_t maximize = 1, sweeps = 0, adjustments = 0, history_len = 0, max_evals = 0;
    int32_t seed1 = 0, seed2 = 0;
};

// The command line's default model: participation on (Intercept), education,
// experience, experience_sq, age, youngkids, oldkids and nonwife_income (in
// thousands), the last normalized to -1. Throws on a missing file or column.
DefaultSearch mroz_default_model(const std::string &csv_path);

// 20000 observations: an intercept, four standard normal regressors and a
// normalized one (coefficient +1); y = 1[x.b + e >= 0] with logistic e.
DefaultSearch simulated_problem(int32_t nobs, uint64_t seed);

#endif

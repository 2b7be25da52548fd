// One restart of the search through the module, and the rule that picks the
// reported one among them.
#ifndef VIMOR_FIT_RESTARTS_H
#define VIMOR_FIT_RESTARTS_H

#include <cstdint>
#include <vector>

#include "../../include/vimor_fit.h"
#include "problem.h"
#include "settings.h"

namespace vimor_fit {

struct Module {
    vimor_objective_fn objective = nullptr;
    vimor_search_fn search = nullptr;
};

struct Restart {
    std::int32_t seed1 = 0, seed2 = 0;
    double value = 0, temperature = 0;
    std::int32_t status = 0, evals = 0, accepted = 0, out_of_bounds = 0;
    std::vector<double> best, step;  // K - 1 each
};

// Restart r of a fit whose streams start at (seed, seed2) runs with seeds
// ((seed + r) mod 31329, seed2 mod 30082): distinct streams for distinct r.
Restart run_restart(const Module &module, const Problem &problem, const Settings &settings,
                    std::int32_t restarts_seed2, std::int32_t r);

// The record a host carries between processes, and back.
std::vector<double> to_record(const Restart &r);
Restart from_record(const double *record, std::int32_t nfree);
inline std::int32_t restart_record_size(std::int32_t nfree) { return 8 + 2 * nfree; }

struct Choice {
    std::size_t best = 0;      // the reported restart
    std::int32_t reached = 0;  // restarts within tolerance of its value
};

// The largest value wins (smallest when minimizing); ties go to the earliest
// restart. Fits that classify alike can differ in the last bits of the
// objective, so "reached the best" allows the convergence tolerance.
Choice choose(const std::vector<Restart> &restarts, bool maximize, double tolerance);

// The module's objective at `coef`.
double objective_at(const Module &module, const Problem &problem, double quantile,
                    const double *coef);

}  // namespace vimor_fit

#endif

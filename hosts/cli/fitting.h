// A fit of the command line's problem through the estimation core, with the
// progress line on a terminal, and what the reports read from it.
#ifndef VIMOR_CLI_FITTING_H
#define VIMOR_CLI_FITTING_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fit/src/fit.h"
#include "model.h"
#include "module.h"

using Settings = vimor_fit::Settings;
using Restart = vimor_fit::Restart;

// The core's view of a problem the command line holds.
vimor_fit::Problem core_problem(const Problem &problem);
vimor_fit::Module core_module(const Module &module);

struct FitResult {
    vimor_fit::Problem view;  // borrows the host's problem
    std::unique_ptr<vimor_fit::Fit> fit;
    std::vector<double> coef;  // K - 1 free coefficients
    double objective = 0;
    double correct = 0;  // weighted: the total weight

    const Settings &settings() const { return fit->settings(); }
    std::vector<double> get(const char *key) const;  // a result of the core's
    long long count(const char *key) const { return static_cast<long long>(get(key)[0]); }
};

// Checks the problem and the settings, as the fit will, without running it.
void check_settings(const Problem &problem, const vimor_fit::Given &given);

// Prepares and runs the fit (restarts, then subsample fits when asked),
// drawing progress on standard error when it is a terminal.
std::unique_ptr<FitResult> run_fit(const Module &module, const Problem &problem,
                                   const vimor_fit::Given &given);

// Writes the subsample estimates as CSV: a header of the free coefficients'
// names, then one row per subsample fit, in draw order.
void write_estimates(const std::string &path, const Problem &problem, const FitResult &fit);

#endif

// The fit command's search and interval flags: their declarations, their
// values parsed to numbers (each rounded once, correctly, every fault naming
// its flag), handed to the estimation core, and the core's argument names
// spelled as flags.
#ifndef VIMOR_CLI_FLAGS_H
#define VIMOR_CLI_FLAGS_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "fit/src/settings.h"

// Flags as typed; empty when not given.
struct SearchFlags {
    std::string lower, upper, start, step, step_gain;
    std::string box_scale, temperature, cooling, tolerance;
    std::string sweeps, adjustments, history, max_evals;
    std::string restarts, seed, seed2, threads;
    std::string certify;  // seconds; "10" when given without a value
    bool minimize = false;
    std::string subsamples, subsample_size, subsample_restarts, level, interval;
    std::string bootstrap, bootstrap_restarts, bandwidth, hessian;
    std::string estimates_file;  // where to write the subsample estimates, if anywhere
    std::string profile_file, profile_window;  // where to write the profiles, and over what
};

void add_search_flags(CLI::App &fit, SearchFlags &flags);

// The settings the flags give (with the quantile), for the core.
vimor_fit::Given given_settings(const SearchFlags &flags, const std::string &quantile);

// Parse a whole flag value as a finite double; throw UsageError naming `flag`.
double parse_real(const std::string &flag, const std::string &text);
// A comma-separated list of finite numbers.
std::vector<double> parse_list(const std::string &flag, const std::string &text);

// The flag for an argument the core names, and a core message with each
// {key} spelled as its flag.
std::string flag_for(const std::string &argument);
std::string spelled(const std::string &message);

#endif

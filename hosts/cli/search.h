// The settings of a fit, their data-derived defaults, and the restarts.
#ifndef VIMOR_CLI_SEARCH_H
#define VIMOR_CLI_SEARCH_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model.h"
#include "module.h"

// Flags as typed; empty when not given. Numbers are parsed here, not by the
// option parser, so every value is rounded once, correctly, and every fault
// names its flag.
struct SearchFlags {
    std::string lower, upper, start, step, step_gain;
    std::string box_scale, temperature, cooling, tolerance;
    std::string sweeps, adjustments, history, max_evals;
    std::string restarts, seed, seed2, threads;
    bool minimize = false;
};

struct Settings {
    double quantile = 0.5;
    bool maximize = true;
    std::vector<double> lower, upper, start, step, step_gain;  // K - 1 each
    double temperature = 0, cooling = 0, tolerance = 0;
    std::int32_t sweeps = 0, adjustments = 0, history_len = 0, max_evals = 0;
    std::int32_t restarts = 0, seed = 0, seed2 = 0;
    int threads = 1;
};

struct Restart {
    std::int32_t seed1 = 0, seed2 = 0;
    std::vector<double> best;
    double value = 0, temperature = 0;
    std::int32_t status = 0, evals = 0, accepted = 0, out_of_bounds = 0;
};

struct Fit {
    std::vector<Restart> restarts;
    std::size_t best = 0;      // index of the reported restart
    std::int32_t reached = 0;  // restarts within tolerance of the best value
    std::int64_t evals = 0;
    double seconds = 0;
};

// Distinct generator streams: seed1 in 0..31328, seed2 in 0..30081.
constexpr std::int32_t kSeed1Streams = 31329;
constexpr std::int32_t kSeed2Streams = 30082;

// Parse a whole flag value as a finite double, or as a whole number in
// lo..hi; throw UsageError naming `flag` otherwise.
double parse_real(const std::string &flag, const std::string &text);
std::int32_t parse_int(const std::string &flag, const std::string &text, long long lo,
                       long long hi);

// Parses a quantile flag value: a number strictly between 0 and 1.
double parse_quantile(const std::string &text);
// Parses a comma-separated list of `count` finite numbers (or one, repeated
// when `broadcast`), naming `flag` and `names` in messages.
std::vector<double> parse_list(const std::string &flag, const std::string &text,
                               const std::vector<std::string> &names, bool broadcast);

// Fills every setting, from the flags when given and from the shared
// defaults otherwise; throws UsageError for a value the module would
// misbehave on.
Settings resolve_settings(const SearchFlags &flags, double quantile, const Problem &problem);

// Runs the restarts (on `settings.threads` threads; results do not depend on
// it) and picks the best. `progress` is called after each restart finishes
// with the number finished so far; calls are serialized.
Fit run_fit(const Module &module, const Problem &problem, const Settings &settings,
            const std::function<void(int)> &progress);

#endif

// Subsampling confidence intervals for the free coefficients: B subsamples
// of size b drawn without replacement, each refitted with the full sample's
// model, box and search settings. The procedure, written once for every host,
// is in python/vimor/defaults.json ("_inference").
#ifndef VIMOR_CLI_INFERENCE_H
#define VIMOR_CLI_INFERENCE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model.h"
#include "module.h"
#include "search.h"

// Flags as typed; empty when not given.
struct InferenceFlags {
    std::string subsamples, subsample_size, subsample_restarts, level, interval;
    std::string estimates_file;  // where to write the subsample estimates, if anywhere
};

struct InferenceSettings {
    std::int32_t subsamples = 0;  // B; 0: no intervals
    std::int32_t size = 0;        // b
    std::int32_t restarts = 0;    // restarts per subsample fit
    double level = 0.95;
    bool symmetric = true;
    int threads = 1;  // for the subsample fits
};

// The smallest subsample size accepted.
constexpr std::int32_t kMinSubsampleSize = 20;

// Park-Miller "minimal standard" generator, x <- 48271 x mod (2^31 - 1):
// every product is below 2^53, so it is exact in doubles as well.
class Minstd {
   public:
    // State 1 + seed + 31329 * seed2, for seed in 0..31328 and seed2 in 0..30081.
    Minstd(std::int32_t seed, std::int32_t seed2);
    std::int64_t next();
    // Uniform on 0..n-1 (n >= 1), by rejection so that no value is favoured.
    std::int64_t below(std::int64_t n);

   private:
    std::int64_t state_;
};

// Largest b with b^3 <= n^2: the default subsample size, floor(n^(2/3)).
std::int32_t default_subsample_size(std::int32_t nobs);

// Checks the flags against the problem before any work starts. The fits
// run on --threads threads when given (`threads_given`), else on every core.
InferenceSettings resolve_inference(const InferenceFlags &flags, const Settings &settings,
                                    bool threads_given, const Problem &problem);

// The subsamples, each as ascending row numbers, drawn in order from one
// stream; a draw on which the normalized column is constant is replaced by
// the next draw and counted in `redrawn`.
std::vector<std::vector<std::int32_t>> draw_subsamples(const Problem &problem,
                                                       const InferenceSettings &inference,
                                                       std::int32_t seed, std::int32_t seed2,
                                                       std::int32_t &redrawn);

// The rows `rows` of `problem`, in that order.
Problem subproblem(const Problem &problem, const std::vector<std::int32_t> &rows);

struct Inference {
    InferenceSettings settings;
    std::vector<std::vector<double>> estimates;  // B fits, K - 1 coefficients each
    std::vector<double> lower, upper;            // K - 1 interval ends
    std::int32_t redrawn = 0;                    // degenerate draws replaced
    std::int32_t multiple_best = 0;  // fits whose best value more than one restart reached
    std::int32_t limit_hit = 0;      // fits in which every restart hit the evaluation limit
    double seconds = 0;
};

// Order statistic k (1-based) of B values used as the quantile at p:
// k = ceil(p * B - 1e-9), clamped to 1..B.
std::int32_t quantile_rank(double p, std::int32_t count);

// Interval ends from the full-sample estimate and the subsample estimates.
void interval_ends(Inference &inference, const std::vector<double> &estimate, std::int32_t nobs);

// Draws the subsamples and fits each (on inference.threads threads; the result
// does not depend on it); `progress` gets the number of fits done.
Inference run_inference(const Module &module, const Problem &problem, const Settings &settings,
                        const InferenceSettings &inference, const std::vector<double> &estimate,
                        const std::function<void(int)> &progress);

// Writes the subsample estimates as CSV: a header of the free coefficients'
// names, then one row per subsample fit, in draw order.
void write_estimates(const std::string &path, const Problem &problem, const Inference &inference);

#endif

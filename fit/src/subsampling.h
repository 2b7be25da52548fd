// Subsampling confidence intervals for the free coefficients: B subsamples
// of b rows drawn without replacement from one stream, each refitted with
// the full sample's box and settings, and intervals at rate n^(1/3).
#ifndef VIMOR_FIT_SUBSAMPLING_H
#define VIMOR_FIT_SUBSAMPLING_H

#include <cstdint>
#include <vector>

#include "problem.h"
#include "restarts.h"
#include "settings.h"

namespace vimor_fit {

// Park-Miller "minimal standard" generator, x <- 48271 x mod (2^31 - 1):
// every product is below 2^53, so it is exact in doubles as well.
class Minstd {
   public:
    // State 1 + seed + 31329 * seed2, for seed in 0..31328 and seed2 in 0..30081.
    Minstd(std::int32_t seed, std::int32_t seed2);
    std::int64_t next();
    // Uniform on 0..n-1 (n >= 1), by rejection so that no value is favoured.
    std::int64_t below(std::int64_t n);
    // The generator as it stood at `state` (a value of state()).
    static Minstd at(std::int64_t state);
    std::int64_t state() const { return state_; }

   private:
    std::int64_t state_;
};

// The subsamples, each as ascending row numbers, drawn in order from the
// stream (seed, seed2) by a partial Fisher-Yates shuffle of the identity; a
// draw on which the normalized column is constant is replaced by the next
// draw and counted in `redrawn`.
std::vector<std::vector<std::int32_t>> draw_subsamples(const Problem &problem,
                                                       const Settings &settings,
                                                       std::int32_t &redrawn);

struct SubsampleFit {
    double value = 0;
    std::int32_t reached = 0;  // restarts within the tolerance of the best
    bool limit_hit = false;    // every restart hit the evaluation limit
    std::vector<double> coef;  // K - 1
    std::int32_t widened = 0;  // bootstrap draws: times the box was doubled
    // With the certify setting: -1 not certified, 0 a bound only, 1 proven
    // optimal over its box; improved when the certificate's point replaced
    // the search's.
    std::int32_t certified = -1;
    bool improved = false;
};

// The certificate of a subsample fit or bootstrap draw, within its share of
// the certify setting (the seconds over the number of such fits): a better
// point it finds replaces the search's.
void certify_resample(const Module &module, const Problem &problem, const Settings &settings,
                      const std::vector<double> &lower, const std::vector<double> &upper,
                      SubsampleFit &fit);

// Fits subsample s on `rows`: restart r runs from seeds (seed + r,
// seed2 + 1 + s), streams the full fit never uses; the best restart is kept.
SubsampleFit fit_subsample(const Module &module, const Problem &problem, const Settings &settings,
                           std::int32_t s, const std::int32_t *rows);

std::vector<double> to_record(const SubsampleFit &f);
SubsampleFit subsample_from_record(const double *record, std::int32_t nfree);
inline std::int32_t subsample_record_size(std::int32_t nfree) { return 6 + nfree; }

// Order statistic k (1-based) of B values used as the quantile at p:
// k = ceil(p * B - 1e-9), clamped to 1..B.
std::int32_t quantile_rank(double p, std::int32_t count);

// The fewest subsamples whose interval at `level` ends at interior order
// statistics: with fewer, an end is the largest (or smallest) draw, and the
// interval would be the same at every higher level. 0 when no B below
// 30082 is enough.
std::int32_t fewest_subsamples(double level, bool symmetric);

// Refuses, blaming `argument`, B estimates too few for `level` (of B
// subsamples, or of B draws of the bootstrap: key "bootstrap", noun "draw").
void check_enough_subsamples(std::int32_t count, double level, bool symmetric,
                             const char *argument, const char *key = "subsamples",
                             const char *noun = "subsample");

// Below this many subsamples a fit warns that its intervals are rough.
constexpr std::int32_t kFewSubsamples = 50;

// The draws as the interval reads them, on the full sample's scale:
// estimate + (b/N)^(1/3) (draw - estimate); the symmetric interval's half
// width is a quantile of their distances from the estimate. For pictures.
std::vector<double> scaled_draws(double estimate, const std::vector<double> &draws,
                                 std::int32_t nobs, std::int32_t size);

// The interval of one coefficient from its estimate and its B subsample
// estimates: d = (subsample - full) + 0 (no -0), r = (b / N)^(1/3);
// symmetric e -+ |d|_(rank(level)) r, or equal-tailed
// [e - d_(rank(1 - a/2)) r, e - d_(rank(a/2)) r].
void interval(double estimate, const std::vector<double> &draws, std::int32_t nobs,
              std::int32_t size, double level, bool symmetric, double &lower, double &upper);

}  // namespace vimor_fit

#endif

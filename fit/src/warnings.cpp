#include "warnings.h"

#include <cmath>
#include <set>

#include "subsampling.h"
#include "text.h"

namespace vimor_fit {

namespace {

constexpr double kEdge = 1e-2;
constexpr double kApart = 0.1;
constexpr std::size_t kFewValues = 10;

}  // namespace

std::vector<std::string> fit_warnings(const Problem &p, const Settings &s,
                                      const std::vector<Restart> &restarts, std::size_t chosen,
                                      const std::vector<double> *estimate) {
    std::vector<std::string> out;
    const std::vector<double> &best = restarts[chosen].best;
    const std::size_t nfree = best.size();
    const std::vector<double> &at = estimate ? *estimate : best;

    for (std::size_t j = 0; j < nfree; ++j) {
        const double lo = s.lower[j], hi = s.upper[j], width = hi - lo;
        if (width > 0 && (at[j] - lo <= kEdge * width || hi - at[j] <= kEdge * width)) {
            out.push_back("the estimate for " + quote(p.names[j]) + " (" + significant(at[j]) +
                          ") is on the edge of its box [" + significant(lo) + ", " +
                          significant(hi) +
                          "]: the box may be too small ({box_scale}, {lower}, {upper})");
        }
    }

    if (s.subsamples > 0 && s.subsamples < kFewSubsamples) {
        out.push_back("intervals from " + std::to_string(s.subsamples) +
                      " subsamples are rough: each end is one order statistic of few estimates; "
                      "use {subsamples} " + std::to_string(kFewSubsamples) + " or more (200 is usual)");
    }
    if (s.bootstrap > 0 && s.bootstrap < kFewSubsamples) {
        out.push_back("intervals from " + std::to_string(s.bootstrap) +
                      " bootstrap draws are rough: each end is one order statistic of few "
                      "estimates; use {bootstrap} " + std::to_string(kFewSubsamples) +
                      " or more (999 is usual)");
    }

    std::set<double> distinct;
    const double *scale = p.column(p.nreg - 1);
    for (std::int32_t i = 0; i < p.nobs && distinct.size() < kFewValues; ++i) {
        distinct.insert(scale[i]);
    }
    if (distinct.size() < kFewValues) {
        out.push_back("the normalized regressor " + quote(p.names.back()) + " takes only " +
                      std::to_string(distinct.size()) +
                      " distinct values: the scale is identified only through a continuously "
                      "distributed regressor");
    }

    const double value = restarts[chosen].value;
    for (std::size_t j = 0; j < nfree; ++j) {
        double lo = best[j], hi = best[j];
        for (const Restart &r : restarts) {
            if (std::fabs(r.value - value) > s.tolerance) continue;
            lo = std::fmin(lo, r.best[j]);
            hi = std::fmax(hi, r.best[j]);
        }
        const double width = s.upper[j] - s.lower[j];
        if (hi - lo > kApart * width) {
            out.push_back("restarts reach the best value with " + quote(p.names[j]) +
                          " anywhere from " + significant(lo) + " to " + significant(hi) +
                          ": the maximum is a set and the estimate one point of it");
        }
    }
    return out;
}

std::string missed_maximum(const Certificate &c, double searched, bool maximize) {
    return std::string("the search missed the ") + (maximize ? "maximum" : "minimum") +
           ": the certificate found the objective " + significant(c.value) + " where the best "
           "restart reached " + significant(searched) + ", and the estimate is its point; more "
           "{restarts} or a slower {cooling} may find such points";
}

}  // namespace vimor_fit

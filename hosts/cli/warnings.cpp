#include "warnings.h"

#include <fmt/format.h>

#include <cmath>
#include <set>

#include "text.h"

namespace {

constexpr double kEdge = 1e-2;
constexpr double kApart = 0.1;
constexpr std::size_t kFewValues = 10;

}  // namespace

std::vector<std::string> fit_warnings(const Problem &problem, const Settings &settings,
                                      const Fit &fit) {
    std::vector<std::string> out;
    const std::vector<double> &best = fit.restarts[fit.best].best;
    const std::size_t nfree = best.size();

    for (std::size_t j = 0; j < nfree; ++j) {
        const double lo = settings.lower[j], hi = settings.upper[j], width = hi - lo;
        if (width > 0 && (best[j] - lo <= kEdge * width || hi - best[j] <= kEdge * width)) {
            out.push_back(fmt::format(
                "the estimate for {} ({:.7g}) is on the edge of its box [{:.7g}, {:.7g}]: the "
                "box may be too small (--box-scale, --lower, --upper)",
                quote(problem.names[j]), best[j], lo, hi));
        }
    }

    std::set<double> distinct;
    const double *scale = problem.column(problem.nreg - 1);
    for (std::int32_t i = 0; i < problem.nobs && distinct.size() < kFewValues; ++i) {
        distinct.insert(scale[i]);
    }
    if (distinct.size() < kFewValues) {
        out.push_back(fmt::format(
            "the normalized regressor {} takes only {} distinct values: the scale is "
            "identified only through a continuously distributed regressor",
            quote(problem.names.back()), distinct.size()));
    }

    const double value = fit.restarts[fit.best].value;
    for (std::size_t j = 0; j < nfree; ++j) {
        double lo = best[j], hi = best[j];
        for (const Restart &r : fit.restarts) {
            if (std::fabs(r.value - value) > settings.tolerance) continue;
            lo = std::fmin(lo, r.best[j]);
            hi = std::fmax(hi, r.best[j]);
        }
        const double width = settings.upper[j] - settings.lower[j];
        if (hi - lo > kApart * width) {
            out.push_back(fmt::format(
                "restarts reach the best value with {} anywhere from {:.7g} to {:.7g}: the "
                "maximum is a set and the estimate one point of it",
                quote(problem.names[j]), lo, hi));
        }
    }
    return out;
}

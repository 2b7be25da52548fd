#include "flat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Doubles in order as integers: -max..max map to an increasing range, so the
// search below can halve the count of doubles between two values.
std::int64_t ordinal(double x) {
    std::int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
}

double from_ordinal(std::int64_t k) {
    const std::int64_t bits = k < 0 ? std::numeric_limits<std::int64_t>::min() - k : k;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The first finite double at which observation i's sign (index >= 0) differs
// from its sign at the most negative double, or none. Rounding is monotone, so
// the index is monotone in coefficient j and the sign changes at most once.
bool change_point(const Problem &problem, std::vector<double> &coef, std::int32_t j, std::int32_t i,
                  double &point) {
    auto sign_at = [&](double t) {
        coef[j] = t;
        return observation_index(problem, coef, i) >= 0.0;
    };
    const double max = std::numeric_limits<double>::max();
    const bool first = sign_at(-max);
    if (sign_at(max) == first) return false;
    std::int64_t lo = ordinal(-max), hi = ordinal(max);  // sign(lo) = first, sign(hi) != first
    while (lo < hi - 1) {
        // Halves without overflow: the two ends can be 2^64 apart.
        const std::int64_t mid = (lo >> 1) + (hi >> 1) + (lo & hi & 1);
        (sign_at(from_ordinal(mid)) == first ? lo : hi) = mid;
    }
    point = from_ordinal(hi);
    return true;
}

}  // namespace

double observation_index(const Problem &problem, const std::vector<double> &coef, std::int32_t i) {
    // Multiply, then add, from +0: the module's order (built without contraction).
    double index = 0.0;
    const std::int32_t last = problem.nreg - 1;
    for (std::int32_t j = 0; j < last; ++j) index = problem.column(j)[i] * coef[j] + index;
    return problem.column(last)[i] * problem.fixed_coef + index;
}

std::vector<FlatRange> flat_ranges(const Module &module, const Problem &problem, double quantile,
                                   const std::vector<double> &coef, double value) {
    const std::int32_t nfree = problem.nreg - 1;
    std::vector<FlatRange> ranges(nfree);
    std::vector<double> work = coef;
    auto objective = [&](std::int32_t j, double t) {
        work = coef;
        work[j] = t;
        double s = 0;
        module.fcna(problem.response.data(), problem.regressors.data(), &problem.nobs,
                    &problem.nreg, work.data(), &s, &quantile, &problem.fixed_coef);
        return s;
    };
    for (std::int32_t j = 0; j < nfree; ++j) {
        std::vector<double> points;
        for (std::int32_t i = 0; i < problem.nobs; ++i) {
            work = coef;
            double point;
            if (change_point(problem, work, j, i, point)) points.push_back(point);
        }
        std::sort(points.begin(), points.end());
        points.erase(std::unique(points.begin(), points.end()), points.end());
        // The signs are constant from one change point up to the next, so
        // one evaluation per point decides each piece.
        const auto above = std::upper_bound(points.begin(), points.end(), coef[j]);
        FlatRange &r = ranges[j];
        r.hi = kInf;
        for (auto p = above; p != points.end(); ++p) {
            if (objective(j, *p) != value) {
                r.hi = std::nextafter(*p, -kInf);
                break;
            }
        }
        r.lo = -kInf;
        for (auto p = above; p != points.begin();) {
            --p;
            if (objective(j, std::nextafter(*p, -kInf)) != value) {
                r.lo = *p;
                break;
            }
        }
    }
    return ranges;
}

#include "profile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "error.h"
#include "flat.h"
#include "text.h"

namespace vimor_fit {

namespace {

// Steps whose sums are replayed side by side: each is a chain of the
// module's additions that cannot start before its first changed row, and one
// chain at a time waits on every addition, while independent ones overlap.
constexpr int kLanes = 16;

// The module's sum over the rows, replayed for several sign patterns at once
// from the first row where they differ; partial[i] is the sum before row i
// under the current pattern, and the correct count (weighted: total weight,
// summed in row order) beside it.
struct Replay {
    const Problem &p;
    std::vector<double> term;  // (1/N)(y_i - (1 - a)), as the module forms it
    std::vector<double> partial, partial_correct;
    std::vector<unsigned char> positive;
    std::vector<signed char> lane_from;  // the first lane that sees row i flipped
    std::int64_t count = 0;              // unweighted correct count

    Replay(const Problem &problem, double quantile)
        : p(problem), term(problem.nobs), partial(problem.nobs + 1, 0.0),
          partial_correct(problem.nobs + 1, 0.0), positive(problem.nobs, 0),
          lane_from(problem.nobs, kLanes) {
        const double weight = 1.0 / static_cast<double>(p.nobs), shift = 1.0 - quantile;
        const double *y = p.module_y();
        for (std::int32_t i = 0; i < p.nobs; ++i) term[i] = weight * (y[i] - shift);
    }
    bool correct(std::int32_t i, bool sign) const { return sign == (p.response[i] == 1.0); }
    // Lane l sees the rows marked with lane_from <= l flipped (so the last
    // lane sees every row marked); each lane's sum is the module's,
    // term * (+1 or -1), exact, added in row order. The stored partial sums
    // become the last lane's.
    void run(std::int32_t from, int lanes, double *objective, double *correct_total) {
        double sum[kLanes], hits[kLanes];
        for (int l = 0; l < kLanes; ++l) {
            sum[l] = partial[from];
            hits[l] = partial_correct[from];
        }
        const double *w = p.weights;
        for (std::int32_t i = from; i < p.nobs; ++i) {
            // The term under the stored signs; a lane that sees the row
            // flipped adds its negation (the sign bit alone, so no branch).
            const double t = positive[i] ? term[i] : -term[i];
            std::uint64_t bits;
            std::memcpy(&bits, &t, sizeof bits);
            const int flipped_from = lane_from[i];
            for (int l = 0; l < kLanes; ++l) {
                const std::uint64_t lane_bits = bits ^ (std::uint64_t(l >= flipped_from) << 63);
                double lane_term;
                std::memcpy(&lane_term, &lane_bits, sizeof lane_term);
                sum[l] = lane_term + sum[l];
            }
            partial[i + 1] = sum[kLanes - 1];
            if (w) {
                const bool right = correct(i, positive[i]);
                for (int l = 0; l < kLanes; ++l) {
                    hits[l] = right != (l >= flipped_from) ? hits[l] + w[i] : hits[l];
                }
                partial_correct[i + 1] = hits[kLanes - 1];
            }
        }
        for (int l = 0; l < lanes; ++l) {
            objective[l] = sum[l];
            correct_total[l] = hits[l];
        }
    }
    void flip(std::int32_t i) {
        count -= correct(i, positive[i]);
        positive[i] ^= 1;
        count += correct(i, positive[i]);
        lane_from[i] = kLanes;
    }
};

bool same(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

}  // namespace

std::vector<ProfileStep> profile(const Module &module, const Problem &p, double quantile,
                                 const double *coef, std::int32_t j, double lower, double upper,
                                 double max_additions) {
    const std::string &name = p.names[j];
    if (!(std::isfinite(lower) && std::isfinite(upper) && lower <= upper)) {
        throw ArgumentError("window", "the window of " + quote(name) + ", [" + shortest(lower) +
                                          ", " + shortest(upper) + "], is not a finite range");
    }
    std::vector<double> at(coef, coef + p.nfree());
    Replay replay(p, quantile);
    // Signs at the window's left end; an index that overflows at either end
    // would make the module's objective not a number.
    for (const double end : {upper, lower}) {
        at[j] = end;
        for (std::int32_t i = 0; i < p.nobs; ++i) {
            const double index = observation_index(p, at.data(), i);
            if (index != index) {
                throw ArgumentError("window", "an index x.b overflows at " + quote(name) + " = " +
                                                  shortest(end) + "; narrow the window or "
                                                  "rescale the regressors");
            }
            replay.positive[i] = index >= 0.0;
        }
    }
    for (std::int32_t i = 0; i < p.nobs; ++i) replay.count += replay.correct(i, replay.positive[i]);

    // Every row whose sign changes inside (lower, upper], in the order of the
    // point where it does, and the groups that change at one point.
    std::vector<std::pair<double, std::int32_t>> flips;
    visit_change_points(
        p, coef,
        [&](std::int32_t, std::int32_t i, double point) {
            if (point > lower && point <= upper) flips.emplace_back(point, i);
        },
        j);
    std::sort(flips.begin(), flips.end());
    std::vector<std::size_t> group_start;
    for (std::size_t a = 0; a < flips.size(); ++a) {
        if (a == 0 || flips[a].first != flips[a - 1].first) group_start.push_back(a);
    }
    const std::size_t groups = group_start.size();
    group_start.push_back(flips.size());
    double additions = 0;  // each group's sum is replayed from its first row on
    for (std::size_t g = 0; g < groups; ++g) {
        std::int32_t first = p.nobs;
        for (std::size_t a = group_start[g]; a < group_start[g + 1]; ++a) {
            first = std::min(first, flips[a].second);
        }
        additions += double(p.nobs - first);
    }
    if (additions > max_additions) {
        throw ArgumentError("window", "the profile of " + quote(name) + " over [" +
                                          shortest(lower) + ", " + shortest(upper) + "] has " +
                                          std::to_string(flips.size()) + " steps over " +
                                          std::to_string(p.nobs) +
                                          " rows, too many to sum exactly; give a narrower "
                                          "window");
    }

    // value[g] and hits[g]: the objective and correct count after the first g groups.
    std::vector<double> value(groups + 1), hits(groups + 1);
    replay.run(0, 1, &value[0], &hits[0]);
    if (!p.weights) hits[0] = double(replay.count);
    if (!same(objective_at(module, p, quantile, at.data()), value[0])) {
        throw std::runtime_error("the module's objective differs from its sum replayed in the "
                                 "module's order; the module is not the one this core was "
                                 "built for");
    }
    for (std::size_t g0 = 0; g0 < groups; g0 += kLanes) {
        const int lanes = static_cast<int>(std::min<std::size_t>(kLanes, groups - g0));
        std::int32_t first = p.nobs;
        for (int l = 0; l < lanes; ++l) {
            for (std::size_t a = group_start[g0 + l]; a < group_start[g0 + l + 1]; ++a) {
                replay.lane_from[flips[a].second] = static_cast<signed char>(l);
                first = std::min(first, flips[a].second);
            }
        }
        replay.run(first, lanes, &value[g0 + 1], &hits[g0 + 1]);
        for (int l = 0; l < lanes; ++l) {
            for (std::size_t a = group_start[g0 + l]; a < group_start[g0 + l + 1]; ++a) {
                replay.flip(flips[a].second);
            }
            if (!p.weights) hits[g0 + 1 + l] = double(replay.count);
        }
    }

    // Step g holds from the point of group g - 1 (the window's left end for
    // g = 0) to the double before group g's (the right end for the last);
    // neighbours alike in both values are one step.
    std::vector<ProfileStep> steps;
    for (std::size_t g = 0; g <= groups; ++g) {
        const double left = g == 0 ? lower : flips[group_start[g - 1]].first;
        const double right = g == groups ? upper : std::nextafter(flips[group_start[g]].first, -HUGE_VAL);
        if (!steps.empty() && same(steps.back().objective, value[g]) &&
            same(steps.back().correct, hits[g])) {
            steps.back().right = right;
        } else {
            steps.push_back({left, right, value[g], hits[g]});
        }
    }
    return steps;
}

}  // namespace vimor_fit

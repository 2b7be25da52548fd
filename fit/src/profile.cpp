#include "profile.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "error.h"
#include "flat.h"
#include "text.h"

namespace vimor_fit {

namespace {

// The module's sum over rows from `from` on, given each row's sign, and the
// correct count beside it: partial[i] is the sum before row i.
struct Replay {
    const Problem &p;
    std::vector<double> term;  // (1/N)(y_i - (1 - a)), as the module forms it
    std::vector<double> partial, partial_correct;
    std::vector<unsigned char> positive;
    std::int64_t count = 0;  // unweighted correct count

    Replay(const Problem &problem, double quantile)
        : p(problem), term(problem.nobs), partial(problem.nobs + 1, 0.0),
          partial_correct(problem.nobs + 1, 0.0), positive(problem.nobs, 0) {
        const double weight = 1.0 / static_cast<double>(p.nobs), shift = 1.0 - quantile;
        const double *y = p.module_y();
        for (std::int32_t i = 0; i < p.nobs; ++i) term[i] = weight * (y[i] - shift);
    }
    bool correct(std::int32_t i) const { return bool(positive[i]) == (p.response[i] == 1.0); }
    void run(std::int32_t from) {
        for (std::int32_t i = from; i < p.nobs; ++i) {
            // term * (+1 or -1), exact, then added to the sum as the module does
            partial[i + 1] = (positive[i] ? term[i] : -term[i]) + partial[i];
            if (p.weights) {
                partial_correct[i + 1] =
                    correct(i) ? partial_correct[i] + p.weights[i] : partial_correct[i];
            }
        }
    }
    void flip(std::int32_t i) {
        count -= correct(i);
        positive[i] ^= 1;
        count += correct(i);
    }
    double objective() const { return partial[p.nobs]; }
    double correct_total() const { return p.weights ? partial_correct[p.nobs] : double(count); }
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
    for (std::int32_t i = 0; i < p.nobs; ++i) replay.count += replay.correct(i);

    // Every row whose sign changes inside (lower, upper], in the order of the
    // point where it does.
    std::vector<std::pair<double, std::int32_t>> flips;
    visit_change_points(p, coef, [&](std::int32_t jj, std::int32_t i, double point) {
        if (jj == j && point > lower && point <= upper) flips.emplace_back(point, i);
    });
    std::sort(flips.begin(), flips.end());
    double additions = 0;
    for (std::size_t a = 0; a < flips.size();) {
        std::size_t b = a;
        std::int32_t first = flips[a].second;
        for (; b < flips.size() && flips[b].first == flips[a].first; ++b) {
            first = std::min(first, flips[b].second);
        }
        additions += double(p.nobs - first);
        a = b;
    }
    if (additions > max_additions) {
        throw ArgumentError("window", "the profile of " + quote(name) + " over [" +
                                          shortest(lower) + ", " + shortest(upper) + "] has " +
                                          std::to_string(flips.size()) + " steps over " +
                                          std::to_string(p.nobs) +
                                          " rows, too many to sum exactly; give a narrower "
                                          "window");
    }

    std::vector<ProfileStep> steps;
    const auto close = [&](double left, double right) {
        const double value = replay.objective(), correct = replay.correct_total();
        if (!steps.empty() && same(steps.back().objective, value) &&
            same(steps.back().correct, correct)) {
            steps.back().right = right;
        } else {
            steps.push_back({left, right, value, correct});
        }
    };
    replay.run(0);
    if (!same(objective_at(module, p, quantile, at.data()), replay.objective())) {
        throw std::runtime_error("the module's objective differs from its sum replayed in the "
                                 "module's order; the module is not the one this core was "
                                 "built for");
    }
    double left = lower;
    for (std::size_t a = 0; a < flips.size();) {
        const double point = flips[a].first;
        close(left, std::nextafter(point, -HUGE_VAL));
        std::int32_t first = p.nobs;
        for (; a < flips.size() && flips[a].first == point; ++a) {
            replay.flip(flips[a].second);
            first = std::min(first, flips[a].second);
        }
        replay.run(first);
        left = point;
    }
    close(left, upper);
    return steps;
}

}  // namespace vimor_fit

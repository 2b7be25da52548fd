#include "flat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

namespace vimor_fit {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();  // no value passes

// Doubles in order as integers, both zeros at 0: the sign of a zero never
// decides a comparison with >=, so the searches below may merge them.
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

// The smallest ordinal in (lo, hi] at which the monotone predicate q holds,
// given !q(lo) and q(hi): galloping out from `guess`, then halving. The ends
// can be 2^64 apart, so distances are unsigned.
template <class Q>
std::int64_t first_true(std::int64_t lo, std::int64_t hi, std::int64_t guess, const Q &q) {
    const auto distance = [](std::int64_t a, std::int64_t b) {
        return std::uint64_t(b) - std::uint64_t(a);
    };
    const auto moved = [](std::int64_t a, std::uint64_t by, bool up) {
        return std::int64_t(up ? std::uint64_t(a) + by : std::uint64_t(a) - by);
    };
    guess = std::clamp(guess, moved(lo, 1, true), hi);
    const bool down = q(guess);
    (down ? hi : lo) = guess;
    for (std::uint64_t step = 1; step < distance(lo, hi); step <<= 1) {
        const std::int64_t probe = moved(down ? hi : lo, step, !down);
        const bool passes = q(probe);
        (passes ? hi : lo) = probe;
        if (passes != down) break;
    }
    while (distance(lo, hi) > 1) {
        const std::int64_t mid = moved(lo, distance(lo, hi) / 2, true);
        (q(mid) ? hi : lo) = mid;
    }
    return hi;
}

// The least s (as an ordinal, over -inf..inf) with fl(a + s) >= the value of
// ordinal t, for a finite a: rounding is monotone, so the values of s that
// pass are all those from one on.
std::int64_t add_threshold(double a, std::int64_t t) {
    if (t == kNever) return kNever;
    const auto passes = [&](std::int64_t k) { return ordinal(a + from_ordinal(k)) >= t; };
    const std::int64_t lo = ordinal(-kInf), hi = ordinal(kInf);
    if (passes(lo)) return lo;
    if (!passes(hi)) return kNever;
    return first_true(lo, hi, ordinal(from_ordinal(t) - a), passes);
}

// The change point of one observation along coefficient j from the index's
// own definition, for observations whose terms are not all finite: halving
// over every finite double, each probe a whole index.
bool direct_change_point(const Problem &p, std::vector<double> &coef, std::int32_t j,
                         std::int32_t i, double &point) {
    const auto sign_at = [&](std::int64_t k) {
        coef[j] = from_ordinal(k);
        return observation_index(p, coef.data(), i) >= 0.0;
    };
    std::int64_t lo = ordinal(-kMax), hi = ordinal(kMax);
    const bool first = sign_at(lo);
    if (sign_at(hi) == first) return false;
    // Plain halving: a NaN index breaks monotony, and then the path decides.
    while (std::uint64_t(hi) - std::uint64_t(lo) > 1) {
        const std::int64_t mid = (lo >> 1) + (hi >> 1) + (lo & hi & 1);
        (sign_at(mid) == first ? lo : hi) = mid;
    }
    point = from_ordinal(hi);
    return true;
}

}  // namespace

void visit_change_points(const Problem &p, const double *coef,
                         const std::function<void(std::int32_t, std::int32_t, double)> &visit,
                         std::int32_t only) {
    const std::int32_t k = p.nreg, nfree = p.nfree();
    const std::int32_t first_j = only < 0 ? 0 : only, end_j = only < 0 ? nfree : only + 1;
    std::vector<double> term(k), prefix(k), work(coef, coef + nfree);
    std::vector<std::int64_t> threshold(k + 1);
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        // The index is s_K, with s_0 = +0 and s_{m+1} = fl(term_m + s_m).
        bool finite = true;
        double s = 0.0;
        for (std::int32_t m = 0; m < k; ++m) {
            term[m] = p.column(m)[i] * (m < nfree ? coef[m] : p.fixed_coef);
            prefix[m] = s;
            s = term[m] + s;
            finite = finite && std::isfinite(term[m]) && std::isfinite(s);
        }
        if (!finite) {
            for (std::int32_t j = first_j; j < end_j; ++j) {
                double point;
                if (direct_change_point(p, work, j, i, point)) visit(j, i, point);
                work[j] = coef[j];
            }
            continue;
        }
        // threshold[m]: s_m passes (the index ends >= 0) exactly when it is
        // at least this ordinal; the terms after m are fixed.
        threshold[k] = 0;
        for (std::int32_t m = k - 1; m >= 1; --m) threshold[m] = add_threshold(term[m], threshold[m + 1]);
        for (std::int32_t j = first_j; j < end_j; ++j) {
            const double x = p.column(j)[i], before = prefix[j];
            const std::int64_t t = threshold[j + 1];
            if (x == 0.0 || t == kNever) continue;  // the sign cannot change
            const auto sign_at = [&](std::int64_t c) {
                return ordinal(x * from_ordinal(c) + before) >= t;
            };
            const std::int64_t lo = ordinal(-kMax), hi = ordinal(kMax);
            const bool first = sign_at(lo);
            if (sign_at(hi) == first) continue;
            const double root = (from_ordinal(t) - before) / x;
            const std::int64_t guess = std::isfinite(root) ? ordinal(root) : 0;
            visit(j, i, from_ordinal(
                first_true(lo, hi, guess, [&](std::int64_t c) { return sign_at(c) != first; })));
        }
    }
}

std::vector<std::vector<double>> change_points(const Problem &p, const double *coef) {
    std::vector<std::vector<double>> points(p.nfree());
    visit_change_points(p, coef, [&](std::int32_t j, std::int32_t, double point) { points[j].push_back(point); });
    return points;
}

namespace {

// The `keep` change points nearest the estimate on each side of it (above,
// and at or below), and whether any farther ones were left out: the walk
// from the estimate rarely passes more than a few, and all N per
// coefficient would cost N (K - 1) doubles.
struct Nearest {
    std::vector<double> above, below;
    bool cut_above = false, cut_below = false;
};

void trim(std::vector<double> &v, std::size_t keep, bool nearest_smallest, bool &cut) {
    if (v.size() <= keep) return;
    if (nearest_smallest) {
        std::nth_element(v.begin(), v.begin() + (keep - 1), v.end());
    } else {
        std::nth_element(v.begin(), v.begin() + (keep - 1), v.end(), std::greater<double>());
    }
    v.resize(keep);
    cut = true;
}

std::vector<Nearest> nearest_change_points(const Problem &p, const std::vector<double> &coef,
                                           std::size_t keep) {
    std::vector<Nearest> near(p.nfree());
    visit_change_points(p, coef.data(), [&](std::int32_t j, std::int32_t, double point) {
        Nearest &n = near[j];
        if (point > coef[j]) {
            n.above.push_back(point);
            if (n.above.size() >= 2 * keep) trim(n.above, keep, true, n.cut_above);
        } else {
            n.below.push_back(point);
            if (n.below.size() >= 2 * keep) trim(n.below, keep, false, n.cut_below);
        }
    });
    for (Nearest &n : near) {
        trim(n.above, keep, true, n.cut_above);
        trim(n.below, keep, false, n.cut_below);
        std::sort(n.above.begin(), n.above.end());
        n.above.erase(std::unique(n.above.begin(), n.above.end()), n.above.end());
        std::sort(n.below.begin(), n.below.end(), std::greater<double>());
        n.below.erase(std::unique(n.below.begin(), n.below.end()), n.below.end());
    }
    return near;
}

}  // namespace

std::vector<FlatRange> flat_ranges(const Module &module, const Problem &p, double quantile,
                                   const std::vector<double> &coef, double value) {
    const std::int32_t nfree = p.nfree();
    std::vector<FlatRange> ranges(nfree);
    std::vector<bool> done(nfree, false);
    std::vector<double> work;
    auto objective = [&](std::int32_t j, double t) {
        work = coef;
        work[j] = t;
        return objective_at(module, p, quantile, work.data());
    };
    // The signs are constant from one change point up to the next, so one
    // evaluation per point decides each piece. A walk that runs past the
    // points kept starts again with more of them.
    for (std::size_t keep = 256;; keep *= 16) {
        const std::vector<Nearest> near = nearest_change_points(p, coef, keep);
        bool again = false;
        for (std::int32_t j = 0; j < nfree; ++j) {
            if (done[j]) continue;
            const Nearest &n = near[j];
            FlatRange &r = ranges[j];
            bool found_hi = false, found_lo = false;
            for (double q : n.above) {
                if (objective(j, q) != value) {
                    r.hi = std::nextafter(q, -kInf);
                    found_hi = true;
                    break;
                }
            }
            for (double q : n.below) {
                if (objective(j, std::nextafter(q, -kInf)) != value) {
                    r.lo = q;
                    found_lo = true;
                    break;
                }
            }
            if ((!found_hi && n.cut_above) || (!found_lo && n.cut_below)) {
                again = true;
                continue;
            }
            if (!found_hi) r.hi = kInf;
            if (!found_lo) r.lo = -kInf;
            done[j] = true;
        }
        if (!again) return ranges;
    }
}

}  // namespace vimor_fit

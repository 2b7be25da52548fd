#include "subsampling.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "certify.h"
#include "error.h"
#include "text.h"

namespace vimor_fit {

namespace {

constexpr std::int64_t kModulus = 2147483647;  // 2^31 - 1
constexpr std::int64_t kMultiplier = 48271;

bool constant_on(const double *x, const std::vector<std::int32_t> &rows) {
    for (std::int32_t i : rows) {
        if (x[i] != x[rows[0]]) return false;
    }
    return true;
}

}  // namespace

Minstd::Minstd(std::int32_t seed, std::int32_t seed2)
    : state_(1 + std::int64_t(seed) + std::int64_t(kSeed1Streams) * seed2) {}

Minstd Minstd::at(std::int64_t state) {
    Minstd g(0, 0);
    g.state_ = state;
    return g;
}

std::int64_t Minstd::next() {
    state_ = kMultiplier * state_ % kModulus;
    return state_;
}

std::int64_t Minstd::below(std::int64_t n) {
    // next() - 1 is uniform on 0..range-1; values at or above the largest
    // multiple of n are drawn again.
    const std::int64_t range = kModulus - 1;
    const std::int64_t limit = range - range % n;
    for (;;) {
        const std::int64_t v = next() - 1;
        if (v < limit) return v % n;
    }
}

std::vector<std::vector<std::int32_t>> draw_subsamples(const Problem &p, const Settings &s,
                                                       std::int32_t &redrawn) {
    const std::int32_t n = p.nobs, b = s.subsample_size;
    const double *normalized = p.column(p.nreg - 1);
    // A normalized column with few distinct values can be constant on most
    // draws; give up, with a message, rather than loop.
    const std::int64_t max_redraws = 10 * std::int64_t(s.subsamples) + 100;
    Minstd generator(s.seed, s.seed2);
    std::vector<std::vector<std::int32_t>> draws;
    std::vector<std::int32_t> order(n);
    redrawn = 0;
    while (std::int32_t(draws.size()) < s.subsamples) {
        std::iota(order.begin(), order.end(), 0);
        for (std::int32_t i = 0; i < b; ++i) {
            const std::int64_t j = i + generator.below(n - i);
            std::swap(order[i], order[j]);
        }
        std::vector<std::int32_t> rows(order.begin(), order.begin() + b);
        std::sort(rows.begin(), rows.end());
        if (constant_on(normalized, rows)) {
            if (++redrawn > max_redraws) {
                throw ArgumentError("subsample_size",
                                    "the normalized column " + quote(p.names.back()) +
                                        " is constant on " + std::to_string(redrawn) +
                                        " draws of " + std::to_string(b) +
                                        " rows; give a larger {subsample_size}");
            }
            continue;
        }
        draws.push_back(std::move(rows));
    }
    return draws;
}

SubsampleFit fit_subsample(const Module &module, const Problem &p, const Settings &settings,
                           std::int32_t s, const std::int32_t *rows) {
    std::vector<double> response, regressors;
    const Problem sub = subproblem(p, rows, settings.subsample_size, response, regressors);
    const std::int32_t seed2 =
        static_cast<std::int32_t>((std::int64_t(settings.seed2) + 1 + s) % kSeed2Streams);
    std::vector<Restart> restarts(settings.subsample_restarts);
    for (std::int32_t r = 0; r < settings.subsample_restarts; ++r) {
        restarts[r] = run_restart(module, sub, settings, seed2, r);
    }
    const Choice choice = choose(restarts, settings.maximize, settings.tolerance);
    SubsampleFit out;
    out.value = restarts[choice.best].value;
    out.reached = choice.reached;
    out.coef = restarts[choice.best].best;
    out.limit_hit = true;
    for (const Restart &r : restarts) out.limit_hit = out.limit_hit && r.status == 1;
    certify_resample(module, sub, settings, settings.lower, settings.upper, out);
    return out;
}

void certify_resample(const Module &module, const Problem &problem, const Settings &settings,
                      const std::vector<double> &lower, const std::vector<double> &upper,
                      SubsampleFit &fit) {
    if (!(settings.certify > 0.0)) return;
    CertifyOptions o;
    o.seconds = settings.certify / double(settings.subsamples + settings.bootstrap);
    o.maximize = settings.maximize;
    o.module_response = problem.module_y();
    const Certificate c = certify(module, problem, settings.quantile, lower.data(), upper.data(),
                                  fit.coef.data(), o);
    fit.certified = c.optimal ? 1 : 0;
    fit.improved = c.improved;
    if (c.improved) {
        fit.coef = c.point;
        fit.value = c.value;
    }
}

std::vector<double> to_record(const SubsampleFit &f) {
    std::vector<double> v = {f.value, double(f.reached), f.limit_hit ? 1.0 : 0.0,
                             double(f.widened), double(f.certified), f.improved ? 1.0 : 0.0};
    v.insert(v.end(), f.coef.begin(), f.coef.end());
    return v;
}

SubsampleFit subsample_from_record(const double *v, std::int32_t nfree) {
    SubsampleFit f;
    f.value = v[0];
    f.reached = static_cast<std::int32_t>(v[1]);
    f.limit_hit = v[2] != 0.0;
    f.widened = static_cast<std::int32_t>(v[3]);
    f.certified = static_cast<std::int32_t>(v[4]);
    f.improved = v[5] != 0.0;
    f.coef.assign(v + 6, v + 6 + nfree);
    return f;
}

std::int32_t quantile_rank(double p, std::int32_t count) {
    const double k = std::ceil(p * count - 1e-9);
    return static_cast<std::int32_t>(std::clamp(k, 1.0, static_cast<double>(count)));
}

std::int32_t fewest_subsamples(double level, bool symmetric) {
    const double a = 1.0 - level;
    for (std::int32_t count = 1; count < kSeed2Streams; ++count) {
        const bool interior =
            symmetric ? quantile_rank(level, count) < count
                      : quantile_rank(1.0 - a / 2.0, count) < count && quantile_rank(a / 2.0, count) > 1;
        if (interior) return count;
    }
    return 0;
}

void check_enough_subsamples(std::int32_t count, double level, bool symmetric,
                             const char *argument, const char *key, const char *noun) {
    const std::int32_t fewest = fewest_subsamples(level, symmetric);
    if (fewest > 0 && count >= fewest) return;
    const std::string kind = symmetric ? "a symmetric " : "an equal-tailed ";
    const std::string what = kind + significant(100.0 * level, 10) + "% interval";
    if (fewest == 0) {
        throw ArgumentError(argument, std::string("no number of ") + noun + "s can give " + what +
                                          ": the level is too close to 1");
    }
    throw ArgumentError(argument,
                        std::to_string(count) + " " + noun + (count == 1 ? "" : "s") +
                            " cannot give " + what + ", which needs at least " +
                            std::to_string(fewest) +
                            ": with fewer, an end is the most extreme estimate, the same at any "
                            "higher level; raise {" + key + "} or lower {level}");
}

std::vector<double> scaled_draws(double estimate, const std::vector<double> &draws,
                                 std::int32_t nobs, std::int32_t size) {
    const double ratio = std::pow(static_cast<double>(size) / nobs, 1.0 / 3.0);
    std::vector<double> out(draws.size());
    for (std::size_t r = 0; r < draws.size(); ++r) {
        out[r] = estimate + ((draws[r] - estimate) + 0.0) * ratio;
    }
    return out;
}

void interval(double estimate, const std::vector<double> &draws, std::int32_t nobs,
              std::int32_t size, double level, bool symmetric, double &lower, double &upper) {
    const std::int32_t count = static_cast<std::int32_t>(draws.size());
    // tau_b / tau_N with tau_n = n^(1/3).
    const double ratio = std::pow(static_cast<double>(size) / nobs, 1.0 / 3.0);
    std::vector<double> d(count);
    // + 0.0 turns a -0 difference into +0, so ties sort alike everywhere.
    for (std::int32_t r = 0; r < count; ++r) d[r] = (draws[r] - estimate) + 0.0;
    if (symmetric) {
        for (double &v : d) v = std::fabs(v);
        std::sort(d.begin(), d.end());
        const double half = d[quantile_rank(level, count) - 1] * ratio;
        lower = estimate - half;
        upper = estimate + half;
        return;
    }
    std::sort(d.begin(), d.end());
    const double a = 1.0 - level;
    const double p_low = a / 2.0, p_high = 1.0 - p_low;
    lower = estimate - d[quantile_rank(p_high, count) - 1] * ratio;
    upper = estimate - d[quantile_rank(p_low, count) - 1] * ratio;
}

}  // namespace vimor_fit

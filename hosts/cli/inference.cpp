#include "inference.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>

#include "error.h"

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

std::int32_t default_subsample_size(std::int32_t nobs) {
    const std::int64_t square = std::int64_t(nobs) * nobs;
    auto cube = [](std::int64_t b) { return b * b * b; };
    std::int64_t b = static_cast<std::int64_t>(std::cbrt(static_cast<double>(square)));
    while (b > 0 && cube(b) > square) --b;
    while (cube(b + 1) <= square) ++b;
    return static_cast<std::int32_t>(b);
}

InferenceSettings resolve_inference(const InferenceFlags &flags, const Settings &settings,
                                    bool threads_given, const Problem &problem) {
    InferenceSettings s;
    const long long int_max = std::numeric_limits<std::int32_t>::max();
    if (!flags.subsamples.empty())
        s.subsamples = parse_int("--subsamples", flags.subsamples, 0, int_max);
    if (!flags.level.empty()) {
        s.level = parse_real("--level", flags.level);
        if (!(s.level > 0.0 && s.level < 1.0))
            throw UsageError("--level: " + flags.level + " is outside (0, 1)");
    }
    // Symmetric by default: in the coverage study (validation/) the
    // equal-tailed interval covers less than its level, the symmetric one at
    // least its level.
    if (flags.interval.empty() || flags.interval == "symmetric") {
        s.symmetric = true;
    } else if (flags.interval == "equal-tailed") {
        s.symmetric = false;
    } else {
        throw UsageError("--interval: '" + flags.interval +
                         "' is neither equal-tailed nor symmetric");
    }
    const std::int32_t n = problem.nobs;
    if (flags.subsample_size.empty()) {
        s.size = default_subsample_size(n);
        if (s.subsamples > 0 && s.size < kMinSubsampleSize) {
            throw UsageError(fmt::format(
                "--subsamples: with {} observations the default subsample size floor(N^(2/3)) "
                "is {}, below the minimum {}; subsampling needs at least 90 observations",
                n, s.size, kMinSubsampleSize));
        }
    } else {
        s.size = parse_int("--subsample-size", flags.subsample_size, kMinSubsampleSize, int_max);
        if (s.size >= n) {
            throw UsageError(fmt::format(
                "--subsample-size: {} is not below the number of observations, {}", s.size, n));
        }
    }
    s.restarts =
        flags.subsample_restarts.empty()
            ? settings.restarts
            : parse_int("--subsample-restarts", flags.subsample_restarts, 1, kSeed1Streams);
    if (s.subsamples >= kSeed2Streams) {
        throw UsageError(
            fmt::format("--subsamples: {} is above {}, the number of distinct restart streams",
                        s.subsamples, kSeed2Streams - 1));
    }
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    s.threads = threads_given ? settings.threads : std::min(cores, std::max(1, s.subsamples));
    return s;
}

std::vector<std::vector<std::int32_t>> draw_subsamples(const Problem &problem,
                                                       const InferenceSettings &inference,
                                                       std::int32_t seed, std::int32_t seed2,
                                                       std::int32_t &redrawn) {
    const std::int32_t n = problem.nobs, b = inference.size;
    const double *normalized = problem.column(problem.nreg - 1);
    // A normalized column with few distinct values can be constant on most
    // draws; give up, with a message, rather than loop.
    const std::int64_t max_redraws = 10 * std::int64_t(inference.subsamples) + 100;
    Minstd generator(seed, seed2);
    std::vector<std::vector<std::int32_t>> draws;
    std::vector<std::int32_t> order(n);
    redrawn = 0;
    while (std::int32_t(draws.size()) < inference.subsamples) {
        // Partial Fisher-Yates from the identity: position i takes a row
        // drawn uniformly from positions i..n-1.
        std::iota(order.begin(), order.end(), 0);
        for (std::int32_t i = 0; i < b; ++i) {
            const std::int64_t j = i + generator.below(n - i);
            std::swap(order[i], order[j]);
        }
        std::vector<std::int32_t> rows(order.begin(), order.begin() + b);
        std::sort(rows.begin(), rows.end());
        if (constant_on(normalized, rows)) {
            if (++redrawn > max_redraws) {
                throw UsageError(fmt::format(
                    "--subsample-size: the normalized column '{}' is constant on {} draws of {} "
                    "rows; give a larger --subsample-size",
                    problem.names.back(), redrawn, b));
            }
            continue;
        }
        draws.push_back(std::move(rows));
    }
    return draws;
}

Problem subproblem(const Problem &problem, const std::vector<std::int32_t> &rows) {
    Problem sub;
    sub.data = problem.data;
    sub.response_name = problem.response_name;
    sub.names = problem.names;
    sub.nobs = static_cast<std::int32_t>(rows.size());
    sub.nreg = problem.nreg;
    sub.fixed_coef = problem.fixed_coef;
    sub.response.reserve(rows.size());
    for (std::int32_t i : rows) sub.response.push_back(problem.response[i]);
    sub.regressors.reserve(rows.size() * std::size_t(problem.nreg));
    for (std::int32_t j = 0; j < problem.nreg; ++j) {
        const double *x = problem.column(j);
        for (std::int32_t i : rows) sub.regressors.push_back(x[i]);
    }
    return sub;
}

std::int32_t quantile_rank(double p, std::int32_t count) {
    const double k = std::ceil(p * count - 1e-9);
    return static_cast<std::int32_t>(std::clamp(k, 1.0, static_cast<double>(count)));
}

void interval_ends(Inference &inference, const std::vector<double> &estimate, std::int32_t nobs) {
    const InferenceSettings &s = inference.settings;
    const std::size_t nfree = estimate.size();
    const std::int32_t count = static_cast<std::int32_t>(inference.estimates.size());
    // tau_b / tau_N with tau_n = n^(1/3).
    const double ratio = std::pow(static_cast<double>(s.size) / nobs, 1.0 / 3.0);
    const double a = 1.0 - s.level;
    const double p_low = a / 2.0, p_high = 1.0 - p_low;
    inference.lower.assign(nfree, 0.0);
    inference.upper.assign(nfree, 0.0);
    std::vector<double> d(count);
    for (std::size_t j = 0; j < nfree; ++j) {
        // + 0.0 turns a -0 difference into +0, so ties sort alike everywhere.
        for (std::int32_t r = 0; r < count; ++r)
            d[r] = (inference.estimates[r][j] - estimate[j]) + 0.0;
        if (s.symmetric) {
            for (double &v : d) v = std::fabs(v);
            std::sort(d.begin(), d.end());
            const double half = d[quantile_rank(s.level, count) - 1] * ratio;
            inference.lower[j] = estimate[j] - half;
            inference.upper[j] = estimate[j] + half;
        } else {
            std::sort(d.begin(), d.end());
            inference.lower[j] = estimate[j] - d[quantile_rank(p_high, count) - 1] * ratio;
            inference.upper[j] = estimate[j] - d[quantile_rank(p_low, count) - 1] * ratio;
        }
    }
}

Inference run_inference(const Module &module, const Problem &problem, const Settings &settings,
                        const InferenceSettings &inference, const std::vector<double> &estimate,
                        const std::function<void(int)> &progress) {
    const auto started = std::chrono::steady_clock::now();
    Inference out;
    out.settings = inference;
    const auto draws =
        draw_subsamples(problem, inference, settings.seed, settings.seed2, out.redrawn);
    const std::int32_t count = inference.subsamples;
    out.estimates.resize(count);
    std::vector<Fit> fits(count);

    auto fit_one = [&](std::int32_t s) {
        // The full sample's settings; restart r of subsample s runs from
        // seeds (seed + r, seed2 + 1 + s), streams the full fit never uses.
        Settings sub = settings;
        sub.restarts = inference.restarts;
        sub.seed2 =
            static_cast<std::int32_t>((std::int64_t(settings.seed2) + 1 + s) % kSeed2Streams);
        sub.threads = 1;
        fits[s] = run_fit(module, subproblem(problem, draws[s]), sub, [](int) {});
    };
    std::atomic<std::int32_t> next{0};
    std::mutex report;
    int finished = 0;
    auto worker = [&]() {
        for (std::int32_t s; (s = next++) < count;) {
            fit_one(s);
            std::lock_guard<std::mutex> lock(report);
            progress(++finished);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min<std::int32_t>(inference.threads, count); ++t)
        pool.emplace_back(worker);
    worker();
    for (auto &t : pool) t.join();

    for (std::int32_t s = 0; s < count; ++s) {
        const Fit &fit = fits[s];
        const Restart &best = fit.restarts[fit.best];
        if (std::isnan(best.value)) {
            throw UsageError(fmt::format(
                "--subsamples: the objective of subsample fit {} is not a number because an "
                "index overflows; rescale the regressors",
                s + 1));
        }
        out.estimates[s] = best.best;
        out.multiple_best += fit.reached > 1;
        bool all_limit = true;
        for (const auto &r : fit.restarts) all_limit = all_limit && r.status == 1;
        out.limit_hit += all_limit;
    }
    interval_ends(out, estimate, problem.nobs);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return out;
}

void write_estimates(const std::string &path, const Problem &problem, const Inference &inference) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) throw UsageError("--subsample-estimates: cannot write " + path);
    std::vector<std::string> names;
    for (auto name = problem.names.begin(); name + 1 != problem.names.end(); ++name) {
        // Quoted as CSV when the name holds a comma, a quote or a line break.
        if (name->find_first_of(",\"\r\n") == std::string::npos) {
            names.push_back(*name);
            continue;
        }
        std::string quoted = "\"";
        for (char c : *name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        names.push_back(quoted + "\"");
    }
    std::string text = fmt::format("{}\n", fmt::join(names, ","));
    for (const auto &row : inference.estimates) text += fmt::format("{}\n", fmt::join(row, ","));
    const bool ok = std::fputs(text.c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !ok)
        throw UsageError("--subsample-estimates: cannot write " + path);
}

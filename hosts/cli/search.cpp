#include "search.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>

#include "defaults.h"
#include "error.h"
#include "text.h"

namespace {

// Distinct generator streams: seed1 in 0..31328, seed2 in 0..30081.
constexpr std::int32_t kSeed1Streams = 31329;
constexpr std::int32_t kSeed2Streams = 30082;

double parse_real(const std::string &flag, const std::string &raw) {
    const std::string text = trimmed(raw);
    double value = 0;
    const char *why = nullptr;
    if (!parse_number(text.data(), text.data() + text.size(), value, why)) {
        throw UsageError(flag + ": " + quote(text) + " " + why);
    }
    return value;
}

std::int32_t parse_int(const std::string &flag, const std::string &text, long long lo,
                       long long hi) {
    // Decimal digits only: strtoll's base 0 would read 010 as eight.
    std::size_t digits = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool ok = digits < text.size() && text.size() - digits <= 18;
    for (std::size_t i = digits; ok && i < text.size(); ++i) ok = text[i] >= '0' && text[i] <= '9';
    if (!ok) throw UsageError(flag + ": " + quote(text) + " is not a whole number");
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < lo || value > hi) {
        throw UsageError(fmt::format("{}: {} is outside {}..{}", flag, value, lo, hi));
    }
    return static_cast<std::int32_t>(value);
}

// Population mean and standard deviation, each sum taken in row order.
void moments(const double *x, std::int32_t n, double &mean, double &sd) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) sum = sum + x[i];
    mean = sum / n;
    double squares = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double d = x[i] - mean;
        squares = squares + d * d;
    }
    sd = std::sqrt(squares / n);
}

bool is_constant(const double *x, std::int32_t n) {
    for (std::int32_t i = 1; i < n; ++i) {
        if (x[i] != x[0]) return false;
    }
    return true;
}

[[noreturn]] void refuse_box(const std::string &column, const std::string &why) {
    throw UsageError("--lower/--upper: the default box needs the standard deviation of column " +
                     quote(column) + ", which " + why +
                     "; rescale the column or give --lower and --upper");
}

// Centred on 0, its half-width the change in coefficient j that moves the
// index as much as box_scale standard deviations of the normalized term. A
// constant column (the intercept) is measured against the normalized term's
// mean plus one standard deviation instead.
void default_box(const Problem &problem, double box_scale, std::vector<double> &lower,
                 std::vector<double> &upper) {
    const std::int32_t n = problem.nobs;
    const std::int32_t nfree = problem.nreg - 1;
    double mean_k = 0, sd_k = 0;
    moments(problem.column(nfree), n, mean_k, sd_k);
    if (!std::isfinite(sd_k) || !std::isfinite(mean_k)) {
        refuse_box(problem.names[nfree], "is not finite (the values are too large)");
    }
    const double scale = box_scale * std::fabs(problem.fixed_coef);
    for (std::int32_t j = 0; j < nfree; ++j) {
        const double *x = problem.column(j);
        double half = 0;
        if (is_constant(x, n)) {
            half = scale * (std::fabs(mean_k) + sd_k) / std::fabs(x[0]);
        } else {
            double mean_j = 0, sd_j = 0;
            moments(x, n, mean_j, sd_j);
            if (!std::isfinite(sd_j)) {
                refuse_box(problem.names[j], "is not finite (the values are too large)");
            }
            if (sd_j == 0.0) refuse_box(problem.names[j], "is zero (the values are too close)");
            half = scale * sd_k / sd_j;
        }
        if (!std::isfinite(half) || half == 0.0) {
            throw UsageError(fmt::format(
                "--lower/--upper: the default box for {} has half-width {}; the columns' "
                "scales are too far apart: rescale them or give --lower and --upper",
                quote(problem.names[j]), half));
        }
        lower[j] = -half;
        upper[j] = half;
    }
}

}  // namespace

double parse_quantile(const std::string &text) {
    if (text.empty()) return defaults::quantile;
    const double q = parse_real("--quantile", text);
    if (!(q > 0.0 && q < 1.0)) throw UsageError("--quantile: " + quote(text) + " is outside (0, 1)");
    return q;
}

std::vector<double> parse_list(const std::string &flag, const std::string &text,
                               const std::vector<std::string> &names, bool broadcast) {
    std::vector<double> values;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        values.push_back(parse_real(flag, text.substr(pos, comma - pos)));  // trims
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    if (broadcast && values.size() == 1) values.assign(names.size(), values[0]);
    if (values.size() != names.size()) {
        throw UsageError(fmt::format("{}: expected {} values, one for each of {}, got {}", flag,
                                     names.size(), fmt::join(names, ","), values.size()));
    }
    return values;
}

Settings resolve_settings(const SearchFlags &flags, double quantile, const Problem &problem) {
    Settings s;
    s.quantile = quantile;
    s.maximize = flags.minimize ? false : defaults::maximize;
    const std::int32_t n = problem.nobs;
    const std::int32_t nfree = problem.nreg - 1;
    const std::vector<std::string> free_names(problem.names.begin(), problem.names.end() - 1);

    const double box_scale =
        flags.box_scale.empty() ? defaults::box_scale : parse_real("--box-scale", flags.box_scale);
    if (!(box_scale > 0.0)) throw UsageError("--box-scale: must be positive");
    std::vector<double> lower(nfree), upper(nfree);
    if (flags.lower.empty() || flags.upper.empty()) default_box(problem, box_scale, lower, upper);
    s.lower = flags.lower.empty() ? lower : parse_list("--lower", flags.lower, free_names, false);
    s.upper = flags.upper.empty() ? upper : parse_list("--upper", flags.upper, free_names, false);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (!std::isfinite(s.lower[j]) || !std::isfinite(s.upper[j])) {
            throw UsageError(
                fmt::format("--box-scale: the box for '{}' is not finite; give "
                            "--lower and --upper",
                            free_names[j]));
        }
        if (s.lower[j] > s.upper[j]) {
            throw UsageError(
                fmt::format("--lower/--upper: lower bound {} is above upper bound {} "
                            "for '{}'",
                            s.lower[j], s.upper[j], free_names[j]));
        }
    }

    if (flags.start.empty()) {
        s.start.resize(nfree);
        for (std::int32_t j = 0; j < nfree; ++j) s.start[j] = 0.5 * s.lower[j] + 0.5 * s.upper[j];
    } else {
        s.start = parse_list("--start", flags.start, free_names, false);
        for (std::int32_t j = 0; j < nfree; ++j) {
            if (!(s.start[j] >= s.lower[j] && s.start[j] <= s.upper[j])) {
                throw UsageError(fmt::format("--start: {} for '{}' is outside the box [{}, {}]",
                                             s.start[j], free_names[j], s.lower[j], s.upper[j]));
            }
        }
    }

    if (flags.step.empty()) {
        s.step.resize(nfree);
        for (std::int32_t j = 0; j < nfree; ++j) {
            s.step[j] = defaults::step_fraction * (s.upper[j] - s.lower[j]);
        }
    } else {
        s.step = parse_list("--step", flags.step, free_names, true);
    }
    s.step_gain = flags.step_gain.empty()
                      ? std::vector<double>(nfree, defaults::step_gain)
                      : parse_list("--step-gain", flags.step_gain, free_names, true);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (s.step[j] < 0.0) throw UsageError("--step: step sizes must not be negative");
        if (s.step_gain[j] < 0.0) throw UsageError("--step-gain: gains must not be negative");
    }

    s.temperature = flags.temperature.empty() ? defaults::temperature
                                              : parse_real("--temperature", flags.temperature);
    if (!(s.temperature > 0.0)) throw UsageError("--temperature: must be positive");
    s.cooling = flags.cooling.empty() ? defaults::cooling : parse_real("--cooling", flags.cooling);
    if (!(s.cooling > 0.0 && s.cooling <= 1.0)) throw UsageError("--cooling: must be in (0, 1]");
    // Below the smallest change one observation can make, 2 min(a, 1 - a) / N.
    s.tolerance = flags.tolerance.empty()
                      ? defaults::tolerance_fraction * std::fmin(quantile, 1.0 - quantile) / n
                      : parse_real("--tolerance", flags.tolerance);
    if (s.tolerance < 0.0) throw UsageError("--tolerance: must not be negative");

    const long long int_max = std::numeric_limits<std::int32_t>::max();
    auto count = [&](const char *flag, const std::string &text, long long fallback, long long lo,
                     long long hi) {
        if (text.empty()) return static_cast<std::int32_t>(fallback);
        return parse_int(flag, text, lo, hi);
    };
    s.sweeps = count("--sweeps", flags.sweeps, defaults::sweeps, 1, int_max);
    s.adjustments = count("--adjustments", flags.adjustments, defaults::adjustments, 1, int_max);
    // Each stage end walks and shifts the whole history, and a run needs at
    // least that many stages, so the cost grows with its square.
    s.history_len = count("--history", flags.history, defaults::history_len, 1, 10000);
    s.max_evals = count("--max-evals", flags.max_evals, defaults::max_evals, 1, int_max);
    s.restarts = count("--restarts", flags.restarts, defaults::restarts, 1, kSeed1Streams);
    s.seed = count("--seed", flags.seed, defaults::seed, 0, kSeed1Streams - 1);
    s.seed2 = count("--seed2", flags.seed2, defaults::seed2, 0, kSeed2Streams - 1);
    const long long cores = std::max(1u, std::thread::hardware_concurrency());
    s.threads = count("--threads", flags.threads, std::min<long long>(cores, s.restarts), 1, 256);
    return s;
}

Fit run_fit(const Module &module, const Problem &problem, const Settings &settings,
            const std::function<void(int)> &progress) {
    const auto started = std::chrono::steady_clock::now();
    const std::int32_t nfree = problem.nreg - 1;
    Fit fit;
    fit.restarts.resize(settings.restarts);

    auto run_one = [&](std::int32_t r) {
        Restart &out = fit.restarts[r];
        out.seed1 = (settings.seed + r) % kSeed1Streams;
        out.seed2 = settings.seed2 % kSeed2Streams;
        out.best.assign(nfree, 0.0);
        std::vector<double> coef = settings.start, step = settings.step, trial(nfree);
        std::vector<double> history(settings.history_len);
        std::vector<std::int32_t> accept_counts(nfree);
        const std::int32_t maximize = settings.maximize ? 1 : 0;
        double temperature = settings.temperature;
        std::int32_t limit_hit = 0;
        module.saa(problem.response.data(), problem.regressors.data(), &problem.nobs, &problem.nreg,
                   coef.data(), &settings.quantile, &maximize, &settings.cooling,
                   &settings.tolerance, &settings.sweeps, &settings.adjustments,
                   &settings.history_len, &settings.max_evals, settings.lower.data(),
                   settings.upper.data(), settings.step_gain.data(), &out.seed1, &out.seed2,
                   &temperature, step.data(), out.best.data(), &out.value, &out.accepted,
                   &out.evals, &out.out_of_bounds, &out.status, history.data(), trial.data(),
                   accept_counts.data(), &limit_hit, &problem.fixed_coef);
        out.temperature = temperature;
    };

    // Each thread of the module has its own generator state, so restarts can
    // run side by side; each one's result depends only on its own seeds.
    std::atomic<std::int32_t> next{0};
    std::mutex report;
    int finished = 0;
    auto worker = [&]() {
        for (std::int32_t r; (r = next++) < settings.restarts;) {
            run_one(r);
            std::lock_guard<std::mutex> lock(report);
            progress(++finished);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min(settings.threads, settings.restarts); ++t)
        pool.emplace_back(worker);
    worker();
    for (auto &t : pool) t.join();

    // The largest value wins (smallest when minimizing); ties go to the
    // earliest restart.
    for (std::size_t r = 1; r < fit.restarts.size(); ++r) {
        const double v = fit.restarts[r].value, b = fit.restarts[fit.best].value;
        if (settings.maximize ? v > b : v < b) fit.best = r;
    }
    const double best = fit.restarts[fit.best].value;
    for (const auto &r : fit.restarts) {
        fit.evals += r.evals;
        if (std::fabs(r.value - best) <= settings.tolerance) ++fit.reached;
    }
    fit.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return fit;
}

#include "settings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "defaults.h"
#include "error.h"
#include "subsampling.h"
#include "text.h"

namespace vimor_fit {

namespace {

constexpr double kIntMax = std::numeric_limits<std::int32_t>::max();

// Keys holding one value per free coefficient (one for all where marked).
struct VectorKey {
    const char *key;
    bool broadcast;
};
constexpr VectorKey kVectorKeys[] = {
    {"lower", false}, {"upper", false}, {"start", false}, {"step", true}, {"step_gain", true}};

constexpr const char *kScalarKeys[] = {
    "quantile", "maximize",  "box_scale",  "temperature",    "cooling",
    "tolerance", "sweeps",   "adjustments", "history_len",   "max_evals",
    "restarts", "seed",      "seed2",      "threads",        "subsamples",
    "certify",
    "subsample_size",        "subsample_restarts",           "level",
    "interval",  "bootstrap", "bootstrap_restarts", "bandwidth", "hessian"};

bool is_vector_key(const std::string &key) {
    for (const VectorKey &v : kVectorKeys) {
        if (key == v.key) return true;
    }
    return false;
}

bool is_scalar_key(const std::string &key) {
    for (const char *k : kScalarKeys) {
        if (key == k) return true;
    }
    return false;
}


// Constant means equal values, not a computed sd of 0: the mean of equal
// values need not round back to them.
bool is_constant(const double *x, std::int32_t n) {
    for (std::int32_t i = 1; i < n; ++i) {
        if (x[i] != x[0]) return false;
    }
    return true;
}

[[noreturn]] void refuse_box(const std::string &column, const std::string &why) {
    throw ArgumentError("lower", "the default box needs the standard deviation of column " +
                                     quote(column) + ", which " + why +
                                     "; rescale the column or give {lower} and {upper}");
}

// Centred on 0, its half-width the change in coefficient j that moves the
// index as much as box_scale standard deviations of the normalized term. A
// constant column (the intercept) is measured against the normalized term's
// mean plus one standard deviation instead.
std::vector<double> default_half_widths(const Problem &p, double box_scale,
                                        const std::vector<bool> &needed) {
    const std::int32_t n = p.nobs, nfree = p.nfree();
    double mean_k = 0, sd_k = 0;
    moments(p.column(nfree), n, mean_k, sd_k);
    if (!std::isfinite(sd_k) || !std::isfinite(mean_k)) {
        refuse_box(p.names[nfree], "is not finite (the values are too large)");
    }
    if (sd_k == 0.0) refuse_box(p.names[nfree], "is zero (the values are too close)");
    const double scale = box_scale * std::fabs(p.fixed_coef);
    std::vector<double> half(nfree, NAN);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (!needed[j]) continue;  // both bounds given: the column's scale is not asked
        const double *x = p.column(j);
        if (is_constant(x, n)) {
            half[j] = scale * (std::fabs(mean_k) + sd_k) / std::fabs(x[0]);
        } else {
            double mean_j = 0, sd_j = 0;
            moments(x, n, mean_j, sd_j);
            if (!std::isfinite(sd_j)) refuse_box(p.names[j], "is not finite (the values are too large)");
            if (sd_j == 0.0) refuse_box(p.names[j], "is zero (the values are too close)");
            half[j] = scale * sd_k / sd_j;
        }
        if (!std::isfinite(half[j]) || half[j] == 0.0) {
            throw ArgumentError("lower", "the default box for " + quote(p.names[j]) +
                                             " has half-width " + shortest(half[j]) +
                                             "; the columns' scales are too far apart: rescale "
                                             "them or give {lower} and {upper}");
        }
    }
    return half;
}

double real(const Given &g, const char *key, double fallback) {
    if (!g.has(key)) return fallback;
    const double v = g[key][0];
    if (!std::isfinite(v)) throw ArgumentError(key, "must be finite, got " + shortest(v));
    return v;
}

std::int32_t whole(const Given &g, const char *key, double fallback, double lo, double hi) {
    const double v = g.has(key) ? g[key][0] : fallback;
    if (!(v == std::floor(v)) || !std::isfinite(v)) {
        throw ArgumentError(key, shortest(v) + " is not a whole number");
    }
    if (v < lo || v > hi) {
        throw ArgumentError(key, shortest(v) + " is outside " + shortest(lo) + ".." + shortest(hi));
    }
    return static_cast<std::int32_t>(v);
}

// A per-coefficient setting: given (one value for all where allowed; NaN
// entries keep the default) or the default.
std::vector<double> per_coefficient(const Given &g, const char *key, const Problem &p,
                                    bool broadcast, const std::vector<double> &fallback) {
    if (!g.has(key)) return fallback;
    std::vector<double> v = g[key];
    const std::size_t nfree = p.nfree();
    if (broadcast && v.size() == 1) v.assign(nfree, v[0]);
    if (v.size() != nfree) {
        std::string names;
        for (std::size_t j = 0; j < nfree; ++j) names += (j ? "," : "") + printable(p.names[j], 60);
        throw ArgumentError(key, "expected " + std::to_string(nfree) +
                                     " values, one for each of " + names + ", got " +
                                     std::to_string(v.size()));
    }
    for (std::size_t j = 0; j < nfree; ++j) {
        if (std::isnan(v[j])) v[j] = fallback[j];
        if (!std::isfinite(v[j])) {
            throw ArgumentError(key, shortest(v[j]) + " for " + quote(p.names[j]) +
                                         " is not finite");
        }
    }
    return v;
}

}  // namespace

void Given::set(const std::string &key, const std::vector<double> &values) {
    const bool vector = is_vector_key(key);
    if (!vector && (!is_scalar_key(key) || key == "interval" || key == "hessian")) {
        throw ArgumentError("", "there is no setting " + quote(key));
    }
    if (values.empty() || (!vector && values.size() != 1)) {
        throw ArgumentError(key, "expected " + std::string(vector ? "at least one value" : "one value") +
                                     ", got " + std::to_string(values.size()));
    }
    values_[key] = values;
}

void Given::set_text(const std::string &key, const std::string &value) {
    if (key == "hessian") {
        for (const int h : {kHessianNumerical, kHessianKernel, kHessianCrossfit}) {
            if (value == hessian_name(h)) {
                values_[key] = {double(h)};
                return;
            }
        }
        throw ArgumentError(key, quote(value) + " is none of kernel, crossfit and numerical");
    }
    if (key != "interval") throw ArgumentError("", "there is no text setting " + quote(key));
    if (value == "symmetric") {
        values_[key] = {1.0};
    } else if (value == "equal-tailed") {
        values_[key] = {0.0};
    } else {
        throw ArgumentError(key, quote(value) + " is neither equal-tailed nor symmetric");
    }
}

const std::vector<double> &Given::operator[](const std::string &key) const {
    return values_.at(key);
}

std::int32_t default_subsample_size(std::int32_t nobs) {
    const std::int64_t square = std::int64_t(nobs) * nobs;
    auto cube = [](std::int64_t b) { return b * b * b; };
    std::int64_t b = static_cast<std::int64_t>(std::cbrt(static_cast<double>(square)));
    while (b > 0 && cube(b) > square) --b;
    while (cube(b + 1) <= square) ++b;
    return static_cast<std::int32_t>(b);
}

Settings resolve(const Given &g, const Problem &p) {
    Settings s;
    const std::int32_t n = p.nobs, nfree = p.nfree();
    s.quantile = real(g, "quantile", defaults::quantile);
    if (!(s.quantile > 0.0 && s.quantile < 1.0)) {
        throw ArgumentError("quantile", shortest(s.quantile) + " is outside (0, 1)");
    }
    s.maximize = whole(g, "maximize", defaults::maximize ? 1 : 0, 0, 1) == 1;

    s.box_scale = real(g, "box_scale", defaults::box_scale);
    if (!(s.box_scale > 0.0)) throw ArgumentError("box_scale", "must be positive");
    std::vector<double> lower(nfree, NAN), upper(nfree, NAN);
    // Coefficient j needs the default box when either bound is not given (a
    // wrong count is refused below, so any entry may be asked for).
    std::vector<bool> needed(nfree, false);
    for (const char *key : {"lower", "upper"}) {
        for (std::int32_t j = 0; j < nfree; ++j) {
            const bool given = g.has(key) && g[key].size() == std::size_t(nfree) && !std::isnan(g[key][j]);
            needed[j] = needed[j] || !given;
        }
    }
    if (std::find(needed.begin(), needed.end(), true) != needed.end()) {
        upper = default_half_widths(p, s.box_scale, needed);
        for (std::int32_t j = 0; j < nfree; ++j) lower[j] = -upper[j];
    }
    s.lower = per_coefficient(g, "lower", p, false, lower);
    s.upper = per_coefficient(g, "upper", p, false, upper);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (s.lower[j] > s.upper[j]) {
            throw ArgumentError("lower", "lower bound " + shortest(s.lower[j]) +
                                             " is above upper bound " + shortest(s.upper[j]) +
                                             " for " + quote(p.names[j]));
        }
    }

    std::vector<double> centre(nfree), step(nfree);
    for (std::int32_t j = 0; j < nfree; ++j) {
        centre[j] = 0.5 * s.lower[j] + 0.5 * s.upper[j];
        step[j] = defaults::step_fraction * (s.upper[j] - s.lower[j]);
    }
    s.start = per_coefficient(g, "start", p, false, centre);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (!(s.start[j] >= s.lower[j] && s.start[j] <= s.upper[j])) {
            throw ArgumentError("start", shortest(s.start[j]) + " for " + quote(p.names[j]) +
                                             " is outside the box [" + shortest(s.lower[j]) +
                                             ", " + shortest(s.upper[j]) + "]");
        }
    }
    s.step = per_coefficient(g, "step", p, true, step);
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (!std::isfinite(s.step[j])) {
            throw ArgumentError("step", "the box of " + quote(p.names[j]) +
                                            " is too wide for a default step (its width is not "
                                            "finite); give {step} or a narrower box");
        }
    }
    s.step_gain = per_coefficient(g, "step_gain", p, true,
                                  std::vector<double>(nfree, defaults::step_gain));
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (s.step[j] < 0.0) throw ArgumentError("step", "step sizes must not be negative");
        if (s.step_gain[j] < 0.0) throw ArgumentError("step_gain", "gains must not be negative");
    }

    s.temperature = real(g, "temperature", defaults::temperature);
    if (!(s.temperature > 0.0)) throw ArgumentError("temperature", "must be positive");
    s.cooling = real(g, "cooling", defaults::cooling);
    if (!(s.cooling > 0.0 && s.cooling <= 1.0)) throw ArgumentError("cooling", "must be in (0, 1]");
    // Below the smallest change one observation can make, 2 min(a, 1 - a) / N.
    s.tolerance = real(g, "tolerance",
                       defaults::tolerance_fraction * std::fmin(s.quantile, 1.0 - s.quantile) *
                           smallest_weight(p) / n);
    if (s.tolerance < 0.0) throw ArgumentError("tolerance", "must not be negative");

    s.sweeps = whole(g, "sweeps", defaults::sweeps, 1, kIntMax);
    s.adjustments = whole(g, "adjustments", defaults::adjustments, 1, kIntMax);
    // Each stage end walks and shifts the whole history, and a run needs at
    // least that many stages, so the cost grows with its square.
    s.history_len = whole(g, "history_len", defaults::history_len, 1, 10000);
    s.max_evals = whole(g, "max_evals", defaults::max_evals, 1, kIntMax);
    s.restarts = whole(g, "restarts", defaults::restarts, 1, kSeed1Streams);
    s.seed = whole(g, "seed", defaults::seed, 0, kSeed1Streams - 1);
    s.seed2 = whole(g, "seed2", defaults::seed2, 0, kSeed2Streams - 1);
    s.threads = whole(g, "threads", 0, 0, 256);
    s.certify = real(g, "certify", 0.0);
    if (!(s.certify >= 0.0 && s.certify <= 1e9)) {
        throw ArgumentError("certify", "must be seconds from 0 (no certificate) to 1e9, got " +
                                           shortest(s.certify));
    }

    s.subsamples = whole(g, "subsamples", 0, 0, kSeed2Streams - 1);
    s.level = real(g, "level", defaults::level);
    if (!(s.level > 0.0 && s.level < 1.0)) {
        throw ArgumentError("level", shortest(s.level) + " is outside (0, 1)");
    }
    // Symmetric by default: in the coverage study the equal-tailed interval
    // covers less than its level, the symmetric one at least its level.
    s.symmetric = !g.has("interval") || g["interval"][0] == 1.0;
    if (g.has("subsample_size")) {
        s.subsample_size = whole(g, "subsample_size", 0, kMinSubsampleSize, kIntMax);
        if (s.subsample_size >= n) {
            throw ArgumentError("subsample_size",
                                std::to_string(s.subsample_size) +
                                    " is not below the number of observations, " +
                                    std::to_string(n));
        }
    } else {
        s.subsample_size = default_subsample_size(n);
        if (s.subsamples > 0 && s.subsample_size < kMinSubsampleSize) {
            throw ArgumentError(
                "subsamples", "with " + std::to_string(n) +
                                  " observations the default subsample size floor(N^(2/3)) is " +
                                  std::to_string(s.subsample_size) + ", below the minimum " +
                                  std::to_string(kMinSubsampleSize) +
                                  "; subsampling needs at least 90 observations");
        }
    }
    s.subsample_restarts = whole(g, "subsample_restarts", s.restarts, 1, kSeed1Streams);
    if (s.subsamples > 0) check_enough_subsamples(s.subsamples, s.level, s.symmetric, "subsamples");

    s.bootstrap = whole(g, "bootstrap", 0, 0, kSeed2Streams - 1);
    s.bootstrap_restarts = whole(g, "bootstrap_restarts", kBootstrapRestarts, 1, kSeed1Streams);
    s.bandwidth = real(g, "bandwidth", 0.5);
    if (!(s.bandwidth > 0.0 && std::isfinite(s.bandwidth))) {
        throw ArgumentError("bandwidth", "must be a positive number");
    }
    s.hessian = g.has("hessian") ? int(g["hessian"][0]) : kHessianCrossfit;
    if (s.bootstrap > 0) {
        if (s.subsamples > 0) {
            throw ArgumentError("bootstrap", "give {subsamples} or {bootstrap}, not both: each "
                                             "makes the fit's intervals");
        }
        if (!s.maximize) {
            throw ArgumentError("bootstrap", "the reshaped bootstrap reshapes a maximum; it "
                                             "needs the objective maximized");
        }
        check_enough_subsamples(s.bootstrap, s.level, s.symmetric, "bootstrap", "bootstrap",
                                "draw");
    }
    return s;
}

bool resolved_value(const Settings &s, const std::string &key, std::vector<double> &out) {
    const std::pair<const char *, const std::vector<double> *> vectors[] = {
        {"lower", &s.lower}, {"upper", &s.upper}, {"start", &s.start},
        {"step", &s.step},   {"step_gain", &s.step_gain}};
    for (const auto &[name, values] : vectors) {
        if (key == name) {
            out = *values;
            return true;
        }
    }
    const std::pair<const char *, double> scalars[] = {
        {"quantile", s.quantile},
        {"maximize", s.maximize ? 1.0 : 0.0},
        {"box_scale", s.box_scale},
        {"temperature", s.temperature},
        {"cooling", s.cooling},
        {"tolerance", s.tolerance},
        {"sweeps", double(s.sweeps)},
        {"adjustments", double(s.adjustments)},
        {"history_len", double(s.history_len)},
        {"max_evals", double(s.max_evals)},
        {"restarts", double(s.restarts)},
        {"seed", double(s.seed)},
        {"seed2", double(s.seed2)},
        {"threads", double(s.threads)},
        {"subsamples", double(s.subsamples)},
        {"subsample_size", double(s.subsample_size)},
        {"subsample_restarts", double(s.subsample_restarts)},
        {"certify", s.certify},
        {"level", s.level},
        {"interval", s.symmetric ? 1.0 : 0.0},
        {"bootstrap", double(s.bootstrap)},
        {"bootstrap_restarts", double(s.bootstrap_restarts)},
        {"bandwidth", s.bandwidth},
        {"hessian", double(s.hessian)}};
    for (const auto &[name, value] : scalars) {
        if (key == name) {
            out.assign(1, value);
            return true;
        }
    }
    return false;
}

bool default_value(const std::string &key, double &value) {
    const std::pair<const char *, double> table[] = {
        {"quantile", defaults::quantile},
        {"fixed_coef", defaults::fixed_coef},
        {"maximize", defaults::maximize ? 1.0 : 0.0},
        {"box_scale", defaults::box_scale},
        {"step_fraction", defaults::step_fraction},
        {"temperature", defaults::temperature},
        {"cooling", defaults::cooling},
        {"tolerance_fraction", defaults::tolerance_fraction},
        {"sweeps", double(defaults::sweeps)},
        {"adjustments", double(defaults::adjustments)},
        {"history_len", double(defaults::history_len)},
        {"max_evals", double(defaults::max_evals)},
        {"step_gain", defaults::step_gain},
        {"restarts", double(defaults::restarts)},
        {"seed", double(defaults::seed)},
        {"seed2", double(defaults::seed2)},
        {"threads", 0.0},
        {"subsamples", 0.0},
        {"certify", 0.0},
        {"level", defaults::level},
        {"interval", 1.0},
        {"bootstrap", 0.0},
        {"bootstrap_restarts", double(kBootstrapRestarts)},
        {"bandwidth", 0.5},
        {"hessian", double(kHessianCrossfit)}};
    for (const auto &[name, v] : table) {
        if (key == name) {
            value = v;
            return true;
        }
    }
    return false;
}

}  // namespace vimor_fit

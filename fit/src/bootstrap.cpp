#include "bootstrap.h"

#include <algorithm>
#include <cmath>

#include "defaults.h"
#include "error.h"
#include "text.h"

namespace vimor_fit {

namespace {

constexpr double kInvSqrt2Pi = 0.39894228040143267794;
// A share of the largest eigenvalue below which V is taken as not positive
// definite, and raised to it.
constexpr double kFloorShare = 1e-6;
// The quadratic's steps: their largest error at most this share of the
// least weight of one observation, min(a, 1 - a) / N: below what one
// observation can change. Certified draws give the same intervals with half
// a weight as with a fifth, at 2.5 times fewer rows.
constexpr double kStepErrorShare = 0.5;
constexpr std::int64_t kMostSteps = 1 << 20;
constexpr int kMostWidenings = 6;
// The draws' box, in scales of the limit's argmax (whose spread is about
// half a scale): a draw beyond it is searched again in a wider box.
constexpr double kBoxScales = 2.0;

double phi(double u) { return kInvSqrt2Pi * std::exp(-0.5 * u * u); }

std::vector<double> indices(const Problem &p, const std::vector<double> &coef) {
    std::vector<double> v(p.nobs);
    for (std::int32_t i = 0; i < p.nobs; ++i) v[i] = observation_index(p, coef.data(), i);
    return v;
}


double index_spread(const std::vector<double> &v) {
    double mean = 0, sd = 0;
    moments(v.data(), static_cast<std::int32_t>(v.size()), mean, sd);
    if (!(sd > 0.0) || !std::isfinite(sd)) {
        throw ArgumentError("bootstrap",
                            "the index x.b does not vary over the observations at the estimate "
                            "(standard deviation " + shortest(sd) +
                                "), so its curvature cannot be estimated");
    }
    return sd;
}

}  // namespace

namespace {

// The kernel sum of kernel_curvature, unfinished (lower triangle and its
// mirror), and the bandwidth it used.
std::vector<double> kernel_matrix(const Problem &p, double quantile,
                                  const std::vector<double> &coef, double c, double &h) {
    const std::int32_t m = p.nfree(), n = p.nobs;
    const std::vector<double> v = indices(p, coef);
    h = c * index_spread(v) * std::pow(double(n), -1.0 / 7.0);
    const double base = 1.0 - quantile;
    std::vector<double> matrix(std::size_t(m) * m, 0.0);
    for (std::int32_t i = 0; i < n; ++i) {
        const double u = v[i] / h;
        const double g = 2.0 * p.weight(i) * (p.response[i] - base) * u * phi(u);
        if (g == 0.0) continue;
        for (std::int32_t j = 0; j < m; ++j) {
            const double gx = g * p.column(j)[i];
            for (std::int32_t k = 0; k <= j; ++k) matrix[j * m + k] += gx * p.column(k)[i];
        }
    }
    const double scale = double(n) * h * h;
    for (std::int32_t j = 0; j < m; ++j) {
        for (std::int32_t k = 0; k <= j; ++k) {
            matrix[j * m + k] = matrix[j * m + k] / scale;
            matrix[k * m + j] = matrix[j * m + k];
        }
    }
    return matrix;
}

}  // namespace

Curvature kernel_curvature(const Problem &p, double quantile, const std::vector<double> &coef,
                           double c) {
    Curvature out;
    out.size = p.nfree();
    out.matrix = kernel_matrix(p, quantile, coef, c, out.bandwidth);
    finish_curvature(out, p);
    return out;
}

Curvature crossfit_curvature(const Module &module, const Problem &p, const Settings &s,
                             const std::vector<double> &coef) {
    std::vector<std::int32_t> rows[2];
    for (std::int32_t i = 0; i < p.nobs; ++i) rows[i % 2].push_back(i);
    std::vector<double> response[2], regressors[2], estimate[2];
    Problem half[2];
    for (int a = 0; a < 2; ++a) {
        half[a] = subproblem(p, rows[a].data(), static_cast<std::int32_t>(rows[a].size()),
                             response[a], regressors[a]);
        const std::int32_t seed2 = static_cast<std::int32_t>(
            (std::int64_t(s.seed2) + 1 + s.bootstrap + a) % kSeed2Streams);
        std::vector<Restart> restarts(s.bootstrap_restarts);
        for (std::int32_t r = 0; r < s.bootstrap_restarts; ++r) {
            restarts[r] = run_restart(module, half[a], s, seed2, r);
        }
        estimate[a] = restarts[choose(restarts, s.maximize, s.tolerance).best].best;
    }
    // The halves' response is the module's (weights folded in), so the
    // kernel sums weigh each row as the whole sample's does.
    Curvature out;
    out.size = p.nfree();
    double h[2];
    const std::vector<double> even = kernel_matrix(half[0], s.quantile, estimate[1], s.bandwidth, h[0]);
    const std::vector<double> odd = kernel_matrix(half[1], s.quantile, estimate[0], s.bandwidth, h[1]);
    out.matrix.resize(even.size());
    for (std::size_t k = 0; k < even.size(); ++k) out.matrix[k] = 0.5 * even[k] + 0.5 * odd[k];
    out.bandwidth = 0.5 * h[0] + 0.5 * h[1];
    Curvature trial = out;
    try {
        finish_curvature(trial, p);
    } catch (const ArgumentError &) {
        // No positive eigenvalue: the halves disagree too much to say.
        Curvature plugin = kernel_curvature(p, s.quantile, coef, s.bandwidth);
        plugin.fell_back = true;
        return plugin;
    }
    return trial;
}

Curvature numerical_curvature(const Module &module, const Problem &p, double quantile,
                              const std::vector<double> &coef) {
    const std::int32_t m = p.nfree(), n = p.nobs;
    const double spread = index_spread(indices(p, coef)) * std::pow(double(n), -1.0 / 7.0);
    std::vector<double> step(m);
    for (std::int32_t j = 0; j < m; ++j) {
        double mean = 0, sd = 0;
        moments(p.column(j), n, mean, sd);
        step[j] = spread / (sd > 0.0 ? sd : std::fabs(mean));
    }
    std::vector<double> at = coef;
    const auto value = [&](std::int32_t j, double dj, std::int32_t k, double dk) {
        at = coef;
        at[j] = at[j] + dj;
        at[k] = at[k] + dk;
        return objective_at(module, p, quantile, at.data());
    };
    Curvature out;
    out.size = m;
    out.matrix.assign(std::size_t(m) * m, 0.0);
    for (std::int32_t j = 0; j < m; ++j) {
        for (std::int32_t k = 0; k <= j; ++k) {
            const double a = step[j], b = step[k];
            const double second = value(j, a, k, b) - value(j, a, k, -b) - value(j, -a, k, b) +
                                  value(j, -a, k, -b);
            out.matrix[j * m + k] = -second / (4.0 * a * b);
            out.matrix[k * m + j] = out.matrix[j * m + k];
        }
    }
    finish_curvature(out, p);
    return out;
}

void symmetric_eigen(std::int32_t n, std::vector<double> a, std::vector<double> &values,
                     std::vector<double> &vectors) {
    std::vector<double> q(std::size_t(n) * n, 0.0);  // columns: eigenvectors
    for (std::int32_t i = 0; i < n; ++i) q[i * n + i] = 1.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0, diagonal = 0.0;
        for (std::int32_t i = 0; i < n; ++i) {
            diagonal = diagonal + a[i * n + i] * a[i * n + i];
            for (std::int32_t j = i + 1; j < n; ++j) off = off + a[i * n + j] * a[i * n + j];
        }
        if (!(off > 1e-32 * diagonal)) break;
        for (std::int32_t p = 0; p < n; ++p) {
            for (std::int32_t r = p + 1; r < n; ++r) {
                const double apr = a[p * n + r];
                if (apr == 0.0) continue;
                const double theta = (a[r * n + r] - a[p * n + p]) / (2.0 * apr);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::int32_t k = 0; k < n; ++k) {  // columns p and r
                    const double akp = a[k * n + p], akr = a[k * n + r];
                    a[k * n + p] = c * akp - s * akr;
                    a[k * n + r] = s * akp + c * akr;
                }
                for (std::int32_t k = 0; k < n; ++k) {  // rows p and r
                    const double apk = a[p * n + k], ark = a[r * n + k];
                    a[p * n + k] = c * apk - s * ark;
                    a[r * n + k] = s * apk + c * ark;
                }
                for (std::int32_t k = 0; k < n; ++k) {
                    const double qkp = q[k * n + p], qkr = q[k * n + r];
                    q[k * n + p] = c * qkp - s * qkr;
                    q[k * n + r] = s * qkp + c * qkr;
                }
            }
        }
    }
    std::vector<std::int32_t> order(n);
    for (std::int32_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::int32_t x, std::int32_t y) { return a[x * n + x] > a[y * n + y]; });
    values.assign(n, 0.0);
    vectors.assign(std::size_t(n) * n, 0.0);
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t col = order[k];
        values[k] = a[col * n + col];
        // The sign that makes the largest component positive, for one answer.
        std::int32_t big = 0;
        for (std::int32_t i = 1; i < n; ++i) {
            if (std::fabs(q[i * n + col]) > std::fabs(q[big * n + col])) big = i;
        }
        const double sign = q[big * n + col] < 0.0 ? -1.0 : 1.0;
        for (std::int32_t i = 0; i < n; ++i) vectors[k * n + i] = sign * q[i * n + col];
    }
}

void finish_curvature(Curvature &c, const Problem &p) {
    const std::int32_t m = c.size;
    for (std::int32_t j = 0; j < m; ++j) {
        for (std::int32_t k = 0; k < j; ++k) {
            const double mean = 0.5 * c.matrix[j * m + k] + 0.5 * c.matrix[k * m + j];
            c.matrix[j * m + k] = c.matrix[k * m + j] = mean;
        }
    }
    for (double v : c.matrix) {
        if (!std::isfinite(v)) {
            throw ArgumentError("bootstrap", "the estimated curvature V is not finite; rescale "
                                             "the regressors or give {bandwidth}");
        }
    }
    // Eigenvalues compared in standard units of the regressors (D V D, D the
    // columns' spreads), so that a coefficient of a small-valued column is
    // not taken for a flat direction.
    c.scale.assign(m, 1.0);
    for (std::int32_t j = 0; j < m; ++j) {
        double mean = 0, sd = 0;
        moments(p.column(j), p.nobs, mean, sd);
        c.scale[j] = sd > 0.0 ? sd : std::fabs(mean);
    }
    std::vector<double> standard(c.matrix.size());
    for (std::int32_t j = 0; j < m; ++j) {
        for (std::int32_t k = 0; k < m; ++k) {
            standard[j * m + k] = c.scale[j] * c.matrix[j * m + k] * c.scale[k];
        }
    }
    symmetric_eigen(m, standard, c.values, c.vectors);
    c.raw_values = c.values;
    const double largest = c.values.empty() ? 0.0 : c.values[0];
    if (!(largest > 0.0)) {
        throw ArgumentError("bootstrap",
                            "the estimated curvature V has no positive eigenvalue (the largest "
                            "is " + shortest(largest) +
                                "): the objective does not look like a maximum here; try another "
                                "{bandwidth} or {hessian}");
    }
    const double floor = kFloorShare * largest;
    c.floored = false;
    for (double &v : c.values) {
        if (v < floor) {
            v = floor;
            c.floored = true;
        }
    }
    // The directions in coefficient units: t_k = g_k'(b - b^), g_k = D^-1 f_k.
    c.directions.assign(c.vectors.size(), 0.0);
    for (std::int32_t e = 0; e < m; ++e) {
        for (std::int32_t j = 0; j < m; ++j) c.directions[e * m + j] = c.vectors[e * m + j] / c.scale[j];
    }
    if (!c.floored) return;
    for (std::int32_t j = 0; j < m; ++j) {
        for (std::int32_t k = 0; k < m; ++k) {
            double sum = 0.0;
            for (std::int32_t e = 0; e < m; ++e) {
                sum = sum + c.values[e] * c.directions[e * m + j] * c.directions[e * m + k];
            }
            c.matrix[j * m + k] = sum;
        }
    }
}

std::vector<double> draw_half_widths(const Problem &p, double quantile,
                                     const std::vector<double> &coef, const Curvature &c) {
    const std::int32_t m = p.nfree(), n = p.nobs;
    const std::vector<double> v = indices(p, coef);
    const double h = c.bandwidth > 0.0 ? c.bandwidth
                                       : 0.5 * index_spread(v) * std::pow(double(n), -1.0 / 7.0);
    const double base = 1.0 - quantile, rate = std::pow(double(n), -1.0 / 3.0);
    std::vector<double> half(m, 0.0);
    for (std::int32_t j = 0; j < m; ++j) {
        double s2 = 0.0;
        for (std::int32_t i = 0; i < n; ++i) {
            const double r = p.response[i] - base;
            s2 = s2 + p.weight(i) * r * r * std::fabs(p.column(j)[i]) * phi(v[i] / h) / h;
        }
        s2 = 4.0 * s2 / n;
        const double vjj = c.matrix[j * m + j];
        half[j] = kBoxScales * std::cbrt(4.0 * s2 / (vjj * vjj)) * rate;
        if (!(half[j] > 0.0) || !std::isfinite(half[j])) {
            throw ArgumentError("bootstrap", "no observation lies near the boundary x.b = 0 "
                                             "along " + quote(p.names[j]) +
                                                 ", so the draws' box cannot be sized");
        }
    }
    return half;
}

std::vector<std::int64_t> draw_states(std::int32_t draws, std::int32_t nobs, std::int32_t seed,
                                      std::int32_t seed2) {
    Minstd generator(seed, seed2);
    std::vector<std::int64_t> states(draws);
    for (std::int32_t b = 0; b < draws; ++b) {
        states[b] = generator.state();
        for (std::int32_t i = 0; i < nobs; ++i) generator.below(nobs);
    }
    return states;
}

std::vector<std::int32_t> multinomial_counts(std::int64_t state, std::int32_t nobs) {
    Minstd generator = Minstd::at(state);
    std::vector<std::int32_t> counts(nobs, 0);
    for (std::int32_t i = 0; i < nobs; ++i) ++counts[generator.below(nobs)];
    return counts;
}

void reshape(const Problem &p, double quantile, const std::vector<double> &coef,
             const Curvature &c, const std::vector<double> &half,
             const std::vector<std::int32_t> &counts, Reshaped &out) {
    const std::int32_t m = p.nfree(), k = p.nreg, n = p.nobs;
    const double base = 1.0 - quantile;
    // Observations whose index keeps its sign over the whole box add a
    // constant: left out. The test allows for the rounding of the sum.
    std::vector<std::int32_t> rows;
    std::vector<double> omega;
    for (std::int32_t i = 0; i < n; ++i) {
        const double w = double(counts[i] - 1) * p.weight(i);
        if (w == 0.0) continue;
        double reach = 0.0, size = std::fabs(p.column(m)[i] * p.fixed_coef);
        for (std::int32_t j = 0; j < m; ++j) {
            const double x = std::fabs(p.column(j)[i]);
            reach = reach + x * half[j];
            size = size + x * (std::fabs(coef[j]) + half[j]);
        }
        const double index = observation_index(p, coef.data(), i);
        if (std::fabs(index) > reach + 1e-12 * size) continue;
        rows.push_back(i);
        omega.push_back(w);
    }
    // The quadratic -1/2 lambda t^2 along each direction, t = g'(b - b^), as
    // a staircase of steps 2 e high, e the error allowed: down by e sgn(t - t_s)
    // and up by e sgn(t + t_s) at t_s = sqrt(4 e (s - 1/2) / lambda), where
    // the parabola passes halfway between two stairs, for s = 1.. until |t|
    // passes T, the box's reach along g.
    struct Steps {
        std::int64_t count;  // on each side
        double centre;       // g'b^
    };
    std::vector<Steps> steps(m);
    std::int64_t total = 0;
    const double error = kStepErrorShare * std::fmin(quantile, 1.0 - quantile) / n;
    // No point where the quadratic exceeds the drift's whole range, R, can
    // beat the estimate, so a staircase stops once it has climbed past R:
    // beyond, it stays flat and the maximizers are those of the full one.
    // (One step more for a zero index, which counts as positive.)
    double range = 0.0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        range = range + std::fabs(omega[r] * (p.response[rows[r]] - base));
    }
    range = 2.0 * range / n;
    const double needed = std::floor(range / (2.0 * error)) + 2.0;
    for (std::int32_t e = 0; e < m; ++e) {
        double reach = 0.0, centre = 0.0;
        for (std::int32_t j = 0; j < m; ++j) {
            reach = reach + std::fabs(c.directions[e * m + j]) * half[j];
            centre = centre + c.directions[e * m + j] * coef[j];
        }
        const double wanted = std::fmin(std::ceil(c.values[e] * reach * reach / (4.0 * error) + 0.5),
                                        needed);
        const std::int64_t count = std::max<std::int64_t>(
            1, static_cast<std::int64_t>(std::fmin(wanted, double(kMostSteps))));
        steps[e] = {count, centre};
        total += 2 * count;
    }
    const std::int64_t all = std::int64_t(rows.size()) + total;
    if (all * k > INT32_MAX) {
        throw ArgumentError("bootstrap", "a draw's problem would have more rows than the module "
                                         "can index; rescale the regressors");
    }
    const std::int32_t rows_all = static_cast<std::int32_t>(all);
    const double scale = double(rows_all) / n;  // the module divides by N', the target by N
    out.data_rows = static_cast<std::int32_t>(rows.size());
    out.response.assign(rows_all, 0.0);
    out.regressors.assign(std::size_t(rows_all) * k, 0.0);
    const auto x = [&](std::int32_t j, std::int32_t r) -> double & {
        return out.regressors[std::size_t(j) * rows_all + r];
    };
    for (std::int32_t r = 0; r < out.data_rows; ++r) {
        const std::int32_t i = rows[r];
        const double w = omega[r] * scale, y = p.response[i];
        out.response[r] = w == 1.0 ? y : base + w * (y - base);
        for (std::int32_t j = 0; j < k; ++j) x(j, r) = p.column(j)[i];
    }
    std::int32_t r = out.data_rows;
    for (std::int32_t e = 0; e < m; ++e) {
        const Steps &st = steps[e];
        for (std::int64_t t = 1; t <= st.count; ++t) {
            const double cut = std::sqrt(4.0 * error * (double(t) - 0.5) / c.values[e]);
            for (const double side : {1.0, -1.0}) {
                // A row whose index is t - side cut, weighted -side e.
                out.response[r] = base + (-side * error) * double(rows_all);
                for (std::int32_t j = 0; j < m; ++j) x(j, r) = c.directions[e * m + j];
                x(m, r) = -(st.centre + side * cut) / p.fixed_coef;
                ++r;
            }
        }
    }
    out.problem = p;
    out.problem.response = out.response.data();
    out.problem.module_response = nullptr;
    out.problem.weights = nullptr;
    out.problem.regressors = out.regressors.data();
    out.problem.nobs = rows_all;
}

SubsampleFit bootstrap_draw(const Module &module, const Problem &p, const Settings &s,
                            const Curvature &c, const std::vector<double> &coef,
                            const std::vector<double> &half, std::int64_t state,
                            std::int32_t b) {
    const std::int32_t m = p.nfree();
    const std::vector<std::int32_t> counts = multinomial_counts(state, p.nobs);
    const std::int32_t seed2 = static_cast<std::int32_t>((std::int64_t(s.seed2) + 1 + b) % kSeed2Streams);
    std::vector<double> reach = half;
    SubsampleFit out;
    for (int widened = 0;; ++widened) {
        Reshaped reshaped;
        reshape(p, s.quantile, coef, c, reach, counts, reshaped);
        Settings draw = s;
        for (std::int32_t j = 0; j < m; ++j) {
            draw.lower[j] = coef[j] - reach[j];
            draw.upper[j] = coef[j] + reach[j];
            draw.start[j] = coef[j];
            draw.step[j] = defaults::step_fraction * (draw.upper[j] - draw.lower[j]);
        }
        std::vector<Restart> restarts(s.bootstrap_restarts);
        for (std::int32_t r = 0; r < s.bootstrap_restarts; ++r) {
            restarts[r] = run_restart(module, reshaped.problem, draw, seed2, r);
        }
        const Choice choice = choose(restarts, true, s.tolerance);
        out.value = restarts[choice.best].value;
        out.reached = choice.reached;
        out.coef = restarts[choice.best].best;
        out.limit_hit = true;
        for (const Restart &r : restarts) out.limit_hit = out.limit_hit && r.status == 1;
        out.widened = widened;
        bool edge = false;
        for (std::int32_t j = 0; j < m; ++j) {
            edge = edge || std::fabs(out.coef[j] - coef[j]) >= 0.99 * reach[j];
        }
        if (!edge || widened == kMostWidenings) {
            certify_resample(module, reshaped.problem, s, draw.lower, draw.upper, out);
            return out;
        }
        for (double &v : reach) v = 2.0 * v;
    }
}

}  // namespace vimor_fit

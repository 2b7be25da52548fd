// The reshaped bootstrap: the kernel curvature against a design whose V is
// known in closed form, the staircase against the exact quadratic and the
// draw's drift, intervals by the quantile rule with b = N, the units against
// the whole run, and the settings it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "fit/src/bootstrap.h"
#include "fit_test.h"
#include "fit/src/problem.h"

using fit_test::Data;
using fit_test::same_bits;
using fit_test::Session;
using namespace vimor_fit;

namespace {

// y = 1[1 - x1 + x2 + e >= 0], x1, x2, e standard normal; the intercept and
// x1 free, x2 normalized at +1. At (1, -1):
//   V = 2 phi(0) E[phi(1 - x1) w w'],  w = (1, x1),
// and phi(1 - x)phi(x) = phi_sqrt2(1) N(x; 1/2, 1/2), so
//   V = 2 phi(0) phi_sqrt2(1) [[1, 1/2], [1/2, 3/4]].
Data design(std::int32_t n, unsigned seed) { return fit_test::simulated(n, seed, 1.0, -1.0, 1.0); }

Problem view(const Data &d) { return fit_test::core_view(d); }

double module_objective(const Problem &p, const std::vector<double> &coef, double q) {
    return fit_test::fcna(p, q, coef);
}

double quadratic(const Curvature &c, const std::vector<double> &d) {
    double q = 0;
    for (int j = 0; j < c.size; ++j)
        for (int k = 0; k < c.size; ++k) q += d[j] * c.matrix[j * c.size + k] * d[k];
    return 0.5 * q;
}

}  // namespace

TEST(Bootstrap, KernelCurvatureOfAKnownDesign) {
    const double phi0 = 1.0 / std::sqrt(2.0 * M_PI);
    const double phi2 = std::exp(-0.25) / std::sqrt(4.0 * M_PI);
    const double s = 2.0 * phi0 * phi2;
    const double want[] = {s, s / 2, s / 2, 0.75 * s};
    const Data d = design(400000, 1);
    const Problem p = view(d);
    const Curvature c = kernel_curvature(p, 0.5, {1.0, -1.0}, 0.5);
    ASSERT_EQ(c.size, 2);
    for (int e = 0; e < 4; ++e) EXPECT_NEAR(c.matrix[e], want[e], 0.1 * s) << e;
    EXPECT_FALSE(c.floored);
    EXPECT_GT(c.bandwidth, 0.0);
    // Eigenvectors (rows, in standard units) are orthonormal and rebuild the
    // matrix with the scales.
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
            const double dot = c.vectors[a * 2] * c.vectors[b * 2] + c.vectors[a * 2 + 1] * c.vectors[b * 2 + 1];
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12);
            double rebuilt = 0;
            for (int e = 0; e < 2; ++e) rebuilt += c.values[e] * c.directions[e * 2 + a] * c.directions[e * 2 + b];
            EXPECT_NEAR(rebuilt, c.matrix[a * 2 + b], 1e-12 * s);
        }
}

// At the fit's own estimate the kernel curvature is biased up (the estimate
// sits on its sample's peak); cross-fitted over the halves it is not. Twelve
// samples of the known design, N = 4000, V's smaller eigenvalue averaged.
TEST(Bootstrap, CrossfittedCurvatureIsNotBentByTheEstimate) {
    const double s = 2.0 / std::sqrt(2.0 * M_PI) * std::exp(-0.25) / std::sqrt(4.0 * M_PI);
    const double smallest = s * (1.75 - std::sqrt(0.0625 + 1.0)) / 2.0;  // of s [[1, 1/2], [1/2, 3/4]]
    double plugin = 0, crossfit = 0;
    const int samples = 12;
    for (int rep = 0; rep < samples; ++rep) {
        const Data d = design(4000, 100 + rep);
        double mean[2];
        for (const int kind : {kHessianKernel, kHessianCrossfit}) {
            Session fit(d);
            ASSERT_EQ(fit.set("restarts", {4}), VIMOR_OK);
            ASSERT_EQ(fit.set("bootstrap", {20}), VIMOR_OK);
            ASSERT_EQ(fit.set("bootstrap_restarts", {4}), VIMOR_OK);
            ASSERT_EQ(vimor_fit_set_text(fit.fit, "hessian", hessian_name(kind)), VIMOR_OK);
            ASSERT_EQ(vimor_fit_prepare(fit.fit), VIMOR_OK);
            const std::int32_t size = vimor_restart_record_size(fit.fit);
            std::vector<double> records(4 * size);
            for (int r = 0; r < 4; ++r) {
                ASSERT_EQ(vimor_fit_run_restart(fit.fit, r, records.data() + r * size), VIMOR_OK);
            }
            ASSERT_EQ(vimor_fit_finish_restarts(fit.fit, records.data()), VIMOR_OK);
            const std::vector<double> e = fit.get("curvature_eigenvalues");
            mean[kind == kHessianCrossfit] = e.back();
        }
        plugin += mean[0] / samples;
        crossfit += mean[1] / samples;
    }
    EXPECT_GT(plugin, 1.12 * smallest) << "the plug-in's bias this test is about";
    EXPECT_NEAR(crossfit, smallest, 0.08 * smallest) << plugin;
}

// Sixty rows whose halves' estimates disagree so much that the cross-fitted V
// has no positive eigenvalue: the kernel V at the estimate is used, and said.
TEST(Bootstrap, CrossfitFallsBackToTheEstimatesCurvature) {
    const Data d = fit_test::simulated(60, 8);
    Session fit(d);
    ASSERT_EQ(fit.set("restarts", {2}), VIMOR_OK);
    ASSERT_EQ(fit.set("bootstrap", {20}), VIMOR_OK);
    ASSERT_EQ(fit.set("bootstrap_restarts", {2}), VIMOR_OK);
    ASSERT_EQ(vimor_fit_prepare(fit.fit), VIMOR_OK);
    ASSERT_EQ(vimor_fit_run(fit.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    EXPECT_EQ(fit.get("curvature_fell_back"), std::vector<double>{1.0});
    const Curvature plugin = kernel_curvature(view(d), 0.5, fit.get("coef"), 0.5);
    EXPECT_TRUE(same_bits(fit.get("curvature"), plugin.matrix));
    bool said = false;
    for (std::int32_t i = 0; i < vimor_fit_warning_count(fit.fit); ++i) {
        said = said || std::string(vimor_fit_warning(fit.fit, i)).find("cross-fitted") != std::string::npos;
    }
    EXPECT_TRUE(said);
}

TEST(Bootstrap, JacobiOnAMatrixWithKnownEigenvalues) {
    // Q diag(5, 2, -1) Q' for a rotation Q: the eigenvalues come back,
    // largest first, and a negative one is floored by finish_curvature.
    const double a = 0.3, b = 1.1;
    const double q[9] = {std::cos(a), -std::sin(a), 0, std::sin(a) * std::cos(b),
                         std::cos(a) * std::cos(b), -std::sin(b), std::sin(a) * std::sin(b),
                         std::cos(a) * std::sin(b), std::cos(b)};
    const double lambda[3] = {5, 2, -1};
    std::vector<double> m(9, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int e = 0; e < 3; ++e) m[i * 3 + j] += q[i * 3 + e] * lambda[e] * q[j * 3 + e];
    std::vector<double> values, vectors;
    symmetric_eigen(3, m, values, vectors);
    for (int e = 0; e < 3; ++e) EXPECT_NEAR(values[e], lambda[e], 1e-12);
}

// The staircase follows drift minus quadratic to within its error over the
// draws' box; in a box far wider than the quadratic allows, it stops
// climbing, and every point past its top stays below the estimate's value,
// so the maximizers are those of the exact quadratic's staircase.
TEST(Bootstrap, StaircaseCarriesTheDriftAndTheQuadratic) {
    const Data d = design(300, 2);
    const Problem p = view(d);
    const std::vector<double> est = {0.9, -1.1};
    const Curvature c = kernel_curvature(p, 0.5, est, 0.5);
    const std::vector<double> half = draw_half_widths(p, 0.5, est, c);
    const std::vector<std::int32_t> counts = multinomial_counts(draw_states(3, d.nobs, 7, 8)[2], d.nobs);
    std::int64_t total = 0;
    for (std::int32_t w : counts) total += w;
    ASSERT_EQ(total, d.nobs);
    // The target, from every row: the drift minus the quadratic.
    const auto target = [&](const std::vector<double> &b) {
        double drift = 0;
        for (std::int32_t i = 0; i < d.nobs; ++i) {
            const double v = observation_index(p, b.data(), i);
            drift += (counts[i] - 1) * (d.y[i] - 0.5) / d.nobs * (v >= 0 ? 1.0 : -1.0);
        }
        return drift - quadratic(c, {b[0] - est[0], b[1] - est[1]});
    };
    const double error = 0.5 * 0.5 / d.nobs;  // per direction, at each point
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (const double widen : {1.0, 16.0}) {
        const std::vector<double> box = {widen * half[0], widen * half[1]};
        Reshaped r;
        reshape(p, 0.5, est, c, box, counts, r);
        EXPECT_LT(r.data_rows, d.nobs);  // rows that cannot flip are left out
        const double at_est = module_objective(r.problem, est, 0.5);
        double range = 0;  // of the drift, from the rows kept, in the module's units
        for (std::int32_t i = 0; i < r.data_rows; ++i) range += 2 * std::fabs(r.problem.response[i] - 0.5);
        range /= r.problem.nobs;
        const double base = at_est - target(est);
        double worst = 0;
        int past_top = 0;
        for (int t = 0; t < 2000; ++t) {
            const std::vector<double> b = {est[0] + u(rng) * box[0], est[1] + u(rng) * box[1]};
            const double off = std::fabs(module_objective(r.problem, b, 0.5) - target(b) - base);
            if (off <= 2 * 2 * error + 1e-12) {
                worst = std::max(worst, off);
            } else {
                ++past_top;
                const double here = module_objective(r.problem, b, 0.5);
                const double drift = target(b) + quadratic(c, {b[0] - est[0], b[1] - est[1]});
                EXPECT_GT(drift - (here - base), range);  // its top is past the drift's range
                EXPECT_LT(here, at_est);
            }
        }
        EXPECT_GT(worst, 0.0);  // steps, not the parabola itself
        if (widen == 1.0) EXPECT_EQ(past_top, 0);
        if (widen > 1.0) EXPECT_GT(past_top, 1000);  // the staircase stopped
        if (widen > 1.0) {  // and climbs no further than one step past it
            EXPECT_LE(r.problem.nobs - r.data_rows, 2 * 2 * (std::floor(range / (2 * error)) + 2));
        }
    }
}

TEST(Bootstrap, IntervalsFollowTheQuantileRuleAndUnitsGiveTheWholeRun) {
    const Data d = design(250, 4);
    const auto configure = [](Session &s) {
        s.set("restarts", {3});
        s.set("max_evals", {4000});
        s.set("bootstrap", {24});
        s.set("bootstrap_restarts", {2});
        s.set("level", {0.8});
        s.set("seed", {31320});
        s.set("seed2", {30080});
    };
    Session whole(d), units(d);
    configure(whole);
    configure(units);
    ASSERT_EQ(vimor_fit_prepare(whole.fit), VIMOR_OK);
    ASSERT_EQ(vimor_fit_run(whole.fit, 2, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    ASSERT_EQ(vimor_fit_prepare(units.fit), VIMOR_OK);
    const std::int32_t rsize = vimor_restart_record_size(units.fit);
    std::vector<double> records(3 * rsize);
    for (int r = 0; r < 3; ++r) ASSERT_EQ(vimor_fit_run_restart(units.fit, r, &records[r * rsize]), VIMOR_OK);
    std::vector<double> draw(vimor_subsample_record_size(units.fit));
    EXPECT_EQ(vimor_fit_run_subsample(units.fit, 0, nullptr, draw.data()), VIMOR_ERROR);  // no estimate yet
    ASSERT_EQ(vimor_fit_finish_restarts(units.fit, records.data()), VIMOR_OK);
    std::vector<double> draws;
    for (int b = 23; b >= 0; --b) {
        ASSERT_EQ(vimor_fit_run_subsample(units.fit, b, nullptr, draw.data()), VIMOR_OK);
        draws.insert(draws.begin(), draw.begin(), draw.end());
    }
    ASSERT_EQ(vimor_fit_finish_subsamples(units.fit, draws.data()), VIMOR_OK);
    for (const char *key : {"coef", "subsample_estimates", "interval_lower", "interval_upper",
                            "curvature", "curvature_eigenvalues", "draw_half_widths", "edge_hits"}) {
        EXPECT_TRUE(same_bits(whole.get(key), units.get(key))) << key;
    }
    // Symmetric 80%: e -+ |d|_(ceil(0.8 B)), d = draw - estimate, at rate N^(1/3) both ways.
    const std::vector<double> est = whole.get("coef"), all = whole.get("subsample_estimates");
    for (int j = 0; j < 2; ++j) {
        std::vector<double> dev;
        for (int b = 0; b < 24; ++b) dev.push_back(std::fabs((all[b * 2 + j] - est[j]) + 0.0));
        std::sort(dev.begin(), dev.end());
        const double q = dev[std::size_t(std::ceil(0.8 * 24 - 1e-9)) - 1];
        EXPECT_EQ(whole.get("interval_lower")[j], est[j] - q * 1.0);
        EXPECT_EQ(whole.get("interval_upper")[j], est[j] + q * 1.0);
        EXPECT_LT(whole.get("interval_lower")[j], whole.get("interval_upper")[j]);
    }
}

TEST(Bootstrap, RefusedSettingsNameTheirArgument) {
    const Data d = design(120, 5);
    const auto refused = [&](const std::vector<std::pair<const char *, double>> &given,
                             const char *text_key, const char *text, const char *blamed) {
        Session s(d);
        for (const auto &[key, value] : given) s.set(key, {value});
        if (text_key && vimor_fit_set_text(s.fit, text_key, text) != VIMOR_OK) {
            EXPECT_STREQ(vimor_last_error_argument(), blamed);
            return;
        }
        EXPECT_EQ(vimor_fit_prepare(s.fit), VIMOR_ERROR);
        EXPECT_STREQ(vimor_last_error_argument(), blamed);
    };
    refused({{"bootstrap", 50}, {"subsamples", 50}}, nullptr, nullptr, "bootstrap");
    refused({{"bootstrap", 50}, {"maximize", 0}}, nullptr, nullptr, "bootstrap");
    refused({{"bootstrap", 10}}, nullptr, nullptr, "bootstrap");  // 10 draws, 95%
    refused({{"bootstrap", 50}, {"bandwidth", 0}}, nullptr, nullptr, "bandwidth");
    refused({{"bootstrap", 50}}, "hessian", "cubic", "hessian");
}

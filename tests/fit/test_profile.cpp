// Profiles: every step's value is checked against the module itself at the
// step's two ends and its middle, and against the core's correct count, on
// data with many ties; the maximum step against the fit's flat range.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "fit/src/error.h"
#include "fit/src/profile.h"
#include "fit_test.h"

using fit_test::Data;

namespace {

struct Step {
    double left, right, objective, correct;
};

// Integer regressors, so that many observations change sign at one point.
Data tied(std::int32_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> small(-2, 2), coin(0, 1);
    Data d(n, 3);
    for (std::int32_t i = 0; i < n; ++i) {
        d.x[i] = 1.0;
        d.x[n + i] = small(rng);
        d.x[2 * n + i] = small(rng) + 0.5 * coin(rng);
        d.y[i] = coin(rng);
    }
    return d;
}

struct Profiled {
    VimorProblem *problem = nullptr;
    std::vector<double> weights;
    explicit Profiled(const Data &d, bool weighted, unsigned seed) {
        std::vector<const char *> names;
        for (const std::string &s : d.names) names.push_back(s.c_str());
        EXPECT_EQ(vimor_problem_new(d.y.data(), d.x.data(), d.nobs, d.nreg, d.fixed, names.data(),
                                    &problem),
                  VIMOR_OK);
        if (weighted) {
            std::mt19937 rng(seed);
            std::uniform_int_distribution<int> w(0, 6);
            for (std::int32_t i = 0; i < d.nobs; ++i) weights.push_back(w(rng) * 0.37);
            weights[0] = weights[1] = 1.0;
            EXPECT_EQ(vimor_problem_set_weights(problem, weights.data()), VIMOR_OK);
        }
    }
    ~Profiled() { vimor_problem_free(problem); }
    int steps(const std::vector<double> &coef, double quantile, std::int32_t j, double lo,
              double hi, std::vector<Step> &out) const {
        VimorProfile *profile = nullptr;
        const int status = vimor_profile_new(problem, _fcna_, coef.data(), quantile, j, lo, hi,
                                             &profile);
        if (status != VIMOR_OK) return status;
        const std::int32_t n = vimor_profile_steps(profile);
        std::vector<double> l(n), r(n), v(n), c(n);
        EXPECT_EQ(vimor_profile_get(profile, l.data(), r.data(), v.data(), c.data()), VIMOR_OK);
        vimor_profile_free(profile);
        out.clear();
        for (std::int32_t s = 0; s < n; ++s) out.push_back({l[s], r[s], v[s], c[s]});
        return status;
    }
    void score(std::vector<double> coef, std::int32_t j, double at, double quantile,
               double &value, double &correct) const {
        coef[j] = at;
        ASSERT_EQ(vimor_score(problem, _fcna_, coef.data(), quantile, &value, &correct), VIMOR_OK);
    }
};

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Profile, EveryStepIsTheModulesValueAndTheStepsTileTheWindow) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const Data d = seed % 2 ? tied(40 + 7 * seed, seed) : fit_test::simulated(60, seed);
        const bool weighted = seed % 3 == 0;
        const double quantile = seed % 4 == 1 ? 0.3 : 0.5;
        const Profiled p(d, weighted, seed);
        const std::vector<double> coef = {0.25 * seed - 1.0, -0.5};
        for (std::int32_t j = 0; j < 2; ++j) {
            const double lo = coef[j] - 3.0, hi = coef[j] + 3.0;
            std::vector<Step> steps;
            ASSERT_EQ(p.steps(coef, quantile, j, lo, hi, steps), VIMOR_OK);
            ASSERT_GE(steps.size(), 3u) << "seed " << seed;
            EXPECT_EQ(steps.front().left, lo);
            EXPECT_EQ(steps.back().right, hi);
            for (std::size_t s = 0; s < steps.size(); ++s) {
                const Step &st = steps[s];
                ASSERT_LE(st.left, st.right);
                if (s + 1 < steps.size()) {
                    EXPECT_EQ(steps[s + 1].left, std::nextafter(st.right, INFINITY));
                    EXPECT_FALSE(same(steps[s + 1].objective, st.objective) &&
                                 steps[s + 1].correct == st.correct)
                        << "neighbours that do not differ are one step";
                }
                for (const double at : {st.left, st.right, st.left + (st.right - st.left) / 2}) {
                    double value, correct;
                    p.score(coef, j, at, quantile, value, correct);
                    EXPECT_TRUE(same(value, st.objective))
                        << "seed " << seed << " j " << j << " at " << at << ": " << value
                        << " vs " << st.objective;
                    EXPECT_TRUE(same(correct, st.correct)) << correct << " vs " << st.correct;
                }
            }
        }
    }
}

TEST(Profile, TheHighestStepHoldsTheFitsFlatRange) {
    const Data d = fit_test::simulated(300, 5);
    fit_test::Session fit(d);
    ASSERT_EQ(fit.set("restarts", {8}), VIMOR_OK);
    ASSERT_EQ(vimor_fit_prepare(fit.fit), VIMOR_OK);
    ASSERT_EQ(vimor_fit_run(fit.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    const std::vector<double> coef = fit.get("coef"), lower = fit.get("lower"),
                              upper = fit.get("upper"), flo = fit.get("flat_lower"),
                              fhi = fit.get("flat_upper");
    const double value = fit.get("objective")[0];
    const Profiled p(d, false, 0);
    for (std::int32_t j = 0; j < 2; ++j) {
        std::vector<Step> steps;
        ASSERT_EQ(p.steps(coef, 0.5, j, lower[j], upper[j], steps), VIMOR_OK);
        const Step *mine = nullptr;
        for (const Step &s : steps) {
            if (s.left <= coef[j] && coef[j] <= s.right) mine = &s;
        }
        ASSERT_NE(mine, nullptr);
        EXPECT_TRUE(same(mine->objective, value));
        EXPECT_EQ(mine->left, std::max(flo[j], lower[j]));
        EXPECT_EQ(mine->right, std::min(fhi[j], upper[j]));
        for (const Step &s : steps) EXPECT_LE(s.objective, value) << "the search missed";
    }
}

TEST(Profile, RefusesWhatItCannotDoExactly) {
    const Data d = tied(50, 3);
    const Profiled p(d, false, 0);
    const std::vector<double> coef = {0.0, 0.0};
    std::vector<Step> steps;
    EXPECT_EQ(p.steps(coef, 0.5, 0, 1.0, -1.0, steps), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "window");
    EXPECT_EQ(p.steps(coef, 0.5, 0, -INFINITY, 1.0, steps), VIMOR_ERROR);
    EXPECT_EQ(p.steps(coef, 0.5, 2, -1.0, 1.0, steps), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "coef");
    EXPECT_EQ(p.steps(coef, 1.0, 0, -1.0, 1.0, steps), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "quantile");
    // A window one point wide is one step.
    ASSERT_EQ(p.steps(coef, 0.5, 0, 0.5, 0.5, steps), VIMOR_OK);
    EXPECT_EQ(steps.size(), 1u);

    // Too much work for the budget is refused, not ground through.
    const vimor_fit::Problem view = fit_test::core_view(d);
    const vimor_fit::Module module{_fcna_, _saa_};
    EXPECT_THROW(vimor_fit::profile(module, view, 0.5, coef.data(), 0, -5.0, 5.0, 10.0),
                 vimor_fit::ArgumentError);

    // A module whose objective is not the one the core replays is caught.
    const auto other = [](const double *y, const double *x, const int32_t *n, const int32_t *k,
                          const double *b, double *s, const double *q, const double *f) {
        _fcna_(y, x, n, k, b, s, q, f);
        *s = std::nextafter(*s, INFINITY);
        return int32_t(0);
    };
    VimorProfile *profile = nullptr;
    EXPECT_EQ(vimor_profile_new(p.problem, other, coef.data(), 0.5, 0, -1.0, 1.0, &profile),
              VIMOR_ERROR);
    EXPECT_EQ(profile, nullptr);
}

}  // namespace

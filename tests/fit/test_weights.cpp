// Weighted fits: weights of 1 are the unweighted fit to the bit; whole-number
// weights are the data with rows repeated; the default tolerance stays below
// the least change one weighted observation makes; bad weights are refused
// naming them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "fit_test.h"

using fit_test::Data;
using fit_test::same_bits;
using fit_test::Session;

namespace {

void configure(Session &s) {
    s.set("restarts", {6});
    s.set("max_evals", {4000});
    s.set("subsamples", {6});
    s.set("level", {0.5});
    s.set("subsample_restarts", {2});
}

int weigh(Session &s, const std::vector<double> &w) {
    return vimor_problem_set_weights(s.problem, w.data());
}

// Observation i of `d` repeated w[i] times.
Data repeated(const Data &d, const std::vector<double> &w) {
    std::vector<std::int32_t> rows;
    for (std::int32_t i = 0; i < d.nobs; ++i)
        for (int c = 0; c < int(w[i]); ++c) rows.push_back(i);
    Data r(static_cast<std::int32_t>(rows.size()), d.nreg);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        r.y[i] = d.y[rows[i]];
        for (std::int32_t j = 0; j < d.nreg; ++j) r.x[j * r.nobs + i] = d.x[j * d.nobs + rows[i]];
    }
    return r;
}

double score(const Session &s, const std::vector<double> &coef, double quantile,
             double *correct = nullptr) {
    double value = NAN, count = NAN;
    EXPECT_EQ(vimor_score(s.problem, _fcna_, coef.data(), quantile, &value, &count), VIMOR_OK);
    if (correct) *correct = count;
    return value;
}

}  // namespace

TEST(Weights, OnesGiveTheUnweightedFitBitForBit) {
    const Data d = fit_test::simulated(180, 3);
    Session plain(d), ones(d);
    ASSERT_EQ(weigh(ones, std::vector<double>(d.nobs, 1.0)), VIMOR_OK);
    for (Session *s : {&plain, &ones}) {
        configure(*s);
        ASSERT_EQ(vimor_fit_prepare(s->fit), VIMOR_OK);
        ASSERT_EQ(vimor_fit_run(s->fit, 2, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    }
    for (const char *key : {"tolerance", "coef", "objective", "correct", "accuracy",
                            "max_objective", "restart_records", "flat_lower", "flat_upper",
                            "subsample_estimates", "interval_lower", "interval_upper"}) {
        EXPECT_TRUE(same_bits(plain.get(key), ones.get(key))) << key;
    }
}

TEST(Weights, WholeNumbersAreRowsRepeated) {
    const Data d = fit_test::simulated(120, 8);
    std::mt19937 rng(4);
    std::vector<double> w(d.nobs);
    for (double &v : w) v = double(rng() % 4);  // zeros included
    const Data rep = repeated(d, w);
    Session weighted(d), rows(rep);
    ASSERT_EQ(weigh(weighted, w), VIMOR_OK);

    // The objective is the same function of the coefficients, to rounding,
    // and so is the accuracy, as a share.
    std::uniform_real_distribution<double> coef(-3.0, 3.0);
    for (int t = 0; t < 200; ++t) {
        const std::vector<double> b = {coef(rng), coef(rng)};
        const double q = t % 2 ? 0.5 : 0.3;
        double cw = 0, cr = 0;
        EXPECT_NEAR(score(weighted, b, q, &cw), score(rows, b, q, &cr), 1e-14);
        EXPECT_NEAR(cw / d.nobs, cr / rep.nobs, 1e-14);
    }

    // Both fits find the same largest value, and each one's estimate scores
    // that value in the other form.
    for (Session *s : {&weighted, &rows}) {
        s->set("restarts", {24});
        ASSERT_EQ(vimor_fit_prepare(s->fit), VIMOR_OK);
        ASSERT_EQ(vimor_fit_run(s->fit, 2, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    }
    const double best = weighted.get("objective")[0];
    EXPECT_NEAR(rows.get("objective")[0], best, 1e-14);
    EXPECT_NEAR(score(weighted, rows.get("coef"), 0.5), best, 1e-14);
    EXPECT_NEAR(score(rows, weighted.get("coef"), 0.5), best, 1e-14);
}

TEST(Weights, DefaultToleranceIsBelowTheLeastWeightedChange) {
    const Data d = fit_test::simulated(50, 5);
    std::vector<double> w(d.nobs, 2.0);
    w[7] = 0.0;
    w[9] = 0.01;  // the least positive weight
    double total = 0.0;
    for (double v : w) total += v;
    const double least = 0.01 / (total / d.nobs);  // scaled to mean 1
    Session s(d);
    ASSERT_EQ(weigh(s, w), VIMOR_OK);
    s.set("quantile", {0.3});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK);
    double fraction = 0;
    ASSERT_EQ(vimor_default("tolerance_fraction", &fraction), VIMOR_OK);
    const double tolerance = s.get("tolerance")[0];
    EXPECT_EQ(tolerance, fraction * 0.3 * least / d.nobs);
    EXPECT_LT(tolerance, 2.0 * 0.3 * least / d.nobs);
}

TEST(Weights, BadWeightsAreRefusedNamingThem) {
    const Data d = fit_test::simulated(40, 6);
    Session s(d);
    std::vector<double> w(d.nobs, 1.0);
    for (double bad : {-1.0, double(NAN), double(INFINITY)}) {
        w[3] = bad;
        EXPECT_EQ(weigh(s, w), VIMOR_ERROR);
        EXPECT_STREQ(vimor_last_error_argument(), "weights");
        EXPECT_NE(std::string(vimor_last_error()).find("row 4"), std::string::npos);
    }
    // Every observation of one class weighted 0: one class in effect.
    for (std::int32_t i = 0; i < d.nobs; ++i) w[i] = d.y[i] == 1.0 ? 0.0 : 1.0;
    EXPECT_EQ(weigh(s, w), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "weights");
    std::fill(w.begin(), w.end(), 1e308);  // the sum overflows
    EXPECT_EQ(weigh(s, w), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "weights");
}

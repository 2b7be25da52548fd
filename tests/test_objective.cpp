// The maximum-score objective: worked examples, the sign conventions at zero
// and infinite indices, invariances, and agreement bit for bit with a direct
// transcription of the formula on random data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "vimor.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

double objective(const std::vector<double> &y, const std::vector<double> &x, int32_t nreg,
                 const std::vector<double> &coef, double quantile, double fixed_coef) {
    const int32_t nobs = static_cast<int32_t>(y.size());
    double score = -12345.0;
    const int32_t rc = _fcna_(y.empty() ? nullptr : y.data(), x.empty() ? nullptr : x.data(),
                              &nobs, &nreg, coef.empty() ? nullptr : coef.data(), &score,
                              &quantile, &fixed_coef);
    EXPECT_EQ(rc, 0);
    return score;
}

// The formula as written: index / |index| for the sign, with +1 for a zero
// index and the sign of an infinite one.
double transcribed_objective(const std::vector<double> &y, const std::vector<double> &x,
                             int32_t nreg, const std::vector<double> &coef, double quantile,
                             double fixed_coef) {
    const size_t n = y.size();
    double score = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double index = 0.0;
        for (int32_t j = 0; j < nreg - 1; ++j) index = x[j * n + i] * coef[j] + index;
        index = x[(nreg - 1) * n + i] * fixed_coef + index;
        double factor;
        if (index == 0.0)
            factor = 1.0;
        else if (std::isinf(index))
            factor = index > 0 ? 1.0 : -1.0;
        else
            factor = index / std::fabs(index);
        const double term = ((1.0 / static_cast<double>(n)) * (y[i] - (1.0 - quantile))) * factor;
        score = term + score;
    }
    return score;
}

uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

TEST(Objective, WorkedExamples) {
    // Indices 1 and -1, terms 0.25 and 0.25.
    EXPECT_EQ(objective({1, 0}, {1, -1, 1, 1}, 2, {1}, 0.5, 0.0), 0.5);
    // Every index +1: terms -t, +t, +t with t = (1/3) * 0.5; the first two cancel.
    const double t = (1.0 / 3.0) * 0.5;
    const double s = objective({0, 1, 1}, {1, 1, 1, 1, 1, 1}, 2, {0}, 0.5, 1.0);
    EXPECT_EQ(bits(s), bits(t));
    EXPECT_EQ(s, 1.0 / 6.0);
}

TEST(Objective, EmptyDataAndSingleRegressor) {
    EXPECT_EQ(bits(objective({}, {}, 3, {1, 2}, 0.3, 1.0)), bits(0.0));
    // nreg = 1: the index is x * fixed_coef alone; coef is null and never read.
    // Responses 1, 0, 1 with indices 2, -1, 0 (zero counts as +1), alpha 0.25.
    const double a = 0.25, w = 1.0 / 3.0;
    double expected = 0.0;
    expected = (w * (1.0 - (1.0 - a))) * 1.0 + expected;
    expected = (w * (0.0 - (1.0 - a))) * -1.0 + expected;
    expected = (w * (1.0 - (1.0 - a))) * 1.0 + expected;
    EXPECT_EQ(bits(objective({1, 0, 1}, {2, -1, 0}, 1, {}, a, 1.0)), bits(expected));
}

TEST(Objective, ZeroIndexCountsAsPositive) {
    // Indices +0 (from 0 * 1), -0 * 1 products, and exact cancellation 1*1 + -1.
    for (double x : {0.0, -0.0}) {
        EXPECT_EQ(objective({1}, {x}, 1, {}, 0.5, 1.0), 0.5) << x;
        EXPECT_EQ(objective({1}, {x}, 1, {}, 0.5, -1.0), 0.5) << x;
        EXPECT_EQ(objective({0}, {x}, 1, {}, 0.25, 1.0), -0.75) << x;
    }
    EXPECT_EQ(objective({1}, {1, -1}, 2, {1}, 0.5, 1.0), 0.5);
    EXPECT_EQ(objective({1}, {-1, 1}, 2, {1}, 0.5, 1.0), 0.5);
}

TEST(Objective, InfiniteIndexHasItsSign) {
    EXPECT_EQ(objective({1}, {1e308, 1}, 2, {1e308}, 0.25, 1.0), 0.25);
    EXPECT_EQ(objective({1}, {-1e308, 1}, 2, {1e308}, 0.25, 1.0), -0.25);
    EXPECT_EQ(objective({1}, {kInf}, 1, {}, 0.25, 1.0), 0.25);
    EXPECT_EQ(objective({1}, {kInf}, 1, {}, 0.25, -1.0), -0.25);
    EXPECT_EQ(objective({0, 1}, {-kInf, 2}, 1, {}, 0.25, 1.0), 0.75 / 2 + 0.25 / 2);
}

TEST(Objective, IndexThatIsNotANumberGivesNaN) {
    EXPECT_TRUE(std::isnan(objective({1}, {kInf, -kInf}, 2, {1}, 0.5, 1.0)));
    EXPECT_TRUE(std::isnan(objective({1, 1}, {1, kNaN}, 1, {}, 0.5, 1.0)));
    EXPECT_TRUE(std::isnan(objective({1, 1}, {1, 1}, 1, {}, 0.5, kNaN)));
    EXPECT_TRUE(std::isnan(objective({kNaN}, {1}, 1, {}, 0.5, 1.0)));
}

TEST(Objective, ScaleInvariance) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal;
    for (int rep = 0; rep < 50; ++rep) {
        const int n = 1 + rep * 7, k = 1 + rep % 6;
        std::vector<double> y(n), x(static_cast<size_t>(n) * k), coef(k - 1);
        for (auto &v : y) v = rng() % 2;
        for (auto &v : x) v = normal(rng);
        for (auto &v : coef) v = normal(rng);
        const double fixed = normal(rng), alpha = 0.05 + 0.9 * (rep % 10) / 10.0;
        const double s = objective(y, x, k, coef, alpha, fixed);
        std::vector<double> doubled = coef, negated = coef;
        for (auto &v : doubled) v *= 2;
        for (auto &v : negated) v = -v;
        EXPECT_EQ(bits(objective(y, x, k, doubled, alpha, 2 * fixed)), bits(s));
        // Gaussian data make zero indices impossible in practice. A zero sum
        // is +0 either way, so compare values rather than bits here.
        EXPECT_EQ(objective(y, x, k, negated, alpha, -fixed), -s);
        EXPECT_EQ(bits(objective(y, x, k, coef, alpha, fixed)), bits(s));
    }
}

// Small integers make ties and exact zero indices frequent.
TEST(Objective, BitIdenticalToTranscription) {
    std::mt19937_64 rng(2024);
    std::normal_distribution<double> normal;
    for (int rep = 0; rep < 400; ++rep) {
        const int n = static_cast<int>(rng() % 300), k = 1 + static_cast<int>(rng() % 11);
        const bool integers = rep % 2 == 0;
        auto draw = [&] { return integers ? double(int(rng() % 7) - 3) : normal(rng) * 100; };
        std::vector<double> y(n), x(static_cast<size_t>(n) * k), coef(k - 1);
        for (auto &v : y) v = rng() % 2;
        for (auto &v : x) v = draw();
        for (auto &v : coef) v = draw();
        const double fixed = draw();
        const double alpha = std::ldexp(double(rng() % 1000 + 1), -10);
        EXPECT_EQ(bits(objective(y, x, k, coef, alpha, fixed)),
                  bits(transcribed_objective(y, x, k, coef, alpha, fixed)))
            << "rep " << rep << " n " << n << " k " << k;
    }
}

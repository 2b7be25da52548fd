// Flat ranges. The change points are checked against the plain search they
// replace: halving over every finite double, each probe the whole index.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "fit/src/flat.h"
#include "fit_test.h"

using vimor_fit::Problem;

namespace {

constexpr double kMax = std::numeric_limits<double>::max();

// Doubles in order as integers, both zeros at 0 (so -0 is never probed).
std::int64_t key(double x) {
    std::int64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b >= 0 ? b : -(b & std::numeric_limits<std::int64_t>::max());
}
double unkey(std::int64_t k) {
    const std::int64_t b = k >= 0 ? k : (-k | std::numeric_limits<std::int64_t>::min());
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// The module's index: multiply, add to the sum so far, from +0.
double index_of(const Problem &p, const std::vector<double> &b, std::int32_t i) {
    double s = 0.0;
    for (std::int32_t m = 0; m + 1 < p.nreg; ++m) s = p.regressors[std::size_t(m) * p.nobs + i] * b[m] + s;
    return p.regressors[std::size_t(p.nreg - 1) * p.nobs + i] * p.fixed_coef + s;
}

std::vector<std::vector<double>> reference_points(const Problem &p, const std::vector<double> &coef) {
    std::vector<std::vector<double>> points(p.nreg - 1);
    for (std::int32_t j = 0; j + 1 < p.nreg; ++j) {
        for (std::int32_t i = 0; i < p.nobs; ++i) {
            std::vector<double> b = coef;
            const auto sign = [&](std::int64_t k) {
                b[j] = unkey(k);
                return index_of(p, b, i) >= 0.0;
            };
            std::int64_t lo = key(-kMax), hi = key(kMax);
            const bool first = sign(lo);
            if (sign(hi) == first) continue;
            while (std::uint64_t(hi) - std::uint64_t(lo) > 1) {
                const std::int64_t mid = (lo >> 1) + (hi >> 1) + (lo & hi & 1);
                (sign(mid) == first ? lo : hi) = mid;
            }
            points[j].push_back(unkey(hi));
        }
    }
    return points;
}

// Values of every kind: zeros, small whole numbers (ties), ordinary ones,
// and magnitudes whose products overflow or underflow.
double any_value(std::mt19937_64 &g) {
    std::uniform_real_distribution<double> u(-1, 1);
    const double sign = g() % 2 ? 1.0 : -1.0;
    switch (g() % 10) {
        case 0: return sign * 0.0;
        case 1: return double(int(g() % 7) - 3);
        case 2: return u(g) * 1e300;
        case 3: return u(g) * 1e-300;
        case 4: return sign * std::ldexp(double(g() % 4096), -1074);  // subnormal
        case 5: return sign * kMax * (g() % 2 ? 1.0 : 0.5);
        case 6: return std::ldexp(u(g), int(g() % 200) - 100);
        default: return u(g) * 4;
    }
}

double objective(const Problem &p, std::vector<double> b, std::int32_t j, double t) {
    b[j] = t;
    double s = 0;
    const double q = 0.5;
    _fcna_(p.response, p.regressors, &p.nobs, &p.nreg, b.data(), &s, &q, &p.fixed_coef);
    return s;
}

}  // namespace

TEST(Flat, ChangePointsMatchTheWholeIndexSearch) {
    std::mt19937_64 g(20240611);
    std::size_t found = 0, overflowing = 0;
    for (int c = 0; c < 1500; ++c) {
        Problem p;
        p.nobs = 1 + int(g() % 8);
        p.nreg = 2 + int(g() % 4);
        std::vector<double> x(std::size_t(p.nobs) * p.nreg), coef(p.nreg - 1);
        for (double &v : x) v = any_value(g);
        for (double &v : coef) v = any_value(g);
        if (c % 3 == 0) {  // plain data, so the usual case is well represented
            std::normal_distribution<double> normal;
            for (double &v : x) v = normal(g);
        }
        p.fixed_coef = c % 5 == 0 ? any_value(g) : (g() % 2 ? 1.0 : -1.0);
        if (p.fixed_coef == 0) p.fixed_coef = 1e300;
        p.regressors = x.data();
        for (std::int32_t i = 0; i < p.nobs; ++i) overflowing += !std::isfinite(index_of(p, coef, i));
        const auto expected = reference_points(p, coef);
        const auto got = vimor_fit::change_points(p, coef.data());
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t j = 0; j < got.size(); ++j) {
            found += expected[j].size();
            ASSERT_TRUE(fit_test::same_bits(got[j], expected[j])) << "case " << c << " coefficient " << j;
        }
    }
    EXPECT_GT(found, 5000u);
    EXPECT_GT(overflowing, 100u);
}

// Index b0 + x2 (row 2: 0.7 + b0 >= 0 from -0.7 on; row 1: b0 - 0.1 >= 0 from
// 0.1 on), and b1 x1 + x2, where only rows 2 and 3 move and rise with b1.
TEST(Flat, RangesOnAHandCase) {
    fit_test::Data d(4, 3);
    d.y = {0, 0, 1, 1};
    d.column(0, {1, 1, 1, 1});
    d.column(1, {0, 0, 1, 1});
    d.column(2, {-3, -0.1, 0.7, 3});
    Problem p;
    p.response = d.y.data();
    p.regressors = d.x.data();
    p.nobs = 4;
    p.nreg = 3;
    const std::vector<double> coef = {0, 0};
    const double value = objective(p, coef, 0, 0);
    const vimor_fit::Module module{_fcna_, _saa_};
    const auto ranges = vimor_fit::flat_ranges(module, p, 0.5, coef, value);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].lo, -0.7);
    EXPECT_EQ(ranges[0].hi, std::nextafter(0.1, 0.0));
    EXPECT_EQ(ranges[1].lo, -0.7);
    EXPECT_EQ(ranges[1].hi, INFINITY);
    for (int j = 0; j < 2; ++j) {
        const double lo = ranges[j].lo, hi = ranges[j].hi;
        EXPECT_EQ(objective(p, coef, j, lo), value);
        EXPECT_NE(objective(p, coef, j, std::nextafter(lo, -INFINITY)), value);
        if (j == 0) {
            EXPECT_EQ(objective(p, coef, j, hi), value);
            EXPECT_NE(objective(p, coef, j, std::nextafter(hi, INFINITY)), value);
        } else {
            EXPECT_EQ(objective(p, coef, j, kMax), value);
        }
    }
}

// The walk from the estimate keeps the nearest change points and must start
// again with more when it passes them all. 2048 rows, so that every term of
// the objective (2^-12) sums exactly. Rows 0 and 1 change sign at b = 1100.5
// and b = -0.75; then 1023 pairs alike but for y, pair k changing at b = k,
// where one row turns right as the other turns wrong and the value stays.
TEST(Flat, RangesWalkPastTheNearestChangePoints) {
    const std::int32_t n = 2048;
    fit_test::Data d(n, 2);
    for (std::int32_t i = 0; i < n; ++i) {
        d.x[i] = 1.0;
        d.x[n + i] = -double(i / 2);
        d.y[i] = i % 2;
    }
    d.x[n] = -1100.5, d.y[0] = 0;  // right while b < 1100.5
    d.x[n + 1] = 0.75, d.y[1] = 1;  // right while b >= -0.75
    Problem p;
    p.response = d.y.data();
    p.regressors = d.x.data();
    p.nobs = n;
    p.nreg = 2;
    const double top = std::nextafter(1100.5, 0.0);
    // {estimate, lo, hi}: 1023 points to pass above, 1023 below, and the
    // nearest point ending the range with a thousand more beyond it.
    const double cases[][3] = {{0.5, -0.75, top}, {1050, -0.75, top},
                               {-100.5, -INFINITY, std::nextafter(-0.75, -1.0)},
                               {1200, 1100.5, INFINITY}};
    for (const auto &[b, lo, hi] : cases) {
        const std::vector<double> coef = {b};
        const double value = objective(p, coef, 0, b);
        const auto r = vimor_fit::flat_ranges(vimor_fit::Module{_fcna_, _saa_}, p, 0.5, coef, value);
        EXPECT_EQ(r[0].lo, lo) << b;
        EXPECT_EQ(r[0].hi, hi) << b;
    }
}

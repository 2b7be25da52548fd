// Settings resolved from hand-made data, the subsample generator and draws,
// and the interval ends. Expected values are written out in the order the
// rules give, on data chosen so that the order matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "fit/src/settings.h"
#include "fit/src/subsampling.h"
#include "fit_test.h"

using fit_test::Data;
using fit_test::same_bits;
using fit_test::Session;

namespace {

// N = 3: an intercept of -4, a varying column, and a normalized column of
// negative mean whose row-order sum differs from its reverse-order one.
// fixed_coef -2.
Data hand_data() {
    Data d(3, 3);
    d.fixed = -2.0;
    d.y = {1, 0, 1};
    d.column(0, {-4, -4, -4});
    d.column(1, {1, 2, 4});
    d.column(2, {-0.1, -0.2, -0.3});
    return d;
}

// Population moments of three values, each sum from the first row on.
double mean3(double a, double b, double c) { return ((a + b) + c) / 3; }
double sd3(double a, double b, double c) {
    const double m = mean3(a, b, c), da = a - m, db = b - m, dc = c - m;
    return std::sqrt(((da * da + db * db) + dc * dc) / 3);
}

}  // namespace

TEST(Settings, DefaultBoxStartStepAndTolerance) {
    ASSERT_NE(mean3(-0.1, -0.2, -0.3), mean3(-0.3, -0.2, -0.1));  // the data make order matter
    const Data d = hand_data();
    Session s(d);
    ASSERT_EQ(s.status, VIMOR_OK) << vimor_last_error();
    ASSERT_EQ(s.set("box_scale", {3}), VIMOR_OK);
    ASSERT_EQ(s.set("quantile", {0.7}), VIMOR_OK);
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    const double mean_k = mean3(-0.1, -0.2, -0.3), sd_k = sd3(-0.1, -0.2, -0.3);
    const double scale = 3.0 * 2.0;  // box_scale |fixed_coef|
    const double h0 = scale * (std::fabs(mean_k) + sd_k) / 4.0;  // constant column: |c| = 4
    const double h1 = scale * sd_k / sd3(1, 2, 4);
    EXPECT_TRUE(same_bits(s.get("lower"), {-h0, -h1}));
    EXPECT_TRUE(same_bits(s.get("upper"), {h0, h1}));
    EXPECT_TRUE(same_bits(s.get("start"), {0.0, 0.0}));
    EXPECT_TRUE(same_bits(s.get("step"), {0.5 * h0, 0.5 * h1}));  // a quarter of 2h, exact
    // min(alpha, 1 - alpha) with 1 - 0.7 computed: 0.30000000000000004.
    EXPECT_TRUE(same_bits(s.get("tolerance"), {0.5 * 0.30000000000000004 / 3}));
}

TEST(Settings, NaNStandsForTheDefaultAndOneValueServesAll) {
    const Data d = hand_data();
    const double sd_k = sd3(-0.1, -0.2, -0.3);
    const double h0 = 10.0 * 2.0 * (std::fabs(mean3(-0.1, -0.2, -0.3)) + sd_k) / 4.0;
    const double h1 = 10.0 * 2.0 * sd_k / sd3(1, 2, 4);
    {
        Session s(d);
        s.set("lower", {NAN, -1});
        s.set("upper", {5, NAN});
        s.set("start", {NAN, 0.5});
        s.set("step", {NAN, 0.7});
        s.set("step_gain", {3});
        ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
        EXPECT_TRUE(same_bits(s.get("lower"), {-h0, -1}));
        EXPECT_TRUE(same_bits(s.get("upper"), {5, h1}));
        EXPECT_TRUE(same_bits(s.get("start"), {0.5 * -h0 + 0.5 * 5, 0.5}));
        EXPECT_TRUE(same_bits(s.get("step"), {0.25 * (5 + h0), 0.7}));
        EXPECT_TRUE(same_bits(s.get("step_gain"), {3, 3}));
    }
    {
        Session s(d);
        s.set("step", {0.7});
        ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
        EXPECT_TRUE(same_bits(s.get("step"), {0.7, 0.7}));
    }
}

// Bounds given for a column need no default for it: the column whose squared
// deviations underflow is refused only when its own box is derived.
TEST(Settings, GivenBoundsNeedNoDefaultForThatColumn) {
    Data d(4, 3);
    d.y = {0, 1, 0, 1};
    d.column(0, {1, 1, 1, 1});
    d.column(1, {1e-200, 2e-200, 3e-200, 4e-200});
    d.column(2, {-1, 2, 0.5, 3});
    Session derived(d);
    EXPECT_EQ(vimor_fit_prepare(derived.fit), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "lower");
    Session given(d);
    given.set("lower", {NAN, -1});
    given.set("upper", {NAN, 1});
    EXPECT_EQ(vimor_fit_prepare(given.fit), VIMOR_OK) << vimor_last_error();
}

TEST(Settings, RangeErrorsBlameTheirArgument) {
    const Data d = hand_data();
    struct Case {
        std::vector<std::pair<const char *, std::vector<double>>> given;
        const char *blamed;  // nullptr: accepted
    };
    const Case cases[] = {
        {{{"seed", {31329}}}, "seed"},
        {{{"seed", {31328}}, {"seed2", {30081}}, {"restarts", {31329}}}, nullptr},
        {{{"lower", {1, 1e308}}, {"upper", {1, 1.5e308}}}, nullptr},  // (lower + upper) overflows
        {{{"seed2", {30082}}}, "seed2"},
        {{{"restarts", {0}}}, "restarts"},
        {{{"maximize", {0.5}}}, "maximize"},
        {{{"quantile", {1.0}}}, "quantile"},
        {{{"quantile", {0.5, 0.5}}}, "quantile"},
        {{{"start", {NAN, 1e6}}}, "start"},
        {{{"lower", {-1, 2}}, {"upper", {1, 1}}}, "lower"},
        {{{"lower", {-1}}}, "lower"},  // one value for all only for steps and gains
        {{{"step", {-1}}}, "step"},
        {{{"tolerance", {INFINITY}}}, "tolerance"},
        {{{"subsample_size", {3}}}, "subsample_size"},
        {{{"subsamples", {1}}}, "subsamples"},  // N = 3: the default size is below 20
    };
    for (const Case &c : cases) {
        Session s(d);
        int status = VIMOR_OK;
        for (const auto &[key, values] : c.given) {
            if (status == VIMOR_OK) status = s.set(key, values);
        }
        if (status == VIMOR_OK) status = vimor_fit_prepare(s.fit);
        const std::string first = c.given[0].first;
        if (!c.blamed) {
            EXPECT_EQ(status, VIMOR_OK) << first << ": " << vimor_last_error();
            continue;
        }
        EXPECT_EQ(status, VIMOR_ERROR) << first;
        EXPECT_STREQ(vimor_last_error_argument(), c.blamed) << first;
        EXPECT_STRNE(vimor_last_error(), "") << first;
    }
}

TEST(Settings, ProblemErrorsBlameTheData) {
    const std::pair<void (*)(Data &), const char *> cases[] = {
        {[](Data &d) { d.y = {1, 1, 1}; }, "y"},
        {[](Data &d) { d.y[1] = 2; }, "y"},
        {[](Data &d) { d.column(0, {0, 0, 0}); }, "x"},
        {[](Data &d) { d.column(1, {1, NAN, 2}); }, "x"},
        {[](Data &d) { d.column(2, {0.5, 0.5, 0.5}); }, "normalize"},
        {[](Data &d) { d.column(2, {1, INFINITY, 2}); }, "normalize"},
        {[](Data &d) { d.fixed = 0; }, "fixed_coef"},
    };
    for (const auto &[spoil, blamed] : cases) {
        Data d = hand_data();
        spoil(d);
        Session s(d);
        EXPECT_EQ(s.status, VIMOR_ERROR) << blamed;
        EXPECT_EQ(s.problem, nullptr);
        EXPECT_STREQ(vimor_last_error_argument(), blamed);
    }
}

// std::minstd_rand is the same generator, written by others: the standard
// fixes its 10000th value from state 1 at 399268537.
TEST(Subsamples, GeneratorIsMinstdFromItsSeeds) {
    vimor_fit::Minstd g(0, 0);
    EXPECT_EQ(g.next(), 48271);
    EXPECT_EQ(g.next(), 182605794);
    for (int i = 3; i < 10000; ++i) g.next();
    EXPECT_EQ(g.next(), 399268537);
    for (const auto &[s1, s2] : {std::pair{5, 2}, std::pair{31328, 30081}}) {
        vimor_fit::Minstd mine(s1, s2);
        std::minstd_rand ref(1 + s1 + 31329ull * s2);  // 942438978 at the top
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(mine.next(), std::int64_t(ref()));
    }
}

TEST(Subsamples, BelowRejectsTheTopPartialBlock) {
    vimor_fit::Minstd g(7, 11);
    std::minstd_rand ref(1 + 7 + 31329 * 11);
    const std::uint64_t ns[] = {1, 2, 3, 7, 1000, 1073741825, 2147483646};
    int rejected = 0;
    for (int k = 0; k < 3000; ++k) {
        const std::uint64_t n = ns[k % 7];
        std::uint64_t u = ref() - 1;
        while (u >= n * (2147483646 / n)) u = ref() - 1, ++rejected;
        ASSERT_EQ(g.below(n), std::int64_t(u % n)) << "n = " << n;
    }
    EXPECT_GT(rejected, 100);  // n = 2^30 + 1 rejects about half its draws

    // The block's edge: from state 1 the third value x is above 2^30, so for
    // n = x the block is 0..x-1 and u = x - 1 its last value, kept; for
    // n = x - 1 the block is 0..n-1 and u = n is drawn again.
    std::minstd_rand three;
    three(), three();
    const std::int64_t x = three();
    ASSERT_GT(x, 1073741824);
    vimor_fit::Minstd at_edge(0, 0), past_edge(0, 0);
    at_edge.next(), at_edge.next(), past_edge.next(), past_edge.next();
    EXPECT_EQ(at_edge.below(x), x - 1);
    std::int64_t u;
    do u = std::int64_t(three()) - 1;  // the next value in the block
    while (u >= x - 1);
    EXPECT_EQ(past_edge.below(x - 1), u);
}

TEST(Subsamples, DefaultSizeIsExactAtCubes) {
    EXPECT_EQ(vimor_fit::default_subsample_size(8), 4);
    EXPECT_EQ(vimor_fit::default_subsample_size(27), 9);
    EXPECT_EQ(vimor_fit::default_subsample_size(1000), 100);
    EXPECT_EQ(vimor_fit::default_subsample_size(999), 99);
    for (std::int64_t k = 2; k * k * k <= 2147483647; ++k) {  // every cube an int32 holds
        const std::int32_t cube = std::int32_t(k * k * k);
        ASSERT_EQ(vimor_fit::default_subsample_size(cube), k * k) << cube;
        ASSERT_EQ(vimor_fit::default_subsample_size(cube - 1), k * k - 1) << cube - 1;
    }
    // 90 rows are the fewest whose default size reaches the minimum of 20.
    for (const std::int32_t n : {89, 90}) {
        Data d = fit_test::simulated(n, 3);
        Session s(d);
        s.set("subsamples", {20});
        EXPECT_EQ(vimor_fit_prepare(s.fit), n == 90 ? VIMOR_OK : VIMOR_ERROR) << n;
        if (n == 89) EXPECT_STREQ(vimor_last_error_argument(), "subsamples");
        if (n == 90) EXPECT_TRUE(same_bits(s.get("subsample_size"), {20}));
    }
}

// The normalized column is 1 in row 0 and 0 elsewhere, so a third of the
// draws miss row 0, are constant on it, and must be replaced.
TEST(Subsamples, DrawsAreThePartialShuffleAndConstantOnesAreReplaced) {
    const std::int32_t n = 30, b = 20, count = 8;
    Data d(n, 2);
    for (std::int32_t i = 0; i < n; ++i) {
        d.x[i] = 1.0 + i % 4;
        d.x[n + i] = i == 0;
        d.y[i] = i % 3 == 0;
    }
    Session s(d);
    s.set("subsamples", {count});
    s.set("level", {0.5});
    s.set("subsample_size", {b});
    s.set("seed", {17});
    s.set("seed2", {4});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    std::minstd_rand ref(1 + 17 + 31329 * 4);
    const auto below = [&](std::uint64_t m) {
        for (;;) {
            const std::uint64_t u = ref() - 1;
            if (u < m * (2147483646 / m)) return u % m;
        }
    };
    int redrawn = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        std::vector<std::int32_t> expected;
        do {
            std::vector<std::int32_t> p(n);
            for (std::int32_t i = 0; i < n; ++i) p[i] = i;
            for (std::int32_t i = 0; i < b; ++i) std::swap(p[i], p[i + below(n - i)]);
            expected.assign(p.begin(), p.begin() + b);
            std::sort(expected.begin(), expected.end());
        } while (expected[0] != 0 && ++redrawn);
        std::vector<std::int32_t> rows(b, -1);
        ASSERT_EQ(vimor_fit_subsample_rows(s.fit, k, rows.data()), VIMOR_OK);
        EXPECT_EQ(rows, expected) << "draw " << k;
        EXPECT_TRUE(std::adjacent_find(rows.begin(), rows.end(), std::greater_equal<>()) ==
                    rows.end());  // ascending, so distinct
        EXPECT_TRUE(rows.front() >= 0 && rows.back() < n);
    }
    EXPECT_GT(redrawn, 0);
    EXPECT_TRUE(same_bits(s.get("redrawn"), {double(redrawn)}));
    std::int32_t row;
    EXPECT_EQ(vimor_fit_subsample_rows(s.fit, count, &row), VIMOR_ERROR);
}

TEST(Intervals, RankAndEnds) {
    using vimor_fit::quantile_rank;
    EXPECT_EQ(quantile_rank(0.95, 5), 5);
    EXPECT_EQ(quantile_rank(0.5, 4), 2);
    EXPECT_EQ(quantile_rank(0.5, 5), 3);
    EXPECT_EQ(quantile_rank(0.30000000000000004, 10), 3);  // 0.1 + 0.2: the product's last bit
    EXPECT_EQ(quantile_rank(0.31, 10), 4);
    EXPECT_EQ(quantile_rank(1e-12, 5), 1);
    EXPECT_EQ(quantile_rank(0.9999999999, 5), 5);

    // Estimate 2; differences {0.5, -1, 0, 1.25, -0.25}; b = N, so r = 1.
    const std::vector<double> draws = {2.5, 1, 2, 3.25, 1.75};
    double lo, hi;
    vimor_fit::interval(2, draws, 10, 10, 0.8, true, lo, hi);  // |d|_(4) = 1
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 3.0);
    // d_(4) = 0.5, d_(2) = -0.25; also from numbers alone, through the C API.
    ASSERT_EQ(vimor_interval(2, draws.data(), 5, 10, 10, 0.5, 0, &lo, &hi), VIMOR_OK);
    EXPECT_EQ(lo, 1.5);
    EXPECT_EQ(hi, 2.25);
    // b / N = 1/8: r = 1/2.
    vimor_fit::interval(2, draws, 1000, 125, 0.8, true, lo, hi);
    EXPECT_EQ(lo, 1.5);
    EXPECT_EQ(hi, 2.5);
    // The draws as pictures show them, on the same scale: 2 + d/2.
    std::vector<double> scaled(5);
    ASSERT_EQ(vimor_scaled_draws(2, draws.data(), 5, 1000, 125, scaled.data()), VIMOR_OK);
    EXPECT_EQ(scaled, (std::vector<double>{2.25, 1.5, 2, 2.625, 1.875}));
    EXPECT_EQ(vimor_scaled_draws(2, draws.data(), 5, 10, 11, scaled.data()), VIMOR_ERROR);
    vimor_fit::interval(2, {2, 2, 3, 5}, 1000, 125, 0.5, false, lo, hi);  // d_(3) = 1, d_(1) = 0
    EXPECT_EQ(lo, 1.5);
    EXPECT_EQ(hi, 2.0);

    // An end must be an interior order statistic: a symmetric interval at L
    // needs B >= 1/(1 - L), an equal-tailed one B > 2/(1 - L).
    using vimor_fit::fewest_subsamples;
    EXPECT_EQ(fewest_subsamples(0.95, true), 20);
    EXPECT_EQ(fewest_subsamples(0.9, true), 10);
    EXPECT_EQ(fewest_subsamples(0.99, true), 100);
    EXPECT_EQ(fewest_subsamples(0.95, false), 41);
    EXPECT_EQ(fewest_subsamples(0.9, false), 21);
    EXPECT_EQ(fewest_subsamples(0.5, true), 2);
    EXPECT_EQ(fewest_subsamples(1 - 1e-6, true), 0);  // beyond the largest B
    EXPECT_EQ(vimor_interval(2, draws.data(), 5, 10, 10, 0.9, 1, &lo, &hi), VIMOR_ERROR);
    EXPECT_STREQ(vimor_last_error_argument(), "level");
    EXPECT_EQ(vimor_interval(2, draws.data(), 5, 10, 10, 0.8, 0, &lo, &hi), VIMOR_ERROR);

    // Zeros, written e - h r and e + h r, or e - d r: an estimate of -0 with
    // zero draws of either sign keeps -0 where it is the minuend.
    for (const bool symmetric : {true, false}) {
        vimor_fit::interval(-0.0, {0.0, -0.0, -0.0, 0.0}, 8, 1, 0.9, symmetric, lo, hi);
        EXPECT_TRUE(lo == 0 && std::signbit(lo)) << symmetric;
        EXPECT_TRUE(hi == 0 && std::signbit(hi) == !symmetric) << symmetric;
        vimor_fit::interval(0.0, {-0.0, -0.0, 0.0, -0.0}, 8, 1, 0.9, symmetric, lo, hi);
        EXPECT_TRUE(lo == 0 && !std::signbit(lo) && hi == 0 && !std::signbit(hi)) << symmetric;
    }
}

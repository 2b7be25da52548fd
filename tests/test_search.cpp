// The annealing search: exits and their timing, step adaptation, acceptance
// of ties and NaN, sign handling, determinism, threads, and invariants over
// many random runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "search_run.h"
#include "vimor_internal.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kHigh = static_cast<double>(0.6f);
const double kLow = static_cast<double>(0.4f);

// Data with an intercept and nreg - 1 further regressors; the response
// follows the sign of a noisy index, so the objective has a clear optimum.
SearchRun noisy_problem(uint64_t seed, int32_t nobs, int32_t nreg) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    SearchRun r;
    r.nobs = nobs;
    r.nreg = nreg;
    r.regressors.resize(static_cast<size_t>(nobs) * nreg);
    for (int32_t i = 0; i < nobs; ++i) {
        double index = 0.3;
        r.regressors[i] = 1.0;
        for (int32_t j = 1; j < nreg; ++j) {
            const double x = normal(rng);
            r.regressors[static_cast<size_t>(j) * nobs + i] = x;
            index += (j % 2 ? 1.0 : -0.5) * x;
        }
        r.response.push_back(index + 0.5 * normal(rng) >= 0 ? 1.0 : 0.0);
    }
    r.set_box(-5, 5, 0, 1.0);
    return r;
}

double objective_at(const SearchRun &r, const std::vector<double> &point) {
    double s = 0;
    _fcna_(r.response.data(), r.regressors.data(), &r.nobs, &r.nreg,
           point.empty() ? nullptr : point.data(), &s, &r.quantile, &r.fixed_coef);
    return s;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(GuardedExponential, CutsAndCap) {
    using vimor::exprep_;
    EXPECT_EQ(exprep_(174.0), std::exp(174.0));
    EXPECT_GT(exprep_(174.0), 3.69e75);
    EXPECT_EQ(exprep_(std::nextafter(174.0, 200.0)), 3.69e75);
    EXPECT_EQ(exprep_(std::numeric_limits<double>::infinity()), 3.69e75);
    EXPECT_EQ(exprep_(kNaN), 3.69e75);
    EXPECT_EQ(exprep_(-180.0), std::exp(-180.0));
    EXPECT_GT(exprep_(-180.0), 0.0);
    EXPECT_EQ(exprep_(std::nextafter(-180.0, -200.0)), 0.0);
    EXPECT_EQ(exprep_(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_EQ(exprep_(-1.5), std::exp(-1.5));
}

TEST(SearchExits, EvaluationLimitAtTwoOrLess) {
    for (int32_t limit : {2, 1, 0, -7}) {
        SearchRun r = noisy_problem(1, 40, 3);
        r.set_box(-5, 5, 0.25, 1.0);
        r.max_evals = limit;
        r.limit_hit = 0;
        r.run();
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.n_evals, 2) << limit;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.limit_hit, 1);
        EXPECT_EQ(r.n_accepted, 0);
        EXPECT_EQ(r.coef, std::vector<double>(2, 0.25));
        EXPECT_EQ(r.best, std::vector<double>(2, 0.25));
        EXPECT_TRUE(same_bits(r.best_value, objective_at(r, r.best)));
        EXPECT_EQ(r.temperature, 1.0);
    }
}

TEST(SearchExits, SingleRegressorConvergesAfterHistoryStages) {
    for (int32_t hl : {4, 1, 0, -2}) {
        SearchRun r = noisy_problem(2, 30, 1);
        r.set_box(0, 0, 0, 0);  // nreg = 1: every per-coefficient array is null
        r.history_len = hl;
        r.temperature = 8.0;
        r.cooling = 0.5;
        r.tolerance = 0.0;
        r.run();
        EXPECT_EQ(r.status, 0) << hl;
        EXPECT_EQ(r.limit_hit, 0);
        EXPECT_EQ(r.n_evals, 1);
        // Cooled once per stage before the last, stage max(1, history_len).
        EXPECT_EQ(r.temperature, hl == 4 ? 1.0 : 8.0);
        EXPECT_TRUE(same_bits(r.best_value, objective_at(r, {})));
    }
}

TEST(SearchExits, HistoryLengthSetsTheEarliestConvergence) {
    // A tolerance wider than any change of the objective: only the 1e20
    // history fill can hold convergence back.
    for (int32_t hl : {1, 2, 3}) {
        SearchRun r = noisy_problem(3, 50, 3);
        r.history_len = hl;
        r.tolerance = 10.0;
        r.temperature = 2.0;
        r.cooling = 0.5;
        r.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.n_evals, 1 + hl * r.adjustments * r.sweeps * (r.nreg - 1));
        EXPECT_EQ(r.temperature, std::ldexp(2.0, 1 - hl));
        EXPECT_EQ(r.coef, r.best);
    }
}

TEST(SearchExits, NonPositiveHistoryLengthActsAsOne) {
    SearchRun one = noisy_problem(4, 60, 3);
    one.history_len = 1;
    one.tolerance = 0.02;
    one.run();
    for (int32_t hl : {0, -1, -100}) {
        SearchRun r = noisy_problem(4, 60, 3);
        r.history_len = hl;
        r.tolerance = 0.02;
        r.run();
        r.history_len = 1;  // the only field allowed to differ
        EXPECT_TRUE(r.same_outcome(one)) << hl;
    }
}

// Stages without trials cannot change any value; when their convergence test
// fails on the best-versus-current clause the run ends through the limit exit.
TEST(SearchExits, StagesWithoutTrialsAlwaysEnd) {
    struct Case {
        int32_t nreg, sweeps, adjustments;
        double tolerance;
        bool nan_data;
    };
    for (const Case &c : {Case{1, 5, 4, -1.0, false}, Case{3, 0, 4, kNaN, false},
                          Case{3, -2, 4, -1e-300, false}, Case{3, 5, 0, kNaN, false},
                          Case{3, 5, -1, 1.0, true}, Case{1, 5, 4, 0.5, true}}) {
        SearchRun r = noisy_problem(5, 20, c.nreg);
        if (c.nan_data) r.response[3] = kNaN;
        r.sweeps = c.sweeps;
        r.adjustments = c.adjustments;
        r.tolerance = c.tolerance;
        r.maximize = 0;
        r.history_len = 3;
        r.run();
        EXPECT_EQ(r.status, 1) << c.nreg << " " << c.sweeps << " " << c.adjustments;
        EXPECT_EQ(r.limit_hit, 1);
        EXPECT_EQ(r.n_evals, 1);
        EXPECT_EQ(r.temperature, 1.0);  // ended before any cooling
        EXPECT_TRUE(same_bits(r.best_value, objective_at(r, r.best)));
    }
}

TEST(SearchExits, LimitHitIsNotWrittenOnConvergence) {
    SearchRun r = noisy_problem(6, 30, 2);
    r.limit_hit = 42;
    r.run();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.limit_hit, 42);
}

// With a zero temperature every downhill trial is rejected, so only the
// acceptance ratio of the single cycle decides the step.
TEST(StepAdjustment, RatiosAtTheSinglePrecisionThresholds) {
    const double step0 = 0.3, gain = 1.5;
    auto expected_step = [&](int accepted) {
        const double ratio = accepted / 5.0;
        if (ratio > kHigh) return ((ratio - kHigh) * gain / kLow + 1.0) * step0;
        if (ratio < kLow) return step0 / ((kLow - ratio) / kLow * gain + 1.0);
        return step0;
    };
    int seen[6] = {};
    for (int32_t seed = 1; seed <= 300; ++seed) {
        SearchRun r = noisy_problem(7, 80, 2);
        r.set_box(-5, 5, 0, step0, gain);
        r.temperature = 0.0;
        r.sweeps = 5;
        r.adjustments = 1;
        r.history_len = 1;
        r.tolerance = 10.0;
        r.seed1 = seed;
        r.run();
        ASSERT_EQ(r.n_evals, 6);
        ASSERT_TRUE(r.n_accepted >= 0 && r.n_accepted <= 5);
        ++seen[r.n_accepted];
        EXPECT_TRUE(same_bits(r.step[0], expected_step(r.n_accepted))) << "seed " << seed;
        if (r.n_accepted == 2) {
            EXPECT_LT(r.step[0], step0);  // 0.4 lies below 0.4f
            EXPECT_GT(r.step[0], step0 * (1 - 1e-7));
        }
        if (r.n_accepted == 3) EXPECT_EQ(r.step[0], step0);  // 0.6 lies below 0.6f
    }
    EXPECT_GT(seen[2], 0);
    EXPECT_GT(seen[3], 0);
}

TEST(StepAdjustment, CutToTheBoxWidthComesAfterTheRule) {
    struct Case {
        int32_t nobs, sweeps;
        double step0, expected;
    };
    // nobs = 0: every trial ties and is accepted, ratio 1, growth by
    // (0.4 / 0.4f + 1). Negative sweeps: ratio 0, shrink by 1 / (gain + 1).
    const double grow = (1.0 - kHigh) * 1.0 / kLow + 1.0;
    for (const Case &c : {Case{0, 1, 0.6, 1.0}, Case{0, 1, 0.4, grow * 0.4},
                          Case{20, -1, 10.0, 1.0}, Case{20, -1, 1.5, 0.75},
                          Case{20, 0, 0.01, 1.0}, Case{20, 0, 7.0, 1.0}}) {
        SearchRun r = noisy_problem(8, c.nobs, 2);
        r.set_box(0, 1, 0.5, c.step0, 1.0);
        r.sweeps = c.sweeps;
        r.adjustments = 1;
        r.history_len = 1;
        r.tolerance = 0.0;
        r.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(same_bits(r.step[0], c.expected)) << c.nobs << " " << c.sweeps << " "
                                                      << c.step0 << " -> " << r.step[0];
    }
}

// Without trials each cycle applies the same map to the steps: shrink by
// 1 / (gain + 1) (ratio 0 with negative sweeps), then the cut. Many cycles,
// a fixed point (0 after underflow) and a map that never settles (gain -2
// flips the sign each cycle) all must come out as the cycles would.
TEST(StepAdjustment, ManyCyclesWithoutTrials) {
    struct Case {
        int32_t adjustments, history_len;
        double gain, step0;
    };
    for (const Case &c : {Case{3, 2, 0.5, 1.0}, Case{2000, 2, 1.0, 1.0}, Case{3, 1, -2.0, 0.5},
                          Case{4, 1, -2.0, 0.5}, Case{100000, 3, 0.0, 1.5}}) {
        SearchRun r = noisy_problem(15, 20, 3);
        r.set_box(-1, 1, 0, c.step0, c.gain);
        r.sweeps = -1;
        r.adjustments = c.adjustments;
        r.history_len = c.history_len;
        r.tolerance = 0.0;
        r.run();
        double expected = c.step0;
        for (int64_t k = 0; k < int64_t{c.adjustments} * c.history_len; ++k) {
            expected = expected / (c.gain + 1.0);
            if (!(2.0 >= expected)) expected = 2.0;
        }
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.n_evals, 1);
        EXPECT_TRUE(same_bits(r.step[0], expected)) << c.adjustments << " " << c.gain;
        EXPECT_TRUE(same_bits(r.step[1], expected));
    }
}

TEST(StepAdjustment, PinnedCoefficientStaysPut) {
    SearchRun r = noisy_problem(9, 50, 2);
    r.set_box(0.5, 0.5, 0.5, 1.0);
    r.sweeps = 3;
    r.adjustments = 2;
    r.history_len = 1;
    r.tolerance = 10.0;
    r.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.n_evals, 7);
    // Three moves in the first cycle leave the box and are redrawn onto it;
    // the first adjustment cuts the step to the zero width.
    EXPECT_EQ(r.n_out_of_bounds, 3);
    EXPECT_EQ(r.step[0], 0.0);
    EXPECT_EQ(r.best[0], 0.5);
    EXPECT_EQ(r.coef[0], 0.5);

    SearchRun wide = noisy_problem(9, 50, 3);
    wide.set_box(-5, 5, 0.0, 1.0);
    wide.lower[0] = wide.upper[0] = wide.coef[0] = -0.25;
    wide.run();
    EXPECT_EQ(wide.best[0], -0.25);
    EXPECT_EQ(wide.coef[0], -0.25);
    EXPECT_NE(wide.best[1], 0.0);
}

// No observations: every value is 0, every trial a tie that is accepted but
// never replaces the best point.
TEST(SearchTies, EmptyDataAcceptsEveryTrial) {
    SearchRun r;
    r.nobs = 0;
    r.nreg = 3;
    r.set_box(-1, 1, 0.125, 0.1, 0.5);
    r.history_len = 3;
    r.tolerance = 0.0;
    r.temperature = 4.0;
    r.cooling = 0.5;
    r.run();
    const int32_t per_stage = r.adjustments * r.sweeps * 2;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.n_evals, 1 + 3 * per_stage);
    EXPECT_EQ(r.n_accepted, r.n_evals - 1);
    EXPECT_EQ(r.best, std::vector<double>(2, 0.125));
    EXPECT_EQ(r.coef, r.best);
    EXPECT_EQ(r.temperature, 1.0);
    EXPECT_EQ(r.best_value, 0.0);
    double step = 0.1;
    for (int cycle = 0; cycle < 3 * r.adjustments; ++cycle)
        step = std::min(((1.0 - kHigh) * 0.5 / kLow + 1.0) * step, 2.0);
    EXPECT_EQ(r.step, std::vector<double>(2, step));
}

TEST(SearchTies, NanValuesCountAsUphill) {
    // Every value NaN: every trial is accepted and replaces the best.
    SearchRun r = noisy_problem(10, 30, 3);
    r.response[0] = kNaN;
    r.max_evals = 300;
    r.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.n_accepted, r.n_evals - 2);
    EXPECT_EQ(r.best, r.coef);
    EXPECT_TRUE(std::isnan(r.best_value));
}

// A negative and a NaN temperature both accept every downhill trial after
// drawing for it, so the two runs follow the same stream.
TEST(SearchTies, NegativeAndNanTemperaturesAcceptEverything) {
    SearchRun neg = noisy_problem(11, 60, 3), nan = noisy_problem(11, 60, 3);
    neg.temperature = -1.0;
    nan.temperature = kNaN;
    neg.max_evals = nan.max_evals = 500;
    neg.run();
    nan.run();
    EXPECT_EQ(neg.n_accepted, neg.n_evals - 2);
    EXPECT_TRUE(std::isnan(nan.temperature));
    nan.temperature = neg.temperature;
    EXPECT_TRUE(nan.same_outcome(neg));
}

// With alpha = 0.5, flipping every response negates every term exactly, so
// minimising S is maximising S on the flipped data, bit for bit.
TEST(SearchSign, MinimisingReturnsTheCallersSign) {
    SearchRun min = noisy_problem(12, 120, 4), max = noisy_problem(12, 120, 4);
    for (double &y : max.response) y = 1.0 - y;
    min.maximize = 0;
    min.run();
    max.run();
    EXPECT_EQ(min.status, max.status);
    EXPECT_TRUE(same_bits(min.best_value, -max.best_value));
    EXPECT_TRUE(same_bits(min.best_value, objective_at(min, min.best)));
    EXPECT_LT(min.best_value, objective_at(min, std::vector<double>(3, 0.0)));
    min.best_value = max.best_value;
    EXPECT_TRUE(min.same_outcome(max));
}

TEST(SearchDeterminism, IdenticalInputsGiveIdenticalOutputs) {
    SearchRun first = noisy_problem(13, 200, 4);
    first.run();
    ASSERT_EQ(first.status, 0);

    SearchRun other = noisy_problem(14, 50, 3);
    other.seed1 = -5;
    other.run();
    double s = 0;
    objective_at(other, std::vector<double>{1, 2});
    _fcna_(first.response.data(), first.regressors.data(), &first.nobs, &first.nreg,
           first.best.data(), &s, &first.quantile, &first.fixed_coef);

    SearchRun again = noisy_problem(13, 200, 4);
    again.run();
    EXPECT_TRUE(again.same_outcome(first));

    SearchRun reseeded = noisy_problem(13, 200, 4);
    reseeded.seed2 = 9374;
    reseeded.run();
    EXPECT_FALSE(reseeded.same_outcome(first));
}

TEST(SearchDeterminism, ConcurrentSearchesMatchSequentialOnes) {
    constexpr int kThreads = 4;
    std::vector<SearchRun> alone, together;
    for (int t = 0; t < kThreads; ++t) {
        SearchRun r = noisy_problem(20 + t, 150, 2 + t);
        r.seed1 = 100 * t;
        alone.push_back(r);
        together.push_back(r);
    }
    for (SearchRun &r : alone) r.run();
    std::vector<std::thread> threads;
    for (SearchRun &r : together) threads.emplace_back([&r] { r.run(); });
    for (std::thread &t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(together[t].same_outcome(alone[t])) << t;
}

// A coefficient separates the responses perfectly: the search must reach the
// largest value the objective can take, every observation on its side.
TEST(SearchQuality, FindsAPerfectSeparation) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-2, 2);
    SearchRun r;
    r.nreg = 2;
    r.quantile = 0.3;
    std::vector<double> x1, x2;
    while (x1.size() < 300) {
        const double a = u(rng), b = u(rng);
        if (std::fabs(b - 0.7 * a) < 0.05) continue;  // keep a margin
        x1.push_back(a);
        x2.push_back(b);
        r.response.push_back(b - 0.7 * a >= 0 ? 1.0 : 0.0);
    }
    r.nobs = 300;
    r.regressors = x1;
    r.regressors.insert(r.regressors.end(), x2.begin(), x2.end());
    r.set_box(-5, 5, 3.0, 1.0);
    r.temperature = 0.05;
    r.sweeps = 20;
    r.adjustments = 5;
    r.history_len = 4;
    r.tolerance = 1e-6;
    r.run();
    double n1 = 0;
    for (double y : r.response) n1 += y;
    const double largest = (n1 * 0.3 + (300 - n1) * 0.7) / 300;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(same_bits(r.best_value, objective_at(r, {-0.7})));
    EXPECT_NEAR(r.best_value, largest, 1e-12);
    EXPECT_NEAR(r.best[0], -0.7, 0.06);
}

TEST(SearchInvariants, HoldOverManyRandomRuns) {
    std::mt19937_64 rng(31337);
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    for (int rep = 0; rep < 300; ++rep) {
        SearchRun r = noisy_problem(1000 + rep, pick(0, 60), pick(1, 5));
        r.set_box(-pick(1, 4), pick(1, 4), 0.0, 0.1 * pick(1, 30), 0.5 * pick(0, 4));
        r.maximize = pick(0, 1);
        r.quantile = 0.1 * pick(1, 9);
        r.sweeps = pick(-1, 6);
        r.adjustments = pick(-1, 4);
        r.history_len = pick(-1, 5);
        r.max_evals = pick(-1, 3000);
        r.tolerance = std::ldexp(1.0, -pick(1, 40));
        r.temperature = 0.01 * pick(0, 100);
        r.cooling = 0.1 * pick(1, 9);
        r.seed1 = pick(-40000, 40000);
        r.seed2 = pick(-40000, 40000);
        const std::vector<double> start = r.coef;
        r.run();
        SCOPED_TRACE(rep);
        ASSERT_EQ(r.returned, 0);
        ASSERT_TRUE(r.status == 0 || r.status == 1);
        EXPECT_EQ(r.limit_hit, r.status);
        EXPECT_GE(r.n_evals, 1);
        EXPECT_LE(r.n_evals, std::max(r.max_evals, 2));
        EXPECT_LE(r.n_accepted, r.n_evals - 1);
        EXPECT_GE(r.n_out_of_bounds, 0);
        const double sign = r.maximize ? 1.0 : -1.0;
        EXPECT_TRUE(same_bits(r.best_value, objective_at(r, r.best)));
        EXPECT_GE(sign * r.best_value, sign * objective_at(r, start));
        if (r.status == 0) EXPECT_EQ(r.coef, r.best);
        EXPECT_LE(sign * objective_at(r, r.coef), sign * r.best_value);
        for (size_t i = 0; i < r.best.size(); ++i) {
            EXPECT_TRUE(r.best[i] == start[i] || (r.best[i] >= r.lower[i] && r.best[i] <= r.upper[i]));
            EXPECT_GE(r.step[i], 0.0);
            EXPECT_LE(r.step[i], std::max(r.upper[i] - r.lower[i], 0.1 * 30));
        }
    }
}

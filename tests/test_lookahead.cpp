// The search that evaluates each trial together with the candidates for the
// next one against the search that evaluates one point at a time: every
// output, bit for bit, over thousands of random configurations, degenerate
// ones included (one or two regressors, no observations, pinned
// coefficients, more free coefficients than speculation handles, boxes so
// small that most moves are redrawn, starts outside the box, NaN and
// infinite data, minimising, evaluation limits of 1 to 3, sweeps and
// adjustment cycles of zero or less).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "exact_search.h"
#include "vimor_internal.h"

namespace {

using vimor::Kernel;
using vimor_test::SearchCase;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Restores the search's kernel choice when a test ends.
struct PointsKernelChoice {
    Kernel saved = vimor::active_points_kernel();
    ~PointsKernelChoice() { vimor::select_points_kernel(saved); }
};

double pick(std::mt19937_64 &rng, std::initializer_list<double> values) {
    return values.begin()[rng() % values.size()];
}

SearchCase random_case(std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    SearchCase c;
    // Mostly small; now and then more free coefficients than speculation
    // keeps on the stack.
    const uint64_t shape = rng() % 40;
    c.nreg = shape < 4 ? 1 : shape < 8 ? 2 : shape == 39 ? 66 + static_cast<int32_t>(rng() % 4)
                                                         : 2 + static_cast<int32_t>(rng() % 7);
    c.nobs = rng() % 12 == 0 ? 0 : 1 + static_cast<int32_t>(rng() % 90);
    c.history_len = static_cast<int32_t>(rng() % 6) - 1;
    c.sweeps = rng() % 10 == 0 ? static_cast<int32_t>(rng() % 3) - 1 : 1 + static_cast<int32_t>(rng() % 6);
    c.adjustments =
        rng() % 10 == 0 ? static_cast<int32_t>(rng() % 3) - 1 : 1 + static_cast<int32_t>(rng() % 4);
    c.max_evals = rng() % 6 == 0 ? 1 + static_cast<int32_t>(rng() % 3)
                                 : 10 + static_cast<int32_t>(rng() % 1500);
    c.maximize = rng() % 4 == 0 ? 0 : 1;
    c.seed1 = static_cast<int32_t>(rng() % 40000) - 100;
    c.seed2 = static_cast<int32_t>(rng() % 40000) - 100;
    c.allocate();

    // Data: continuous, integer (exact ties and zero indices), or with
    // special values.
    const uint64_t data = rng() % 8;
    for (size_t i = 0; i < c.response.size; ++i)
        c.response[i] = data == 7 && rng() % 10 == 0 ? pick(rng, {kNaN, kInf, 2.5})
                                                     : static_cast<double>(rng() & 1);
    for (size_t i = 0; i < c.regressors.size; ++i) {
        if (data <= 3) c.regressors[i] = u(rng) * (data == 3 ? 1e6 : 1.0);
        else if (data <= 5) c.regressors[i] = static_cast<double>(static_cast<int>(rng() % 5) - 2);
        else if (rng() % 15 == 0) c.regressors[i] = pick(rng, {kNaN, kInf, -kInf, 0.0, -0.0, 1e300});
        else c.regressors[i] = u(rng);
    }
    c.quantile = rng() % 20 == 0 ? pick(rng, {0.0, 1.0, kNaN}) : std::uniform_real_distribution<double>(0.05, 0.95)(rng);
    c.fixed_coef = pick(rng, {1.0, -1.0, 0.5, rng() % 20 == 0 ? kNaN : 2.0});

    // Settings.
    c.temperature = rng() % 12 == 0 ? pick(rng, {0.0, -0.5, kNaN, kInf}) : std::ldexp(u(rng) + 1.5, -static_cast<int>(rng() % 10));
    c.cooling = std::uniform_real_distribution<double>(0.3, 1.0)(rng);
    c.tolerance = rng() % 10 == 0 ? pick(rng, {-1.0, 0.0, kNaN}) : std::ldexp(1.0, -static_cast<int>(rng() % 30));
    // Boxes: ordinary, tiny (most moves redrawn), pinned, reversed, or with a
    // start outside.
    for (size_t i = 0; i < c.coef.size; ++i) {
        const uint64_t box = rng() % 10;
        double lo = -1.0 - 3.0 * std::fabs(u(rng)), hi = 1.0 + 3.0 * std::fabs(u(rng));
        if (box == 0) hi = lo + 1e-3;
        if (box == 1) hi = lo;
        if (box == 2) std::swap(lo, hi);
        c.lower[i] = lo;
        c.upper[i] = hi;
        c.coef[i] = box == 3 ? hi + 1.0 : box == 4 ? kNaN : lo + (hi - lo) * 0.5 * (u(rng) + 1.0);
        c.step[i] = box == 5 ? 50.0 : (hi - lo) * 0.25 * std::fabs(u(rng) + 1.0);
        c.step_gain[i] = rng() % 10 == 0 ? pick(rng, {0.0, -0.5, kNaN}) : 2.0 * std::fabs(u(rng));
    }
    return c;
}

std::string describe(const SearchCase &c) {
    return "nobs " + std::to_string(c.nobs) + " nreg " + std::to_string(c.nreg) + " sweeps " +
           std::to_string(c.sweeps) + " adjustments " + std::to_string(c.adjustments) +
           " max_evals " + std::to_string(c.max_evals) + " maximize " + std::to_string(c.maximize) +
           " seeds " + std::to_string(c.seed1) + "," + std::to_string(c.seed2);
}

// Runs the case with the plain search and with every several-point kernel
// the processor has; returns how many kernels were compared.
int expect_same_outputs(const SearchCase &start) {
    EXPECT_TRUE(vimor::select_points_kernel(Kernel::scalar));
    SearchCase plain = start;
    plain.run();
    int compared = 0;
    for (Kernel k : {Kernel::sse2, Kernel::avx2, Kernel::avx512}) {
        if (!vimor::select_points_kernel(k)) continue;
        SearchCase fast = start;
        fast.run();
        EXPECT_EQ(fast.outputs(), plain.outputs())
            << vimor::kernel_name(k) << ": " << describe(start);
        ++compared;
    }
    return compared;
}

}  // namespace

TEST(Speculation, SameOutputsAsThePlainSearchOnRandomConfigurations) {
    PointsKernelChoice restore;
    std::mt19937_64 rng(2026);
    int compared = 0;
    for (int rep = 0; rep < 3000; ++rep) compared += expect_same_outputs(random_case(rng)) > 0;
    if (compared == 0) GTEST_SKIP() << "no several-point kernel on this processor";
}

// A problem like the command line's: many observations, a clear optimum,
// long runs that go through every outcome many times.
TEST(Speculation, SameOutputsOnLongRuns) {
    PointsKernelChoice restore;
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal;
    int compared = 0;
    for (int32_t k : {2, 4, 8}) {
        SearchCase c;
        c.nobs = 753;
        c.nreg = k;
        c.sweeps = 20;
        c.adjustments = 5;
        c.max_evals = 20000;
        c.tolerance = 1e-4;
        c.temperature = 0.05;
        c.cooling = 0.9;
        c.allocate();
        for (int32_t i = 0; i < c.nobs; ++i) {
            double index = 0.0;
            for (int32_t j = 0; j < k; ++j) {
                const double x = j == 0 ? 1.0 : normal(rng);
                c.regressors[static_cast<size_t>(j) * c.nobs + i] = x;
                index += x * (j % 2 ? 1.0 : -0.5);
            }
            c.response[i] = index + normal(rng) >= 0.0;
        }
        for (size_t j = 0; j < c.coef.size; ++j) {
            c.lower[j] = -5.0;
            c.upper[j] = 5.0;
            c.step[j] = 2.5;
            c.step_gain[j] = 2.0;
        }
        compared += expect_same_outputs(c);
    }
    if (compared == 0) GTEST_SKIP() << "no several-point kernel on this processor";
}

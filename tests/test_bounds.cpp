// Calls with arrays of exactly the lengths the caller's rules require, over
// many random configurations (run under AddressSanitizer, any access one
// element too far aborts), and runs that can never converge, which must end
// promptly through the limit exit.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "exact_search.h"
#include "vimor.h"
#include "vimor_internal.h"

using vimor_test::Exact;
using vimor_test::SearchCase;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Mostly ordinary values, sometimes a special one, so that NaN and infinite
// inputs reach every branch.
double draw_value(std::mt19937 &rng, double scale) {
    std::uniform_int_distribution<int> pick(0, 19);
    switch (pick(rng)) {
        case 0: return kNaN;
        case 1: return kInf;
        case 2: return -kInf;
        case 3: return 0.0;
        case 4: return -0.0;
        default: return std::uniform_real_distribution<double>(-scale, scale)(rng);
    }
}

int draw_int(std::mt19937 &rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

SearchCase random_case(std::mt19937 &rng) {
    SearchCase c;
    c.nobs = draw_int(rng, 0, 3) == 0 ? 0 : draw_int(rng, 1, 40);
    c.nreg = draw_int(rng, 1, 6);
    c.history_len = draw_int(rng, -2, 6);
    c.allocate();
    for (std::size_t i = 0; i < c.response.size; ++i) c.response[i] = draw_int(rng, 0, 1);
    for (std::size_t i = 0; i < c.regressors.size; ++i)
        c.regressors[i] = draw_int(rng, 0, 30) == 0 ? draw_value(rng, 3.0)
                                                    : std::normal_distribution<double>()(rng);
    c.quantile = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 2.0) : 0.1 * draw_int(rng, 1, 9);
    c.fixed_coef = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 2.0) : 1.0;
    c.maximize = draw_int(rng, 0, 1);
    c.cooling = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 2.0) : 0.8;
    c.tolerance = draw_int(rng, 0, 4) == 0 ? draw_value(rng, 1e-2) : 1e-3;
    c.sweeps = draw_int(rng, -2, 6);
    c.adjustments = draw_int(rng, -1, 4);
    c.max_evals = draw_int(rng, -1, 2000);
    c.seed1 = static_cast<int32_t>(rng());
    c.seed2 = static_cast<int32_t>(rng());
    c.temperature = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 5.0) : 1.0;
    for (std::size_t i = 0; i < c.coef.size; ++i) {
        c.lower[i] = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 5.0) : -5.0;
        c.upper[i] = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 5.0) : 5.0;
        c.coef[i] = draw_value(rng, 5.0);
        c.step[i] = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 5.0) : 1.0;
        c.step_gain[i] = draw_int(rng, 0, 9) == 0 ? draw_value(rng, 5.0) : 2.0;
    }
    return c;
}

// Runs body in a child process and reports whether it exited normally within
// the time limit; a hang or a crash in the library then fails the test instead
// of stalling the suite.
::testing::AssertionResult finishes_within(unsigned seconds, const std::function<bool()> &body) {
    const pid_t pid = fork();
    if (pid < 0) return ::testing::AssertionFailure() << "fork failed";
    if (pid == 0) {
        alarm(seconds);
        _exit(body() ? 0 : 1);
    }
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid) return ::testing::AssertionFailure() << "waitpid failed";
    if (WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGALRM)
        return ::testing::AssertionFailure() << "still running after " << seconds << " s";
    if (WIFSIGNALED(wstatus))
        return ::testing::AssertionFailure() << "killed by signal " << WTERMSIG(wstatus);
    if (WEXITSTATUS(wstatus) != 0)
        return ::testing::AssertionFailure() << "returned with status other than the limit exit";
    return ::testing::AssertionSuccess();
}

}  // namespace

// Every kernel the processor has, on exact-length arrays: vector kernels must
// stop at the last observation and give the plain kernel's bits.
TEST(ExactLengths, ObjectiveReadsOnlyItsArrays) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        SearchCase c = random_case(rng);
        const Exact<double> response = c.response, regressors = c.regressors, coef = c.coef;
        double reference = 0.0;
        for (vimor::Kernel k : {vimor::Kernel::scalar, vimor::Kernel::sse2, vimor::Kernel::avx2,
                                vimor::Kernel::avx512}) {
            if (!vimor::select_kernel(k)) continue;
            double score = 12345.0;
            ASSERT_EQ(_fcna_(c.response.get(), c.regressors.get(), &c.nobs, &c.nreg,
                             c.coef.get(), &score, &c.quantile, &c.fixed_coef),
                      0);
            if (k == vimor::Kernel::scalar) reference = score;
            EXPECT_EQ(0, std::memcmp(&score, &reference, sizeof score))
                << "round " << round << ", kernel " << vimor::kernel_name(k);
            if (c.nobs == 0) EXPECT_EQ(score, 0.0);
        }
        EXPECT_TRUE(c.response.same_bytes(response) && c.regressors.same_bytes(regressors) &&
                    c.coef.same_bytes(coef))
            << "round " << round << ": an input array was written";
    }
    vimor::select_best_kernel();
}

TEST(ExactLengths, SearchKeepsToItsArrays) {
    std::mt19937 rng(77031);
    for (int round = 0; round < 1500; ++round) {
        SearchCase c = random_case(rng);
        const SearchCase before = c;
        ASSERT_EQ(c.run(), 0);
        SCOPED_TRACE(::testing::Message() << "round " << round << " nobs " << c.nobs << " nreg "
                                          << c.nreg << " history_len " << c.history_len);
        ASSERT_TRUE(c.status == 0 || c.status == 1) << c.status;
        EXPECT_EQ(c.limit_hit, c.status);
        EXPECT_GE(c.n_evals, 1);
        EXPECT_LE(c.n_evals, std::max(c.max_evals, 2));
        EXPECT_LE(c.n_accepted, c.n_evals - 1);
        EXPECT_GE(c.n_out_of_bounds, 0);
        // best_value is the objective at best, to the bit.
        const double at_best = c.objective(c.best);
        EXPECT_EQ(0, std::memcmp(&at_best, &c.best_value, sizeof at_best))
            << at_best << " vs " << c.best_value;
        if (c.status == 0) EXPECT_TRUE(c.coef.same_bytes(c.best));
        EXPECT_TRUE(c.response.same_bytes(before.response) &&
                    c.regressors.same_bytes(before.regressors) &&
                    c.lower.same_bytes(before.lower) && c.upper.same_bytes(before.upper) &&
                    c.step_gain.same_bytes(before.step_gain))
            << "an input array was written";
    }
}

TEST(ExactLengths, RepeatedSearchIsIdentical) {
    std::mt19937 rng(5150);
    for (int round = 0; round < 300; ++round) {
        const SearchCase start = random_case(rng);
        SearchCase first = start, other = random_case(rng), second = start;
        first.run();
        other.run();  // a different search in between must not matter
        second.run();
        EXPECT_EQ(first.outputs(), second.outputs()) << "round " << round;
    }
}

// Runs whose stages make no trial, with a tolerance no stage end can meet or
// a start value that is not a number: they cannot converge and must take the
// limit exit after the first stage, having evaluated only the start point.
TEST(Termination, NeverEndingConfigurationsTakeTheLimitExit) {
    struct Shape {
        int32_t nreg, sweeps, adjustments;
    };
    const Shape no_trial[] = {{1, 5, 5}, {1, 0, 0}, {1, -3, 2}, {3, 0, 4}, {3, -2, 4},
                              {3, 5, 0},  {3, 5, -7}, {2, 0, 0}, {6, -1, -1}, {1, 1000, 1000}};
    const double tolerances[] = {-1e-9, -1.0, -kInf, kNaN};
    int checked = 0;
    for (const Shape &shape : no_trial) {
        for (int32_t history_len : {-1, 0, 1, 3, 50}) {
            for (int start_kind = 0; start_kind < 5; ++start_kind) {
                SearchCase c;
                c.nobs = 4;
                c.nreg = shape.nreg;
                c.sweeps = shape.sweeps;
                c.adjustments = shape.adjustments;
                c.history_len = history_len;
                c.allocate();
                for (std::size_t i = 0; i < c.response.size; ++i) c.response[i] = i % 2;
                for (std::size_t i = 0; i < c.regressors.size; ++i) c.regressors[i] = 0.5 - i % 3;
                for (std::size_t i = 0; i < c.coef.size; ++i) {
                    c.lower[i] = -1.0;
                    c.upper[i] = 1.0;
                    c.step[i] = 0.5;
                    c.step_gain[i] = 2.0;
                }
                // Kind 0: a finite start value with each impossible tolerance;
                // kinds 1 to 4: a start value that is not a number (through the
                // regressors, the quantile, the fixed coefficient, the
                // response), with a tolerance any finite value would meet.
                std::vector<double> tols(std::begin(tolerances), std::end(tolerances));
                if (start_kind != 0) tols = {0.5, kInf};
                if (start_kind == 1) c.regressors[0] = kNaN;
                if (start_kind == 2) c.quantile = kNaN;
                if (start_kind == 3) c.fixed_coef = kNaN;
                if (start_kind == 4) c.response[1] = kNaN;
                for (double tol : tols) {
                    c.tolerance = tol;
                    SCOPED_TRACE(::testing::Message()
                                 << "nreg " << c.nreg << " sweeps " << c.sweeps << " adjustments "
                                 << c.adjustments << " history_len " << history_len
                                 << " start kind " << start_kind << " tolerance " << tol);
                    EXPECT_TRUE(finishes_within(20, [c]() mutable {
                        c.limit_hit = 0;
                        return c.run() == 0 && c.status == 1 && c.limit_hit == 1 &&
                               c.n_evals == 1;
                    }));
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 10 * 5 * (4 + 4 * 2));
}

// All regressors 1, the box [-1, 1], steps 0.5 and gains 2 (after allocate()).
static void fill_unit_box(SearchCase &c) {
    for (std::size_t i = 0; i < c.regressors.size; ++i) c.regressors[i] = 1.0;
    for (std::size_t i = 0; i < c.coef.size; ++i) {
        c.lower[i] = -1.0;
        c.upper[i] = 1.0;
        c.step[i] = 0.5;
        c.step_gain[i] = 2.0;
    }
}

// With trials, a start value that is not a number still ends, by the limit.
TEST(Termination, NotANumberStartWithTrialsEndsAtTheLimit) {
    SearchCase c;
    c.nobs = 4;
    c.nreg = 3;
    c.max_evals = 500;
    c.allocate();
    fill_unit_box(c);
    c.response[0] = kNaN;
    EXPECT_TRUE(finishes_within(20, [c]() mutable {
        return c.run() == 0 && c.status == 1 && c.limit_hit == 1 && c.n_evals == 500;
    }));
}

// Stages without trials must not count through their empty sweeps and
// cycles one by one: with nreg == 1 that was sweeps * adjustments iterations
// (2^62 here), with sweeps <= 0 adjustments * (nreg - 1) step updates.
TEST(Termination, HugeCountsWithoutTrialsEndPromptly) {
    const int32_t big = std::numeric_limits<int32_t>::max();
    struct Shape {
        int32_t nreg, sweeps, adjustments;
    };
    for (const Shape &shape : {Shape{1, big, big}, Shape{6, 0, big}, Shape{6, -1, big}}) {
        SearchCase c;
        c.nobs = 2;
        c.nreg = shape.nreg;
        c.sweeps = shape.sweeps;
        c.adjustments = shape.adjustments;
        c.tolerance = -1.0;
        c.allocate();
        fill_unit_box(c);
        EXPECT_TRUE(finishes_within(5, [c]() mutable { return c.run() == 0 && c.status == 1; }))
            << "nreg " << shape.nreg << " sweeps " << shape.sweeps << " adjustments "
            << shape.adjustments;
    }
}

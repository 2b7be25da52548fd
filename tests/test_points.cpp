// The several-point kernels against the plain objective, bit for bit: a trial
// point and two neighbours that differ from it in a few coefficients, on
// random data of many shapes, on data whose indices are exactly zero or a
// rounding error away from it (where the kernels' sign test must give way
// to the exact index), on subnormal and huge values, and on values the
// kernels must decline.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "vimor_internal.h"

namespace {

using vimor::Kernel;

const Kernel kKernels[] = {Kernel::sse2, Kernel::avx2, Kernel::avx512};

uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

struct Case {
    int32_t nobs = 0, nreg = 2;
    std::vector<double> y, x;  // x column-major
    std::vector<double> point[vimor::kPoints];
    double quantile = 0.5, fixed_coef = 1.0;

    Case(int32_t n, int32_t k) : nobs(n), nreg(k), y(n), x(static_cast<size_t>(n) * k) {
        for (auto &p : point) p.assign(static_cast<size_t>(k - 1), 0.0);
    }
    double &at(int32_t i, int32_t j) { return x[static_cast<size_t>(j) * nobs + i]; }

    // The largest |x_ij| of each column, NaN when the column has a NaN.
    std::vector<double> column_max() const {
        std::vector<double> m(nreg, 0.0);
        for (int32_t j = 0; j < nreg; ++j)
            for (int32_t i = 0; i < nobs; ++i) {
                const double v = std::fabs(x[static_cast<size_t>(j) * nobs + i]);
                if (v != v || m[j] != m[j]) m[j] = std::numeric_limits<double>::quiet_NaN();
                else m[j] = std::fmax(m[j], v);
            }
        return m;
    }
    double plain(int p) const {
        return vimor::objective_scalar(y.data(), x.data(), nobs, nreg, point[p].data(), quantile,
                                       fixed_coef);
    }
    // Runs kernel k; false when it declined.
    bool run(vimor::PointsKernel kernel, double *scores) const {
        const std::vector<double> m = column_max();
        const double *coef[vimor::kPoints];
        for (int p = 0; p < vimor::kPoints; ++p) coef[p] = point[p].data();
        return kernel(y.data(), x.data(), nobs, nreg, m.data(), coef, quantile, fixed_coef,
                      scores);
    }
};

// Every available kernel gives the plain scores (a NaN for a NaN); returns
// how many kernels accepted the case.
int expect_plain_scores(const Case &c, const char *what) {
    int accepted = 0;
    for (Kernel k : kKernels) {
        const vimor::PointsKernel kernel = vimor::points_kernel(k);
        if (!kernel) continue;
        double scores[vimor::kPoints];
        if (!c.run(kernel, scores)) continue;
        ++accepted;
        for (int p = 0; p < vimor::kPoints; ++p) {
            const double want = c.plain(p);
            if (want != want) {
                EXPECT_NE(scores[p], scores[p]) << what << " kernel " << vimor::kernel_name(k);
            } else {
                EXPECT_EQ(bits(scores[p]), bits(want))
                    << what << ": kernel " << vimor::kernel_name(k) << " point " << p << " N="
                    << c.nobs << " K=" << c.nreg << " want " << want << " got " << scores[p];
            }
        }
    }
    return accepted;
}

bool any_kernel() {
    for (Kernel k : kKernels)
        if (vimor::points_kernel(k)) return true;
    return false;
}

// Neighbours that differ from the trial point in `moved` random coefficients.
void move_neighbours(Case &c, std::mt19937_64 &rng, int moved, double scale) {
    std::uniform_real_distribution<double> u(-scale, scale);
    const int32_t nfree = c.nreg - 1;
    for (int p = 1; p < vimor::kPoints; ++p) {
        c.point[p] = c.point[0];
        for (int m = 0; m < moved && nfree > 0; ++m)
            c.point[p][rng() % static_cast<uint64_t>(nfree)] += u(rng);
    }
}

}  // namespace

TEST(PointsKernels, RandomShapesMatchThePlainObjective) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    std::mt19937_64 rng(41);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    int accepted = 0;
    for (int rep = 0; rep < 600; ++rep) {
        const int32_t n = static_cast<int32_t>(rng() % 70);
        const int32_t k = 1 + static_cast<int32_t>(rng() % 9);
        Case c(n, k);
        for (auto &v : c.y) v = static_cast<double>(rng() & 1);
        for (auto &v : c.x) v = u(rng) * std::ldexp(1.0, static_cast<int>(rng() % 20) - 10);
        for (auto &v : c.point[0]) v = u(rng) * 3.0;
        c.quantile = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        c.fixed_coef = rng() & 1 ? 1.0 : -0.75;
        move_neighbours(c, rng, static_cast<int>(rng() % (vimor::kMaxMoved + 1)), 0.5);
        accepted += expect_plain_scores(c, "random") > 0;
    }
    EXPECT_GT(accepted, 500);
}

// Integer data and coefficients: many indices are exactly zero for the
// neighbours while the trial point's are not, so the estimates sit on zero
// and the exact path must decide (a zero index counts as positive).
TEST(PointsKernels, ExactZeroIndicesGoThroughTheExactPath) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    std::mt19937_64 rng(43);
    for (int rep = 0; rep < 200; ++rep) {
        const int32_t n = 8 + static_cast<int32_t>(rng() % 40);
        const int32_t k = 2 + static_cast<int32_t>(rng() % 5);
        Case c(n, k);
        for (auto &v : c.y) v = static_cast<double>(rng() & 1);
        for (auto &v : c.x) v = static_cast<double>(static_cast<int>(rng() % 5) - 2);
        for (auto &v : c.point[0]) v = static_cast<double>(static_cast<int>(rng() % 5) - 2) + 0.5;
        c.fixed_coef = 1.0;
        for (int p = 1; p < vimor::kPoints; ++p) {
            c.point[p] = c.point[0];
            c.point[p][rng() % static_cast<uint64_t>(k - 1)] =
                static_cast<double>(static_cast<int>(rng() % 5) - 2);
        }
        EXPECT_GT(expect_plain_scores(c, "integer"), 0);
    }
}

// Indices a few units in the last place from zero: each row is built so that
// a neighbour's index nearly cancels, so its rounded index may have either
// sign, or be zero, depending on the order of the additions.
TEST(PointsKernels, NearlyCancellingIndices) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    std::mt19937_64 rng(47);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int rep = 0; rep < 200; ++rep) {
        const int32_t n = 16 + static_cast<int32_t>(rng() % 30);
        const int32_t k = 3 + static_cast<int32_t>(rng() % 4);
        Case c(n, k);
        for (auto &v : c.point[0]) v = u(rng);
        move_neighbours(c, rng, 1 + static_cast<int>(rng() % 2), 0.3);
        const std::vector<double> &q = c.point[1 + rng() % 2];
        for (int32_t i = 0; i < n; ++i) {
            c.y[i] = static_cast<double>(rng() & 1);
            double partial = 0.0;
            for (int32_t j = 0; j < k - 1; ++j) {
                c.at(i, j) = u(rng) * 1e3;
                partial = c.at(i, j) * q[j] + partial;
            }
            // The last column cancels the partial index of neighbour q up to
            // a few ulps (or exactly).
            const double nudge = std::ldexp(static_cast<double>(static_cast<int>(rng() % 9) - 4),
                                            std::ilogb(partial == 0.0 ? 1.0 : partial) - 52);
            c.at(i, k - 1) = -(partial + nudge);
        }
        EXPECT_GT(expect_plain_scores(c, "cancelling"), 0);
    }
}

TEST(PointsKernels, SubnormalAndLargeValues) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    std::mt19937_64 rng(53);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int scale : {-1074, -1060, -1000, -600, 400, 850}) {
        for (int rep = 0; rep < 20; ++rep) {
            Case c(37, 4);
            for (auto &v : c.y) v = static_cast<double>(rng() & 1);
            for (auto &v : c.x) v = std::ldexp(u(rng), scale);
            for (auto &v : c.point[0]) v = u(rng);
            move_neighbours(c, rng, 2, 0.5);
            expect_plain_scores(c, "scaled");
        }
    }
}

TEST(PointsKernels, DeclineWhatTheSignTestCannotBound) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Kernel k : kKernels) {
        const vimor::PointsKernel kernel = vimor::points_kernel(k);
        if (!kernel) continue;
        Case base(10, 3);
        for (int32_t i = 0; i < 10; ++i) {
            base.y[i] = i & 1;
            for (int32_t j = 0; j < 3; ++j) base.at(i, j) = 0.1 * (i + j) - 0.4;
        }
        double scores[vimor::kPoints];
        EXPECT_TRUE(base.run(kernel, scores));
        Case c = base;
        c.at(3, 1) = nan;
        EXPECT_FALSE(c.run(kernel, scores)) << "NaN regressor";
        c = base;
        c.at(5, 2) = inf;
        EXPECT_FALSE(c.run(kernel, scores)) << "infinite regressor";
        c = base;
        c.point[2][1] = inf;
        EXPECT_FALSE(c.run(kernel, scores)) << "infinite coefficient";
        c = base;
        c.fixed_coef = std::ldexp(1.0, 1000);
        EXPECT_FALSE(c.run(kernel, scores)) << "huge fixed coefficient";
        c = base;
        c.point[0][0] = std::ldexp(1.0, 1000);
        EXPECT_FALSE(c.run(kernel, scores)) << "huge coefficient";
    }
}

// A neighbour that differs in more coefficients than the kernels track is
// declined; up to that many, it is handled.
TEST(PointsKernels, NeighboursMovedInManyCoefficients) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    const int32_t k = vimor::kMaxMoved + 3;
    Case c(21, k);
    for (int32_t i = 0; i < 21; ++i) {
        c.y[i] = (i * 7) % 3 == 0;
        for (int32_t j = 0; j < k; ++j) c.at(i, j) = std::sin(1.0 + i * k + j);
    }
    for (int moved = 0; moved <= vimor::kMaxMoved + 1; ++moved) {
        for (int p = 1; p < vimor::kPoints; ++p) {
            c.point[p] = c.point[0];
            for (int j = 0; j < moved; ++j) c.point[p][j] += 0.125 * (p + j);
        }
        for (Kernel kind : kKernels) {
            const vimor::PointsKernel kernel = vimor::points_kernel(kind);
            if (!kernel) continue;
            double scores[vimor::kPoints];
            EXPECT_EQ(c.run(kernel, scores), moved <= vimor::kMaxMoved) << moved;
        }
        expect_plain_scores(c, "moved");
    }
}

// Response values that make a term NaN or infinite come out as a NaN score
// where the plain objective's is NaN, and as the same infinity otherwise.
TEST(PointsKernels, NonFiniteResponses) {
    if (!any_kernel()) GTEST_SKIP() << "no several-point kernel on this processor";
    std::mt19937_64 rng(59);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double specials[] = {std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 1e308};
    for (int rep = 0; rep < 60; ++rep) {
        Case c(19, 3);
        for (auto &v : c.y) v = static_cast<double>(rng() & 1);
        for (auto &v : c.x) v = u(rng);
        for (auto &v : c.point[0]) v = u(rng);
        move_neighbours(c, rng, 1, 0.5);
        c.y[rng() % 19] = specials[rng() % 4];
        if (rng() & 1) c.y[rng() % 19] = specials[rng() % 4];
        expect_plain_scores(c, "response");
    }
}

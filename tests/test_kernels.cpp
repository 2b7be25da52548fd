// Every compiled objective kernel against the plain one, bit for bit: random
// data of many shapes, lengths that are not a multiple of any vector width,
// exact zeros of both signs, ties, infinities, NaNs with distinct payloads and
// signs, subnormals, and arrays that start off a 64-byte boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "vimor.h"
#include "vimor_internal.h"

namespace {

using vimor::Kernel;

const Kernel kVectorKernels[] = {Kernel::sse2, Kernel::avx2, Kernel::avx512};

uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double from_bits(uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// Quiet NaNs told apart by sign and payload, so a kernel that propagates the
// wrong operand, or flips a sign instead of multiplying by -1, is caught.
double nan_with(uint64_t payload, bool negative) {
    return from_bits((negative ? 0xfff8000000000000u : 0x7ff8000000000000u) | (payload & 0xffff));
}

// Doubles on which the sign and the sum are easy to get wrong.
double special(std::mt19937_64 &rng) {
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    switch (rng() % 12) {
    case 0: return 0.0;
    case 1: return -0.0;
    case 2: return inf;
    case 3: return -inf;
    case 4: return nan_with(rng(), rng() & 1);
    case 5: return tiny * static_cast<double>(rng() % 1000);           // subnormal
    case 6: return -tiny * static_cast<double>(rng() % 1000);
    case 7: return std::numeric_limits<double>::min() * 0.5;            // subnormal
    case 8: return std::numeric_limits<double>::max();
    case 9: return 1.0;
    case 10: return -1.0;
    default: return std::ldexp(1.0, static_cast<int>(rng() % 64) - 32);
    }
}

// A data set laid out in arrays that start `offset` doubles after a 64-byte
// boundary.
struct Data {
    int32_t nobs = 0;
    int32_t nreg = 1;
    std::vector<double> storage_y, storage_x;
    double *y = nullptr;
    double *x = nullptr;
    std::vector<double> coef;
    double quantile = 0.5;
    double fixed_coef = 1.0;

    Data(int32_t n, int32_t k, size_t offset) : nobs(n), nreg(k) {
        storage_y.assign(static_cast<size_t>(n) + 16, 0.0);
        storage_x.assign(static_cast<size_t>(n) * k + 16, 0.0);
        y = aligned(storage_y) + offset;
        x = aligned(storage_x) + offset;
        coef.assign(k > 1 ? k - 1 : 1, 0.0);
    }
    static double *aligned(std::vector<double> &v) {
        uintptr_t p = reinterpret_cast<uintptr_t>(v.data());
        return v.data() + ((64 - p % 64) % 64) / sizeof(double);
    }
    double at(int32_t i, int32_t j) const { return x[static_cast<size_t>(j) * nobs + i]; }
    double &at(int32_t i, int32_t j) { return x[static_cast<size_t>(j) * nobs + i]; }
};

double run(vimor::ObjectiveKernel kernel, const Data &d) {
    return kernel(d.y, d.x, d.nobs, d.nreg, d.coef.data(), d.quantile, d.fixed_coef);
}

std::string describe(Kernel k, const Data &d, double want, double got) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "kernel %s, N=%d K=%d: scalar %a (%016llx), kernel %a (%016llx)",
                  vimor::kernel_name(k), d.nobs, d.nreg, want,
                  static_cast<unsigned long long>(bits(want)), got,
                  static_cast<unsigned long long>(bits(got)));
    return buf;
}

// Compares every kernel the processor has with the plain one; returns how
// many were compared.
int expect_all_kernels_match(const Data &d) {
    const double want = run(vimor::objective_scalar, d);
    int compared = 0;
    for (Kernel k : kVectorKernels) {
        vimor::ObjectiveKernel kernel = vimor::objective_kernel(k);
        if (!kernel) continue;
        const double got = run(kernel, d);
        EXPECT_EQ(bits(got), bits(want)) << describe(k, d, want, got);
        ++compared;
    }
    return compared;
}

void fill_random(Data &d, std::mt19937_64 &rng, double special_share) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::bernoulli_distribution is_special(special_share);
    for (int32_t i = 0; i < d.nobs; ++i) {
        d.y[i] = is_special(rng) ? special(rng) : static_cast<double>(rng() & 1);
        for (int32_t j = 0; j < d.nreg; ++j) d.at(i, j) = is_special(rng) ? special(rng) : u(rng);
    }
    for (double &c : d.coef) c = is_special(rng) ? special(rng) : u(rng);
    d.quantile = is_special(rng) ? special(rng) : std::uniform_real_distribution<double>(0, 1)(rng);
    d.fixed_coef = is_special(rng) ? special(rng) : (rng() & 1 ? 1.0 : -1.0);
}

int available_vector_kernels() {
    int n = 0;
    for (Kernel k : kVectorKernels) n += vimor::objective_kernel(k) != nullptr;
    return n;
}

}  // namespace

TEST(Kernels, ScalarAlwaysAvailable) {
    EXPECT_EQ(vimor::objective_kernel(Kernel::scalar), &vimor::objective_scalar);
    EXPECT_STREQ(vimor::kernel_name(Kernel::scalar), "scalar");
}

TEST(Kernels, DispatchPicksAnAvailableKernelByRegressorCount) {
    // The library reads cpuid itself; the compiler's own CPU model is an
    // independent witness of what the processor and the system support. With
    // AVX-512, AVX2 serves fewer than 8 regressors on AMD family 19h (Zen 4)
    // and on others alike, measured on each (see best_kernel).
    bool avx512 = false, avx2 = false;
    int32_t avx512_from = 0;
#if defined(__x86_64__) && !defined(VIMOR_FORCE_SCALAR)
    avx512 = __builtin_cpu_supports("avx512f");
    avx2 = __builtin_cpu_supports("avx2");
    avx512_from = 8;
    EXPECT_NE(vimor::objective_kernel(Kernel::sse2), nullptr);  // part of x86-64
    EXPECT_EQ(vimor::objective_kernel(Kernel::avx2) != nullptr, avx2);
    EXPECT_EQ(vimor::objective_kernel(Kernel::avx512) != nullptr, avx512);
#endif
    for (int32_t nreg : {1, 2, 3, 4, 7, 8, 9, 10, 1000}) {
        Kernel expected = Kernel::scalar;
#if defined(__x86_64__) && !defined(VIMOR_FORCE_SCALAR)
        expected = avx512 && (nreg >= avx512_from || !avx2) ? Kernel::avx512
                   : avx2                                   ? Kernel::avx2
                                                            : Kernel::sse2;
#endif
        EXPECT_EQ(vimor::best_kernel(nreg), expected) << "nreg " << nreg;
        EXPECT_EQ(vimor::active_kernel(nreg), expected) << "nreg " << nreg;
    }
    // A chosen kernel serves every regressor count until the choice is undone.
    ASSERT_TRUE(vimor::select_kernel(Kernel::scalar));
    for (int32_t nreg : {1, 2, 8, 10}) EXPECT_EQ(vimor::active_kernel(nreg), Kernel::scalar);
    vimor::select_best_kernel();
    for (int32_t nreg : {1, 2, 8, 10}) EXPECT_EQ(vimor::active_kernel(nreg), vimor::best_kernel(nreg));
}

TEST(Kernels, SearchEvaluatesSeveralPointsWhereAPassPays) {
    // The compiler's CPU model as the independent witness: the AVX2
    // several-point kernel wherever AVX2 is, except on Intel cores with
    // AVX-VNNI (Golden Cove and later, whose 2-cycle additions make a pass
    // cost more than the trials it serves).
    bool avx2 = false, two_cycle_intel = false;
#if defined(__x86_64__) && !defined(VIMOR_FORCE_SCALAR)
    avx2 = __builtin_cpu_supports("avx2");
    two_cycle_intel = __builtin_cpu_is("intel") && __builtin_cpu_supports("avxvnni");
#endif
    EXPECT_EQ(vimor::preferred_points_kernel(),
              avx2 && !two_cycle_intel ? Kernel::avx2 : Kernel::scalar);
}

TEST(Kernels, ExportUsesTheSelectedKernel) {
    // Through the export, each selectable kernel gives the plain kernel's bits.
    std::mt19937_64 rng(7);
    Data d(37, 3, 1);
    fill_random(d, rng, 0.0);
    const double want = run(vimor::objective_scalar, d);
    for (Kernel k : {Kernel::scalar, Kernel::sse2, Kernel::avx2, Kernel::avx512}) {
        if (!vimor::select_kernel(k)) {
            EXPECT_EQ(vimor::objective_kernel(k), nullptr);
            EXPECT_NE(vimor::active_kernel(d.nreg), k);
            continue;
        }
        EXPECT_EQ(vimor::active_kernel(d.nreg), k);
        double score = 0;
        _fcna_(d.y, d.x, &d.nobs, &d.nreg, d.coef.data(), &score, &d.quantile, &d.fixed_coef);
        EXPECT_EQ(bits(score), bits(want)) << vimor::kernel_name(k);
    }
    vimor::select_best_kernel();
}

TEST(Kernels, RandomShapesAllOffsets) {
    std::mt19937_64 rng(20261208);
    int compared = 0;
    for (int32_t n = 0; n <= 100; ++n)
        for (int32_t k = 1; k <= 12; ++k) {
            Data d(n, k, static_cast<size_t>(rng() % 8));
            fill_random(d, rng, 0.0);
            compared += expect_all_kernels_match(d);
        }
    EXPECT_EQ(compared, 101 * 12 * available_vector_kernels());
}

TEST(Kernels, LargeShapes) {
    std::mt19937_64 rng(99);
    for (int32_t n : {1000, 4099, 65537})
        for (int32_t k : {1, 2, 4, 10}) {
            Data d(n, k, 1);
            fill_random(d, rng, 0.0);
            expect_all_kernels_match(d);
        }
}

TEST(Kernels, SpecialValuesEverywhere) {
    // Infinities, NaNs of both signs and many payloads, zeros of both signs
    // and subnormals in the responses, regressors, coefficients, quantile and
    // fixed coefficient. Some shares are low so a NaN appears mid-sum.
    std::mt19937_64 rng(12345);
    for (double share : {0.002, 0.02, 0.1, 0.4})
        for (int round = 0; round < 40; ++round) {
            const int32_t n = static_cast<int32_t>(rng() % 150);
            const int32_t k = 1 + static_cast<int32_t>(rng() % 12);
            Data d(n, k, static_cast<size_t>(rng() % 8));
            fill_random(d, rng, share);
            expect_all_kernels_match(d);
        }
}

TEST(Kernels, ExactZeroIndicesAndTies) {
    // Indices that cancel exactly (x*c + (-x*c) = +0) count as +1; responses
    // equal to 1 - alpha give terms of zero; repeated rows give tied indices.
    std::mt19937_64 rng(5);
    for (int32_t n : {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 64, 65, 99}) {
        Data d(n, 3, 1);
        d.coef = {0.75, -0.75};
        d.fixed_coef = 0.0;
        d.quantile = 0.5;
        for (int32_t i = 0; i < n; ++i) {
            const double v = (i % 3 == 0) ? 0.0 : (i % 3 == 1 ? -0.0 : std::ldexp(1.0, i % 7));
            d.at(i, 0) = v;
            d.at(i, 1) = (i % 4 == 0) ? v : -v;  // equal columns cancel to zero
            d.at(i, 2) = (i % 5 == 0) ? -0.0 : 1.0;
            d.y[i] = (i % 6 == 0) ? 0.5 : static_cast<double>(rng() & 1);
        }
        expect_all_kernels_match(d);
        d.fixed_coef = -0.0;
        expect_all_kernels_match(d);
        d.quantile = 0.25;  // no zero terms
        expect_all_kernels_match(d);
    }
}

TEST(Kernels, NaNSignsAndPayloads) {
    // One NaN source per case and pairs of NaNs that meet in one operation:
    // in a response, a regressor, a coefficient, the fixed coefficient, the
    // quantile, and an index made NaN by inf - inf or 0 * inf.
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937_64 rng(77);
    for (int32_t n : {1, 3, 8, 13, 24}) {
        for (int c = 0; c < 64; ++c) {
            Data d(n, 3, 1 + c % 7);
            fill_random(d, rng, 0.0);
            const int32_t i = static_cast<int32_t>(rng() % n);
            const bool neg = c & 1;
            switch ((c >> 1) % 8) {
            case 0: d.y[i] = nan_with(0x1234, neg); break;
            case 1: d.at(i, 0) = nan_with(0x0f0f, neg); break;
            case 2: d.coef[1] = nan_with(0x00aa, neg); break;
            case 3: d.fixed_coef = nan_with(0x5555, neg); break;
            case 4: d.quantile = nan_with(0x0077, neg); break;
            case 5: d.at(i, 0) = inf; d.at(i, 1) = neg ? inf : -inf; d.coef = {1.0, 1.0}; break;
            case 6: d.at(i, 2) = 0.0; d.fixed_coef = neg ? -inf : inf; break;
            case 7:  // NaN response and NaN index in the same observation
                d.y[i] = nan_with(0x0001, neg);
                d.at(i, 1) = nan_with(0x0002, !neg);
                d.at((i + 1) % n, 2) = nan_with(0x0003, neg);
                d.y[(i + 2) % n] = nan_with(0x0004, !neg);
                break;
            }
            if (c >= 32) d.at(i, 0) = nan_with(0x0009, !neg), d.coef[0] = nan_with(0x000a, neg);
            expect_all_kernels_match(d);
        }
    }
}

TEST(Kernels, NegativeIndexFlipsAFiniteTermOnly) {
    // Worked example checked by hand: indices -1 and +1, alpha 0.5, N 2,
    // responses 1 and 0: terms (0.5 * 0.5) * -1 and (0.5 * -0.5) * 1.
    Data d(2, 1, 1);
    d.y[0] = 1.0, d.y[1] = 0.0;
    d.x[0] = -1.0, d.x[1] = 1.0;
    for (Kernel k : {Kernel::scalar, Kernel::sse2, Kernel::avx2, Kernel::avx512}) {
        vimor::ObjectiveKernel kernel = vimor::objective_kernel(k);
        if (kernel) EXPECT_EQ(run(kernel, d), -0.5) << vimor::kernel_name(k);
    }
}

TEST(Kernels, NaNRuleByHand) {
    // The NaN a NaN score takes, derived by hand from the rule in objective.cpp.
    // One observation, K = 2, alpha = 0.5, so the term's own value is 0.5 * (y - 0.5).
    const double inf = std::numeric_limits<double>::infinity();
    auto score = [](double y, double x0, double x1, double c, double fixed, double q) {
        Data d(1, 2, 1);
        d.y[0] = y, d.at(0, 0) = x0, d.at(0, 1) = x1, d.coef = {c};
        d.fixed_coef = fixed, d.quantile = q;
        const double s = run(vimor::objective_scalar, d);
        EXPECT_EQ(bits(s), bits(run(vimor::objective_nan, d)));
        return bits(s);
    };
    const double A = nan_with(0xa, false), B = nan_with(0xb, true);
    // A NaN response with a positive index passes on unchanged; a negative
    // index flips its sign (negation, not a multiplication by -1).
    EXPECT_EQ(score(A, 1, 1, 1, 1, 0.5), bits(A));
    EXPECT_EQ(score(A, -1, -1, 1, 1, 0.5), bits(A) ^ 0x8000000000000000u);
    // NaN index, finite term: the index's NaN; the regressor's NaN before the
    // coefficient's, the partial index's before the next product's.
    EXPECT_EQ(score(1, A, 1, B, 1, 0.5), bits(A));
    EXPECT_EQ(score(1, 1, 1, B, 1, 0.5), bits(B));
    EXPECT_EQ(score(1, A, B, 1, 1, 0.5), bits(A));
    // NaN index and NaN term: the term's NaN.
    EXPECT_EQ(score(B, A, 1, 1, 1, 0.5), bits(B));
    // The response's NaN before 1 - alpha's.
    EXPECT_EQ(score(A, 1, 1, 1, 1, B), bits(A));
    EXPECT_EQ(score(1, 1, 1, 1, 1, B), bits(B));
    // A signalling NaN comes out quiet.
    EXPECT_EQ(score(from_bits(0x7ff0000000000005u), 1, 1, 1, 1, 0.5), 0x7ff8000000000005u);
    // inf - inf in the index: the processor's default NaN, sign included.
    volatile double vinf = inf;  // computed at run time, not folded by the compiler
    const double dflt = vinf - vinf;
    EXPECT_EQ(score(1, inf, -inf, 1, 1, 0.5), bits(dflt));
}

TEST(Kernels, FirstNaNTermWins) {
    // The running score keeps the first NaN it meets: with NaN responses at
    // observations 5 and 9, the score is the one at 5, whatever the width.
    for (int32_t n : {12, 17, 40}) {
        Data d(n, 1, 3);
        for (int32_t i = 0; i < n; ++i) d.y[i] = i & 1, d.x[i] = 1.0;
        d.y[5] = nan_with(0x5, true);
        d.y[9] = nan_with(0x9, false);
        EXPECT_EQ(bits(run(vimor::objective_scalar, d)), bits(d.y[5]));
        expect_all_kernels_match(d);
    }
}

// Certificates. The certified maximum is checked against an enumeration that
// shares nothing with the branch and bound: along a line, each observation's
// sign under the module's own index changes at one double, found by halving,
// and `_fcna_` is evaluated at every such point; in the plane, along vertical
// lines through every vertex of the arrangement and between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "fit/src/certify.h"
#include "fit/src/error.h"
#include "fit_test.h"

using vimor_fit::certify;
using vimor_fit::Certificate;
using vimor_fit::CertifyOptions;
using vimor_fit::Module;
using vimor_fit::Problem;

namespace {

const Module kModule{_fcna_, _saa_};

using fit_test::fcna;
Problem view(const fit_test::Data &d) { return fit_test::core_view(d); }

std::int64_t ord(double x) {
    std::int64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b >= 0 ? b : -(b & std::numeric_limits<std::int64_t>::max());
}
double unord(std::int64_t k) {
    const std::int64_t b = k >= 0 ? k : (-k | std::numeric_limits<std::int64_t>::min());
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

struct Best {
    double value;
    std::vector<double> point;
};

// The extreme of `_fcna_` along coordinate j over [lo, hi], the others at b:
// the signs are constant from each change point to the next.
Best best_on_line(const Problem &p, double quantile, std::vector<double> b, std::int32_t j,
                  double lo, double hi, bool maximize) {
    std::vector<double> points = {lo};
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const auto sign = [&](std::int64_t k) {
            b[j] = unord(k);
            return vimor_fit::observation_index(p, b.data(), i) >= 0.0;
        };
        std::int64_t l = ord(lo), h = ord(hi);
        const bool first = sign(l);
        if (sign(h) == first) continue;
        while (std::uint64_t(h) - std::uint64_t(l) > 1) {
            const std::int64_t mid = (l >> 1) + (h >> 1) + (l & h & 1);
            (sign(mid) == first ? l : h) = mid;
        }
        points.push_back(unord(h));
    }
    Best best{maximize ? -INFINITY : INFINITY, {}};
    for (const double t : points) {
        b[j] = t;
        const double v = fcna(p, quantile, b);
        if (maximize ? v > best.value : v < best.value) best = {v, b};
    }
    return best;
}

// Two free coefficients: every cell of the line arrangement meets a vertical
// line at a vertex (or an end of a line in the box), just beside one, or
// midway between two neighbouring ones; the cells rounding makes near a
// vertex, a vertical line a small power of 2 beside it.
Best best_on_plane(const Problem &p, double quantile, const std::vector<double> &lo,
                   const std::vector<double> &hi, bool maximize) {
    const double f = p.fixed_coef;
    const auto x = [&](std::int32_t i, std::int32_t j) { return p.column(j)[i]; };
    std::vector<double> at = {lo[0], hi[0]};
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        if (x(i, 0) != 0.0) {
            for (const double b2 : {lo[1], hi[1]}) at.push_back(-(x(i, 2) * f + x(i, 1) * b2) / x(i, 0));
        }
        for (std::int32_t k = i + 1; k < p.nobs; ++k) {
            const double det = x(i, 0) * x(k, 1) - x(k, 0) * x(i, 1);
            if (det != 0.0) at.push_back((-x(i, 2) * f * x(k, 1) + x(k, 2) * f * x(i, 1)) / det);
        }
    }
    std::vector<double> lines;
    for (const double a : at) {
        if (!(a >= lo[0] && a <= hi[0])) continue;
        double down = a, up = a;
        lines.push_back(a);
        for (int s = 0; s < 2; ++s) {
            down = std::nextafter(down, -INFINITY);
            up = std::nextafter(up, INFINITY);
            lines.push_back(std::max(down, lo[0]));
            lines.push_back(std::min(up, hi[0]));
        }
        // The module's sums round: near a vertex, a term below half an ulp of
        // the others is absorbed, and signs the exact lines never give meet.
        for (int e = 42; e <= 60; ++e) {
            lines.push_back(std::max(a - std::ldexp(1.0, -e), lo[0]));
            lines.push_back(std::min(a + std::ldexp(1.0, -e), hi[0]));
        }
    }
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (std::size_t m = 0, n = lines.size(); m + 1 < n; ++m)
        lines.push_back(0.5 * lines[m] + 0.5 * lines[m + 1]);
    Best best{maximize ? -INFINITY : INFINITY, {}};
    for (const double b1 : lines) {
        const Best on = best_on_line(p, quantile, {b1, 0.0}, 1, lo[1], hi[1], maximize);
        if (maximize ? on.value > best.value : on.value < best.value) best = on;
    }
    return best;
}

// Integer regressors from a few values (many rows alike, many ties), y
// from a noisy latent index.
fit_test::Data integer_problem(std::int32_t n, std::int32_t k, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> small(-3, 3);
    std::normal_distribution<double> noise;
    fit_test::Data d(n, k);
    for (std::int32_t i = 0; i < n; ++i) {
        double latent = noise(rng);
        for (std::int32_t j = 0; j < k; ++j) {
            const double v = (j == 0 && k == 3) ? 1.0 : double(small(rng));
            d.x[std::size_t(j) * n + i] = v;
            latent += (j + 1 == k ? 1.0 : 0.7) * v;
        }
        d.y[i] = latent >= 0.3 ? 1.0 : 0.0;
    }
    return d;
}

// What every certificate promises about its own point.
void expect_consistent(const Problem &p, double quantile, const Certificate &c) {
    EXPECT_EQ(c.value, fcna(p, quantile, c.point));
    EXPECT_EQ(c.correct, vimor_fit::correctly_classified(p, c.point.data()));
    EXPECT_GE(c.nodes, 1);
}

TEST(Certify, OneFreeCoefficientMatchesEnumeration) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const fit_test::Data d = integer_problem(24 + 3 * seed, 2, seed);
        const Problem p = view(d);
        for (const double quantile : {0.5, 0.3}) {
            for (const bool maximize : {true, false}) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " quantile " << quantile
                                                << " maximize " << maximize);
                const std::vector<double> lo = {-5.0}, hi = {4.0}, start = {0.0};
                const Best truth = best_on_line(p, quantile, start, 0, lo[0], hi[0], maximize);
                CertifyOptions o;
                o.maximize = maximize;
                const Certificate c = certify(kModule, p, quantile, lo.data(), hi.data(),
                                              start.data(), o);
                ASSERT_TRUE(c.optimal);
                expect_consistent(p, quantile, c);
                EXPECT_NEAR(c.value, truth.value, 1e-12);
                EXPECT_EQ(c.upper_bound, c.value);
                EXPECT_EQ(c.improved, maximize ? c.value > fcna(p, quantile, start) + 1e-12
                                               : c.value < fcna(p, quantile, start) - 1e-12);
            }
        }
    }
}

TEST(Certify, TwoFreeCoefficientsMatchEnumeration) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        fit_test::Data d = integer_problem(20 + 4 * seed, 3, 100 + seed);
        d.fixed = seed % 2 ? 1.0 : -1.0;
        const Problem p = view(d);
        const double quantile = seed % 3 ? 0.5 : 0.25;
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const std::vector<double> lo = {-4.0, -3.0}, hi = {3.0, 2.5}, start = {lo[0], lo[1]};
        const Best truth = best_on_plane(p, quantile, lo, hi, true);
        const Certificate c =
            certify(kModule, p, quantile, lo.data(), hi.data(), start.data(), CertifyOptions());
        ASSERT_TRUE(c.optimal);
        expect_consistent(p, quantile, c);
        EXPECT_NEAR(c.value, truth.value, 1e-12);
        EXPECT_GE(c.upper_bound, truth.value - 1e-12);
    }
}

// Rows repeated count by their net weight: the problem's data written out
// twice have the same maximizer and twice the correct count; written again
// with every response flipped, no sign matters (each row and its flip
// cancel), so the whole box is settled at once and half the rows are right
// everywhere.
TEST(Certify, RepeatedRowsCountByTheirNetWeight) {
    const fit_test::Data once = integer_problem(30, 3, 7);
    fit_test::Data twice(60, 3), flipped(60, 3);
    for (std::int32_t j = 0; j < 3; ++j) {
        for (std::int32_t i = 0; i < 60; ++i) {
            twice.x[j * 60 + i] = flipped.x[j * 60 + i] = once.x[j * 30 + i % 30];
        }
    }
    for (std::int32_t i = 0; i < 60; ++i) {
        twice.y[i] = once.y[i % 30];
        flipped.y[i] = i < 30 ? once.y[i] : 1.0 - once.y[i - 30];
    }
    const std::vector<double> lo = {-4.0, -3.0}, hi = {3.0, 2.5}, start = {0.0, 0.0};
    const Certificate a = certify(kModule, view(once), 0.5, lo.data(), hi.data(), start.data(),
                                  CertifyOptions());
    const Certificate b = certify(kModule, view(twice), 0.5, lo.data(), hi.data(), start.data(),
                                  CertifyOptions());
    ASSERT_TRUE(a.optimal && b.optimal);
    EXPECT_EQ(b.correct, 2 * a.correct);
    EXPECT_NEAR(b.value, a.value, 1e-12);
    const Certificate c = certify(kModule, view(flipped), 0.5, lo.data(), hi.data(),
                                  start.data(), CertifyOptions());
    EXPECT_TRUE(c.optimal);
    EXPECT_FALSE(c.improved);
    EXPECT_EQ(c.nodes, 1);
    EXPECT_EQ(c.correct, 30);
    EXPECT_NEAR(c.value, 0.0, 1e-15);
}

// A weighted problem (the module given the response (1 - a) + w (y - (1 - a)))
// with weight 2 on some rows is the problem with those rows written twice:
// the same maximum, the same weighted count.
TEST(Certify, WeightsThroughTheModulesResponseAreRepeatedRows) {
    int weights_mattered = 0;
    for (unsigned seed = 20; seed < 30; ++seed) {
        SCOPED_TRACE(seed);
        const fit_test::Data once = integer_problem(30, 3, seed);
        const std::int32_t repeated = 12, n = 30 + repeated;
        fit_test::Data twice(n, 3);
        for (std::int32_t j = 0; j < 3; ++j) {
            for (std::int32_t i = 0; i < n; ++i) twice.x[j * n + i] = once.x[j * 30 + i % 30];
        }
        for (std::int32_t i = 0; i < n; ++i) twice.y[i] = once.y[i % 30];
        std::vector<double> weights(30, 1.0), response(30);
        for (std::int32_t i = 0; i < repeated; ++i) weights[i] = 2.0;
        for (std::int32_t i = 0; i < 30; ++i) response[i] = 0.5 + weights[i] * (once.y[i] - 0.5);
        const std::vector<double> lo = {-4.0, -3.0}, hi = {3.0, 2.5}, start = {lo[0], lo[1]};
        CertifyOptions o;
        o.module_response = response.data();
        o.weights = weights.data();
        const Certificate weighted = certify(kModule, view(once), 0.5, lo.data(), hi.data(),
                                             start.data(), o);
        const Certificate rows = certify(kModule, view(twice), 0.5, lo.data(), hi.data(),
                                         start.data(), CertifyOptions());
        const Certificate plain = certify(kModule, view(once), 0.5, lo.data(), hi.data(),
                                          start.data(), CertifyOptions());
        ASSERT_TRUE(weighted.optimal && rows.optimal && plain.optimal);
        EXPECT_EQ(weighted.correct, rows.correct);
        EXPECT_NEAR(fcna(view(twice), 0.5, weighted.point), rows.value, 1e-12);
        Problem module_view = view(once);
        module_view.response = response.data();
        EXPECT_EQ(weighted.value, fcna(module_view, 0.5, weighted.point));
        // Unweighted, the best point may be another.
        weights_mattered += fcna(view(twice), 0.5, plain.point) < rows.value - 1e-12;
    }
    EXPECT_GT(weights_mattered, 0);
}

// Stopped early, the certificate still bounds the true maximum.
TEST(Certify, BoundWhenStoppedHoldsTheMaximum) {
    const fit_test::Data d = integer_problem(40, 3, 11);
    const Problem p = view(d);
    const std::vector<double> lo = {-4.0, -3.0}, hi = {3.0, 2.5}, start = {lo[0], hi[1]};
    const Best truth = best_on_plane(p, 0.5, lo, hi, true);
    ASSERT_GT(truth.value, fcna(p, 0.5, start) + 1e-12);  // the start is not the maximum
    for (const std::int64_t limit : {1, 2, 4}) {
        CertifyOptions o;
        o.max_nodes = limit;
        const Certificate c = certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), o);
        SCOPED_TRACE(limit);
        EXPECT_FALSE(c.optimal);
        expect_consistent(p, 0.5, c);
        EXPECT_GE(c.upper_bound, truth.value);  // the module's sum, rounding included
        EXPECT_GE(c.upper_correct, vimor_fit::correctly_classified(p, truth.point.data()));
        EXPECT_LE(c.value, truth.value + 1e-12);
    }
    // No time at all: the whole box's bound only.
    CertifyOptions none;
    none.seconds = 0;
    const Certificate c = certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), none);
    EXPECT_FALSE(c.optimal);
    EXPECT_EQ(c.nodes, 1);
    expect_consistent(p, 0.5, c);
    EXPECT_GE(c.upper_bound, truth.value);
}

// Two rows right together only where the module's sum absorbs a term:
// with b2 = 1, row A's index is fl(-1 + fl(1 + b1)), zero (counted positive)
// for b1 in [-2^-54, 0) where the exact b1 is negative; row B's index,
// -b1 - 0.75 2^-54, is non-negative for b1 up to -0.75 2^-54. Bounds for the
// exact index settle A negative left of 0, prune every box in that range and
// claim the start optimal; the module's own bounds keep them and find it.
TEST(Certify, BoundsFollowTheModulesRounding) {
    const double tiny = 0.75 * std::ldexp(1.0, -54);
    fit_test::Data d(3, 3);
    d.column(0, {1.0, -1.0, 0.0});
    d.column(1, {1.0, 0.0, 0.0});
    d.column(2, {-1.0, -tiny, 1.0});
    d.y = {1.0, 1.0, 0.0};
    const Problem p = view(d);
    const std::vector<double> lo = {-0.7, 1.0}, hi = {0.0, 1.0}, start = {-0.7, 1.0};
    const std::vector<double> inside = {-0.875 * std::ldexp(1.0, -54), 1.0};
    const double best = fcna(p, 0.5, inside);
    ASSERT_GT(best, fcna(p, 0.5, start));
    ASSERT_LT(1.0L + inside[0] - 1.0L, 0.0L);  // exactly, A's index is negative there

    const Certificate sound =
        certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), CertifyOptions());
    EXPECT_TRUE(sound.optimal);
    EXPECT_TRUE(sound.improved);
    EXPECT_EQ(sound.value, best);
    EXPECT_EQ(sound.upper_bound, best);
    EXPECT_GE(sound.point[0], -std::ldexp(1.0, -54));
    EXPECT_LE(sound.point[0], -tiny);

    CertifyOptions unsound;
    unsound.unsound_exact_index = true;
    const Certificate wrong = certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), unsound);
    EXPECT_TRUE(wrong.optimal);
    EXPECT_FALSE(wrong.improved);
    EXPECT_LT(wrong.upper_bound, best);
}

TEST(Certify, RefusesABadBoxAndAnExtremeQuantile) {
    const fit_test::Data d = integer_problem(20, 2, 3);
    const Problem p = view(d);
    const std::vector<double> lo = {1.0}, hi = {-1.0}, start = {0.0};
    EXPECT_THROW(certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), CertifyOptions()),
                 vimor_fit::ArgumentError);
    EXPECT_THROW(certify(kModule, p, 1e-15, hi.data(), lo.data(), start.data(), CertifyOptions()),
                 vimor_fit::ArgumentError);
}

}  // namespace

namespace {

std::vector<std::string> warnings_of(const fit_test::Session &s) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < vimor_fit_warning_count(s.fit); ++i) out.push_back(vimor_fit_warning(s.fit, i));
    return out;
}

bool mentions(const std::vector<std::string> &warnings, const char *text) {
    for (const std::string &w : warnings)
        if (w.find(text) != std::string::npos) return true;
    return false;
}

// A fit with the certify setting: a search too short to find the maximum
// (one restart of few evaluations) is corrected to the enumerated maximum
// over the fit's box, and says so; a long one is proven as it stands.
TEST(CertifyFit, ReplacesAMissedMaximumAndSaysSo) {
    fit_test::Data d = integer_problem(36, 3, 5);
    const Problem p = view(d);
    for (const bool crippled : {true, false}) {
        SCOPED_TRACE(crippled);
        fit_test::Session s(d);
        ASSERT_EQ(s.status, VIMOR_OK);
        s.set("restarts", {crippled ? 1.0 : 30.0});
        if (crippled) s.set("max_evals", {5});
        s.set("certify", {30});
        ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
        ASSERT_EQ(vimor_fit_run(s.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK) << vimor_last_error();
        const std::vector<double> lo = s.get("lower"), hi = s.get("upper");
        const Best truth = best_on_plane(p, 0.5, lo, hi, true);
        EXPECT_EQ(s.get("certificate_status"), std::vector<double>{1.0});
        EXPECT_NEAR(s.get("objective")[0], truth.value, 1e-12);
        EXPECT_EQ(s.get("objective")[0], fcna(p, 0.5, s.get("coef")));
        EXPECT_EQ(s.get("certificate_upper_bound"), s.get("objective"));
        EXPECT_EQ(s.get("certificate_upper_correct"), s.get("correct"));
        EXPECT_GE(s.get("certificate_nodes")[0], 1.0);
        EXPECT_GE(s.get("certificate_seconds")[0], 0.0);
        const bool improved = s.get("certificate_improved")[0] == 1.0;
        EXPECT_EQ(mentions(warnings_of(s), "missed the maximum"), improved);
        EXPECT_EQ(improved, crippled);
    }
}

// Subsample fits are certified too, each within its share of the seconds:
// a search too short to find their maxima is corrected to the enumerated
// maximum of each subsample over the full sample's box, and counted.
TEST(CertifyFit, SubsampleFitsAreCertifiedAndImproved) {
    fit_test::Data d = integer_problem(120, 3, 9);
    fit_test::Session s(d);
    s.set("restarts", {1});
    s.set("max_evals", {5});
    s.set("subsamples", {8});
    s.set("subsample_size", {30});
    s.set("subsample_restarts", {1});
    s.set("level", {0.5});
    s.set("certify", {80});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    ASSERT_EQ(vimor_fit_run(s.fit, 2, nullptr, nullptr, nullptr, nullptr), VIMOR_OK) << vimor_last_error();
    EXPECT_EQ(s.get("certified_optimal"), std::vector<double>{8.0});
    EXPECT_EQ(s.get("certified_bound"), std::vector<double>{0.0});
    EXPECT_GE(s.get("certified_improved")[0], 1.0);  // five evaluations miss some maxima
    const std::vector<double> lo = s.get("lower"), hi = s.get("upper"), est = s.get("subsample_estimates");
    std::vector<int32_t> rows(30);
    for (int32_t b = 0; b < 8; ++b) {
        ASSERT_EQ(vimor_fit_subsample_rows(s.fit, b, rows.data()), VIMOR_OK);
        fit_test::Data sub(30, 3);
        for (int32_t i = 0; i < 30; ++i) {
            sub.y[i] = d.y[rows[i]];
            for (int32_t j = 0; j < 3; ++j) sub.x[j * 30 + i] = d.x[j * d.nobs + rows[i]];
        }
        const Problem p = view(sub);
        const std::vector<double> point(est.begin() + 2 * b, est.begin() + 2 * b + 2);
        EXPECT_NEAR(fcna(p, 0.5, point), best_on_plane(p, 0.5, lo, hi, true).value, 1e-12) << b;
    }
}

TEST(CertifyFit, OffByDefaultAndCheckedWhenGiven) {
    fit_test::Data d = integer_problem(30, 3, 9);
    fit_test::Session s(d);
    s.set("restarts", {2});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    ASSERT_EQ(vimor_fit_run(s.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK) << vimor_last_error();
    EXPECT_EQ(s.get("certify"), std::vector<double>{0.0});
    EXPECT_TRUE(std::isnan(s.get("certificate_status")[0]));  // no such result
    for (const double bad : {-1.0, double(NAN), double(INFINITY)}) {
        fit_test::Session t(d);
        t.set("restarts", {1});
        t.set("certify", {bad});
        EXPECT_EQ(vimor_fit_prepare(t.fit), VIMOR_ERROR);
        EXPECT_STREQ(vimor_last_error_argument(), "certify");
    }
}

}  // namespace

namespace {

std::atomic<int> polls{0};
std::chrono::steady_clock::time_point first_poll;
// Cancels from 0.1 s after its first call: the restarts (one, of 20
// evaluations) are over long before, so it is the certificate that stops.
int cancel_later(void *) {
    if (polls++ == 0) first_poll = std::chrono::steady_clock::now();
    return std::chrono::steady_clock::now() - first_poll > std::chrono::milliseconds(100);
}

// The host's cancel callback stops a long certificate, as it stops the
// restarts: a proof with a budget of 20 s ends within moments (unpolled, it
// would run the 20 s and return the fit).
TEST(CertifyFit, TheHostsCancelStopsIt) {
    // Seven regressors, six of them normal, and noise: a proof of hours.
    std::mt19937 rng(21);
    std::normal_distribution<double> normal;
    fit_test::Data d(1000, 7);
    for (std::int32_t i = 0; i < d.nobs; ++i) {
        double latent = 2.0 * normal(rng);
        d.x[i] = 1.0;
        for (std::int32_t j = 1; j < 7; ++j) {
            d.x[std::size_t(j) * d.nobs + i] = normal(rng);
            latent += d.x[std::size_t(j) * d.nobs + i];
        }
        d.y[i] = latent >= 0.0 ? 1.0 : 0.0;
    }
    fit_test::Session s(d);
    s.set("restarts", {1});
    s.set("max_evals", {20});
    s.set("certify", {20});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    polls = 0;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(vimor_fit_run(s.fit, 1, cancel_later, nullptr, nullptr, nullptr), VIMOR_CANCELLED);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 10.0);
    EXPECT_GT(polls.load(), 2);  // polled by the certificate, not only between restarts
}

}  // namespace

namespace {

// A maximum at one subnormal double, b = 2^-1073 (two of the least): row A's
// index b - 2^-1073 is non-negative from there on, row B's 2^-1073 - b up to
// there. Halving boxes of subnormals rounds; no double may be skipped.
TEST(Certify, FindsAMaximumAtOneSubnormalDouble) {
    const double least = std::numeric_limits<double>::denorm_min(), at = 2 * least;
    fit_test::Data d(3, 2);
    d.column(0, {1.0, -1.0, 0.0});
    d.column(1, {-at, at, 1.0});
    d.y = {1.0, 1.0, 0.0};
    const Problem p = view(d);
    for (const std::vector<double> &box : std::vector<std::vector<double>>{
             {-5 * least, 7 * least}, {-1.0, 1e-300}, {least, 3 * least}}) {
        SCOPED_TRACE(box[0]);
        const std::vector<double> lo = {box[0]}, hi = {box[1]}, start = {box[0]};
        const Best truth = best_on_line(p, 0.5, start, 0, lo[0], hi[0], true);
        ASSERT_EQ(truth.point, std::vector<double>{at});
        const Certificate c =
            certify(kModule, p, 0.5, lo.data(), hi.data(), start.data(), CertifyOptions());
        EXPECT_TRUE(c.optimal);
        EXPECT_EQ(c.point, std::vector<double>{at});
        EXPECT_EQ(c.value, truth.value);
    }
}

}  // namespace

namespace {

// The warnings are about the estimate the fit reports: a better point the
// certificate finds in a sliver at the end of the box is on its edge, though
// the search's own point is not.
TEST(CertifyFit, WarningsAreAboutTheCertifiedPoint) {
    fit_test::Data d = integer_problem(40, 2, 31);
    const Problem p = view(d);
    // The maximum over a wide line, and where its cells start.
    const Best wide = best_on_line(p, 0.5, {0.0}, 0, -20.0, 20.0, true);
    const double start = wide.point[0];
    ASSERT_LT(fcna(p, 0.5, {std::nextafter(start, -INFINITY)}), wide.value - 1e-12);
    // A box whose last 0.5% holds the first maximizing cell.
    const double lower = start - 40.0, upper = start + 0.005 * 40.0;
    fit_test::Session s(d);
    s.set("restarts", {1});
    s.set("max_evals", {5});
    s.set("lower", {lower});
    s.set("upper", {upper});
    s.set("step", {0.01});
    s.set("certify", {30});
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
    ASSERT_EQ(vimor_fit_run(s.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    ASSERT_EQ(s.get("certificate_improved"), std::vector<double>{1.0});
    const double estimate = s.get("coef")[0];
    EXPECT_GE(estimate, start);
    const std::vector<double> records = s.get("restart_records");
    EXPECT_LT(records[8], upper - 0.01 * (upper - lower));  // the search's point: not at the edge
    EXPECT_TRUE(mentions(warnings_of(s), "is on the edge of its box"));
}

}  // namespace

// The C entry points: a fit run whole on one or two threads equals the same
// fit run unit by unit; the best-restart rule on records a host hands in;
// cancelling; errors kept per thread; refused pointers and counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "fit_test.h"

using fit_test::Data;
using fit_test::same_bits;
using fit_test::Session;

namespace {

const char *const kKeys[] = {
    "quantile", "maximize", "box_scale", "lower", "upper", "start", "step", "step_gain",
    "temperature", "cooling", "tolerance", "sweeps", "adjustments", "history_len", "max_evals",
    "restarts", "seed", "seed2", "threads", "subsamples", "subsample_size",
    "subsample_restarts", "level", "interval", "nobs", "nreg", "fixed_coef", "coef",
    "objective", "correct", "accuracy", "best_restart", "reached", "evaluations", "converged",
    "max_objective", "restart_records", "flat_lower", "flat_upper", "subsample_estimates", "interval_lower",
    "interval_upper", "redrawn", "multiple_best", "limit_hit"};

void configure(Session &s) {
    s.set("restarts", {4});
    s.set("seed", {31327});  // the restarts' streams wrap past 31328
    s.set("seed2", {30081});
    s.set("max_evals", {300});  // short: some restarts disagree, some hit the limit
    s.set("subsamples", {5});
    s.set("level", {0.5});  // five estimates hold a 50% interval, not a 95% one
    s.set("subsample_restarts", {2});
    vimor_fit_set_text(s.fit, "interval", "equal-tailed");
}

std::atomic<int> calls{0}, running{0};

// The module's search, slowed and counted.
template <class... A>
int32_t counted_search(A... a) {
    ++running;
    ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int32_t status = _saa_(a...);
    --running;
    return status;
}

// One search through the module with the fit's resolved settings, as a
// restart record: the settings a unit runs with, rebuilt outside the core.
std::vector<double> search_directly(const Session &s, const double *y, const double *x,
                                    int32_t n, int32_t seed1, int32_t seed2) {
    const auto one = [&](const char *key) { return s.get(key)[0]; };
    const auto whole = [&](const char *key) { return static_cast<int32_t>(one(key)); };
    std::vector<double> coef = s.get("start"), lower = s.get("lower"), upper = s.get("upper"),
                        gain = s.get("step_gain"), step = s.get("step"), best(coef.size()),
                        trial(coef.size());
    const int32_t k = whole("nreg"), maximize = whole("maximize"), sweeps = whole("sweeps"),
                  adjustments = whole("adjustments"), history_len = whole("history_len"),
                  max_evals = whole("max_evals");
    const double q = one("quantile"), cooling = one("cooling"), tol = one("tolerance"),
                 fixed = one("fixed_coef");
    double temperature = one("temperature"), value = 0;
    std::vector<double> history(history_len);
    std::vector<int32_t> counts(coef.size());
    int32_t accepted = 0, evals = 0, oob = 0, status = 0, limit = 0;
    _saa_(y, x, &n, &k, coef.data(), &q, &maximize, &cooling, &tol, &sweeps, &adjustments,
          &history_len, &max_evals, lower.data(), upper.data(), gain.data(), &seed1, &seed2,
          &temperature, step.data(), best.data(), &value, &accepted, &evals, &oob, &status,
          history.data(), trial.data(), counts.data(), &limit, &fixed);
    std::vector<double> record = {double(seed1), double(seed2), value, temperature,
                                  double(status), double(evals), double(accepted), double(oob)};
    record.insert(record.end(), best.begin(), best.end());
    record.insert(record.end(), step.begin(), step.end());
    return record;
}

}  // namespace

TEST(Api, UnitsGiveTheBitsOfTheWholeRun) {
    const Data d = fit_test::simulated(150, 21);
    Session one(d), two(d), units(d);
    for (Session *s : {&one, &two, &units}) {
        configure(*s);
        ASSERT_EQ(vimor_fit_prepare(s->fit), VIMOR_OK) << vimor_last_error();
    }
    ASSERT_EQ(vimor_fit_run(one.fit, 1, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);
    ASSERT_EQ(vimor_fit_run(two.fit, 2, nullptr, nullptr, nullptr, nullptr), VIMOR_OK);

    // Units in reverse order: none may depend on another.
    const int32_t rsize = vimor_restart_record_size(units.fit), nfree = 2;
    ASSERT_EQ(rsize, 8 + 2 * nfree);
    std::vector<double> records(4 * rsize);
    for (int32_t r = 3; r >= 0; --r) {
        ASSERT_EQ(vimor_fit_run_restart(units.fit, r, &records[r * rsize]), VIMOR_OK);
    }
    ASSERT_EQ(vimor_fit_finish_restarts(units.fit, records.data()), VIMOR_OK);
    const int32_t ssize = vimor_subsample_record_size(units.fit);
    ASSERT_EQ(ssize, 6 + nfree);
    std::vector<double> fits(5 * ssize);
    std::vector<int32_t> rows(std::size_t(units.get("subsample_size")[0]));
    for (int32_t s = 4; s >= 0; --s) {
        ASSERT_EQ(vimor_fit_subsample_rows(units.fit, s, rows.data()), VIMOR_OK);
        ASSERT_EQ(vimor_fit_run_subsample(units.fit, s, rows.data(), &fits[s * ssize]), VIMOR_OK);
    }
    ASSERT_EQ(vimor_fit_finish_subsamples(units.fit, fits.data()), VIMOR_OK);

    for (const char *key : kKeys) {
        const std::vector<double> v = one.get(key);
        EXPECT_FALSE(v.size() == 1 && std::isnan(v[0])) << key;
        EXPECT_TRUE(same_bits(v, two.get(key))) << key;
        EXPECT_TRUE(same_bits(v, units.get(key))) << key;
    }
    EXPECT_TRUE(same_bits(one.get("interval"), {0}));
    EXPECT_TRUE(same_bits(units.get("restart_records"), records));
    ASSERT_EQ(vimor_fit_warning_count(one.fit), vimor_fit_warning_count(units.fit));
    for (int32_t i = 0; i < vimor_fit_warning_count(one.fit); ++i) {
        EXPECT_STREQ(vimor_fit_warning(one.fit, i), vimor_fit_warning(units.fit, i));
    }

    // The summary of the reported restart (the rule that picks it is checked
    // on given records below), by hand and through the module.
    const double tol = 0.5 * 0.5 / 150;
    const int best = int(one.get("best_restart")[0]);
    const std::vector<double> coef(&records[best * rsize + 8], &records[best * rsize + 8 + nfree]);
    int correct = 0, ones = 0, converged = 0;
    for (int32_t i = 0; i < d.nobs; ++i) {
        const double index = d.x[2 * d.nobs + i] * 1.0 + (d.x[d.nobs + i] * coef[1] + (d.x[i] * coef[0] + 0.0));
        correct += (index >= 0) == (d.y[i] == 1);
        ones += d.y[i] == 1;
    }
    for (int r = 0; r < 4; ++r) converged += records[r * rsize + 4] == 0;
    double value = 0;
    const double q = 0.5, fixed = 1;
    _fcna_(d.y.data(), d.x.data(), &d.nobs, &d.nreg, coef.data(), &value, &q, &fixed);
    EXPECT_TRUE(same_bits(one.get("coef"), coef));
    EXPECT_TRUE(same_bits(one.get("objective"), {value}));
    EXPECT_TRUE(same_bits(one.get("correct"), {double(correct)}));
    EXPECT_TRUE(same_bits(one.get("accuracy"), {correct / 150.0}));
    EXPECT_TRUE(same_bits(one.get("converged"), {double(converged)}));
    EXPECT_TRUE(same_bits(one.get("max_objective"), {(ones * 0.5 + (150 - ones) * 0.5) / 150}));
    EXPECT_EQ(one.get("subsample_estimates").size(), 5u * nfree);

    // Each restart is the module's search from seeds (seed + r) mod 31329 and
    // seed2; subsample s runs its restarts from seed2 + 1 + s mod 30082 (here
    // 0: the full fit's 30081 wraps) on its rows, with the full sample's
    // box, steps and tolerance, and keeps the best.
    for (int32_t r = 0; r < 4; ++r) {
        const std::vector<double> rec(&records[r * rsize], &records[(r + 1) * rsize]);
        EXPECT_TRUE(same_bits(rec, search_directly(units, d.y.data(), d.x.data(), d.nobs,
                                                   (31327 + r) % 31329, 30081))) << r;
    }
    const int32_t b = int32_t(rows.size());
    ASSERT_EQ(vimor_fit_subsample_rows(units.fit, 0, rows.data()), VIMOR_OK);
    std::vector<double> ys(b), xs(std::size_t(b) * 3);
    for (int32_t i = 0; i < b; ++i) {
        ys[i] = d.y[rows[i]];
        for (int32_t j = 0; j < 3; ++j) xs[std::size_t(j) * b + i] = d.x[std::size_t(j) * d.nobs + rows[i]];
    }
    const std::vector<double> r0 = search_directly(units, ys.data(), xs.data(), b, 31327, 0);
    const std::vector<double> r1 = search_directly(units, ys.data(), xs.data(), b, 31328, 0);
    const std::vector<double> &kept = r1[2] > r0[2] ? r1 : r0;
    EXPECT_TRUE(same_bits({fits[0], fits[6], fits[7]}, {kept[2], kept[8], kept[9]}));
    EXPECT_TRUE(same_bits({fits[3], fits[4], fits[5]}, {0.0, -1.0, 0.0}));  // not widened, not certified
    EXPECT_EQ(fits[1], 1.0 + (std::fabs(r0[2] - r1[2]) <= tol));
    EXPECT_EQ(fits[2], double(r0[4] == 1 && r1[4] == 1));
    double several = 0, limited = 0;
    for (int32_t s = 0; s < 5; ++s) several += fits[s * ssize + 1] > 1, limited += fits[s * ssize + 2];
    ASSERT_TRUE(several > 0 && several < 5);  // the count distinguishes
    EXPECT_TRUE(same_bits(one.get("multiple_best"), {several}));
    EXPECT_TRUE(same_bits(one.get("limit_hit"), {limited}));
}

// Records a host hands in: the largest value wins, ties to the earliest
// restart; "reached" counts values within the tolerance (N = 4: 1/16).
TEST(Api, BestRestartRuleOnGivenRecords) {
    Data d(4, 2);
    d.y = {0, 0, 1, 1};
    d.column(0, {1, 1, 1, 1});
    d.column(1, {-3, -1, 1, 3});
    const double values[] = {0.25, 0.5, 0.5, 0.4375};
    for (const bool maximize : {true, false}) {
        Session s(d);
        s.set("restarts", {4});
        s.set("maximize", {double(maximize)});
        ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK) << vimor_last_error();
        std::vector<double> records;
        for (int r = 0; r < 4; ++r) {
            const std::vector<double> rec = {double(r), 0, values[r], 0.01, 0, 100, 10, 0, 0.1 * r, 1};
            records.insert(records.end(), rec.begin(), rec.end());
        }
        ASSERT_EQ(vimor_fit_finish_restarts(s.fit, records.data()), VIMOR_OK) << vimor_last_error();
        EXPECT_TRUE(same_bits(s.get("best_restart"), {maximize ? 1.0 : 0.0}));
        EXPECT_TRUE(same_bits(s.get("coef"), {maximize ? 0.1 : 0.0}));
        EXPECT_TRUE(same_bits(s.get("reached"), {maximize ? 3.0 : 1.0}));
        EXPECT_TRUE(same_bits(s.get("evaluations"), {400}));
    }
}

TEST(Api, CancelStopsTheRunAndLeavesNoThread) {
    const Data d = fit_test::simulated(40, 4);
    for (const int32_t threads : {1, 2}) {
        Session s(d, counted_search);
        s.set("restarts", {3000});
        s.set("max_evals", {50});
        ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK);
        calls = 0;
        const vimor_cancel_fn always = [](void *) { return 1; };
        EXPECT_EQ(vimor_fit_run(s.fit, threads, always, nullptr, nullptr, nullptr), VIMOR_CANCELLED);
        EXPECT_EQ(running, 0);  // every unit under way has ended
        const int made = calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(calls, made) << "a thread outlived the call";
        if (threads == 1) EXPECT_EQ(made, 0);  // polled before the first unit
        EXPECT_LT(made, 3000);
        EXPECT_STREQ(vimor_last_error_argument(), "");
        EXPECT_TRUE(std::isnan(s.get("coef")[0]));  // no result from a cancelled run

        // A flag raised by the progress callback, polled between units.
        const vimor_progress_fn after_three = [](void *flag, int32_t, int32_t done, int32_t) {
            if (done >= 3) *static_cast<int *>(flag) = 1;
        };
        int flag = 0;
        calls = 0;
        EXPECT_EQ(vimor_fit_run(s.fit, threads, vimor_cancel_flag, &flag, after_three, &flag),
                  VIMOR_CANCELLED);
        EXPECT_EQ(running, 0);
        if (threads == 1) EXPECT_EQ(calls, 3);
        EXPECT_GE(calls, 3);
        EXPECT_LT(calls, 3000);
    }
}

TEST(Api, ErrorsAreKeptPerThread) {
    const Data d = fit_test::simulated(40, 4);
    Session s(d);
    ASSERT_EQ(s.set("quantile", {0.5, 0.5}), VIMOR_ERROR);
    const std::string message = vimor_last_error();
    EXPECT_STREQ(vimor_last_error_argument(), "quantile");
    std::string fresh, fresh_argument, own, own_argument;
    std::thread other([&] {
        fresh = vimor_last_error();
        fresh_argument = vimor_last_error_argument();
        double v;
        EXPECT_EQ(vimor_default("no_such_key", &v), VIMOR_ERROR);
        own = vimor_last_error();
        own_argument = vimor_last_error_argument();
    });
    other.join();
    EXPECT_EQ(fresh, "");
    EXPECT_EQ(fresh_argument, "");
    EXPECT_NE(own, "");
    EXPECT_EQ(own_argument, "");
    EXPECT_EQ(vimor_last_error(), message);  // untouched by the other thread
    EXPECT_STREQ(vimor_last_error_argument(), "quantile");
    double v = 0;
    EXPECT_EQ(vimor_default("seed", &v), VIMOR_OK);  // success clears it
    EXPECT_STREQ(vimor_last_error(), "");
    EXPECT_STREQ(vimor_last_error_argument(), "");
}

TEST(Api, NullPointersAndWrongCountsAreRefused) {
    const Data d = fit_test::simulated(40, 4);
    Session s(d);
    ASSERT_EQ(vimor_fit_prepare(s.fit), VIMOR_OK);
    const char *names[] = {"a", "b", "c"}, *holed[] = {"a", nullptr, "c"};
    VimorProblem *p = reinterpret_cast<VimorProblem *>(&s);  // must be overwritten
    VimorFit *f = nullptr;
    double v[4] = {0, 0, 0, 0}, lo, hi;
    int32_t n;
    const int refused[] = {
        vimor_problem_new(d.y.data(), d.x.data(), 40, 3, 1, names, nullptr),
        vimor_problem_new(d.y.data(), nullptr, 40, 3, 1, names, &p),
        vimor_problem_new(d.y.data(), d.x.data(), 40, 3, 1, nullptr, &p),
        vimor_problem_new(d.y.data(), d.x.data(), 40, 3, 1, holed, &p),
        vimor_fit_new(nullptr, _fcna_, _saa_, &f),
        vimor_fit_new(s.problem, nullptr, _saa_, &f),
        vimor_fit_new(s.problem, _fcna_, nullptr, &f),
        vimor_fit_new(s.problem, _fcna_, _saa_, nullptr),
        vimor_fit_set(nullptr, "seed", v, 1),
        vimor_fit_set(s.fit, nullptr, v, 1),
        vimor_fit_set(s.fit, "seed", nullptr, 1),
        vimor_fit_set_text(s.fit, "interval", nullptr),
        vimor_fit_prepare(nullptr),
        vimor_fit_run(nullptr, 1, nullptr, nullptr, nullptr, nullptr),
        vimor_fit_run_restart(s.fit, 0, nullptr),
        vimor_fit_run_restart(nullptr, 0, v),
        vimor_fit_finish_restarts(s.fit, nullptr),
        vimor_fit_finish_subsamples(s.fit, nullptr),
        vimor_fit_subsample_rows(s.fit, 0, nullptr),
        vimor_fit_size(s.fit, "seed", nullptr),
        vimor_fit_size(s.fit, nullptr, &n),
        vimor_fit_get(nullptr, "seed", v, 1),
        vimor_fit_get(s.fit, "seed", nullptr, 1),
        vimor_fit_interval(s.fit, 0, 0.9, 1, nullptr, &hi),
        vimor_interval(0, nullptr, 4, 8, 2, 0.9, 1, &lo, &hi),
        vimor_interval(0, v, 0, 8, 2, 0.9, 1, &lo, &hi),
        vimor_index(nullptr, v, v),
        vimor_index(s.problem, nullptr, v),
        vimor_score(s.problem, nullptr, v, 0.5, &lo, nullptr),
        vimor_default(nullptr, v),
        vimor_default("seed", nullptr),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], VIMOR_ERROR) << i;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(vimor_restart_record_size(nullptr), 0);
    EXPECT_EQ(vimor_fit_warning_count(nullptr), 0);
    EXPECT_STREQ(vimor_fit_warning(nullptr, 0), "");

    // "lower" holds two values: one or three are refused, the buffer untouched.
    for (const int32_t count : {1, 3}) {
        EXPECT_EQ(vimor_fit_get(s.fit, "lower", v, count), VIMOR_ERROR) << count;
        EXPECT_TRUE(v[0] == 0 && v[1] == 0 && v[2] == 0);
    }
    EXPECT_EQ(vimor_fit_get(s.fit, "lower", v, 2), VIMOR_OK);
    EXPECT_TRUE(v[0] < 0 && v[1] < 0 && v[2] == 0);
    // Results of a step not yet run are refused likewise.
    EXPECT_EQ(vimor_fit_get(s.fit, "coef", v, 2), VIMOR_ERROR);
    EXPECT_EQ(vimor_fit_interval(s.fit, 0, 0.9, 1, &lo, &hi), VIMOR_ERROR);
}

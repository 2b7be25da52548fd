// Speed of the objective against the two costs no bit-exact version can
// avoid: the chain of N dependent additions that forms the score, and one
// streaming read of its N*K + N input doubles. Each benchmark times the
// dispatched kernel, the plain kernel and both limits in the same iterations,
// side by side, and keeps the fastest iteration of each, so the ratios hold
// even on a busy machine; run with repetitions and read the medians. The results are the counters; the time
// column is that of a whole iteration (all four timings, or the search alone).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vimor.h"
#include "vimor_internal.h"
#if VIMOR_BENCH_DEFAULT_SEARCH
#include <ctime>

#include "default_search.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// 64-byte aligned doubles.
struct Buffer {
    double *p = nullptr;
    explicit Buffer(size_t n) {
        p = static_cast<double *>(std::aligned_alloc(64, ((n * sizeof(double) + 63) / 64) * 64 + 64));
    }
    ~Buffer() { std::free(p); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
};

struct Problem {
    int32_t nobs, nreg;
    Buffer y, x;
    std::vector<double> coef;
    double quantile = 0.5, fixed_coef = 1.0;
    Problem(int32_t n, int32_t k)
        : nobs(n), nreg(k), y(n), x(static_cast<size_t>(n) * k), coef(k - 1) {
        std::mt19937_64 rng(n * 31 + k);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int32_t i = 0; i < n; ++i) y.p[i] = static_cast<double>(rng() & 1);
        for (size_t i = 0; i < static_cast<size_t>(n) * k; ++i) x.p[i] = u(rng);
        for (double &c : coef) c = u(rng);
    }
    double objective(vimor::ObjectiveKernel kernel) const {
        return kernel(y.p, x.p, nobs, nreg, coef.data(), quantile, fixed_coef);
    }
};

// The add-chain limit: N additions, each waiting for the one before. The
// operands come from a small buffer in the first-level cache so that only the
// latency of the addition counts.
double add_chain(const double *v, int64_t n) {
    constexpr int64_t kBlock = 512;
    double s = 0.0;
    for (int64_t done = 0; done < n; done += kBlock) {
        const int64_t m = n - done < kBlock ? n - done : kBlock;
        for (int64_t i = 0; i < m; ++i) s = v[i] + s;
    }
    return s;
}

// The streaming limit: read every double once, as fast as the widest vectors
// the processor has allow, with many partial sums so that only the loads
// count. Read in either order: one column after another, or all columns side
// by side as the objective reads them (several streams can draw more
// bandwidth than one). The limit is the faster of the two.
#if defined(__x86_64__) && defined(__linux__)
#define VIMOR_BENCH_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VIMOR_BENCH_CLONES
#endif
typedef double V8 __attribute__((vector_size(64)));

VIMOR_BENCH_CLONES
double stream_read(const double *p, size_t n) {
    V8 a = {}, b = {}, c = {}, d = {};
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        V8 t[4];
        std::memcpy(t, p + i, sizeof t);
        a += t[0], b += t[1], c += t[2], d += t[3];
    }
    double s = 0.0;
    for (; i < n; ++i) s += p[i];
    const V8 all = (a + b) + (c + d);
    for (int l = 0; l < 8; ++l) s += all[l];
    return s;
}

// nobs rows of ncol columns, leading dimension nobs.
VIMOR_BENCH_CLONES
double stream_read_side_by_side(const double *x, size_t nobs, int ncol) {
    V8 a = {}, b = {};
    size_t i = 0;
    for (; i + 16 <= nobs; i += 16)
        for (int j = 0; j < ncol; ++j) {
            V8 t[2];
            std::memcpy(t, x + j * nobs + i, sizeof t);
            a += t[0], b += t[1];
        }
    double s = 0.0;
    for (; i < nobs; ++i)
        for (int j = 0; j < ncol; ++j) s += x[j * nobs + i];
    const V8 all = a + b;
    for (int l = 0; l < 8; ++l) s += all[l];
    return s;
}

template <class F>
double seconds(int reps, F &&f) {
    const auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void BM_Objective(benchmark::State &state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const int32_t k = static_cast<int32_t>(state.range(1));
    const Problem prob(n, k);
    const vimor::ObjectiveKernel best = vimor::objective_kernel(vimor::active_kernel(k));
    const vimor::ObjectiveKernel plain = vimor::objective_kernel(vimor::Kernel::scalar);
    const Buffer chain_src(512);
    for (int i = 0; i < 512; ++i) chain_src.p[i] = 1e-300 * (i & 7);
    // Several calls per timing when one call is short, so the clock's own
    // cost stays small.
    const int reps = n * (k + 1) >= 200000 ? 1 : 200000 / (n * (k + 1));
    // The fastest of the iterations: on a shared machine the other loads
    // only ever add time.
    double t_best = 1e30, t_plain = 1e30, t_chain = 1e30, t_stream = 1e30;
    for (auto _ : state) {
        const double tb = seconds(reps, [&] { benchmark::DoNotOptimize(prob.objective(best)); });
        const double tp = seconds(reps, [&] { benchmark::DoNotOptimize(prob.objective(plain)); });
        const double tc = seconds(reps, [&] { benchmark::DoNotOptimize(add_chain(chain_src.p, n)); });
        const double ts1 = seconds(reps, [&] {
            benchmark::DoNotOptimize(stream_read(prob.x.p, static_cast<size_t>(n) * k));
            benchmark::DoNotOptimize(stream_read(prob.y.p, static_cast<size_t>(n)));
        });
        const double ts2 = seconds(reps, [&] {
            benchmark::DoNotOptimize(stream_read_side_by_side(prob.x.p, n, k));
            benchmark::DoNotOptimize(stream_read(prob.y.p, static_cast<size_t>(n)));
        });
        const double ts = std::min(ts1, ts2);
        t_best = std::min(t_best, tb), t_plain = std::min(t_plain, tp);
        t_chain = std::min(t_chain, tc), t_stream = std::min(t_stream, ts);
    }
    const double per_obs = 1e9 / (static_cast<double>(reps) * n);
    const double ns = t_best * per_obs, ns_plain = t_plain * per_obs;
    const double ns_chain = t_chain * per_obs, ns_stream = t_stream * per_obs;
    const double limit = ns_chain > ns_stream ? ns_chain : ns_stream;
    state.counters["ns_obs"] = ns;
    state.counters["plain_ns_obs"] = ns_plain;
    state.counters["chain_ns_obs"] = ns_chain;
    state.counters["stream_ns_obs"] = ns_stream;
    state.counters["ratio"] = ns / limit;
    state.counters["plain_ratio"] = ns_plain / limit;
    state.counters["speedup"] = ns_plain / ns;
    state.SetLabel(vimor::kernel_name(vimor::active_kernel(k)));
}

// Each compiled kernel the processor has, against the plain one and the two
// limits, side by side.
void BM_Kernel(benchmark::State &state) {
    const auto which = static_cast<vimor::Kernel>(state.range(0));
    const int32_t n = static_cast<int32_t>(state.range(1));
    const int32_t k = static_cast<int32_t>(state.range(2));
    const vimor::ObjectiveKernel kernel = vimor::objective_kernel(which);
    if (!kernel) {
        state.SkipWithError("the processor lacks this kernel's instructions");
        return;
    }
    const Problem prob(n, k);
    const vimor::ObjectiveKernel plain = vimor::objective_kernel(vimor::Kernel::scalar);
    const Buffer chain_src(512);
    for (int i = 0; i < 512; ++i) chain_src.p[i] = 1e-300 * (i & 7);
    const int reps = n * (k + 1) >= 200000 ? 1 : 200000 / (n * (k + 1));
    double t_kernel = 1e30, t_plain = 1e30, t_chain = 1e30, t_stream = 1e30;
    for (auto _ : state) {
        t_kernel = std::min(t_kernel, seconds(reps, [&] { benchmark::DoNotOptimize(prob.objective(kernel)); }));
        t_plain = std::min(t_plain, seconds(reps, [&] { benchmark::DoNotOptimize(prob.objective(plain)); }));
        t_chain = std::min(t_chain, seconds(reps, [&] { benchmark::DoNotOptimize(add_chain(chain_src.p, n)); }));
        t_stream = std::min(t_stream, seconds(reps, [&] {
            benchmark::DoNotOptimize(stream_read_side_by_side(prob.x.p, n, k));
            benchmark::DoNotOptimize(stream_read(prob.y.p, static_cast<size_t>(n)));
        }));
    }
    const double per_obs = 1e9 / (static_cast<double>(reps) * n);
    const double limit = std::max(t_chain, t_stream) * per_obs;
    state.counters["ns_obs"] = t_kernel * per_obs;
    state.counters["chain_ns_obs"] = t_chain * per_obs;
    state.counters["stream_ns_obs"] = t_stream * per_obs;
    state.counters["ratio"] = t_kernel * per_obs / limit;
    state.counters["speedup"] = t_plain / t_kernel;
    state.SetLabel(vimor::kernel_name(which));
}

// A complete search of fixed size: a negative tolerance never converges, so
// every run makes exactly max_evals evaluations. Compared with as many calls
// of the objective alone, timed in the same iterations.
void BM_Search(benchmark::State &state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    const int32_t k = static_cast<int32_t>(state.range(1));
    const int32_t max_evals = static_cast<int32_t>(state.range(2));
    const Problem prob(n, k);
    const vimor::ObjectiveKernel best = vimor::objective_kernel(vimor::active_kernel(k));
    const int32_t nfree = k - 1, maximize = 1, sweeps = 20, adjustments = 5, history_len = 4;
    const int32_t seed1 = 1802, seed2 = 9373;
    const double cooling = 0.85, tolerance = -1.0;
    const std::vector<double> lower(nfree, -10.0), upper(nfree, 10.0), gain(nfree, 2.0);
    std::vector<double> coef(nfree), step(nfree), best_point(nfree), trial(nfree), history(4);
    std::vector<int32_t> counts(nfree);
    double t_search = 1e30, t_objective = 1e30;
    int32_t evals = 0;
    for (auto _ : state) {
        std::fill(coef.begin(), coef.end(), 0.5);
        std::fill(step.begin(), step.end(), 1.0);
        double temperature = 5.0, best_value = 0;
        int32_t accepted = 0, oob = 0, status = 0, limit_hit = 0;
        const auto t0 = Clock::now();
        _saa_(prob.y.p, prob.x.p, &prob.nobs, &prob.nreg, coef.data(), &prob.quantile, &maximize,
              &cooling, &tolerance, &sweeps, &adjustments, &history_len, &max_evals,
              lower.data(), upper.data(), gain.data(), &seed1, &seed2, &temperature,
              step.data(), best_point.data(), &best_value, &accepted, &evals, &oob, &status,
              history.data(), trial.data(), counts.data(), &limit_hit, &prob.fixed_coef);
        const auto t1 = Clock::now();
        for (int32_t e = 0; e < evals; ++e) benchmark::DoNotOptimize(prob.objective(best));
        const auto t2 = Clock::now();
        const double ts = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(ts);
        t_search = std::min(t_search, ts);
        t_objective = std::min(t_objective, std::chrono::duration<double>(t2 - t1).count());
    }
    const double per_eval = 1e9 / evals;
    state.counters["evals"] = evals;
    state.counters["ns_eval"] = t_search * per_eval;
    state.counters["objective_ns_eval"] = t_objective * per_eval;
    state.counters["ratio"] = t_search / t_objective;
    state.SetLabel(vimor::kernel_name(vimor::active_kernel(k)));
}

#if VIMOR_BENCH_DEFAULT_SEARCH
// Processor time of the calling thread: on a shared machine, time spent
// waiting for a processor is not counted.
double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct DefaultRun {
    double seconds = 0.0;
    int32_t evals = 0;
    double best_value = 0.0;
};

// One complete search from the centre of the default box.
DefaultRun run_default(const DefaultSearch &p) {
    const size_t nfree = static_cast<size_t>(p.nreg - 1);
    std::vector<double> coef = p.start, step = p.step, best(nfree), trial(nfree);
    std::vector<double> history(static_cast<size_t>(std::max(1, p.history_len)));
    std::vector<int32_t> counts(nfree);
    double temperature = p.temperature;
    int32_t accepted = 0, oob = 0, status = 0, limit_hit = 0;
    DefaultRun r;
    const double t0 = thread_seconds();
    _saa_(p.response.data(), p.regressors.data(), &p.nobs, &p.nreg, coef.data(), &p.quantile,
          &p.maximize, &p.cooling, &p.tolerance, &p.sweeps, &p.adjustments, &p.history_len,
          &p.max_evals, p.lower.data(), p.upper.data(), p.step_gain.data(), &p.seed1, &p.seed2,
          &temperature, step.data(), best.data(), &r.best_value, &accepted, &r.evals, &oob,
          &status, history.data(), trial.data(), counts.data(), &limit_hit, &p.fixed_coef);
    r.seconds = thread_seconds() - t0;
    return r;
}

// Seconds for `calls` passes of the several-point kernel k as the search
// makes them: a trial one step from the start point in coordinate 0, with
// the candidates of its two covered outcomes (uphill: it moved on in
// coordinate 1; rejected: the start point moved in coordinate 1).
double pass_seconds(const DefaultSearch &p, vimor::Kernel k, int32_t calls) {
    const vimor::PointsKernel kernel = vimor::points_kernel(k);
    const size_t n = static_cast<size_t>(p.nobs);
    std::vector<double> column_max(static_cast<size_t>(p.nreg), 0.0);
    for (size_t j = 0; j < column_max.size(); ++j)
        for (size_t i = 0; i < n; ++i)
            column_max[j] = std::max(column_max[j], std::fabs(p.regressors[j * n + i]));
    std::vector<double> trial = p.start, uphill, rejected = p.start;
    trial[0] += 0.3 * p.step[0];
    uphill = trial;
    uphill[1] += 0.3 * p.step[1];
    rejected[1] -= 0.2 * p.step[1];
    const double *points[vimor::kPoints] = {trial.data(), uphill.data(), rejected.data()};
    double scores[vimor::kPoints];
    const double t0 = thread_seconds();
    for (int32_t c = 0; c < calls; ++c) {
        kernel(p.response.data(), p.regressors.data(), p.nobs, p.nreg, column_max.data(), points,
               p.quantile, p.fixed_coef, scores);
        benchmark::DoNotOptimize(scores);
    }
    return thread_seconds() - t0;
}

// A complete default search (the command line's first restart) on the
// default Mroz model (data 0) or a simulated 20000 x 6 problem (data 1),
// with the several-point kernel and evaluating one point at a time, against
// as many evaluations of the objective alone at the start point, all in the
// same iterations; and one pass of the several-point kernel against one
// objective evaluation, which with the trials a pass serves and the search's
// own work makes up the ratio.
void BM_DefaultSearch(benchmark::State &state) {
    static const DefaultSearch mroz = mroz_default_model(VIMOR_MROZ_CSV);
    static const DefaultSearch simulated = simulated_problem(20000, 2026);
    const DefaultSearch &p = state.range(0) == 0 ? mroz : simulated;
    const vimor::Kernel points = vimor::active_points_kernel();
    double t_search = 1e30, t_plain = 1e30, t_objective = 1e30, t_pass = 1e30;
    int32_t evals = 0;
    double best_value = 0.0;
    for (auto _ : state) {
        vimor::select_points_kernel(points);
        const DefaultRun fast = run_default(p);
        vimor::select_points_kernel(vimor::Kernel::scalar);
        const DefaultRun plain = run_default(p);
        vimor::select_points_kernel(points);
        if (plain.evals != fast.evals || plain.best_value != fast.best_value) {
            state.SkipWithError("the two searches differ");
            return;
        }
        const double t0 = thread_seconds();
        for (int32_t e = 0; e < fast.evals; ++e)
            benchmark::DoNotOptimize(vimor::fcna_(p.response.data(), p.regressors.data(), p.nobs,
                                                  p.nreg, p.start.data(), p.quantile,
                                                  p.fixed_coef));
        const double t_obj = thread_seconds() - t0;
        // As many passes as evaluations.
        if (vimor::points_kernel(points))
            t_pass = std::min(t_pass, pass_seconds(p, points, fast.evals));
        state.SetIterationTime(fast.seconds);
        t_search = std::min(t_search, fast.seconds);
        t_plain = std::min(t_plain, plain.seconds);
        t_objective = std::min(t_objective, t_obj);
        evals = fast.evals;
        best_value = fast.best_value;
    }
    const double per_eval = 1e9 / evals;
    state.counters["evals"] = evals;
    state.counters["best_value"] = best_value;
    state.counters["ns_eval"] = t_search * per_eval;
    state.counters["plain_ns_eval"] = t_plain * per_eval;
    state.counters["objective_ns_eval"] = t_objective * per_eval;
    state.counters["ratio"] = t_search / t_objective;
    state.counters["plain_ratio"] = t_plain / t_objective;
    if (vimor::points_kernel(points)) state.counters["pass_evals"] = t_pass / t_objective;
    state.SetLabel(std::string(state.range(0) == 0 ? "mroz " : "simulated ") +
                   vimor::kernel_name(points) + "/" + vimor::kernel_name(vimor::active_kernel(p.nreg)));
}
#endif

}  // namespace

#if VIMOR_BENCH_DEFAULT_SEARCH
BENCHMARK(BM_DefaultSearch)
    ->ArgNames({"data"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_Objective)
    ->ArgNames({"N", "K"})
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {2, 4, 10}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Kernel)
    ->ArgNames({"kernel", "N", "K"})
    ->ArgsProduct({{static_cast<int64_t>(vimor::Kernel::sse2), static_cast<int64_t>(vimor::Kernel::avx2),
                    static_cast<int64_t>(vimor::Kernel::avx512)},
                   {1000, 10000},
                   {2, 4, 8, 10}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Search)
    ->ArgNames({"N", "K", "evals"})
    ->Args({10000, 4, 2000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// The annealing search: setup, temperature stages of adjustment cycles of
// sweeps of trials, the step adjustment and the convergence test. Every
// floating-point operation is rounded to double in the order written (built
// with -ffp-contract=off): the search settles near-ties by the last bits of
// objective values.
#include "vimor_internal.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace vimor {

// Exact double widenings of the single-precision 0.6 and 0.4.
static constexpr double kHighRatio = static_cast<double>(0.6f);
static constexpr double kLowRatio = static_cast<double>(0.4f);
static constexpr double kHistoryFill = 1.0e20;
static constexpr std::int32_t kRunning = 99;
static constexpr std::int32_t kConverged = 0;
static constexpr std::int32_t kLimitReached = 1;

double exprep_(double x) {
    // Written so that NaN takes the cap.
    if (!(174.0 >= x)) return 3.69e75;
    if (-180.0 > x) return 0.0;
    return std::exp(x);
}

namespace {

// Speculation keeps its candidate points on the stack, so it stops at this
// many free coefficients; larger searches evaluate one point at a time.
constexpr std::int32_t kMaxSpeculativeFree = 64;

inline float next_draw(GeneratorState &g) { return draw(g); }
inline float next_draw(ReadAhead &g) { return g.next(); }

// The trial point that moves coordinate h of `from`, written to `to`: a draw
// from g moves it, then every coordinate outside the box is redrawn inside
// it (written so NaN is redrawn). Returns how many were redrawn.
template <class Stream>
std::int32_t trial_point(const SearchArgs &a, std::int32_t nfree, std::int32_t h,
                         const double *from, double *to, Stream &g) {
    std::int32_t redrawn = 0;
    for (std::int32_t i = 0; i < nfree; ++i) {
        if (i == h) {
            const double r = next_draw(g);
            to[i] = ((2.0 * r) - 1.0) * a.step[i] + from[i];
        } else {
            to[i] = from[i];
        }
        if (a.lower[i] > to[i] || !(a.upper[i] >= to[i])) {
            const double r = next_draw(g);
            to[i] = (a.upper[i] - a.lower[i]) * r + a.lower[i];
            ++redrawn;
        }
    }
    return redrawn;
}

bool same_point(const double *p, const double *q, std::int32_t nfree) {
    return nfree <= 0 || std::memcmp(p, q, static_cast<std::size_t>(nfree) * sizeof *p) == 0;
}

enum class Outcome { uphill, downhill_accepted, rejected };

// What a trial evaluated with the candidates for the next one knows about
// that next trial: its point and objective for the two outcomes covered.
// (An accepted downhill trial is left out: it is the rarest outcome, about
// one trial in six of the default fit against a third each uphill and a
// half rejected.)
struct Lookahead {
    double uphill_point[kMaxSpeculativeFree];    // accepted uphill: from the trial, no draw
    double rejected_point[kMaxSpeculativeFree];  // rejected: from the current point, after a draw
    double uphill_score;
    double rejected_score;
    // Set once the outcome is known to be one of the two.
    const double *next_point = nullptr;
    double next_score = 0.0;
};

// The state of one run. Values held in out-arguments (best_value,
// temperature, counters) are kept here and written back at the exits; the
// caller's rules forbid aliasing, so this is unobservable.
struct Run {
    const SearchArgs &a;
    std::int32_t nfree;
    // A stage without trials leaves every value unchanged, so if such a stage
    // fails the best-versus-current clause of the convergence test, every
    // later stage fails it too; those runs end through the limit exit.
    bool stages_make_trials;
    double current_value = 0.0;
    double best_value = 0.0;
    double temperature;
    std::int32_t accepted = 0;
    std::int32_t evals = 0;
    std::int32_t out_of_bounds = 0;
    // The several-point kernel, or null to evaluate one point at a time.
    PointsKernel points;
    Lookahead ahead;
    // Bounds of |x_ij| per column, found on the first speculative pass.
    double column_max[kMaxSpeculativeFree + 1];
    bool column_max_found = false;

    Run(const SearchArgs &args, PointsKernel kernel)
        : a(args),
          nfree(args.nreg - 1),
          stages_make_trials(args.nreg > 1 && args.sweeps > 0 && args.adjustments > 0),
          temperature(*args.temperature),
          points(args.nreg - 1 <= kMaxSpeculativeFree ? kernel : nullptr) {}

    // Objective in the internal sign: the search always maximises.
    double value(const double *point) const {
        const double s = fcna_(a.response, a.regressors, a.nobs, a.nreg, point, a.quantile,
                               a.fixed_coef);
        return a.maximize ? s : -s;
    }

    void setup() {
        rmarin_(a.seed1, a.seed2);
        *a.status = kRunning;
        for (std::int32_t i = 0; i < nfree; ++i) {
            a.best[i] = a.coef[i];
            a.accept_counts[i] = 0;
        }
        for (std::int32_t i = 0; i < a.history_len; ++i) a.history[i] = kHistoryFill;
        current_value = value(a.coef);
        ++evals;
        best_value = current_value;
        a.history[0] = current_value;
    }

    void make_trial_point(std::int32_t h) {
        const std::int32_t redrawn = trial_point(a, nfree, h, a.coef, a.trial, raset1_);
        out_of_bounds = INT32_MAX - out_of_bounds < redrawn ? INT32_MAX : out_of_bounds + redrawn;
    }

    // Metropolis acceptance of the trial that moved coordinate h; a NaN on
    // either side counts as uphill.
    Outcome accept_or_reject(std::int32_t h, double trial_value) {
        Outcome outcome = Outcome::uphill;
        if (current_value > trial_value) {
            const double p = exprep_((trial_value - current_value) / temperature);
            const double r = ranmar_();
            outcome = p > r ? Outcome::downhill_accepted : Outcome::rejected;
        } else if (!(best_value >= trial_value)) {
            for (std::int32_t i = 0; i < nfree; ++i) a.best[i] = a.trial[i];
            best_value = trial_value;
        }
        if (outcome != Outcome::rejected) {
            for (std::int32_t i = 0; i < nfree; ++i) a.coef[i] = a.trial[i];
            current_value = trial_value;
            ++accepted;
            ++a.accept_counts[h];
        }
        return outcome;
    }

    // Also gives up speculation for the run when a column is not finite:
    // the kernel would decline every pass.
    void find_column_max() {
        column_max_found = true;
        const std::ptrdiff_t n = a.nobs;
        for (std::int32_t j = 0; j < a.nreg; ++j) {
            double m = 0.0;
            const double *column = a.regressors + j * n;
            // Written so that a NaN stays (and the kernel then declines).
            for (std::ptrdiff_t i = 0; i < n; ++i) {
                const double v = std::fabs(column[i]);
                if (v > m || v != v) m = v;
                if (m != m) break;
            }
            column_max[j] = m;
            if (!(m <= 0x1p900)) points = nullptr;
        }
    }

    // The objective at the trial point, evaluated together with the two
    // candidates for the next trial (coordinate h_next) where that can be
    // done: the next point for each outcome is read ahead of the generator,
    // in copies of its state when the candidates may need more draws than
    // a read-ahead gives. Returns false when the trial is to be evaluated
    // alone.
    bool evaluate_with_candidates(std::int32_t h_next, double &score) {
        if (!column_max_found) find_column_max();
        if (!points) return false;
        // A candidate draws at most 1 + nfree numbers; the rejected one
        // starts after the acceptance draw.
        if (nfree + 1 < kReadAhead) {
            ReadAhead uphill(raset1_);
            trial_point(a, nfree, h_next, a.trial, ahead.uphill_point, uphill);
            ReadAhead rejected(raset1_);
            rejected.next();  // the rejection's acceptance draw
            trial_point(a, nfree, h_next, a.coef, ahead.rejected_point, rejected);
        } else {
            GeneratorState g = raset1_;
            trial_point(a, nfree, h_next, a.trial, ahead.uphill_point, g);
            g = raset1_;
            draw(g);  // the rejection's acceptance draw
            trial_point(a, nfree, h_next, a.coef, ahead.rejected_point, g);
        }
        const double *const point[kPoints] = {a.trial, ahead.uphill_point, ahead.rejected_point};
        double scores[kPoints];
        if (!points(a.response, a.regressors, a.nobs, a.nreg, column_max, point, a.quantile,
                    a.fixed_coef, scores))
            return false;
        // A NaN score is formed again alone, so that it is exactly the NaN
        // the single-point path gives.
        if (scores[0] != scores[0]) return false;
        score = scores[0];
        ahead.uphill_score = scores[1];
        ahead.rejected_score = scores[2];
        return true;
    }

    // One trial moving coordinate h; false when its evaluation reached the
    // limit. With a several-point kernel, a trial whose next one comes in
    // the same cycle is evaluated with that next one's candidates, and the
    // next trial takes its objective from the candidate its outcome selects.
    bool trial(std::int32_t h, bool next_in_cycle) {
        make_trial_point(h);
        double score = 0.0;
        bool evaluated = false;
        bool speculated = false;
        if (ahead.next_point) {
            evaluated = same_point(ahead.next_point, a.trial, nfree) &&
                        ahead.next_score == ahead.next_score;
            score = ahead.next_score;
            ahead.next_point = nullptr;
        } else if (points && next_in_cycle && evals + 1 < a.max_evals) {
            speculated = evaluate_with_candidates(h + 1 == nfree ? 0 : h + 1, score);
            evaluated = speculated;
        }
        if (!evaluated)
            score = fcna_(a.response, a.regressors, a.nobs, a.nreg, a.trial, a.quantile,
                          a.fixed_coef);
        const double trial_value = a.maximize ? score : -score;
        ++evals;
        if (evals >= a.max_evals) return false;
        const Outcome outcome = accept_or_reject(h, trial_value);
        if (speculated && outcome == Outcome::uphill) {
            ahead.next_point = ahead.uphill_point;
            ahead.next_score = ahead.uphill_score;
        } else if (speculated && outcome == Outcome::rejected) {
            ahead.next_point = ahead.rejected_point;
            ahead.next_score = ahead.rejected_score;
        }
        return true;
    }

    // Step adjustment after a cycle. The comparisons are written so that a
    // NaN ratio grows and a NaN step is cut to the box width. Returns whether
    // any step changed, bit for bit.
    bool adjust_steps() {
        bool changed = false;
        for (std::int32_t i = 0; i < nfree; ++i) {
            double &step = a.step[i];
            const double before = step;
            const double ratio =
                static_cast<double>(a.accept_counts[i]) / static_cast<double>(a.sweeps);
            if (!(kHighRatio >= ratio)) {
                step = ((ratio - kHighRatio) * a.step_gain[i] / kLowRatio + 1.0) * step;
            } else if (kLowRatio > ratio) {
                step = step / ((kLowRatio - ratio) / kLowRatio * a.step_gain[i] + 1.0);
            }
            const double width = a.upper[i] - a.lower[i];
            if (!(width >= step)) step = width;
            changed = changed || std::memcmp(&before, &step, sizeof before) != 0;
        }
        return changed;
    }

    // One adjustment cycle: its sweeps of trials, then the step adjustment;
    // false when the limit ended the run.
    bool cycle() {
        for (std::int32_t sweep = 0; sweep < a.sweeps; ++sweep) {
            for (std::int32_t h = 0; h < nfree; ++h) {
                const bool next_in_cycle = h + 1 < nfree || sweep + 1 < a.sweeps;
                if (!trial(h, next_in_cycle)) return false;
            }
        }
        adjust_steps();
        for (std::int32_t i = 0; i < nfree; ++i) a.accept_counts[i] = 0;
        return true;
    }

    // Without trials the counts stay 0 and every cycle applies the same map
    // to the steps; once a cycle leaves them unchanged, so would every later
    // one. With no free coefficient there is nothing to adjust at all.
    void settle_steps() {
        for (std::int32_t cycle = 0; cycle < a.adjustments && nfree > 0; ++cycle) {
            if (!adjust_steps()) break;
        }
    }

    // One stage's cycles; false when the limit ended the run.
    bool stage() {
        if (!stages_make_trials) {
            settle_steps();
            return true;
        }
        for (std::int32_t m = 0; m < a.adjustments; ++m) {
            if (!cycle()) return false;
        }
        return true;
    }

    enum class StageEnd { converged, stuck, cooled };

    // Stage end: the convergence test (written so that NaN differences fail),
    // else cooling and a restart from the best point.
    StageEnd end_stage() {
        a.history[0] = current_value;
        const bool best_close = a.tolerance >= best_value - a.history[0];
        bool converged = best_close;
        for (std::int32_t i = 0; i < a.history_len; ++i) {
            if (!(a.tolerance >= std::fabs(current_value - a.history[i]))) converged = false;
        }
        if (converged) {
            for (std::int32_t i = 0; i < nfree; ++i) a.coef[i] = a.best[i];
            return StageEnd::converged;
        }
        if (!stages_make_trials && !best_close) return StageEnd::stuck;
        temperature = temperature * a.cooling;
        for (std::int32_t i = a.history_len - 1; i >= 1; --i) a.history[i] = a.history[i - 1];
        current_value = best_value;
        for (std::int32_t i = 0; i < nfree; ++i) a.coef[i] = a.best[i];
        return StageEnd::cooled;
    }

    void finish(std::int32_t code) {
        *a.temperature = temperature;
        *a.best_value = a.maximize ? best_value : -best_value;
        *a.n_accepted = accepted;
        *a.n_evals = evals;
        *a.n_out_of_bounds = out_of_bounds;
        if (code == kLimitReached) *a.limit_hit = 1;
        *a.status = code;
    }
};

}  // namespace

static void search(const SearchArgs &args, PointsKernel points) {
    Run run(args, points);
    run.setup();
    for (;;) {
        if (!run.stage()) return run.finish(kLimitReached);
        switch (run.end_stage()) {
        case Run::StageEnd::converged:
            return run.finish(kConverged);
        case Run::StageEnd::stuck:
            return run.finish(kLimitReached);
        case Run::StageEnd::cooled:
            break;
        }
    }
}

void saa_(const SearchArgs &args) { search(args, points_kernel(active_points_kernel())); }

void saa_plain(const SearchArgs &args) { search(args, nullptr); }

}  // namespace vimor

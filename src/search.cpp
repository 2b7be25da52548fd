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

    explicit Run(const SearchArgs &args)
        : a(args),
          nfree(args.nreg - 1),
          stages_make_trials(args.nreg > 1 && args.sweeps > 0 && args.adjustments > 0),
          temperature(*args.temperature) {}

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

    // Trial point: move coordinate h, then redraw every coordinate outside
    // the box (written so NaN is redrawn).
    void make_trial_point(std::int32_t h) {
        for (std::int32_t i = 0; i < nfree; ++i) {
            if (i == h) {
                const double r = ranmar_();
                a.trial[i] = ((2.0 * r) - 1.0) * a.step[i] + a.coef[i];
            } else {
                a.trial[i] = a.coef[i];
            }
            if (a.lower[i] > a.trial[i] || !(a.upper[i] >= a.trial[i])) {
                const double r = ranmar_();
                a.trial[i] = (a.upper[i] - a.lower[i]) * r + a.lower[i];
                if (out_of_bounds < INT32_MAX) ++out_of_bounds;
            }
        }
    }

    // Metropolis acceptance of the trial that moved coordinate h; a NaN on
    // either side counts as uphill.
    void accept_or_reject(std::int32_t h, double trial_value) {
        bool accept = true;
        if (current_value > trial_value) {
            const double p = exprep_((trial_value - current_value) / temperature);
            const double r = ranmar_();
            accept = p > r;
        } else if (!(best_value >= trial_value)) {
            for (std::int32_t i = 0; i < nfree; ++i) a.best[i] = a.trial[i];
            best_value = trial_value;
        }
        if (accept) {
            for (std::int32_t i = 0; i < nfree; ++i) a.coef[i] = a.trial[i];
            current_value = trial_value;
            ++accepted;
            ++a.accept_counts[h];
        }
    }

    // One trial moving coordinate h; false when its evaluation reached the
    // limit.
    bool trial(std::int32_t h) {
        make_trial_point(h);
        const double trial_value = value(a.trial);
        ++evals;
        if (evals >= a.max_evals) return false;
        accept_or_reject(h, trial_value);
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
                if (!trial(h)) return false;
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

void saa_(const SearchArgs &args) {
    Run run(args);
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

}  // namespace vimor

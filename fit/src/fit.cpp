#include "fit.h"

#include <chrono>
#include <cmath>

#include "error.h"
#include "text.h"
#include "warnings.h"

namespace vimor_fit {

namespace {

const char *const kNotANumber =
    "the objective is not a number because an index x.b overflows; rescale the regressors";

double seconds_since(std::chrono::steady_clock::time_point began) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

void Fit::prepare() {
    if (!problem_.response) throw ArgumentError("y", "a fit needs the response");
    data_ = problem_;
    settings_ = resolve(given, data_);
    if (data_.weights) weigh_response(data_, settings_.quantile, module_response_);
    if (settings_.subsamples > 0) draws_ = draw_subsamples(data_, settings_, redrawn_);
    if (bootstrap()) states_ = draw_states(settings_.bootstrap, data_.nobs, settings_.seed, settings_.seed2);
    prepared_ = true;
    restarts_done_ = subsamples_done_ = false;
}

void Fit::run(std::int32_t threads, const Hooks &hooks) {
    if (!prepared_) throw ArgumentError("", "prepare the fit before running it");
    if (threads == 0) threads = settings_.threads;
    const auto began = std::chrono::steady_clock::now();
    std::vector<Restart> restarts(settings_.restarts);
    run_units(settings_.restarts, threads, 0, hooks,
              [&](std::int32_t r) { restarts[r] = run_restart(r); });
    const double restart_seconds = seconds_since(began);
    // The certificate, in finish_restarts, polls the host's cancel callback.
    hooks_ = &hooks;
    struct Reset {
        const Hooks *&hooks;
        ~Reset() { hooks = nullptr; }
    } reset{hooks_};
    finish_restarts(std::move(restarts));
    seconds_ = restart_seconds;
    if (resamples() == 0) return;
    const auto sampled = std::chrono::steady_clock::now();
    std::vector<SubsampleFit> fits(resamples());
    run_units(resamples(), threads, 1, hooks,
              [&](std::int32_t s) { fits[s] = run_subsample(s, nullptr); });
    finish_subsamples(std::move(fits));
    subsample_seconds_ = seconds_since(sampled);
}

Restart Fit::run_restart(std::int32_t r) const {
    if (!prepared_) throw ArgumentError("", "prepare the fit before running it");
    if (r < 0 || r >= settings_.restarts) {
        throw ArgumentError("restarts", "there is no restart " + std::to_string(r));
    }
    return vimor_fit::run_restart(module_, data_, settings_, settings_.seed2, r);
}

void Fit::finish_restarts(std::vector<Restart> restarts) {
    if (!prepared_) throw ArgumentError("", "prepare the fit before finishing it");
    for (const Restart &r : restarts) {
        if (std::isnan(r.value)) throw ArgumentError("x", kNotANumber);
    }
    restarts_ = std::move(restarts);
    choice_ = choose(restarts_, settings_.maximize, settings_.tolerance);
    coef_ = restarts_[choice_.best].best;
    objective_ = objective_at(module_, data_, settings_.quantile, coef_.data());
    if (std::isnan(objective_)) throw ArgumentError("x", kNotANumber);
    correct_ = correctly_classified(data_, coef_.data());
    certified_ = settings_.certify > 0;
    if (certified_) {
        // The flat ranges, the warnings and everything after them are at the
        // certified point when the search missed the maximum.
        searched_objective_ = objective_;
        const Hooks *hooks = hooks_;
        const auto stop = [hooks] { return hooks && hooks->cancel && hooks->cancel(hooks->cancel_user) != 0; };
        certificate_ = certify_estimate(module_, data_, settings_, coef_, stop);
        if (certificate_.improved) {
            coef_ = certificate_.point;
            objective_ = certificate_.value;
            correct_ = correctly_classified(data_, coef_.data());
        }
    }
    evaluations_ = 0;
    for (const Restart &r : restarts_) evaluations_ += r.evals;
    flat_ = flat_ranges(module_, data_, settings_.quantile, coef_, objective_);
    warnings_ = fit_warnings(data_, settings_, restarts_, choice_.best, &coef_);
    if (certified_ && certificate_.improved) {
        warnings_.push_back(missed_maximum(certificate_, searched_objective_, settings_.maximize));
    }
    if (bootstrap()) {
        switch (settings_.hessian) {
            case kHessianNumerical:
                curvature_ = numerical_curvature(module_, data_, settings_.quantile, coef_);
                break;
            case kHessianCrossfit:
                curvature_ = crossfit_curvature(module_, data_, settings_, coef_);
                break;
            default:
                curvature_ = kernel_curvature(data_, settings_.quantile, coef_, settings_.bandwidth);
        }
        half_ = draw_half_widths(data_, settings_.quantile, coef_, curvature_);
        if (curvature_.fell_back) {
            warnings_.push_back("the curvature V cross-fitted on the two halves of the rows has no "
                                "positive eigenvalue (their estimates disagree too much); the "
                                "kernel estimate at the fit's estimate was used instead, which "
                                "tends to make the intervals short");
        }
        if (curvature_.floored) {
            warnings_.push_back("the estimated curvature V is not positive definite (smallest "
                                "eigenvalue " + significant(curvature_.raw_values.back()) +
                                "); its eigenvalues were raised to " + significant(curvature_.values.back()) +
                                ", a share of the largest: the bootstrap intervals lean on that floor");
        }
    }
    seconds_ = 0;
    restarts_done_ = true;
    subsamples_done_ = false;
}

const std::vector<std::int32_t> &Fit::subsample_rows(std::int32_t s) const {
    if (bootstrap()) {
        throw ArgumentError("bootstrap", "bootstrap draws are made of counts, not rows");
    }
    if (s < 0 || s >= static_cast<std::int32_t>(draws_.size())) {
        throw ArgumentError("subsamples", "there is no subsample " + std::to_string(s));
    }
    return draws_[s];
}

SubsampleFit Fit::run_subsample(std::int32_t s, const std::int32_t *rows) const {
    if (!prepared_) throw ArgumentError("", "prepare the fit before running it");
    if (bootstrap()) {
        if (!restarts_done_) throw ArgumentError("", "finish the restarts before the bootstrap draws");
        if (s < 0 || s >= settings_.bootstrap) {
            throw ArgumentError("bootstrap", "there is no draw " + std::to_string(s));
        }
        return bootstrap_draw(module_, data_, settings_, curvature_, coef_, half_, states_[s], s);
    }
    if (!rows) rows = subsample_rows(s).data();
    if (s < 0 || s >= kSeed2Streams) {
        throw ArgumentError("subsamples", "there is no subsample " + std::to_string(s));
    }
    for (std::int32_t i = 0; i < settings_.subsample_size; ++i) {
        if (rows[i] < 0 || rows[i] >= data_.nobs) {
            throw ArgumentError("subsamples", "row " + std::to_string(rows[i]) + " is outside 0.." +
                                                  std::to_string(data_.nobs - 1));
        }
    }
    return fit_subsample(module_, data_, settings_, s, rows);
}

void Fit::finish_subsamples(std::vector<SubsampleFit> fits) {
    if (!restarts_done_) throw ArgumentError("", "finish the restarts before the subsamples");
    const char *key = bootstrap() ? "bootstrap" : "subsamples";
    if (static_cast<std::int32_t>(fits.size()) != resamples() || fits.empty()) {
        throw ArgumentError(key, "expected " + std::to_string(resamples()) + " " +
                                     (bootstrap() ? "draws" : "subsample fits") + ", got " +
                                     std::to_string(fits.size()));
    }
    for (std::size_t s = 0; s < fits.size(); ++s) {
        if (std::isnan(fits[s].value)) {
            throw ArgumentError("subsamples", "the objective of subsample fit " +
                                                  std::to_string(s + 1) +
                                                  " is not a number because an index overflows; "
                                                  "rescale the regressors");
        }
    }
    subsamples_ = std::move(fits);
    const std::int32_t nfree = data_.nfree();
    lower_.assign(nfree, 0.0);
    upper_.assign(nfree, 0.0);
    for (std::int32_t j = 0; j < nfree; ++j) {
        interval(j, settings_.level, settings_.symmetric, lower_[j], upper_[j]);
    }
    subsamples_done_ = true;
}

void Fit::interval(std::int32_t j, double level, bool symmetric, double &lower,
                   double &upper) const {
    if (subsamples_.empty()) {
        throw ArgumentError("subsamples", "the fit has no subsample fits or bootstrap draws: fit "
                                          "with {subsamples} or {bootstrap} above 0");
    }
    if (j < 0 || j >= data_.nfree()) {
        throw ArgumentError("coef", "there is no free coefficient " + std::to_string(j));
    }
    if (!(level > 0.0 && level < 1.0)) throw ArgumentError("level", shortest(level) + " is outside (0, 1)");
    const std::int32_t count = static_cast<std::int32_t>(subsamples_.size());
    if (bootstrap()) {
        check_enough_subsamples(count, level, symmetric, "level", "bootstrap", "draw");
    } else {
        check_enough_subsamples(count, level, symmetric, "level");
    }
    std::vector<double> draws(subsamples_.size());
    for (std::size_t s = 0; s < subsamples_.size(); ++s) draws[s] = subsamples_[s].coef[j];
    // A draw is of N rows, so D = N^(1/3) (draw - estimate) and the interval
    // is the subsampling one with b = N.
    vimor_fit::interval(coef_[j], draws, data_.nobs,
                        bootstrap() ? data_.nobs : settings_.subsample_size, level, symmetric,
                        lower, upper);
}

bool Fit::value(const std::string &key, std::vector<double> &out) const {
    if (!prepared_) return false;
    if (key == "nobs") return out.assign(1, data_.nobs), true;
    if (key == "nreg") return out.assign(1, data_.nreg), true;
    if (key == "fixed_coef") return out.assign(1, data_.fixed_coef), true;
    if (resolved_value(settings_, key, out)) return true;
    if (key == "redrawn") return out.assign(1, redrawn_), true;
    if (!restarts_done_) return false;
    const double n = data_.nobs;
    if (key == "coef") return out = coef_, true;
    if (key == "objective") return out.assign(1, objective_), true;
    if (key == "correct") return out.assign(1, double(correct_)), true;
    if (key == "accuracy") return out.assign(1, double(correct_) / n), true;
    if (key == "best_restart") return out.assign(1, double(choice_.best)), true;
    if (key == "reached") return out.assign(1, choice_.reached), true;
    if (key == "evaluations") return out.assign(1, double(evaluations_)), true;
    if (key == "max_objective") return out.assign(1, max_objective(data_, settings_.quantile)), true;
    if (key == "seconds") return out.assign(1, seconds_), true;
    if (key == "converged") {
        std::int32_t converged = 0;
        for (const Restart &r : restarts_) converged += r.status == 0;
        return out.assign(1, converged), true;
    }
    if (key == "restart_records") {
        out.clear();
        for (const Restart &r : restarts_) {
            const std::vector<double> record = to_record(r);
            out.insert(out.end(), record.begin(), record.end());
        }
        return true;
    }
    if (bootstrap() && key == "curvature") return out = curvature_.matrix, true;
    if (bootstrap() && key == "curvature_eigenvalues") return out = curvature_.raw_values, true;
    if (bootstrap() && key == "curvature_floored") return out.assign(1, curvature_.floored), true;
    if (bootstrap() && key == "curvature_fell_back") return out.assign(1, curvature_.fell_back), true;
    if (bootstrap() && key == "bandwidth_used") return out.assign(1, curvature_.bandwidth), true;
    if (bootstrap() && key == "draw_half_widths") return out = half_, true;
    if (certified_ && certificate_value(certificate_, key, out)) return true;
    if (key == "flat_lower" || key == "flat_upper") {
        out.clear();
        for (const FlatRange &f : flat_) out.push_back(key == "flat_lower" ? f.lo : f.hi);
        return true;
    }
    if (!subsamples_done_) return false;
    if (key == "interval_lower") return out = lower_, true;
    if (key == "interval_upper") return out = upper_, true;
    if (key == "subsample_seconds") return out.assign(1, subsample_seconds_), true;
    if (key == "subsample_estimates") {
        out.clear();
        for (const SubsampleFit &f : subsamples_) out.insert(out.end(), f.coef.begin(), f.coef.end());
        return true;
    }
    if (settings_.certify > 0.0 &&
        (key == "certified_optimal" || key == "certified_bound" || key == "certified_improved")) {
        std::int32_t count = 0;
        for (const SubsampleFit &f : subsamples_) {
            count += key == "certified_optimal"  ? f.certified == 1
                     : key == "certified_bound" ? f.certified == 0
                                                : f.improved;
        }
        return out.assign(1, count), true;
    }
    if (key == "edge_hits") {
        std::int32_t count = 0;
        for (const SubsampleFit &f : subsamples_) count += f.widened > 0;
        return out.assign(1, count), true;
    }
    if (key == "multiple_best" || key == "limit_hit") {
        std::int32_t count = 0;
        for (const SubsampleFit &f : subsamples_) count += key == "limit_hit" ? f.limit_hit : f.reached > 1;
        return out.assign(1, count), true;
    }
    return false;
}

}  // namespace vimor_fit

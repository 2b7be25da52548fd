// The C entry points: each catches every exception into the thread's last
// error and returns a status, so no exception crosses into a host.
#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "../../include/vimor_fit.h"
#include "error.h"
#include "fit.h"
#include "profile.h"
#include "text.h"

using namespace vimor_fit;

struct VimorProblem {
    Problem problem;
    std::vector<double> weights;  // scaled to mean 1
};

struct VimorFit {
    Fit fit;
};

struct VimorProfile {
    std::vector<ProfileStep> steps;
};

namespace {

thread_local std::string last_error, last_argument;

template <class F>
int guarded(F &&body) {
    try {
        body();
        last_error.clear();
        last_argument.clear();
        return VIMOR_OK;
    } catch (const Cancelled &) {
        last_error = "cancelled";
        last_argument.clear();
        return VIMOR_CANCELLED;
    } catch (const ArgumentError &e) {
        last_error = e.what();
        last_argument = e.argument;
    } catch (const std::bad_alloc &) {
        last_error = "out of memory: the data or the settings need more memory than the system grants";
        last_argument.clear();
    } catch (const std::exception &e) {
        last_error = e.what();
        last_argument.clear();
    } catch (...) {
        last_error = "unknown failure";
        last_argument.clear();
    }
    return VIMOR_ERROR;
}

template <class T>
void need(const T *pointer, const char *what) {
    if (!pointer) throw ArgumentError("", std::string(what) + " is null");
}

// The problem as the module scores it at `coef` (the weighted response, if
// weighted, into `response`), after the checks scoring and profiles share:
// a response, a quantile in (0, 1), finite coefficients.
Problem scored_view(const Problem &p, const double *coef, double quantile, const char *what,
                    std::vector<double> &response) {
    if (!p.response) throw ArgumentError("y", std::string(what) + " needs the response");
    if (!(quantile > 0.0 && quantile < 1.0)) {
        throw ArgumentError("quantile", shortest(quantile) + " is outside (0, 1)");
    }
    for (int32_t j = 0; j < p.nfree(); ++j) {
        if (!std::isfinite(coef[j])) {
            throw ArgumentError("coef", shortest(coef[j]) + " for " + quote(p.names[j]) +
                                            " is not finite");
        }
    }
    Problem weighted = p;
    if (p.weights) weigh_response(weighted, quantile, response);
    return weighted;
}

}  // namespace

extern "C" {

int vimor_cancel_flag(void *user) { return user && *static_cast<volatile int *>(user) != 0; }

const char *vimor_last_error(void) { return last_error.c_str(); }
const char *vimor_last_error_argument(void) { return last_argument.c_str(); }

int vimor_problem_new(const double *response, const double *regressors, int32_t nobs,
                      int32_t nreg, double fixed_coef, const char *const *names,
                      VimorProblem **out) {
    return guarded([&] {
        need(out, "the problem's address");
        *out = nullptr;
        need(regressors, "the regressors");
        need(names, "the names");
        auto made = std::make_unique<VimorProblem>();
        Problem &p = made->problem;
        p.response = response;
        p.regressors = regressors;
        p.nobs = nobs;
        p.nreg = nreg;
        p.fixed_coef = fixed_coef;
        for (int32_t j = 0; j < nreg; ++j) {
            need(names[j], "a name");
            p.names.emplace_back(names[j]);
        }
        check_problem(p);
        *out = made.release();
    });
}

int vimor_problem_set_weights(VimorProblem *problem, const double *weights) {
    return guarded([&] {
        need(problem, "the problem");
        Problem &p = problem->problem;
        if (!weights) {
            p.weights = nullptr;
            problem->weights.clear();
            return;
        }
        std::vector<double> scaled;
        Problem weighted = p;
        scale_weights(weighted, weights, scaled);
        problem->weights = std::move(scaled);
        p.weights = problem->weights.data();
    });
}

void vimor_problem_free(VimorProblem *problem) { delete problem; }

int vimor_index(const VimorProblem *problem, const double *coef, double *index) {
    return guarded([&] {
        need(problem, "the problem");
        need(coef, "the coefficients");
        need(index, "the index");
        const Problem &p = problem->problem;
        for (int32_t i = 0; i < p.nobs; ++i) {
            index[i] = observation_index(p, coef, i);
            if (index[i] != index[i]) {
                throw ArgumentError("x", "the index of observation " + std::to_string(i + 1) +
                                             " is not a number because x.b overflows; rescale "
                                             "the regressors");
            }
        }
    });
}

int vimor_score(const VimorProblem *problem, vimor_objective_fn objective, const double *coef,
                double quantile, double *value, double *correct) {
    return guarded([&] {
        need(problem, "the problem");
        need(reinterpret_cast<const void *>(objective), "the objective function");
        need(coef, "the coefficients");
        const Problem &p = problem->problem;
        std::vector<double> response;
        const Problem weighted = scored_view(p, coef, quantile, "scoring", response);
        Module module{objective, nullptr};
        const double v = objective_at(module, weighted, quantile, coef);
        if (v != v) {
            throw ArgumentError("x", "the objective is not a number because an index x.b "
                                     "overflows; rescale the regressors");
        }
        if (value) *value = v;
        if (correct) *correct = correctly_classified(p, coef);
    });
}

int vimor_profile_new(const VimorProblem *problem, vimor_objective_fn objective,
                      const double *coef, double quantile, int32_t j, double lower, double upper,
                      VimorProfile **out) {
    return guarded([&] {
        need(out, "the profile's address");
        *out = nullptr;
        need(problem, "the problem");
        need(reinterpret_cast<const void *>(objective), "the objective function");
        need(coef, "the coefficients");
        const Problem &p = problem->problem;
        std::vector<double> response;
        const Problem weighted = scored_view(p, coef, quantile, "a profile", response);
        if (j < 0 || j >= p.nfree()) {
            throw ArgumentError("coef", "there is no free coefficient " + std::to_string(j) +
                                            " among " + std::to_string(p.nfree()));
        }
        auto made = std::make_unique<VimorProfile>();
        made->steps = profile(Module{objective, nullptr}, weighted, quantile, coef, j, lower, upper);
        *out = made.release();
    });
}

int32_t vimor_profile_steps(const VimorProfile *profile) {
    return profile ? static_cast<int32_t>(profile->steps.size()) : 0;
}

int vimor_profile_get(const VimorProfile *profile, double *left, double *right,
                      double *objective, double *correct) {
    return guarded([&] {
        need(profile, "the profile");
        need(left, "the left ends");
        need(right, "the right ends");
        need(objective, "the objective");
        need(correct, "the correct counts");
        for (std::size_t s = 0; s < profile->steps.size(); ++s) {
            const ProfileStep &step = profile->steps[s];
            left[s] = step.left;
            right[s] = step.right;
            objective[s] = step.objective;
            correct[s] = step.correct;
        }
    });
}

void vimor_profile_free(VimorProfile *profile) { delete profile; }

int vimor_fit_new(const VimorProblem *problem, vimor_objective_fn objective,
                  vimor_search_fn search, VimorFit **out) {
    return guarded([&] {
        need(out, "the fit's address");
        *out = nullptr;
        need(problem, "the problem");
        need(reinterpret_cast<const void *>(objective), "the objective function");
        need(reinterpret_cast<const void *>(search), "the search function");
        *out = new VimorFit{Fit(problem->problem, Module{objective, search})};
    });
}

void vimor_fit_free(VimorFit *fit) { delete fit; }

int vimor_fit_set(VimorFit *fit, const char *key, const double *values, int32_t count) {
    return guarded([&] {
        need(fit, "the fit");
        need(key, "the key");
        if (count < 0) throw ArgumentError(key, "a negative number of values");
        if (count > 0) need(values, "the values");
        fit->fit.given.set(key, std::vector<double>(values, values + count));
    });
}

int vimor_fit_set_text(VimorFit *fit, const char *key, const char *value) {
    return guarded([&] {
        need(fit, "the fit");
        need(key, "the key");
        need(value, "the value");
        fit->fit.given.set_text(key, value);
    });
}

int vimor_fit_prepare(VimorFit *fit) {
    return guarded([&] {
        need(fit, "the fit");
        fit->fit.prepare();
    });
}

int vimor_fit_run(VimorFit *fit, int32_t threads, vimor_cancel_fn cancel, void *cancel_user,
                  vimor_progress_fn progress, void *progress_user) {
    return guarded([&] {
        need(fit, "the fit");
        if (threads < 0 || threads > 256) {
            throw ArgumentError("threads", std::to_string(threads) + " is outside 0..256");
        }
        fit->fit.run(threads, Hooks{cancel, cancel_user, progress, progress_user});
    });
}

int32_t vimor_restart_record_size(const VimorFit *fit) {
    return fit ? restart_record_size(fit->fit.problem().nfree()) : 0;
}

int vimor_fit_run_restart(const VimorFit *fit, int32_t r, double *record) {
    return guarded([&] {
        need(fit, "the fit");
        need(record, "the record");
        const std::vector<double> v = to_record(fit->fit.run_restart(r));
        std::copy(v.begin(), v.end(), record);
    });
}

int vimor_fit_finish_restarts(VimorFit *fit, const double *records) {
    return guarded([&] {
        need(fit, "the fit");
        need(records, "the records");
        if (!fit->fit.prepared()) throw ArgumentError("", "prepare the fit before finishing it");
        const int32_t nfree = fit->fit.problem().nfree(), size = restart_record_size(nfree);
        std::vector<Restart> restarts(fit->fit.settings().restarts);
        for (std::size_t r = 0; r < restarts.size(); ++r) {
            restarts[r] = from_record(records + r * size, nfree);
        }
        fit->fit.finish_restarts(std::move(restarts));
    });
}

int32_t vimor_subsample_record_size(const VimorFit *fit) {
    return fit ? subsample_record_size(fit->fit.problem().nfree()) : 0;
}

int vimor_fit_subsample_rows(const VimorFit *fit, int32_t s, int32_t *rows) {
    return guarded([&] {
        need(fit, "the fit");
        need(rows, "the rows");
        const std::vector<int32_t> &drawn = fit->fit.subsample_rows(s);
        std::copy(drawn.begin(), drawn.end(), rows);
    });
}

int vimor_fit_run_subsample(const VimorFit *fit, int32_t s, const int32_t *rows, double *record) {
    return guarded([&] {
        need(fit, "the fit");
        need(record, "the record");
        const std::vector<double> v = to_record(fit->fit.run_subsample(s, rows));
        std::copy(v.begin(), v.end(), record);
    });
}

int vimor_fit_finish_subsamples(VimorFit *fit, const double *records) {
    return guarded([&] {
        need(fit, "the fit");
        need(records, "the records");
        if (!fit->fit.prepared()) throw ArgumentError("", "prepare the fit before finishing it");
        const int32_t nfree = fit->fit.problem().nfree(), size = subsample_record_size(nfree);
        std::vector<SubsampleFit> fits(fit->fit.settings().subsamples + fit->fit.settings().bootstrap);
        for (std::size_t s = 0; s < fits.size(); ++s) {
            fits[s] = subsample_from_record(records + s * size, nfree);
        }
        fit->fit.finish_subsamples(std::move(fits));
    });
}

int vimor_fit_size(const VimorFit *fit, const char *key, int32_t *count) {
    return guarded([&] {
        need(fit, "the fit");
        need(key, "the key");
        need(count, "the count");
        std::vector<double> v;
        if (!fit->fit.value(key, v)) {
            throw ArgumentError("", "no result " + quote(key) + " (yet) in this fit");
        }
        *count = static_cast<int32_t>(v.size());
    });
}

int vimor_fit_get(const VimorFit *fit, const char *key, double *values, int32_t count) {
    return guarded([&] {
        need(fit, "the fit");
        need(key, "the key");
        std::vector<double> v;
        if (!fit->fit.value(key, v)) {
            throw ArgumentError("", "no result " + quote(key) + " (yet) in this fit");
        }
        if (count != static_cast<int32_t>(v.size())) {
            throw ArgumentError("", quote(key) + " holds " + std::to_string(v.size()) +
                                        " values, not " + std::to_string(count));
        }
        if (count > 0) need(values, "the values");
        std::copy(v.begin(), v.end(), values);
    });
}

int vimor_fit_interval(const VimorFit *fit, int32_t j, double level, int symmetric,
                       double *lower, double *upper) {
    return guarded([&] {
        need(fit, "the fit");
        need(lower, "the lower end");
        need(upper, "the upper end");
        fit->fit.interval(j, level, symmetric != 0, *lower, *upper);
    });
}

int vimor_interval(double estimate, const double *draws, int32_t count, int32_t nobs,
                   int32_t size, double level, int symmetric, double *lower, double *upper) {
    return guarded([&] {
        need(lower, "the lower end");
        need(upper, "the upper end");
        if (count < 1) throw ArgumentError("subsamples", "an interval needs subsample estimates");
        need(draws, "the subsample estimates");
        if (nobs < 1 || size < 1 || size > nobs) {
            throw ArgumentError("subsample_size", std::to_string(size) + " is not a subsample size of " +
                                                      std::to_string(nobs) + " observations");
        }
        if (!(level > 0.0 && level < 1.0)) {
            throw ArgumentError("level", shortest(level) + " is outside (0, 1)");
        }
        vimor_fit::check_enough_subsamples(count, level, symmetric != 0, "level");
        vimor_fit::interval(estimate, std::vector<double>(draws, draws + count), nobs, size, level,
                            symmetric != 0, *lower, *upper);
    });
}

int vimor_scaled_draws(double estimate, const double *draws, int32_t count, int32_t nobs,
                       int32_t size, double *out) {
    return guarded([&] {
        if (count < 0) throw ArgumentError("subsamples", "a negative number of draws");
        if (count > 0) {
            need(draws, "the draws");
            need(out, "the output");
        }
        if (nobs < 1 || size < 1 || size > nobs) {
            throw ArgumentError("subsample_size", std::to_string(size) + " is not a subsample size of " +
                                                      std::to_string(nobs) + " observations");
        }
        const std::vector<double> v =
            vimor_fit::scaled_draws(estimate, std::vector<double>(draws, draws + count), nobs, size);
        std::copy(v.begin(), v.end(), out);
    });
}

int32_t vimor_fit_warning_count(const VimorFit *fit) {
    return fit ? static_cast<int32_t>(fit->fit.warnings().size()) : 0;
}

const char *vimor_fit_warning(const VimorFit *fit, int32_t i) {
    if (!fit || i < 0 || i >= static_cast<int32_t>(fit->fit.warnings().size())) return "";
    return fit->fit.warnings()[i].c_str();
}

int vimor_default(const char *key, double *value) {
    return guarded([&] {
        need(key, "the key");
        need(value, "the value");
        if (!default_value(key, *value)) {
            throw ArgumentError("", "no setting " + quote(key) + " has a default of its own");
        }
    });
}

}  // extern "C"

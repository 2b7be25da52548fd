/* .Call glue between R and the estimation core. A fit lives in an external
 * pointer from the start: its finalizer frees it whichever way R leaves (an
 * error while the result is built, an interrupt), and its protected value
 * keeps the data the core borrows alive and unmodified. Core failures come
 * back as list(error, argument), for R to spell and stop with. */
#include <signal.h>
#include <stdlib.h>

#include <R.h>
#include <Rinternals.h>

#include "vimor.h"
#include "vimor_fit.h"

typedef struct {
    VimorProblem *problem;
    VimorFit *fit;
    VimorProfile *profile;
} Core;

static void core_free(SEXP ptr) {
    Core *core = R_ExternalPtrAddr(ptr);
    if (!core) return;
    if (core->profile) vimor_profile_free(core->profile);
    if (core->fit) vimor_fit_free(core->fit);
    if (core->problem) vimor_problem_free(core->problem);
    free(core);
    R_ClearExternalPtr(ptr);
}

/* An empty core in an external pointer that keeps `data` alive. */
static SEXP core_new(SEXP data) {
    Core *core = calloc(1, sizeof *core);
    if (!core) error("out of memory");
    SEXP ptr = PROTECT(R_MakeExternalPtr(core, R_NilValue, data));
    R_RegisterCFinalizerEx(ptr, core_free, TRUE);
    UNPROTECT(1);
    return ptr;
}

static SEXP utf8(const char *text) { return mkCharCE(text, CE_UTF8); }

static SEXP named_list(int n, const char **names) {
    SEXP out = PROTECT(allocVector(VECSXP, n)), labels = PROTECT(allocVector(STRSXP, n));
    for (int i = 0; i < n; ++i) SET_STRING_ELT(labels, i, mkChar(names[i]));
    setAttrib(out, R_NamesSymbol, labels);
    UNPROTECT(2);
    return out;
}

/* The core's last error, then the core freed. */
static SEXP failure(SEXP ptr) {
    static const char *names[] = {"error", "argument"};
    SEXP out = PROTECT(named_list(2, names));
    SET_VECTOR_ELT(out, 0, ScalarString(utf8(vimor_last_error())));
    SET_VECTOR_ELT(out, 1, ScalarString(utf8(vimor_last_error_argument())));
    if (ptr) core_free(ptr);
    UNPROTECT(1);
    return out;
}

/* The problem of x (N x K doubles) and y (N doubles, or NULL to predict). */
static int problem_new(SEXP y, SEXP x, SEXP fixed, SEXP names, Core *core) {
    if (!isReal(x) || !isMatrix(x) || (!isNull(y) && (!isReal(y) || XLENGTH(y) != nrows(x))) ||
        !isString(names) || XLENGTH(names) != ncols(x) || !isReal(fixed) || XLENGTH(fixed) != 1)
        error("internal: bad arguments to the core");
    const char **labels = (const char **) R_alloc(ncols(x), sizeof *labels);
    for (int j = 0; j < ncols(x); ++j) labels[j] = translateCharUTF8(STRING_ELT(names, j));
    return vimor_problem_new(isNull(y) ? NULL : REAL(y), REAL(x), nrows(x), ncols(x),
                             REAL(fixed)[0], labels, &core->problem);
}

static void check_interrupt(void *unused) {
    (void) unused;
    R_CheckUserInterrupt();
}

/* Nonzero when the user pressed Ctrl-C. R's interrupt jumps, so it is taken
 * in a top-level context of its own, never across the core's C++ frames. */
static int cancel(void *unused) {
    (void) unused;
    return !R_ToplevelExec(check_interrupt, NULL);
}

static SEXP get(const VimorFit *fit, const char *key) {
    int32_t count = 0;
    if (vimor_fit_size(fit, key, &count) != VIMOR_OK) return R_NilValue;
    SEXP out = PROTECT(allocVector(REALSXP, count));
    if (vimor_fit_get(fit, key, REAL(out), count) != VIMOR_OK) out = R_NilValue;
    UNPROTECT(1);
    return out;
}

static const char *result_keys[] = {
    "quantile", "maximize", "box_scale", "lower", "upper", "start", "step", "step_gain",
    "temperature", "cooling", "tolerance", "sweeps", "adjustments", "history_len", "max_evals",
    "restarts", "seed", "seed2", "threads", "subsamples", "subsample_size",
    "subsample_restarts", "level", "interval", "nobs", "nreg", "fixed_coef", "coef",
    "objective", "correct", "accuracy", "best_restart", "reached", "evaluations", "converged",
    "max_objective", "flat_lower", "flat_upper", "seconds", "restart_records",
    "subsample_estimates", "interval_lower", "interval_upper", "redrawn", "multiple_best",
    "limit_hit", "subsample_seconds", "certify", "certificate_status",
    "certificate_upper_bound", "certificate_upper_correct", "certificate_nodes",
    "certificate_seconds", "certificate_improved", "bootstrap", "bootstrap_restarts",
    "bandwidth", "hessian", "bandwidth_used", "curvature_eigenvalues", "curvature_floored",
    "curvature_fell_back",
    "draw_half_widths", "edge_hits", "certified_optimal", "certified_bound",
    "certified_improved"};
enum { n_results = sizeof result_keys / sizeof *result_keys };

/* Every result the fit has (a key it lacks is NULL), its warnings and the
 * index x.b of every observation; the core's fit is freed once read. */
static SEXP results(SEXP ptr) {
    const char *names[n_results + 2];
    for (int i = 0; i < n_results; ++i) names[i] = result_keys[i];
    names[n_results] = "warnings";
    names[n_results + 1] = "index";
    Core *core = R_ExternalPtrAddr(ptr);
    SEXP out = PROTECT(named_list(n_results + 2, names));
    for (int i = 0; i < n_results; ++i) SET_VECTOR_ELT(out, i, get(core->fit, result_keys[i]));
    int32_t n = vimor_fit_warning_count(core->fit);
    SEXP warnings = allocVector(STRSXP, n);
    SET_VECTOR_ELT(out, n_results, warnings);
    for (int32_t i = 0; i < n; ++i)
        SET_STRING_ELT(warnings, i, utf8(vimor_fit_warning(core->fit, i)));
    SEXP x = VECTOR_ELT(R_ExternalPtrProtected(ptr), 1);
    SEXP index = allocVector(REALSXP, nrows(x));
    SET_VECTOR_ELT(out, n_results + 1, index);
    SEXP coef = PROTECT(get(core->fit, "coef"));
    if (isNull(coef) || vimor_index(core->problem, REAL(coef), REAL(index)) != VIMOR_OK) {
        UNPROTECT(2);
        return failure(ptr);
    }
    core_free(ptr);
    UNPROTECT(2);
    return out;
}

/* Fits y on x: settings is a named list of doubles (text for "interval").
 * Ctrl-C stops the fit; the interrupt is then given back to R. */
SEXP vimor_r_fit(SEXP y, SEXP x, SEXP fixed, SEXP names, SEXP settings, SEXP weights) {
    MARK_NOT_MUTABLE(y);
    MARK_NOT_MUTABLE(x);
    if (!isNull(weights) && (!isReal(weights) || XLENGTH(weights) != XLENGTH(y)))
        error("internal: bad weights");
    MARK_NOT_MUTABLE(weights);
    SEXP data = PROTECT(allocVector(VECSXP, 3));
    SET_VECTOR_ELT(data, 0, y);
    SET_VECTOR_ELT(data, 1, x);
    SET_VECTOR_ELT(data, 2, weights);
    SEXP ptr = PROTECT(core_new(data));
    Core *core = R_ExternalPtrAddr(ptr);
    SEXP keys = getAttrib(settings, R_NamesSymbol);
    if (problem_new(y, x, fixed, names, core) != VIMOR_OK ||
        (!isNull(weights) && vimor_problem_set_weights(core->problem, REAL(weights)) != VIMOR_OK) ||
        vimor_fit_new(core->problem, _fcna_, _saa_, &core->fit) != VIMOR_OK) {
        UNPROTECT(2);
        return failure(ptr);
    }
    for (R_xlen_t i = 0; i < XLENGTH(settings); ++i) {
        const char *key = CHAR(STRING_ELT(keys, i));
        SEXP value = VECTOR_ELT(settings, i);
        if (!(isReal(value) && XLENGTH(value) <= INT32_MAX) &&
            !(isString(value) && XLENGTH(value) == 1))
            error("internal: setting %s is neither numbers nor one text", key);
        int status = isString(value)
                         ? vimor_fit_set_text(core->fit, key, translateCharUTF8(STRING_ELT(value, 0)))
                         : vimor_fit_set(core->fit, key, REAL(value), (int32_t) XLENGTH(value));
        if (status != VIMOR_OK) {
            UNPROTECT(2);
            return failure(ptr);
        }
    }
    int status = vimor_fit_prepare(core->fit);
    if (status == VIMOR_OK) status = vimor_fit_run(core->fit, 0, cancel, NULL, NULL, NULL);
    if (status == VIMOR_CANCELLED) {
        core_free(ptr);
        raise(SIGINT);
        R_CheckUserInterrupt();
        error("interrupted");
    }
    SEXP out = status == VIMOR_OK ? results(ptr) : failure(ptr);
    UNPROTECT(2);
    return out;
}

/* The interval of one coefficient from its estimate and subsample estimates,
 * at another level or kind than the fit's. */
SEXP vimor_r_interval(SEXP estimate, SEXP draws, SEXP nobs, SEXP size, SEXP level,
                      SEXP symmetric) {
    SEXP out = PROTECT(allocVector(REALSXP, 2));
    if (vimor_interval(asReal(estimate), REAL(draws), LENGTH(draws), asInteger(nobs),
                       asInteger(size), asReal(level), asLogical(symmetric), REAL(out),
                       REAL(out) + 1) != VIMOR_OK)
        out = failure(NULL);
    UNPROTECT(1);
    return out;
}

/* x.b of every row of x (a problem only to predict with). */
SEXP vimor_r_index(SEXP x, SEXP fixed, SEXP names, SEXP coef) {
    SEXP ptr = PROTECT(core_new(x));
    Core *core = R_ExternalPtrAddr(ptr);
    SEXP out = PROTECT(allocVector(REALSXP, nrows(x)));
    if (!isReal(coef) || XLENGTH(coef) != ncols(x) - 1) error("internal: bad coefficients");
    if (problem_new(R_NilValue, x, fixed, names, core) != VIMOR_OK ||
        vimor_index(core->problem, REAL(coef), REAL(out)) != VIMOR_OK)
        out = failure(NULL);
    core_free(ptr);
    UNPROTECT(2);
    return out;
}

/* The problem of y on x, weighted by `weights` (NULL: unweighted), in a core
 * that keeps all three alive. */
static SEXP scored_problem(SEXP y, SEXP x, SEXP fixed, SEXP names, SEXP weights) {
    if (!isNull(weights) && (!isReal(weights) || XLENGTH(weights) != XLENGTH(y)))
        error("internal: bad weights");
    SEXP data = PROTECT(allocVector(VECSXP, 3));
    SET_VECTOR_ELT(data, 0, y);
    SET_VECTOR_ELT(data, 1, x);
    SET_VECTOR_ELT(data, 2, weights);
    SEXP ptr = PROTECT(core_new(data));
    Core *core = R_ExternalPtrAddr(ptr);
    if (problem_new(y, x, fixed, names, core) != VIMOR_OK ||
        (!isNull(weights) && vimor_problem_set_weights(core->problem, REAL(weights)) != VIMOR_OK)) {
        UNPROTECT(2);
        return failure(ptr);
    }
    UNPROTECT(2);
    return ptr;
}

/* The objective at coef and the observations it classifies right. */
SEXP vimor_r_score(SEXP y, SEXP x, SEXP fixed, SEXP names, SEXP weights, SEXP coef,
                   SEXP quantile) {
    if (!isReal(coef) || XLENGTH(coef) != ncols(x) - 1 || !isReal(quantile) || XLENGTH(quantile) != 1)
        error("internal: bad arguments");
    SEXP ptr = PROTECT(scored_problem(y, x, fixed, names, weights));
    if (TYPEOF(ptr) != EXTPTRSXP) {
        UNPROTECT(1);
        return ptr;
    }
    Core *core = R_ExternalPtrAddr(ptr);
    SEXP out = PROTECT(allocVector(REALSXP, 2));
    double correct = 0;
    if (vimor_score(core->problem, _fcna_, REAL(coef), REAL(quantile)[0], REAL(out), &correct) !=
        VIMOR_OK)
        out = failure(NULL);
    else
        REAL(out)[1] = correct;
    core_free(ptr);
    UNPROTECT(2);
    return out;
}

/* The objective along free coefficient j (from 0) over [lower, upper], the
 * others held at coef: list(left, right, objective, correct), a value a step. */
SEXP vimor_r_profile(SEXP y, SEXP x, SEXP fixed, SEXP names, SEXP weights, SEXP coef,
                     SEXP quantile, SEXP j, SEXP lower, SEXP upper) {
    if (!isReal(coef) || XLENGTH(coef) != ncols(x) - 1 || !isReal(quantile) ||
        XLENGTH(quantile) != 1 || !isReal(lower) || XLENGTH(lower) != 1 || !isReal(upper) ||
        XLENGTH(upper) != 1)
        error("internal: bad arguments");
    SEXP ptr = PROTECT(scored_problem(y, x, fixed, names, weights));
    if (TYPEOF(ptr) != EXTPTRSXP) {
        UNPROTECT(1);
        return ptr;
    }
    Core *core = R_ExternalPtrAddr(ptr);
    if (vimor_profile_new(core->problem, _fcna_, REAL(coef), REAL(quantile)[0], asInteger(j),
                          REAL(lower)[0], REAL(upper)[0], &core->profile) != VIMOR_OK) {
        UNPROTECT(1);
        return failure(ptr);
    }
    static const char *labels[] = {"left", "right", "objective", "correct"};
    int32_t n = vimor_profile_steps(core->profile);
    SEXP out = PROTECT(named_list(4, labels));
    for (int i = 0; i < 4; ++i) SET_VECTOR_ELT(out, i, allocVector(REALSXP, n));
    if (vimor_profile_get(core->profile, REAL(VECTOR_ELT(out, 0)), REAL(VECTOR_ELT(out, 1)),
                          REAL(VECTOR_ELT(out, 2)), REAL(VECTOR_ELT(out, 3))) != VIMOR_OK) {
        UNPROTECT(2);
        return failure(ptr);
    }
    core_free(ptr);
    UNPROTECT(2);
    return out;
}

/* A coefficient's subsample or bootstrap draws on the full sample's scale,
 * as the interval reads them. */
SEXP vimor_r_scaled_draws(SEXP estimate, SEXP draws, SEXP nobs, SEXP size) {
    if (!isReal(draws)) error("internal: bad draws");
    SEXP out = PROTECT(allocVector(REALSXP, XLENGTH(draws)));
    if (vimor_scaled_draws(asReal(estimate), REAL(draws), LENGTH(draws), asInteger(nobs),
                           asInteger(size), REAL(out)) != VIMOR_OK)
        out = failure(NULL);
    UNPROTECT(1);
    return out;
}

/* The shared default of each key (NA where there is none). */
SEXP vimor_r_defaults(SEXP keys) {
    SEXP out = PROTECT(allocVector(REALSXP, XLENGTH(keys)));
    for (R_xlen_t i = 0; i < XLENGTH(keys); ++i) {
        if (vimor_default(CHAR(STRING_ELT(keys, i)), REAL(out) + i) != VIMOR_OK) REAL(out)[i] = NA_REAL;
    }
    setAttrib(out, R_NamesSymbol, keys);
    UNPROTECT(1);
    return out;
}

"""MaxScore: a multi-start maximum-score fit, as a scikit-learn classifier."""
import numbers
import time
import warnings
import zlib
from collections.abc import Mapping
from concurrent.futures import Executor

import numpy
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.exceptions import NotFittedError
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_array, check_is_fitted, check_X_y

from . import _core, _data
from ._core import FitWarning
from ._library import resolve

INTERCEPT = "(Intercept)"

# The parameters that are settings of the core, under the core's own keys.
SETTINGS = ("quantile", "restarts", "seed", "seed2", "lower", "upper", "start", "step",
            "temperature", "cooling", "tolerance", "sweeps", "adjustments", "history_len",
            "max_evals", "step_gain", "maximize", "box_scale", "subsamples", "subsample_size",
            "level", "subsample_restarts", "interval", "certify", "bootstrap",
            "bootstrap_restarts", "bandwidth", "hessian")

# scikit-learn's common checks that cannot hold for a maximum-score fit; each is
# skipped by check_estimator with its reason (and listed in the README).
NOT_APPLICABLE = {
    "check_classifiers_classes": (
        "the sign of the normalized coefficient is given (fixed_coef, +1 by default), not "
        "estimated; without an intercept, the check's data are separated only with a negative "
        "coefficient on the last column, so every fit with +1 predicts one label"),
}


class MaxScore(ClassifierMixin, BaseEstimator):
    """Binary-response quantile regression by maximum score.

    Estimates beta in y = 1[x . beta + e >= 0], the quantile-alpha of e given
    x being 0, by maximising the maximum-score objective over a box. y holds
    any two labels; classes_[1] (the larger) plays the role of 1. Beta is
    identified up to scale: the coefficient of the `normalize` column (name or
    position; the last by default) is held at `fixed_coef`. intercept=True adds
    a column "(Intercept)". The search runs `restarts` times, restart r from
    seeds (seed + r, seed2) (seed in 0..31328, seed2 in 0..30081), on n_jobs
    threads (-1: one per core) or on `executor` (a concurrent.futures.Executor;
    a Dask client's get_executor() receives the data once), and keeps the best
    run, the earliest among equals; the result depends on neither.

    Every setting of vimor.anneal may be given; None takes the default every
    vimor host shares. lower, upper, start, step and step_gain take a sequence
    in the order of the free coefficients ((Intercept) first, then the columns
    but the normalized one) or a mapping from their names; step and step_gain
    may be one number. subsamples=B > 0 refits B subsamples of subsample_size
    rows (default floor(N^(2/3))) with subsample_restarts restarts each, for
    subsampling intervals at `level` (interval "symmetric" or "equal-tailed")
    by conf_int(); bootstrap=B > 0 makes them by the reshaped bootstrap
    instead (B full-size draws, bootstrap_restarts searches each, the
    curvature by hessian "crossfit" (the default: the kernel estimate with
    bandwidth c on each half of the rows at the other half's estimate),
    "kernel" (at the estimate) or "numerical"; after
    fit: bootstrap_estimates_ and inference_). certify=SECONDS > 0 runs a branch and bound over the box
    after the restarts, for at most that long: it proves that no point of the
    box does better than the estimate, or bounds how much better one could
    do; a better point it finds becomes the estimate (with a FitWarning that
    the search missed the maximum). Parameters are checked by fit; signs that
    a fit may not mean what it seems are issued as vimor.FitWarning.

    After fit: coef_ (in the order of names_; a Series for a DataFrame),
    names_, objective_, accuracy_, results_ (an AnnealResult per restart),
    best_restart_, n_best_, seeds_, classes_, n_features_in_,
    feature_names_in_, flat_ (the range of each free coefficient keeping the
    objective, the others held: not a confidence interval) and, with
    subsamples, subsample_estimates_, subsample_size_, n_multiple_best_,
    n_redrawn_, n_limit_hit_; certificate_ (None without certify, else a dict:
    status "optimal" or "bound", upper_bound, upper_correct, nodes, seconds,
    improved, box), and with intervals resamples_certified_ (the subsample fits
    or draws proven optimal, left with a bound, improved; each certified
    within certify / B seconds). decision_function gives x . beta, predict
    classes_[1] where it is >= 0, score the accuracy; profile() the exact
    objective along each free coefficient (drawn by vimor.plot_profile).
    """

    def __init__(self, quantile=None, normalize=None, fixed_coef=None, intercept=False,
                 restarts=None, seed=None, seed2=None, n_jobs=1, *, lower=None, upper=None,
                 start=None, step=None, temperature=None, cooling=None, tolerance=None,
                 sweeps=None, adjustments=None, history_len=None, max_evals=None,
                 step_gain=None, maximize=None, box_scale=None, library=None, subsamples=0,
                 subsample_size=None, level=None, executor=None, subsample_restarts=None,
                 interval=None, certify=None, bootstrap=0, bootstrap_restarts=None,
                 bandwidth=None, hessian=None):
        # Stored as given, as scikit-learn wants; fit checks them.
        for name, value in locals().items():
            if name != "self":
                setattr(self, name, value)

    def _more_tags(self):
        # poor_score: the training-accuracy threshold of the common checks
        # assumes the sign of every coefficient is estimated; here the sign of
        # the normalized one is given, and the checks' data need the other one.
        return {"binary_only": True, "poor_score": True, "_xfail_checks": dict(NOT_APPLICABLE)}


    # ------------------------------------------------------------ fitting

    def _threads(self):
        n_jobs = self.n_jobs
        if n_jobs is None:
            return 1.0
        if isinstance(n_jobs, numbers.Integral) and not isinstance(n_jobs, bool) and n_jobs == -1:
            return 0.0  # the core's "one per core"
        threads = _data.integer(n_jobs, "n_jobs")
        if threads < 1:
            raise ValueError(f"n_jobs: must be at least 1, or -1 for one thread per core, "
                             f"got {n_jobs}")
        return threads

    def fit(self, X, y, sample_weight=None):
        """Estimate the coefficients. X: what vimor.anneal reads (a 2-D array, a
        DataFrame, a mapping of columns, rows); y: two labels; sample_weight:
        a finite, non-negative weight per row (None: every row 1), with which
        the objective and the accuracy are weighted. Returns self."""
        began = time.perf_counter()
        normalize = self.normalize
        if normalize is not None and (isinstance(normalize, bool)
                                      or not isinstance(normalize, (str, int, numpy.integer))):
            raise TypeError(f"normalize: expected a column name or position, "
                            f"got {type(normalize).__name__}")
        intercept = _data.flag(self.intercept, "intercept")
        threads = self._threads()
        if self.executor is not None and not isinstance(self.executor, Executor):
            raise TypeError(f"executor: expected a concurrent.futures.Executor, "
                            f"got {type(self.executor).__name__}")
        library = resolve(self.library)
        fixed = library.default("fixed_coef") if self.fixed_coef is None else \
            _data.real(self.fixed_coef, "fixed_coef")
        # Converted as anneal converts, then checked by scikit-learn's rules.
        names, matrix = _data.table(X)
        frame = _data.is_dataframe(X)
        self._check_feature_names(X, reset=True)
        X, y = check_X_y(matrix, _data.labels(y), dtype=None, estimator=self,
                         ensure_min_features=1 if intercept else 2)
        self._check_n_features(X, reset=True)
        check_classification_targets(y)
        classes = numpy.unique(y)
        if len(classes) != 2:
            listed = ", ".join(repr(c) for c in classes[:5].tolist())
            raise ValueError(f"y: has {len(classes)} class{'' if len(classes) == 1 else 'es'} "
                             f"({listed}{', ...' if len(classes) > 5 else ''}); a maximum-score "
                             f"fit needs exactly two")
        nobs, nreg = X.shape
        if names is None:
            names = [f"x{j + 1}" for j in range(nreg)]
        if intercept and INTERCEPT in names:
            raise ValueError(f"X: already has a column named {INTERCEPT!r}; "
                             f"rename it or fit without intercept=True")
        last = _normalized_index(names, normalize)
        order = [j for j in range(nreg) if j != last] + [last]
        design = ([INTERCEPT] if intercept else []) + [names[j] for j in order]
        response = _response(y, classes[1])
        weights = None
        if sample_weight is not None:
            weights = _data.numbers_of(_data.labels(sample_weight, "sample_weight"),
                                       "sample_weight", 1)
            if len(weights) != nobs:
                raise ValueError(f"sample_weight: has {len(weights)} values but X has {nobs} rows")
            weights = numpy.ascontiguousarray(weights)
        given = _core.settings({k: getattr(self, k) for k in SETTINGS}, design[:-1])
        given["threads"] = threads
        fit = _core.Fit(library, response, _design_matrix(X, order, intercept), nobs, design,
                        fixed, weights, given)
        try:
            if self.executor is None:
                fit.run()
                records = fit.records("restart_records",
                                      library.core.vimor_restart_record_size(fit.fit))
            else:
                records = _core.run_on(self.executor, fit, given)
            self.classes_ = classes
            self.n_ones_ = int(numpy.count_nonzero(response))
            self._read(fit, records, names, design, frame, order, intercept, fixed)
            # The arrays the core read, kept (not copied) for profile(), with a
            # checksum: one may be the caller's own array, changed after fit.
            self._response, self._regressors = fit.response, fit.regressors
            self._weights = fit.weights
            self._data_crc = _checksum(self._response, self._regressors, self._weights)
            found = fit.warnings()
        finally:
            fit.close()
        self.fit_seconds_ = time.perf_counter() - began
        for message in found:
            warnings.warn(message, FitWarning, stacklevel=2)
        return self

    def _read(self, fit, records, names, design, frame, order, intercept, fixed):
        """The fitted attributes, from the core's results."""
        nfree = len(design) - 1
        self._design, self._columns, self._intercept = design, order, intercept
        self._quantile = fit.scalar("quantile")
        self._maximized = fit.scalar("maximize") == 1.0
        self._design_coef = fit.get("coef") + [fixed]
        # Reported in the user's column order, the intercept first.
        position = {name: k for k, name in enumerate(design)}
        self.names_ = ([INTERCEPT] if intercept else []) + list(names)
        values = [self._design_coef[position[name]] for name in self.names_]
        self.coef_ = _output(values, frame, self.names_)
        self.objective_ = fit.scalar("objective")
        self.results_ = [_core.anneal_result(r, nfree) for r in records]
        self.seeds_ = [(int(r[0]), int(r[1])) for r in records]
        self.best_restart_ = int(fit.scalar("best_restart"))
        self.n_best_ = int(fit.scalar("reached"))
        self.n_obs_ = fit.nobs
        self.max_objective_ = fit.scalar("max_objective")
        self.accuracy_ = fit.scalar("accuracy")
        self._correct = int(fit.scalar("correct"))
        # The free coefficients come in the design's order in names_ too.
        self.free_names_ = design[:-1]
        self._frame = frame
        self.flat_ = _pairs(zip(fit.get("flat_lower"), fit.get("flat_upper")), frame, design[:-1])
        self._box = list(zip(fit.get("lower"), fit.get("upper")))
        self.certificate_ = None
        if fit.scalar("certify") > 0:
            self.certificate_ = {
                "status": "optimal" if fit.scalar("certificate_status") == 1.0 else "bound",
                "upper_bound": fit.scalar("certificate_upper_bound"),
                "upper_correct": fit.scalar("certificate_upper_correct"),
                "nodes": int(fit.scalar("certificate_nodes")),
                "seconds": fit.scalar("certificate_seconds"),
                "improved": fit.scalar("certificate_improved") == 1.0,
                "box": {"lower": fit.get("lower"), "upper": fit.get("upper")}}
        self.subsamples_ = count = int(fit.scalar("subsamples"))
        self.bootstrap_ = draws = int(fit.scalar("bootstrap"))
        if count == 0 and draws == 0:
            return
        self.level_ = fit.scalar("level")
        self._symmetric = fit.scalar("interval") == 1.0
        self.n_limit_hit_ = int(fit.scalar("limit_hit"))
        self._intervals = list(zip(fit.get("interval_lower"), fit.get("interval_upper")))
        estimates = numpy.array(fit.get("subsample_estimates")).reshape(count + draws, nfree)
        self._draws = estimates.T.tolist()  # for intervals at other levels
        if frame:
            import pandas
            estimates = pandas.DataFrame(estimates, columns=self.free_names_)
        if draws:
            # A draw is of N rows: the intervals are the subsampling ones with b = N.
            self._interval_size = self.n_obs_
            self.bootstrap_estimates_ = estimates
            self.inference_ = {
                "method": "reshaped bootstrap", "draws": draws,
                "restarts_per_draw": int(fit.scalar("bootstrap_restarts")),
                "hessian": {0.0: "numerical", 1.0: "kernel", 2.0: "crossfit"}[fit.scalar("hessian")],
                "bandwidth_c": fit.scalar("bandwidth"), "h": fit.scalar("bandwidth_used"),
                "curvature_eigenvalues": fit.get("curvature_eigenvalues"),
                "curvature_floored": fit.scalar("curvature_floored") == 1.0,
                "curvature_fell_back": fit.scalar("curvature_fell_back") == 1.0,
                "box_half_widths": fit.get("draw_half_widths"),
                "edge_hits": int(fit.scalar("edge_hits")),
                "draws_at_evaluation_limit": self.n_limit_hit_,
                "seconds": fit.scalar("subsample_seconds")}
            self._read_certified(fit)
            return
        self.subsample_size_ = self._interval_size = int(fit.scalar("subsample_size"))
        self.subsample_restarts_ = int(fit.scalar("subsample_restarts"))
        self.n_multiple_best_ = int(fit.scalar("multiple_best"))
        self.n_redrawn_ = int(fit.scalar("redrawn"))
        self.subsample_estimates_ = estimates
        self._read_certified(fit)

    def _read_certified(self, fit):
        """With certify: the subsample fits' or draws' certificates, counted."""
        self.resamples_certified_ = None if fit.scalar("certify") == 0 else {
            key: int(fit.scalar(f"certified_{key}")) for key in ("optimal", "bound", "improved")}

    def conf_int(self, level=None):
        """Subsampling confidence intervals of the free coefficients, one row
        (lower, upper) each in the order of names_: a (K-1) x 2 array, or a
        DataFrame indexed by the names when fitted on one. level: another
        confidence level from the same subsample fits."""
        check_is_fitted(self)
        if not (getattr(self, "subsamples_", 0) or getattr(self, "bootstrap_", 0)):
            raise RuntimeError("conf_int: this MaxScore was fitted without intervals; "
                               "fit with bootstrap=B > 0 (for example 999) or subsamples=B")
        ends = self._intervals
        if level is not None and _data.real(level, "level") != self.level_:
            library = resolve(self.library)
            ends = [_core.interval(library, self._design_coef[j], draws, self.n_obs_,
                                   self._interval_size, float(level), self._symmetric)
                    for j, draws in enumerate(self._draws)]
        return _pairs(ends, self._frame, self.free_names_)

    def profile(self, name=None, window=None):
        """The objective along each free coefficient, the others held at the
        estimate: a DataFrame with one row per step (coefficient, left, right,
        objective, correct), the objective being the module's own on the
        doubles left..right and correct the (weighted) count classified
        correctly. name: one free coefficient (None: all, in the order of
        names_). window: a (lo, hi) pair, or a mapping from names to pairs
        (the others: the fit's box); by default the fit's box."""
        check_is_fitted(self)
        if not hasattr(self, "_response"):
            raise NotFittedError("profile: this MaxScore was fitted by an older vimor, which "
                                 "kept no data; fit it again")
        if _checksum(self._response, self._regressors, self._weights) != self._data_crc:
            raise ValueError("profile: the data this model was fitted on have changed since "
                             "(fit used the arrays given, without a copy); fit it again")
        names = list(self.free_names_) if name is None else [self._free_name(name, "name")]
        ends = self._windows(window, names)
        problem = _core.Fit(resolve(self.library), self._response, self._regressors,
                            self.n_obs_, self._design, self._design_coef[-1], self._weights)
        try:
            parts = [problem.profile(self._design_coef[:-1], self._quantile,
                                     self.free_names_.index(n), lo, hi)
                     for n, (lo, hi) in zip(names, ends)]
        finally:
            problem.close()
        import pandas
        table = pandas.DataFrame({
            "coefficient": [n for n, part in zip(names, parts) for _ in part[0]],
            **{key: numpy.concatenate([part[k] for part in parts])
               for k, key in enumerate(("left", "right", "objective", "correct"))}})
        return table

    def _free_name(self, name, argument):
        if not isinstance(name, str):
            raise TypeError(f"{argument}: expected a coefficient name, got {type(name).__name__}")
        if name == self._design[-1]:
            raise ValueError(f"{argument}: {name!r} is the normalized coefficient, held at "
                             f"fixed_coef; it has no profile")
        if name not in self.free_names_:
            raise ValueError(f"{argument}: {name!r} is not a free coefficient; they are "
                             f"{', '.join(self.free_names_)}")
        return name

    def _windows(self, window, names):
        """(lo, hi) for each of `names`: given, or the fit's box."""
        box = dict(zip(self.free_names_, self._box))
        if window is None:
            return [box[n] for n in names]
        if isinstance(window, Mapping):
            given = {self._free_name(k, "window"): _window(v, f"window[{k!r}]")
                     for k, v in window.items()}
            return [given.get(n, box[n]) for n in names]
        pair = _window(window, "window")
        return [pair] * len(names)

    def _scaled_draws(self):
        """Each free coefficient's draws as its interval reads them, on the
        full sample's scale."""
        library = resolve(self.library)
        return [_core.scaled_draws(library, self._design_coef[j], draws, self.n_obs_,
                                   self._interval_size)
                for j, draws in enumerate(self._draws)]

    # ------------------------------------------------------------ using the fit

    def _fitted_X(self, X):
        check_is_fitted(self)
        fitted = self.names_[1:] if self._intercept else self.names_
        _names, matrix = _data.table(X, fitted)
        self._check_feature_names(X, reset=False)
        matrix = check_array(matrix, dtype=None, estimator=self, input_name="X")
        self._check_n_features(matrix, reset=False)
        return matrix

    def decision_function(self, X):
        """The index x . beta of each row (>= 0 predicts classes_[1]), summed in
        the module's order, so its sign is the one the objective saw."""
        X = self._fitted_X(X)
        problem = _core.Fit(resolve(self.library), None,
                            _design_matrix(X, self._columns, self._intercept), X.shape[0],
                            self._design, self._design_coef[-1])
        try:
            return problem.index(self._design_coef[:-1], numpy.empty(X.shape[0]))
        finally:
            problem.close()

    def predict(self, X):
        """classes_[1] where x . beta >= 0, else classes_[0]."""
        positive = self.decision_function(X) >= 0.0
        return self.classes_[positive.astype(numpy.intp)]

    def score(self, X, y, sample_weight=None):
        """The accuracy of predict(X) against y, read as fit reads it."""
        return super().score(X, _data.labels(y), sample_weight)

    def summary(self):
        """A readable report of the fit."""
        check_is_fitted(self)
        normalized = self._design[-1]
        width = max(len("coefficient"), *(len(n) for n in self.names_))
        intervals = getattr(self, "subsamples_", 0) > 0 or getattr(self, "bootstrap_", 0) > 0
        flat = _as_rows(self.flat_)
        ci = _as_rows(self.conf_int()) if intervals else None
        rows = {}
        for k, name in enumerate(self.free_names_):
            cells = [f"[{ci[k][0]:.6g}, {ci[k][1]:.6g}]"] if intervals else []
            rows[name] = cells + [f"[{flat[k][0]:.8g}, {flat[k][1]:.8g}]"]
        heads = ([f"{100 * self.level_:g}% interval"] if intervals else []) + ["flat range"]
        cw = [max(len(h), *(len(r[c]) for r in rows.values())) for c, h in enumerate(heads)]
        head = "".join(f"  {h:<{w}}" for h, w in zip(heads, cw))
        lines = [
            f"Maximum-score quantile regression (vimor), quantile {self._quantile:g}",
            f"{self.n_obs_} observations, {self.n_ones_} with y = {self.classes_[1]!r}; "
            f"{'maximizing' if self._maximized else 'minimizing'} the objective",
            "",
            f"{'coefficient':<{width}}  {'estimate':>14}{head}".rstrip(),
        ]
        for name, value in zip(self.names_, list(self.coef_)):
            if name == normalized:
                lines.append(f"{name:<{width}}  {value:>14.8g}  (normalized)")
                continue
            cells = "".join(f"  {c:<{w}}" for c, w in zip(rows[name], cw))
            lines.append(f"{name:<{width}}  {value:>14.8g}{cells}".rstrip())
        converged = sum(1 for r in self.results_ if r.converged)
        evals = sum(r.n_evals for r in self.results_)
        s1, s2 = self.seeds_[self.best_restart_]
        restarts = len(self.results_)
        # Every sign right gives the largest value; every sign wrong its negative.
        bound = (f"largest possible {self.max_objective_:.10g}" if self._maximized
                 else f"smallest possible {-self.max_objective_:.10g}")
        lines += [
            "",
            f"objective      {self.objective_:.10g} ({bound})",
            f"accuracy       {self.accuracy_:.4f} ({self._correct} of {self.n_obs_} with "
            f"1[x.b >= 0] equal to y)",
            f"restarts       {restarts}, {self.n_best_} reached the best objective, "
            f"{converged} converged",
            f"best restart   {self.best_restart_ + 1} of {restarts} (seeds {s1}, {s2})",
            f"evaluations    {evals} in {self.fit_seconds_:.2f} s",
        ]
        if intervals and self.bootstrap_:
            kind = "symmetric" if self._symmetric else "equal-tailed"
            i = self.inference_
            lines += [
                f"intervals      reshaped bootstrap, {kind}, {i['draws']} draws, "
                f"{i['restarts_per_draw']} restarts each; curvature by {i['hessian']}",
                f"               {i['edge_hits']} draws searched again in a wider box",
            ]
        elif intervals:
            kind = "symmetric" if self._symmetric else "equal-tailed"
            lines += [
                f"intervals      subsampling (rate n^(1/3)), {kind}, {self.subsamples_} "
                f"subsamples of {self.subsample_size_} observations, "
                f"{self.subsample_restarts_} restarts each",
                f"               {self.n_multiple_best_} of {self.subsamples_} subsample fits "
                f"reached their best value more than once; {self.n_redrawn_} draws redrawn",
            ]
        lines.append("flat range: the values each coefficient can take, the others held, with "
                     "the objective unchanged; not a confidence interval")
        return "\n".join(lines)


def _checksum(*arrays):
    """CRC-32 of the arrays' bytes (None skipped): cheap next to a fit."""
    crc = 0
    for a in arrays:
        if a is not None:
            crc = zlib.crc32(memoryview(a.ravel(order="K")).cast("B"), crc)
    return crc


def _response(y, positive):
    """The core's 0/1 response: 1 where y is the label `positive`; a float64
    vector that already is 0/1 with positive = 1 is used in place."""
    if (y.dtype == numpy.float64 and positive == 1.0 and y.flags.c_contiguous
            and not ((y != 0.0) & (y != 1.0)).any()):
        return y
    return (y == positive).astype(numpy.float64)


def _design_matrix(X, columns, intercept):
    """Column-major float64: a column of ones when `intercept`, then X's
    `columns` in that order; X itself when that is the same memory."""
    if (not intercept and list(columns) == list(range(X.shape[1]))
            and X.flags.f_contiguous and X.dtype == numpy.float64):
        return X
    extra = 1 if intercept else 0
    out = numpy.empty((X.shape[0], len(columns) + extra), dtype=numpy.float64, order="F")
    if intercept:
        out[:, 0] = 1.0
    for k, j in enumerate(columns):
        out[:, k + extra] = X[:, j]
    return out


def _normalized_index(names, normalize):
    if normalize is None:
        return len(names) - 1
    if isinstance(normalize, str):
        if normalize not in names:
            raise ValueError(f"normalize: X has no column {normalize!r}; "
                             f"its columns are {', '.join(names)}")
        return names.index(normalize)
    if not -len(names) <= normalize < len(names):
        raise ValueError(f"normalize: column {normalize} is out of range for "
                         f"{len(names)} columns")
    return int(normalize) % len(names)


def _window(value, name):
    if isinstance(value, (str, bytes, Mapping)) or not hasattr(value, "__len__") \
            or len(value) != 2:
        raise TypeError(f"{name}: expected a (lo, hi) pair, got {type(value).__name__}")
    return _data.real(value[0], f"{name}[0]"), _data.real(value[1], f"{name}[1]")


def _output(values, frame, names):
    if frame:
        import pandas
        return pandas.Series(values, index=names, dtype="float64")
    return numpy.array(values, dtype=numpy.float64)


def _pairs(pairs, frame, names):
    """(lower, upper) rows: a DataFrame indexed by the names, or a K x 2 ndarray."""
    values = numpy.array([list(p) for p in pairs], dtype=numpy.float64).reshape(-1, 2)
    if frame:
        import pandas
        return pandas.DataFrame(values, index=names, columns=["lower", "upper"])
    return values


def _as_rows(value):
    """Rows of a pairs result, whatever its kind."""
    if hasattr(value, "to_numpy"):
        value = value.to_numpy()
    return [list(map(float, row)) for row in value]

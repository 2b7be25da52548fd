"""MaxScore: a multi-start maximum-score fit, as a scikit-learn classifier."""
import os
import time
import types
from collections.abc import Mapping
from concurrent.futures import ThreadPoolExecutor

import numpy
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _data, _design
from ._core import NOT_A_NUMBER, Problem, Settings, box_settings, checked_objective, \
    scalar_settings
from ._defaults import DEFAULTS, SEED1_MODULUS, restart_seeds, tolerance as default_tolerance
from ._library import resolve

INTERCEPT = _design.INTERCEPT

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
    x being 0, by maximising the maximum-score objective over a box. y may hold
    any two labels: classes_[1] (the larger, as sorted) plays the role of 1,
    as in scikit-learn's binary classifiers. The coefficients are identified
    only up to scale: the coefficient of the `normalize` column (by name or
    position; the last column by default, which for a plain array is its last
    column) is held at `fixed_coef`. `intercept=True` adds a constant column
    named "(Intercept)". The search runs `restarts` times from seeds derived
    from `seed` (on `n_jobs` threads, -1 for every core; the result does not
    depend on it) and keeps the best run, the earliest among equals.

    Every search setting of vimor.anneal may be given too; all default to the
    values every vimor host shares. lower, upper, start, step and step_gain
    take a sequence in the order of the free coefficients ((Intercept) first,
    then the columns without the normalized one), or a mapping from their
    names (missing names keep their defaults); step and step_gain may be one
    number. Parameters are stored as given and checked by fit.

    After fit: coef_ (in the order of names_; a pandas Series for a DataFrame),
    names_, objective_ (the maximum-score objective), accuracy_ (the share of
    observations with 1[x . beta >= 0] equal to the response), results_ (one
    AnnealResult per restart, coefficients in the library's order),
    best_restart_, n_best_ (restarts reaching the best objective), seeds_,
    classes_, n_features_in_ and, for a DataFrame, feature_names_in_.
    decision_function gives the index x . beta; predict gives classes_[1]
    where it is >= 0; score gives the accuracy.
    """

    def __init__(self, quantile=DEFAULTS["quantile"], normalize=None,
                 fixed_coef=DEFAULTS["fixed_coef"], intercept=False,
                 restarts=DEFAULTS["restarts"], seed=DEFAULTS["seed"], seed2=DEFAULTS["seed2"],
                 n_jobs=1, *, lower=None, upper=None, start=None, step=None,
                 temperature=DEFAULTS["temperature"], cooling=DEFAULTS["cooling"],
                 tolerance=None, sweeps=DEFAULTS["sweeps"], adjustments=DEFAULTS["adjustments"],
                 history_len=DEFAULTS["history_len"], max_evals=DEFAULTS["max_evals"],
                 step_gain=DEFAULTS["step_gain"], maximize=DEFAULTS["maximize"], library=None):
        self.quantile = quantile
        self.normalize = normalize
        self.fixed_coef = fixed_coef
        self.intercept = intercept
        self.restarts = restarts
        self.seed = seed
        self.seed2 = seed2
        self.n_jobs = n_jobs
        self.lower = lower
        self.upper = upper
        self.start = start
        self.step = step
        self.temperature = temperature
        self.cooling = cooling
        self.tolerance = tolerance
        self.sweeps = sweeps
        self.adjustments = adjustments
        self.history_len = history_len
        self.max_evals = max_evals
        self.step_gain = step_gain
        self.maximize = maximize
        self.library = library

    def _more_tags(self):
        # poor_score: the training-accuracy threshold of the common checks
        # assumes the sign of every coefficient is estimated; here the sign of
        # the normalized one is given, and the checks' data need the other one.
        return {"binary_only": True, "poor_score": True, "_xfail_checks": dict(NOT_APPLICABLE)}

    # ------------------------------------------------------------ fitting

    def _checked_params(self):
        """Every parameter checked, in one place; fit reads them only from here."""
        normalize = self.normalize
        if normalize is not None and (isinstance(normalize, bool)
                                      or not isinstance(normalize, (str, int, numpy.integer))):
            raise TypeError(f"normalize: expected a column name or position, "
                            f"got {type(normalize).__name__}")
        n_jobs = self.n_jobs
        if n_jobs is None:
            n_jobs = 1
        elif n_jobs == -1 and not isinstance(n_jobs, bool):
            n_jobs = os.cpu_count() or 1
        return types.SimpleNamespace(
            scalars=scalar_settings(self.quantile, self.fixed_coef, self.maximize,
                                    self.temperature, self.cooling, self.tolerance, self.sweeps,
                                    self.adjustments, self.history_len, self.max_evals),
            normalize=normalize,
            intercept=_data.flag(self.intercept, "intercept"),
            # Restart r uses seed + r modulo the generator's seed range: more
            # restarts than that would repeat a run.
            restarts=_data.integer(self.restarts, "restarts", 1, SEED1_MODULUS),
            seed=_data.integer(self.seed, "seed"),
            seed2=_data.integer(self.seed2, "seed2"),
            n_jobs=_data.integer(n_jobs, "n_jobs", 1),
            box=dict(lower=self.lower, upper=self.upper, start=self.start, step=self.step,
                     step_gain=self.step_gain),
        )

    def fit(self, X, y):
        """Estimate the coefficients. X: a 2-D array, a DataFrame, a sequence of
        rows or a mapping of columns; y: two labels. Returns self."""
        began = time.perf_counter()
        p = self._checked_params()
        names, X = _design.named_input(X)
        frame = _data.is_dataframe(X)
        X, y = self._validate_data(X, y, dtype="numeric",
                                   ensure_min_features=1 if p.intercept else 2)
        X = X.astype(numpy.float64, copy=False)
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
        if p.intercept and INTERCEPT in names:
            raise ValueError(f"X: already has a column named {INTERCEPT!r}; "
                             f"rename it or fit without intercept=True")
        width = nreg + (1 if p.intercept else 0)
        if nobs * width > _data.INT32_MAX:
            raise ValueError(f"X: {nobs} x {width} values is more than the library can index")
        last = _normalized_index(names, p.normalize)
        order = [j for j in range(nreg) if j != last] + [last]
        design = ([INTERCEPT] if p.intercept else []) + [names[j] for j in order]
        response = _design.response(y, classes[1])
        problem = Problem(response, _design.design_matrix(X, order, p.intercept), nobs, width)
        settings = self._settings(p, problem, design)

        seeds = [restart_seeds(p.seed, r, p.seed2) for r in range(p.restarts)]
        lib = resolve(self.library)

        def run(pair):
            return problem.anneal(lib, settings, pair[0], pair[1])

        workers = min(p.n_jobs, p.restarts)
        if workers == 1:
            results = [run(pair) for pair in seeds]
        else:
            with ThreadPoolExecutor(max_workers=workers) as pool:
                results = list(pool.map(run, seeds))
        del problem  # the design matrix: not needed past the search
        for result in results:
            checked_objective(result.value)

        best = 0
        for r, result in enumerate(results):
            better = (result.value > results[best].value if settings.maximize
                      else result.value < results[best].value)
            if better:
                best = r
        chosen = results[best]
        coef = list(chosen.best) + [settings.fixed_coef]
        right, nan = _design.hits(X, order, coef, p.intercept, response)
        if nan:
            raise ValueError(f"X: {NOT_A_NUMBER}")

        self.classes_ = classes
        self._design = design
        self._columns = order
        self._intercept = p.intercept
        self._quantile = settings.quantile
        self._maximized = settings.maximize
        self._design_coef = coef
        # Reported in the user's column order, the intercept first.
        position = {name: k for k, name in enumerate(design)}
        self.names_ = ([INTERCEPT] if p.intercept else []) + list(names)
        values = [self._design_coef[position[name]] for name in self.names_]
        self.coef_ = _output(values, frame, self.names_)
        self.objective_ = chosen.value
        self.results_ = results
        self.best_restart_ = best
        # Fits that classify alike can differ in the last bits of the
        # objective, so "reached the best" allows the convergence tolerance.
        self.n_best_ = sum(1 for r in results
                           if abs(r.value - chosen.value) <= settings.tolerance)
        self.seeds_ = seeds
        self.n_obs_ = nobs
        n1 = int(numpy.count_nonzero(response))
        self.n_ones_ = n1
        q = settings.quantile
        self.max_objective_ = (n1 * q + (nobs - n1) * (1.0 - q)) / nobs
        self.accuracy_ = right / nobs
        self.fit_seconds_ = time.perf_counter() - began
        return self

    def _settings(self, p, problem, design):
        free = design[:-1]
        scalars = dict(p.scalars)
        widths = []

        def default_widths():
            if not widths:
                widths.extend(problem.default_widths(scalars["fixed_coef"], design))
            return widths

        given = {k: _by_name(v, free, k) for k, v in p.box.items()}
        lower, upper = given["lower"], given["upper"]
        if isinstance(lower, dict):
            lower = [lower.get(n, -default_widths()[i]) for i, n in enumerate(free)]
        if isinstance(upper, dict):
            upper = [upper.get(n, default_widths()[i]) for i, n in enumerate(free)]
        box = box_settings(len(free), lower, upper, None, None, 0.0, default_widths)
        rest = {}
        for key in ("start", "step"):
            value = given[key]
            if isinstance(value, dict):
                value = [value.get(n, box[key][i]) for i, n in enumerate(free)]
            rest[key] = value
        gain = given["step_gain"]
        if isinstance(gain, dict):
            gain = [gain.get(n, DEFAULTS["step_gain"]) for n in free]
        box = box_settings(len(free), box["lower"], box["upper"], rest["start"], rest["step"],
                           gain, default_widths)
        if scalars["tolerance"] is None:
            scalars["tolerance"] = default_tolerance(scalars["quantile"], problem.nobs)
        return Settings(**scalars, **box)

    # ------------------------------------------------------------ using the fit

    def _fitted_X(self, X):
        check_is_fitted(self)
        fitted = self.names_[1:] if self._intercept else self.names_
        _names, X = _design.named_input(X, fitted)
        X = self._validate_data(X, reset=False, dtype="numeric")
        return X.astype(numpy.float64, copy=False)

    def decision_function(self, X):
        """The index x . beta of each row (>= 0 predicts classes_[1])."""
        X = self._fitted_X(X)
        index = _design.indices(X, self._columns, self._design_coef, self._intercept)
        if _design.index_is_nan(index):
            raise ValueError(f"X: {NOT_A_NUMBER}")
        return index

    def predict(self, X):
        """classes_[1] where x . beta >= 0, else classes_[0]."""
        positive = self.decision_function(X) >= 0.0
        return self.classes_[positive.astype(numpy.intp)]

    def summary(self):
        """A readable report of the fit."""
        check_is_fitted(self)
        normalized = self._design[-1]
        width = max(len("coefficient"), *(len(n) for n in self.names_))
        lines = [
            f"Maximum-score quantile regression (vimor), quantile {self._quantile:g}",
            f"{self.n_obs_} observations, {self.n_ones_} with y = {self.classes_[1]!r}; "
            f"{'maximizing' if self._maximized else 'minimizing'} "
            f"the objective",
            "",
            f"{'coefficient':<{width}}  {'estimate':>14}",
        ]
        for name, value in zip(self.names_, list(self.coef_)):
            mark = "  (normalized)" if name == normalized else ""
            lines.append(f"{name:<{width}}  {value:>14.8g}{mark}")
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
            f"accuracy       {self.accuracy_:.4f} ({round(self.accuracy_ * self.n_obs_)} of "
            f"{self.n_obs_} with 1[x.b >= 0] equal to y)",
            f"restarts       {restarts}, {self.n_best_} reached the best objective, "
            f"{converged} converged",
            f"best restart   {self.best_restart_ + 1} of {restarts} (seeds {s1}, {s2})",
            f"evaluations    {evals} in {self.fit_seconds_:.2f} s",
        ]
        return "\n".join(lines)


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


def _by_name(value, free, name):
    """A mapping from coefficient names checked against the free coefficients."""
    if not isinstance(value, Mapping):
        return value
    unknown = [k for k in value if k not in free]
    if unknown:
        raise ValueError(f"{name}: {unknown[0]!r} is not a free coefficient; "
                         f"they are {', '.join(free)}")
    return {k: _data.real(v, f"{name}[{k!r}]") for k, v in value.items()}


def _output(values, frame, names):
    if frame:
        import pandas
        return pandas.Series(values, index=names, dtype="float64")
    return numpy.array(values, dtype=numpy.float64)

"""MaxScore: a multi-start maximum-score fit with an estimator's interface."""
import os
import time
from collections.abc import Mapping

from . import _data, _flat, _inference
from ._core import Problem, Settings, as_output, box_settings, scalar_settings
from ._defaults import DEFAULTS, restart_seeds, tolerance as default_tolerance
from ._library import resolve

INTERCEPT = "const"


class MaxScore:
    """Binary-response quantile regression by maximum score.

    Estimates beta in y = 1[x . beta + e >= 0], the quantile-alpha of e given
    x being 0, by maximising the maximum-score objective over a box. The
    coefficients are identified only up to scale: the coefficient of the
    `normalize` column (by name or position; the last column by default) is
    held at `fixed_coef`. `intercept=True` adds a constant column named
    "const". The search runs `restarts` times from seeds derived from `seed`
    (on `n_jobs` threads; the result does not depend on it) and keeps the
    best run, the earliest among equals.

    Every search setting of vimor.anneal may be given too; all default to the
    values every vimor host shares. lower, upper, start, step and step_gain
    take a sequence in the order of the free coefficients (const first, then
    the columns without the normalized one), or a mapping from their names
    (missing names keep their defaults); step and step_gain may be one number.

    Inference: subsamples=B > 0 refits the model on B subsamples of
    subsample_size rows (default floor(N^(2/3)), at least 20) drawn without
    replacement, with the full sample's box and settings and
    subsample_restarts restarts each (default: restarts), and gives
    subsampling confidence intervals at `level` (interval="symmetric", the
    default, or "equal-tailed") through conf_int(). Restarts and subsample fits run on
    n_jobs threads, or on `executor` (any concurrent.futures.Executor; a Dask
    client's get_executor() receives the data once). Results do not depend on
    either.

    After fit: coef_ (in the order of names_), names_, objective_, results_
    (one AnnealResult per restart, coefficients in the library's order),
    best_restart_, n_best_ (restarts reaching the best objective), flat_ (for
    each free coefficient, the range of values keeping the objective at its
    fitted value, the others held at the estimate: not a confidence
    interval). With subsamples: subsample_estimates_, subsample_size_,
    n_multiple_best_ (subsample fits whose best value more than one restart
    reached), n_redrawn_, n_limit_hit_.
    """

    def __init__(self, quantile=DEFAULTS["quantile"], normalize=None,
                 fixed_coef=DEFAULTS["fixed_coef"], intercept=False,
                 restarts=DEFAULTS["restarts"], seed=DEFAULTS["seed"], seed2=DEFAULTS["seed2"],
                 n_jobs=1, *, lower=None, upper=None, start=None, step=None,
                 temperature=DEFAULTS["temperature"], cooling=DEFAULTS["cooling"],
                 tolerance=None, sweeps=DEFAULTS["sweeps"], adjustments=DEFAULTS["adjustments"],
                 history_len=DEFAULTS["history_len"], max_evals=DEFAULTS["max_evals"],
                 step_gain=DEFAULTS["step_gain"], maximize=DEFAULTS["maximize"], library=None,
                 subsamples=0, subsample_size=None, level=0.95, executor=None,
                 subsample_restarts=None, interval="symmetric"):
        self._scalars = scalar_settings(quantile, fixed_coef, maximize, temperature, cooling,
                                        tolerance, sweeps, adjustments, history_len, max_evals)
        self.quantile = self._scalars["quantile"]
        self.fixed_coef = self._scalars["fixed_coef"]
        self.maximize = self._scalars["maximize"]
        if normalize is not None and (isinstance(normalize, bool)
                                      or not isinstance(normalize, (str, int))):
            raise TypeError(f"normalize: expected a column name or position, "
                            f"got {type(normalize).__name__}")
        self.normalize = normalize
        self.intercept = _data.flag(intercept, "intercept")
        self.restarts = _data.integer(restarts, "restarts", 1)
        self.seed = _data.integer(seed, "seed")
        self.seed2 = _data.integer(seed2, "seed2")
        if n_jobs is None:
            n_jobs = 1
        elif n_jobs == -1 and not isinstance(n_jobs, bool):
            n_jobs = os.cpu_count() or 1
        self.n_jobs = _data.integer(n_jobs, "n_jobs", 1)
        self._box = dict(lower=lower, upper=upper, start=start, step=step, step_gain=step_gain)
        self.library = library
        # Inference settings are kept as given and checked by fit.
        self.subsamples = subsamples
        self.subsample_size = subsample_size
        self.level = level
        self.executor = executor
        self.subsample_restarts = subsample_restarts
        self.interval = interval

    def __repr__(self):
        return (f"MaxScore(quantile={self.quantile!r}, normalize={self.normalize!r}, "
                f"fixed_coef={self.fixed_coef!r}, intercept={self.intercept!r}, "
                f"restarts={self.restarts}, seed={self.seed}, seed2={self.seed2}, "
                f"n_jobs={self.n_jobs})")

    # ------------------------------------------------------------ fitting

    def fit(self, X, y):
        """Estimate the coefficients; X: a mapping of columns, a DataFrame, a
        sequence of rows or a 2-D array; y: 0/1 responses. Returns self."""
        began = time.perf_counter()
        table = _data.regressors(X)
        names = table.names
        if self.intercept and INTERCEPT in names:
            raise ValueError(f"X: already has a column named {INTERCEPT!r}; "
                             f"rename it or fit without intercept=True")
        last = self._normalized_index(names)
        order = [j for j in range(table.nreg) if j != last] + [last]
        problem = Problem(y, table, order, self.intercept)
        design = ([INTERCEPT] if self.intercept else []) + [names[j] for j in order]
        settings = self._settings(problem, design)

        count, size, fit_restarts, level, symmetric = _inference.check(
            self.subsamples, self.subsample_size, self.subsample_restarts, self.level,
            self.interval, self.executor, problem.nobs, self.restarts)

        seeds = [restart_seeds(self.seed, r, self.seed2) for r in range(self.restarts)]
        lib = resolve(self.library)
        shared = _inference.shared_data(problem, self.executor)
        results = _inference.run(_inference.restart_task, shared,
                                 [(settings, pair, lib.path) for pair in seeds],
                                 self.n_jobs, self.executor)

        best = 0
        for r, result in enumerate(results):
            better = (result.value > results[best].value if self.maximize
                      else result.value < results[best].value)
            if better:
                best = r
        chosen = results[best]

        self._fitted_names = list(names)
        self._order = order
        self._design = design
        self._design_coef = list(chosen.best) + [self.fixed_coef]
        # Report in the user's column order, the constant first.
        position = {name: k for k, name in enumerate(design)}
        self.names_ = ([INTERCEPT] if self.intercept else []) + list(names)
        values = [self._design_coef[position[name]] for name in self.names_]
        self.coef_ = _output(values, table.kind, self.names_)
        self.objective_ = chosen.value
        self.results_ = results
        self.best_restart_ = best
        # Fits that classify alike can differ in the last bits of the
        # objective, so "reached the best" allows the convergence tolerance.
        self.n_best_ = sum(1 for r in results
                           if abs(r.value - chosen.value) <= settings.tolerance)
        self.seeds_ = seeds
        self.n_obs_ = problem.nobs
        n1 = sum(1 for v in problem.response if v == 1.0)
        self.n_ones_ = n1
        q = self.quantile
        self.max_objective_ = (n1 * q + (problem.nobs - n1) * (1.0 - q)) / problem.nobs
        self.classified_ = self._share(problem.column, problem.response, problem.nobs)
        self.fit_seconds_ = time.perf_counter() - began

        free_design = self._design_coef[:-1]
        columns = [problem.column(k) for k in range(problem.nreg)]

        def objective(j, t):
            coef = list(free_design)
            coef[j] = t
            return problem.objective(lib, coef, self.quantile, self.fixed_coef)

        value = problem.objective(lib, free_design, self.quantile, self.fixed_coef)
        flat = _flat.flat_ranges(columns, self._design_coef, value, objective)
        # Free coefficients in the order of names_; `pick` maps them to the design.
        self.free_names_ = [n for n in self.names_ if n != design[-1]]
        pick = [position[n] for n in self.free_names_]
        self.flat_ = _pairs([flat[k] for k in pick], table.kind, self.free_names_)

        self.subsamples_ = count
        if count > 0:
            self._subsample(problem, settings, shared, lib, count, size, fit_restarts,
                            level, symmetric, pick, table.kind)
        return self

    def _subsample(self, problem, settings, shared, lib, count, size, fit_restarts, level,
                   symmetric, pick, kind):
        began = time.perf_counter()
        seed, seed2 = restart_seeds(self.seed, 0, self.seed2)
        draws, redrawn = _inference.draw_subsamples(
            problem.column(problem.nreg - 1), problem.nobs, size, count, seed, seed2)
        jobs = [(rows, settings, _inference.subsample_seeds(seed, seed2, s, fit_restarts),
                 lib.path) for s, rows in enumerate(draws)]
        fits = _inference.run(_inference.subsample_task, shared, jobs, self.n_jobs,
                              self.executor)
        for s, (_coef, value, _reached, _limit) in enumerate(fits):
            if value != value:
                raise ValueError(f"subsamples: the objective of subsample fit {s + 1} is not a "
                                 f"number because an index overflows; rescale the regressors")
        self._estimates = [[f[0][k] for k in pick] for f in fits]
        self._estimate = [self._design_coef[k] for k in pick]
        self._symmetric = symmetric
        self.subsample_size_ = size
        self.subsample_restarts_ = fit_restarts
        self.level_ = level
        self.n_multiple_best_ = sum(1 for f in fits if f[2] > 1)
        self.n_limit_hit_ = sum(1 for f in fits if f[3])
        self.n_redrawn_ = redrawn
        self._kind = kind
        self.subsample_estimates_ = _matrix(self._estimates, kind, self.free_names_)
        self.inference_seconds_ = time.perf_counter() - began

    def conf_int(self, level=None):
        """Subsampling confidence intervals of the free coefficients, one row
        (lower, upper) each in the order of names_: a (K-1) x 2 array, a
        DataFrame indexed by the names when fitted on one, else a list of pairs.
        level: another confidence level from the same subsample fits."""
        self._check_fitted()
        if not getattr(self, "subsamples_", 0):
            raise RuntimeError("conf_int: this MaxScore was fitted without intervals; "
                               "fit with subsamples=B > 0 (for example 200)")
        if level is None:
            level = self.level_
        elif isinstance(level, bool) or not isinstance(level, (int, float)) \
                or not 0.0 < level < 1.0:
            raise ValueError(f"level: must lie in (0, 1), got {level!r}")
        ends = [_inference.interval(est, [row[k] for row in self._estimates], self.n_obs_,
                                    self.subsample_size_, float(level), self._symmetric)
                for k, est in enumerate(self._estimate)]
        return _pairs(ends, self._kind, self.free_names_)

    def _normalized_index(self, names):
        if self.normalize is None:
            return len(names) - 1
        if isinstance(self.normalize, str):
            if self.normalize not in names:
                raise ValueError(f"normalize: X has no column {self.normalize!r}; "
                                 f"its columns are {', '.join(names)}")
            return names.index(self.normalize)
        if not -len(names) <= self.normalize < len(names):
            raise ValueError(f"normalize: column {self.normalize} is out of range for "
                             f"{len(names)} columns")
        return self.normalize % len(names)

    def _settings(self, problem, design):
        free = design[:-1]
        scalars = dict(self._scalars)
        widths = []

        def default_widths():
            if not widths:
                widths.extend(problem.default_widths(scalars["fixed_coef"], design))
            return widths

        given = {k: _by_name(v, free, k) for k, v in self._box.items()}
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

    def _check_fitted(self):
        if not hasattr(self, "coef_"):
            raise RuntimeError("this MaxScore is not fitted yet; call fit(X, y) first")

    def _columns_for(self, X):
        """A function giving design column k of X as a list of floats, and N."""
        table = _data.regressors(X)
        if table.nreg != len(self._fitted_names):
            raise ValueError(f"X: has {table.nreg} columns, the fit had "
                             f"{len(self._fitted_names)}")
        if not table.named:
            index = list(range(table.nreg))
        else:
            missing = [n for n in self._fitted_names if n not in table.names]
            if missing:
                raise ValueError(f"X: has no column {missing[0]!r}, which the fit used")
            index = [table.names.index(n) for n in self._fitted_names]
        offset = 1 if self.intercept else 0
        n = table.nobs

        def column(k):
            if k < offset:
                return [1.0] * n
            return table.column(index[self._order[k - offset]])

        return column, n, table.kind

    def _indices(self, column, n):
        # Summed in the library's order, so a prediction agrees with the sign
        # the objective gave the same observation.
        index = [0.0] * n
        for k, b in enumerate(self._design_coef):
            x = column(k)
            index = [x[i] * b + index[i] for i in range(n)]
        return index

    def _share(self, column, response, n):
        index = self._indices(column, n)
        right = sum(1 for i in range(n) if (1.0 if index[i] >= 0.0 else 0.0) == response[i])
        return right / n

    def predict(self, X):
        """1 where x . beta >= 0, else 0: a list, or an ndarray for numpy input."""
        self._check_fitted()
        column, n, kind = self._columns_for(X)
        labels = [1 if v >= 0.0 else 0 for v in self._indices(column, n)]
        if kind == "list":
            return labels
        return _data.numpy.array(labels, dtype=_data.numpy.int64)

    def score(self, X, y):
        """Share of observations that predict() classifies correctly."""
        self._check_fitted()
        column, n, _ = self._columns_for(X)
        response, _keep = _data.response(y, n)
        return self._share(column, response, n)

    def summary(self):
        """A readable report of the fit."""
        self._check_fitted()
        normalized = self._design[-1]
        width = max(len("coefficient"), *(len(n) for n in self.names_))
        values = list(self.coef_)
        intervals = getattr(self, "subsamples_", 0) > 0
        rows = {}
        flat = _as_rows(self.flat_)
        ci = _as_rows(self.conf_int()) if intervals else None
        for k, name in enumerate(self.free_names_):
            cells = []
            if intervals:
                cells.append(f"[{ci[k][0]:.6g}, {ci[k][1]:.6g}]")
            cells.append(f"[{flat[k][0]:.8g}, {flat[k][1]:.8g}]")
            rows[name] = cells
        heads = ([f"{100 * self.level_:g}% interval"] if intervals else []) + ["flat range"]
        cw = [max(len(h), *(len(r[c]) for r in rows.values())) for c, h in enumerate(heads)]
        head = "".join(f"  {h:<{w}}" for h, w in zip(heads, cw))
        lines = [
            f"Maximum-score quantile regression (vimor), quantile {self.quantile:g}",
            f"{self.n_obs_} observations, {self.n_ones_} with y = 1; "
            f"{'maximizing' if self.maximize else 'minimizing'} the objective",
            "",
            f"{'coefficient':<{width}}  {'estimate':>14}{head}".rstrip(),
        ]
        for name, value in zip(self.names_, values):
            if name == normalized:
                lines.append(f"{name:<{width}}  {value:>14.8g}  (normalized)")
                continue
            cells = "".join(f"  {c:<{w}}" for c, w in zip(rows[name], cw))
            lines.append(f"{name:<{width}}  {value:>14.8g}{cells}".rstrip())
        converged = sum(1 for r in self.results_ if r.converged)
        evals = sum(r.n_evals for r in self.results_)
        s1, s2 = self.seeds_[self.best_restart_]
        # Every sign right gives the largest value; every sign wrong its negative.
        bound = (f"largest possible {self.max_objective_:.10g}" if self.maximize
                 else f"smallest possible {-self.max_objective_:.10g}")
        lines += [
            "",
            f"objective      {self.objective_:.10g} ({bound})",
            f"classified     {self.classified_:.4f} of observations correctly",
            f"restarts       {self.restarts}, {self.n_best_} reached the best objective, "
            f"{converged} converged",
            f"best restart   {self.best_restart_ + 1} of {self.restarts} (seeds {s1}, {s2})",
            f"evaluations    {evals} in {self.fit_seconds_:.2f} s",
        ]
        if intervals:
            kind = "symmetric" if self._symmetric else "equal-tailed"
            lines += [
                f"intervals      subsampling (rate n^(1/3)), {kind}, {self.subsamples_} "
                f"subsamples of {self.subsample_size_} observations, "
                f"{self.subsample_restarts_} restarts each",
                f"               {self.n_multiple_best_} of {self.subsamples_} subsample fits "
                f"reached their best value more than once; {self.n_redrawn_} draws redrawn; "
                f"{self.inference_seconds_:.2f} s",
            ]
        lines.append("flat range: the values each coefficient can take, the others held, with "
                     "the objective unchanged; not a confidence interval")
        return "\n".join(lines)


def _by_name(value, free, name):
    """A mapping from coefficient names checked against the free coefficients."""
    if not isinstance(value, Mapping):
        return value
    unknown = [k for k in value if k not in free]
    if unknown:
        raise ValueError(f"{name}: {unknown[0]!r} is not a free coefficient; "
                         f"they are {', '.join(free)}")
    return {k: _data.real(v, f"{name}[{k!r}]") for k, v in value.items()}


def _output(values, kind, names):
    if kind == "pandas":
        import pandas
        return pandas.Series(values, index=names, dtype="float64")
    return as_output(values, kind)


def _pairs(pairs, kind, names):
    """(lower, upper) rows as the input's kind: a DataFrame, an ndarray or a list."""
    if kind == "pandas":
        import pandas
        return pandas.DataFrame([list(p) for p in pairs], index=names,
                                columns=["lower", "upper"], dtype="float64")
    if kind != "list":
        return _data.numpy.array([list(p) for p in pairs], dtype=_data.numpy.float64)
    return [list(p) for p in pairs]


def _matrix(rows, kind, names):
    if kind == "pandas":
        import pandas
        return pandas.DataFrame(rows, columns=names, dtype="float64")
    if kind != "list":
        return _data.numpy.array(rows, dtype=_data.numpy.float64).reshape(len(rows), len(names))
    return [list(r) for r in rows]


def _as_rows(value):
    """Rows of a pairs result, whatever its kind."""
    if hasattr(value, "to_numpy"):
        value = value.to_numpy()
    return [list(map(float, row)) for row in value]

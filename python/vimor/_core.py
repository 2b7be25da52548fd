"""One function per export: objective() calls _fcna_, anneal() calls _saa_."""
import array
import ctypes
import math
from dataclasses import dataclass, replace
from typing import Sequence

from . import _data
from ._defaults import DEFAULTS, BoxError, half_widths, restart_seeds
from ._defaults import tolerance as default_tolerance
from ._library import resolve

_DEFAULT_SEEDS = restart_seeds(DEFAULTS["seed"], 0, DEFAULTS["seed2"])


@dataclass(frozen=True)
class AnnealResult:
    """The outcome of one annealing run.

    best: the best point found (the free coefficients); value: the objective
    there; n_accepted, n_evals, n_out_of_bounds: the run's counters;
    temperature and step: those of the last stage; converged: the convergence
    test ended the run (status 0) rather than the evaluation limit (status 1).
    """
    best: Sequence[float]
    value: float
    n_accepted: int
    n_evals: int
    n_out_of_bounds: int
    temperature: float
    step: Sequence[float]
    converged: bool
    status: int


@dataclass(frozen=True)
class Settings:
    """Validated settings of a search, per-coefficient ones as array('d')."""
    quantile: float
    fixed_coef: float
    maximize: bool
    temperature: float
    cooling: float
    tolerance: float
    sweeps: int
    adjustments: int
    history_len: int
    max_evals: int
    start: array.array
    lower: array.array
    upper: array.array
    step: array.array
    step_gain: array.array


def scalar_settings(quantile, fixed_coef, maximize, temperature, cooling, tolerance,
                    sweeps, adjustments, history_len, max_evals):
    """Validated scalar settings (tolerance may be None: derived later from the data)."""
    values = dict(
        quantile=_data.quantile(quantile),
        fixed_coef=_data.real(fixed_coef, "fixed_coef"),
        maximize=_data.flag(maximize, "maximize"),
        temperature=_data.real(temperature, "temperature"),
        cooling=_data.real(cooling, "cooling"),
        tolerance=None if tolerance is None else _data.real(tolerance, "tolerance"),
        sweeps=_data.integer(sweeps, "sweeps", 1),
        adjustments=_data.integer(adjustments, "adjustments", 1),
        # Each stage end walks and shifts the whole history, and a run needs
        # at least that many stages: the cost grows with its square.
        history_len=_data.integer(history_len, "history_len", 1, 10000),
        max_evals=_data.integer(max_evals, "max_evals", 1),
    )
    if values["fixed_coef"] == 0.0:
        raise ValueError("fixed_coef: must not be 0; it sets the scale of the coefficients")
    if values["temperature"] <= 0.0:
        raise ValueError(f"temperature: must be positive, got {values['temperature']!r}")
    if not 0.0 < values["cooling"] <= 1.0:
        raise ValueError(f"cooling: must lie in (0, 1], got {values['cooling']!r}")
    if values["tolerance"] is not None and values["tolerance"] < 0.0:
        raise ValueError(f"tolerance: must not be negative, got {values['tolerance']!r}")
    return values


def box_settings(nfree, lower, upper, start, step, step_gain, default_widths,
                 step_fraction=None):
    """Validated per-coefficient settings; `default_widths()` gives the half-widths
    of the default box and is called only when a bound is missing."""
    if lower is None or upper is None:
        widths = default_widths()
        lower = [-w for w in widths] if lower is None else lower
        upper = list(widths) if upper is None else upper
    lower = _data.vector(lower, nfree, "lower")
    upper = _data.vector(upper, nfree, "upper")
    for i in range(nfree):
        if lower[i] > upper[i]:
            raise ValueError(f"lower[{i}]: {lower[i]!r} is above upper[{i}] = {upper[i]!r}")
    if start is None:
        start = [0.5 * lo + 0.5 * up for lo, up in zip(lower, upper)]
    start = _data.vector(start, nfree, "start")
    for i in range(nfree):
        if not lower[i] <= start[i] <= upper[i]:
            raise ValueError(f"start[{i}]: {start[i]!r} lies outside the box "
                             f"[{lower[i]!r}, {upper[i]!r}]")
    if step is None:
        fraction = DEFAULTS["step_fraction"] if step_fraction is None else step_fraction
        step = [fraction * (up - lo) for lo, up in zip(lower, upper)]
    step = _data.vector(step, nfree, "step", scalar_ok=True)
    step_gain = _data.vector(step_gain, nfree, "step_gain", scalar_ok=True)
    for name, values in (("step", step), ("step_gain", step_gain)):
        for i, v in enumerate(values):
            if v < 0.0:
                raise ValueError(f"{name}[{i}]: must not be negative, got {v!r}")
    return dict(lower=lower, upper=upper, start=start, step=step, step_gain=step_gain)


NOT_A_NUMBER = ("the objective is not a number because an index overflows; "
                "rescale the regressors")


def checked_objective(value, name="X"):
    """The objective, refused when it is NaN (an index x . beta overflowed)."""
    if math.isnan(value):
        raise ValueError(f"{name}: {NOT_A_NUMBER}")
    return value


class Problem:
    """A data set in the library's layout, kept alive for the calls made on it.

    regressors: column-major float64 memory (array('d') or ndarray), N x K;
    response: float64 memory of N values 0 or 1; keep: whatever must stay
    alive and unresized while the library reads them.
    """

    def __init__(self, response, regressors, nobs, nreg, keep=None):
        # The library reads doubles at their natural alignment; an ndarray may
        # lie anywhere in its buffer (np.frombuffer, or data unpickled on a
        # Dask worker), and such a one is copied once here.
        self.response = _data.aligned(response, "C")
        self.regressors = _data.aligned(regressors, "F")
        self.nobs = nobs
        self.nreg = nreg
        self._keep = keep

    @classmethod
    def from_table(cls, y, table, order=None, intercept=False, y_name="y"):
        nreg = (table.nreg if order is None else len(order)) + (1 if intercept else 0)
        response, keep = _data.response(y, table.nobs, y_name)
        return cls(response, table.design(order, intercept), table.nobs, nreg, keep)

    def column(self, j):
        """Design column j: an ndarray view, or a list for array('d') memory."""
        n = self.nobs
        if isinstance(self.regressors, array.array):
            return self.regressors[j * n:(j + 1) * n].tolist()
        return self.regressors[:, j]

    def default_widths(self, fixed_coef, names, name="X"):
        """Half-widths of the default box; names: the design's column names."""
        k = self.nreg
        try:
            return half_widths([self.column(j) for j in range(k - 1)], self.column(k - 1),
                               fixed_coef)
        except BoxError as exc:
            which = (f"the normalized column {names[-1]!r}" if exc.column is None
                     else f"column {names[exc.column]!r}")
            raise ValueError(f"{name}: {which} {exc.problem}; give lower and upper") from None

    def objective(self, lib, coef, quantile, fixed_coef):
        coef = array.array("d", coef)
        score = ctypes.c_double()
        lib.fcna(_data.pointer(self.response), _data.pointer(self.regressors),
                 ctypes.byref(ctypes.c_int32(self.nobs)), ctypes.byref(ctypes.c_int32(self.nreg)),
                 _data.pointer(coef), ctypes.byref(score), ctypes.byref(ctypes.c_double(quantile)),
                 ctypes.byref(ctypes.c_double(fixed_coef)))
        return score.value

    def anneal(self, lib, s, seed1, seed2):
        """One run of _saa_ with its own work arrays, so runs may share a Problem
        across threads."""
        m = self.nreg - 1
        d, i32 = ctypes.c_double, ctypes.c_int32
        coef = (d * m)(*s.start)
        temperature = d(s.temperature)
        step = (d * m)(*s.step)
        best = (d * m)()
        best_value = d()
        n_accepted, n_evals, n_out, status, limit_hit = i32(), i32(), i32(), i32(), i32(0)
        history = (d * max(1, s.history_len))()
        trial = (d * m)()
        accept_counts = (i32 * m)()
        lower, upper, gain = ((d * m)(*v) for v in (s.lower, s.upper, s.step_gain))
        r = ctypes.byref
        lib.saa(_data.pointer(self.response), _data.pointer(self.regressors),
                r(i32(self.nobs)), r(i32(self.nreg)), coef, r(d(s.quantile)),
                r(i32(1 if s.maximize else 0)), r(d(s.cooling)), r(d(s.tolerance)),
                r(i32(s.sweeps)), r(i32(s.adjustments)), r(i32(s.history_len)),
                r(i32(s.max_evals)), lower, upper, gain, r(i32(seed1)), r(i32(seed2)),
                r(temperature), step, best, r(best_value), r(n_accepted), r(n_evals),
                r(n_out), r(status), history, trial, accept_counts, r(limit_hit),
                r(d(s.fixed_coef)))
        return AnnealResult(best=list(best), value=best_value.value,
                            n_accepted=n_accepted.value, n_evals=n_evals.value,
                            n_out_of_bounds=n_out.value, temperature=temperature.value,
                            step=list(step), converged=status.value == 0,
                            status=status.value)


def as_output(values, kind):
    """A list, or a float64 ndarray when the input was numpy."""
    if kind != "list":
        return _data.numpy.array(values, dtype=_data.numpy.float64)
    return list(values)


def objective(y, X, coef, quantile=DEFAULTS["quantile"], fixed_coef=DEFAULTS["fixed_coef"], *,
              library=None):
    """The maximum-score objective at coefficients (coef..., fixed_coef).

    y: 0/1 responses; X: rows, a mapping of columns, or a 2-D array (N x K);
    coef: the K-1 free coefficients, the last column's being fixed_coef.
    Returns a float; raises ValueError when it is NaN (an index overflows).
    """
    table = _data.regressors(X)
    problem = Problem.from_table(y, table)
    q = _data.quantile(quantile)
    fixed = _data.real(fixed_coef, "fixed_coef")
    coef = _data.vector(coef, problem.nreg - 1, "coef")
    return checked_objective(problem.objective(resolve(library), coef, q, fixed))


def anneal(y, X, *, quantile=DEFAULTS["quantile"], fixed_coef=DEFAULTS["fixed_coef"],
           start=None, lower=None, upper=None, step=None,
           temperature=DEFAULTS["temperature"], cooling=DEFAULTS["cooling"], tolerance=None,
           sweeps=DEFAULTS["sweeps"], adjustments=DEFAULTS["adjustments"],
           history_len=DEFAULTS["history_len"], max_evals=DEFAULTS["max_evals"],
           step_gain=DEFAULTS["step_gain"], maximize=DEFAULTS["maximize"],
           seed1=_DEFAULT_SEEDS[0], seed2=_DEFAULT_SEEDS[1], library=None):
    """One simulated-annealing search of the box lower <= coef <= upper.

    The last column's coefficient is held at fixed_coef. Missing settings take
    the shared defaults: the box from the data (centred at 0, sized by the
    columns' spread), the start at the box centre, the steps a fixed share of
    the box, a tolerance below the smallest change of the objective. A
    per-coefficient setting is a sequence of K-1 numbers; step and step_gain
    may also be one number for all. Returns an AnnealResult.
    """
    scalars = scalar_settings(quantile, fixed_coef, maximize, temperature, cooling, tolerance,
                              sweeps, adjustments, history_len, max_evals)
    seed1 = _data.integer(seed1, "seed1")
    seed2 = _data.integer(seed2, "seed2")
    table = _data.regressors(X)
    problem = Problem.from_table(y, table)
    box = box_settings(problem.nreg - 1, lower, upper, start, step, step_gain,
                       lambda: problem.default_widths(scalars["fixed_coef"], table.names))
    if scalars["tolerance"] is None:
        scalars["tolerance"] = default_tolerance(scalars["quantile"], problem.nobs)
    settings = Settings(**scalars, **box)
    result = problem.anneal(resolve(library), settings, seed1, seed2)
    checked_objective(result.value)
    if table.kind == "list":
        return result
    return _with_arrays(result, table.kind)


def _with_arrays(result, kind):
    return replace(result, best=as_output(result.best, kind), step=as_output(result.step, kind))

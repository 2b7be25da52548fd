"""The core's problems and fits as Python objects, the units of a fit sent to
an executor, and the two direct functions: objective() and anneal()."""
import ctypes
import threading
from collections.abc import Mapping
from dataclasses import dataclass, replace
from typing import Sequence

import numpy

from . import _data
from ._library import ERROR, CANCELLED, resolve, spelled

INT32_MAX = 2 ** 31 - 1


class FitWarning(UserWarning):
    """A sign from the estimation core that a fit may not mean what it seems."""


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


def anneal_result(record, nfree):
    """An AnnealResult from a restart record of the core."""
    return AnnealResult(best=list(record[8:8 + nfree]), value=record[2],
                        n_accepted=int(record[6]), n_evals=int(record[5]),
                        n_out_of_bounds=int(record[7]), temperature=record[3],
                        step=list(record[8 + nfree:8 + 2 * nfree]), converged=record[4] == 0,
                        status=int(record[4]))


def _text(value, name):
    if not isinstance(value, str):
        raise TypeError(f"{name}: expected a string, got {type(value).__name__}")
    return value


_KINDS = dict.fromkeys(("quantile", "box_scale", "temperature", "cooling", "tolerance", "level",
                        "certify", "bandwidth"), _data.real)
_KINDS.update(dict.fromkeys(("sweeps", "adjustments", "history_len", "max_evals", "restarts",
                             "seed", "seed2", "threads", "subsamples", "subsample_size",
                             "subsample_restarts", "bootstrap", "bootstrap_restarts"),
                            _data.integer))
_KINDS.update(maximize=lambda v, n: float(_data.flag(v, n)), interval=_text, hessian=_text,
              lower=_data.floats, upper=_data.floats, start=_data.floats,
              step=lambda v, n: _data.floats(v, n, scalar_ok=True),
              step_gain=lambda v, n: _data.floats(v, n, scalar_ok=True))


def settings(given, free, spelling=None):
    """The settings given (None: the shared default) in the core's form: a
    float, a list of floats, or text. A mapping from coefficient names gives
    some coefficients, NaN standing for the default of the others."""
    out = {}
    for key, value in given.items():
        name = (spelling or {}).get(key, key)
        if value is None:
            continue
        if isinstance(value, Mapping) and key in ("lower", "upper", "start", "step", "step_gain"):
            unknown = [k for k in value if k not in free]
            if unknown:
                raise ValueError(f"{name}: {unknown[0]!r} is not a free coefficient; "
                                 f"they are {', '.join(free)}")
            values = {k: _data.real(v, f"{name}[{k!r}]") for k, v in value.items()}
            out[key] = [values.get(n, float("nan")) for n in free]
        else:
            out[key] = _KINDS[key](value, name)
    return out


class Fit:
    """A problem in the core and, given settings, a prepared fit of it; both
    freed together. The data are borrowed, so they are held here."""
    problem = fit = None

    def __init__(self, library, response, regressors, nobs, names, fixed_coef, weights=None,
                 given=None, spelling=None):
        self.lib, self.spelling = library, spelling
        self.response = _data.aligned(response, "C")
        self.weights = None if weights is None else _data.aligned(weights, "C")
        self.regressors = _data.aligned(regressors, "F")
        self.nobs, self.names, self.fixed_coef = nobs, list(names), fixed_coef
        if nobs * max(len(names), 1) > INT32_MAX:
            raise ValueError(f"X: {nobs} x {len(names)} values is more than the module can index")
        self.problem, self.fit = ctypes.c_void_p(), ctypes.c_void_p()
        texts = (ctypes.c_char_p * len(names))(*(n.encode("utf-8", "replace") for n in names))
        self._call("vimor_problem_new", _data.pointer(self.response),
                   _data.pointer(self.regressors), nobs, len(names), fixed_coef, texts,
                   ctypes.byref(self.problem))
        if self.weights is not None:
            self._call("vimor_problem_set_weights", self.problem, _data.pointer(self.weights))
        if given is None:
            return
        self._call("vimor_fit_new", self.problem, library.objective_fn, library.search_fn,
                   ctypes.byref(self.fit))
        for key, value in given.items():
            if isinstance(value, str):
                self._call("vimor_fit_set_text", self.fit, key.encode(), value.encode())
            else:
                values = value if isinstance(value, list) else [value]
                self._call("vimor_fit_set", self.fit, key.encode(),
                           (ctypes.c_double * len(values))(*values), len(values))
        self._call("vimor_fit_prepare", self.fit)

    def _call(self, name, *args):
        return self.lib.call(name, *args, spelling=self.spelling)

    def close(self):
        if self.fit:
            self.lib.core.vimor_fit_free(self.fit)
        if self.problem:
            self.lib.core.vimor_problem_free(self.problem)
        self.fit = self.problem = None

    __del__ = close

    def get(self, key):
        count = ctypes.c_int32()
        self._call("vimor_fit_size", self.fit, key.encode(), ctypes.byref(count))
        values = (ctypes.c_double * count.value)()
        self._call("vimor_fit_get", self.fit, key.encode(), values, count.value)
        return list(values)

    def scalar(self, key):
        return self.get(key)[0]

    def index(self, coef, out):
        """x_i.b of every observation, written to the float64 buffer `out`."""
        self._call("vimor_index", self.problem, (ctypes.c_double * len(coef))(*coef),
                   _data.pointer(out))
        return out

    def run(self):
        """The whole fit on the threads setting, on a thread of its own so that
        Ctrl-C reaches the interpreter; it stops the core between units."""
        flag, outcome, done = ctypes.c_int(0), [], threading.Event()

        def work():
            try:
                status = self.lib.core.vimor_fit_run(self.fit, 0, self.lib.cancel_fn,
                                                     ctypes.byref(flag), None, None)
                outcome.append(self.lib.error(self.spelling) if status == ERROR else status)
            finally:
                done.set()

        # Waiting on an event, not on Thread.join: a join that Ctrl-C breaks
        # can mark a thread stopped that still runs (CPython 3.11).
        thread = threading.Thread(target=work, name="vimor fit")
        thread.start()
        try:
            while not done.wait(0.05):
                pass
        except KeyboardInterrupt:
            flag.value = 1
            while not done.is_set():  # the fit must end before it is freed
                try:
                    done.wait()
                except KeyboardInterrupt:
                    pass
            thread.join()
            raise
        thread.join()
        if isinstance(outcome[0], Exception):
            raise outcome[0]
        if outcome[0] == CANCELLED:
            raise KeyboardInterrupt

    def records(self, key, size):
        values = self.get(key)
        return [values[i:i + size] for i in range(0, len(values), size)]

    def run_restart(self, r):
        record = (ctypes.c_double * self.lib.core.vimor_restart_record_size(self.fit))()
        self._call("vimor_fit_run_restart", self.fit, r, record)
        return list(record)

    def subsample_rows(self, s):
        rows = (ctypes.c_int32 * int(self.scalar("subsample_size")))()
        self._call("vimor_fit_subsample_rows", self.fit, s, rows)
        return list(rows)

    def run_subsample(self, s, rows):
        """Subsample fit s on `rows`, or bootstrap draw s (rows None)."""
        record = (ctypes.c_double * self.lib.core.vimor_subsample_record_size(self.fit))()
        given = None if rows is None else (ctypes.c_int32 * len(rows))(*rows)
        self._call("vimor_fit_run_subsample", self.fit, s, given, record)
        return list(record)

    def finish(self, name, records):
        flat = [v for record in records for v in record]
        self._call(name, self.fit, (ctypes.c_double * len(flat))(*flat))

    def profile(self, coef, quantile, j, lower, upper):
        """The objective along free coefficient j over [lower, upper], the others
        at coef: the steps' left and right ends, objectives and correct counts."""
        handle = ctypes.c_void_p()
        self._call("vimor_profile_new", self.problem, self.lib.objective_fn,
                   (ctypes.c_double * len(coef))(*coef), quantile, j, lower, upper,
                   ctypes.byref(handle))
        try:
            columns = [numpy.empty(self.lib.core.vimor_profile_steps(handle)) for _ in range(4)]
            self._call("vimor_profile_get", handle, *map(_data.pointer, columns))
        finally:
            self.lib.core.vimor_profile_free(handle)
        return columns

    def warnings(self):
        core = self.lib.core
        return [spelled(core.vimor_fit_warning(self.fit, i).decode("utf-8", "replace"),
                        self.spelling) for i in range(core.vimor_fit_warning_count(self.fit))]

def interval(library, estimate, draws, nobs, size, level, symmetric):
    """The subsampling interval of one coefficient from its estimate and its
    subsample estimates."""
    lower, upper = ctypes.c_double(), ctypes.c_double()
    library.call("vimor_interval", estimate, (ctypes.c_double * len(draws))(*draws), len(draws),
                 nobs, size, level, int(symmetric), ctypes.byref(lower), ctypes.byref(upper),
                 spelling=None)
    return lower.value, upper.value


def scaled_draws(library, estimate, draws, nobs, size):
    """Subsample estimates (or bootstrap draws, size = nobs) on the full
    sample's scale, as the interval reads them."""
    given = numpy.ascontiguousarray(draws, dtype=numpy.float64)
    out = numpy.empty(len(given))
    library.call("vimor_scaled_draws", estimate, _data.pointer(given), len(given), nobs, size,
                 _data.pointer(out), spelling=None)
    return out


def unit(shared, library, given, s, rows):
    """Restart s (rows None) or subsample fit s on `rows`, by a fit rebuilt
    from the shared data and the same settings: its record."""
    fit = Fit(library, *shared, given=given)
    try:
        return fit.run_restart(s) if rows is None else fit.run_subsample(s, rows)
    finally:
        fit.close()


def draw_units(shared, library, given, draws, restart_records):
    """Bootstrap draws `draws` (after the restarts, given their records) by one
    fit rebuilt from the shared data: their records, in order. Finishing the
    restarts (the flat ranges, the curvature) is paid once per chunk."""
    fit = Fit(library, *shared, given=given)
    try:
        fit.finish("vimor_fit_finish_restarts", restart_records)
        return [fit.run_subsample(b, None) for b in draws]
    finally:
        fit.close()


# Bootstrap draws per task on an executor.
DRAWS_PER_TASK = 16


def _gather(futures):
    try:
        return [f.result() for f in futures]
    except BaseException:
        for f in futures:
            f.cancel()
        raise


def run_on(executor, fit, given):
    """The fit's units as tasks of `executor`, then both finishing steps; the
    restart records. A Dask executor gets the data once, scattered to every
    worker, and each task a reference to them."""
    shared = (fit.response, fit.regressors, fit.nobs, fit.names, fit.fixed_coef, fit.weights)
    client = getattr(executor, "_client", None)
    if client is not None and type(executor).__module__.startswith("distributed"):
        # A list of one: scattering a tuple itself would send its items apart.
        shared = client.scatter([shared], broadcast=True)[0]
    restarts, subsamples = int(fit.scalar("restarts")), int(fit.scalar("subsamples"))
    draws = int(fit.scalar("bootstrap"))
    jobs = [(r, None) for r in range(restarts)]
    jobs += [(s, fit.subsample_rows(s)) for s in range(subsamples)]
    records = _gather([executor.submit(unit, shared, fit.lib, given, s, rows) for s, rows in jobs])
    fit.finish("vimor_fit_finish_restarts", records[:restarts])
    if subsamples:
        fit.finish("vimor_fit_finish_subsamples", records[restarts:])
    if draws:
        # A draw needs the estimate: each task finishes the restarts from
        # their records, as this fit did, then runs its chunk of draws.
        found = records[:restarts]
        chunks = [range(b, min(b + DRAWS_PER_TASK, draws)) for b in range(0, draws, DRAWS_PER_TASK)]
        done = _gather([executor.submit(draw_units, shared, fit.lib, given, chunk, found)
                        for chunk in chunks])
        fit.finish("vimor_fit_finish_subsamples", [r for chunk in done for r in chunk])
    return records[:restarts]


def _problem(library, y, X, fixed_coef, given=None, spelling=None):
    names, matrix, listed = _data.regressors(X)
    fixed = library.default("fixed_coef") if fixed_coef is None else \
        _data.real(fixed_coef, "fixed_coef")
    fit = Fit(library, _data.response(y, len(matrix)), matrix, len(matrix), names, fixed, None,
              given, spelling)
    return names, listed, fit


def objective(y, X, coef, quantile=None, fixed_coef=None, *, library=None):
    """The maximum-score objective at coefficients (coef..., fixed_coef).

    y: 0/1 responses; X (N x K): a 2-D array, a DataFrame, a mapping of
    columns, or rows (of numbers, or mappings of named values);
    coef: the K-1 free coefficients, the last column's being fixed_coef
    (None: the shared defaults for quantile and fixed_coef). Returns a float;
    raises ValueError when it is NaN (an index overflows).
    """
    library = resolve(library)
    names, _listed, problem = _problem(library, y, X, fixed_coef)
    q = library.default("quantile") if quantile is None else _data.real(quantile, "quantile")
    coef = _data.floats(coef, "coef")
    if len(coef) != len(names) - 1:
        raise ValueError(f"coef: expected {len(names) - 1} values (one per free "
                         f"coefficient), got {len(coef)}")
    value = ctypes.c_double()
    problem._call("vimor_score", problem.problem, library.objective_fn,
                  (ctypes.c_double * len(coef))(*coef), q, ctypes.byref(value), None)
    problem.close()
    return value.value


def anneal(y, X, *, quantile=None, fixed_coef=None, start=None, lower=None, upper=None,
           step=None, temperature=None, cooling=None, tolerance=None, sweeps=None,
           adjustments=None, history_len=None, max_evals=None, step_gain=None, maximize=None,
           seed1=None, seed2=None, box_scale=None, library=None):
    """One simulated-annealing search of the box lower <= coef <= upper.

    The last column's coefficient is held at fixed_coef. Settings left None
    take the shared defaults: the box from the data (centred at 0, sized by
    the columns' spread), the start at the box centre, the steps a fixed share
    of the box, a tolerance below the smallest change of the objective, the
    seeds (seed1 in 0..31328, seed2 in 0..30081). A per-coefficient setting
    is a sequence of K-1 numbers or a mapping from column names; step and
    step_gain may also be one number for all. Returns an AnnealResult.
    """
    library = resolve(library)
    spelling = {"seed": "seed1"}
    names = _data.regressors(X)[0] if any(
        isinstance(v, Mapping) for v in (start, lower, upper, step, step_gain)) else []
    given = settings(dict(quantile=quantile, start=start, lower=lower, upper=upper, step=step,
                          temperature=temperature, cooling=cooling, tolerance=tolerance,
                          sweeps=sweeps, adjustments=adjustments, history_len=history_len,
                          max_evals=max_evals, step_gain=step_gain, maximize=maximize,
                          seed=seed1, seed2=seed2, box_scale=box_scale), names[:-1], spelling)
    given.update(restarts=1.0, threads=1.0)
    names, listed, fit = _problem(library, y, X, fixed_coef, given, spelling)
    try:
        record = fit.run_restart(0)
        fit.finish("vimor_fit_finish_restarts", [record])  # refuses an objective of NaN
    finally:
        fit.close()
    result = anneal_result(record, len(names) - 1)
    if listed:
        return result
    return replace(result, best=numpy.array(result.best), step=numpy.array(result.step))

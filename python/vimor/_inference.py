"""Subsampling confidence intervals: the subsample draws, the quantile rule,
and the fits run on threads or on any concurrent.futures.Executor.

Every rule here is the command line's, step for step (the procedure is written
once, in defaults.json's "_inference"), so both give the same bits.
"""
import math
import numbers
from concurrent.futures import Executor, ThreadPoolExecutor

import numpy

from . import _data
from ._defaults import SEED1_MODULUS, SEED2_MODULUS, restart_seeds

MODULUS = 2147483647  # 2^31 - 1
MULTIPLIER = 48271
MIN_SUBSAMPLE_SIZE = 20
INTERVALS = ("equal-tailed", "symmetric")


class Minstd:
    """Park-Miller generator x <- 48271 x mod (2^31 - 1), started at
    1 + seed + 31329 seed2; exact in integers and in doubles alike."""

    def __init__(self, seed, seed2):
        self.state = 1 + seed + SEED1_MODULUS * seed2

    def next(self):
        self.state = MULTIPLIER * self.state % MODULUS
        return self.state

    def below(self, n):
        """Uniform on 0..n-1: next() - 1 is uniform on 0..2^31-3, and values at or
        above the largest multiple of n are drawn again."""
        span = MODULUS - 1
        limit = span - span % n
        while True:
            v = self.next() - 1
            if v < limit:
                return v % n


def default_subsample_size(nobs):
    """The largest b with b^3 <= N^2, floor(N^(2/3))."""
    square = nobs * nobs
    b = int(round(square ** (1.0 / 3.0)))
    while b > 0 and b ** 3 > square:
        b -= 1
    while (b + 1) ** 3 <= square:
        b += 1
    return b


def draw_subsamples(normalized, nobs, size, count, seed, seed2):
    """`count` subsamples of `size` rows, each ascending, drawn in order from one
    stream by a partial Fisher-Yates shuffle of the identity; a draw on which the
    normalized column is constant is replaced by the next one. Returns the draws
    and the number replaced."""
    generator = Minstd(seed, seed2)
    max_redraws = 10 * count + 100
    draws, redrawn = [], 0
    while len(draws) < count:
        order = list(range(nobs))
        for i in range(size):
            j = i + generator.below(nobs - i)
            order[i], order[j] = order[j], order[i]
        rows = sorted(order[:size])
        first = normalized[rows[0]]
        if all(normalized[i] == first for i in rows):
            redrawn += 1
            if redrawn > max_redraws:
                raise ValueError(f"subsample_size: the normalized column is constant on "
                                 f"{redrawn} draws of {size} rows; give a larger subsample_size")
            continue
        draws.append(rows)
    return draws, redrawn


def rank(p, count):
    """1-based order statistic used as the quantile at p: ceil(p B - 1e-9) in 1..B."""
    return int(min(max(math.ceil(p * count - 1e-9), 1), count))


def interval(estimate, draws, nobs, size, level, symmetric):
    """The interval of one coefficient from its estimate and its B subsample
    estimates: tau_n = n^(1/3), differences d = (subsample - full) + 0,
    [est - d_(rank(1 - a/2)) r, est - d_(rank(a/2)) r] with r = (b/N)^(1/3),
    or est -+ |d|_(rank(level)) r when symmetric."""
    ratio = (size / nobs) ** (1.0 / 3.0)
    d = sorted((x - estimate) + 0.0 for x in draws)
    if symmetric:
        e = sorted(abs(v) for v in d)
        half = e[rank(level, len(e)) - 1] * ratio
        return estimate - half, estimate + half
    p_low = (1.0 - level) / 2.0
    p_high = 1.0 - p_low
    return (estimate - d[rank(p_high, len(d)) - 1] * ratio,
            estimate - d[rank(p_low, len(d)) - 1] * ratio)


# ------------------------------------------------------------ checking

def check(subsamples, subsample_size, subsample_restarts, level, kind, executor, nobs,
          restarts):
    """Validated inference settings: (B, b, restarts per fit, level, symmetric)."""
    b_count = _data.integer(subsamples, "subsamples", 0)
    if b_count >= SEED2_MODULUS:
        raise ValueError(f"subsamples: must be below {SEED2_MODULUS}, the number of distinct "
                         f"restart streams, got {b_count}")
    if isinstance(level, bool) or not isinstance(level, numbers.Real):
        raise TypeError(f"level: expected a number, got {type(level).__name__}")
    level = float(level)
    if not 0.0 < level < 1.0:
        raise ValueError(f"level: must lie in (0, 1), got {level!r}")
    if kind not in INTERVALS:
        raise ValueError(f"interval: must be 'equal-tailed' or 'symmetric', got {kind!r}")
    if executor is not None and not isinstance(executor, Executor):
        raise TypeError(f"executor: expected a concurrent.futures.Executor, "
                        f"got {type(executor).__name__}")
    if subsample_size is None:
        size = default_subsample_size(nobs)
        if b_count > 0 and size < MIN_SUBSAMPLE_SIZE:
            raise ValueError(f"subsamples: with {nobs} observations the default subsample size "
                             f"floor(N^(2/3)) is {size}, below the minimum {MIN_SUBSAMPLE_SIZE}; "
                             f"subsampling needs at least 90 observations")
    else:
        size = _data.integer(subsample_size, "subsample_size", MIN_SUBSAMPLE_SIZE)
        if size >= nobs:
            raise ValueError(f"subsample_size: {size} is not below the number of "
                             f"observations, {nobs}")
    fit_restarts = (restarts if subsample_restarts is None else
                    _data.integer(subsample_restarts, "subsample_restarts", 1, SEED1_MODULUS))
    return b_count, size, fit_restarts, level, kind == "symmetric"


# ------------------------------------------------------------ running

def shared_data(problem, executor=None):
    """The data set as the tasks take it: the response, the column-major
    design, N and K. For a Dask executor it is scattered to every worker once,
    and the tasks carry only a reference to it."""
    shared = (problem.response, problem.regressors, problem.nobs, problem.nreg)
    client = getattr(executor, "_client", None)
    if client is not None and type(executor).__module__.startswith("distributed"):
        # A list of one: scattering a tuple itself would send its items apart.
        shared = client.scatter([shared], broadcast=True)[0]
    return shared


def _library(path):
    from ._library import load_library
    return load_library(path)


def restart_task(shared, settings, seeds, library_path):
    """One restart on the whole data set."""
    from ._core import Problem
    return Problem(*shared).anneal(_library(library_path), settings, *seeds)


def subsample_task(shared, rows, settings, seed_pairs, library_path):
    """One subsample fit: every restart, then the best (the earliest among
    equals). Returns (coefficients, value, restarts within the tolerance of it,
    whether every restart hit the evaluation limit)."""
    from ._core import Problem
    response, regressors, _n, k = shared
    problem = Problem(numpy.ascontiguousarray(response[rows]),
                      numpy.asfortranarray(regressors[rows, :]), len(rows), k)
    lib = _library(library_path)
    results = [problem.anneal(lib, settings, s1, s2) for s1, s2 in seed_pairs]
    best = 0
    for r, result in enumerate(results):
        if (result.value > results[best].value if settings.maximize
                else result.value < results[best].value):
            best = r
    value = results[best].value
    reached = sum(1 for r in results if abs(r.value - value) <= settings.tolerance)
    return (list(results[best].best), value, reached,
            all(r.status == 1 for r in results))


def subsample_seeds(seed, seed2, subsample, restarts):
    """Restart r of subsample s runs from seeds (seed + r, seed2 + 1 + s)."""
    return [restart_seeds(seed, r, seed2 + 1 + subsample) for r in range(restarts)]


def run(task, shared, jobs, n_jobs, executor):
    """task(shared, *job) for each job, in order, on `n_jobs` threads or on
    `executor`; `shared` comes from shared_data."""
    if executor is None:
        if n_jobs == 1 or len(jobs) <= 1:
            return [task(shared, *job) for job in jobs]
        with ThreadPoolExecutor(max_workers=min(n_jobs, len(jobs))) as pool:
            futures = [pool.submit(task, shared, *job) for job in jobs]
            return [f.result() for f in futures]
    futures = [executor.submit(task, shared, *job) for job in jobs]
    return [f.result() for f in futures]

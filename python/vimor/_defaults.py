"""The search defaults every host shares, read from defaults.json, and the rules
that derive the data-dependent ones (box, start, steps, tolerance, restart seeds).

The numbers live only in defaults.json, which the command-line host reads too;
nothing here repeats them.
"""
import json
import math
import types
from importlib import resources

# Each key of defaults.json and the type its value must have.
_KEYS = {
    "quantile": float, "fixed_coef": float, "maximize": bool, "box_scale": float,
    "step_fraction": float, "temperature": float, "cooling": float,
    "tolerance_fraction": float, "sweeps": int, "adjustments": int, "history_len": int,
    "max_evals": int, "step_gain": float, "restarts": int, "seed": int, "seed2": int,
}

# The generator's seed ranges: seed1 in [0, 31328], seed2 in [0, 30081] give
# distinct streams.
SEED1_MODULUS = 31329
SEED2_MODULUS = 30082


def _load():
    text = resources.files(__package__).joinpath("defaults.json").read_text(encoding="utf-8")
    raw = json.loads(text)
    values = {}
    for key, kind in _KEYS.items():
        if key not in raw:
            raise RuntimeError(f"vimor: defaults.json has no entry {key!r}; reinstall the package")
        value = raw[key]
        # JSON writes 10 and 10.0 alike for a tuned number; a bool is never a number here.
        ok = (isinstance(value, bool) if kind is bool else
              isinstance(value, int) and not isinstance(value, bool) if kind is int else
              isinstance(value, (int, float)) and not isinstance(value, bool))
        if not ok:
            raise RuntimeError(f"vimor: defaults.json entry {key!r} is {value!r}, "
                               f"expected {kind.__name__}; reinstall the package")
        values[key] = kind(value)
    return types.MappingProxyType(values)


DEFAULTS = _load()


def restart_seeds(seed, restart, seed2):
    """Generator seeds of restart `restart` of a multi-start fit."""
    return (seed + restart) % SEED1_MODULUS, seed2 % SEED2_MODULUS


def tolerance(quantile, nobs, fraction=None):
    """Convergence tolerance below the smallest change of the objective,
    2 * min(alpha, 1 - alpha) / N."""
    if fraction is None:
        fraction = DEFAULTS["tolerance_fraction"]
    return fraction * min(quantile, 1.0 - quantile) / nobs


def mean_sd(values):
    """Mean and population standard deviation, summed in observation order.

    A numpy column is summed in blocks with the same additions in the same
    order, so both forms give the same bits without a Python list.
    """
    if _is_array(values):
        return _array_mean_sd(values)
    n = len(values)
    total = 0.0
    for v in values:
        total = total + v
    mean = total / n
    squares = 0.0
    for v in values:
        d = v - mean
        squares = squares + d * d
    return mean, math.sqrt(squares / n)


# Rows per block of a numpy column: small enough that the temporaries stay
# far below the data, large enough that the Python overhead does not show.
BLOCK = 1 << 16


def _is_array(values):
    return type(values).__name__ == "ndarray"


def _array_mean_sd(values):
    import numpy
    n = len(values)

    def sequential_sum(term):
        # cumsum adds strictly left to right; seeding a block's first element
        # with the running total continues the same chain of additions.
        total = 0.0
        for start in range(0, n, BLOCK):
            block = term(values[start:start + BLOCK])
            block[0] = total + block[0]
            numpy.cumsum(block, out=block)
            total = float(block[-1])
        return total

    def squared_deviation(block):
        d = numpy.subtract(block, mean, dtype=numpy.float64)
        return numpy.multiply(d, d, out=d)

    # Overflow gives a sd that is not finite, which half_widths refuses by name.
    with numpy.errstate(over="ignore", invalid="ignore"):
        mean = sequential_sum(lambda block: numpy.array(block, dtype=numpy.float64)) / n
        return mean, math.sqrt(sequential_sum(squared_deviation) / n)


def half_widths(free_columns, normalized_column, fixed_coef, box_scale=None):
    """Half-width of the default box of each free coefficient, centred at 0.

    A varying column j gets box_scale * |fixed_coef| * sd(x_K) / sd(x_j); a
    constant column of value c (the intercept) gets
    box_scale * |fixed_coef| * (|mean(x_K)| + sd(x_K)) / |c|. Raises ValueError
    (naming the column by its position, which the caller maps to a name) when
    no finite box follows from the data.
    """
    if box_scale is None:
        box_scale = DEFAULTS["box_scale"]
    if _constant(normalized_column):
        raise BoxError(None, "is constant, so it cannot carry the scale")
    mean_k, sd_k = mean_sd(normalized_column)
    if not math.isfinite(sd_k):
        raise BoxError(None, _NOT_FINITE)
    if sd_k == 0.0:
        raise BoxError(None, "varies too little to carry the scale")
    scale = box_scale * abs(fixed_coef)
    widths = []
    for j, column in enumerate(free_columns):
        # Constant means equal values, not a computed sd of 0: the mean of
        # equal values need not round back to them.
        if not _constant(column):
            sd_j = mean_sd(column)[1]
            if not math.isfinite(sd_j):
                raise BoxError(j, _NOT_FINITE)
            if sd_j == 0.0:
                raise BoxError(j, "varies too little to size a default box")
            width = scale * sd_k / sd_j
        elif column[0] != 0.0:
            width = scale * (abs(mean_k) + sd_k) / abs(column[0])
        else:
            raise BoxError(j, "is all zeros")
        if not (math.isfinite(width) and width > 0.0):
            raise BoxError(j, f"gives a default box half-width of {width!r}")
        widths.append(width)
    return widths


_NOT_FINITE = "has a standard deviation that is not finite (its values are too large)"


def _constant(values):
    first = values[0]
    if _is_array(values):
        return bool((values == first).all())
    return all(v == first for v in values)


class BoxError(ValueError):
    """A column from which no default box follows; column None is the normalized one."""

    def __init__(self, column, problem):
        super().__init__(problem)
        self.column = column
        self.problem = problem

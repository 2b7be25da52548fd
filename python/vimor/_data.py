"""Turning user input into what the core reads.

The core checks every value and names the argument; here are only the
conversions, and the checks Python must make itself: of type (a bool is not a
number), and of the shapes and lengths the core cannot see.
"""
import ctypes
import numbers
from collections.abc import Mapping

import numpy

_DOUBLE_P = ctypes.POINTER(ctypes.c_double)


def is_dataframe(value):
    # Duck-typed so that pandas is never imported here.
    return (type(value).__name__ == "DataFrame" and hasattr(value, "columns")
            and hasattr(value, "to_numpy"))


def aligned(buffer, order):
    """buffer itself unless it is not aligned for doubles (np.frombuffer, or
    data unpickled on a Dask worker); then an aligned copy in `order`."""
    if buffer is None or buffer.flags.aligned:
        return buffer
    return numpy.require(buffer, numpy.float64, (order, "A"))


def pointer(buffer):
    return None if buffer is None else buffer.ctypes.data_as(_DOUBLE_P)


# ----------------------------------------------------------------- settings

def real(value, name):
    """A number as a float; its range is the core's to check."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name}: expected a number, got {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name}: {value!r} is too large for a double") from None


def integer(value, name):
    """A whole number as a float (exact below 2^53, far beyond every range)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name}: expected an integer, got {type(value).__name__}")
    if abs(int(value)) > 2 ** 53:
        raise ValueError(f"{name}: {int(value)} is too large")
    return float(value)


def flag(value, name):
    if isinstance(value, (bool, numpy.bool_)):
        return bool(value)
    raise TypeError(f"{name}: expected True or False, got {type(value).__name__}")


def floats(values, name, scalar_ok=False):
    """A list of floats from a sequence (or one number where allowed). NaN
    stands for "the default" in the core, so a NaN given is refused here."""
    if scalar_ok and isinstance(values, numbers.Real) and not isinstance(values, bool):
        values = [values]
    if isinstance(values, (str, bytes, Mapping)) or not hasattr(values, "__len__"):
        raise TypeError(f"{name}: expected a sequence of numbers, got {type(values).__name__}")
    result = numbers_of(values, name, 1)
    for i in numpy.flatnonzero(numpy.isnan(result)):
        raise ValueError(f"{name}[{i}]: is nan; give a number")
    return result.tolist()


# ----------------------------------------------------------------- data

def numbers_of(values, name, ndim):
    """values as a float64 ndarray of `ndim` dimensions."""
    try:
        array = numpy.asarray(values)
    except ValueError as exc:  # ragged rows
        raise ValueError(f"{name}: {exc}") from None
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name}: expected numbers, got dtype {array.dtype}")
    if array.ndim != ndim:
        raise ValueError(f"{name}: expected {ndim} dimension(s), got {array.ndim}")
    return array.astype(numpy.float64, copy=False)


def response(y, nobs, name="y"):
    """The response as contiguous float64 (the core checks the 0s and 1s)."""
    buffer = numpy.ascontiguousarray(numbers_of(y, name, 1))
    if len(buffer) != nobs:
        raise ValueError(f"{name}: has {len(buffer)} values but X has {nobs} rows")
    return buffer


def distinct_names(labels, name):
    """Column labels as text, refusing two that read the same (1 and "1"):
    columns are matched by name."""
    texts = [str(c) for c in labels]
    groups = {}
    for label, text in zip(labels, texts):
        groups.setdefault(text, []).append(label)
    for text, group in groups.items():
        if len(group) > 1:
            raise ValueError(f"{name}: the columns {', '.join(repr(c) for c in group)} share "
                             f"the name {text!r}; give every column its own name")
    return texts


def named_input(X, fitted_names=None, name="X"):
    """(names, X): the column names of a DataFrame or a mapping of columns (None
    for other input), and X as a DataFrame or a matrix. A mapping becomes a
    matrix of its columns, taken by the fitted names when given (so their
    order does not matter), else in the mapping's order."""
    if is_dataframe(X):
        return distinct_names(list(X.columns), name), X
    if not isinstance(X, Mapping):
        return None, X
    names = distinct_names(list(X), name)
    columns = dict(zip(names, X.values()))
    if fitted_names is not None:
        if len(names) != len(fitted_names):
            raise ValueError(f"{name}: has {len(names)} columns, the fit had {len(fitted_names)}")
        missing = [n for n in fitted_names if n not in columns]
        if missing:
            raise ValueError(f"{name}: has no column {missing[0]!r}, which the fit used")
        names = list(fitted_names)
    if not names:
        raise ValueError(f"{name}: has no columns")
    values = [numbers_of(columns[n], f"{name}[{n!r}]", 1) for n in names]
    for n, v in zip(names, values):
        if len(v) != len(values[0]):
            raise ValueError(f"{name}: column {n!r} has {len(v)} values but column "
                             f"{names[0]!r} has {len(values[0])}")
    return names, numpy.column_stack(values)


def regressors(X, name="X"):
    """(names, column-major float64 matrix, whether results are lists) from a
    2-D array, a DataFrame, a mapping of columns or a sequence of rows."""
    listed = not (isinstance(X, numpy.ndarray) or is_dataframe(X) or (
        isinstance(X, Mapping) and any(isinstance(c, numpy.ndarray) for c in X.values())))
    names, X = named_input(X, name=name)
    matrix = numpy.asfortranarray(numbers_of(X, name, 2))
    return names or [f"x{j + 1}" for j in range(matrix.shape[1])], matrix, listed

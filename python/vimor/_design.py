"""The estimator's data in numpy: column names, the design matrix the library
reads, and the index x . beta computed in the library's order.

What is copied when (numpy input): scikit-learn's check_array keeps a float64
matrix as it is; the design (the intercept column, then the columns with the
normalized one last, column-major) is one new N x K' matrix, made only when it
differs from the input, and freed when the search ends; the response is used
in place when it is a float64 vector of 0 and 1, else made as one. The
default box and the accuracy read the data in blocks of rows.
"""
from collections.abc import Mapping

import numpy

from . import _data
from ._defaults import BLOCK

INTERCEPT = "(Intercept)"


def named_input(X, fitted_names=None, name="X"):
    """(names, X): the column names of a DataFrame or a mapping of columns (None
    for other input), and X in a form scikit-learn's check_array reads.

    A mapping becomes a matrix of its columns, taken by the fitted names when
    given (so their order does not matter), else in the mapping's order.
    """
    if _data.is_dataframe(X):
        return _data.distinct_names(list(X.columns), name), X
    if not isinstance(X, Mapping):
        return None, X
    names = _data.distinct_names(list(X), name)
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
    values = [numpy.asarray(columns[n]) for n in names]
    for n, v in zip(names, values):
        if v.ndim != 1:
            raise ValueError(f"{name}[{n!r}]: expected one dimension, got {v.ndim}")
        if len(v) != len(values[0]):
            raise ValueError(f"{name}: column {n!r} has {len(v)} values but column "
                             f"{names[0]!r} has {len(values[0])}")
    return names, numpy.column_stack(values)


def response(y, positive):
    """The library's 0/1 response: 1 where y is the label `positive`. A float64
    vector that already is 0/1 with positive = 1 is used in place."""
    if (y.dtype == numpy.float64 and positive == 1.0 and y.flags.c_contiguous
            and not ((y != 0.0) & (y != 1.0)).any()):
        return y
    return (y == positive).astype(numpy.float64)


def design_matrix(X, columns, intercept):
    """Column-major float64: a column of ones when `intercept`, then X's
    `columns` in that order; X itself when that is the same memory."""
    n = X.shape[0]
    if (not intercept and list(columns) == list(range(X.shape[1]))
            and X.flags.f_contiguous and X.dtype == numpy.float64):
        return X
    extra = 1 if intercept else 0
    out = numpy.empty((n, len(columns) + extra), dtype=numpy.float64, order="F")
    if intercept:
        out[:, 0] = 1.0
    for k, j in enumerate(columns):
        out[:, k + extra] = X[:, j]
    return out


def indices(X, columns, coef, intercept):
    """x . beta of each row of X, each term added in the library's order (the
    intercept, then X's `columns`), so its sign is the one the objective saw.
    coef: one coefficient per design column."""
    n = X.shape[0]
    index = numpy.zeros(n)  # +0, as the library starts
    term = numpy.empty(n)
    k = 0
    if intercept:
        numpy.add(index, 1.0 * coef[0], out=index)
        k = 1
    # An index may overflow; the callers refuse the NaN that follows.
    with numpy.errstate(over="ignore", invalid="ignore"):
        for j in columns:
            numpy.multiply(X[:, j], coef[k], out=term)
            numpy.add(term, index, out=index)  # multiply, then add: as the library does
            k += 1
    return index


def index_is_nan(index):
    return bool(numpy.isnan(index).any())


def hits(X, columns, coef, intercept, response):
    """How many rows have 1[x . beta >= 0] equal to the response, and whether
    any index is NaN; read in blocks of rows."""
    right, nan = 0, False
    for start in range(0, X.shape[0], BLOCK):
        rows = slice(start, start + BLOCK)
        index = indices(X[rows], columns, coef, intercept)
        nan = nan or index_is_nan(index)
        right += int(numpy.count_nonzero((index >= 0.0) == (response[rows] == 1.0)))
    return right, nan

"""Turning user input into what the core reads.

The core checks every value and names the argument; here are only the
conversions, and the checks Python must make itself: of type (a bool is not a
number), of what never reaches the core as a double (a missing value of
pandas, a masked cell, a sparse matrix), and of the shapes and lengths the
core cannot see. objective, anneal and MaxScore all read X and y through
table() and labels(), so they accept the same things.
"""
import ctypes
import numbers
import sys
from collections.abc import Mapping

import numpy

_DOUBLE_P = ctypes.POINTER(ctypes.c_double)


def is_dataframe(value):
    # Duck-typed so that pandas is never imported here.
    return (type(value).__name__ == "DataFrame" and hasattr(value, "columns")
            and hasattr(value, "to_numpy"))


def _imported(module):
    # A value of pandas or scipy means its module is loaded: asking sys.modules
    # recognises one without importing either for anyone else.
    return sys.modules.get(module)


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

def _cell(index):
    """ "row i" or "row i, column j" for a 0-based index of a vector or matrix."""
    return "row " + ", column ".join(str(int(i) + 1) for i in index)


def _refuse_sparse(value, name):
    sparse = _imported("scipy.sparse")
    if sparse is not None and sparse.issparse(value):
        raise TypeError(f"{name}: a sparse matrix was given, but dense data are needed; "
                        f"give {name}.toarray()")


def _missing(array, name):
    """Refuses pandas' NA among the values of an object array."""
    pandas = _imported("pandas")
    if pandas is None or array.dtype != object:
        return
    found = numpy.flatnonzero([v is pandas.NA for v in array.flat])
    if found.size:
        where = _cell(numpy.unravel_index(found[0], array.shape))
        raise ValueError(f"{name}: {where} is missing (NA); drop or fill the missing values")


def _pandas_column(column, name):
    """A pandas Series or Index as an ndarray: nullable numbers and booleans
    as float64, others as pandas gives them; NA refused."""
    dtype = column.dtype
    if not (isinstance(dtype, numpy.dtype) and dtype.kind in "biufc"):
        found = numpy.flatnonzero(column.isna())
        if found.size:
            raise ValueError(f"{name}: {_cell(found[:1])} is missing (NA); drop or fill the "
                             f"missing values")
        if not isinstance(dtype, numpy.dtype) and dtype.kind in "biuf":
            return column.to_numpy(dtype=numpy.float64)
    return column.to_numpy()


def labels(values, name="y"):
    """values as an ndarray (any dtype) as scikit-learn would read them, but
    refusing a sparse matrix, a masked cell and a missing value of pandas."""
    _refuse_sparse(values, name)
    if isinstance(values, numpy.ma.MaskedArray):
        mask = numpy.ma.getmaskarray(values)
        if mask.any():
            raise ValueError(f"{name}: {_cell(numpy.argwhere(mask)[0])} is masked; fill the "
                             f"masked cells ({name}.filled(...)) or drop them")
        values = values.data
    pandas = _imported("pandas")
    if pandas is not None and isinstance(values, (pandas.Series, pandas.Index)):
        return _pandas_column(values, name)
    if pandas is not None and isinstance(values, pandas.DataFrame):
        return numpy.column_stack([_pandas_column(values.iloc[:, j], f"{name}[{c!r}]")
                                   for j, c in enumerate(values.columns)])
    try:
        array = numpy.asarray(values)
    except ValueError as exc:  # ragged rows
        raise ValueError(f"{name}: {exc}") from None
    _missing(array, name)
    return array


def as_float(array, name):
    """An ndarray of numbers (of any numeric dtype, or objects that are
    numbers) as float64."""
    kind = array.dtype.kind
    if kind in "biuf":
        return array.astype(numpy.float64, copy=False)
    if kind == "c":  # scikit-learn's words, which its common checks look for
        raise ValueError(f"{name}: Complex data not supported; expected real numbers, "
                         f"got dtype {array.dtype}")
    if kind == "O":
        # numpy would read None as NaN.
        found = numpy.flatnonzero([v is None for v in array.flat])
        if found.size:
            where = _cell(numpy.unravel_index(found[0], array.shape))
            raise TypeError(f"{name}: expected numbers, got dtype object ({where} is None)")
        try:
            return array.astype(numpy.float64)
        except TypeError as exc:
            raise TypeError(f"{name}: expected numbers, got dtype object ({exc})") from None
        except ValueError as exc:  # text that is not a number
            raise ValueError(f"{name}: {exc}") from None
    raise TypeError(f"{name}: expected numbers, got dtype {array.dtype}")


def numbers_of(values, name, ndim):
    """values as a float64 ndarray of `ndim` dimensions."""
    array = as_float(labels(values, name), name)
    if array.ndim != ndim:
        # "Reshape your data": scikit-learn's words, which its common checks look for.
        hint = (f"; Reshape your data: {name}.reshape(-1, 1) for one column, "
                f"{name}.reshape(1, -1) for one row") if ndim == 2 and array.ndim == 1 else ""
        raise ValueError(f"{name}: expected {ndim} dimension(s), got {array.ndim}{hint}")
    return array


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


def _records(rows, name):
    """A sequence of mappings (rows of named values) as a mapping of columns,
    or None for other input."""
    if not isinstance(rows, (list, tuple)) or not rows or not isinstance(rows[0], Mapping):
        return None
    keys = rows[0].keys()
    for i, row in enumerate(rows):
        if not isinstance(row, Mapping) or row.keys() != keys:
            raise ValueError(f"{name}: row {i + 1} is not a mapping of the keys of row 1 "
                             f"({', '.join(map(repr, keys))})")
    return {k: [row[k] for row in rows] for k in keys}


def table(X, fitted_names=None, name="X"):
    """(names, float64 matrix) from a 2-D array, a DataFrame, a mapping of
    columns, or a sequence of rows (of numbers, or mappings of named values).
    names: the column names (None for input without them). Columns given by
    name are taken by the fitted names when given (so their order does not
    matter), else in the input's order."""
    _refuse_sparse(X, name)
    records = _records(X, name)
    X = X if records is None else records
    pandas = _imported("pandas")
    if pandas is not None and isinstance(X, pandas.DataFrame):
        names = distinct_names(list(X.columns), name)
        if all(isinstance(d, numpy.dtype) and d.kind in "biuf" for d in X.dtypes):
            return names, X.to_numpy(dtype=numpy.float64)
        return names, numpy.column_stack(
            [numbers_of(X.iloc[:, j], f"{name}[{c!r}]", 1) for j, c in enumerate(X.columns)])
    if is_dataframe(X):
        return distinct_names(list(X.columns), name), numbers_of(X.to_numpy(), name, 2)
    if not isinstance(X, Mapping):
        return None, numbers_of(X, name, 2)
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
    """(names, column-major float64 matrix, whether results are lists) from
    any input table() reads."""
    listed = not (isinstance(X, numpy.ndarray) or is_dataframe(X) or (
        isinstance(X, Mapping) and any(isinstance(c, numpy.ndarray) for c in X.values())))
    names, matrix = table(X, name=name)
    matrix = numpy.asfortranarray(matrix)
    return names or [f"x{j + 1}" for j in range(matrix.shape[1])], matrix, listed

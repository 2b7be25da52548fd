"""Turning user input into what the library reads, refusing what breaks its rules.

The library validates nothing, so every check happens here, before a call:
each error names the argument and the problem.
"""
import array
import ctypes
import math
import numbers
from collections.abc import Mapping

try:
    import numpy
except ImportError:  # numpy is optional
    numpy = None

INT32_MIN = -2 ** 31
INT32_MAX = 2 ** 31 - 1

_DOUBLE_P = ctypes.POINTER(ctypes.c_double)


def is_numpy(value):
    return numpy is not None and isinstance(value, numpy.ndarray)


def is_dataframe(value):
    # Duck-typed so that pandas is never imported here.
    return (type(value).__name__ == "DataFrame" and hasattr(value, "columns")
            and hasattr(value, "to_numpy"))


def _is_series(value):
    return type(value).__name__ == "Series" and hasattr(value, "to_numpy")


def aligned(buffer, order):
    """buffer itself unless it is an ndarray not aligned for doubles; then an
    aligned float64 copy in the given order ("C" or "F")."""
    if isinstance(buffer, array.array) or buffer.flags.aligned:
        return buffer
    return numpy.require(buffer, numpy.float64, (order, "A"))


def pointer(buffer):
    """A double* to a buffer from this module (array.array('d') or float64 ndarray)."""
    if isinstance(buffer, array.array):
        return ctypes.cast(buffer.buffer_info()[0], _DOUBLE_P)
    return buffer.ctypes.data_as(_DOUBLE_P)


# ----------------------------------------------------------------- scalars

def real(value, name):
    """A finite float."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name}: expected a number, got {type(value).__name__}")
    result = float(value)
    if not math.isfinite(result):
        raise ValueError(f"{name}: must be finite, got {result!r}")
    return result


def integer(value, name, low=INT32_MIN, high=INT32_MAX):
    """An int within [low, high] (the 32-bit range by default)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name}: expected an integer, got {type(value).__name__}")
    result = int(value)
    if not low <= result <= high:
        if low == INT32_MIN and high == INT32_MAX:
            where = "the 32-bit range [-2147483648, 2147483647]"
        elif high == INT32_MAX:
            where = f"at least {low}"
        else:
            where = f"in [{low}, {high}]"
        raise ValueError(f"{name}: must be {where}, got {result}")
    return result


def quantile(value, name="quantile"):
    result = real(value, name)
    if not 0.0 < result < 1.0:
        raise ValueError(f"{name}: must lie strictly between 0 and 1, got {result!r}")
    return result


def flag(value, name):
    if isinstance(value, bool) or (numpy is not None and isinstance(value, numpy.bool_)):
        return bool(value)
    raise TypeError(f"{name}: expected True or False, got {type(value).__name__}")


# ----------------------------------------------------------------- vectors

def _numeric_1d(values, name):
    """A numpy array or pandas Series as a one-dimensional numeric ndarray."""
    values = numpy.asarray(values)
    if values.ndim != 1:
        raise ValueError(f"{name}: expected one dimension, got {values.ndim}")
    if values.dtype.kind not in "biuf":
        raise TypeError(f"{name}: expected numbers, got dtype {values.dtype}")
    return values


def _doubles(values, label, finite=True):
    """array('d') copy of a 1-D sequence of (finite) numbers; label(i) names element i."""
    if isinstance(values, (str, bytes)) or not hasattr(values, "__len__"):
        raise TypeError(f"{label(None)}: expected a sequence of numbers, "
                        f"got {type(values).__name__}")
    if is_numpy(values) or _is_series(values):
        values = _numeric_1d(values, label(None)).tolist()
    try:
        result = array.array("d", values)
    except (TypeError, ValueError, OverflowError):
        result = None
    if result is None:
        # Find the offending element for the message.
        for i, v in enumerate(values):
            if isinstance(v, (str, bytes)) or not isinstance(v, numbers.Real):
                raise TypeError(f"{label(i)}: expected a number, got {type(v).__name__}")
            try:
                float(v)
            except OverflowError:
                raise ValueError(f"{label(i)}: {v!r} is too large for a double") from None
        raise TypeError(f"{label(None)}: expected a sequence of numbers")
    for i, v in enumerate(result if finite else ()):
        if not math.isfinite(v):
            raise ValueError(f"{label(i)}: is {v!r}; NaN and infinite values are not allowed")
    return result


def vector(values, length, name, scalar_ok=False):
    """A fresh array('d') of `length` finite numbers (a scalar is repeated when allowed)."""
    if scalar_ok and isinstance(values, numbers.Real) and not isinstance(values, bool):
        return array.array("d", [real(values, name)] * length)
    result = _doubles(values, lambda i: name if i is None else f"{name}[{i}]")
    if len(result) != length:
        raise ValueError(f"{name}: expected {length} values (one per free coefficient), "
                         f"got {len(result)}")
    return result


def response(y, nobs, name="y"):
    """The response as float64 memory the library can read, checked to be 0 or 1.

    An array('d') or a contiguous float64 ndarray is used in place, not copied.
    Returns (buffer, keep), keep holding whatever must stay alive and unresized.
    """
    if is_numpy(y) or _is_series(y):
        values = _numeric_1d(y, name)
        buffer = numpy.ascontiguousarray(values, dtype=numpy.float64)
        bad = numpy.flatnonzero((buffer != 0.0) & (buffer != 1.0))
        first = int(bad[0]) if bad.size else None
        keep = buffer
    else:
        if isinstance(y, array.array) and y.typecode == "d":
            buffer = y
        else:
            # Checked below: anything but 0 and 1, NaN included, is refused.
            buffer = _doubles(y, lambda i: name if i is None else f"{name}[{i}]", finite=False)
        first = next((i for i, v in enumerate(buffer) if v != 0.0 and v != 1.0), None)
        # A memoryview stops the array from being resized while the library reads it.
        keep = memoryview(buffer)
    if first is not None:
        raise ValueError(f"{name}[{first}]: is {float(buffer[first])!r}; "
                         f"the response must be 0 or 1")
    if len(buffer) != nobs:
        raise ValueError(f"{name}: has {len(buffer)} values but X has {nobs} rows")
    return buffer, keep


# ----------------------------------------------------------------- regressors

class Table:
    """Regressor columns with their names, as given by the user.

    Holds either one column-major float64 ndarray (`matrix`) or one array('d')
    per column (`columns`).
    """

    def __init__(self, names, nobs, matrix=None, columns=None, kind="list"):
        self.names = names
        self.nobs = nobs
        self.matrix = matrix
        self.columns = columns
        self.kind = kind  # "list", "numpy" or "pandas": the output type follows it

    @property
    def nreg(self):
        return len(self.names)

    def design(self, order=None, intercept=False):
        """Column-major float64 memory of the columns in `order`, after a
        column of ones when `intercept`; no copy when nothing changes."""
        identity = order is None or list(order) == list(range(self.nreg))
        if order is None:
            order = range(self.nreg)
        n = self.nobs
        if self.matrix is not None:
            if identity and not intercept:
                return self.matrix
            extra = 1 if intercept else 0
            out = numpy.empty((n, len(order) + extra), dtype=numpy.float64, order="F")
            if intercept:
                out[:, 0] = 1.0
            for k, j in enumerate(order):
                out[:, k + extra] = self.matrix[:, j]
            return out
        out = array.array("d", [1.0] * n if intercept else [])
        for j in order:
            out.extend(self.columns[j])
        return out


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


def _column_label(name, column_name, i):
    if i is None:
        return f"{name}[{column_name!r}]"
    return f"{name}[{column_name!r}][{i}]"


def regressors(X, name="X"):
    """A Table from a 2-D ndarray, a pandas DataFrame, a mapping of columns or a
    sequence of rows. Checks shapes and values."""
    if is_numpy(X):
        return _from_matrix(X, name, [f"x{j + 1}" for j in range(X.shape[1] if X.ndim == 2 else 0)],
                            "numpy")
    if is_dataframe(X):
        if numpy is None:
            raise TypeError(f"{name}: a DataFrame needs numpy")
        names = distinct_names(list(X.columns), name)
        kinds = [X[c].to_numpy().dtype.kind for c in X.columns]
        for c, kind in zip(names, kinds):
            if kind not in "biuf":
                raise TypeError(f"{name}[{c!r}]: expected numbers, got a column of dtype "
                                f"{X[c].dtype}")
        return _from_matrix(X.to_numpy(dtype=numpy.float64), name, names, "pandas")
    if isinstance(X, Mapping):
        names = distinct_names(list(X), name)
        columns = [_doubles(col, lambda i, c=c: _column_label(name, c, i))
                   for c, col in zip(names, X.values())]
        table = _from_columns(columns, names, name)
        if any(is_numpy(col) for col in X.values()):
            table.kind = "numpy"
        return table
    if isinstance(X, array.array):
        raise TypeError(f"{name}: a flat array has no shape; pass a sequence of rows, "
                        f"a mapping of columns or a 2-D numpy array")
    if isinstance(X, (str, bytes)) or not hasattr(X, "__len__") or not hasattr(X, "__getitem__"):
        raise TypeError(f"{name}: expected a sequence of rows, a mapping of columns or a "
                        f"2-D array, got {type(X).__name__}")
    rows = list(X)
    if not rows:
        raise ValueError(f"{name}: has no rows")
    for i, row in enumerate(rows):
        if isinstance(row, (str, bytes)) or not hasattr(row, "__len__"):
            raise TypeError(f"{name}[{i}]: expected a row (a sequence of numbers), "
                            f"got {type(row).__name__}")
    width = len(rows[0])
    for i, row in enumerate(rows):
        if len(row) != width:
            raise ValueError(f"{name}[{i}]: has {len(row)} values but {name}[0] has {width}; "
                             f"every row needs one value per regressor")
    columns = []
    for j in range(width):
        values = [row[j] for row in rows]
        columns.append(_doubles(values, lambda i, j=j: f"{name}[{i}][{j}]" if i is not None
                                else f"{name}[:, {j}]"))
    return _from_columns(columns, [f"x{j + 1}" for j in range(width)], name)


def _check_width(nreg, nobs, name):
    if nreg < 2:
        raise ValueError(f"{name}: needs at least two regressors (columns), got {nreg}")
    if nobs < 1:
        raise ValueError(f"{name}: has no observations")
    if nobs > INT32_MAX or nobs * nreg > INT32_MAX:
        raise ValueError(f"{name}: {nobs} x {nreg} values is more than the library can index")


def _from_matrix(X, name, names, kind):
    if X.ndim != 2:
        raise ValueError(f"{name}: expected a 2-D array (observations x regressors), "
                         f"got {X.ndim} dimension(s)")
    if X.dtype.kind not in "biuf":
        raise TypeError(f"{name}: expected numbers, got dtype {X.dtype}")
    nobs, nreg = X.shape
    _check_width(nreg, nobs, name)
    # No copy when the input already is column-major float64.
    matrix = numpy.asfortranarray(X, dtype=numpy.float64)
    bad = numpy.argwhere(~numpy.isfinite(matrix))
    if bad.size:
        i, j = (int(v) for v in bad[0])
        where = f"{name}[{i}, {j}]" if kind == "numpy" else f"{name}[{names[j]!r}][{i}]"
        raise ValueError(f"{where}: is {float(matrix[i, j])!r}; NaN and infinite values "
                         f"are not allowed")
    return Table(names, nobs, matrix=matrix, kind=kind)


def _from_columns(columns, names, name):
    nobs = len(columns[0]) if columns else 0
    for c, col in zip(names, columns):
        if len(col) != nobs:
            raise ValueError(f"{name}: column {c!r} has {len(col)} values but column "
                             f"{names[0]!r} has {nobs}")
    _check_width(len(columns), nobs, name)
    return Table(names, nobs, columns=columns)

"""How flat the maximum is: for each free coefficient, the range of values on
which the objective keeps the fitted value, the other coefficients held at the
estimate. Along one coordinate each observation's index is monotone (rounding
is monotone), so its sign changes at one double; the objective can change only
at those points, and the library is asked once per point crossed.

The points are found for all rows at once, in blocks of rows, by searching the
doubles in order: a first guess from the exact-arithmetic root, then steps of
1, 2, 4, ... units in the last place out from it, then halving.
"""
import math

import numpy

from ._defaults import BLOCK

_MAX = numpy.finfo(numpy.float64).max
_MAGNITUDE = numpy.int64(0x7FFFFFFFFFFFFFFF)


def _ordinal(t):
    """Doubles in order as int64 (both zeros map to 0)."""
    bits = numpy.asarray(t, dtype=numpy.float64).view(numpy.int64)
    return numpy.where(bits < 0, -(bits & _MAGNITUDE), bits)


def _from_ordinal(k):
    magnitude = numpy.abs(k).view(numpy.float64)
    return numpy.where(k < 0, -magnitude, magnitude)


def _indices(X, coef, j, t):
    """x_i . beta with coefficient j at t[i], in the library's order: multiply,
    then add, from +0. X: design rows (intercept column included)."""
    index = numpy.zeros(X.shape[0])
    with numpy.errstate(over="ignore", invalid="ignore"):
        for k in range(X.shape[1]):
            term = X[:, k] * (t if k == j else coef[k])
            index = term + index
    return index


def _change_points(X, coef, j):
    """For rows of X: the first double at which the sign of the index differs
    from its sign at -max, for the rows whose sign changes at all."""
    n = X.shape[0]
    first = _indices(X, coef, j, numpy.full(n, -_MAX)) >= 0.0
    moves = (_indices(X, coef, j, numpy.full(n, _MAX)) >= 0.0) != first
    X, first = X[moves], first[moves]
    if X.shape[0] == 0:
        return numpy.empty(0)

    def differs(rows, k):
        return (_indices(X[rows], coef, j, _from_ordinal(k)) >= 0.0) != first[rows]

    bottom, top = _ordinal(-_MAX), _ordinal(_MAX)
    with numpy.errstate(divide="ignore", invalid="ignore", over="ignore"):
        guess = -_indices(X, coef, j, numpy.zeros(X.shape[0])) / X[:, j]
    k = _ordinal(numpy.clip(numpy.nan_to_num(guess, nan=0.0), -_MAX, _MAX))
    everyone = numpy.arange(X.shape[0])
    at = differs(everyone, k)
    # lo: a double with the first sign; hi: one with the other.
    lo = numpy.where(at, bottom, k)
    hi = numpy.where(at, k, top)
    # Gallop out from the guess, only on the rows still open, until each
    # bracket holds the change; past 2^62 units the ends themselves are the
    # probes, and they settle every row.
    for rows, upward in ((everyone[~at], True), (everyone[at], False)):
        step = 1
        while rows.size:
            base = k[rows]
            if step > 1 << 62:
                probe = numpy.full(rows.size, top if upward else bottom)
            elif upward:
                probe = numpy.where(base > top - step, top, base + step)
            else:
                probe = numpy.where(base < bottom + step, bottom, base - step)
            d = differs(rows, probe)
            hi[rows[d]] = probe[d]
            lo[rows[~d]] = probe[~d]
            rows = rows[~d] if upward else rows[d]
            step *= 2
    # Halve the brackets still wider than neighbours (lo < hi - 1: the
    # difference itself could overflow).
    rows = everyone[lo < hi - 1]
    while rows.size:
        a, b = lo[rows], hi[rows]
        mid = (a >> 1) + (b >> 1) + (a & b & 1)
        d = differs(rows, mid)
        hi[rows[d]] = mid[d]
        lo[rows[~d]] = mid[~d]
        rows = rows[lo[rows] < hi[rows] - 1]
    return _from_ordinal(hi)


def _nearest(X, coef, j, here, keep):
    """The `keep` smallest change points above `here` and the `keep` largest at
    or below it, each sorted, and whether any were left out on either side."""
    above, below = numpy.empty(0), numpy.empty(0)
    cut_above = cut_below = False
    for start in range(0, X.shape[0], BLOCK):
        points = _change_points(X[start:start + BLOCK], coef, j)
        above = numpy.concatenate((above, points[points > here]))
        below = numpy.concatenate((below, points[points <= here]))
        if above.size > keep:
            above, cut_above = numpy.partition(above, keep - 1)[:keep], True
        if below.size > keep:
            below, cut_below = numpy.partition(below, below.size - keep)[-keep:], True
    return numpy.sort(above), numpy.sort(below), cut_above, cut_below


def flat_ranges(X, coef, value, objective, keep=256):
    """[lo, hi] for each free coefficient (-inf/inf where the value holds to
    the end). X: the design (N x K, the normalized column last); coef: all K
    design coefficients; objective(j, t): the library's value with coefficient
    j at t. Only the change points nearest the estimate are kept; more are
    found when the walk runs past them."""
    ranges = []
    for j in range(len(coef) - 1):
        here = coef[j]
        size = keep
        while True:
            above, below, cut_above, cut_below = _nearest(X, coef, j, here, size)
            hi = lo = None
            previous = None
            for p in above.tolist():
                if p != previous and objective(j, p) != value:
                    hi = math.nextafter(p, -math.inf)
                    break
                previous = p
            previous = None
            for p in below[::-1].tolist():
                if p != previous and objective(j, math.nextafter(p, -math.inf)) != value:
                    lo = p
                    break
                previous = p
            if (hi is None and cut_above) or (lo is None and cut_below):
                size *= 16
                continue
            ranges.append((-math.inf if lo is None else lo, math.inf if hi is None else hi))
            break
    return ranges

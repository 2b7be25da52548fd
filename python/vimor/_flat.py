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
    from its sign at -max, and a mask of the rows whose sign changes at all."""
    n = X.shape[0]
    full = numpy.full(n, 1.0)
    first = _indices(X, coef, j, -_MAX * full) >= 0.0
    moves = (_indices(X, coef, j, _MAX * full) >= 0.0) != first
    X, first = X[moves], first[moves]
    if X.shape[0] == 0:
        return numpy.empty(0), moves

    def differs(k):
        return (_indices(X, coef, j, _from_ordinal(k)) >= 0.0) != first

    bottom, top = _ordinal(-_MAX), _ordinal(_MAX)
    with numpy.errstate(divide="ignore", invalid="ignore", over="ignore"):
        guess = -_indices(X, coef, j, numpy.zeros(X.shape[0])) / X[:, j]
    guess = numpy.clip(numpy.nan_to_num(guess, nan=0.0), -_MAX, _MAX)
    k = _ordinal(guess)
    at = differs(k)
    # lo: a double with the first sign; hi: one with the other.
    lo = numpy.where(at, bottom, k)
    hi = numpy.where(at, k, top)
    # Gallop out from the guess until each bracket holds the change; past
    # 2^62 units the ends themselves are the probes, and they settle every row.
    step = 1
    up, down = ~at, at.copy()
    while up.any() or down.any():
        if up.any():
            probe = numpy.where(k > top - step, top, k + step) if step <= 1 << 62 else top + 0 * k
            hit = up & differs(probe)
            hi = numpy.where(hit, probe, hi)
            lo = numpy.where(up & ~hit, probe, lo)
            up &= ~hit
        if down.any():
            probe = (numpy.where(k < bottom + step, bottom, k - step) if step <= 1 << 62
                     else bottom + 0 * k)
            hit = down & ~differs(probe)
            lo = numpy.where(hit, probe, lo)
            hi = numpy.where(down & ~hit, probe, hi)
            down &= ~hit
        step *= 2
    # Halve each bracket until lo and hi are neighbours.
    while True:
        open_ = hi - lo > 1
        if not open_.any():
            break
        mid = (lo >> 1) + (hi >> 1) + (lo & hi & 1)
        mid = numpy.where(open_, mid, lo)
        d = differs(mid)
        hi = numpy.where(open_ & d, mid, hi)
        lo = numpy.where(open_ & ~d, mid, lo)
    return _from_ordinal(hi), moves


def flat_ranges(X, coef, value, objective):
    """[lo, hi] for each free coefficient (-inf/inf where the value holds to
    the end). X: the design (N x K, the normalized column last); coef: all K
    design coefficients; objective(j, t): the library's value with coefficient
    j at t."""
    nobs = X.shape[0]
    ranges = []
    for j in range(len(coef) - 1):
        parts = []
        for start in range(0, nobs, BLOCK):
            points, _moves = _change_points(X[start:start + BLOCK], coef, j)
            parts.append(points)
        points = numpy.concatenate(parts)
        points.sort()
        here = coef[j]
        cut = int(numpy.searchsorted(points, here, side="right"))
        hi = math.inf
        previous = None
        for p in points[cut:].tolist():
            if p == previous:
                continue
            previous = p
            if objective(j, p) != value:
                hi = math.nextafter(p, -math.inf)
                break
        lo = -math.inf
        previous = None
        for p in points[:cut][::-1].tolist():
            if p == previous:
                continue
            previous = p
            if objective(j, math.nextafter(p, -math.inf)) != value:
                lo = p
                break
        ranges.append((lo, hi))
    return ranges

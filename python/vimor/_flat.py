"""How flat the maximum is: for each free coefficient, the range of values on
which the objective keeps the fitted value, the other coefficients held at the
estimate. Along one coordinate each observation's index is monotone (rounding
is monotone), so its sign changes at one double; the objective can change only
at those points, and the library is asked once per point crossed.
"""
import math
import struct

_MAX = 1.7976931348623157e308


def _ordinal(x):
    """Doubles in order as integers (both zeros map to 0)."""
    bits = struct.unpack("<q", struct.pack("<d", x))[0]
    return -(bits & 0x7FFFFFFFFFFFFFFF) if bits < 0 else bits


def _from_ordinal(k):
    return struct.unpack("<d", struct.pack("<q", k))[0] if k >= 0 else -struct.unpack(
        "<d", struct.pack("<q", -k))[0]


def index_at(columns, design_coef, i):
    """x_i . beta in the library's order: multiply, then add, from +0."""
    index = 0.0
    last = len(design_coef) - 1
    for k in range(last):
        index = columns[k][i] * design_coef[k] + index
    return columns[last][i] * design_coef[last] + index


def _change_point(sign_at, guess):
    """The first double at which sign_at differs from sign_at(-max), or None.
    Gallops out from the guess, then halves the bracket."""
    first = sign_at(-_MAX)
    if sign_at(_MAX) == first:
        return None
    top, bottom = _ordinal(_MAX), _ordinal(-_MAX)
    k = _ordinal(min(max(guess, -_MAX), _MAX)) if not math.isnan(guess) else 0
    step = 1
    if sign_at(_from_ordinal(k)) == first:
        lo = k
        while True:
            hi = min(lo + step, top)
            if hi == top or sign_at(_from_ordinal(hi)) != first:
                break
            lo, step = hi, 2 * step
    else:
        hi = k
        while True:
            lo = max(hi - step, bottom)
            if lo == bottom or sign_at(_from_ordinal(lo)) == first:
                break
            hi, step = lo, 2 * step
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if sign_at(_from_ordinal(mid)) == first:
            lo = mid
        else:
            hi = mid
    return _from_ordinal(hi)


def flat_ranges(columns, design_coef, value, objective):
    """[lo, hi] for each free design coefficient (-inf/inf where the value
    holds to the end); objective(j, t) is the library's value with coefficient
    j at t."""
    nobs = len(columns[0])
    coef = list(design_coef)
    ranges = []
    for j in range(len(design_coef) - 1):
        points = set()
        for i in range(nobs):
            x = columns[j][i]
            if x == 0.0:
                continue
            work = list(coef)

            def sign_at(t, work=work, i=i):
                work[j] = t
                return index_at(columns, work, i) >= 0.0

            work[j] = 0.0
            rest = index_at(columns, work, i)
            point = _change_point(sign_at, -rest / x)
            if point is not None:
                points.add(point)
        points = sorted(points)
        here = coef[j]
        above = [p for p in points if p > here]
        below = [p for p in points if p <= here]
        hi = math.inf
        for p in above:
            if objective(j, p) != value:
                hi = math.nextafter(p, -math.inf)
                break
        lo = -math.inf
        for p in reversed(below):
            if objective(j, math.nextafter(p, -math.inf)) != value:
                lo = p
                break
        ranges.append((lo, hi))
    return ranges

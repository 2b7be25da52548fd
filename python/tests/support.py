"""Shared helpers of the Python tests: small seeded data sets and a direct
ctypes call of the module's exports, written apart from the package."""
import ctypes
import os
import random
from pathlib import Path

HERE = Path(__file__).resolve().parent


def library_path():
    path = os.environ.get("VIMOR_LIBRARY")
    if not path:
        raise RuntimeError("set VIMOR_LIBRARY to the built module (CTest does)")
    return path


def hexes(values):
    return [float(v).hex() for v in values]


def probit_data(n=120, k=3, seed=7, intercept=True):
    """Rows of k regressors (the first a constant 1 when intercept) and 0/1
    responses from a noisy linear index."""
    rng = random.Random(seed)
    rows, y = [], []
    for _ in range(n):
        row = [1.0] if intercept else []
        row += [round(rng.gauss(0.0, 1.0), 3) for _ in range(k - len(row))]
        index = sum((0.5 - 0.3 * j) * v for j, v in enumerate(row)) + rng.gauss(0.0, 0.5)
        rows.append(row)
        y.append(1 if index >= 0 else 0)
    return rows, y


def column_major(rows):
    n, k = len(rows), len(rows[0])
    return [rows[i][j] for j in range(k) for i in range(n)]


class Direct:
    """The two exports called by hand through ctypes, every argument by address."""

    def __init__(self):
        self.dll = ctypes.CDLL(library_path())
        self.dll._fcna_.restype = ctypes.c_int32
        self.dll._saa_.restype = ctypes.c_int32

    def objective(self, y, rows, coef, quantile, fixed):
        d, i = ctypes.c_double, ctypes.c_int32
        x = column_major(rows)
        score = d()
        rc = self.dll._fcna_((d * len(y))(*y), (d * len(x))(*x), ctypes.byref(i(len(rows))),
                             ctypes.byref(i(len(rows[0]))), (d * len(coef))(*coef),
                             ctypes.byref(score), ctypes.byref(d(quantile)),
                             ctypes.byref(d(fixed)))
        assert rc == 0
        return score.value

    def anneal(self, y, rows, *, start, quantile, maximize, cooling, tolerance, sweeps,
               adjustments, history_len, max_evals, lower, upper, step_gain, seed1, seed2,
               temperature, step, fixed):
        d, i = ctypes.c_double, ctypes.c_int32
        m = len(rows[0]) - 1
        x = column_major(rows)
        vec = lambda v: (d * m)(*v)
        coef, steps, best = vec(start), vec(step), (d * m)()
        temp, best_value = d(temperature), d()
        acc, evals, oob, status, hit = i(), i(), i(), i(), i(0)
        r = ctypes.byref
        rc = self.dll._saa_(
            (d * len(y))(*y), (d * len(x))(*x), r(i(len(rows))), r(i(m + 1)), coef,
            r(d(quantile)), r(i(maximize)), r(d(cooling)), r(d(tolerance)), r(i(sweeps)),
            r(i(adjustments)), r(i(history_len)), r(i(max_evals)), vec(lower), vec(upper),
            vec(step_gain), r(i(seed1)), r(i(seed2)), r(temp), steps, best, r(best_value),
            r(acc), r(evals), r(oob), r(status), (d * max(1, history_len))(), (d * m)(),
            (i * m)(), r(hit), r(d(fixed)))
        assert rc == 0
        return dict(best=list(best), value=best_value.value, n_accepted=acc.value,
                    n_evals=evals.value, n_out_of_bounds=oob.value, temperature=temp.value,
                    step=list(steps), status=status.value, limit_hit=hit.value)


def result_key(result):
    """Every field of an AnnealResult (or a Direct.anneal dict) in exact form."""
    get = (lambda k: result[k]) if isinstance(result, dict) else (lambda k: getattr(result, k))
    return (hexes(get("best")), float(get("value")).hex(), int(get("n_accepted")),
            int(get("n_evals")), int(get("n_out_of_bounds")), float(get("temperature")).hex(),
            hexes(get("step")), int(get("status")))

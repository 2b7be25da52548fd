"""Bad input is refused with a message naming the argument, before any call of
the library (the stub below fails the test if it is called)."""
import array
import math
import unittest

import vimor
from support import probit_data

try:
    import numpy
except ImportError:
    numpy = None

try:
    import pandas
except ImportError:
    pandas = None


def _never(*args):
    raise AssertionError("the library was called with bad input")


class NeverCalled:
    fcna = staticmethod(_never)
    saa = staticmethod(_never)


STUB = NeverCalled()
ROWS, Y = probit_data(n=20, k=3, seed=2)
BOX = dict(lower=[-1.0, -1.0], upper=[1.0, 1.0])


def anneal(**changes):
    args = dict(y=Y, X=ROWS)
    args.update(changes)
    y, X = args.pop("y"), args.pop("X")
    return vimor.anneal(y, X, library=STUB, **args)


def objective(y=Y, X=ROWS, coef=(0.0, 0.0), quantile=0.5, fixed_coef=1.0):
    return vimor.objective(y, X, coef, quantile, fixed_coef, library=STUB)


def fit(X=None, y=Y, **options):
    if X is None:
        X = {"a": [r[0] for r in ROWS], "b": [r[1] for r in ROWS], "c": [r[2] for r in ROWS]}
    return vimor.MaxScore(library=STUB, **options).fit(X, y)


class ShapeTest(unittest.TestCase):
    def test_response_length(self):
        with self.assertRaisesRegex(ValueError, r"^y: has 19 values but X has 20 rows"):
            anneal(y=Y[:-1])
        with self.assertRaisesRegex(ValueError, r"^y: has 19 values"):
            objective(y=Y[:-1])

    def test_ragged_rows(self):
        rows = [list(r) for r in ROWS]
        rows[4] = rows[4][:2]
        with self.assertRaisesRegex(ValueError, r"^X\[4\]: has 2 values but X\[0\] has 3"):
            anneal(X=rows)

    def test_columns_of_different_lengths(self):
        with self.assertRaisesRegex(ValueError, r"^X: column 'b' has 3 values but column 'a' has 4"):
            anneal(X={"a": [1, 2, 3, 4], "b": [1, 2, 3]}, y=[0, 1, 0, 1])

    def test_fewer_than_two_regressors(self):
        with self.assertRaisesRegex(ValueError, r"^X: needs at least two regressors \(columns\), got 1"):
            anneal(X=[[r[0]] for r in ROWS])
        with self.assertRaisesRegex(ValueError, r"^X: needs at least two regressors"):
            objective(X=[[r[0]] for r in ROWS], coef=[])

    def test_no_rows(self):
        with self.assertRaisesRegex(ValueError, r"^X: has no rows"):
            anneal(X=[], y=[])

    def test_per_coefficient_lengths(self):
        with self.assertRaisesRegex(ValueError, r"^coef: expected 2 values \(one per free coefficient\), got 3"):
            objective(coef=[0.0, 0.0, 0.0])
        with self.assertRaisesRegex(ValueError, r"^lower: expected 2 values"):
            anneal(lower=[-1.0], upper=[1.0, 1.0])
        with self.assertRaisesRegex(ValueError, r"^start: expected 2 values"):
            anneal(start=[0.0], **BOX)
        with self.assertRaisesRegex(ValueError, r"^step_gain: expected 2 values"):
            anneal(step_gain=[1.0, 1.0, 1.0])

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_numpy_shapes(self):
        with self.assertRaisesRegex(ValueError, r"^X: expected a 2-D array"):
            anneal(X=numpy.zeros(20))
        with self.assertRaisesRegex(ValueError, r"^y: expected one dimension, got 2"):
            anneal(y=numpy.zeros((20, 1)))


class ValueTest(unittest.TestCase):
    def test_not_finite_regressors(self):
        for bad in (math.nan, math.inf, -math.inf):
            rows = [list(r) for r in ROWS]
            rows[3][1] = bad
            with self.assertRaisesRegex(ValueError, r"^X\[3\]\[1\]: is .*NaN and infinite values are not allowed"):
                anneal(X=rows)
        with self.assertRaisesRegex(ValueError, r"^X\['b'\]\[1\]: is nan"):
            anneal(X={"a": [1.0, 2.0], "b": [1.0, math.nan]}, y=[0, 1])

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_not_finite_numpy(self):
        X = numpy.array(ROWS)
        X[7, 2] = numpy.inf
        with self.assertRaisesRegex(ValueError, r"^X\[7, 2\]: is inf"):
            anneal(X=X)
        y = numpy.array(Y, dtype=float)
        y[5] = numpy.nan
        with self.assertRaisesRegex(ValueError, r"^y\[5\]: is nan; the response must be 0 or 1"):
            anneal(y=y)

    def test_response_not_binary(self):
        for bad in (2, 0.5, -1, math.nan):
            y = list(Y)
            y[6] = bad
            with self.assertRaisesRegex(ValueError, r"^y\[6\]: is .*; the response must be 0 or 1"):
                anneal(y=y)

    def test_quantile_outside_unit_interval(self):
        for bad in (0, 1, 1.5, -0.25, math.nan):
            with self.assertRaisesRegex(ValueError, r"^quantile: must (lie strictly between 0 and 1|be finite)"):
                anneal(quantile=bad)
            with self.assertRaisesRegex(ValueError, r"^quantile: "):
                objective(quantile=bad)
            with self.assertRaisesRegex(ValueError, r"^quantile: "):
                fit(quantile=bad)

    def test_box_upside_down(self):
        with self.assertRaisesRegex(ValueError, r"^lower\[1\]: 2.0 is above upper\[1\] = 1.0"):
            anneal(lower=[-1.0, 2.0], upper=[1.0, 1.0])

    def test_start_outside_box(self):
        with self.assertRaisesRegex(ValueError, r"^start\[0\]: 1.5 lies outside the box \[-1.0, 1.0\]"):
            anneal(start=[1.5, 0.0], **BOX)
        with self.assertRaisesRegex(ValueError, r"^start\[1\]: -1.5 lies outside"):
            fit(start={"b": -1.5}, lower=[-1.0, -1.0], upper=[1.0, 1.0])

    def test_not_finite_settings(self):
        with self.assertRaisesRegex(ValueError, r"^upper\[0\]: is inf"):
            anneal(lower=[-1.0, -1.0], upper=[math.inf, 1.0])
        with self.assertRaisesRegex(ValueError, r"^fixed_coef: must be finite"):
            anneal(fixed_coef=math.nan)
        with self.assertRaisesRegex(ValueError, r"^coef\[1\]: is nan"):
            objective(coef=[0.0, math.nan])

    def test_temperature_and_evaluation_limit(self):
        for bad in (0.0, -1.0):
            with self.assertRaisesRegex(ValueError, r"^temperature: must be positive"):
                anneal(temperature=bad)
        with self.assertRaisesRegex(ValueError, r"^temperature: must be finite"):
            anneal(temperature=math.inf)
        for bad in (0, -5):
            with self.assertRaisesRegex(ValueError, r"^max_evals: must be at least 1"):
                anneal(max_evals=bad)
            with self.assertRaisesRegex(ValueError, r"^max_evals: must be at least 1"):
                fit(max_evals=bad)
        with self.assertRaisesRegex(ValueError, r"^max_evals: must be at least 1, got 2147483648"):
            anneal(max_evals=2 ** 31)

    def test_other_settings(self):
        with self.assertRaisesRegex(ValueError, r"^cooling: must lie in \(0, 1\]"):
            anneal(cooling=1.5)
        with self.assertRaisesRegex(ValueError, r"^tolerance: must not be negative"):
            anneal(tolerance=-1e-9)
        with self.assertRaisesRegex(ValueError, r"^sweeps: must be at least 1"):
            anneal(sweeps=0)
        with self.assertRaisesRegex(ValueError, r"^history_len: must be in \[1, 10000\]"):
            anneal(history_len=10001)
        with self.assertRaisesRegex(ValueError, r"^step\[0\]: must not be negative"):
            anneal(step=[-0.1, 0.1], **BOX)
        with self.assertRaisesRegex(ValueError, r"^fixed_coef: must not be 0"):
            anneal(fixed_coef=0.0)

    def test_seeds_outside_32_bits(self):
        for bad in (2 ** 31, -2 ** 31 - 1):
            for name in ("seed1", "seed2"):
                with self.assertRaisesRegex(ValueError, rf"^{name}: must be the 32-bit range"):
                    anneal(**{name: bad})
            for name in ("seed", "seed2"):
                with self.assertRaisesRegex(ValueError, rf"^{name}: must be the 32-bit range"):
                    fit(**{name: bad})


class TypeTest(unittest.TestCase):
    def test_not_numbers(self):
        with self.assertRaisesRegex(TypeError, r"^quantile: expected a number, got str"):
            anneal(quantile="0.5")
        with self.assertRaisesRegex(TypeError, r"^sweeps: expected an integer, got float"):
            anneal(sweeps=2.0)
        with self.assertRaisesRegex(TypeError, r"^maximize: expected True or False, got int"):
            anneal(maximize=1)
        rows = [list(r) for r in ROWS]
        rows[2][0] = "1.0"
        with self.assertRaisesRegex(TypeError, r"^X\[2\]\[0\]: expected a number, got str"):
            anneal(X=rows)
        with self.assertRaisesRegex(TypeError, r"^y\[0\]: expected a number, got NoneType"):
            anneal(y=[None] + Y[1:])

    def test_shapeless_inputs(self):
        with self.assertRaisesRegex(TypeError, r"^X: a flat array has no shape"):
            anneal(X=array.array("d", [0.0] * 60))
        with self.assertRaisesRegex(TypeError, r"^X: expected a sequence of rows"):
            anneal(X="data.csv")
        with self.assertRaisesRegex(TypeError, r"^X\[0\]: expected a row"):
            anneal(X=[1.0, 2.0])
        with self.assertRaisesRegex(TypeError, r"^y: expected a sequence of numbers, got int"):
            anneal(y=1)

    def test_library_argument(self):
        with self.assertRaisesRegex(TypeError, r"^library: expected a path or a vimor.Library"):
            vimor.objective(Y, ROWS, [0.0, 0.0], library=42)


class ModelTest(unittest.TestCase):
    def test_normalize_names_a_column(self):
        with self.assertRaisesRegex(ValueError, r"^normalize: X has no column 'd'; its columns are a, b, c"):
            fit(normalize="d")
        with self.assertRaisesRegex(ValueError, r"^normalize: column 3 is out of range for 3 columns"):
            fit(normalize=3)
        with self.assertRaisesRegex(TypeError, r"^normalize: expected a column name or position"):
            fit(normalize=1.0)

    def test_normalized_column_must_vary(self):
        X = {"a": [r[1] for r in ROWS], "b": [2.0] * 20}
        with self.assertRaisesRegex(ValueError, r"^X: the normalized column 'b' is constant"):
            fit(X)

    def test_all_zero_column(self):
        X = {"z": [0.0] * 20, "b": [r[1] for r in ROWS]}
        with self.assertRaisesRegex(ValueError, r"^X: column 'z' is all zeros; give lower and upper"):
            fit(X)

    def test_intercept_name_taken(self):
        X = {"(Intercept)": [r[1] for r in ROWS], "b": [r[2] for r in ROWS]}
        with self.assertRaisesRegex(ValueError, r"^X: already has a column named '\(Intercept\)'"):
            fit(X, intercept=True)

    def test_counts(self):
        with self.assertRaisesRegex(ValueError, r"^restarts: must be in \[1, 31329\], got 0"):
            fit(restarts=0)
        with self.assertRaisesRegex(ValueError, r"^n_jobs: must be at least 1"):
            fit(n_jobs=0)

    def test_restarts_past_the_seed_range(self):
        # Restart r runs from seed + r modulo 31329: restart 31329 would repeat
        # restart 0. The command line stops at the same count.
        with self.assertRaisesRegex(ValueError, r"^restarts: must be in \[1, 31329\], got 31330"):
            fit(restarts=31330)
        with self.assertRaisesRegex(ValueError, r"^restarts: must be in \[1, 31329\], got 100000000"):
            fit(restarts=10 ** 8)

    def test_settings_are_checked_by_fit_not_stored_changed(self):
        model = vimor.MaxScore(temperature=0.1, n_jobs=-1, restarts=0)
        self.assertEqual((model.temperature, model.n_jobs, model.restarts), (0.1, -1, 0))

    def test_box_names(self):
        with self.assertRaisesRegex(ValueError, r"^lower: 'c' is not a free coefficient; they are a, b"):
            fit(lower={"c": -1.0})

    def test_unfitted(self):
        from sklearn.exceptions import NotFittedError
        for method in ("predict", "decision_function", "summary"):
            with self.assertRaisesRegex(NotFittedError, r"not fitted yet"):
                getattr(vimor.MaxScore(), method)(*([ROWS] if method != "summary" else []))


class NamesTest(unittest.TestCase):
    """Columns are matched by name, so two that read the same are refused."""

    @unittest.skipIf(pandas is None, "pandas is not installed")
    def test_duplicate_dataframe_columns(self):
        X = pandas.DataFrame([r + [r[1] * 2.0] for r in ROWS], columns=list("aacd"))
        with self.assertRaisesRegex(ValueError, r"^X: the columns 'a', 'a' share the name 'a'"):
            fit(X)

    @unittest.skipIf(pandas is None, "pandas is not installed")
    def test_columns_equal_as_text(self):
        X = pandas.DataFrame(ROWS, columns=[1, "1", "c"])
        with self.assertRaisesRegex(ValueError, r"^X: the columns 1, '1' share the name '1'"):
            fit(X)
        columns = {1: [r[0] for r in ROWS], "1": [r[1] for r in ROWS], "c": [r[2] for r in ROWS]}
        with self.assertRaisesRegex(ValueError, r"^X: the columns 1, '1' share the name '1'"):
            fit(columns)


class OverflowTest(unittest.TestCase):
    """An index that overflows makes the objective NaN: refused, never returned."""
    X = [[1e300, -1e300, 1.0], [1e300, -1e300, -1.0], [2.0, 1.0, 0.5], [1.0, -2.0, 3.0]]
    y = [1, 0, 1, 0]
    words = r"^X: the objective is not a number because an index overflows; rescale the regressors"

    def test_objective(self):
        with self.assertRaisesRegex(ValueError, self.words):
            vimor.objective(self.y, self.X, [1e10, 1e10])

    def test_search_and_fit(self):
        box = dict(lower=[-1e10, -1e10], upper=[1e10, 1e10], start=[1e10, 1e10], max_evals=1)
        with self.assertRaisesRegex(ValueError, self.words):
            vimor.anneal(self.y, self.X, **box)
        with self.assertRaisesRegex(ValueError, self.words):
            vimor.MaxScore(restarts=2, **box).fit(self.X, self.y)

    def test_default_box_needs_a_finite_spread(self):
        # The normalized column's spread overflows: the error names it, not
        # the column whose box it would have sized.
        X = [[1e300, 1.0], [-1e300, 2.0], [1.0, 3.0], [5.0, 1.0]]
        for form in (X, numpy.array(X)) if numpy is not None else (X,):
            with self.assertRaisesRegex(ValueError, r"^X: the normalized column 'x1' has a "
                                                    r"standard deviation that is not finite"):
                vimor.MaxScore(normalize=0).fit(form, self.y)
            with self.assertRaisesRegex(ValueError, r"^X: column 'x1' has a standard deviation "
                                                    r"that is not finite"):
                vimor.MaxScore(normalize=1).fit(form, self.y)


if __name__ == "__main__":
    unittest.main()

"""Bad input is refused with a message naming the argument as Python spells
it: the wrong types by the package, the wrong values by the core, whose
neutral names ("x", "threads", {key}) come back in Python's spelling."""
import itertools
import math
import unittest
import warnings

import numpy
import pandas
import scipy.sparse

import vimor
from support import probit_data

ROWS, Y = probit_data(n=20, k=3, seed=2)
COLUMNS = {"a": [r[0] for r in ROWS], "b": [r[1] for r in ROWS], "c": [r[2] for r in ROWS]}


def fit(X=COLUMNS, y=Y, **options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", vimor.FitWarning)
        return vimor.MaxScore(**dict(dict(restarts=2, max_evals=2000), **options)).fit(X, y)


class TypeTest(unittest.TestCase):
    def test_wrong_types_name_the_argument(self):
        cases = [(dict(quantile="0.5"), r"^quantile: expected a number, got str"),
                 (dict(sweeps=2.0), r"^sweeps: expected an integer, got float"),
                 (dict(maximize=1), r"^maximize: expected True or False, got int"),
                 (dict(lower=-1.0), r"^lower: expected a sequence of numbers, got float"),
                 (dict(interval=1), r"^interval: expected a string, got int"),
                 (dict(normalize=1.0), r"^normalize: expected a column name or position"),
                 (dict(executor=object()), r"^executor: expected a concurrent.futures.Executor"),
                 (dict(library=42), r"^library: expected a path or a vimor.Library, got int")]
        for options, words in cases:
            with self.subTest(options=options), self.assertRaisesRegex(TypeError, words):
                fit(**options)

    def test_data_that_are_not_numbers(self):
        rows = [list(r) for r in ROWS]
        rows[2][0] = "1.0"
        with self.assertRaisesRegex(TypeError, r"^X: expected numbers, got dtype <U"):
            vimor.anneal(Y, rows)
        with self.assertRaisesRegex(TypeError, r"^y: expected numbers, got dtype object"):
            vimor.anneal([None] + Y[1:], ROWS)


class UnreadableDataTest(unittest.TestCase):
    def test_missing_masked_sparse_and_complex_name_the_argument(self):
        # Refused alike by anneal, fit, and predict or score, never read as data.
        na = pandas.DataFrame(COLUMNS).astype({"b": "Float64"})
        na.loc[4, "b"] = pandas.NA
        y_na = pandas.Series(Y, dtype="Int64")
        y_na[6] = pandas.NA
        objects = numpy.array(ROWS, dtype=object)
        objects[2, 1] = pandas.NA
        masked = numpy.ma.masked_array(ROWS)
        masked[1, 2] = numpy.ma.masked
        cases = [(na, Y, ValueError, r"^X\['b'\]: row 5 is missing \(NA\)"),
                 (ROWS, y_na, ValueError, r"^y: row 7 is missing \(NA\)"),
                 (objects, Y, ValueError, r"^X: row 3, column 2 is missing \(NA\)"),
                 (masked, Y, ValueError, r"^X: row 2, column 3 is masked"),
                 (ROWS, numpy.ma.masked_equal(Y, Y[0]), ValueError, r"^y: row 1 is masked"),
                 (scipy.sparse.csr_matrix(ROWS), Y, TypeError, r"^X: a sparse matrix"),
                 (ROWS, scipy.sparse.csc_matrix([Y]).T, TypeError, r"^y: a sparse matrix"),
                 (numpy.array(ROWS, dtype=complex), Y, ValueError,
                  r"^X: Complex data not supported")]
        model = fit()
        calls = dict(anneal=vimor.anneal, fit=lambda y, X: fit(X, y), score=lambda y, X:
                     model.score(X, y))
        for (X, y, error, words), (name, call) in itertools.product(cases, calls.items()):
            with self.subTest(words, call=name), self.assertRaisesRegex(error, words):
                call(y, X)


class ShapeTest(unittest.TestCase):
    def test_lengths_python_must_check(self):
        with self.assertRaisesRegex(ValueError, r"^y: has 19 values but X has 20 rows"):
            vimor.objective(Y[:-1], ROWS, [0.0, 0.0])
        with self.assertRaisesRegex(ValueError, r"^coef: expected 2 values \(one per free "
                                                r"coefficient\), got 3"):
            vimor.objective(Y, ROWS, [0.0, 0.0, 0.0])
        with self.assertRaisesRegex(ValueError, r"^X: column 'b' has 3 values but column 'a' "
                                                r"has 4"):
            vimor.anneal([0, 1, 0, 1], {"a": [1, 2, 3, 4], "b": [1, 2, 3]})
        with self.assertRaisesRegex(ValueError, r"^X: expected 2 dimension\(s\), got 1"):
            vimor.anneal(Y, [1.0] * 20)

    def test_names(self):
        with self.assertRaisesRegex(ValueError, r"^lower: 'z' is not a free coefficient; "
                                                r"they are a, b"):
            fit(lower={"z": -1.0})
        with self.assertRaisesRegex(ValueError, r"^normalize: X has no column 'd'; its columns "
                                                r"are a, b, c"):
            fit(normalize="d")
        with self.assertRaisesRegex(ValueError, r"^X: already has a column named "
                                                r"'\(Intercept\)'"):
            fit({"(Intercept)": COLUMNS["a"], "b": COLUMNS["b"]}, intercept=True)
        with self.assertRaisesRegex(ValueError, r"^X: the columns 1, '1' share the name '1'"):
            fit(pandas.DataFrame(ROWS, columns=[1, "1", "c"]))


class CoreValueTest(unittest.TestCase):
    def test_spelled_the_python_way(self):
        rows = [list(r) for r in ROWS]
        rows[3][1] = math.nan
        with self.assertRaisesRegex(ValueError, r"^X: column 'x2' is nan in row 4"):
            vimor.anneal(Y, rows)
        with self.assertRaisesRegex(ValueError, r"^n_jobs: 300 is outside 0\.\.256$"):
            fit(n_jobs=300)
        with self.assertRaisesRegex(ValueError, r"^X: at least two regressors are needed "
                                                r"\(counting normalize and intercept\), got 1$"):
            vimor.anneal(Y, [[r[0]] for r in ROWS])
        # {lower} and {upper} in the core's message, and the column that overflows named.
        huge = [[1e300 * (-1) ** i, 1.0 + i] for i in range(20)]
        with self.assertRaisesRegex(ValueError, r"^lower: the default box needs the standard "
                                                r"deviation of column 'x1', which is not finite "
                                                r".*give lower and upper$"):
            vimor.MaxScore(normalize=0).fit(huge, Y)

    def test_settings_out_of_range(self):
        cases = [(dict(quantile=1.5), r"^quantile: 1.5 is outside \(0, 1\)$"),
                 (dict(fixed_coef=0.0), r"^fixed_coef: must be a finite nonzero number, got 0"),
                 (dict(restarts=31330), r"^restarts: 31330 is outside 1\.\.31329$"),
                 (dict(lower=[-1.0, 2.0], upper=[1.0, 1.0]),
                  r"^lower: lower bound 2 is above upper bound 1 for 'b'$"),
                 (dict(start={"b": -1.5}, lower=[-1.0, -1.0], upper=[1.0, 1.0]),
                  r"^start: -1.5 for 'b' is outside the box \[-1, 1\]$"),
                 (dict(lower=[math.nan, 1.0]), r"^lower\[0\]: is nan"),
                 (dict(n_jobs=0), r"^n_jobs: must be at least 1, or -1"),
                 (dict(subsamples=3, subsample_size=19),
                  r"^subsample_size: 19 is outside 20\.\."),
                 (dict(interval="wide"), r"^interval: 'wide' is neither equal-tailed nor "
                                         r"symmetric$")]
        for options, words in cases:
            with self.subTest(options=options), self.assertRaisesRegex(ValueError, words):
                fit(**options)

    def test_seed_rule(self):
        # Seeds name distinct streams, seed in 0..31328 and seed2 in 0..30081;
        # anything else is refused, not reduced.
        for options, words in ((dict(seed=31329), r"^seed: 31329 is outside 0\.\.31328$"),
                               (dict(seed2=30082), r"^seed2: 30082 is outside 0\.\.30081$"),
                               (dict(seed=-1), r"^seed: -1 is outside 0\.\.31328$"),
                               (dict(seed=2 ** 60), r"^seed: 1152921504606846976 is too large")):
            with self.subTest(options=options), self.assertRaisesRegex(ValueError, words):
                fit(**options)
        self.assertEqual(fit(seed=31328, seed2=30081).seeds_, [(31328, 30081), (0, 30081)])

    def test_constant_response(self):
        with self.assertRaisesRegex(ValueError, r"^y: has one class: the response is 1 in every "):
            vimor.anneal([1] * 20, ROWS)
        with self.assertRaisesRegex(ValueError, r"^y: has one class: the response is 0"):
            vimor.objective([0] * 20, ROWS, [0.0, 0.0])
        with self.assertRaisesRegex(ValueError, r"^y: has 1 class \('a'\); a maximum-score fit "
                                                r"needs exactly two"):
            fit(y=["a"] * 20)

    def test_columns_the_core_refuses(self):
        with self.assertRaisesRegex(ValueError, r"^normalize: column 'b' is constant"):
            fit({"a": COLUMNS["a"], "b": [2.0] * 20}, normalize="b")
        with self.assertRaisesRegex(ValueError, r"^X: column 'z' is zero in every row"):
            fit({"z": [0.0] * 20, "b": COLUMNS["b"]})

    def test_an_index_that_overflows(self):
        X = [[1e300, -1e300, 1.0], [1e300, -1e300, -1.0], [2.0, 1.0, 0.5], [1.0, -2.0, 3.0]]
        y = [1, 0, 1, 0]
        words = r"^X: the objective is not a number because an index x.b overflows"
        box = dict(lower=[-1e10, -1e10], upper=[1e10, 1e10], start=[1e10, 1e10], max_evals=1)
        with self.assertRaisesRegex(ValueError, words):
            vimor.objective(y, X, [1e10, 1e10])
        with self.assertRaisesRegex(ValueError, words):
            vimor.anneal(y, X, **box)
        with self.assertRaisesRegex(ValueError, words):
            vimor.MaxScore(restarts=2, **box).fit(X, y)


if __name__ == "__main__":
    unittest.main()

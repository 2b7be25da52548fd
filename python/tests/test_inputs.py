"""Every accepted input form reaches the library as the same doubles."""
import array
import unittest

import vimor
from vimor import _core, _data
from support import probit_data, result_key

try:
    import numpy
except ImportError:
    numpy = None

try:
    import pandas
except ImportError:
    pandas = None

SETTINGS = dict(quantile=0.35, max_evals=20000, seed1=99, seed2=1234)


class InputFormsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rows, cls.y = probit_data(n=83, k=4, seed=5)
        cls.want = result_key(vimor.anneal(cls.y, cls.rows, **SETTINGS))
        cls.coef = [0.3, -0.2, 0.7]
        cls.want_objective = vimor.objective(cls.y, cls.rows, cls.coef, 0.35).hex()

    def check(self, y, X):
        self.assertEqual(result_key(vimor.anneal(y, X, **SETTINGS)), self.want)
        self.assertEqual(vimor.objective(y, X, self.coef, 0.35).hex(), self.want_objective)

    def columns(self):
        return {f"c{j}": [r[j] for r in self.rows] for j in range(4)}

    def test_lists_and_tuples(self):
        self.check(tuple(self.y), [tuple(r) for r in self.rows])
        self.check([bool(v) for v in self.y], [[int(v) if v == int(v) else v for v in r]
                                               for r in self.rows])

    def test_array_module(self):
        self.check(array.array("d", self.y), [array.array("d", r) for r in self.rows])
        self.check(array.array("b", self.y), [array.array("d", r) for r in self.rows])

    def test_mapping_of_columns(self):
        self.check(self.y, self.columns())
        self.check(self.y, {k: array.array("d", v) for k, v in self.columns().items()})

    def test_flat_response_array_is_used_in_place(self):
        y = array.array("d", self.y)
        buffer, _keep = _data.response(y, len(y))
        self.assertIs(buffer, y)

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_numpy_arrays_off_double_alignment(self):
        # Arrays one byte into their buffer, as np.frombuffer or a Dask worker's
        # unpickling can give: the library must get aligned doubles, same values.
        def unaligned(a, order):
            a = numpy.asarray(a, dtype=numpy.float64, order=order)
            raw = numpy.zeros(a.nbytes + 1, dtype=numpy.uint8)
            raw[1:] = numpy.frombuffer(a.tobytes(order=order), dtype=numpy.uint8)
            out = numpy.frombuffer(raw.data, dtype=numpy.float64, offset=1)
            return out.reshape(a.shape, order=order)
        y, X = unaligned(self.y, "C"), unaligned(self.rows, "F")
        self.assertFalse(y.flags.aligned or X.flags.aligned)
        self.check(y, X)
        problem = _core.Problem(y, X, len(self.y), 4)
        self.assertTrue(problem.response.flags.aligned and problem.regressors.flags.aligned)
        self.assertEqual(problem.regressors.tobytes(order="F"), X.tobytes(order="F"))

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_numpy_layouts(self):
        c = numpy.array(self.rows, dtype=numpy.float64, order="C")
        f = numpy.asfortranarray(c)
        y = numpy.array(self.y, dtype=numpy.float64)
        for X in (c, f, f[:, :]):
            self.check(y, X)
        self.check(numpy.array(self.y, dtype=numpy.int64), c)
        # A strided view: every other row of a taller matrix.
        tall = numpy.repeat(c, 2, axis=0)
        self.check(y, tall[::2])
        self.check(self.y, {k: numpy.array(v) for k, v in self.columns().items()})

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_column_major_numpy_is_not_copied(self):
        f = numpy.asfortranarray(numpy.array(self.rows, dtype=numpy.float64))
        self.assertIs(_data.regressors(f).design(), f)
        y = numpy.array(self.y, dtype=numpy.float64)
        self.assertIs(_data.response(y, len(y))[0], y)

    @unittest.skipIf(numpy is None, "numpy is not installed")
    def test_numpy_in_numpy_out(self):
        X = numpy.array(self.rows)
        result = vimor.anneal(self.y, X, **SETTINGS)
        self.assertIsInstance(result.best, numpy.ndarray)
        self.assertIsInstance(result.step, numpy.ndarray)
        listed = vimor.anneal(self.y, self.rows, **SETTINGS)
        self.assertIs(type(listed.best), list)
        self.assertIs(type(listed.value), float)
        model = vimor.MaxScore(restarts=2, max_evals=5000).fit(X, self.y)
        self.assertIsInstance(model.coef_, numpy.ndarray)
        self.assertIsInstance(model.predict(X), numpy.ndarray)

    @unittest.skipIf(pandas is None, "pandas is not installed")
    def test_dataframe(self):
        frame = pandas.DataFrame(self.columns())
        self.check(pandas.Series(self.y), frame)
        model = vimor.MaxScore(restarts=2, max_evals=5000).fit(frame, self.y)
        self.assertEqual(list(model.coef_.index), list(frame.columns))


if __name__ == "__main__":
    unittest.main()

"""Every accepted input form reaches the core as the same doubles."""
import array
import unittest

import numpy
import pandas

import vimor
from vimor import _core
from support import library_path, probit_data, result_key

SETTINGS = dict(quantile=0.35, max_evals=20000, seed1=99, seed2=1234)


def unaligned(values, order):
    """A float64 array one byte into its buffer, as np.frombuffer or a Dask
    worker's unpickling can give."""
    a = numpy.asarray(values, dtype=numpy.float64, order=order)
    raw = numpy.zeros(a.nbytes + 1, dtype=numpy.uint8)
    raw[1:] = numpy.frombuffer(a.tobytes(order=order), dtype=numpy.uint8)
    return numpy.frombuffer(raw.data, dtype=numpy.float64, offset=1).reshape(a.shape, order=order)


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

    def test_sequences_and_mappings(self):
        self.check(tuple(self.y), [tuple(r) for r in self.rows])
        self.check([bool(v) for v in self.y], [[int(v) if v == int(v) else v for v in r]
                                               for r in self.rows])
        self.check(array.array("b", self.y), [array.array("d", r) for r in self.rows])
        self.check(self.y, self.columns())
        self.check(self.y, {k: numpy.array(v) for k, v in self.columns().items()})

    def test_numpy_layouts(self):
        c = numpy.array(self.rows, dtype=numpy.float64, order="C")
        y = numpy.array(self.y, dtype=numpy.float64)
        for X in (c, numpy.asfortranarray(c), numpy.repeat(c, 2, axis=0)[::2]):
            self.check(y, X)
        self.check(numpy.array(self.y, dtype=numpy.int64), c)

    def test_numpy_off_double_alignment_is_copied_aligned(self):
        y, X = unaligned(self.y, "C"), unaligned(self.rows, "F")
        self.assertFalse(y.flags.aligned or X.flags.aligned)
        self.check(y, X)
        problem = _core.Fit(vimor.load_library(library_path()), y, X, len(self.y),
                            ["a", "b", "c", "d"], 1.0)
        self.assertTrue(problem.response.flags.aligned and problem.regressors.flags.aligned)
        self.assertEqual(problem.regressors.tobytes(order="F"), X.tobytes(order="F"))
        problem.close()

    def test_dataframe(self):
        frame = pandas.DataFrame(self.columns())
        self.check(pandas.Series(self.y), frame)
        model = vimor.MaxScore(restarts=2, max_evals=5000).fit(frame, self.y)
        self.assertEqual(list(model.coef_.index), list(frame.columns))
        self.assertIsInstance(vimor.MaxScore(restarts=2, max_evals=5000)
                              .fit(numpy.array(self.rows), self.y).coef_, numpy.ndarray)

    def test_nullable_object_and_record_forms(self):
        # pandas' nullable dtypes without NA, objects that are numbers, and rows
        # as mappings of named values.
        frame = pandas.DataFrame(self.columns())
        records = frame.to_dict("records")
        for y, X in ((pandas.Series(self.y, dtype="Int64"),
                      frame.astype({"c0": "Int64", "c1": "Float64"})),
                     (pandas.Series(self.y, dtype="boolean"), frame.astype({"c0": "boolean"})),
                     (numpy.array(self.y, dtype=object), numpy.array(self.rows, dtype=object)),
                     (self.y, {k: pandas.Series(v, dtype="Float64") for k, v in self.columns().items()}),
                     (self.y, records)):
            with self.subTest(X=type(X).__name__, y=getattr(y, "dtype", None)):
                self.check(y, X)
        options = dict(restarts=2, max_evals=5000)
        want = vimor.MaxScore(**options).fit(frame, self.y)
        model = vimor.MaxScore(**options).fit(records, pandas.Series(self.y, dtype="Int64"))
        self.assertEqual((model.names_, numpy.asarray(model.coef_).tobytes()),
                         (want.names_, want.coef_.to_numpy().tobytes()))
        shuffled = [dict(reversed(r.items())) for r in records]  # taken by name
        self.assertEqual(model.predict(shuffled).tolist(), want.predict(frame).tolist())
        self.assertEqual(model.score(records, pandas.Series(self.y, dtype="boolean")),
                         want.score(frame, self.y))


if __name__ == "__main__":
    unittest.main()

"""A fit on a Dask cluster (two worker processes on the loopback interface)
gives the thread path's numbers bit for bit, and sends the data once."""
import unittest

from test_inference import bits, fit, heteroskedastic

try:
    import distributed
except ImportError:  # python3-distributed, installed by scripts/install-deps.sh
    distributed = None


@unittest.skipIf(distributed is None, "python3-distributed is not installed")
class ClusterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                               host="127.0.0.1", dashboard_address=None,
                                               silence_logs=40)
        cls.client = distributed.Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def test_same_bits_as_threads_and_data_sent_once(self):
        X, y = heteroskedastic(400, 12)
        options = dict(subsamples=12, subsample_restarts=2, level=0.9)
        threads = fit(X, y, n_jobs=2, **options)

        executor = self.client.get_executor()
        first_arguments = []
        submit = executor.submit

        def recording_submit(fn, *args, **kwargs):
            first_arguments.append(args[0])
            return submit(fn, *args, **kwargs)

        executor.submit = recording_submit
        cluster = fit(X, y, executor=executor, **options)

        self.assertEqual(bits(cluster), bits(threads))
        # 3 restarts and 12 subsample fits, each given a reference to data
        # scattered once, never the data themselves.
        self.assertEqual(len(first_arguments), 15)
        self.assertTrue(all(isinstance(a, distributed.Future) for a in first_arguments))
        self.assertEqual(len({a.key for a in first_arguments}), 1)


if __name__ == "__main__":
    unittest.main()

"""Memory of a MaxScore fit on numpy data: N x K regressors and a float64 0/1
response, one short restart. Prints the data's size and how much a fit adds
at its peak, by tracemalloc (Python and numpy allocations) and by the peak
resident set size. Run with the package and module to measure:

    PYTHONPATH=python VIMOR_LIBRARY=build/libvimor.so /usr/bin/python3 bench/python_memory.py [N K]
"""
import resource
import sys
import tracemalloc

import numpy

import vimor

n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
k = int(sys.argv[2]) if len(sys.argv) > 2 else 6
rng = numpy.random.default_rng(3)
X = rng.standard_normal((n, k))
y = (X @ numpy.linspace(1.0, -1.0, k) + rng.standard_normal(n) >= 0.0).astype(numpy.float64)
data = X.nbytes + y.nbytes
model = vimor.MaxScore(intercept=True, restarts=1, max_evals=200)


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


before = resident()
tracemalloc.start()
model.fit(X, y)
_, peak = tracemalloc.get_traced_memory()
tracemalloc.stop()
rss_growth = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024 - before
mb = 1e6
print(f"N = {n}, K = {k}: data {data / mb:.1f} MB; fit peak growth: tracemalloc "
      f"{peak / mb:.1f} MB ({peak / data:.2f}x), resident {rss_growth / mb:.1f} MB "
      f"({rss_growth / data:.2f}x)")

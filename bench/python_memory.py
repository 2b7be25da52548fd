"""Memory of a MaxScore fit on numpy data: N x K regressors and a float64 0/1
response, intercept=True, one short restart. Prints the data's size and how
much a fit adds at its peak, measured in two separate processes: by the peak
resident set size, and by tracemalloc (Python and numpy allocations; its own
bookkeeping would inflate the resident size, hence the second process). Run
with the package and module to measure:

    PYTHONPATH=python VIMOR_LIBRARY=build/libvimor.so /usr/bin/python3 bench/python_memory.py [N K]
"""
import resource
import subprocess
import sys
import tracemalloc


def measure(n, k, traced):
    import numpy
    import vimor
    rng = numpy.random.default_rng(3)
    X = rng.standard_normal((n, k))
    y = (X @ numpy.linspace(1.0, -1.0, k) + rng.standard_normal(n) >= 0.0).astype(numpy.float64)
    model = vimor.MaxScore(intercept=True, restarts=1, max_evals=200)
    with open("/proc/self/statm") as f:
        before = int(f.read().split()[1]) * resource.getpagesize()
    if traced:
        tracemalloc.start()
    model.fit(X, y)
    if traced:
        growth = tracemalloc.get_traced_memory()[1]
    else:
        growth = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024 - before
    print(X.nbytes + y.nbytes, growth)


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    k = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    line = f"N = {n}, K = {k}:"
    for label, traced in (("resident", ""), ("tracemalloc", "traced")):
        out = subprocess.run([sys.executable, __file__, "--measure", str(n), str(k), traced],
                             check=True, capture_output=True, text=True).stdout.split()
        data, growth = int(out[0]), int(out[1])
        if label == "resident":
            line += f" data {data / 1e6:.1f} MB; fit peak growth"
        line += f" {label} {growth / 1e6:.1f} MB ({growth / data:.2f}x)"
    print(line)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--measure"]:
        measure(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:] == ["traced"])
    else:
        main()

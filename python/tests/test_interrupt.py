"""Ctrl-C stops a threaded fit within a second and leaves no thread running."""
import os
import signal
import subprocess
import sys
import time
import unittest

# A fit of 31329 restarts of some 6 ms each (a few hundred under a sanitizer),
# on two threads: far longer than the test, in units far shorter than its bound.
CHILD = r"""
import os, threading, time
import numpy, vimor
rng = numpy.random.default_rng(1)
X = rng.standard_normal((1000, 3))
y = ((X @ [1.0, -1.0, 1.0] + rng.standard_normal(1000)) > 0) * 1.0
vimor.load_library()
tasks = lambda: len(os.listdir("/proc/self/task"))
before = tasks()
print("ready", flush=True)
try:
    vimor.MaxScore(n_jobs=2, restarts=31329).fit(X, y)
except KeyboardInterrupt:
    caught = time.monotonic()
    alive = [t.name for t in threading.enumerate() if t.is_alive()]
    # Joined threads leave the process's task list a moment after the join.
    while tasks() > before and time.monotonic() < caught + 1.0:
        time.sleep(0.01)
    print(caught, alive, tasks() - before, flush=True)
"""


class InterruptTest(unittest.TestCase):
    def test_sigint_stops_a_fit_on_two_threads(self):
        child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True, env=os.environ)
        try:
            self.assertEqual(child.stdout.readline(), "ready\n")
            time.sleep(1.0)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=30)
        finally:
            child.kill()
        self.assertEqual(child.returncode, 0, err)
        caught, alive = out.split(" ", 1)
        # Caught within a second; the main thread alone, and no thread more
        # in the process than before the fit.
        self.assertLess(float(caught) - sent, 1.0)
        self.assertEqual(alive, "['MainThread'] 0\n")


if __name__ == "__main__":
    unittest.main()

"""The command line and the Python package share their defaults and the rules
that derive the box, start, steps, tolerance and restart seeds from the data,
so the same model fitted through either gives the same numbers, bit for bit."""
import csv
import json
import os
import random
import subprocess
import sys
import tempfile
import unittest

CLI = os.environ.get("VIMOR_CLI", "vimor")
sys.path.insert(0, os.environ.get("VIMOR_PYTHON_PACKAGE", "../../python"))
import vimor  # noqa: E402


class HostsAgree(unittest.TestCase):
    def fit_both(self, columns, y, normalize, fixed, quantile, minimize=False):
        names = list(columns)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "data.csv")
            with open(path, "w", newline="") as f:
                w = csv.writer(f)
                w.writerow(["y"] + names)
                for i, yi in enumerate(y):
                    w.writerow([yi] + [repr(columns[n][i]) for n in names])
            free = [n for n in names if n != normalize]
            args = [CLI, "fit", path, "--y", "y", "--x", ",".join(names),
                    "--normalize", f"{normalize}={fixed!r}", "--intercept",
                    "--quantile", repr(quantile), "--restarts", "6", "--json"]
            if minimize:
                args.append("--minimize")
            p = subprocess.run(args, capture_output=True, text=True, timeout=120)
            self.assertEqual(p.returncode, 0, p.stderr)
            cli = json.loads(p.stdout)
        model = vimor.MaxScore(quantile=quantile, normalize=normalize, fixed_coef=fixed,
                               intercept=True, restarts=6, maximize=not minimize)
        model.fit({n: columns[n] for n in names}, y)
        by_name = {r["name"]: r["coefficient"] for r in cli["regressors"]}
        py = dict(zip(model.names_, model.coef_.tolist()))
        self.assertEqual(by_name, py)
        self.assertEqual(float(cli["objective"]).hex(), float(model.objective_).hex())
        self.assertEqual(cli["reached_best"], model.n_best_)
        self.assertEqual(cli["best_restart"], model.best_restart_ + 1)

    def test_random_models(self):
        rng = random.Random(5)
        for rep in range(4):
            n, k = 60 + 40 * rep, 2 + rep
            columns = {f"x{j}": [rng.gauss(0, 1 + j) for _ in range(n)] for j in range(k)}
            columns["d"] = [float(rng.randrange(3)) for _ in range(n)]
            y = [1 if columns["x0"][i] - 0.5 * columns["d"][i] + rng.gauss(0, 1) > 0 else 0
                 for i in range(n)]
            with self.subTest(rep=rep):
                self.fit_both(columns, y, "x0", [1.0, -1.0, 2.5, 1.0][rep],
                              [0.5, 0.25, 0.8, 0.5][rep], minimize=rep == 3)


if __name__ == "__main__":
    unittest.main()

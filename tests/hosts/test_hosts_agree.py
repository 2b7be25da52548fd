"""The command line, the Python package and the R package share their defaults
and the rules that derive the box, start, steps, tolerance and restart seeds
from the data, so the same model fitted through any of them gives the same
numbers, bit for bit."""
import array
import csv
import json
import os
import random
import subprocess
import sys
import tempfile
import unittest

CLI = os.environ.get("VIMOR_CLI", "vimor")
# Where the R package is installed (the R tests run only when it is given).
R_LIBRARY = os.environ.get("VIMOR_R_LIBRARY")
FIT_R = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fit_r.R")
sys.path.insert(0, os.environ.get("VIMOR_PYTHON_PACKAGE", "../../python"))
import vimor  # noqa: E402


def write_csv(folder, columns, y):
    """The data as a CSV file in folder, every double in its repr; returns its path."""
    path = os.path.join(folder, "data.csv")
    names = list(columns)
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["y"] + names)
        for i, yi in enumerate(y):
            w.writerow([yi] + [repr(columns[n][i]) for n in names])
    return path


def interval_cases():
    """Two models for the intervals: seeds near the moduli wrap the subsample
    fits' streams; in the second the normalized column is constant on some
    draws, which are redrawn."""
    rng = random.Random(11)
    cases = []
    for rep, (n, seed, seed2, kind) in enumerate([(150, 31320, 30075, "equal-tailed"),
                                                  (220, 7, 8, "symmetric")]):
        columns = {"x1": [rng.gauss(0, 1) for _ in range(n)],
                   "x2": [rng.gauss(0, 2) for _ in range(n)]}
        if rep == 1:
            columns["x2"] = [float(rng.random() < 0.08) * v for v in columns["x2"]]
        y = [1 if 0.5 - columns["x1"][i] + columns["x2"][i] + rng.gauss(0, 1) > 0 else 0
             for i in range(n)]
        cases.append((rep, seed, seed2, kind, columns, y))
    return cases


def cli_interval_fit(test, path, seed, seed2, kind, more=()):
    """The command line's fit with subsampling intervals of an interval case."""
    p = subprocess.run([CLI, "fit", path, *more, "--y", "y", "--x", "x1", "--normalize", "x2",
                        "--intercept", "--restarts", "3", "--max-evals", "30000",
                        "--seed", str(seed), "--seed2", str(seed2),
                        "--subsamples", "25", "--subsample-size", "30",
                        "--subsample-restarts", "2", "--level", "0.9",
                        "--interval", kind, "--json"],
                       capture_output=True, text=True, timeout=120)
    test.assertEqual(p.returncode, 0, p.stderr)
    return json.loads(p.stdout)


class HostsAgree(unittest.TestCase):
    def fit_both(self, columns, y, normalize, fixed, quantile, minimize=False):
        names = list(columns)
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, columns, y)
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

    def test_intervals_and_flat_ranges(self):
        for rep, seed, seed2, kind, columns, y in interval_cases():
            n = len(y)
            with self.subTest(rep=rep):
                self.intervals_both(columns, y, n, seed, seed2, kind)

    def intervals_both(self, columns, y, n, seed, seed2, kind):
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, columns, y)
            cli = cli_interval_fit(self, path, seed, seed2, kind)
        model = vimor.MaxScore(normalize="x2", intercept=True, restarts=3, max_evals=30000,
                               seed=seed, seed2=seed2, subsamples=25, subsample_size=30,
                               subsample_restarts=2, level=0.9, interval=kind)
        model.fit(columns, y)
        free = cli["regressors"][:2]
        hexes = lambda pairs: [[float(v).hex() for v in p] for p in pairs]  # noqa: E731
        self.assertEqual(hexes(r["interval"] for r in free), hexes(model.conf_int()))
        self.assertEqual(hexes(r["flat"] for r in free), hexes(model.flat_))
        self.assertIsNone(cli["regressors"][2]["interval"])
        inference = cli["inference"]
        self.assertEqual((inference["subsample_size"], inference["redrawn"],
                          inference["fits_best_reached_more_than_once"], inference["interval"]),
                         (model.subsample_size_, model.n_redrawn_, model.n_multiple_best_, kind))

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

    def test_certificate(self):
        # The same proof from the same start: the same point, value and count
        # of sub-boxes.
        cli = cli_certified(self)
        data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data",
                            "mroz_psid1976.csv")
        with open(data, newline="") as f:
            rows = list(csv.DictReader(f))
        columns = {n: [float(r[n]) for r in rows] for n in ("age", "youngkids", "education")}
        y = [int(r["participation"]) for r in rows]
        with self.assertWarnsRegex(vimor.FitWarning, "the search missed the maximum"):
            model = vimor.MaxScore(normalize="education", intercept=True, restarts=1,
                                   max_evals=20, certify=30).fit(columns, y)
        self.assertEqual([r["coefficient"] for r in cli["regressors"]], model.coef_.tolist())
        self.assertEqual(float(cli["objective"]).hex(), float(model.objective_).hex())
        c = model.certificate_
        certificate_agrees(self, cli, c["status"], c["upper_bound"], c["upper_correct"],
                           c["nodes"], c["improved"])
        self.assertEqual(cli["certificate"]["box"], c["box"])


def random_model(rep):
    """Columns, response and settings of the rep-th random model."""
    rng = random.Random(5)
    for r in range(rep + 1):
        n, k = 60 + 40 * r, 2 + r
        columns = {f"x{j}": [rng.gauss(0, 1 + j) for _ in range(n)] for j in range(k)}
        columns["d"] = [float(rng.randrange(3)) for _ in range(n)]
        y = [1 if columns["x0"][i] - 0.5 * columns["d"][i] + rng.gauss(0, 1) > 0 else 0
             for i in range(n)]
    return columns, y, [1.0, -1.0, 2.5, 1.0][rep], [0.5, 0.25, 0.8, 0.5][rep], rep == 3


# A search too short for the maximum, corrected by the certificate: the
# bundled data, participation on age and youngkids, education normalized.
CERTIFY_FLAGS = ["--y", "participation", "--x", "age,youngkids", "--normalize", "education",
                 "--intercept", "--restarts", "1", "--max-evals", "20", "--certify", "30"]


def cli_certified(test):
    p = subprocess.run([CLI, "fit", *CERTIFY_FLAGS, "--json"], capture_output=True, text=True,
                       timeout=300)
    test.assertEqual(p.returncode, 0, p.stderr)
    cli = json.loads(p.stdout)
    test.assertEqual((cli["certificate"]["status"], cli["certificate"]["improved"]),
                     ("optimal", True))
    return cli


def certificate_agrees(test, cli, status, upper_bound, upper_correct, nodes, improved):
    c = cli["certificate"]
    test.assertEqual((status, upper_correct, nodes, improved),
                     (c["status"], c["upper_correct"], c["nodes"], c["improved"]))
    test.assertEqual(float(upper_bound).hex(), float(c["upper_bound"]).hex())


def cli_fit(folder, columns, y, normalize, fixed, quantile, minimize, restarts):
    names = list(columns)
    path = write_csv(folder, columns, y)
    args = [CLI, "fit", path, "--y", "y", "--x", ",".join(names),
            "--normalize", f"{normalize}={fixed!r}", "--intercept",
            "--quantile", repr(quantile), "--restarts", str(restarts), "--json"]
    if minimize:
        args.append("--minimize")
    p = subprocess.run(args, capture_output=True, text=True, timeout=120)
    if p.returncode != 0:
        raise AssertionError(p.stderr)
    return json.loads(p.stdout)


def r_fit(folder, request, columns=None):
    """Runs fit_r.R; columns (name: doubles) go through a binary file, so R
    sees exactly the doubles the command line reads from the CSV."""
    if columns is not None:
        data = os.path.join(folder, "data.bin")
        with open(data, "wb") as f:
            for values in columns.values():
                array.array("d", values).tofile(f)
        request = dict(request, data=data, columns=list(columns), nobs=len(next(iter(columns.values()))))
    path = os.path.join(folder, "request.json")
    with open(path, "w") as f:
        json.dump(request, f)
    env = dict(os.environ, R_LIBS=R_LIBRARY)
    p = subprocess.run(["Rscript", "--vanilla", FIT_R, path], capture_output=True, text=True,
                       timeout=300, env=env)
    if p.returncode != 0:
        raise AssertionError(p.stderr)
    return json.loads(p.stdout)


@unittest.skipUnless(R_LIBRARY, "VIMOR_R_LIBRARY (the installed R package) is not set")
class RAgrees(unittest.TestCase):
    """The R package fits as the command line does: coefficients, objective,
    accuracy, best restart and every restart's diagnostics."""

    def assert_same_fit(self, cli, r):
        self.assertEqual(r["names"], [x["name"] for x in cli["regressors"]])
        self.assertEqual([float.fromhex(v) for v in r["coefficients"]],
                         [x["coefficient"] for x in cli["regressors"]])
        self.assertEqual(float.fromhex(r["objective"]), cli["objective"])
        self.assertEqual(float.fromhex(r["correct"]), cli["correct"])
        self.assertEqual(float.fromhex(r["accuracy"]), cli["accuracy"])
        self.assertEqual(r["best_restart"], cli["best_restart"])
        self.assertEqual(r["reached_best"], cli["reached_best"])
        self.assertEqual(len(r["restarts"]), len(cli["restarts"]))
        for ours, theirs in zip(r["restarts"], cli["restarts"]):
            for key in ("seed1", "seed2", "status", "evaluations", "accepted", "out_of_bounds"):
                self.assertEqual(ours[key], theirs[key], key)
            for key in ("objective", "final_temperature"):
                self.assertEqual(float.fromhex(ours[key]), theirs[key], key)
            self.assertEqual([float.fromhex(v) for v in ours["coefficients"]],
                             theirs["coefficients"])

    def test_random_models(self):
        for rep in range(4):
            columns, y, fixed, quantile, minimize = random_model(rep)
            with self.subTest(rep=rep), tempfile.TemporaryDirectory() as folder:
                cli = cli_fit(folder, columns, y, "x0", fixed, quantile, minimize, 6)
                request = dict(formula="y ~ " + " + ".join(columns), normalize="x0",
                            fixed_coef=fixed, quantile=quantile, restarts=6,
                            maximize=not minimize)
                r = r_fit(folder, request, dict(columns, y=y))
                self.assert_same_fit(cli, r)
                self.assert_same_restarts_as_python(r, columns, y, fixed, quantile, minimize)

    def assert_same_restarts_as_python(self, r, columns, y, fixed, quantile, minimize):
        model = vimor.MaxScore(quantile=quantile, normalize="x0", fixed_coef=fixed,
                               intercept=True, restarts=6, maximize=not minimize)
        model.fit({n: columns[n] for n in columns}, y)
        self.assertEqual(len(model.results_), len(r["restarts"]))
        for ours, theirs in zip(r["restarts"], model.results_):
            self.assertEqual((float.fromhex(ours["objective"]), ours["status"],
                              ours["evaluations"], ours["accepted"], ours["out_of_bounds"],
                              float.fromhex(ours["final_temperature"])),
                             (theirs.value, theirs.status, theirs.n_evals, theirs.n_accepted,
                              theirs.n_out_of_bounds, theirs.temperature))
            self.assertEqual([float.fromhex(v) for v in ours["coefficients"]],
                             [float(v) for v in theirs.best])

    def test_factor_and_interaction(self):
        # R expands factor(d) and x1:factor(d) by model.matrix; the command line
        # is given the same columns, made here, under model.matrix's names.
        columns, y, fixed, quantile, _ = random_model(1)
        expanded = {"x1": columns["x1"]}
        for level in (1.0, 2.0):
            expanded[f"factor(d){level:g}"] = [1.0 if v == level else 0.0 for v in columns["d"]]
        for level in ("1", "2"):
            expanded[f"x1:factor(d){level}"] = [a * b for a, b in
                                                zip(columns["x1"], expanded[f"factor(d){level}"])]
        expanded["x0"] = columns["x0"]
        with tempfile.TemporaryDirectory() as folder:
            cli = cli_fit(folder, expanded, y, "x0", fixed, quantile, False, 6)
            request = dict(formula="y ~ x1 * factor(d) + x0", normalize="x0", fixed_coef=fixed,
                        quantile=quantile, restarts=6, maximize=True)
            self.assert_same_fit(cli, r_fit(folder, request, dict(columns, y=y)))

    def test_intervals(self):
        for rep, seed, seed2, kind, columns, y in interval_cases():
            with self.subTest(rep=rep), tempfile.TemporaryDirectory() as folder:
                path = write_csv(folder, columns, y)
                cli = cli_interval_fit(self, path, seed, seed2, kind)
                request = dict(formula="y ~ x1", normalize="x2", restarts=3, max_evals=30000,
                            seed=seed, seed2=seed2, subsamples=25, subsample_size=30,
                            subsample_restarts=2, level=0.9, interval=kind)
                r = r_fit(folder, request, dict(columns, y=y))
                self.assert_same_fit(cli, r)
                self.assertEqual([[float.fromhex(v) for v in ends] for ends in r["intervals"][:2]],
                                 [x["interval"] for x in cli["regressors"][:2]])
                self.assertEqual(r["intervals"][2], ["NA", "NA"])
                inference = cli["inference"]
                self.assertEqual(r["inference"], dict(
                    size=inference["subsample_size"], redrawn=inference["redrawn"],
                    multiple_best=inference["fits_best_reached_more_than_once"],
                    limit_hit=inference["fits_at_evaluation_limit"]))
                if rep == 1:
                    self.assertGreater(r["inference"]["redrawn"], 0)

    def test_default_model(self):
        # The bundled data set, the README's derived columns and the default
        # settings, which R is not given: it takes them from the core as well.
        p = subprocess.run([CLI, "fit", "--json"], capture_output=True, text=True, timeout=300)
        self.assertEqual(p.returncode, 0, p.stderr)
        cli = json.loads(p.stdout)
        formula = ("participation ~ education + experience + experience_sq + age + "
                   "youngkids + oldkids")
        request = dict(mroz=True, formula=formula, normalize="nonwife_income", fixed_coef=-1.0)
        with tempfile.TemporaryDirectory() as folder:
            r = r_fit(folder, request)
        self.assert_same_fit(cli, r)
        self.assertEqual([[float.fromhex(v) if v != "Inf" and v != "-Inf" else None
                           for v in ends] for ends in r["flat"]],
                         [x["flat"] for x in cli["regressors"][:-1]])

    def test_certificate(self):
        cli = cli_certified(self)
        request = dict(mroz=True, formula="participation ~ age + youngkids",
                       normalize="education", fixed_coef=1.0, restarts=1, max_evals=20,
                       certify=30)
        with tempfile.TemporaryDirectory() as folder:
            r = r_fit(folder, request)
        self.assertEqual([float.fromhex(v) for v in r["coefficients"]],
                         [x["coefficient"] for x in cli["regressors"]])
        self.assertEqual(float.fromhex(r["objective"]), cli["objective"])
        c = r["certificate"]
        certificate_agrees(self, cli, c["status"], float.fromhex(c["upper_bound"]),
                           c["upper_correct"], c["nodes"], c["improved"])
        self.assertTrue(any("missed the maximum" in w for w in r["warnings"]))

    def test_weighted_intervals(self):
        # Whole, fractional, zero and unit weights (rows of weight 1 keep y
        # itself): the same fit and intervals in the three hosts.
        rep, seed, seed2, kind, columns, y = interval_cases()[1]
        rng = random.Random(9)
        weights = [rng.choice([0.0, 1.0, 1.0, 2.0, 0.25, 3.5]) for _ in y]
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, dict(columns, w=weights), y)
            cli = cli_interval_fit(self, path, seed, seed2, kind, ["--weights", "w"])
            request = dict(formula="y ~ x1", normalize="x2", restarts=3, max_evals=30000,
                           seed=seed, seed2=seed2, subsamples=25, subsample_size=30,
                           subsample_restarts=2, level=0.9, interval=kind, weights="w")
            r = r_fit(folder, request, dict(columns, w=weights, y=y))
        self.assert_same_fit(cli, r)
        self.assertEqual([[float.fromhex(v) for v in ends] for ends in r["intervals"][:2]],
                         [x["interval"] for x in cli["regressors"][:2]])
        model = vimor.MaxScore(normalize="x2", intercept=True, restarts=3, max_evals=30000,
                               seed=seed, seed2=seed2, subsamples=25, subsample_size=30,
                               subsample_restarts=2, level=0.9, interval=kind)
        model.fit(columns, y, sample_weight=weights)
        self.assertEqual([float(v).hex() for v in model.coef_],
                         [float(x["coefficient"]).hex() for x in cli["regressors"]])
        self.assertEqual(model.objective_.hex(), float(cli["objective"]).hex())
        self.assertEqual(model.conf_int().tolist(),
                         [x["interval"] for x in cli["regressors"][:2]])

    def test_profiles(self):
        # A weighted fit at quantile 0.4: every step of every profile, the same
        # bits from the command line's CSV, Python's DataFrame and R's profile().
        rep, seed, seed2, kind, columns, y = interval_cases()[0]
        rng = random.Random(4)
        weights = [rng.choice([0.0, 1.0, 2.0, 0.5]) for _ in y]
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, dict(columns, w=weights), y)
            steps = os.path.join(folder, "profile.csv")
            p = subprocess.run([CLI, "fit", path, "--y", "y", "--x", "x1", "--normalize", "x2",
                                "--intercept", "--weights", "w", "--quantile", "0.4",
                                "--restarts", "3", "--seed", str(seed), "--seed2", str(seed2),
                                "--profile", steps], capture_output=True, text=True, timeout=120)
            self.assertEqual(p.returncode, 0, p.stderr)
            with open(steps, newline="") as f:
                cli = [(r["coefficient"], *(float(r[k]).hex() for k in
                                            ("left", "right", "objective", "correct")))
                       for r in csv.DictReader(f)]
            request = dict(formula="y ~ x1", normalize="x2", restarts=3, seed=seed, seed2=seed2,
                           quantile=0.4, weights="w", profile=True)
            r = r_fit(folder, request, dict(columns, w=weights, y=y))["profile"]
        self.assertGreater(len(cli), 10)
        self.assertEqual(list(zip(r["coefficient"], *(map(lambda v: float.fromhex(v).hex(),
                                                          r[k]) for k in
                                                      ("left", "right", "objective",
                                                       "correct")))), cli)
        model = vimor.MaxScore(normalize="x2", intercept=True, restarts=3, seed=seed,
                               seed2=seed2, quantile=0.4).fit(columns, y, sample_weight=weights)
        python = model.profile()
        self.assertEqual([(n, *(float(v).hex() for v in values)) for n, *values in
                          python[["coefficient", "left", "right", "objective",
                                  "correct"]].itertuples(index=False)], cli)

    def test_bootstrap_intervals(self):
        # The reshaped bootstrap on a weighted fit: V, the draws and the
        # intervals, the same bits in the three hosts.
        rep, seed, seed2, kind, columns, y = interval_cases()[0]
        rng = random.Random(4)
        weights = [rng.choice([1.0, 1.0, 2.0, 0.5]) for _ in y]
        settings = dict(restarts=3, max_evals=30000, seed=seed, seed2=seed2, bootstrap=30,
                        bootstrap_restarts=2)
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, dict(columns, w=weights), y)
            p = subprocess.run([CLI, "fit", path, "--weights", "w", "--y", "y", "--x", "x1",
                                "--normalize", "x2", "--intercept", "--restarts", "3",
                                "--max-evals", "30000", "--seed", str(seed), "--seed2", str(seed2),
                                "--bootstrap", "30", "--bootstrap-restarts", "2", "--level", "0.9",
                                "--interval", kind, "--json"],
                               capture_output=True, text=True, timeout=300)
            self.assertEqual(p.returncode, 0, p.stderr)
            cli = json.loads(p.stdout)
            r = r_fit(folder, dict(formula="y ~ x1", normalize="x2", weights="w", level=0.9,
                                   interval=kind, **settings), dict(columns, w=weights, y=y))
        self.assert_same_fit(cli, r)
        ends = [x["interval"] for x in cli["regressors"][:2]]
        self.assertEqual([[float.fromhex(v) for v in e] for e in r["intervals"][:2]], ends)
        model = vimor.MaxScore(normalize="x2", intercept=True, level=0.9, interval=kind,
                               **settings).fit(columns, y, sample_weight=weights)
        self.assertEqual(model.conf_int().tolist(), ends)
        self.assertEqual(model.inference_["curvature_eigenvalues"],
                         cli["inference"]["curvature_eigenvalues"])
        self.assertEqual(model.inference_["edge_hits"], cli["inference"]["edge_hits"])

    def test_warnings_and_refusals(self):
        # A normalized regressor with few values warns; a constant response is
        # refused; both with the core's words, each host naming its own argument.
        columns, y, fixed, quantile, _ = random_model(0)
        with tempfile.TemporaryDirectory() as folder:
            path = write_csv(folder, columns, y)
            p = subprocess.run([CLI, "fit", path, "--y", "y", "--x", "x0,x1", "--normalize", "d",
                                "--intercept", "--restarts", "4"],
                               capture_output=True, text=True, timeout=120)
            self.assertEqual(p.returncode, 0, p.stderr)
            cli_warnings = [line[len("vimor: warning: "):] for line in p.stderr.splitlines()
                            if line.startswith("vimor: warning: ")]
            r = r_fit(folder, dict(formula="y ~ x0 + x1", normalize="d", restarts=4),
                      dict(columns, y=y))
            self.assertIn("takes only 3 distinct values", " ".join(r["warnings"]))
            self.assertEqual([w.split(" (")[0] for w in r["warnings"]],
                             [w.split(" (")[0] for w in cli_warnings])

            constant = [1] * len(y)
            path = write_csv(folder, columns, constant)
            p = subprocess.run([CLI, "fit", path, "--y", "y", "--x", "x0", "--normalize", "x1"],
                               capture_output=True, text=True, timeout=120)
            self.assertEqual(p.returncode, 2)
            self.assertTrue(p.stderr.startswith("vimor: --y: has one class"), p.stderr)
            r = r_fit(folder, dict(formula="y ~ x0", normalize="x1"), dict(columns, y=constant))
            self.assertEqual(r["error"].split(": ", 1)[1], p.stderr.strip().split(": ", 2)[2])


if __name__ == "__main__":
    unittest.main()

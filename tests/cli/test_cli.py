"""End-to-end tests of the vimor command line (run through CTest)."""
import csv
import json
import math
import os
import random
import re
import subprocess
import tempfile
import unittest

CLI = os.environ.get("VIMOR_CLI", "vimor")
DATA = os.environ.get("VIMOR_DATA", "../../data/mroz_psid1976.csv")
DEFAULT_NAMES = ["(Intercept)", "education", "experience", "experience_sq", "age",
                 "youngkids", "oldkids", "nonwife_income"]


def run(*args, env=None):
    environment = dict(os.environ)
    environment.pop("VIMOR_LIBRARY", None)
    environment.update(env or {})
    return subprocess.run([CLI, *args], capture_output=True, text=True, env=environment,
                          timeout=240)


def run_json(*args):
    """Runs and parses --json output, numbers kept as printed."""
    p = run(*args, "--json")
    if p.returncode != 0:
        raise AssertionError(f"vimor {' '.join(args)} failed: {p.stderr}")
    return json.loads(p.stdout, parse_float=str, parse_int=str)


def sanitized():
    """Whether the program under test is built with a sanitizer."""
    try:
        with open(CLI, "rb") as f:
            program = f.read()
    except OSError:  # a bare name, found on PATH
        return False
    return b"__asan_init" in program or b"__tsan_init" in program


def assert_refused(test, args, *fragments, env=None):
    """One line on stderr, starting "vimor: ", holding each fragment; exit 2."""
    p = run(*args, env=env)
    shown = f"{args}: {p.stdout[:1000]}{p.stderr[:1000]}"  # a long cell stays out of the log
    test.assertEqual(p.returncode, 2, shown)
    test.assertEqual(p.stdout, "", shown)
    test.assertTrue(p.stderr.startswith("vimor: "), shown)
    test.assertEqual(p.stderr.count("\n"), 1, shown)
    for fragment in fragments:
        test.assertIn(fragment, p.stderr, shown)
    return p.stderr


def free_coefs(result):
    return [r["coefficient"] for r in result["regressors"] if r["normalized"] is False]


class Files:
    """Writes small CSV files into a temporary folder."""

    def __init__(self, test):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)

    def write(self, name, text, newline="\n"):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", newline="") as f:
            f.write(text.replace("\n", newline))
        return path


class Reproducible(unittest.TestCase):
    def test_same_seed_same_fit(self):
        args = ("fit", "--restarts", "3", "--seed", "77")
        first, second = run_json(*args), run_json(*args)
        for result in (first, second):
            del result["wall_seconds"]
        self.assertEqual(first, second)

    def test_threads_do_not_change_the_result(self):
        one = run_json("fit", "--restarts", "3", "--threads", "1")
        two = run_json("fit", "--restarts", "3", "--threads", "2")
        self.assertEqual(one["restarts"], two["restarts"])
        self.assertEqual(one["regressors"], two["regressors"])

    def test_restart_seeds_follow_the_rule(self):
        result = run_json("fit", "--restarts", "3", "--seed", "31328", "--seed2", "5",
                          "--max-evals", "50")
        self.assertEqual([(r["seed1"], r["seed2"]) for r in result["restarts"]],
                         [("31328", "5"), ("0", "5"), ("1", "5")])

    def test_default_fit_uses_the_default_model(self):
        p = run("fit", "--restarts", "1", "--max-evals", "2000")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stderr, "")  # no progress when stderr is not a terminal
        self.assertRegex(p.stdout, r"753 observations, response participation, quantile 0\.5")
        self.assertRegex(p.stdout, r"nonwife_income +-1  \(normalized\)")
        for name in DEFAULT_NAMES:
            self.assertIn(name, p.stdout)


def subsampling_interval(estimate, draws, nobs, size, level):
    """The equal-tailed rule, written out: d = sorted differences, the
    ceil(p B)-th smallest as the quantile at p, scaled by (b/N)^(1/3)."""
    ratio = (size / nobs) ** (1.0 / 3.0)
    d = sorted((x - estimate) + 0.0 for x in draws)
    b = len(d)
    at = lambda p: d[min(max(math.ceil(p * b - 1e-9), 1), b) - 1]  # noqa: E731
    a = (1.0 - level) / 2.0
    return [estimate - at(1.0 - a) * ratio, estimate - at(a) * ratio]


class Inference(unittest.TestCase):
    ARGS = ("fit", "--restarts", "2", "--max-evals", "20000", "--subsamples", "30",
            "--subsample-restarts", "2", "--level", "0.9", "--interval", "equal-tailed")

    def test_intervals_follow_from_the_written_estimates(self):
        files = Files(self)
        path = os.path.join(files.dir.name, "draws.csv")
        fit = run_json(*self.ARGS, "--subsample-estimates", path, "--threads", "1")
        with open(path, newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], DEFAULT_NAMES[:-1])
        draws = [[float(v) for v in row] for row in rows[1:]]
        self.assertEqual(len(draws), 30)
        inference = fit["inference"]
        self.assertEqual((inference["method"], inference["interval"], inference["subsamples"],
                          inference["subsample_size"], inference["level"]),
                         ("subsampling", "equal-tailed", "30", "82", "0.9"))
        for j, r in enumerate(fit["regressors"][:-1]):
            est = float(r["coefficient"])
            self.assertEqual([float(v) for v in r["interval"]],
                             subsampling_interval(est, [d[j] for d in draws], 753, 82, 0.9))
            lo, hi = map(float, r["flat"])
            self.assertTrue(lo <= est <= hi)
        self.assertIsNone(fit["regressors"][-1]["interval"])
        # Fits spread over threads give the same intervals.
        two = run_json(*self.ARGS, "--threads", "2")
        self.assertEqual(two["regressors"], fit["regressors"])

    def test_table_shows_the_intervals(self):
        p = run(*self.ARGS)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertRegex(p.stdout, r"regressor +coefficient +90% interval +flat range")
        self.assertRegex(p.stdout, r"subsampling, equal-tailed 90%, 30 subsamples of 82 "
                                   r"observations, 2 restarts each")


class ScoreMatchesFit(unittest.TestCase):
    def test_json_coefficients_score_to_the_fit_objective(self):
        fit = run_json("fit", "--restarts", "2", "--seed", "123")
        score = run_json("score", "--coef", ",".join(free_coefs(fit)))
        self.assertEqual(score["objective"], fit["objective"])
        self.assertEqual(score["accuracy"], fit["accuracy"])
        self.assertEqual(score["correct"], fit["correct"])

    def test_table_shows_the_json_numbers_to_seven_digits(self):
        args = ("fit", "--restarts", "2", "--seed", "9")
        p = run(*args)
        self.assertEqual(p.returncode, 0, p.stderr)
        # Name and coefficient lead each row; the flat range and the mark follow.
        table = dict(re.findall(r"^  (\S+) +(\S+)(?:  .*)?$", p.stdout, re.M))
        result = run_json(*args)
        for r in result["regressors"]:
            self.assertEqual(table[r["name"]], f'{float(r["coefficient"]):.7g}', r["name"])
        self.assertRegex(p.stdout, r"objective \(maximized\) +" +
                         re.escape(f'{float(result["objective"]):.7g}') + "\n")
        self.assertIn(f'({result["correct"]} of 753 correct)', p.stdout)
        self.assertRegex(p.stdout, r"restarts +\d of 2 reached the best value")
        self.assertNotIn("seed1", p.stdout)  # the restart table is behind --verbose
        verbose = run(*args, "--verbose")
        self.assertEqual(len(re.findall(r"^ +[12] +\d+ +\d+ +0\.\d+ +converged", verbose.stdout,
                                        re.M)), 2, verbose.stdout)

    def test_score_agrees_with_an_independent_computation(self):
        # The objective summed here in the module's order, from the CSV itself:
        # checks the reader, the derived columns and the column order.
        coef = [3.5, 1.25, 2.0, -0.0625, -1.5, -30.0, -2.0]
        with open(DATA, newline="") as f:
            rows = list(csv.DictReader(f))
        n = len(rows)
        score = 0.0
        for r in rows:
            x = [1.0, float(r["education"]), float(r["experience"]),
                 float(r["experience"]) * float(r["experience"]), float(r["age"]),
                 float(r["youngkids"]), float(r["oldkids"])]
            income = (float(r["fincome"]) - float(r["hours"]) * float(r["wage"])) / 1000.0
            index = 0.0
            for xj, bj in zip(x, coef):
                index = xj * bj + index
            index = income * -1.0 + index
            term = (1.0 / n) * (float(r["participation"]) - (1.0 - 0.5))
            score = term * (1.0 if index >= 0 else -1.0) + score
        result = run_json("score", "--coef", ",".join(map(repr, coef)))
        self.assertEqual(float(result["objective"]), score)


class Json(unittest.TestCase):
    def test_fit_json_has_the_result(self):
        p = run("fit", "--restarts", "2", "--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        result = json.loads(p.stdout)
        self.assertEqual([r["name"] for r in result["regressors"]], DEFAULT_NAMES)
        self.assertEqual([r["normalized"] for r in result["regressors"]], [False] * 7 + [True])
        self.assertEqual(result["regressors"][-1]["coefficient"], -1)
        self.assertEqual(result["observations"], 753)
        self.assertEqual(len(result["restarts"]), 2)
        self.assertIn(result["best_restart"], (1, 2))
        best = result["restarts"][result["best_restart"] - 1]
        self.assertEqual(best["objective"], result["objective"])
        self.assertEqual(best["coefficients"], [r["coefficient"] for r in result["regressors"][:7]])
        self.assertEqual(result["evaluations"], sum(r["evaluations"] for r in result["restarts"]))
        # With 0/1 responses at the median, S = (2 * correct - N) / (2N).
        correct = result["correct"]
        self.assertEqual(result["accuracy"], correct / 753)
        self.assertAlmostEqual(result["objective"], (2 * correct - 753) / (2 * 753), places=12)
        self.assertLessEqual(set(("temperature", "cooling", "tolerance", "lower", "upper")),
                             set(result["settings"]))

    def test_score_json(self):
        result = run_json("score", "--coef", "0,0,0,0,0,0,0")
        # Every index is -nonwife_income, which is >= 0 only for the few with
        # non-positive non-wife income: so the objective is about that split.
        self.assertEqual(result["command"], "score")
        self.assertEqual(len(result["regressors"]), 8)


class Separation(unittest.TestCase):
    """On data that a known coefficient vector separates perfectly, the fit
    reaches the largest possible objective, (n1 a + n0 (1 - a)) / N."""

    def write_separable(self, files):
        rng = random.Random(20260101)
        lines = ["y,x1,x2"]
        n1 = 0
        rows = 0
        while rows < 120:
            x1, x2 = rng.uniform(-3, 3), rng.uniform(-3, 3)
            index = -0.5 + 2.0 * x1 + x2
            if abs(index) < 0.2:
                continue  # keep a margin so the separating set has some width
            y = 1 if index >= 0 else 0
            n1 += y
            rows += 1
            lines.append(f"{y},{x1!r},{x2!r}")
        return files.write("separable.csv", "\n".join(lines) + "\n"), n1, rows

    def test_fit_reaches_the_maximum(self):
        files = Files(self)
        path, n1, n = self.write_separable(files)
        for quantile in ("0.5", "0.25"):
            a = float(quantile)
            result = run_json("fit", path, "--y", "y", "--x", "x1", "--normalize", "x2",
                              "--intercept", "--quantile", quantile, "--restarts", "2")
            self.assertAlmostEqual(float(result["objective"]), (n1 * a + (n - n1) * (1 - a)) / n,
                                   delta=1e-12)
            self.assertEqual(result["correct"], str(n))
            self.assertEqual(result["accuracy"], "1")

    def test_minimize_reaches_the_minimum(self):
        files = Files(self)
        path, n1, n = self.write_separable(files)
        # With the scale held at -1 the worst fit is the separating vector
        # negated, which misclassifies every observation.
        result = run_json("fit", path, "--y", "y", "--x", "x1", "--normalize", "x2=-1",
                          "--intercept", "--minimize", "--restarts", "2")
        self.assertAlmostEqual(float(result["objective"]), -0.5, delta=1e-12)
        self.assertEqual(result["correct"], "0")


class CsvReader(unittest.TestCase):
    PLAIN = "y,x1,x2\n1,0.5,2\n0,-1,3\n1,2,-1\n0,-0.25,-2\n"

    def score(self, path):
        return run_json("score", path, "--y", "y", "--x", "x1", "--normalize", "x2=-1",
                        "--intercept", "--coef", "0.125,1")

    def test_quotes_crlf_blank_lines_and_bom_read_as_the_plain_file(self):
        files = Files(self)
        expected = self.score(files.write("plain.csv", self.PLAIN))
        variants = {
            "crlf.csv": (self.PLAIN, "\r\n"),
            "blank.csv": ("\ny,x1,x2\n\n1,0.5,2\n  \n0,-1,3\n1,2,-1\n\n0,-0.25,-2\n\n", "\n"),
            "quoted.csv": ('"y","x1","x2"\n"1",0.5,"2"\n0,"-1",3\n1,2,-1\n0,-0.25,"-2"\n', "\n"),
            "bom.csv": ("\ufeff" + self.PLAIN, "\n"),
            # Unquoted lines are split by the host, quoted ones by libcsv: both
            # trim spaces and tabs around a field alike.
            "spaces.csv": ("y , x1,\tx2\n 1,0.5 ,2\t\n0\t,  -1,3\n\t1 , 2 , -1 \n0,-0.25,-2\n", "\n"),
            "mixed.csv": ('y,x1,x2\n"1" , 0.5,2\n0,-1, 3\n1,"2",-1\n0,-0.25 , "-2"\n', "\n"),
            "cr.csv": (self.PLAIN, "\r"),
            "extra.csv": ('y,x1,name,x2\n1,0.5,"Smith, J.",2\n0,-1,"say ""hi""",3\n'
                          '1,2,"two\nlines",-1\n0,-0.25,,-2\n', "\n"),
        }
        for name, (text, newline) in variants.items():
            got = self.score(files.write(name, text, newline))
            self.assertEqual(got["objective"], expected["objective"], name)
            self.assertEqual(got["observations"], "4", name)


class BadInput(unittest.TestCase):
    """Every mistake gives one line on stderr naming its place, and status 2."""

    def setUp(self):
        self.files = Files(self)
        self.good = self.files.write("good.csv", "y,x1,x2\n1,0.5,2\n0,-1,3\n1,2,-1\n0,-0.25,-2\n")

    def model(self, path=None):
        return [path or self.good, "--y", "y", "--x", "x1", "--normalize", "x2"]

    def refuse(self, args, *fragments, env=None):
        assert_refused(self, args, *fragments, env=env)

    def bad_file(self, text):
        path = self.files.write("bad.csv", text)
        return path, ["fit", *self.model(path)]

    def test_inference_flags(self):
        # Checked before the module is loaded, so a bad library cannot be what fails.
        no_module = ["--library", "/nonexistent/libvimor.so"]
        fit = ["fit", *no_module]  # the bundled data: 753 observations
        self.refuse([*fit, "--subsamples", "-1"], "--subsamples", "outside")
        self.refuse([*fit, "--subsamples", "x"], "--subsamples", "not a whole number")
        self.refuse([*fit, "--subsamples", "30082"], "--subsamples", "30081")
        self.refuse([*fit, "--subsamples", "10", "--subsample-size", "19"],
                    "--subsample-size", "outside 20..")
        self.refuse([*fit, "--subsamples", "10", "--subsample-size", "753"],
                    "--subsample-size", "not below the number of observations, 753")
        for level in ("0", "1", "1.5", "nan"):
            self.refuse([*fit, "--subsamples", "10", "--level", level], "--level")
        self.refuse([*fit, "--subsamples", "10", "--interval", "wide"], "--interval", "'wide'")
        self.refuse([*fit, "--subsamples", "10", "--subsample-restarts", "0"],
                    "--subsample-restarts")
        # Too few estimates for the level: an end would be the extreme one.
        self.refuse([*fit, "--subsamples", "19"], "--subsamples", "needs at least 20")
        self.refuse([*fit, "--subsamples", "40", "--interval", "equal-tailed"], "--subsamples",
                    "needs at least 41")
        self.refuse([*fit, "--subsamples", "100", "--level", "0.999"], "--subsamples",
                    "needs at least 1000", "--level")
        # The good file has 4 rows: the default size is below the minimum.
        self.refuse(["fit", *self.model(), *no_module, "--subsamples", "10"], "--subsamples",
                    "at least 90 observations")

    def test_missing_file(self):
        self.refuse(["fit", *self.model("/nonexistent/d.csv")], "/nonexistent/d.csv", "cannot open")

    def test_missing_column(self):
        self.refuse(["fit", self.good, "--y", "y", "--x", "x1,zz", "--normalize", "x2"],
                    "--x", "no column 'zz'")
        self.refuse(["fit", self.good, "--y", "yy", "--x", "x1", "--normalize", "x2"],
                    "--y", "no column 'yy'")
        self.refuse(["fit", self.good, "--y", "y", "--x", "x1", "--normalize", "q"],
                    "--normalize", "no column 'q'")

    def test_cell_not_a_number(self):
        path, args = self.bad_file("y,x1,x2\n1,0.5,2\n0,abc,3\n")
        self.refuse(args, path, "line 3", "column 'x1'", "'abc' is not a number")
        path, args = self.bad_file("y,x1,x2\n1,0.5,2\n\n0,3,\n")
        self.refuse(args, path, "line 4", "column 'x2'", "empty cell")

    def test_nan_and_infinite_values(self):
        for cell in ("nan", "inf", "-Infinity", "1e999"):
            path, args = self.bad_file(f"y,x1,x2\n1,0.5,2\n0,1,{cell}\n")
            self.refuse(args, path, "line 3", "column 'x2'", "not a finite number")

    def test_response_not_zero_or_one(self):
        path, args = self.bad_file("y,x1,x2\n1,0.5,2\n2,1,3\n")
        self.refuse(args, path, "line 3", "column 'y'", "response 2 is neither 0 nor 1")
        path, args = self.bad_file("y,x1,x2\n1,0.5,2\n0.5,1,3\n")
        self.refuse(args, "line 3", "neither 0 nor 1")

    def test_fewer_than_two_regressors(self):
        self.refuse(["fit", self.good, "--y", "y", "--normalize", "x2"], "--x", "at least two")
        self.refuse(["fit", self.good, "--y", "y", "--x", "x2", "--normalize", "x2"], "at least two")

    def test_constant_or_zero_normalized_column(self):
        path, args = self.bad_file("y,x1,x2\n1,0.5,3\n0,1,3\n")
        self.refuse(args, "--normalize", "'x2' is constant")
        path, args = self.bad_file("y,x1,x2\n1,0.5,0\n0,1,0\n")
        self.refuse(args, "--normalize", "'x2' is zero in every row")

    def test_all_zero_regressor(self):
        path, args = self.bad_file("y,x1,x2\n1,0,3\n0,0,2\n")
        self.refuse(args, "--x", "'x1' is zero in every row")

    def test_empty_data_set(self):
        path, args = self.bad_file("y,x1,x2\n\n")
        self.refuse(args, path, "empty data set")
        path, args = self.bad_file("")
        self.refuse(args, path, "empty file")

    def test_malformed_csv(self):
        path, args = self.bad_file("y,x1,x2\n1,0.5,2\n0,1,3,4\n")
        self.refuse(args, path, "line 3 has 4 fields, the header has 3")
        path, args = self.bad_file('y,x1,x2\n1,0.5,2\n0,1"x,3\n')
        self.refuse(args, path, "line 3", "malformed CSV")
        path, args = self.bad_file('y,x1,x2\n1,0.5,2\n0,"1,3\n')
        self.refuse(args, path, "malformed CSV")

    def test_quantile_outside_open_interval(self):
        for q in ("0", "1", "1.5", "-0.1", "nan", "x"):
            self.refuse(["fit", *self.model(), "--quantile", q], "--quantile")
        self.refuse(["score", *self.model(), "--coef", "1", "--quantile", "1"], "--quantile")

    def test_box(self):
        self.refuse(["fit", *self.model(), "--lower", "2", "--upper", "1"],
                    "--lower", "lower bound 2 is above upper bound 1", "'x1'")
        self.refuse(["fit", *self.model(), "--lower", "1,2"], "--lower", "expected 1 values")
        self.refuse(["fit", *self.model(), "--upper", "inf"], "--upper", "not a finite number")
        self.refuse(["fit", *self.model(), "--start", "5", "--lower", "-1", "--upper", "1"],
                    "--start", "outside the box")

    def test_search_settings(self):
        for t in ("0", "-1", "nan"):
            self.refuse(["fit", *self.model(), "--temperature", t], "--temperature")
        self.refuse(["fit", *self.model(), "--max-evals", "0"], "--max-evals", "outside 1..")
        self.refuse(["fit", *self.model(), "--max-evals", "1.5"], "--max-evals", "whole number")
        self.refuse(["fit", *self.model(), "--cooling", "0"], "--cooling")
        self.refuse(["fit", *self.model(), "--tolerance", "-1"], "--tolerance")
        self.refuse(["fit", *self.model(), "--sweeps", "0"], "--sweeps")
        self.refuse(["fit", *self.model(), "--history", "10001"], "--history")
        self.refuse(["fit", *self.model(), "--restarts", "0"], "--restarts")
        self.refuse(["fit", *self.model(), "--step", "-1"], "--step")

    def test_seeds_out_of_range(self):
        self.refuse(["fit", *self.model(), "--seed", "31329"], "--seed", "outside 0..31328")
        self.refuse(["fit", *self.model(), "--seed", "-1"], "--seed")
        self.refuse(["fit", *self.model(), "--seed2", "30082"], "--seed2", "outside 0..30081")
        self.refuse(["fit", *self.model(), "--seed", "99999999999999999999"], "--seed")

    def test_module_cannot_be_loaded(self):
        self.refuse(["fit", *self.model(), "--library", "/nonexistent/libvimor.so"],
                    "--library", "cannot load /nonexistent/libvimor.so")
        self.refuse(["fit", *self.model()], "VIMOR_LIBRARY", "cannot load",
                    env={"VIMOR_LIBRARY": "/nonexistent/libvimor.so"})

    def test_module_lacks_a_symbol(self):
        self.refuse(["score", *self.model(), "--coef", "1", "--library", "libm.so.6"],
                    "--library", "libm.so.6 lacks the symbol _fcna_")

    def test_score_coefficients(self):
        self.refuse(["score", *self.model(), "--coef", "1,2"], "--coef", "expected 1 values")
        self.refuse(["score", *self.model(), "--coef", "nan"], "--coef", "not a finite number")
        self.refuse(["score", *self.model()], "--coef")

    def test_bad_flags(self):
        self.refuse(["fit", "--no-such-flag"], "--no-such-flag")
        self.refuse([], "subcommand")
        self.refuse(["fit", self.good, "--y", "y", "--x", "x1", "--normalize", "x2=0"],
                    "--normalize", "non-zero")
        self.refuse(["fit", *self.model(), "--normalize", "x1"], "--normalize")
        self.refuse(["fit", self.good, "--x", "x1", "--normalize", "x2"], "--y")


if __name__ == "__main__":
    unittest.main()


class Certificate(unittest.TestCase):
    """--certify: the branch and bound over the fit's box, in the table and the JSON."""

    MODEL = [DATA, "--y", "participation", "--x", "age,youngkids", "--normalize", "education",
             "--intercept"]

    def test_proves_the_fit_and_reports_its_box(self):
        result = run_json("fit", *self.MODEL, "--restarts", "20", "--certify")
        c = result["certificate"]
        self.assertEqual(c["status"], "optimal")
        self.assertEqual(c["upper_bound"], result["objective"])
        self.assertEqual(c["upper_correct"], result["correct"])
        self.assertEqual(c["improved"], False)
        self.assertGreaterEqual(int(c["nodes"]), 1)
        self.assertEqual(c["box"], {"lower": result["settings"]["lower"],
                                    "upper": result["settings"]["upper"]})
        table = run("fit", *self.MODEL, "--restarts", "20", "--certify", "5")
        self.assertRegex(table.stdout, r"\n  certificate +optimal: no point of the box does better; "
                                       r"\d+ sub-boxes in [0-9.]+ s\n")
        # Off unless asked.
        self.assertNotIn("certificate", run_json("fit", *self.MODEL, "--restarts", "2"))

    def test_a_missed_maximum_is_replaced_and_scored_by_the_module(self):
        proven = run_json("fit", *self.MODEL, "--restarts", "20", "--certify")
        short = run("fit", *self.MODEL, "--restarts", "1", "--max-evals", "20", "--certify",
                    "--json")
        self.assertEqual(short.returncode, 0, short.stderr)
        self.assertIn("the search missed the maximum", short.stderr)
        result = json.loads(short.stdout, parse_float=str, parse_int=str)
        self.assertEqual(result["certificate"]["status"], "optimal")
        self.assertEqual(result["certificate"]["improved"], True)
        self.assertLess(float(result["restarts"][0]["objective"]), float(result["objective"]))
        # The same maximum (classified alike, so equal to the last bits or nearly).
        self.assertAlmostEqual(float(result["objective"]), float(proven["objective"]), delta=1e-12)
        self.assertEqual(result["correct"], proven["correct"])
        scored = run_json("score", *self.MODEL, "--coef", ",".join(free_coefs(result)))
        self.assertEqual(scored["objective"], result["objective"])

    def test_a_short_budget_gives_a_bound_above_the_maximum(self):
        maximum = float(run_json("fit", *self.MODEL, "--restarts", "20", "--certify")["objective"])
        result = run_json("fit", *self.MODEL, "--restarts", "1", "--max-evals", "20",
                          "--certify", "0.000001")
        c = result["certificate"]
        self.assertEqual(c["status"], "bound")
        self.assertGreaterEqual(float(c["upper_bound"]), maximum)
        self.assertGreaterEqual(int(c["upper_correct"]), int(result["correct"]))

    def test_bad_budgets_are_refused(self):
        for budget in ("-1", "x", "inf"):
            assert_refused(self, ["fit", *self.MODEL, "--certify", budget], "--certify")

"""The command line as a workflow: fit and save a model, predict and score new
data with it; standard input and --output; warnings and progress on stderr;
the messages for flags it does not know."""
import csv
import io
import json
import math
import os
import pty
import re
import subprocess
import unittest
from pathlib import Path

from test_cli import CLI, Files, run

SEPARABLE_BUT_NOISY = [  # y, a, b, c
    (1, 1.0, 2.0, 1.5), (0, 2.0, 1.0, 3.2), (1, 3.0, 1.0, 2.1), (0, 1.0, 1.0, 5.7),
    (1, 2.0, 2.0, 0.3), (0, -1.0, 0.5, 1.1), (1, 0.5, 2.5, -0.4), (0, 1.5, -1.0, 2.2),
    (1, -0.5, 3.0, 0.9), (0, 2.5, 0.0, 4.4), (1, 0.0, 1.5, -1.3), (0, -2.0, 2.0, 0.7),
]


def write_data(files, name, rows, header=("y", "a", "b", "c")):
    text = ",".join(header) + "\n" + "".join(",".join(repr(v) for v in r) + "\n" for r in rows)
    return files.write(name, text)


class SavedModel(unittest.TestCase):
    def setUp(self):
        self.files = Files(self)
        self.data = write_data(self.files, "d.csv", SEPARABLE_BUT_NOISY)
        self.model = os.path.join(self.files.dir.name, "fit.json")
        p = run("fit", self.data, "--y", "y", "--x", "a,b", "--normalize", "c=-1",
                "--intercept", "--quantile", "0.4", "--restarts", "3", "--json",
                "--output", self.model)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout, "")
        with open(self.model) as f:
            self.fit = json.load(f)

    def test_predict_writes_index_and_class_of_every_row(self):
        out = os.path.join(self.files.dir.name, "pred.csv")
        p = run("predict", self.data, "--model", self.model, "--output", out)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(out, newline="") as f:
            rows = list(csv.DictReader(f))
        b0, ba, bb, bc = [r["coefficient"] for r in self.fit["regressors"]]
        self.assertEqual(bc, -1)
        self.assertEqual(len(rows), len(SEPARABLE_BUT_NOISY))
        correct = 0
        for (y, a, b, c), row in zip(SEPARABLE_BUT_NOISY, rows):
            index = c * -1.0 + (b * bb + (a * ba + (1.0 * b0 + 0.0)))  # the module's order
            self.assertEqual(float(row["index"]), index)
            self.assertEqual(row["class"], "1" if index >= 0 else "0")
            correct += int(row["class"]) == y
        self.assertEqual(correct, self.fit["correct"])

    def test_predict_needs_no_response_and_checks_columns(self):
        no_y = write_data(self.files, "new.csv", [r[1:] for r in SEPARABLE_BUT_NOISY[:3]],
                          header=("a", "b", "c"))
        p = run("predict", no_y, "--model", self.model)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.splitlines()[0], "index,class")
        self.assertEqual(len(p.stdout.splitlines()), 4)
        missing = write_data(self.files, "nob.csv", [(1, 2.0, 3.0)], header=("y", "a", "c"))
        p = run("predict", missing, "--model", self.model)
        self.assertEqual(p.returncode, 2)
        self.assertIn("--model", p.stderr)
        self.assertIn("no column 'b'", p.stderr)

    def test_score_with_the_model_gives_the_fit_objective(self):
        p = run("score", self.data, "--model", self.model, "--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        score = json.loads(p.stdout)
        self.assertEqual(score["objective"], self.fit["objective"])
        self.assertEqual(score["correct"], self.fit["correct"])
        self.assertEqual(score["quantile"], 0.4)
        text = run("score", self.data, "--model", self.model).stdout
        self.assertRegex(text, r"objective +\S+\n  accuracy +\S+ \(\d+ of 12 correct\)")

    def test_model_flags_are_refused_beside_a_model(self):
        p = run("score", self.data, "--model", self.model, "--quantile", "0.5")
        self.assertEqual(p.returncode, 2)
        self.assertIn("--quantile", p.stderr)
        broken = self.files.write("broken.json", '{"command": "fit"}')
        p = run("predict", self.data, "--model", broken)
        self.assertEqual(p.returncode, 2)
        self.assertIn("--model", p.stderr)


class StreamsAndFlags(unittest.TestCase):
    def test_standard_input_reads_as_the_file(self):
        files = Files(self)
        path = write_data(files, "d.csv", SEPARABLE_BUT_NOISY)
        args = ["--y", "y", "--x", "a,b", "--normalize", "c", "--coef", "0.5,-1", "--json"]
        from_file = json.loads(run("score", path, *args).stdout)
        with open(path) as f:
            p = subprocess.run([CLI, "score", "-", *args], stdin=f, capture_output=True,
                               text=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        from_stdin = json.loads(p.stdout)
        self.assertEqual(from_stdin["objective"], from_file["objective"])
        self.assertEqual(from_stdin["data"], "(standard input)")

    def test_version(self):
        p = run("--version")
        self.assertEqual(p.returncode, 0)
        self.assertRegex(p.stdout, r"^vimor \d+\.\d+\.\d+\n$")

    def test_unknown_flag_is_named_with_help_and_a_suggestion(self):
        p = run("fit", "--restrats", "3")
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr.count("\n"), 1)
        self.assertIn("'--restrats'", p.stderr)
        self.assertIn("vimor fit --help", p.stderr)
        self.assertIn("did you mean --restarts?", p.stderr)
        p = run("score", "--zzzzzz")
        self.assertIn("'--zzzzzz'", p.stderr)
        self.assertNotIn("did you mean", p.stderr)
        p = run("--verzion")
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, "vimor: unknown flag '--verzion' (see vimor --help); "
                                   "did you mean --version?\n")

    def test_output_to_an_unwritable_place_is_refused(self):
        p = run("fit", "--restarts", "1", "--max-evals", "100", "--output", "/nonexistent/f.txt")
        self.assertEqual(p.returncode, 2)
        self.assertIn("--output", p.stderr)




class WeightedModel(unittest.TestCase):
    """--weights: the saved model scores with its weights column, predicts
    without it, and a weight that is no weight is refused naming the flag."""

    def setUp(self):
        self.files = Files(self)
        weights = [1.0, 2.0, 0.0, 0.5, 1.0, 3.0, 1.0, 0.25, 2.0, 1.0, 1.0, 0.0]
        self.rows = [r + (w,) for r, w in zip(SEPARABLE_BUT_NOISY, weights)]
        self.data = write_data(self.files, "d.csv", self.rows, header=("y", "a", "b", "c", "w"))
        self.model = os.path.join(self.files.dir.name, "fit.json")

    def fit(self, *more):
        return run("fit", self.data, "--y", "y", "--x", "a,b", "--normalize", "c", "--intercept",
                   "--restarts", "3", *more)

    def test_saved_weighted_model_scores_weighted(self):
        p = self.fit("--weights", "w", "--json", "--output", self.model)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(self.model) as f:
            fit = json.load(f)
        self.assertEqual(fit["model"]["weights"], "w")
        p = run("score", self.data, "--model", self.model, "--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        scored = json.loads(p.stdout)
        self.assertEqual((scored["objective"], scored["correct"], scored["accuracy"]),
                         (fit["objective"], fit["correct"], fit["accuracy"]))
        # The weighted share, derived here from the predictions.
        p = run("predict", self.data, "--model", self.model)
        self.assertEqual(p.returncode, 0, p.stderr)
        classes = [int(r["class"]) for r in csv.DictReader(io.StringIO(p.stdout))]
        total = sum(r[4] for r in self.rows)
        right = sum(r[4] for r, k in zip(self.rows, classes) if k == r[0])
        self.assertAlmostEqual(fit["accuracy"], right / total, places=14)
        self.assertIn("weighted share correct", self.fit("--weights", "w").stdout)

    def test_weights_that_are_no_weights(self):
        bad = write_data(self.files, "bad.csv", [r[:4] + (-1.0 if i == 2 else 1.0,)
                                                 for i, r in enumerate(self.rows)],
                         header=("y", "a", "b", "c", "w"))
        for args, words in ((["--weights", "nope"], "has no column 'nope'"),
                            (["--weights", "w", bad], "row 3 is -1")):
            p = run("fit", *(args[2:] or [self.data]), "--y", "y", "--x", "a,b",
                    "--normalize", "c", *args[:2], "--restarts", "1")
            self.assertEqual(p.returncode, 2, p.stderr)
            self.assertTrue(p.stderr.startswith("vimor: --weights: "), p.stderr)
            self.assertIn(words, p.stderr)


class Profiles(unittest.TestCase):
    """--profile: each step's value is what score gives inside it, the steps
    tile the box (or the window), and the estimate's step is its flat range."""

    def setUp(self):
        self.files = Files(self)
        weights = [1.0, 2.0, 0.0, 0.5, 1.0, 3.0, 1.0, 0.25, 2.0, 1.0, 1.0, 0.0]
        rows = [r + (w,) for r, w in zip(SEPARABLE_BUT_NOISY, weights)]
        self.data = write_data(self.files, "d.csv", rows, header=("y", "a", "b", "c", "w"))
        self.model = os.path.join(self.files.dir.name, "fit.json")
        self.profile = os.path.join(self.files.dir.name, "profile.csv")
        self.flags = ["--y", "y", "--x", "a,b", "--normalize", "c", "--intercept",
                      "--weights", "w", "--quantile", "0.4"]

    def fit(self, *more):
        return run("fit", self.data, *self.flags, "--restarts", "3", "--json", "--output",
                   self.model, "--profile", self.profile, *more)

    def steps(self):
        with open(self.profile, newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["coefficient", "left", "right", "objective", "correct"])
        return [(r[0], *map(float, r[1:])) for r in rows[1:]]

    def test_each_step_is_the_objective_score_gives_inside_it(self):
        p = self.fit()
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(self.model) as f:
            fit = json.load(f)
        coef = [r["coefficient"] for r in fit["regressors"][:-1]]
        steps = self.steps()
        for j, reg in enumerate(fit["regressors"][:-1]):
            mine = [s for s in steps if s[0] == reg["name"]]
            self.assertGreater(len(mine), 2)
            self.assertEqual(mine[0][1], fit["settings"]["lower"][j])
            self.assertEqual(mine[-1][2], fit["settings"]["upper"][j])
            for (_, _, right, _, _), (_, left, _, _, _) in zip(mine, mine[1:]):
                self.assertEqual(left, math.nextafter(right, math.inf))
            for _, left, right, value, correct in mine:
                at = list(coef)
                at[j] = left + (right - left) / 2
                p = run("score", self.data, *self.flags, "--coef", ",".join(map(repr, at)),
                        "--json")
                self.assertEqual(p.returncode, 0, p.stderr)
                scored = json.loads(p.stdout)
                self.assertEqual((scored["objective"], scored["correct"]), (value, correct))
            held = [s for s in mine if s[1] <= coef[j] <= s[2]]
            self.assertEqual(len(held), 1)
            self.assertEqual(held[0][3], fit["objective"])
            self.assertEqual(held[0][1:3], (max(reg["flat"][0], fit["settings"]["lower"][j]),
                                            min(reg["flat"][1], fit["settings"]["upper"][j])))

    def test_a_window_narrows_the_profile_and_bad_ones_are_named(self):
        p = self.fit("--profile-window", "-1:0.5,,")
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(self.model) as f:
            upper = json.load(f)["settings"]["upper"]
        steps = self.steps()
        first = [s for s in steps if s[0] == "(Intercept)"]
        self.assertEqual((first[0][1], first[-1][2]), (-1.0, 0.5))
        self.assertEqual([s for s in steps if s[0] == "a"][-1][2], upper[1])
        for window, words in (("-1:0.5", "expected 3 windows"), ("1,,", "is not LO:HI"),
                              ("2:1,,", "is not a finite range"), ("x:1,,", "--profile-window")):
            p = self.fit("--profile-window", window)
            self.assertEqual(p.returncode, 2, p.stderr)
            self.assertTrue(p.stderr.startswith("vimor: --profile-window: "), p.stderr)
            self.assertIn(words, p.stderr)
        p = run("fit", self.data, *self.flags, "--profile-window", "0:1,,")
        self.assertIn("give --profile FILE too", p.stderr)


class OutputSafety(unittest.TestCase):
    """An output never replaces an input or another output, however the path
    is spelled, and a failed run leaves the earlier file as it stood."""

    def setUp(self):
        self.files = Files(self)
        self.data = write_data(self.files, "d.csv", SEPARABLE_BUT_NOISY)
        self.model = self.path("fit.json")
        p = run("fit", self.data, "--y", "y", "--x", "a,b", "--normalize", "c", "--restarts",
                "2", "--json", "--output", self.model)
        self.assertEqual(p.returncode, 0, p.stderr)

    def path(self, name):
        return os.path.join(self.files.dir.name, name)

    def contents(self):
        return {p.name: p.read_bytes() for p in sorted(Path(self.files.dir.name).iterdir())}

    def test_an_output_that_is_an_input_or_another_output_is_refused(self):
        os.symlink("d.csv", self.path("link.csv"))
        os.link(self.data, self.path("hard.csv"))
        here = os.path.relpath(self.files.dir.name)
        fit = ["fit", self.data, "--y", "y", "--x", "a,b", "--normalize", "c", "--restarts",
               "1", "--subsamples", "4", "--subsample-size", "6", "--level", "0.5"]
        cases = [(["predict", self.data, "--model", self.model, "--output",
                   os.path.join(here, ".", "d.csv")], "--output", "the data file"),
                 (["predict", self.data, "--model", self.model, "--output", self.path("link.csv")],
                  "--output", "the data file"),
                 (["predict", self.data, "--model", self.model, "--output", self.path("hard.csv")],
                  "--output", "the data file"),
                 (["predict", self.data, "--model", self.model, "--output", self.model],
                  "--output", "--model"),
                 (["score", self.data, "--model", self.model, "--output", self.model],
                  "--output", "--model"),
                 (fit + ["--output", self.data], "--output", "the data file"),
                 (fit + ["--subsample-estimates", self.path("e.csv"), "--output",
                         os.path.join(here, "e.csv")], "--subsample-estimates", "--output"),
                 (fit + ["--subsample-estimates", self.path("link.csv")],
                  "--subsample-estimates", "the data file"),
                 (fit + ["--profile", self.path("hard.csv")], "--profile", "the data file")]
        before = self.contents()
        for args, flag, other in cases:
            with self.subTest(args=args[-1]):
                p = run(*args)
                self.assertEqual(p.returncode, 2, p.stderr)
                self.assertEqual(p.stderr.count("\n"), 1, p.stderr)
                self.assertTrue(p.stderr.startswith(f"vimor: {flag}: "), p.stderr)
                self.assertIn(f"is the same file as {other}", p.stderr)
                self.assertEqual(self.contents(), before)

    def test_a_failed_run_leaves_the_earlier_output_whole(self):
        # The index of the second row overflows, after the first row is written.
        out = self.path("pred.csv")
        p = run("predict", self.data, "--model", self.model, "--output", out)
        self.assertEqual(p.returncode, 0, p.stderr)
        os.chmod(out, 0o640)
        good = self.contents()
        overflow = write_data(self.files, "big.csv", [(1.0, 2.0, 1e308), (-1e308, 1e308, 1e308)],
                              header=("a", "b", "c"))
        p = run("predict", overflow, "--model", self.model, "--output", out)
        self.assertEqual(p.returncode, 2, p.stderr)
        self.assertIn("overflows", p.stderr)
        self.assertEqual({n: v for n, v in self.contents().items() if n != "big.csv"}, good)
        # A replaced file keeps its permissions; the data it replaced are gone
        # only when the new file is complete.
        p = run("predict", self.data, "--model", self.model, "--output", out)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(os.stat(out).st_mode & 0o777, 0o640)
        self.assertEqual(sorted(os.listdir(self.files.dir.name)),
                         ["big.csv", "d.csv", "fit.json", "pred.csv"])

    def test_a_path_with_a_line_break_is_escaped_in_the_message(self):
        p = run("fit", "--restarts", "1", "--max-evals", "100", "--output",
                self.path("no\nsuch/f.txt"))
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr.count("\n"), 1, p.stderr)
        self.assertIn("no\\x0asuch/f.txt: cannot write", p.stderr)


class Warnings(unittest.TestCase):
    def warnings(self, rows, *box):
        files = Files(self)
        path = write_data(files, "w.csv", rows, header=("y", "a", "c"))
        p = run("fit", path, "--y", "y", "--x", "a", "--normalize", "c", *box,
                "--restarts", "4", "--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        json.loads(p.stdout)
        lines = p.stderr.splitlines()
        self.assertTrue(all(line.startswith("vimor: warning: ") for line in lines), p.stderr)
        return p.stderr

    def test_estimate_on_the_edge_of_the_box(self):
        # Observation k is classified right only when a's coefficient is at
        # least 0.05 k - 0.001, so the best point of the box [-1, 1] is at its
        # upper edge.
        rows = [(1, 1.0, -(0.05 * k - 0.001)) for k in range(1, 101)]
        rows += [(0, 1.0, -10.0 - k) for k in range(10)]
        self.assertIn("the estimate for 'a'", self.warnings(rows, "--lower", "-1", "--upper", "1"))

    def test_normalized_regressor_with_few_values(self):
        rows = [(i % 2, float(i), float(i % 3)) for i in range(30)]
        self.assertIn("'c' takes only 3 distinct values", self.warnings(rows))

    def test_few_subsamples_are_called_rough(self):
        rows = [(i % 2, float(i % 7), float(i)) for i in range(100)]
        for count, rough in ((20, True), (50, False)):
            text = self.warnings(rows, "--subsamples", str(count), "--max-evals", "200")
            self.assertEqual("intervals from 20 subsamples are rough" in text, rough, text)

    def test_restarts_that_disagree_are_reported(self):
        # Perfectly separated by a wide range of slopes: every restart reaches
        # the maximum, at points far apart.
        files = Files(self)
        rows = [(1, 1.0, float(v)) for v in range(-9, 10)] + \
               [(0, -1.0, float(v)) for v in range(-9, 10)]
        path = write_data(files, "sep.csv", rows, header=("y", "a", "c"))
        p = run("fit", path, "--y", "y", "--x", "a", "--normalize", "c", "--restarts", "8")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("restarts reach the best value with 'a' anywhere from", p.stderr)


class Progress(unittest.TestCase):
    def test_progress_on_a_terminal_updates_and_ends_the_line(self):
        controller, terminal = pty.openpty()
        try:
            # About four seconds of restarts, in whatever build: each restart
            # does as many evaluations as a timed one.
            timed = json.loads(run("fit", "--restarts", "1", "--max-evals", "5000",
                                   "--json").stdout)
            # Capped high enough that fast restarts still last past the first redraw (1 s).
            restarts = max(2, min(5000, round(4 / max(timed["wall_seconds"], 1e-4))))
            p = subprocess.Popen([CLI, "fit", "--restarts", str(restarts), "--threads", "1",
                                  "--max-evals", "5000"],
                                 stdout=subprocess.PIPE,
                                 stderr=terminal, text=True)
            out, _ = p.communicate(timeout=240)
            os.close(terminal)
            terminal = None
            seen = b""
            while True:
                try:
                    chunk = os.read(controller, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
        finally:
            if terminal is not None:
                os.close(terminal)
            os.close(controller)
        self.assertEqual(p.returncode, 0)
        text = seen.decode()
        updates = list(re.finditer(
            rf"\rvimor: (\d+) of {restarts} restarts done, (\d+) s elapsed", text))
        self.assertGreaterEqual(len(updates), 2, text)
        self.assertEqual(updates[-1].group(1), str(restarts))
        # The line is closed (the terminal shows the newline as CR LF); a warning
        # about the estimate may follow it, as whole lines.
        self.assertTrue(text[updates[-1].end():].startswith("\r\n"), repr(text))
        self.assertTrue(text.endswith("\r\n"), repr(text))
        self.assertIn("accuracy", out)


if __name__ == "__main__":
    unittest.main()

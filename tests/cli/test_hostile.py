"""The command line on hostile input: numbers that overflow, files that are not
CSV text, cells and names that would corrupt a message or the JSON output, and
more data than memory holds. Each mistake gives one line on stderr and exit 2."""
import csv
import json
import os
import resource
import subprocess
import tempfile
import time
import unittest

from test_cli import Files, assert_refused, run, sanitized

# Indices overflow at these coefficients: 1e10 * 1e300 is infinite and an
# infinite index minus another is not a number.
OVERFLOW = "y,a,b,c\n1,1e300,1e300,1\n0,-1e300,2e300,2\n1,2e300,-1e300,3\n0,-3e300,-2e300,4\n"


class Refusals(unittest.TestCase):
    def setUp(self):
        self.files = Files(self)

    def refuse(self, args, *fragments):
        return assert_refused(self, args, *fragments)

    def model(self, path):
        return [path, "--y", "y", "--x", "a,b", "--normalize", "c"]


class NotANumberObjective(Refusals):
    def test_score_and_fit_refuse_an_overflowing_index(self):
        path = self.files.write("nan.csv", OVERFLOW)
        for json_flag in ([], ["--json"]):
            self.refuse(["score", *self.model(path), "--coef", "1e10,-1e10", *json_flag],
                        "objective is not a number", "overflows", "rescale the regressors")
            self.refuse(["fit", *self.model(path), "--lower", "-1e10,-1e10",
                         "--upper", "1e10,1e10", "--restarts", "2", "--max-evals", "500",
                         *json_flag], "objective is not a number", "rescale the regressors")


class DefaultBox(Refusals):
    def test_overflowing_standard_deviation_names_the_column(self):
        path = self.files.write("nan.csv", OVERFLOW)
        self.refuse(["fit", *self.model(path)], "standard deviation", "'a'", "--lower")

    def test_explicit_box_is_not_derived(self):
        path = self.files.write("wide.csv", "y,a,c\n1,1e300,1\n0,-1e300,2\n1,2e300,3\n0,-3e300,4\n")
        p = run("fit", path, "--y", "y", "--x", "a", "--normalize", "c", "--lower", "-1e-300",
                "--upper", "1e-300", "--restarts", "1", "--max-evals", "200", "--json")
        self.assertEqual(p.returncode, 0, p.stderr)


class Numbers(Refusals):
    def test_hexadecimal_is_refused_everywhere(self):
        for text in ("y,a,c\n1,0x10,1\n0,2,3\n", "y,a,c\n1,0x1p3,1\n0,2,3\n",
                     "y,a,c\n0x1,1,1\n0,2,3\n"):
            path = self.files.write("hex.csv", text)
            self.refuse(["fit", path, "--y", "y", "--x", "a", "--normalize", "c"],
                        "line 2", "is not a number")
        good = self.files.write("good.csv", "y,a,c\n1,1,1\n0,2,3\n")
        self.refuse(["fit", good, "--y", "y", "--x", "a", "--normalize", "c",
                     "--quantile", "0x0.8"], "--quantile", "not a number")
        self.refuse(["score", good, "--y", "y", "--x", "a", "--normalize", "c",
                     "--coef", "0x1"], "--coef", "not a number")

    def test_underflow_to_zero_is_refused(self):
        path = self.files.write("tiny.csv", "y,a,c\n1,1e-400,1\n0,2,3\n")
        self.refuse(["fit", path, "--y", "y", "--x", "a", "--normalize", "c"],
                    "line 2", "column 'a'", "'1e-400'", "underflows")
        good = self.files.write("good.csv", "y,a,c\n1,1,1\n0,2,3\n")
        self.refuse(["score", good, "--y", "y", "--x", "a", "--normalize", "c",
                     "--coef", "1e-400"], "--coef", "underflows")

    def test_zero_and_subnormal_and_plus_sign_are_read(self):
        path = self.files.write("ok.csv", "y,a,c\n1,0e-400,1\n0,+4.9e-324,3\n1,-0.0,2\n")
        p = run("score", path, "--y", "y", "--x", "a", "--normalize", "c", "--coef", "1", "--json")
        self.assertEqual(p.returncode, 0, p.stderr)


class Cells(Refusals):
    def test_intercept_named_column_with_intercept_flag(self):
        path = self.files.write("i.csv", "y,(Intercept),c\n1,1,1\n0,1,3\n1,1,2\n")
        self.refuse(["fit", path, "--y", "y", "--x", "(Intercept)", "--normalize", "c",
                     "--intercept"], "(Intercept)", "--intercept")

    def test_directory_is_reported_as_a_directory(self):
        self.refuse(["fit", *self.model(self.files.dir.name)], "is a directory")

    def test_dev_zero_ends_quickly_with_a_clear_error(self):
        started = time.monotonic()
        self.refuse(["fit", "/dev/zero", "--y", "y", "--x", "a,b", "--normalize", "c"],
                    "/dev/zero", "NUL")
        self.assertLess(time.monotonic() - started, 30)

    def test_nul_in_a_cell_is_shown_escaped(self):
        path = self.files.write("nul.csv", "y,a,c\n1,1\x002,1\n0,2,3\n")
        message = self.refuse(["fit", path, "--y", "y", "--x", "a", "--normalize", "c"],
                              "line 2", "column 'a'", "is not a number")
        self.assertIn("1\\x002", message)

    def test_long_cell_is_truncated_in_the_message(self):
        path = self.files.write("long.csv", "y,a,c\n1," + "9" * 999_999 + "x,1\n0,2,3\n")
        message = self.refuse(["fit", path, "--y", "y", "--x", "a", "--normalize", "c"],
                              "line 2", "column 'a'", "1000000 bytes")
        self.assertLess(len(message), 400)

    def test_names_are_trimmed_around_commas(self):
        path = self.files.write("t.csv", "y,a,b,c\n1,1,2,1\n0,2,1,3\n1,3,1,2\n0,1,1,5\n")
        p = run("score", path, "--y", "y", "--x", "a, b", "--normalize", " c", "--coef", "1,2",
                "--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual([r["name"] for r in json.loads(p.stdout)["regressors"]], ["a", "b", "c"])


class Blocks(Refusals):
    """The reader takes the file in blocks of 1 MiB: a line end split between
    two blocks still ends one line."""

    def test_line_numbers_across_a_block_boundary(self):
        block = 1 << 20
        for ending in ("\r\n", "\r", "\n"):
            header = "y,a,c" + ending
            row = "1,1,2" + ending
            # Pad the first row so that a line end starts at the last byte of a block.
            pad = (block - 1 - len(header) - len("1,1,2") - 1) % len(row)
            first = "1,1,2." + "0" * pad + ending
            rows = (2 * block) // len(row)
            text = header + first + row * rows + "1,x,2" + ending
            self.assertEqual(text[block - 1], ending[0])
            path = self.files.write("blocks.csv", text)
            self.refuse(["fit", path, "--y", "y", "--x", "a", "--normalize", "c"],
                        f"line {rows + 3}, column 'a': 'x' is not a number")


class Latin1Names(unittest.TestCase):
    def test_json_stays_valid_utf8_and_the_name_is_escaped(self):
        files = Files(self)
        path = os.path.join(files.dir.name, "latin1.csv")
        with open(path, "wb") as f:
            f.write(b"y,a,caf\xe9\n1,1,1\n0,2,3\n1,3,2\n0,1,5\n")
        for args in (["--json"], []):
            p = subprocess.run([os.environ.get("VIMOR_CLI", "vimor"), "score", path, "--y", "y",
                                "--x", "a", "--normalize", "caf\udce9", "--coef", "1", *args],
                               capture_output=True, timeout=60)
            self.assertEqual(p.returncode, 0, p.stderr)
            text = p.stdout.decode("utf-8")  # raises on invalid UTF-8
            self.assertIn("caf\\xe9" if not args else "caf\\\\xe9", text)



def run_bytes(*args, limit=None):
    """Runs with arguments that may be any bytes; output as bytes."""
    env = dict(os.environ)
    env.pop("VIMOR_LIBRARY", None)
    cap = (lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))) if limit else None
    return subprocess.run([os.environ.get("VIMOR_CLI", "vimor"), *args], capture_output=True,
                          timeout=240, env=env, preexec_fn=cap)


class SavedModelNames(unittest.TestCase):
    """A saved model names its columns by their bytes, so it applies to its
    own data whatever the names hold; and it carries its derived columns."""

    def setUp(self):
        self.files = Files(self)

    def path(self, name):
        return os.path.join(self.files.dir.name, name).encode()

    def fit_and_score(self, data, x, normalize):
        model = self.path("m.json")
        p = run_bytes(b"fit", data, b"--y", b"y", b"--x", x, b"--normalize", normalize,
                      b"--restarts", b"2", b"--max-evals", b"3000", b"--json", b"--output", model)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(model, "rb") as f:
            fitted = json.load(f)
        p = run_bytes(b"score", data, b"--model", model, b"--json")
        self.assertEqual(p.returncode, 0, p.stderr)
        return fitted, json.loads(p.stdout)

    def test_names_with_any_bytes_score_their_own_columns(self):
        # Three columns whose shown names collide or are not UTF-8: a Latin-1
        # name, a name holding a line break, and one literally spelled like
        # the line break's escape. Their data differ, so a mix-up shows.
        rows = [(1, 1.0, 2.0, -3.0, 1.0), (0, 2.0, 1.0, 4.0, 2.0), (1, 3.0, 3.0, -1.0, -1.0),
                (0, 0.0, 1.0, 2.5, 3.0), (1, 2.0, 2.0, -2.0, 0.5), (0, 1.0, 0.0, 1.5, 2.0),
                (1, -1.0, 1.5, -0.5, 0.25), (0, 2.5, -1.0, 3.5, 1.75)]
        data = self.path("names.csv")
        with open(data, "wb") as f:
            f.write(b'y,caf\xe9,"a\nb",a\\x0ab,c\n')
            f.write(b"".join(b"%d,%r,%r,%r,%r\n" % r for r in rows))
        for x in (b"caf\xe9,a\nb", b"a\\x0ab", b"a\nb"):
            with self.subTest(x=x):
                fitted, scored = self.fit_and_score(data, x, b"c")
                self.assertEqual((scored["objective"], scored["correct"]),
                                 (fitted["objective"], fitted["correct"]))
                self.assertEqual([r["coefficient"] for r in scored["regressors"]],
                                 [r["coefficient"] for r in fitted["regressors"]])

    def test_shown_name_and_bytes_must_agree(self):
        data = self.path("d.csv")
        with open(data, "wb") as f:
            f.write(b"y,a,b,c\n1,1,2,1\n0,2,1,2\n1,3,3,-1\n0,0,1,3\n")
        fitted, _ = self.fit_and_score(data, b"a,b", b"c")
        fitted["model"]["x_hex"][0] = "62"  # says b, shows a
        with open(self.path("bad.json"), "w") as f:
            json.dump(fitted, f)
        p = run_bytes(b"score", data, b"--model", self.path("bad.json"))
        self.assertEqual(p.returncode, 2)
        self.assertIn(b"--model: ", p.stderr)
        self.assertIn(b"does not match its bytes", p.stderr)

    def test_the_default_fit_applies_to_any_file_with_its_source_columns(self):
        model = self.path("default.json")
        p = run_bytes(b"fit", b"--restarts", b"2", b"--max-evals", b"3000", b"--json",
                      b"--output", model)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(model) as f:
            fitted = json.load(f)
        # The bundled file named explicitly, and a copy holding only the
        # columns the derived ones come from, reordered.
        bundled = os.environ.get("VIMOR_DATA", "../../data/mroz_psid1976.csv")
        with open(bundled, newline="") as f:
            table = list(csv.DictReader(f))
        keep = ["wage", "oldkids", "experience", "youngkids", "fincome", "age", "participation",
                "hours", "education"]
        with open(self.path("sources.csv"), "w", newline="") as f:
            writer = csv.DictWriter(f, keep, extrasaction="ignore")
            writer.writeheader()
            writer.writerows(table)
        for data in (bundled.encode(), self.path("sources.csv")):
            p = run_bytes(b"score", data, b"--model", model, b"--json")
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertEqual(json.loads(p.stdout)["objective"], fitted["objective"])
        p = run_bytes(b"predict", self.path("sources.csv"), b"--model", model)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.count(b"\n"), len(table) + 1)


class HostileModels(unittest.TestCase):
    """A saved-model file from anywhere: bounded, linear work, one line
    naming --model for every refusal."""

    def setUp(self):
        self.files = Files(self)
        self.data = self.files.write("d.csv", "y,a,c\n1,1,1\n0,2,2\n1,3,-1\n0,0,3\n").encode()

    def model(self, name, document=None, text=None):
        path = os.path.join(self.files.dir.name, name)
        with open(path, "w") as f:
            f.write(text if text is not None else json.dumps(document))
        return path.encode()

    def refused(self, path, *fragments, limit=None):
        p = run_bytes(b"score", self.data, b"--model", path, limit=limit)
        self.assertEqual(p.returncode, 2, p.stderr)
        self.assertTrue(p.stderr.startswith(b"vimor: --model: "), p.stderr)
        self.assertEqual(p.stderr.count(b"\n"), 1, p.stderr)
        for fragment in fragments:
            self.assertIn(fragment, p.stderr)

    def base(self, x):
        names = ["a"] if x is None else x
        return {"model": {"response": "y", "x": names, "normalize": "c", "fixed_coef": 1,
                          "intercept": False, "quantile": 0.5},
                "regressors": [{"name": n, "coefficient": 1.0} for n in names + ["c"]]}

    def test_malformed_models_name_the_flag(self):
        self.refused(self.files.dir.name.encode(), b"is a folder")
        self.refused(self.model("twice.json", self.base(["a", "a"])), b"listed twice")
        # A million names: read in linear time (quadratic work would not end
        # within the run's time limit).
        many = self.base([f"x{i}" for i in range(1_000_000)])
        many["regressors"] = many["regressors"][:3]
        self.refused(self.model("many.json", many), b"does not match")
        with open(os.path.join(self.files.dir.name, "huge.json"), "wb") as f:
            f.truncate((64 << 20) + 1)
        self.refused(os.path.join(self.files.dir.name, "huge.json").encode(), b"64 MiB")
        self.refused(self.model("nested.json", text="[" * 100000), b"not a")
        derived = self.base(None)
        derived["model"]["derived"] = {"a": "c * c"}
        self.refused(self.model("derived.json", derived), b"formula")

    @unittest.skipIf(sanitized(), "a sanitized build")
    def test_a_large_model_reads_in_little_memory(self):
        # 40 MB of restarts, which predict and score never need, under a
        # 200 MB address-space limit.
        document = self.base(None)
        document["restarts"] = [{"coefficients": [1.25] * 1000}] * 8000
        p = run_bytes(b"score", self.data, b"--model", self.model("big.json", document),
                      limit=200 << 20)
        self.assertEqual(p.returncode, 0, p.stderr)


class OutOfMemory(unittest.TestCase):
    # A sanitizer's runtime reserves more address space than the limit.
    @unittest.skipIf(sanitized(), "a sanitized build")
    def test_more_data_than_memory_is_one_line_and_status_2(self):
        # Four million rows of six used columns need 192 MB as doubles; the
        # process gets 150 MB of address space.
        files = Files(self)
        path = os.path.join(files.dir.name, "big.csv")
        with open(path, "w") as f:
            f.write("y,a,b,c,d,e\n")
            f.write("1,1,2,3,4,5\n0,2,1,4,3,6\n" * 2_000_000)
        limit = 150 * 1024 * 1024

        def cap():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        env = dict(os.environ)
        env.pop("VIMOR_LIBRARY", None)
        p = subprocess.run([os.environ.get("VIMOR_CLI", "vimor"), "fit", path, "--y", "y",
                            "--x", "a,b,c,d", "--normalize", "e", "--threads", "1"],
                           capture_output=True, text=True, timeout=120, preexec_fn=cap, env=env)
        self.assertEqual(p.returncode, 2, p.stderr)
        self.assertTrue(p.stderr.startswith("vimor: "), p.stderr)
        self.assertEqual(p.stderr.count("\n"), 1, p.stderr)
        self.assertIn("memory", p.stderr)


if __name__ == "__main__":
    unittest.main()

"""The command line on hostile input: numbers that overflow, files that are not
CSV text, cells and names that would corrupt a message or the JSON output, and
more data than memory holds. Each mistake gives one line on stderr and exit 2."""
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

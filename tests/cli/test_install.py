"""The shell examples of the README and the tutorial, run as written after
installing into a fresh prefix: the installed vimor finds its module in lib/
and its data in share/vimor/, and a saved fit drives predict and score."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from test_cli import sanitized

BUILD = os.environ.get("VIMOR_BUILD_DIR", "../../build")
README = os.environ.get("VIMOR_README", "../../README.md")
TUTORIAL = os.environ.get("VIMOR_TUTORIAL", "../../docs/tutorial.md")


def shell_examples(path):
    """Every command of the file's ```sh blocks, in order (a line ending in a
    backslash continues on the next), but the build's own `make` and the
    `export PATH` the test sets itself."""
    with open(path) as f:
        blocks = re.findall(r"^```sh\n(.*?)^```", f.read(), re.M | re.S)
    commands = []
    for block in blocks:
        for command in block.replace("\\\n", " ").splitlines():
            if command.strip() and not command.startswith(("make ", "export PATH=")):
                commands.append(command.strip())
    return commands


class Installed(unittest.TestCase):
    # The session's default fit takes minutes in an unoptimised sanitized
    # build, and such a build is not one to install.
    @unittest.skipIf(sanitized(), "a sanitized build")
    def test_readme_and_tutorial_examples_run_after_install(self):
        home = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, home)
        prefix = os.path.join(home, ".local")
        p = subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)
        for part in ("bin/vimor", "lib/libvimor.so", "include/vimor.h",
                     "share/vimor/mroz_psid1976.csv", "share/man/man1/vimor.1"):
            self.assertTrue(os.path.exists(os.path.join(prefix, part)), part)
        self.assert_man_page_is_current(prefix)
        env = {k: v for k, v in os.environ.items() if k != "VIMOR_LIBRARY"}
        env.update(HOME=home, PATH=os.path.join(prefix, "bin") + ":" + env["PATH"])
        commands = shell_examples(README)
        self.assertGreaterEqual(len(commands), 6)
        tutorial = shell_examples(TUTORIAL)
        self.assertGreaterEqual(len(tutorial), 5)
        commands += tutorial
        outputs = []
        for command in commands:
            p = subprocess.run(["bash", "-c", command], cwd=home, env=env, capture_output=True,
                               text=True, timeout=240)
            self.assertEqual(p.returncode, 0, f"{command}: {p.stderr}")
            outputs.append(p.stdout)
        # The default model read the installed data through the installed module.
        with open(os.path.join(home, "fit.json")) as f:
            saved = f.read()
        self.assertIn(os.path.join(prefix, "share/vimor/mroz_psid1976.csv"), saved)
        if "LD_LIBRARY_PATH" not in env:  # a sanitized build's tests point it elsewhere
            self.assertIn(os.path.join(prefix, "bin/../lib/libvimor.so"), saved)
        with open(os.path.join(home, "predictions.csv")) as f:
            self.assertEqual(sum(1 for _ in f), 754)
        self.assertTrue(any(re.search(r"accuracy +0\.\d+ \(\d+ of 753 correct\)", out)
                            for out in outputs))

    def assert_man_page_is_current(self, prefix):
        """Every flag each command's --help lists is in the installed man page
        (make man remakes it when a flag is added)."""
        with open(os.path.join(prefix, "share/man/man1/vimor.1")) as f:
            page = f.read().replace("\\-", "-")
        for command in ("fit", "score", "predict"):
            p = subprocess.run([os.path.join(prefix, "bin/vimor"), command, "--help"],
                               capture_output=True, text=True, timeout=30)
            flags = set(re.findall(r"^  (?:-h,)?(--[a-z0-9-]+)", p.stdout, re.M))
            self.assertGreater(len(flags), 3, p.stdout)
            for flag in sorted(flags):
                self.assertRegex(page, rf"\n\.B (-h,)?{flag}\b", f"vimor {command} {flag}: "
                                 f"run make man")


if __name__ == "__main__":
    unittest.main()

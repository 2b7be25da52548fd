"""`pip install ./python` works offline and the installed package finds its
shared defaults and gives the same numbers as the source tree."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import vimor
from support import HERE, library_path

PROBE = """
import sys, vimor
from pathlib import Path
assert Path(vimor.__file__).resolve().is_relative_to(Path(sys.argv[1]).resolve()), vimor.__file__
rows = [[1.0, 0.5, -1.0], [1.0, -0.25, 2.0], [1.0, 1.5, 0.5], [1.0, -2.0, -0.5]]
print(vimor.anneal([1, 0, 1, 0], rows, max_evals=500).value.hex())
"""


class InstallTest(unittest.TestCase):
    def test_pip_install_offline(self):
        with tempfile.TemporaryDirectory() as tmp:
            # Build from a copy so the source tree gains no build folders.
            source = Path(tmp) / "src"
            shutil.copytree(HERE.parent, source,
                            ignore=shutil.ignore_patterns("tests", "__pycache__", "*.egg-info",
                                                          "build", "*.so*"))
            target = Path(tmp) / "site"
            done = subprocess.run(
                [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
                 "--no-index", "--disable-pip-version-check", "--target", str(target),
                 str(source)], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            self.assertTrue((target / "vimor" / "defaults.json").is_file())
            env = dict(os.environ, PYTHONPATH=str(target), VIMOR_LIBRARY=library_path())
            probe = subprocess.run([sys.executable, "-c", PROBE, str(target)], env=env,
                                   capture_output=True, text=True, cwd=tmp)
            self.assertEqual(probe.returncode, 0, probe.stderr)
        rows = [[1.0, 0.5, -1.0], [1.0, -0.25, 2.0], [1.0, 1.5, 0.5], [1.0, -2.0, -0.5]]
        here = vimor.anneal([1, 0, 1, 0], rows, max_evals=500).value.hex()
        self.assertEqual(probe.stdout.strip(), here)


if __name__ == "__main__":
    unittest.main()

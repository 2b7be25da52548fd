"""`pip install ./python` into a fresh virtual environment, offline, builds the
module and the core from the repository's sources and ships them: the installed
package works from another folder with no VIMOR_LIBRARY and gives the build
tree's numbers bit for bit."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from support import HERE, library_path

ROOT = HERE.parent.parent
PROBE = HERE / "install_probe.py"


def copy_sources(target):
    """The repository without its build folders, so the install builds afresh
    and the source tree gains nothing."""
    def skip(folder, names):
        top = Path(folder) == ROOT
        return [n for n in names
                if n in ("__pycache__", ".git") or n.endswith(".egg-info")
                or (top and (n.startswith("build") or n.startswith(".venv")))
                or (Path(folder) == ROOT / "python" and n == "build")
                or (Path(folder) == ROOT / "python" / "vimor" and n.startswith("libvimor"))]
    shutil.copytree(ROOT, target, ignore=skip, symlinks=True)


def probe(python, env, cwd):
    done = subprocess.run([python, str(PROBE)], env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=300)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    return json.loads(done.stdout)


class InstallTest(unittest.TestCase):
    def test_fresh_virtual_environment(self):
        base = {k: v for k, v in os.environ.items()
                if k not in ("VIMOR_LIBRARY", "VIMOR_FIT_LIBRARY", "PYTHONPATH", "LD_PRELOAD")}
        with tempfile.TemporaryDirectory() as tmp:
            tmp = Path(tmp)
            copy_sources(tmp / "src")
            venv = tmp / "venv"
            subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages",
                            str(venv)], check=True, env=base)
            python = str(venv / "bin" / "python")
            done = subprocess.run(
                [python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                 "--disable-pip-version-check", str(tmp / "src" / "python")],
                capture_output=True, text=True, env=base, cwd=tmp, timeout=900)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            elsewhere = tmp / "elsewhere"
            elsewhere.mkdir()
            installed = probe(python, base, elsewhere)
        # The build tree's module, as the other tests load it (a sanitized
        # build's preloaded runtime included).
        here = probe(sys.executable, dict(os.environ, VIMOR_LIBRARY=library_path(),
                                          PYTHONPATH=str(HERE.parent)), HERE)
        package = Path(installed.pop("package")).parent
        self.assertTrue(package.is_relative_to(venv), package)
        self.assertEqual(Path(installed.pop("module")).parent, package)
        self.assertEqual(Path(installed.pop("core")).parent, package)
        self.assertEqual(Path(here.pop("module")).resolve(), Path(library_path()).resolve())
        here.pop("core")
        here.pop("package")
        self.assertEqual(installed, here)


if __name__ == "__main__":
    unittest.main()

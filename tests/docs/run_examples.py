#!/usr/bin/env python3
"""Runs the ```python (or ```r) blocks of each document given, in order, as one
script per document (so later blocks see earlier ones' names), in a scratch
folder where `data/` is the repository's: every example must run as written.

    run_examples.py python README.md docs/tutorial.md
    run_examples.py r README.md          # R_LIBS must hold the installed package

Exits 77 (a skip) for R when the package is not installed."""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def blocks(path, language):
    with open(path) as f:
        return re.findall(rf"^```{language}\n(.*?)^```", f.read(), re.M | re.S)


def command(language, code):
    if language == "python":
        return [sys.executable, "-c", code]
    return ["Rscript", "--vanilla", "-e", code]


def main(language, paths):
    if language == "r":
        probe = subprocess.run(["Rscript", "--vanilla", "-e", "library(vimor)"],
                               capture_output=True)
        if probe.returncode != 0:
            print("the vimor R package is not installed (make r-package); skipped")
            return 77
    failed = 0
    for path in paths:
        code = blocks(path, language)
        if not code:
            print(f"{path}: no {language} examples", file=sys.stderr)
            failed += 1
            continue
        with tempfile.TemporaryDirectory() as scratch:
            os.symlink(os.path.join(ROOT, "data"), os.path.join(scratch, "data"))
            env = dict(os.environ, MPLBACKEND="Agg")
            p = subprocess.run(command(language, "\n".join(code)), cwd=scratch, env=env,
                               capture_output=True, text=True, timeout=600)
        status = "ok" if p.returncode == 0 else "FAILED"
        print(f"{path}: {len(code)} {language} blocks {status}")
        if p.returncode != 0:
            print(p.stdout[-2000:], p.stderr[-4000:], file=sys.stderr)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))

#!/usr/bin/env python3
"""Runs the ```python blocks of each document given, in order, as one script per
document (so later blocks see earlier ones' names), in a scratch folder where
`data/` is the repository's: every example must run as written.

    run_python_examples.py README.md docs/tutorial.md"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def blocks(path):
    with open(path) as f:
        return re.findall(r"^```python\n(.*?)^```", f.read(), re.M | re.S)


def main(paths):
    failed = 0
    for path in paths:
        code = blocks(path)
        if not code:
            print(f"{path}: no python examples", file=sys.stderr)
            failed += 1
            continue
        with tempfile.TemporaryDirectory() as scratch:
            os.symlink(os.path.join(ROOT, "data"), os.path.join(scratch, "data"))
            env = dict(os.environ, MPLBACKEND="Agg")
            p = subprocess.run([sys.executable, "-c", "\n".join(code)], cwd=scratch, env=env,
                               capture_output=True, text=True, timeout=600)
        status = "ok" if p.returncode == 0 else "FAILED"
        print(f"{path}: {len(code)} python blocks {status}")
        if p.returncode != 0:
            print(p.stdout[-2000:], p.stderr[-4000:], file=sys.stderr)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

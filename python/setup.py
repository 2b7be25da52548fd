"""Builds the vimor module and the estimation core from this repository's
sources, through its own CMake project (so with the same flags and sources as
`make build`), and ships both inside the package: `pip install ./python` gives
a package that needs no VIMOR_LIBRARY. The build needs cmake and a C++
compiler, and the repository around this folder."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

# The module and the core, as the package loads them (the core is built for Linux).
LIBRARIES = {"vimor": "libvimor.so", "vimor_fit": "libvimor_fit.so"}

# The two libraries alone: no tests, hosts, benchmarks or fuzz targets.
CMAKE_OPTIONS = ["-DCMAKE_BUILD_TYPE=Release", "-DVIMOR_BUILD_TESTS=OFF",
                 "-DVIMOR_BUILD_HOSTS=OFF", "-DVIMOR_BUILD_BENCH=OFF", "-DVIMOR_BUILD_FUZZ=OFF"]


def build_libraries(folder):
    """Configure and build the two CMake targets into `folder`; their paths."""
    if not (ROOT / "CMakeLists.txt").is_file() or not (ROOT / "include" / "vimor.h").is_file():
        sys.exit(f"vimor: the package is built from the repository's sources, which are not "
                 f"around {HERE}; install from a checkout with pip install ./python")
    cmake = shutil.which("cmake")
    if cmake is None:
        sys.exit("vimor: building the module needs cmake (Debian: apt-get install cmake g++)")
    subprocess.run([cmake, "-S", str(ROOT), "-B", str(folder), *CMAKE_OPTIONS], check=True)
    subprocess.run([cmake, "--build", str(folder), "--target", *LIBRARIES, "--parallel",
                    str(os.cpu_count() or 1)], check=True)
    return [folder / name for name in LIBRARIES.values()]


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        temp = Path(self.get_finalized_command("build").build_temp) / "cmake"
        # Copied under the names the package loads, whatever symlinks CMake made.
        for built in build_libraries(temp.resolve()):
            shutil.copyfile(built, Path(self.build_lib) / "vimor" / built.name)


class WithLibraries(Distribution):
    """A platform wheel: the package carries compiled code."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithLibraries}, distclass=WithLibraries)

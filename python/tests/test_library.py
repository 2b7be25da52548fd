"""Finding and loading the module and the core, and the core's ctypes
signatures against its header."""
import ctypes
import ctypes.util
import json
import os
import re
import shutil
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import vimor
from vimor import _library
from support import HERE, library_path

HEADER = HERE.parent.parent / "include" / "vimor_fit.h"


def header_functions():
    """Each function include/vimor_fit.h declares, with its number of parameters."""
    text = re.sub(r"/\*.*?\*/", "", HEADER.read_text(), flags=re.S)
    found = {}
    for name, params in re.findall(r"VIMOR_FIT_API\s+[\w\s\*]*?\b(vimor_\w+)\s*\(([^)]*)\)", text):
        found[name] = 0 if params.strip() == "void" else len(params.split(","))
    return found


class SignatureTest(unittest.TestCase):
    def test_every_core_function_as_the_header_declares_it(self):
        declared = header_functions()
        self.assertEqual(sorted(_library.CORE_FUNCTIONS), sorted(declared))
        lib = vimor.load_library(library_path())
        for name, count in declared.items():
            with self.subTest(function=name):
                self.assertEqual(len(getattr(lib.core, name).argtypes), count)


class LoadTest(unittest.TestCase):
    def test_explicit_path_folder_and_environment(self):
        lib = vimor.load_library(library_path())
        self.assertIs(vimor.load_library(library_path()), lib)
        folder = vimor.load_library(Path(library_path()).parent)
        self.assertEqual(Path(folder.path).resolve(), Path(library_path()).resolve())
        with mock.patch.dict(os.environ, {"VIMOR_LIBRARY": library_path()}):
            self.assertIs(vimor.load_library(), lib)
        # The core beside the module, when VIMOR_FIT_LIBRARY is not set.
        if "VIMOR_FIT_LIBRARY" not in os.environ:
            self.assertEqual(Path(lib.core_path).parent, Path(library_path()).parent)

    def test_path_as_bytes_and_a_path_that_is_no_path(self):
        self.assertIs(vimor.load_library(os.fsencode(library_path())),
                      vimor.load_library(library_path()))
        with self.assertRaisesRegex(TypeError, r"^path: expected a str, bytes or os.PathLike "
                                               r"path, got int$"):
            vimor.load_library(42)

    def test_environment_naming_nothing(self):
        for variable, path in (("VIMOR_LIBRARY", None), ("VIMOR_FIT_LIBRARY", library_path())):
            with self.subTest(variable=variable), \
                    mock.patch.dict(os.environ, {variable: "/nonexistent/lib.so"}):
                with self.assertRaisesRegex(vimor.LibraryError,
                                            rf"{variable} names /nonexistent/lib.so"):
                    vimor.load_library(path)

    def test_core_chosen_by_environment_and_missing_core(self):
        with tempfile.TemporaryDirectory() as folder:
            module = Path(folder) / _library.FILE_NAME
            shutil.copyfile(library_path(), module)
            env = {k: v for k, v in os.environ.items() if k != "VIMOR_FIT_LIBRARY"}
            with mock.patch.dict(os.environ, env, clear=True), \
                    mock.patch.object(_library, "_PACKAGE_DIR", Path(folder)):
                with self.assertRaisesRegex(vimor.LibraryError, r"cannot find the vimor "
                                            r"estimation core libvimor_fit.so; looked in: "
                                            r"VIMOR_FIT_LIBRARY \(not set\)"):
                    vimor.load_library(module)
            core = vimor.load_library(library_path()).core_path
            with mock.patch.dict(os.environ, {"VIMOR_FIT_LIBRARY": core}):
                self.assertEqual(vimor.load_library(module).core_path, core)

    def test_nothing_found_says_where_it_looked(self):
        env = {k: v for k, v in os.environ.items() if k != "VIMOR_LIBRARY"}
        place = Path(tempfile.gettempdir()) / "vimor-nowhere" / _library.FILE_NAME
        with mock.patch.dict(os.environ, env, clear=True), \
                mock.patch.object(_library, "_candidates", return_value=[place]), \
                mock.patch.object(ctypes.util, "find_library", return_value=None):
            with self.assertRaises(vimor.LibraryError) as caught:
                vimor.load_library()
        for words in ("VIMOR_LIBRARY (not set)", str(place), "system's library path"):
            self.assertIn(words, str(caught.exception))

    def test_build_tree_is_searched(self):
        places = _library._candidates()
        self.assertIn(HERE.parent.parent / "build" / _library.FILE_NAME, places)
        self.assertEqual(places[-1], HERE.parent / "vimor" / _library.FILE_NAME)

    def test_files_that_are_not_vimor(self):
        libm = ctypes.util.find_library("m")
        core = vimor.load_library(library_path()).core_path
        with self.assertRaisesRegex(vimor.LibraryError, r"has no symbol _fcna_: it is not a "
                                                        r"vimor library"):
            vimor.Library(libm, core)
        with tempfile.NamedTemporaryFile(suffix=".so") as f, \
                mock.patch.dict(os.environ, {"VIMOR_FIT_LIBRARY": core}):
            f.write(b"not a module")
            f.flush()
            with self.assertRaisesRegex(vimor.LibraryError, r"^cannot load the vimor module"):
                vimor.load_library(f.name)

    def test_defaults_are_the_cores(self):
        # The core compiles in fit/defaults.json; the package asks the core.
        shared = json.loads((HERE.parent.parent / "fit" / "defaults.json").read_text())
        shared = {k: v for k, v in shared.items() if not k.startswith("_")}
        self.assertEqual({k: vimor.DEFAULTS[k] for k in shared}, shared)
        self.assertEqual(vimor.DEFAULTS["level"], 0.95)
        self.assertIs(type(vimor.DEFAULTS["maximize"]), bool)
        self.assertIs(type(vimor.DEFAULTS["restarts"]), int)
        with self.assertRaises(TypeError):
            vimor.DEFAULTS["seed"] = 1
        with self.assertRaisesRegex(ValueError, r"no setting 'lower' has a default of its own"):
            vimor.load_library(library_path()).default("lower")


if __name__ == "__main__":
    unittest.main()

"""Finding and loading the module, and the ctypes signatures against the header."""
import ctypes
import ctypes.util
import os
import re
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import vimor
from vimor import _library
from support import HERE, library_path

HEADER = HERE.parent.parent / "include" / "vimor.h"


def header_signature(name):
    """The parameter types of an export as include/vimor.h declares them."""
    text = HEADER.read_text()
    match = re.search(r"VIMOR_API\s+int32_t\s+" + re.escape(name) + r"\s*\(([^)]*)\)", text)
    params = [p.strip() for p in match.group(1).split(",")]
    kinds = []
    for p in params:
        base = "double" if "double" in p else "int32_t" if "int32_t" in p else None
        assert base and p.count("*") == 1, p
        kinds.append(ctypes.POINTER(ctypes.c_double if base == "double" else ctypes.c_int32))
    return kinds


class SignatureTest(unittest.TestCase):
    def test_argtypes_follow_the_header(self):
        lib = vimor.load_library(library_path())
        self.assertEqual(list(lib.fcna.argtypes), header_signature("_fcna_"))
        self.assertEqual(list(lib.saa.argtypes), header_signature("_saa_"))
        self.assertEqual(len(lib.saa.argtypes), 31)
        self.assertIs(lib.saa.restype, ctypes.c_int32)


class LoadTest(unittest.TestCase):
    def test_explicit_path_and_folder(self):
        lib = vimor.load_library(library_path())
        self.assertIs(vimor.load_library(library_path()), lib)
        folder = Path(library_path()).parent
        if (folder / _library.FILE_NAME).exists():
            self.assertIsInstance(vimor.load_library(folder), vimor.Library)

    def test_environment_variable(self):
        with mock.patch.dict(os.environ, {"VIMOR_LIBRARY": library_path()}):
            self.assertEqual(vimor.load_library().path, library_path())

    def test_environment_variable_naming_nothing(self):
        with mock.patch.dict(os.environ, {"VIMOR_LIBRARY": "/nonexistent/libvimor.so"}):
            with self.assertRaisesRegex(vimor.LibraryError,
                                        r"VIMOR_LIBRARY names /nonexistent/libvimor.so"):
                vimor.load_library()

    def test_nothing_found_says_where_it_looked(self):
        env = {k: v for k, v in os.environ.items() if k != "VIMOR_LIBRARY"}
        place = Path(tempfile.gettempdir()) / "vimor-nowhere" / _library.FILE_NAME
        with mock.patch.dict(os.environ, env, clear=True), \
                mock.patch.object(_library, "_candidates", return_value=[place]), \
                mock.patch.object(ctypes.util, "find_library", return_value=None):
            with self.assertRaises(vimor.LibraryError) as caught:
                vimor.load_library()
        message = str(caught.exception)
        self.assertIn("VIMOR_LIBRARY (not set)", message)
        self.assertIn(str(place), message)
        self.assertIn("system's library path", message)

    def test_build_tree_is_searched(self):
        places = _library._candidates()
        root = HERE.parent.parent
        self.assertIn(root / "build" / _library.FILE_NAME, places)
        self.assertEqual(places[-1], HERE.parent / "vimor" / _library.FILE_NAME)

    def test_module_without_the_exports(self):
        libm = ctypes.util.find_library("m")
        if libm is None:
            self.skipTest("no libm to load")
        with self.assertRaisesRegex(vimor.LibraryError, r"has no symbol _fcna_: it is not a vimor module"):
            vimor.Library(libm)

    def test_file_that_is_no_module(self):
        with tempfile.NamedTemporaryFile(suffix=".so") as f:
            f.write(b"not a module")
            f.flush()
            with self.assertRaisesRegex(vimor.LibraryError, r"^cannot load the vimor module"):
                vimor.load_library(f.name)


if __name__ == "__main__":
    unittest.main()

"""Finding and loading the vimor module, and the ctypes signatures of its two exports.

The argument lists mirror include/vimor.h; a change there must be made here too.
"""
import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path

_D = ctypes.POINTER(ctypes.c_double)
_I = ctypes.POINTER(ctypes.c_int32)

# _fcna_(response, regressors, nobs, nreg, coef, score, quantile, fixed_coef)
FCNA_ARGTYPES = (_D, _D, _I, _I, _D, _D, _D, _D)

# _saa_(response, regressors, nobs, nreg, coef, quantile, maximize, cooling,
#       tolerance, sweeps, adjustments, history_len, max_evals, lower, upper,
#       step_gain, seed1, seed2, temperature, step, best, best_value, n_accepted,
#       n_evals, n_out_of_bounds, status, history, trial, accept_counts,
#       limit_hit, fixed_coef)
SAA_ARGTYPES = (_D, _D, _I, _I, _D, _D, _I, _D,
                _D, _I, _I, _I, _I, _D, _D,
                _D, _I, _I, _D, _D, _D, _D, _I,
                _I, _I, _I, _D, _D, _I,
                _I, _D)

if sys.platform == "win32":
    FILE_NAME = "vimor.dll"
elif sys.platform == "darwin":
    FILE_NAME = "libvimor.dylib"
else:
    FILE_NAME = "libvimor.so"

# Build folders a CMake user is likely to have made at the top of the source tree.
_BUILD_DIRS = ("build", "build-release", "build-debug", "cmake-build-release",
               "cmake-build-debug", "out/build")

_PACKAGE_DIR = Path(__file__).resolve().parent


class LibraryError(OSError):
    """The vimor module could not be found, loaded, or is not a vimor module."""


class Library:
    """A loaded vimor module with both exports bound.

    `fcna` and `saa` are the ctypes functions of `_fcna_` and `_saa_`; ctypes
    releases the interpreter lock while they run.
    """

    def __init__(self, path):
        self.path = str(path)
        try:
            self._dll = ctypes.CDLL(self.path)
        except OSError as exc:
            raise LibraryError(f"cannot load the vimor module {self.path}: {exc}") from None
        self.fcna = self._bind("_fcna_", FCNA_ARGTYPES)
        self.saa = self._bind("_saa_", SAA_ARGTYPES)

    def _bind(self, name, argtypes):
        try:
            function = getattr(self._dll, name)
        except AttributeError:
            raise LibraryError(f"{self.path} has no symbol {name}: it is not a vimor module, "
                               f"or an old one; rebuild it") from None
        function.argtypes = argtypes
        function.restype = ctypes.c_int32
        return function

    def __repr__(self):
        return f"vimor.Library({self.path!r})"

    # A loaded module is shared, not copied: scikit-learn's clone deep-copies
    # an estimator's parameters, and a pickled one loads the module again by path.
    def __deepcopy__(self, memo):
        return self

    def __reduce__(self):
        return load_library, (self.path,)


_lock = threading.Lock()
_loaded = {}


def _candidates():
    """Where the module is looked for when no path is given, in order."""
    places = []
    root = _PACKAGE_DIR.parent.parent
    # Only a source checkout has a build tree beside the package.
    if (root / "include" / "vimor.h").is_file():
        places += [root / d / FILE_NAME for d in _BUILD_DIRS]
    places.append(_PACKAGE_DIR / FILE_NAME)
    return places


def _find():
    env = os.environ.get("VIMOR_LIBRARY")
    if env:
        # A path the user set is used or refused; never silently passed over.
        return _explicit(env, "VIMOR_LIBRARY")
    places = _candidates()
    for place in places:
        if place.is_file():
            return str(place)
    system = ctypes.util.find_library("vimor")
    if system:
        return system
    looked = ", ".join(str(p) for p in places)
    raise LibraryError(
        f"cannot find the vimor module {FILE_NAME}; looked in: VIMOR_LIBRARY (not set), "
        f"{looked}, and the system's library path. Build it (cmake -S . -B build && "
        f"cmake --build build), or set VIMOR_LIBRARY or pass library= with its path")


def _explicit(path, origin):
    place = Path(path)
    if place.is_dir():
        place = place / FILE_NAME
    if not place.is_file():
        raise LibraryError(f"cannot find the vimor module: {origin} names {path}, "
                           f"which is not a file")
    return str(place)


def load_library(path=None):
    """Load the vimor module and return it; repeated calls return the same object.

    path: the module file (or a folder holding it). Without it, the module is
    looked for in VIMOR_LIBRARY, the source tree's build folders, the package
    folder and the system's library path, in that order.
    """
    found = _find() if path is None else _explicit(os.fspath(path), "the path given")
    with _lock:
        library = _loaded.get(found)
        if library is None:
            library = _loaded[found] = Library(found)
        return library


def resolve(library):
    """The Library for a library= argument: None, a path, or a loaded Library."""
    if library is None:
        return load_library()
    if isinstance(library, (str, bytes, os.PathLike)):
        return load_library(library)
    if hasattr(library, "fcna") and hasattr(library, "saa"):
        return library
    raise TypeError(f"library: expected a path or a vimor.Library, got {type(library).__name__}")

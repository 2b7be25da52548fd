"""Finding and loading the vimor module and the estimation core, and the
core's ctypes signatures (those of include/vimor_fit.h: a change there must be
made here too). Python never calls the module itself: the core does, through
the two function pointers it is given."""
import ctypes
import ctypes.util
import os
import re
import threading
import types
from pathlib import Path

_D = ctypes.POINTER(ctypes.c_double)
_I = ctypes.POINTER(ctypes.c_int32)
_P = ctypes.c_void_p
_S = ctypes.c_char_p
_INT, _I32, _F = ctypes.c_int, ctypes.c_int32, ctypes.c_double

# The core's functions: (restype, argtypes). Handles are void pointers.
CORE_FUNCTIONS = {
    "vimor_cancel_flag": (_INT, (_P,)),
    "vimor_last_error": (_S, ()),
    "vimor_last_error_argument": (_S, ()),
    "vimor_problem_new": (_INT, (_D, _D, _I32, _I32, _F, ctypes.POINTER(_S),
                                 ctypes.POINTER(_P))),
    "vimor_problem_free": (None, (_P,)),
    "vimor_index": (_INT, (_P, _D, _D)),
    "vimor_score": (_INT, (_P, _P, _D, _F, _D, _D)),
    "vimor_problem_set_weights": (_INT, (_P, _D)),
    "vimor_profile_new": (_INT, (_P, _P, _D, _F, _I32, _F, _F, ctypes.POINTER(_P))),
    "vimor_profile_steps": (_I32, (_P,)),
    "vimor_profile_get": (_INT, (_P, _D, _D, _D, _D)),
    "vimor_profile_free": (None, (_P,)),
    "vimor_fit_new": (_INT, (_P, _P, _P, ctypes.POINTER(_P))),
    "vimor_fit_free": (None, (_P,)),
    "vimor_fit_set": (_INT, (_P, _S, _D, _I32)),
    "vimor_fit_set_text": (_INT, (_P, _S, _S)),
    "vimor_fit_prepare": (_INT, (_P,)),
    "vimor_fit_run": (_INT, (_P, _I32, _P, _P, _P, _P)),
    "vimor_restart_record_size": (_I32, (_P,)),
    "vimor_fit_run_restart": (_INT, (_P, _I32, _D)),
    "vimor_fit_finish_restarts": (_INT, (_P, _D)),
    "vimor_subsample_record_size": (_I32, (_P,)),
    "vimor_fit_subsample_rows": (_INT, (_P, _I32, _I)),
    "vimor_fit_run_subsample": (_INT, (_P, _I32, _I, _D)),
    "vimor_fit_finish_subsamples": (_INT, (_P, _D)),
    "vimor_fit_size": (_INT, (_P, _S, _I)),
    "vimor_fit_get": (_INT, (_P, _S, _D, _I32)),
    "vimor_fit_interval": (_INT, (_P, _I32, _F, _INT, _D, _D)),
    "vimor_interval": (_INT, (_F, _D, _I32, _I32, _I32, _F, _INT, _D, _D)),
    "vimor_scaled_draws": (_INT, (_F, _D, _I32, _I32, _I32, _D)),
    "vimor_fit_warning_count": (_I32, (_P,)),
    "vimor_fit_warning": (_S, (_P, _I32)),
    "vimor_default": (_INT, (_S, _D)),
}

ERROR, CANCELLED = 1, 2

# The core's neutral argument names where Python spells them otherwise.
SPELLING = {"x": "X", "names": "X", "threads": "n_jobs", "weights": "sample_weight"}

# The core, like the hosts, is built for Linux alone.
FILE_NAME, CORE_FILE_NAME = "libvimor.so", "libvimor_fit.so"

# Build folders a CMake user is likely to have made at the top of the source tree.
_BUILD_DIRS = ("build", "build-release", "build-debug", "cmake-build-release",
               "cmake-build-debug", "out/build")

_PACKAGE_DIR = Path(__file__).resolve().parent


class LibraryError(OSError):
    """The vimor module or core could not be found, loaded, or is not what it should be."""


def spelled(text, spelling=None):
    """A core message with each {key} in Python's spelling."""
    return re.sub(r"\{(\w+)\}", lambda m: spell(m.group(1), spelling), text)


def spell(key, spelling=None):
    return (spelling or {}).get(key, SPELLING.get(key, key))


class Library:
    """A loaded vimor module with both exports bound, and the estimation core.

    `fcna` and `saa` are the ctypes functions of `_fcna_` and `_saa_`; `core`
    is the loaded libvimor_fit, handed the two exports by address. ctypes
    releases the interpreter lock while any of them runs.
    """

    def __init__(self, path, core_path):
        self.path, self.core_path = str(path), str(core_path)
        self._dll = _load(self.path, "module")
        self.fcna = self._bind(self._dll, self.path, "_fcna_", ctypes.c_int32, None)
        self.saa = self._bind(self._dll, self.path, "_saa_", ctypes.c_int32, None)
        self.objective_fn = ctypes.cast(self.fcna, _P)
        self.search_fn = ctypes.cast(self.saa, _P)
        self.core = _load(self.core_path, "estimation core")
        for name, (restype, argtypes) in CORE_FUNCTIONS.items():
            self._bind(self.core, self.core_path, name, restype, argtypes)
        self.cancel_fn = ctypes.cast(self.core.vimor_cancel_flag, _P)

    @staticmethod
    def _bind(dll, path, name, restype, argtypes):
        try:
            function = getattr(dll, name)
        except AttributeError:
            raise LibraryError(f"{path} has no symbol {name}: it is not a vimor library, "
                               f"or an old one; rebuild it") from None
        function.argtypes = argtypes
        function.restype = restype
        return function

    def call(self, name, *args, spelling=None):
        """A core function; a failure raises ValueError naming the argument in
        Python's spelling. Returns the status (0, or CANCELLED)."""
        status = getattr(self.core, name)(*args)
        if status == ERROR:
            raise self.error(spelling)
        return status

    def error(self, spelling=None):
        """The core's last failure on this thread as a ValueError."""
        message = spelled(self.core.vimor_last_error().decode("utf-8", "replace"), spelling)
        argument = self.core.vimor_last_error_argument().decode("utf-8", "replace")
        return ValueError(f"{spell(argument, spelling)}: {message}" if argument else message)

    def default(self, key):
        value = ctypes.c_double()
        self.call("vimor_default", key.encode(), ctypes.byref(value))
        return value.value

    def __repr__(self):
        return f"vimor.Library({self.path!r})"

    # A loaded library is shared, not copied: scikit-learn's clone deep-copies
    # an estimator's parameters, and a pickled one loads it again by path.
    def __deepcopy__(self, memo):
        return self

    def __reduce__(self):
        return _load_pair, (self.path, self.core_path)


def _load(path, what):
    try:
        return ctypes.CDLL(path)
    except OSError as exc:
        raise LibraryError(f"cannot load the vimor {what} {path}: {exc}") from None


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
        return _explicit(env, "VIMOR_LIBRARY", FILE_NAME)
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


def _find_core(module):
    """The core: VIMOR_FIT_LIBRARY, else beside the module, else in the package folder."""
    env = os.environ.get("VIMOR_FIT_LIBRARY")
    if env:
        return _explicit(env, "VIMOR_FIT_LIBRARY", CORE_FILE_NAME)
    places = [Path(module).parent / CORE_FILE_NAME, _PACKAGE_DIR / CORE_FILE_NAME]
    for place in places:
        if place.is_file():
            return str(place)
    raise LibraryError(f"cannot find the vimor estimation core {CORE_FILE_NAME}; looked in: "
                       f"VIMOR_FIT_LIBRARY (not set), {', '.join(map(str, places))}. Build it "
                       f"(cmake --build build --target vimor_fit) or set VIMOR_FIT_LIBRARY")


def _explicit(path, origin, file_name):
    place = Path(path)
    if place.is_dir():
        place = place / file_name
    if not place.is_file():
        raise LibraryError(f"cannot find the vimor library: {origin} names {path}, "
                           f"which is not a file")
    return str(place)


def _load_pair(module, core):
    with _lock:
        library = _loaded.get((module, core))
        if library is None:
            library = _loaded[module, core] = Library(module, core)
        return library


def load_library(path=None):
    """Load the vimor module and the estimation core; repeated calls return the same object.

    path: the module file (or a folder holding it). Without it, the module is
    looked for in VIMOR_LIBRARY, the source tree's build folders, the package
    folder and the system's library path, in that order. The core
    (libvimor_fit) is VIMOR_FIT_LIBRARY, else the one beside the module, else
    the package's.
    """
    if path is not None and not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path: expected a str, bytes or os.PathLike path, "
                        f"got {type(path).__name__}")
    found = _find() if path is None else _explicit(os.fsdecode(path), "the path given", FILE_NAME)
    return _load_pair(found, _find_core(found))


def resolve(library):
    """The Library for a library= argument: None, a path, or a loaded Library."""
    if library is None:
        return load_library()
    if isinstance(library, (str, bytes, os.PathLike)):
        return load_library(library)
    if isinstance(library, Library):
        return library
    raise TypeError(f"library: expected a path or a vimor.Library, got {type(library).__name__}")


# Each shared default and its type.
DEFAULT_KINDS = {"quantile": float, "fixed_coef": float, "maximize": bool, "box_scale": float,
                 "step_fraction": float, "temperature": float, "cooling": float,
                 "tolerance_fraction": float, "sweeps": int, "adjustments": int,
                 "history_len": int, "max_evals": int, "step_gain": float, "restarts": int,
                 "seed": int, "seed2": int, "level": float}


def defaults():
    """The defaults every vimor host shares, from the core."""
    library = load_library()
    return types.MappingProxyType({k: kind(library.default(k))
                                   for k, kind in DEFAULT_KINDS.items()})

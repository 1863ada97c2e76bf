"""Finding and loading libmarkwire, and the C signatures of its reader handles."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Optional

# From include/markwire.h.
MW_UNKNOWN_READER = -1
MW_SMALL_BUFFER = -2
MW_BLOCK_SIZE = 2176
DONE = 255

ENVIRONMENT_VARIABLE = "MARKWIRE_LIBRARY"

# The exports are plain C (cdecl) on Linux. On Windows they are __stdcall
# (MARKWIRE_CALL), which 32-bit Python must call through WinDLL; the handler
# typedefs carry no MARKWIRE_CALL, so the callbacks stay cdecl (CFUNCTYPE)
# everywhere.
if sys.platform == "win32":
    _Loader = ctypes.WinDLL  # type: ignore[attr-defined]
    _NAMES = ("Markwire.dll", "markwire.dll")
else:
    _Loader = ctypes.CDLL
    _NAMES = ("libmarkwire.so.1", "libmarkwire.so")

MESSAGE_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)
TRACE_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_void_p)
PROGRESS_HANDLER = ctypes.CFUNCTYPE(None, ctypes.c_uint, ctypes.c_uint, ctypes.c_void_p)


class LibraryNotFound(OSError):
    """libmarkwire could not be loaded: missing, or a file that is not it.

    ``path`` is the file that was tried (from MARKWIRE_LIBRARY), or None when
    the system's loader found nothing.
    """

    def __init__(self, message: str, path: Optional[str] = None) -> None:
        super().__init__(message)
        self.path = path


_R = ctypes.c_void_p  # mw_reader*: an opaque handle
_INTS = ctypes.POINTER(ctypes.c_int)
_SIGNATURES = {
    "mw_version": (ctypes.c_char_p, []),
    "mw_open": (_R, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]),
    "mw_close": (None, [_R]),
    "mw_send": (ctypes.c_int, [_R, ctypes.c_char_p]),
    "mw_receive": (ctypes.c_int, [_R, ctypes.c_char_p, ctypes.c_size_t]),
    "mw_read_card": (ctypes.c_int, [_R, ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                    ctypes.c_size_t]),
    "mw_error": (ctypes.c_int, [_R, ctypes.c_char_p]),
    "mw_error_text": (ctypes.c_int, [_R, ctypes.c_char_p, ctypes.c_size_t]),
    "mw_download_format": (ctypes.c_int, [_R, ctypes.c_char_p]),
    "mw_download_program": (ctypes.c_int, [_R, ctypes.c_char_p]),
    "mw_download_format_text": (ctypes.c_int, [_R, ctypes.c_char_p]),
    "mw_pass_card": (ctypes.c_int, [_R, ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                    ctypes.c_size_t]),
    "mw_set_test": (ctypes.c_int, [_R, ctypes.c_int, ctypes.c_int]),
    "mw_sync": (ctypes.c_int, [_R]),
    "mw_barcode_layout": (ctypes.c_int, [_R, _INTS, _INTS]),
    "mw_get_values": (ctypes.c_int, [_R, ctypes.c_int, _INTS, ctypes.c_size_t]),
    "mw_get_block": (ctypes.c_int, [_R, ctypes.c_int, _INTS, ctypes.c_size_t]),
    "mw_get_curve": (ctypes.c_int, [_R, _INTS, ctypes.c_size_t]),
    "mw_adjust_gray": (ctypes.c_int, [_R, ctypes.c_int, ctypes.c_int]),
    "mw_adjust_card": (ctypes.c_int, [_R, ctypes.c_int, ctypes.c_int]),
    "mw_adjust_motor": (ctypes.c_int, [_R, ctypes.c_int]),
    "mw_adjust_fore": (ctypes.c_int, [_R, ctypes.c_int]),
    "mw_adjust_behind": (ctypes.c_int, [_R, ctypes.c_int]),
    "mw_barcode_mode": (ctypes.c_int, [_R, ctypes.c_int]),
    "mw_set_message_handler": (ctypes.c_int, [_R, MESSAGE_HANDLER, ctypes.c_void_p]),
    "mw_set_trace_handler": (ctypes.c_int, [_R, TRACE_HANDLER, ctypes.c_void_p]),
    "mw_set_progress_handler": (ctypes.c_int, [_R, PROGRESS_HANDLER, ctypes.c_void_p]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _bind(library: ctypes.CDLL, where: str, path: Optional[str]) -> ctypes.CDLL:
    for name, (restype, argtypes) in _SIGNATURES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            raise LibraryNotFound(
                f"{where} is not the Markwire library (it has no {name})", path) from None
        function.restype = restype
        function.argtypes = argtypes
    return library


def load(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library from ``path``, or as :func:`library` finds it.

    Raises LibraryNotFound naming the file when it is missing or is not the
    Markwire library.
    """
    if path is None:
        path = os.environ.get(ENVIRONMENT_VARIABLE) or None
        where = f"{ENVIRONMENT_VARIABLE}={path}"
    else:
        where = path
    if path is not None:
        if not os.path.isfile(path):
            raise LibraryNotFound(f"{where}: no such file", path)
        try:
            library = _Loader(os.path.abspath(path))
        except OSError as error:
            raise LibraryNotFound(f"{where} could not be loaded: {error}", path) from error
        return _bind(library, where, path)

    tried = []
    found = ctypes.util.find_library("markwire")
    for name in ([found] if found else []) + list(_NAMES):
        tried.append(name)
        try:
            library = _Loader(name)
        except OSError:
            continue
        return _bind(library, name, None)
    raise LibraryNotFound(
        "the Markwire library was not found (tried " + ", ".join(tried)
        + f"); install libmarkwire or set {ENVIRONMENT_VARIABLE} to its path")


def library() -> ctypes.CDLL:
    """The library, loaded on first use: MARKWIRE_LIBRARY when it is set,
    else the system's loader."""
    global _library
    with _lock:
        if _library is None:
            _library = load()
        return _library

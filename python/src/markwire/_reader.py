"""The reader: one mw_reader handle of libmarkwire behind a Python object."""

from __future__ import annotations

import atexit
import ctypes
import os
import threading
import weakref
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Tuple, Union

from . import _library as _lib

PathLike = Union[str, "os.PathLike[str]"]
MessageHandler = Callable[[str], Any]
TraceHandler = Callable[[str], Any]
ProgressHandler = Callable[[int, int], Any]

_INT_MIN = -(2**31)
_INT_MAX = 2**31 - 1
# Room for the longest reason mw_open gives and the reader's error texts.
_WHY_SIZE = 512
_TEXT_SIZE = 64
_NO_CARD = "16"  # the reader's code for an empty hopper


class ReaderError(Exception):
    """The reader refused or failed a call.

    ``code`` is the reader's two-digit code ("16": no sheet), or "" when no
    reader answered (the device could not be opened, or was lost); ``text``
    is the reader's text for the code, or the reason.
    """

    def __init__(self, code: str, text: str) -> None:
        super().__init__(f"{code} {text}" if code else text)
        self.code = code
        self.text = text


class OpenError(ReaderError):
    """The device could not be opened or no reader hand-shook on it."""

    def __init__(self, device: str, reason: str) -> None:
        super().__init__("", reason)
        self.device = device


class ReaderClosed(ReaderError):
    """The reader was used after close()."""

    def __init__(self) -> None:
        super().__init__("", "the reader is closed")


@dataclass(frozen=True)
class Card:
    """One card as read.

    ``text`` is the whole text as the library lays it out (with the barcode
    in front of the data, or after its first byte); ``data`` the marks alone;
    ``barcode`` the barcode text, "" when the card format reads no barcode
    (a failed barcode read gives full stops).
    """

    text: str
    data: str
    barcode: str


def version() -> str:
    """The library's version, e.g. "1.2.0"."""
    return _lib.library().mw_version().decode("ascii")


def _int(name: str, value: object) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not _INT_MIN <= value <= _INT_MAX:
        raise ValueError(f"{name} {value} does not fit a C int")
    return value


def _text(name: str, value: object) -> bytes:
    """A command or format text as the bytes the reader gets (latin-1)."""
    if isinstance(value, str):
        try:
            data = value.encode("latin-1")
        except UnicodeEncodeError:
            raise ValueError(f"{name} holds a character the reader cannot take: {value!r}") \
                from None
    elif isinstance(value, (bytes, bytearray)):
        data = bytes(value)
    else:
        raise TypeError(f"{name} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{name} holds a NUL character")
    return data


def _path(name: str, value: object) -> bytes:
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError(f"{name} must be a path (str or os.PathLike), not {type(value).__name__}")
    path = os.fspath(value)
    if not isinstance(path, str):
        raise TypeError(f"{name} must be a text path, not {type(path).__name__}")
    if "\0" in path:
        raise ValueError(f"{name} holds a NUL character")
    if not os.path.isfile(path):
        raise FileNotFoundError(2, "no such file", path)
    return os.fsencode(path)


def _selector(value: object) -> int:
    if not isinstance(value, str):
        raise TypeError(f"selector must be 'A' or 'B', not {type(value).__name__}")
    if value not in ("A", "B"):
        raise ValueError(f"selector must be 'A' or 'B', not {value!r}")
    return ord(value)


def _callable(name: str, value: object) -> None:
    if value is not None and not callable(value):
        raise TypeError(f"{name} must be callable or None, not {type(value).__name__}")


def _weak(reader: "Reader", function: Callable[..., None]) -> Callable[..., None]:
    """``function(reader, *args)`` for a callback the reader keeps: through a
    weak reference, so that the reader and its callbacks make no cycle and a
    reader that is dropped closes at once."""
    ref = weakref.ref(reader)

    def call(*args: Any) -> None:
        target = ref()
        if target is not None:
            function(target, *args)

    return call


# Readers still open when the interpreter exits are closed before it tears
# itself down, so that no handler of theirs can run into a dead interpreter.
_open_readers: "weakref.WeakSet[Reader]" = weakref.WeakSet()


@atexit.register
def _close_all() -> None:
    for reader in list(_open_readers):
        reader.close()


class Reader:
    """One optical mark reader on a serial device.

    Opening hand-shakes with the reader (2.5 s); use it as a context
    manager, or call close(). Calls on one reader are serialised by the
    library; different readers may be used from different threads.

        with markwire.Reader("/dev/ttyUSB0") as reader:
            reader.download_format("card.fmt")
            while (card := reader.read_card()) is not None:
                print(card.barcode, card.data)
    """

    def __init__(self, device: PathLike) -> None:
        self._handle: Optional[int] = None
        self._lock = threading.Lock()
        # The ctypes callbacks the library holds, kept alive until close.
        self._message: Optional[MessageHandler] = None
        self._trace: Optional[TraceHandler] = None
        self._callbacks: dict = {}
        self._pending: Optional[BaseException] = None
        self._last_message = ""
        if not isinstance(device, (str, os.PathLike)):
            raise TypeError(f"device must be a path, not {type(device).__name__}")
        name = os.fspath(device)
        if not isinstance(name, str):
            raise TypeError("device must be a text path")
        if not name or "\0" in name:
            raise ValueError(f"not a device name: {name!r}")
        self.device = name
        self._c = _lib.library()
        why = ctypes.create_string_buffer(_WHY_SIZE)
        handle = self._c.mw_open(os.fsencode(name), why, _WHY_SIZE)
        if not handle:
            reason = why.value.decode("utf-8", "replace") or f"no reader answered on {name}"
            raise OpenError(name, reason)
        self._handle = handle
        _open_readers.add(self)
        # Messages always come through Python: a failure that leaves no
        # reader code (a format line refused, a program that did not load)
        # has its reason only there.
        self._last_message = ""
        relay = _lib.MESSAGE_HANDLER(_weak(self, Reader._on_message_from_library))
        self._c.mw_set_message_handler(handle, relay, None)
        self._callbacks["message"] = relay

    # ---- life --------------------------------------------------------------

    def close(self) -> None:
        """Says "Q/" to the reader and closes the port. Closing twice does
        nothing; every other call raises ReaderClosed afterwards."""
        with self._lock:
            handle, self._handle = self._handle, None
        if handle is None:
            return
        # The library calls no handler of this reader once mw_close returns
        # (it clears them itself), so the callbacks may go after it.
        self._c.mw_close(handle)
        self._callbacks.clear()
        self._message = self._trace = None
        _open_readers.discard(self)

    @property
    def closed(self) -> bool:
        """True once close() was called."""
        return self._handle is None

    def __enter__(self) -> "Reader":
        self._live()
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None) is not None:
            self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<markwire.Reader {getattr(self, 'device', '?')!r} {state}>"

    # ---- commands and blocks -----------------------------------------------

    def send(self, command: Union[str, bytes]) -> int:
        """Sends one command ending in "/" (as OmrS): 255 done, another
        positive number when the reader took it but has not answered yet.
        A refusal raises ReaderError with the reader's code."""
        data = _text("command", command)
        return self._checked(self._c.mw_send(self._live(), data))

    def receive(self) -> str:
        """One data block (as OmrG), as text: the reader's bytes decoded as
        latin-1, one character per byte. A pending status code raises."""
        buffer = ctypes.create_string_buffer(_lib.MW_BLOCK_SIZE)
        n = self._checked(self._c.mw_receive(self._live(), buffer, _lib.MW_BLOCK_SIZE))
        block = buffer.value.decode("latin-1")
        if n == _lib.DONE and len(block) == 2:  # a status code instead of data
            self._fail()
        return block

    def read_card(self, option: int = 0, limit: int = 2000) -> Optional[Card]:
        """Feeds and reads the next card (as ReadOneCard, at most ``limit``
        data bytes): its Card, or None when the hopper is empty (code "16").
        Any other failure raises ReaderError."""
        option = _int("option", option)
        limit = _int("limit", limit)
        buffer = ctypes.create_string_buffer(_lib.MW_BLOCK_SIZE)
        # The layout is the last format's: asked first, so that a card read
        # is handed back even when another thread closes the reader meanwhile.
        offset, length = self.barcode_layout()
        n = self._c.mw_read_card(self._live(), option, limit, buffer, _lib.MW_BLOCK_SIZE)
        self._raise_pending()
        if n > 0:
            text = buffer.value.decode("latin-1")
            # 255 and two digits: the reader answered the read command with a
            # status, not a card.
            if n == 255 and len(text) == 2 and text.isdigit():
                raise ReaderError(text, f"the reader answered the read with status {text}")
            return _card(text, offset, length)
        if n == 0 and self._code() == _NO_CARD:
            return None
        self._fail(n)
        raise AssertionError("unreachable")

    def pass_card(self, line: int, column: int) -> int:
        """Passes one card with the test point at ``line``, ``column`` (as
        PassOneCard): the library's result; a refusal raises."""
        line = _int("line", line)
        column = _int("column", column)
        buffer = ctypes.create_string_buffer(_lib.MW_BLOCK_SIZE)
        # A test point the reader refuses gives -1 with the reader's code.
        return self._checked(
            self._c.mw_pass_card(self._live(), line, column, buffer, _lib.MW_BLOCK_SIZE),
            coded_minus_one=True)

    # ---- formats and programs ----------------------------------------------

    def download_format(self, path: PathLike) -> None:
        """Downloads the card format in the file at ``path`` (any path,
        blanks and all). FileNotFoundError when there is no such file."""
        self._checked(self._c.mw_download_format(self._live(), _path("path", path)))

    def download_format_text(self, text: Union[str, bytes]) -> None:
        """Downloads a card format given as its text: commands ending in "/",
        e.g. "L 040/ T/ f 3 010 020 01 08/"."""
        self._checked(self._c.mw_download_format_text(self._live(), _text("text", text)))

    def download_program(self, path: PathLike,
                         progress: Optional[ProgressHandler] = None) -> None:
        """Downloads a reader program from the file at ``path``, byte by byte.

        ``progress(done, total)`` is called as the bytes go (at most once per
        1 %, and always at the end with done == total). An exception it
        raises does not stop the download; it is raised once the download
        returns.
        """
        encoded = _path("path", path)
        _callable("progress", progress)
        handle = self._live()
        if progress is None:
            self._checked(self._c.mw_download_program(handle, encoded))
            return

        def call(reader: Reader, done: int, total: int, _user: object) -> None:
            reader._guard(progress, done, total)

        callback = _lib.PROGRESS_HANDLER(_weak(self, call))
        self._callbacks["progress"] = callback
        self._c.mw_set_progress_handler(handle, callback, None)
        try:
            self._checked(self._c.mw_download_program(handle, encoded))
        finally:
            if self._handle is not None:
                self._c.mw_set_progress_handler(self._handle, _lib.PROGRESS_HANDLER(), None)
            self._callbacks.pop("progress", None)

    def sync(self) -> int:
        """The synchronisation line count of the last format (0 before any)."""
        return self._checked(self._c.mw_sync(self._live()), zero_ok=True)

    def barcode_layout(self) -> Tuple[int, int]:
        """Where the barcode sits in a card's text as the last format set it:
        (offset, length); offset 0 in front, 1 after the first data byte;
        length 0 when the format reads no barcode."""
        offset, length = ctypes.c_int(0), ctypes.c_int(0)
        self._checked(self._c.mw_barcode_layout(self._live(), ctypes.byref(offset),
                                                ctypes.byref(length)))
        return offset.value, length.value

    def barcode_mode(self, mode: int) -> None:
        """How barcodes are read: 0 the classic algorithm, 1 guarded, 2
        guarded with a second decoder (the default). ValueError for another
        mode."""
        mode = _int("mode", mode)
        if mode not in (0, 1, 2):
            raise ValueError(f"barcode mode must be 0, 1 or 2, not {mode}")
        self._checked(self._c.mw_barcode_mode(self._live(), mode))

    # ---- tests and read-outs -----------------------------------------------

    def set_test(self, line: int, column: int) -> int:
        """Sets the test point (as OmrSetTest): the library's result."""
        line = _int("line", line)
        column = _int("column", column)
        return self._checked(self._c.mw_set_test(self._live(), line, column))

    def values(self, selector: str) -> List[int]:
        """Half 'A' or 'B' of the value block the last "I 4/" read (as
        OmrGetValue); [] before any."""
        code = _selector(selector)
        n = self._count(self._c.mw_get_values, code)
        if n == 0:
            return []
        values = self._ints(self._c.mw_get_values, code, n)
        # The library copies the half to the start: A the first half of 96
        # or more values (all of fewer), B the second.
        half = n - n // 2 if selector == "B" else (n // 2 if n >= 96 else n)
        return values[:half]

    def block(self, selector: str) -> List[int]:
        """Side 'A' or 'B' of the last area test ("I 1", "I 2"), as
        OmrGetOriOrGray; [] when there is none."""
        code = _selector(selector)
        n = self._count(self._c.mw_get_block, code)
        return self._ints(self._c.mw_get_block, code, n) if n else []

    def curve(self, number: Optional[int] = None) -> List[int]:
        """A sensor's response curve: with ``number``, sends "I 6 number/"
        first; without, the values the last "I 6" read (as OmrGetCurve)."""
        if number is not None:
            self.send(f"I 6 {_int('number', number)}/")
        handle = self._live()
        n = self._c.mw_get_curve(handle, None, 0)
        if n < 0:
            self._fail(n)
        if n == 0:
            return []
        array = (ctypes.c_int * n)()
        self._c.mw_get_curve(handle, array, n)
        return list(array)

    # ---- calibration -------------------------------------------------------

    def adjust_gray(self, first: int, second: int) -> int:
        """As AdjustGrayInfo: the library's result; a refusal raises."""
        return self._checked(self._c.mw_adjust_gray(self._live(), _int("first", first),
                                                    _int("second", second)))

    def adjust_card(self, first: int, second: int) -> int:
        """As AdjustCardInfo: the library's result; a refusal raises."""
        return self._checked(self._c.mw_adjust_card(self._live(), _int("first", first),
                                                    _int("second", second)))

    def adjust_motor(self, value: int) -> int:
        """As AdjustMota: the library's result; a refusal raises."""
        return self._checked(self._c.mw_adjust_motor(self._live(), _int("value", value)))

    def adjust_fore(self, value: int) -> int:
        """As AdjustForeTime: the library's result; a refusal raises."""
        return self._checked(self._c.mw_adjust_fore(self._live(), _int("value", value)))

    def adjust_behind(self, value: int) -> int:
        """As AdjustBehindTime: the library's result; a refusal raises."""
        return self._checked(self._c.mw_adjust_behind(self._live(), _int("value", value)))

    # ---- error record and handlers -----------------------------------------

    def error(self) -> Tuple[str, str]:
        """The reader's last code and its text, e.g. ("16", "No sheet");
        ("00", ...) when the last call went well."""
        handle = self._live()
        return self._code(handle), self._error_text(handle)

    @property
    def on_message(self) -> Optional[MessageHandler]:
        """Called with each message (str) where reader software would show a
        message box; None (the default) for none. An exception it raises is
        reported through sys.unraisablehook and does not stop the call."""
        return self._message

    @on_message.setter
    def on_message(self, handler: Optional[MessageHandler]) -> None:
        _callable("on_message", handler)
        self._live()
        self._message = handler

    @property
    def on_trace(self) -> Optional[TraceHandler]:
        """Called with each trace line (str): every wire transfer while it
        is set, and the barcode decoder's lines; None for none. An exception
        it raises is reported through sys.unraisablehook."""
        return self._trace

    @on_trace.setter
    def on_trace(self, handler: Optional[TraceHandler]) -> None:
        _callable("on_trace", handler)
        self._set_handler("trace", handler, _lib.TRACE_HANDLER,
                          self._c.mw_set_trace_handler, "utf-8")
        self._trace = handler

    def set_message_handler(self, handler: Optional[MessageHandler]) -> None:
        """As ``reader.on_message = handler``."""
        self.on_message = handler

    def set_trace_handler(self, handler: Optional[TraceHandler]) -> None:
        """As ``reader.on_trace = handler``."""
        self.on_trace = handler

    # ---- inside --------------------------------------------------------------

    def _live(self) -> int:
        handle = self._handle
        if handle is None:
            raise ReaderClosed()
        self._last_message = ""
        return handle

    def _on_message_from_library(self, text: Optional[bytes], _user: object) -> None:
        message = (text or b"").decode("utf-8", "replace")
        self._last_message = message
        handler = self._message
        if handler is not None:
            handler(message)  # an exception goes to sys.unraisablehook (ctypes)

    def _set_handler(self, key: str, handler: Optional[Callable[[str], Any]], kind: Any,
                     setter: Any, encoding: str) -> None:
        handle = self._live()
        if handler is None:
            setter(handle, kind(), None)
            self._callbacks.pop(key, None)
            return

        def call(reader: Reader, text: Optional[bytes], _user: object) -> None:
            # An exception goes to sys.unraisablehook (ctypes): raising it
            # from the call that traced would lose that call's card.
            handler((text or b"").decode(encoding, "replace"))

        callback = kind(_weak(self, call))
        setter(handle, callback, None)
        # Kept until it is replaced or the reader closes: the library holds it.
        self._callbacks[key] = callback

    def _guard(self, handler: Callable[..., Any], *args: Any) -> None:
        # An exception cannot cross the C library: the first one is kept and
        # raised when the running call returns (used for progress only).
        try:
            handler(*args)
        except BaseException as error:  # noqa: BLE001 - re-raised after the call
            if self._pending is None:
                self._pending = error

    def _raise_pending(self) -> None:
        error, self._pending = self._pending, None
        if error is not None:
            raise error

    def _code(self, handle: Optional[int] = None) -> str:
        code = ctypes.create_string_buffer(3)
        if self._c.mw_error(self._handle if handle is None else handle, code) < 0:
            return ""
        return code.value.decode("latin-1")

    def _error_text(self, handle: int) -> str:
        text = ctypes.create_string_buffer(_TEXT_SIZE)
        self._c.mw_error_text(handle, text, _TEXT_SIZE)
        return text.value.decode("utf-8", "replace")

    def _fail(self, result: int = 0, coded_minus_one: bool = False) -> None:
        handle = self._handle
        if handle is None:
            raise ReaderClosed()
        if result == _lib.MW_SMALL_BUFFER:
            raise ReaderError("", "buffer too small")
        code = self._code(handle)
        message, self._last_message = self._last_message, ""
        refused = code not in ("", "00")
        # -1: the session is not on line (the device was lost), except where
        # a call gives -1 for a refusal that leaves its code.
        if result == _lib.MW_UNKNOWN_READER and not (coded_minus_one and refused):
            raise ReaderError("", f"the reader on {self.device} is not on line "
                                  "(its device was lost)")
        if not refused:  # failed without a reader code: the library said why, if anywhere
            raise ReaderError(code, message or "failed without a reader code")
        raise ReaderError(code, self._error_text(handle))

    def _checked(self, result: int, zero_ok: bool = False,
                 coded_minus_one: bool = False) -> int:
        self._raise_pending()
        if result < 0 or (result == 0 and not zero_ok):
            self._fail(result, coded_minus_one)
        return result

    def _count(self, get: Any, selector: int) -> int:
        n = get(self._live(), selector, None, 0)
        if n < 0:
            self._fail(n)
        return int(n)

    def _ints(self, get: Any, selector: int, n: int) -> List[int]:
        array = (ctypes.c_int * n)()
        get(self._live(), selector, array, n)
        return list(array)


def _card(text: str, offset: int, length: int) -> Card:
    """The card's text split into data and barcode: ``length`` characters
    from ``offset`` (0 in front, 1 after the first data byte)."""
    if length <= 0:
        return Card(text, text, "")
    return Card(text, text[:offset] + text[offset + length:], text[offset:offset + length])

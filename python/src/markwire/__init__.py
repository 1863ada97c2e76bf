"""Markwire: optical mark readers on a serial line, from Python.

A thin binding of libmarkwire's reader handles (``mw_*`` in markwire.h),
standard library only. The library is found through the MARKWIRE_LIBRARY
environment variable (a path to libmarkwire.so), else the system's loader.

    import markwire

    with markwire.Reader("/dev/ttyUSB0") as reader:
        reader.download_format("card.fmt")
        while (card := reader.read_card()) is not None:
            print(card.barcode, card.data)
"""

from ._library import MW_BLOCK_SIZE, LibraryNotFound
from ._reader import Card, OpenError, Reader, ReaderClosed, ReaderError, version

__all__ = [
    "Card",
    "LibraryNotFound",
    "MW_BLOCK_SIZE",
    "OpenError",
    "Reader",
    "ReaderClosed",
    "ReaderError",
    "version",
]
__version__ = "1.2.0"

#!/usr/bin/env python3
"""Reads every card in the hopper and prints its barcode and marks.

    read_cards.py [DEVICE] [--format FILE]

DEVICE defaults to $MARKWIRE_DEVICE; FILE is a card format to download
first (examples/card.fmt, say). Needs the markwire package (pip install ./python).
"""

import argparse
import os
import sys

import markwire


def main() -> int:
    parser = argparse.ArgumentParser(description="Read cards and print barcode and marks.")
    parser.add_argument("device", nargs="?", default=os.environ.get("MARKWIRE_DEVICE"))
    parser.add_argument("--format", help="card format file to download first")
    args = parser.parse_args()
    if not args.device:
        parser.error("give a device or set MARKWIRE_DEVICE")

    try:
        with markwire.Reader(args.device) as reader:
            if args.format:
                reader.download_format(args.format)
            count = 0
            while (card := reader.read_card()) is not None:
                count += 1
                print(f"{card.barcode or '-'}\t{card.data}")
    except markwire.ReaderError as error:
        print(f"read_cards: {error}", file=sys.stderr)
        return 1
    print(f"{count} cards", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

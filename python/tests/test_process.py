"""The package as whole programs use it: finding the library, exiting with
handlers still set, and the example program."""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest
from pathlib import Path

import _ctypes

from simulator import Simulator

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "read_cards.py"


def run_python(code: str, library: str | None = None, timeout: float = 30,
               args: tuple = ()) -> subprocess.CompletedProcess:
    env = dict(os.environ)
    if library is not None:
        env["MARKWIRE_LIBRARY"] = library
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], env=env,
                          capture_output=True, text=True, timeout=timeout)


PRINT_LOAD = """
    import markwire
    try:
        print("version", markwire.version())
    except markwire.LibraryNotFound as error:
        print("LibraryNotFound", isinstance(error, OSError), error.path)
        print(error)
"""


class FindingTheLibrary(unittest.TestCase):
    def test_the_library_named_by_the_environment_is_loaded(self):
        if not os.environ.get("MARKWIRE_LIBRARY"):
            self.skipTest("MARKWIRE_LIBRARY is not set")
        done = run_python(PRINT_LOAD)
        self.assertEqual(done.stdout, "version 1.2.0\n", done.stderr)

    def test_a_missing_or_wrong_library_is_named_in_the_exception(self):
        with tempfile.TemporaryDirectory() as directory:
            missing = os.path.join(directory, "libmarkwire.so")
            text = os.path.join(directory, "not a library.so")
            Path(text).write_text("not an ELF file\n")
            # A real shared object that is not Markwire's.
            other = _ctypes.__file__
            for path in (missing, text, other):
                with self.subTest(path=path):
                    done = run_python(PRINT_LOAD, library=path)
                    lines = done.stdout.splitlines()
                    self.assertEqual(lines[:1], [f"LibraryNotFound True {path}"], done.stderr)
                    self.assertIn(path, lines[1])
            done = run_python(PRINT_LOAD, library=other)
            self.assertIn("no mw_", done.stdout)


class ExitingWithHandlersSet(unittest.TestCase):
    def test_the_interpreter_exits_cleanly_with_handlers_set_and_readers_open(self):
        # Readers never closed: one held by a module global, one in a cycle
        # with its own handler, both tracing when the interpreter exits.
        code = """
            import sys, markwire
            lines = []
            held = markwire.Reader(sys.argv[1])
            held.on_trace = lines.append
            held.on_message = lines.append
            held.download_format_text("L 040/")
            card = held.read_card()
            class Keeper:
                pass
            keeper = Keeper()
            keeper.lines = []
            keeper.reader = held
            keeper.trace = lambda line: keeper.lines.append((keeper, line))
            held.on_trace = keeper.trace
            held.sync()
            print("card", card.text, len(lines) > 0)
        """
        with Simulator(cards=[("EXITCARD", "")]) as sim:
            done = run_python(code, args=(sim.device,))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "card EXITCARD True\n")
        self.assertEqual(done.stderr, "")


    def test_a_reader_busy_on_another_thread_at_exit_is_closed_first(self):
        # A daemon thread is reading cards, tracing each transfer, when the
        # main thread ends: the reader must be closed while the interpreter
        # can still take the handler's calls.
        code = """
            import sys, threading, time, markwire
            reader = markwire.Reader(sys.argv[1])
            lines = []
            reader.on_trace = lines.append
            def read():
                try:
                    while reader.read_card() is not None:
                        pass
                except markwire.ReaderClosed:
                    pass
            threading.Thread(target=read, daemon=True).start()
            time.sleep(0.3)
            print("reading", len(lines) > 0)
        """
        with Simulator() as sim:
            for _ in range(2):
                done = run_python(code, args=(sim.device,))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual((done.stdout, done.stderr), ("reading True\n", ""))


class ExampleProgram(unittest.TestCase):
    def test_read_cards_prints_barcode_and_marks_of_every_card(self):
        cards = [("A1234567", "MW2026XY"), ("B7654321", "MW2027ZZ")]
        with Simulator(cards=cards) as sim:
            card_format = sim.directory / "card.fmt"
            card_format.write_text("L 044/ f 3 010 020 01 08/\n")
            env = dict(os.environ, MARKWIRE_DEVICE=sim.device)
            done = subprocess.run([sys.executable, str(EXAMPLE), "--format", str(card_format)],
                                  env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "MW2026XY\tA1234567\nMW2027ZZ\tB7654321\n")
        self.assertEqual(done.stderr, "2 cards\n")


if __name__ == "__main__":
    unittest.main()

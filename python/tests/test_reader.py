"""The Reader against the simulated reader: cards, read-outs, downloads,
refusals, argument checks and the reader's life."""

from __future__ import annotations

import gc
import os
import unittest
from pathlib import Path

import markwire

from simulator import Simulator

CARDS = [("1ANSWERS", "20261206"), ("2ANSWERS", "31415926"), ("3ANSWERS", "27182818"),
         ("4ANSWERS", "16180339")]


class ReaderCase(unittest.TestCase):
    """One simulator and one reader for the whole class (a hand-shake takes
    2.5 s)."""

    cards = None
    sim: Simulator
    reader: markwire.Reader

    @classmethod
    def setUpClass(cls) -> None:
        cls.sim = Simulator(cls.cards)
        try:
            cls.reader = markwire.Reader(cls.sim.device)
        except BaseException:
            cls.sim.stop()
            raise

    @classmethod
    def tearDownClass(cls) -> None:
        cls.reader.close()
        cls.sim_errors = cls.sim.stop()


class CardReading(ReaderCase):
    cards = CARDS

    def test_cards_come_exact_in_order_with_the_barcode_split_where_the_format_put_it(self):
        r = self.reader
        self.assertEqual(r.barcode_layout(), (0, 0))
        r.download_format_text("L 040/")
        self.assertEqual(r.read_card(), markwire.Card("1ANSWERS", "1ANSWERS", ""))

        # The same card read command by command.
        self.assertEqual(r.send("R/"), 255)
        r.send("r A 0000 2000/")
        self.assertEqual(r.receive(), "2ANSWERS")
        r.send("-/")

        # Code 39 of 8 characters after the first data byte, then in front.
        r.download_format_text("L 040/ T/ f 3 010 020 01 08/")
        self.assertEqual(r.barcode_layout(), (1, 8))
        self.assertEqual(r.read_card(),
                         markwire.Card("327182818ANSWERS", "3ANSWERS", "27182818"))
        r.download_format_text("L 040/ f 3 010 020 01 08/")
        self.assertEqual(r.barcode_layout(), (0, 8))
        self.assertEqual(r.read_card(),
                         markwire.Card("161803394ANSWERS", "4ANSWERS", "16180339"))

        # The hopper is empty: no card, and it stays so.
        self.assertIsNone(r.read_card())
        self.assertIsNone(r.read_card(0, 100))
        self.assertEqual(r.error(), ("16", "No sheet"))
        with self.assertRaises(markwire.ReaderError) as refused:
            r.send("R/")
        self.assertEqual((refused.exception.code, refused.exception.text), ("16", "No sheet"))


class ReadOutsAndSettings(ReaderCase):
    def test_value_block_halves_are_the_block_cut_in_the_middle(self):
        r = self.reader
        self.assertEqual(r.send("I 4/"), 255)
        a, b = r.values("A"), r.values("B")
        self.assertEqual((len(a), len(b)), (48, 48))
        self.assertTrue(all(isinstance(v, int) and 0 <= v <= 255 for v in a + b))
        self.assertEqual(r.block("A"), a + b)
        self.assertNotEqual(a, [0] * 48)

    def test_area_blocks_and_curves(self):
        r = self.reader
        r.send("I 2 001 01 002 03/")  # two sides of 2 x 3 points
        a, b = r.block("A"), r.block("B")
        self.assertEqual((len(a), len(b)), (6, 6))
        r.send("I 1 001 01 003 03/")
        self.assertEqual(len(r.block("A")), 9)

        curve = r.curve(1)
        self.assertGreater(len(curve), 0)
        self.assertTrue(all(0 <= v <= 255 for v in curve))
        self.assertEqual(r.curve(), curve)  # the last curve, without a command

    def test_format_files_by_any_path_and_the_settings_calls(self):
        r = self.reader
        directory = Path(self.sim.directory) / "card formats W"
        directory.mkdir()
        path = directory / "exam card W.fmt"
        path.write_text("; a comment\r\nL 044/\r\nT/ f 3 010 020 01 08/\r\n")
        r.download_format(path)
        self.assertEqual((r.sync(), r.barcode_layout()), (44, (1, 8)))
        path.write_text("L 042/\r\n")
        r.download_format(str(path))
        self.assertEqual(r.sync(), 42)
        with self.assertRaises(FileNotFoundError):
            r.download_format(directory / "missing.fmt")

        self.assertEqual(r.set_test(1, 1), 255)
        for adjust in (lambda: r.adjust_gray(10, 20), lambda: r.adjust_card(1, 2),
                       lambda: r.adjust_motor(3), lambda: r.adjust_fore(4),
                       lambda: r.adjust_behind(5)):
            self.assertEqual(adjust(), 255)
        for mode in (0, 1, 2):
            r.barcode_mode(mode)
        self.assertGreater(r.pass_card(1, 1), 0)


class ProgramDownload(ReaderCase):
    def test_progress_rises_to_the_total_and_the_reader_keeps_the_program(self):
        directory = Path(self.sim.directory) / "reader programs W"
        directory.mkdir()
        path = directory / "program W 2.bin"
        path.write_bytes(os.urandom(2000))
        seen = []
        self.reader.download_program(path, lambda done, total: seen.append((done, total)))
        self.assertGreater(len(seen), 10)
        self.assertLessEqual(len(seen), 101)
        self.assertEqual(seen[-1], (2000, 2000))
        self.assertEqual({total for _, total in seen}, {2000})
        self.assertEqual([done for done, _ in seen], sorted(done for done, _ in seen))

        # A progress callable that raises: the download runs to its end, then
        # the exception comes out of the call.
        def broken(done: int, total: int) -> None:
            raise KeyError(done)

        with self.assertRaises(KeyError):
            self.reader.download_program(str(path), broken)
        self.reader.download_program(path)  # and none is left set
        self.assertEqual(self.reader.sync(), 0)

    @classmethod
    def tearDownClass(cls) -> None:
        super().tearDownClass()
        # The simulated reader tells what it kept when it stops.
        assert "program: 2000 bytes" in cls.sim_errors, cls.sim_errors


class RefusalsAndArguments(ReaderCase):
    def test_wrong_arguments_raise_before_anything_is_sent(self):
        r = self.reader
        wire = []
        r.on_trace = wire.append
        bad_types = [
            lambda: r.send(5), lambda: r.send(None), lambda: r.read_card("0"),
            lambda: r.read_card(True), lambda: r.read_card(0, 2.5), lambda: r.values(65),
            lambda: r.block(None), lambda: r.curve("1"), lambda: r.download_format(3),
            lambda: r.download_format(b"card.fmt"), lambda: r.download_format_text(["L 040/"]),
            lambda: r.download_program(Path(__file__), progress=5), lambda: r.adjust_motor("1"),
            lambda: r.adjust_gray(1, None), lambda: r.set_test(1.0, 1), lambda: r.pass_card(1, "1"),
            lambda: r.barcode_mode("2"), lambda: setattr(r, "on_message", "print"),
        ]
        for call in bad_types:
            with self.subTest(call=call), self.assertRaises(TypeError):
                call()
        bad_values = [
            lambda: r.values("C"), lambda: r.block("AB"), lambda: r.send("R/\0"),
            lambda: r.send("R\u0100/"), lambda: r.set_test(1, 2**40), lambda: r.barcode_mode(3),
            lambda: r.read_card(-2**31 - 1),
        ]
        for call in bad_values:
            with self.subTest(call=call), self.assertRaises(ValueError):
                call()
        self.assertEqual(wire, [])
        r.sync()
        self.assertEqual(wire, [])  # sync asks the library, not the reader
        r.send("MO 1/")
        self.assertTrue(any('"MO 1/"' in line for line in wire), wire)
        r.on_trace = None

    def test_refusals_carry_the_code_and_the_reason(self):
        r = self.reader
        with self.assertRaises(markwire.ReaderError) as unended:
            r.send("R")  # no "/": refused by the library, nothing sent
        self.assertEqual(unended.exception.code, "06")
        self.assertEqual(r.error()[0], "06")

        # A format command the library cannot send fails without a reader
        # code; the reason is the library's message.
        messages = []
        r.on_message = messages.append
        with self.assertRaises(markwire.ReaderError) as format_error:
            r.download_format_text("L 040/ " + "X" * 120 + "/")
        self.assertEqual(len(messages), 1)
        self.assertIn("XXXX", messages[0])
        self.assertEqual(format_error.exception.text, messages[0])
        r.on_message = None


class StatusForACard(ReaderCase):
    cards = CARDS[:2]

    @classmethod
    def setUpClass(cls) -> None:
        # The reader answers the first read command with status 12.
        cls.sim = Simulator(cls.cards, args=["--fault", "status:r=12*1"])
        try:
            cls.reader = markwire.Reader(cls.sim.device)
        except BaseException:
            cls.sim.stop()
            raise

    def test_a_status_in_place_of_the_card_raises_and_the_next_card_reads(self):
        self.reader.download_format_text("L 040/")
        with self.assertRaises(markwire.ReaderError) as status:
            self.reader.read_card()
        self.assertEqual(status.exception.code, "12")
        card = self.reader.read_card()
        self.assertIsNotNone(card)
        self.assertTrue(card.data.startswith("2ANSWERS"), card)


class Life(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.sim = Simulator()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.sim.stop()

    def test_a_missing_device_gives_the_reason(self):
        with self.assertRaises(markwire.OpenError) as missing:
            markwire.Reader(os.path.join(self.sim.directory, "no such device"))
        self.assertIsInstance(missing.exception, markwire.ReaderError)
        self.assertEqual(missing.exception.code, "")
        self.assertIn("No such file", missing.exception.text)
        self.assertTrue(missing.exception.device.endswith("no such device"))
        with self.assertRaises(TypeError):
            markwire.Reader(3)

    def test_a_reader_closes_once_on_leaving_its_block_and_refuses_calls_after(self):
        lines = []
        with markwire.Reader(Path(self.sim.device)) as reader:
            reader.on_trace = lines.append
            # The device is taken while the reader is open.
            with self.assertRaises(markwire.OpenError) as second:
                markwire.Reader(self.sim.device)
            self.assertIn("already open", second.exception.text)
        self.assertTrue(reader.closed)
        self.assertTrue(any('"Q/"' in line for line in lines[-4:]), lines[-4:])  # said "Q/"
        reader.close()  # again: nothing
        for call in (lambda: reader.send("R/"), reader.sync, reader.error,
                     lambda: setattr(reader, "on_trace", print), reader.__enter__):
            with self.subTest(call=call), self.assertRaises(markwire.ReaderClosed):
                call()
        self.assertIsNone(reader.on_trace)

        # An exception in the block closes it as well, and a reader that is
        # dropped closes at once: each time the device can be opened again.
        with self.assertRaises(ZeroDivisionError):
            with markwire.Reader(self.sim.device) as reader:
                reader.on_message = print
                1 / 0
        dropped = markwire.Reader(self.sim.device)
        dropped.on_trace = lines.append
        del dropped
        again = markwire.Reader(self.sim.device)
        # A new reader has read out nothing yet.
        self.assertEqual((again.values("A"), again.block("B"), again.curve()), ([], [], []))
        again.close()
        gc.collect()


if __name__ == "__main__":
    unittest.main()

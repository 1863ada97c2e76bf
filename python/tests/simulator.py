"""The simulated reader (`markwire sim`) on a pseudo-terminal, for the tests.

MARKWIRE_SIM names the markwire program; MARKWIRE_LIBRARY the library the
package loads (both set by the CTest test).
"""

from __future__ import annotations

import os
import signal
import subprocess
import tempfile
import unittest
from pathlib import Path
from typing import Optional, Sequence, Tuple

SIM = os.environ.get("MARKWIRE_SIM", "")


def require_simulator() -> None:
    if not SIM or not os.access(SIM, os.X_OK):
        raise unittest.SkipTest("MARKWIRE_SIM does not name the markwire program")


class Simulator:
    """`markwire sim --link DIR/omr`, with the cards given as (data, barcode)."""

    def __init__(self, cards: Optional[Sequence[Tuple[str, str]]] = None,
                 args: Sequence[str] = ()) -> None:
        require_simulator()
        self._dir = tempfile.TemporaryDirectory(prefix="markwire sim ")
        self.directory = Path(self._dir.name)
        self.device = str(self.directory / "omr")
        command = [SIM, "sim", "--link", self.device, *args]
        if cards is not None:
            cards_file = self.directory / "cards.txt"
            cards_file.write_text("".join(f"{data}\t{barcode}\n" for data, barcode in cards))
            command += ["--cards-file", str(cards_file)]
        self._stderr = open(self.directory / "sim.err", "w+")
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self._stderr,
                                        text=True)
        assert self.process.stdout is not None
        self.pty = self.process.stdout.readline().strip()  # its first line: the device
        if not self.pty.startswith("/dev/") or not os.path.exists(self.device):
            self.stop()
            raise RuntimeError(f"the simulator did not start: {self.errors}")
        self.errors = ""

    def stop(self) -> str:
        """Stops the simulator as Ctrl-C does; what it wrote on standard error."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process.stdout:
            self.process.stdout.close()
        self._stderr.seek(0)
        self.errors = self._stderr.read()
        self._stderr.close()
        self._dir.cleanup()
        return self.errors

    def __enter__(self) -> "Simulator":
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()

"""A one-line progress bar on stderr for the command-line tool."""

from __future__ import annotations

import time

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import TextIO

__all__ = ["Progress"]

_WIDTH = 24


def _size(count: float) -> str:
    for unit in ("B", "KiB", "MiB", "GiB"):
        if count < 1024 or unit == "GiB":
            return f"{count:.0f} {unit}" if unit == "B" else f"{count:.1f} {unit}"
        count /= 1024
    raise AssertionError("unreachable")


class Progress:
    """Bytes done of `total` and words per second, redrawn at most every `interval` seconds."""

    def __init__(self, stream: TextIO, total: int, interval: float = 0.2) -> None:
        self._stream = stream
        self._total = max(total, 1)
        self._interval = interval
        self._start = time.monotonic()
        self._drawn = 0.0
        self._done = 0
        self._words = 0

    def advance(self, done_bytes: int, words: int) -> None:
        self._done += done_bytes
        self._words += words
        now = time.monotonic()
        if now - self._drawn >= self._interval:
            self._drawn = now
            self._draw(now)

    def _draw(self, now: float) -> None:
        share = min(self._done / self._total, 1.0)
        filled = round(share * _WIDTH)
        rate = self._words / max(now - self._start, 1e-9)
        bar = "#" * filled + "-" * (_WIDTH - filled)
        self._stream.write(
            f"\r[{bar}] {share:4.0%} {_size(self._done)} of {_size(self._total)}, {rate:,.0f} words/s\x1b[K"
        )
        self._stream.flush()

    def close(self) -> None:
        """Draws the final state and clears the line, leaving the terminal as it was."""
        self._draw(time.monotonic())
        self._stream.write("\r\x1b[K")
        self._stream.flush()

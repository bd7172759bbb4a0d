"""What the command does to each chunk of its input: the settings sent to every worker, and a chunk's result."""

from __future__ import annotations

from typing import NamedTuple

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..analyzer import Analyzer

__all__ = ["CommandError", "Done", "Job"]


class CommandError(Exception):
    """A failure the user is told about in one line, with exit status 2 (a file, a worker, a stream)."""


class Job(NamedTuple):
    """What every chunk is done with; small and picklable, sent once to each worker."""

    language: str
    cache_size: int
    pairs: bool
    analyzer: Analyzer | None  # None: a word list, as stemwords reads it
    encoding: str = "utf-8"  # the input's; what is not UTF-8 is made UTF-8 first
    tokens: bool = False  # text: each line's tokens as JSON, not its stems


class Done(NamedTuple):
    """A chunk's output, and what the command reports and counts of it.

    `parts` are written one after the other; a ``str`` part is written as
    UTF-8 a slice at a time, so that one huge stem is never encoded whole.
    """

    parts: tuple[bytes | bytearray | str, ...]
    words: int
    lines: int  # the lines that end in the chunk
    size: int  # the input bytes the chunk stands for, newlines included
    bad_lines: tuple[int, ...] = ()  # indexes, within the chunk, of text lines that are not UTF-8
    # For a text line cut at a blank into several chunks: whether the chunk's
    # first and last lines gave stems, so that one space goes between them.
    continues: bool = False
    ends: bool = True
    first_has_stems: bool = False
    last_has_stems: bool = False

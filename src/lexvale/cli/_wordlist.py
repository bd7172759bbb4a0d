"""Word lists stemmed as libstemmer's ``stemwords`` stems them, byte for byte.

Each line is one word, taken whole (spaces, tabs and a carriage return
included); only the ASCII letters A-Z are lower-cased; a last line without a
newline still gets one; a stem is written up to its first NUL byte, as C
strings are; bytes that are not UTF-8 are stemmed as libstemmer stems them.
"""

from __future__ import annotations

import threading

import Davuzod

from .. import _native
from ..languages import resolve
from ..stemmers import stemmer
from ._work import CommandError, Done

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence
    from typing import Any

    from ._chunks import Chunk
    from ._work import Job

__all__ = ["stem_long_line", "stem_word_list"]

# A long line is lower-cased in place a slice of this size at a time.
_LOWER_SLICE = 1 << 20


class _PerThread(threading.local):
    def __init__(self) -> None:
        # A native line stemmer holds libstemmer's handle, which serves one caller at a time.
        self.line_stemmers: dict[str, Any] = {}


_local = _PerThread()


def _line_stemmer(language: str) -> Any:
    """This thread's native line stemmer for `language`, or None where the native module is not used."""
    line_stemmers = _local.line_stemmers
    try:
        return line_stemmers[language]
    except KeyError:
        found = line_stemmers[language] = _native.line_stemmer(resolve(language))
        return found


def stem_word_list(job: Job, chunk: Chunk) -> Done:
    """The stems of a chunk of short lines."""
    line_stemmer = _line_stemmer(job.language)
    if line_stemmer is not None:
        # One native pass: split, lower-case, stem and write, with no object per line.
        data = chunk.data if type(chunk.data) is bytes else bytes(chunk.data)
        line_count = data.count(b"\n") + 1
        return Done((line_stemmer.stem_lines(data, job.pairs),), line_count, line_count, len(data) + 1)
    lowered = chunk.data.lower()  # bytes.lower: ASCII letters only, as stemwords does
    stem_words = stemmer(job.language, job.cache_size).stemWords
    lines_ended = lowered.count(b"\n") + 1
    size = len(lowered) + 1
    try:
        text = lowered.decode("utf-8")
    except UnicodeDecodeError:
        return Done((_stem_byte_lines(job, lowered.split(b"\n")),), lines_ended, lines_ended, size)
    # Text words take Davuzod's faster path; the output is the same bytes.
    lines = text.split("\n")
    stems = stem_words(lines)
    if "\0" in text:
        stems = [stem.partition("\0")[0] for stem in stems]
    if job.pairs:
        output = "".join([f"{word} -> {stem}\n" for word, stem in zip(lines, stems)])
    else:
        stems.append("")
        output = "\n".join(stems)
    return Done((output.encode("utf-8"),), len(lines), lines_ended, size)


def _stem_byte_lines(job: Job, lines: Sequence[bytes | bytearray]) -> bytes:
    stem_word = stemmer(job.language, job.cache_size).stemWord
    stems = [_stem_bytes(stem_word, line).partition(b"\0")[0] for line in lines]
    if job.pairs:
        return b"".join([word + b" -> " + stem + b"\n" for word, stem in zip(lines, stems)])
    return b"\n".join(stems) + b"\n"


def _stem_bytes(stem_word: Callable[[bytes | bytearray], bytes], word: bytes | bytearray) -> bytes:
    try:
        return stem_word(word)
    except UnicodeDecodeError as error:
        # libstemmer stems bytes that are not UTF-8 too (stemwords writes what
        # it gives); Davuzod then fails to decode the stem, and the error holds
        # the stem's bytes, which are what stemwords writes.
        return bytes(error.object)


def stem_long_line(job: Job, holder: list[Chunk]) -> Done:
    """The stem of one line longer than a chunk, taken out of `holder`.

    libstemmer needs the whole line, and keeps a copy of it while it stems;
    the stem is a third. The line comes in a list that is emptied here, so
    that this function holds the only reference to it and can let it go as
    soon as its text is made.
    """
    chunk = holder.pop()
    line = chunk.data
    del chunk
    assert isinstance(line, bytearray)
    size = len(line) + 1
    for start in range(0, len(line), _LOWER_SLICE):
        line[start : start + _LOWER_SLICE] = line[start : start + _LOWER_SLICE].lower()
    # A fresh object, dropped at once, so that libstemmer's copy of the line
    # is freed before the stem is written rather than kept for the next word.
    one_off = Davuzod.Davuzod(job.language, 0)
    parts: tuple[bytes | bytearray | str, ...]
    try:
        if line.isascii():
            # An ASCII str is stemmed where it lies: the bytearray can go first.
            text = line.decode("ascii")
            del line
            stem = one_off.stemWord(text).partition("\0")[0]
            parts = (text, " -> ", stem, "\n") if job.pairs else (stem, "\n")
        else:
            stem_bytes = _stem_bytes(one_off.stemWord, line).partition(b"\0")[0]
            parts = (line, b" -> ", stem_bytes, b"\n") if job.pairs else (stem_bytes, b"\n")
    except OverflowError as error:  # beyond the size libstemmer takes
        raise CommandError(str(error)) from None
    return Done(parts, 1, 1, size)

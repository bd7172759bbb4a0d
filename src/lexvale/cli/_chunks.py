"""The command's input in chunks of whole lines, read as the stemming goes."""

from __future__ import annotations

from typing import NamedTuple

from ._work import CommandError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterator
    from typing import BinaryIO

__all__ = ["CHUNK_BYTES", "WORKER_CHUNK_BYTES", "Chunk", "read_chunks", "transcoded"]

# Chunks of this size keep the stems of one chunk in memory the previous chunk
# freed; much larger ones spend more time taking fresh memory than stemming.
CHUNK_BYTES = 1 << 16
# Chunks sent to worker processes: each is pickled and sent, and its result
# sent back, so fewer and larger ones keep the command's own share small.
WORKER_CHUNK_BYTES = 1 << 20

_BLANKS = (b" ", b"\t")


class Chunk(NamedTuple):
    """Lines of the input without their final newline.

    A line longer than a chunk comes alone (`long_line`), in the bytearray it
    was gathered in, so that it is stemmed without further copies of it. In
    text mode such a line is cut instead, before a blank (unless n-grams,
    which a cut would part, are made): no word spans a blank, and a blank
    changes no neighbour's normal form or case, so the pieces give the
    line's stems. `continues` marks a chunk whose first line
    carries on the previous chunk's last, and `ends` is false where the last
    line goes on in the next chunk.
    """

    data: bytes | bytearray
    continues: bool = False
    ends: bool = True
    long_line: bool = False


def _read_block(source: BinaryIO, name: str, size: int) -> bytes:
    try:
        # read1 returns what one read gives, without waiting for a whole block from a pipe.
        read1 = getattr(source, "read1", None)
        return read1(size) if read1 is not None else source.read(size)
    except OSError as error:
        raise CommandError(f"cannot read {name}: {error.strerror}") from None


def read_chunks(source: BinaryIO, name: str, *, cut_at_blanks: bool = False,
                chunk_bytes: int | None = None) -> Iterator[Chunk]:
    """Whole lines, about `chunk_bytes` (default CHUNK_BYTES) at a time; `cut_at_blanks` for text (see Chunk)."""
    size = CHUNK_BYTES if chunk_bytes is None else chunk_bytes
    # The start of a line that earlier blocks did not end. A bytearray grows in
    # place, so a line of many blocks is copied once, not once per block.
    pending = bytearray()
    continues = False
    searched = 0  # pending[:searched] holds no blank to cut at
    while block := _read_block(source, name, size):
        view = memoryview(block)
        cut = block.rfind(b"\n")
        if cut < 0:
            pending += view
            if cut_at_blanks and len(pending) >= size:
                blank = max(pending.rfind(blank, searched) for blank in _BLANKS)
                if blank > 0:
                    yield Chunk(bytes(pending[:blank]), continues, ends=False)
                    del pending[:blank]  # the blank starts the rest, which holds no other
                    continues = True
                    searched = 1
                else:
                    searched = len(pending)
            continue
        first = block.find(b"\n")
        if len(pending) + first > size:
            pending += view[:first]
            line, pending = [pending], bytearray()
            # Popped where it is yielded, so that this generator keeps no reference to the line.
            yield Chunk(line.pop(), continues, long_line=not cut_at_blanks)
            continues = False
            if first < cut:
                yield Chunk(block[first + 1 : cut])
        elif pending:
            pending += view[:cut]
            yield Chunk(bytes(pending), continues)
            pending, continues = bytearray(), False
        else:
            yield Chunk(block[:cut])
        pending += view[cut + 1 :]
        searched = 0
    if pending:
        long_line = len(pending) > size and not cut_at_blanks
        line, pending = [pending], bytearray()
        yield Chunk(line.pop(), continues, long_line=long_line)


def transcoded(chunk: Chunk, encoding: str) -> tuple[Chunk, tuple[int, ...]]:
    """`chunk` made UTF-8 from `encoding`, and the indexes of its lines that were not valid in it (read with U+FFFD).

    The encodings taken (see ``_options``) write newlines and blanks as ASCII
    does and never use their bytes inside another character, so the chunk's
    lines and cuts stay where they were.
    """
    if encoding == "utf-8":
        return chunk, ()
    data = chunk.data  # a long line's bytearray is decoded where it lies, not copied first
    bad: list[int] = []
    try:
        text = data.decode(encoding)
    except UnicodeDecodeError:
        lines = []
        for index, raw in enumerate(bytes(data).split(b"\n")):  # a copy only where bytes are not valid
            try:
                lines.append(raw.decode(encoding))
            except UnicodeDecodeError:
                lines.append(raw.decode(encoding, "replace"))
                bad.append(index)
        text = "\n".join(lines)
    utf8 = text.encode("utf-8")
    del text
    # A long line stays a bytearray, which its stemming lower-cases in place.
    return chunk._replace(data=bytearray(utf8) if isinstance(data, bytearray) else utf8), tuple(bad)

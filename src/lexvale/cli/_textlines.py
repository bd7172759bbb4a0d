"""Running text stemmed a line at a time: each line becomes the stems of its words, separated by spaces."""

from __future__ import annotations

from ._work import Done

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..analyzer import Analyzer
    from ._chunks import Chunk
    from ._work import Job

__all__ = ["stem_text"]


def stem_text(job: Job, chunk: Chunk) -> Done:
    """The stems of a chunk's lines, one output line per line that ends in the chunk."""
    assert job.analyzer is not None
    analyzer = job.analyzer
    bad: list[int] = []
    try:
        lines = chunk.data.decode("utf-8").split("\n")
    except UnicodeDecodeError:
        lines = []
        for index, raw in enumerate(bytes(chunk.data).split(b"\n")):
            try:
                lines.append(raw.decode("utf-8"))
            except UnicodeDecodeError:
                lines.append(raw.decode("utf-8", "replace"))  # U+FFFD is no letter: words part there
                bad.append(index)
    if job.tokens:
        out, words = _token_lines(analyzer, lines)
    else:
        stems_of_lines = analyzer._stems_of_lines(lines)
        words = sum(map(len, stems_of_lines))
        # An n-gram holds spaces: with n-grams of more than one word, a line's tokens are parted by tabs.
        out = list(map(("\t" if analyzer.ngram_range != (1, 1) else " ").join, stems_of_lines))
    if chunk.ends:
        out.append("")
    return Done(
        ("\n".join(out).encode("utf-8"),),
        words,
        len(lines) - (0 if chunk.ends else 1),
        len(chunk.data) + (1 if chunk.ends else 0),
        tuple(bad),
        chunk.continues,
        chunk.ends,
        first_has_stems=bool(out[0]),
        last_has_stems=bool(out[len(lines) - 1]),
    )


def _token_lines(analyzer: Analyzer, lines: list[str]) -> tuple[list[str], int]:
    """Each line's tokens as a JSON array of objects, and how many there were."""
    import json

    encode = json.JSONEncoder(ensure_ascii=False, separators=(", ", ": ")).encode
    out = []
    count = 0
    for line in lines:
        tokens = analyzer.tokens(line)
        count += len(tokens)
        out.append(encode([token._asdict() for token in tokens]))
    return out, count

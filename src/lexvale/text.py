"""Preparing text for stemming, and the way back from prepared text to the original.

Normalisation and lower-casing can change a text's length: NFKC makes "fi"
of the ligature "ﬁ", NFC joins "e" and a combining acute accent into "é", and
``"İ".lower()`` is "i" followed by a combining dot. Tokens are found in the
prepared text, so their offsets are mapped back through tables built here, and
only when a length changed; text that normalisation leaves alone (nearly all
text) needs no table.
"""

from __future__ import annotations

import re
import unicodedata
from typing import Literal

__all__ = ["NormalForm", "prepare", "prepare_with_offsets"]

NormalForm = Literal["NFC", "NFKC"]

_TYPOGRAPHIC_APOSTROPHE = "\u2019"
# Normalisation never joins a character to white space or white space to a
# character, so white space is where a text can be cut and normalised piece by piece.
_CHUNK = re.compile(r"\s+|\S+")


def prepare(text: str, normalize: NormalForm | None, lowercase: bool) -> str:
    """The text as the stemmer sees it: normalised, apostrophes unified, lower-cased."""
    if normalize is not None:
        if not unicodedata.is_normalized(normalize, text):
            text = unicodedata.normalize(normalize, text)
        if _TYPOGRAPHIC_APOSTROPHE in text:
            text = text.replace(_TYPOGRAPHIC_APOSTROPHE, "'")
    if lowercase:
        text = text.lower()
    return text


# Offset tables: starts[p] is the original offset of a token that starts at
# position p of the prepared text, ends[p] that of a token that ends there. A
# token that begins or ends inside what one original character became covers
# that whole character.
Offsets = tuple[list[int], list[int]]


def _joins(cluster: str, current: str, form: NormalForm) -> bool:
    """Whether `current` changes in normal form next to `cluster` (or changes it)."""
    if unicodedata.combining(current):
        return True
    apart = unicodedata.normalize(form, cluster) + unicodedata.normalize(form, current)
    return unicodedata.normalize(form, cluster + current) != apart


def _normalize_mapped(text: str, form: NormalForm) -> tuple[str, Offsets]:
    pieces: list[str] = []
    starts: list[int] = []
    ends: list[int] = []
    for match in _CHUNK.finditer(text):
        chunk, base = match.group(), match.start()
        if unicodedata.is_normalized(form, chunk):
            pieces.append(chunk)
            starts.extend(range(base, base + len(chunk)))
            ends.extend(range(base, base + len(chunk)))
            continue
        # Cut the chunk where neighbouring characters normalise independently.
        begin = 0
        for k in range(1, len(chunk) + 1):
            if k < len(chunk) and _joins(chunk[begin:k], chunk[k], form):
                continue
            became = unicodedata.normalize(form, chunk[begin:k])
            if became:
                pieces.append(became)
                starts.extend([base + begin] * len(became))
                ends.append(base + begin)
                ends.extend([base + k] * (len(became) - 1))
            begin = k
    starts.append(len(text))
    ends.append(len(text))
    return "".join(pieces), (starts, ends)


def _lower_mapped(text: str, offsets: Offsets) -> tuple[str, Offsets]:
    starts, ends = offsets
    lowered_starts: list[int] = []
    lowered_ends: list[int] = []
    for j, character in enumerate(text):
        # str.lower's only context rule (final sigma) keeps the length.
        width = len(character.lower())
        lowered_starts.extend([starts[j]] * width)
        lowered_ends.append(ends[j])
        lowered_ends.extend([ends[j + 1]] * (width - 1))
    lowered_starts.append(starts[-1])
    lowered_ends.append(ends[-1])
    return text.lower(), (lowered_starts, lowered_ends)


def prepare_with_offsets(
    text: str, normalize: NormalForm | None, lowercase: bool
) -> tuple[str, Offsets | None]:
    """``prepare(text, ...)`` and its offset tables, or None when offsets carry over unchanged."""
    offsets: Offsets | None = None
    if normalize is not None:
        if not unicodedata.is_normalized(normalize, text):
            text_, offsets = _normalize_mapped(text, normalize)
        else:
            text_ = text
        if _TYPOGRAPHIC_APOSTROPHE in text_:
            text_ = text_.replace(_TYPOGRAPHIC_APOSTROPHE, "'")
    else:
        text_ = text
    if lowercase:
        lowered = text_.lower()
        if len(lowered) != len(text_):
            if offsets is None:
                identity = list(range(len(text_) + 1))
                offsets = (identity, identity)
            lowered, offsets = _lower_mapped(text_, offsets)
        text_ = lowered
    return text_, offsets

"""Preparing text for stemming, and the way back from prepared text to the original.

A text is prepared in four steps: characters that are invisible in print and
only get in the way of search (soft hyphens, zero-width spaces, joiners where
the language does not write them, byte-order marks, bidirectional controls,
variation selectors) are dropped; the text is put in a Unicode normal form,
with the typographic apostrophe unified to "'"; it is lower-cased as its
language does (``_casing``); and where lower-casing left text that is no
longer in the normal form ("J" + caron lower-cases to a "j" + caron, which
NFC writes as one character "ǰ"), normalised again. Preparation is a fixed
point: prepared text prepares to itself, so settings prepared once and words
prepared again agree.

Dropping characters, normalisation and lower-casing can change a text's
length: NFKC makes "fi" of the ligature "ﬁ", NFC joins "e" and a combining
acute accent into "é", and "İ" lower-cases to "i" followed by a combining dot.
Tokens are found in the prepared text, so their offsets are mapped back
through tables built here, and only when a length changed; text that
preparation leaves alone (nearly all text) needs no table.
"""

from __future__ import annotations

import functools
import re
import unicodedata
from typing import Literal, NamedTuple, Protocol

from ._casing import has_word_rules, lower_char, lower_text, lower_word, turkish_dotted_capitals
from ._rules import rules_of

__all__ = ["DEFAULT_FORM", "DEFAULT_LOWERCASE", "IGNORABLE", "NormalForm", "Offsets", "Preparation"]

NormalForm = Literal["NFC", "NFKC"]

#: How text is prepared unless asked otherwise: NFKC, and lower case.
DEFAULT_FORM: NormalForm = "NFKC"
DEFAULT_LOWERCASE = True

_TYPOGRAPHIC_APOSTROPHE = "\u2019"
# Normalisation never joins a character to white space or white space to a
# character, so white space is where a text can be cut and normalised piece by piece.
_CHUNK = re.compile(r"\s+|\S+")

# Unicode's default-ignorable code points but the Hangul fillers and Khmer's
# inherent vowels, which are letters of their scripts.
IGNORABLE = (
    "\u00ad\u034f\u061c\u180b-\u180f\u200b-\u200f\u202a-\u202e\u2060-\u206f"
    "\ufe00-\ufe0f\ufeff\U0001bca0-\U0001bca3\U0001d173-\U0001d17a\U000e0000-\U000e0fff"
)

@functools.cache
def _ignorable_class(language: str) -> re.Pattern[str]:
    """The characters dropped from `language`'s text."""
    kept = rules_of(language).kept_joiners
    spaces_and_joiners = "".join(c for c in "\u200b\u200c\u200d\u200e\u200f" if c not in kept)
    return re.compile(f"[{IGNORABLE.replace('\u200b-\u200f', spaces_and_joiners)}]")


# Offset tables: starts[p] is the original offset of a token that starts at
# position p of the prepared text, ends[p] that of a token that ends there. A
# token that begins or ends inside what one original character became covers
# that whole character.
Offsets = tuple[list[int], list[int]]


def _compose(earlier: Offsets | None, later: Offsets) -> Offsets:
    """The tables of two steps done one after the other."""
    if earlier is None:
        return later
    first_starts, first_ends = earlier
    starts, ends = later
    return [first_starts[p] for p in starts], [first_ends[p] for p in ends]


def _dropped_mapped(text: str, dropped: list[int], attached: bool = False) -> tuple[str, Offsets]:
    """`text` without the characters at the (sorted) positions `dropped`.

    With `attached`, a dropped character belongs to the kept one before it
    (the dot of a Turkish "I"), so that a token ending there covers it.
    """
    gone = set(dropped)
    kept = [k for k in range(len(text)) if k not in gone]
    starts = [*kept, len(text)]
    if attached:
        ends = [0, *kept[1:], len(text)]
    else:
        ends = [0] + [k + 1 for k in kept]
    return "".join(text[k] for k in kept), (starts, ends)


def _joins(cluster: str, current: str, form: NormalForm) -> bool:
    """Whether `current` changes in normal form next to `cluster` (or changes it)."""
    if unicodedata.combining(current):
        return True
    # A character that decomposes into marks (Tibetan vowel signs, the
    # half-width voiced marks under NFKC) may let a later mark reach past it.
    decomposed = unicodedata.normalize("NFKD" if form == "NFKC" else "NFD", current)
    if decomposed and unicodedata.combining(decomposed[0]):
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


def _lower_mapped(text: str, language: str) -> tuple[str, Offsets]:
    starts: list[int] = []
    ends: list[int] = []
    pieces: list[str] = []
    for j, character in enumerate(text):
        lowered = lower_char(character, language)
        width = len(lowered)
        pieces.append(lowered)
        starts.extend([j] * width)
        if width:
            ends.append(j)
            ends.extend([j + 1] * (width - 1))
    starts.append(len(text))
    ends.append(len(text))
    return "".join(pieces), (starts, ends)


# ---- the steps, in the order text goes through them. Each prepares text
# whole (`apply`), or keeps the offset tables of what it changed (`mapped`).


class _Step(Protocol):
    def apply(self, text: str, whole_word: bool) -> str: ...

    def mapped(self, text: str) -> tuple[str, Offsets | None]: ...


class _DropIgnorable:
    """Drops the characters that print as nothing and only part words (but the joiners the language keeps)."""

    __slots__ = ("language",)

    def __init__(self, language: str) -> None:
        self.language = language

    def apply(self, text: str, whole_word: bool) -> str:
        if text.isascii():
            return text
        ignorable = _ignorable_class(self.language)
        return ignorable.sub("", text) if ignorable.search(text) is not None else text

    def mapped(self, text: str) -> tuple[str, Offsets | None]:
        if text.isascii():
            return text, None
        dropped = [match.start() for match in _ignorable_class(self.language).finditer(text)]
        return _dropped_mapped(text, dropped) if dropped else (text, None)


class _Normalize:
    """Puts text in a Unicode normal form."""

    __slots__ = ("form",)

    def __init__(self, form: NormalForm) -> None:
        self.form = form

    def apply(self, text: str, whole_word: bool) -> str:
        if text.isascii() or unicodedata.is_normalized(self.form, text):
            return text
        return unicodedata.normalize(self.form, text)

    def mapped(self, text: str) -> tuple[str, Offsets | None]:
        if text.isascii() or unicodedata.is_normalized(self.form, text):
            return text, None
        return _normalize_mapped(text, self.form)


class _UnifyApostrophe:
    """Makes the typographic apostrophe "'", as a normal form for apostrophes (its length unchanged)."""

    __slots__ = ()

    def apply(self, text: str, whole_word: bool) -> str:
        return text.replace(_TYPOGRAPHIC_APOSTROPHE, "'") if _TYPOGRAPHIC_APOSTROPHE in text else text

    def mapped(self, text: str) -> tuple[str, Offsets | None]:
        return self.apply(text, False), None


class _Lowercase:
    """Lower case as the language writes it (``_casing``); rules that depend on where a word starts or ends
    apply to a whole word only."""

    __slots__ = ("language",)

    def __init__(self, language: str) -> None:
        self.language = language

    def apply(self, text: str, whole_word: bool) -> str:
        return lower_word(text, self.language) if whole_word else lower_text(text, self.language)

    def mapped(self, text: str) -> tuple[str, Offsets | None]:
        offsets = None
        if rules_of(self.language).dotted_i:
            dotted = turkish_dotted_capitals(text)
            if dotted:
                characters = list(text)
                for capital, lowered_capital, _ in dotted:
                    characters[capital] = lowered_capital
                text, offsets = _dropped_mapped("".join(characters), [dot for _, _, dot in dotted], attached=True)
        lowered = lower_text(text, self.language)
        if len(lowered) != len(text):
            # The offsets character by character: final sigma, the one rule
            # that depends on context, keeps the length.
            by_character, step = _lower_mapped(text, self.language)
            if len(by_character) != len(lowered):
                lowered = by_character
            offsets = _compose(offsets, step)
        return lowered, offsets

    def needs_words_alone(self, text: str) -> bool:
        return has_word_rules(text, self.language)


@functools.cache
def _steps(normalize: NormalForm | None, lowercase: bool, language: str) -> tuple[_Step, ...]:
    steps: list[_Step] = [_DropIgnorable(language)]
    if normalize is not None:
        steps += [_Normalize(normalize), _UnifyApostrophe()]
    if lowercase:
        steps.append(_Lowercase(language))
    return tuple(steps)


class Preparation(NamedTuple):
    """How text and words are prepared for one analyzer's settings: its steps, in order, to a fixed point."""

    normalize: NormalForm | None
    lowercase: bool
    language: str

    @property
    def steps(self) -> tuple[_Step, ...]:
        return _steps(self.normalize, self.lowercase, self.language)

    def _prepared(self, text: str, whole_word: bool) -> str:
        for _ in range(1 + _MAX_ROUNDS):
            for step in self.steps:
                text = step.apply(text, whole_word)
            if not self._may_change_again(text):
                break
        return text

    def _may_change_again(self, prepared: str) -> bool:
        """Whether lower-casing left text outside the normal form, which another round then mends."""
        return (
            self.lowercase and self.normalize is not None and not prepared.isascii()
            and not unicodedata.is_normalized(self.normalize, prepared)
        )

    # ---- words

    def word(self, word: str) -> str:
        """`word` as the stemmer sees it. Words separated by NUL characters are each prepared as a word."""
        return self._prepared(word, True)

    def words(self, words: list[str]) -> list[str]:
        """Each of `words` prepared as a word."""
        if not words:
            return []
        # One pass over all the words joined by a character that no step
        # touches or crosses, unless a word holds it.
        joined = "\0".join(words)
        if joined.count("\0") == len(words) - 1:
            return self.word(joined).split("\0")
        return [self.word(word) for word in words]

    # ---- running text

    def text(self, text: str) -> str:
        """`text` prepared as a whole: its words are those ``word`` gives unless ``has_word_rules``."""
        return self._prepared(text, False)

    def has_word_rules(self, text: str) -> bool:
        """Whether the words of `text` must be prepared again one by one from the original.

        Asked of the text as the steps before lower-casing leave it: NFKC
        makes a capital sigma of a mathematical one, and capital vowels of
        full-width ones.
        """
        if not self.lowercase:
            return False
        *before, lowercase = self.steps
        assert isinstance(lowercase, _Lowercase)
        for step in before:
            text = step.apply(text, False)
        return lowercase.needs_words_alone(text)

    def text_with_offsets(self, text: str) -> tuple[str, Offsets | None]:
        """``text(text)`` and its offset tables, or None when offsets carry over unchanged."""
        offsets: Offsets | None = None
        for _ in range(1 + _MAX_ROUNDS):
            for step in self.steps:
                text, moved = step.mapped(text)
                if moved is not None:
                    offsets = _compose(offsets, moved)
            if not self._may_change_again(text):
                break
        return text, offsets


# No known text needs more than one further round; the bound only keeps a
# mistake in that reasoning from looping.
_MAX_ROUNDS = 4

"""The analyzer's chain on the pure-Python path, the reference that the native pass is held to.

Text goes through it top to bottom: prepared (``_preparation``), cut into
words by the pattern, stop words dropped, protected and overridden words
fixed and the rest stemmed, accents folded, n-grams made. The native pass
(``_native``) runs the same chain compiled, and answers None for text it
leaves to this one.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, NamedTuple, TypeVar

from ._folding import fold
from .stemmers import stemmer

if TYPE_CHECKING:
    from ._settings import State

__all__ = ["Token", "filled", "filled_tokens", "native_stems_of_text", "ngrams", "stems_of_text", "stems_of_words", "tokens_of_text"]


class Token(NamedTuple):
    """A token of a text: its stem, where its word lies in the original text, and which word it is.

    ``text[start:end] == word`` in the text given to ``Analyzer.tokens``,
    whatever normalisation and lower-casing changed. ``position`` counts the
    words of the text from 0, dropped stop words included, as search
    engines count them for phrases; a word kept beside its stem
    (``keep_original``) has its stem's position.
    """

    stem: str
    start: int
    end: int
    word: str
    position: int


# Pickles name the module users import it from, which earlier releases wrote too.
Token.__module__ = "lexvale.analyzer"


def _is_latin1(text: str) -> bool:
    """True for text of Latin-1 characters only (no combining mark, joiner, Han or Hiragana)."""
    if text.isascii():
        return True
    try:
        text.encode("latin-1")  # a copy of the bytes when it succeeds; stops at the first wider character
    except UnicodeEncodeError:
        return False
    return True


def stems_of_text(state: State, text: str) -> list[str]:
    """The stems of a text's words, stop words dropped, on the pure-Python path."""
    preparation = state.preparation
    if preparation.has_word_rules(text):
        words = [word for _, _, word in _spans(state, text)]
    else:
        words = _words(state, preparation.text(text))
    words = _without_stopwords(state, words)
    stems = stems_of_words(state, words)
    if not state.keep_original:
        return stems
    result = []
    for stem, original in zip(stems, _originals(state, words)):
        result.append(stem)
        if original != stem:
            result.append(original)
    return result


def tokens_of_text(state: State, text: str, begin: int, finish: int, first: int = 0) -> tuple[list[Token], int]:
    """The tokens of text[begin:finish], with offsets in `text` and positions from `first`, stop words dropped;
    and the number of words it held."""
    piece = text[begin:finish]
    stop = state.dropped
    found = _spans(state, piece)
    spans = [(start, end, word, first + place) for place, (start, end, word) in enumerate(found) if word not in stop]
    words = [word for _, _, word, _ in spans]
    stems = stems_of_words(state, words)
    tokens = [Token(stem, begin + start, begin + end, piece[start:end], place)
              for stem, (start, end, _, place) in zip(stems, spans)]
    if state.keep_original:
        with_originals = []
        for token, original in zip(tokens, _originals(state, words)):
            with_originals.append(token)
            if original != token.stem:
                with_originals.append(token._replace(stem=original))
        tokens = with_originals
    return tokens, len(found)


def _originals(state: State, words: list[str]) -> list[str]:
    """The prepared words as they are kept beside their stems: folded as the stems are."""
    return _folded(state, words) if state.fold_accents else words


def filled_tokens(tokens: list[Token], holes: list[tuple[int, int, int, int]],
                  fill: Callable[[int, int, int], tuple[list[Token], int]]) -> list[Token]:
    """`tokens` with each hole (index, start, end, position) filled by fill(start, end, first position),
    and the positions after each hole moved past the words it held."""
    merged: list[Token] = []
    done = 0
    shift = 0
    for index, start, end, position in holes:
        merged += _moved(tokens[done:index], shift)
        piece, count = fill(start, end, position + shift)
        merged += piece
        shift += count
        done = index
    merged += _moved(tokens[done:], shift)
    return merged


def _moved(tokens: list[Token], shift: int) -> list[Token]:
    if not shift:
        return tokens
    return [token._replace(position=token.position + shift) for token in tokens]


_Piece = TypeVar("_Piece")


# Up to this many holes are filled by insertion, past it by one merge.
_HOLES_FILLED_IN_PLACE = 8


def filled(results: list[_Piece], holes: list[tuple[int, int, int, int]],
            fill: Callable[[int, int], list[_Piece]]) -> list[_Piece]:
    """`results` with each hole (index, start, end) filled by fill(start, end), in order."""
    pieces = [(index, fill(start, end)) for index, start, end, _ in holes]
    if len(pieces) <= _HOLES_FILLED_IN_PLACE:
        # From the last hole back, so that each index still holds; in place,
        # so that a long list is not copied for a few holes.
        for index, piece in reversed(pieces):
            results[index:index] = piece
        return results
    # Many holes: each insertion would move the rest of the list again.
    merged: list[_Piece] = []
    done = 0
    for index, piece in pieces:
        merged += results[done:index]
        merged += piece
        done = index
    merged += results[done:]
    return merged


def native_stems_of_text(state: State, text: str) -> list[str]:
    """The same with the native pass, which prepares what it can."""
    native = state.native
    assert native is not None
    stems = native.text(text)
    if stems is not None:
        return stems
    if not state.preparation.has_word_rules(text):
        stems = native.prepared_text(state.preparation.text(text))
        if stems is not None:
            return stems
    return stems_of_text(state, text)


def _words(state: State, prepared: str) -> list[str]:
    """The words of prepared text."""
    if state.latin1_findall is not None and _is_latin1(prepared):
        return state.latin1_findall(prepared)
    findall = state.findall
    if findall is not None:
        words: list[str] = findall(prepared)
        if state.latin1_findall is None and "" in words:
            # A pattern that can match nothing (say r"\w*") finds no word there.
            words = [word for word in words if word]
        return words
    return [match.group() for match in state.pattern.finditer(prepared) if match.end() > match.start()]


def _spans(state: State, text: str) -> list[tuple[int, int, str]]:
    """Each word of `text`: where it lies in `text`, and the word prepared."""
    preparation = state.preparation
    prepared, offsets = preparation.text_with_offsets(text)
    found: list[tuple[int, int, str]] = []
    for match in state.pattern.finditer(prepared):
        start, end = match.span()
        if start == end:
            continue
        if offsets is not None:
            start, end = offsets[0][start], offsets[1][end]
        found.append((start, end, match.group()))
    if found and preparation.has_word_rules(text):
        # A word under a rule that depends on where it starts or ends (final
        # sigma, the Irish mutation) is lower-cased alone, from what the text
        # says, unless that text also gave other words ("½" gives "1" and "2").
        for i, (start, end, word) in enumerate(found):
            original = text[start:end]
            alone = (i == 0 or found[i - 1][1] <= start) and (i == len(found) - 1 or found[i + 1][0] >= end)
            if alone and preparation.has_word_rules(original):
                redone = preparation.word(original)
                # The span may hold what preparation makes more than the
                # word of ("Σ⒈" is "σ1."): the word is the one word in it.
                inside = _words(state, redone)
                found[i] = (start, end, inside[0] if len(inside) == 1 else redone)
    return found


def _without_stopwords(state: State, words: list[str]) -> list[str]:
    stop = state.dropped
    if not stop:
        return words
    return [word for word in words if word not in stop]


def stems_of_words(state: State, words: list[str], use_native: bool = True) -> list[str]:
    """Stems of prepared words: protected and overridden ones fixed, the rest stemmed, then folded."""
    if use_native and state.native is not None:
        found: list[str] | None = state.native.prepared_words(words)
        if found is not None:
            return found
    stem_words = stemmer(state.language, state.cache_size).stemWords
    fixed = state.fixed
    if not fixed:
        stems = stem_words(words)
    else:
        looked_up = [fixed.get(word) for word in words]
        if None in looked_up:
            stemmed = iter(stem_words([word for word, stem in zip(words, looked_up) if stem is None]))
            stems = [stem if stem is not None else next(stemmed) for stem in looked_up]
        else:
            stems = looked_up  # type: ignore[assignment]  # no None left
    if state.fold_accents:
        stems = _folded(state, stems)
    return stems


def _folded(state: State, stems: list[str]) -> list[str]:
    memo = state.folded
    form = state.preparation.normalize
    result = []
    for stem in stems:
        if stem.isascii():
            result.append(stem)
            continue
        folded = memo.get(stem)
        if folded is None:
            folded = fold(stem, form)
            if len(memo) >= max(state.cache_size, 0):
                memo.clear()
            memo[stem] = folded
        result.append(folded)
    return result


def ngrams(state: State, stems: list[str]) -> list[str]:
    low, high = state.ngram_range
    if high == 1:
        return stems
    if state.ngram_maker is not None:
        if low > len(stems):
            return []
        return state.ngram_maker(stems, low, min(high, len(stems)))  # bounds the native maker can hold
    grams = list(stems) if low == 1 else []
    for n in range(max(low, 2), min(high, len(stems)) + 1):
        grams.extend(" ".join(stems[i : i + n]) for i in range(len(stems) - n + 1))
    return grams


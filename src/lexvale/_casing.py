"""Lower-casing as each language does it.

``str.lower`` follows Unicode's default case mapping, which is right for most
languages the stemmers serve but wrong for two:

* Turkish writes a dotted and a dotless i in both cases: "I" lower-cases to
  "ı", "İ" to "i", and an "I" followed by a combining dot above (possibly
  after other marks below it) to "i", the dot dropped. Unicode's default
  makes "i" of "I" and "i" with a combining dot of "İ", so that "IŞIK" would
  never meet "ışık".
* Irish marks an initial mutation before a capital vowel without a hyphen:
  "nAthair" is "n-athair" in lower case ("our father"), and the Irish
  algorithm strips the "n-" and "t-" it recognises only with the hyphen.

Which language has which rule is ``_rules``' table.

The Greek final sigma is the one rule of the default mapping that depends on
context: a capital sigma becomes "ς" at the end of a word, "σ" elsewhere.
``str.lower`` decides it over the whole string, across word boundaries
("Α.Σ" gives "α.ς"); here it is decided within each word. Lithuanian's
special casing only adds dots above accented i and j in upper-case text, for
display: search leaves them out, so it takes the default.
"""

from __future__ import annotations

import functools
import re
import unicodedata

from ._rules import rules_of

__all__ = ["has_word_rules", "lower_text", "lower_word"]

_DOT_ABOVE = "\u0307"
# Marks that may stand between an "I" and its dot: those not above (combining class 230).
_BELOW = "".join(
    chr(code) for code in range(0x300, 0x370) if unicodedata.combining(chr(code)) not in (0, 230)
)
# A capital I, perhaps written with a mark below as one character (NFC joins
# them), and its dot above after any other marks below.
_DOTTED_LOWER = {"I": "i", "Ị": "ị", "Į": "į", "Ḭ": "ḭ"}
_TURKISH_DOTTED_I = re.compile(rf"([{''.join(_DOTTED_LOWER)}])([{_BELOW}]*){_DOT_ABOVE}")
_TURKISH_I = str.maketrans({"I": "ı", "İ": "i"})



@functools.cache
def _mutation(language: str) -> re.Pattern[str] | None:
    """A mutation prefix at a word's start in `language`, or None where it has none.

    A word start is the start of the string or a NUL, which separates the
    words of a batch prepared as one string.
    """
    rules = rules_of(language)
    if not rules.mutation_letters:
        return None
    letters, vowels = re.escape(rules.mutation_letters), re.escape(rules.mutated_vowels)
    return re.compile(rf"(?<![^\0])([{letters}])(?=[{vowels}])")


def lower_word(word: str, language: str) -> str:
    """`word` in lower case as `language` writes it.

    Final sigma and the Irish mutation are decided within the whole of
    `word`; words separated by NUL characters (which no cased letter
    crosses) are each lower-cased as a word.

    >>> lower_word("İyi", "turkish"), lower_word("IŞIK", "turkish"), lower_word("nAthair", "irish")
    ('iyi', 'ışık', 'n-athair')
    >>> lower_word("ΟΔΟΣ", "greek"), lower_word("Σ", "greek")
    ('οδος', 'σ')
    """
    mutation = _mutation(language)
    if mutation is not None:
        word = mutation.sub(r"\1-", word)
    return lower_text(word, language)


def lower_text(text: str, language: str) -> str:
    """`text` lower-cased by the rules of `language` that hold whatever the words are.

    Where ``has_word_rules`` is true, the words found in the result must
    be lower-cased again one by one (``lower_word``).
    """
    if rules_of(language).dotted_i:
        if _DOT_ABOVE in text:
            text = _TURKISH_DOTTED_I.sub(_dotted_lower, text)
        return text.translate(_TURKISH_I).lower()
    return text.lower()


def _dotted_lower(match: re.Match[str]) -> str:
    return _DOTTED_LOWER[match.group(1)] + match.group(2)


def lower_char(character: str, language: str) -> str:
    """One character lower-cased alone (no final sigma, no Turkish dot: see ``lower_text``)."""
    if character in "Iİ" and rules_of(language).dotted_i:
        return character.translate(_TURKISH_I)
    return character.lower()


def turkish_dotted_capitals(text: str) -> list[tuple[int, str, int]]:
    """Where Turkish lower-casing makes an "i" of an "I" and its dot above: the capital's position, its lower case, the dot's position."""
    return [
        (match.start(), _DOTTED_LOWER[match.group(1)], match.end() - 1) for match in _TURKISH_DOTTED_I.finditer(text)
    ]


@functools.cache
def _word_rules(language: str) -> re.Pattern[str] | None:
    """Where a mutation may apply in `language`'s text, or a final sigma; None where only a sigma may."""
    rules = rules_of(language)
    if not rules.mutation_letters:
        return None
    return re.compile(rf"Σ|[{re.escape(rules.mutation_letters)}][{re.escape(rules.mutated_vowels)}]")


def has_word_rules(text: str, language: str) -> bool:
    """Whether a rule that depends on where words start or end may apply in `text`.

    Final sigma applies in any language (a Greek word in English text); a
    mutation only in its language.
    """
    found = _word_rules(language)
    if found is not None:
        return found.search(text) is not None
    return "Σ" in text

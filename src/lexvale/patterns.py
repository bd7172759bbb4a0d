"""What a word is: the default token pattern and the character classes it is made of.

Words are cut as Unicode's word-boundary rules (UAX #29) and search engines'
standard tokenizers cut them, for the scripts the stemmers serve: runs of
letters and digits with the combining marks written on them, apostrophes and
(between digits) a decimal point or comma inside; each Han ideograph and each
Hiragana character on its own, since those scripts are written without spaces
and a run of them is a phrase, not a word. Katakana and Hangul runs are words.
Thai, Lao, Khmer and Myanmar are also written without spaces but, unlike Han,
their words are several characters long and cutting them needs a dictionary:
a run of them stays one token, as in standard tokenizers without one.

The classes are written out (a pass over all of Unicode at every import would
be too slow); tests check them against ``unicodedata``.
"""

from __future__ import annotations

import re

from .marks import MARKS

__all__ = ["DEFAULT_PATTERN", "HAN", "HIRAGANA", "JOINERS", "LATIN1_PATTERN"]

#: Han ideographs (the CJK unified and compatibility ideographs, and the
#: iteration and numeral ideographs of U+3005-U+3007, U+3021-U+3029, U+3038-U+303B).
HAN = (
    "\u3005-\u3007\u3021-\u3029\u3038-\u303b\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufa6d\ufa70-\ufad9"
    "\U00020000-\U0002a6df\U0002a700-\U0002b739\U0002b740-\U0002b81d\U0002b820-\U0002cea1"
    "\U0002ceb0-\U0002ebe0\U0002ebf0-\U0002ee5d\U0002f800-\U0002fa1d\U00030000-\U0003134a"
    "\U00031350-\U000323af"
)

#: Hiragana and Hentaigana letters and Hiragana's iteration marks.
HIRAGANA = "\u3041-\u3096\u309d-\u309f\U0001b001-\U0001b11f\U0001b132\U0001b150-\U0001b152"

#: Zero-width non-joiner and joiner: Persian writes the first inside words,
#: Devanagari both. In other languages they are dropped before words are cut.
JOINERS = "\u200c\u200d"

# A letter or digit of a script written with spaces: Unicode's word
# characters less the underscore, Han and Hiragana.
_ALNUM = rf"[^\W_{HAN}{HIRAGANA}]"
_INSIDE = rf"[{MARKS}{JOINERS}]+|(?<=\d)[.,](?=\d)"
_RUN = rf"{_ALNUM}+(?:(?:{_INSIDE}){_ALNUM}*)*"

#: Runs of letters and digits (Unicode's word characters without the
#: underscore) and the combining marks on them, joined by apostrophes
#: ("don't", "l'homme") and, between digits, by a point or a comma ("3.14",
#: "1,000"); or a single Han ideograph or Hiragana character with its marks.
#: Everything else parts words: white space, punctuation, hyphens ("COVID-19"
#: is "COVID" and "19"), underscores and symbols.
#:
#: Snowball's algorithms are written for words that keep their apostrophes:
#: English strips the possessive ("john's", "students'" -> "john", "student")
#: and keeps "don't" whole; French and Italian strip elided articles
#: ("l'homme" -> "homm", "qu'il" -> "il"). No algorithm stems across a hyphen.
DEFAULT_PATTERN = rf"{_RUN}(?:'{_RUN})*|[{HAN}{HIRAGANA}][{MARKS}]*"

# The same words in text of Latin-1 characters only, which has no combining
# marks, joiners, Han or Hiragana, found faster.
_LATIN1_RUN = r"[^\W_]+(?:(?<=\d)[.,](?=\d)[^\W_]+)*"
LATIN1_PATTERN = re.compile(rf"{_LATIN1_RUN}(?:'{_LATIN1_RUN})*")

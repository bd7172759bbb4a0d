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

The character classes are Unicode's, written out by tools/unicode_tables.py
into ``_tables.unicode`` (a pass over all of Unicode at every import would be
too slow).
"""

from __future__ import annotations

import functools
import re

from ._rules import JOINERS
from ._tables.unicode import HAN, HIRAGANA, MARKS

__all__ = ["DEFAULT_PATTERN", "DIGIT_SEPARATORS", "HAN", "HIRAGANA", "LATIN1_PATTERN", "default_pattern"]

#: What joins two digits into one number ("3.14", "1,000"); the native pass
#: reads it from the character tables that tools/unicode_tables.py writes.
DIGIT_SEPARATORS = ".,"

# A letter or digit of a script written with spaces: Unicode's word
# characters less the underscore, Han and Hiragana.
_ALNUM = rf"[^\W_{HAN}{HIRAGANA}]"
_INSIDE = rf"[{MARKS}{JOINERS}]+|(?<=\d)[{DIGIT_SEPARATORS}](?=\d)"
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


@functools.cache
def default_pattern() -> re.Pattern[str]:
    """DEFAULT_PATTERN compiled, on first use: compiling its classes takes longer than the rest of lexvale's
    start-up, and the native pass, where there is one, does not need it."""
    return re.compile(DEFAULT_PATTERN)


_LATIN1_RUN = rf"[^\W_]+(?:(?<=\d)[{DIGIT_SEPARATORS}](?=\d)[^\W_]+)*"
LATIN1_PATTERN = re.compile(rf"{_LATIN1_RUN}(?:'{_LATIN1_RUN})*")

"""What each language prepares differently from the default, in one table.

Preparation, lower-casing, the stop words and the native pass all read their
language's rules here; no other module tests a language's name.

* Persian writes the zero-width non-joiner inside words, Hindi and Nepali
  (Devanagari) both joiners: there they are kept, elsewhere dropped. In
  Persian, 21,584 of the 104,268 words of Snowball's vocabulary hold U+200C
  and dropping it changes 789 stems; in Nepali it changes every stem of a
  word that holds one.
* Turkish writes a dotted and a dotless i in both cases: "I" lower-cases to
  "ı" and "İ" to "i" (see ``_casing``).
* Irish marks an initial mutation before a capital vowel without a hyphen:
  "nAthair" is "n-athair" in lower case, the form the algorithm strips.
  Where a hyphen parts the prefix from its word ("ár n-athair", "an
  t-uisce", "go h-álainn"), the letter before it is no word of its own: the
  words "h", "n" and "t" are dropped as stop words are (Irish has no such
  word), unless protected or overridden.
* Some algorithms read a character as another before stemming: Russian "ё"
  as "е", German "ß" as "ss", the older Dutch algorithm a vowel's accent or
  diaeresis as the bare vowel, Greek an accented vowel as the bare one,
  Persian the hamza forms of alef, waw and yeh as the bare letters. A stop
  word matches its word however it is written among those ("всё" is the stop
  word "все"), as the algorithm would; the stems are theirs already. (Found
  by stemming Snowball's vocabularies with each character and its reading:
  every word stems alike. German "ö" and Spanish "ú" stem alike too, but
  only because the algorithms drop the marks after stemming.)
"""

from __future__ import annotations

import itertools
from collections.abc import Mapping
from types import MappingProxyType
from typing import NamedTuple

__all__ = ["JOINERS", "LanguageRules", "rules_of"]

#: Zero-width non-joiner and joiner.
JOINERS = "\u200c\u200d"


class LanguageRules(NamedTuple):
    """A language's own rules; the defaults are every other language's."""

    #: The joiners written inside words, which are kept.
    kept_joiners: str = ""
    #: Whether "I" lower-cases to "ı" and "İ" to "i".
    dotted_i: bool = False
    #: Letters that, before a capital of `mutated_vowels` at a word's start,
    #: are a mutation prefix: the lower case puts a hyphen between them.
    mutation_letters: str = ""
    mutated_vowels: str = ""
    #: Words that are only a mutation prefix parted by a hyphen: dropped.
    prefix_words: frozenset[str] = frozenset()
    #: What the algorithm reads a character as, before stemming.
    read_as: Mapping[str, str] = MappingProxyType({})

    def spellings(self, word: str) -> set[str]:
        """Every way of writing `word` that the algorithm reads as it reads `word` (`word` among them).

        >>> sorted(rules_of("russian").spellings("всё"))
        ['все', 'всё']
        """
        if not self.read_as:
            return {word}
        read = word
        for character, reading in self.read_as.items():
            read = read.replace(character, reading)
        written_as: dict[str, list[str]] = {}
        for character, reading in self.read_as.items():
            written_as.setdefault(reading, [reading]).append(character)
        # The read word cut at each reading (longest first), which may then be written either way.
        pieces: list[list[str]] = []
        position = 0
        readings = sorted(written_as, key=len, reverse=True)
        while position < len(read):
            found = next((r for r in readings if read.startswith(r, position)), None)
            if found is None:
                pieces.append([read[position]])
                position += 1
            else:
                pieces.append(written_as[found])
                position += len(found)
        return {"".join(choice) for choice in itertools.product(*pieces)} | {word}


_DEFAULT = LanguageRules()

_RULES = {
    "persian": LanguageRules(kept_joiners="\u200c", read_as=MappingProxyType(dict(zip("أإؤئ", "ااوي")))),
    "hindi": LanguageRules(kept_joiners=JOINERS),
    "nepali": LanguageRules(kept_joiners=JOINERS),
    "turkish": LanguageRules(dotted_i=True),
    "russian": LanguageRules(read_as=MappingProxyType({"ё": "е"})),
    "german": LanguageRules(read_as=MappingProxyType({"ß": "ss"})),
    "dutch_porter": LanguageRules(read_as=MappingProxyType(dict(zip("áäéëíïóöúü", "aaeeiioouu")))),
    "greek": LanguageRules(read_as=MappingProxyType(dict(zip("άέήίΰϋόύώς", "αεηιυυουωσ")))),
    "irish": LanguageRules(mutation_letters="nt", mutated_vowels="AEIOUÁÉÍÓÚ", prefix_words=frozenset("hnt")),
}


def rules_of(language: str) -> LanguageRules:
    """The rules of the algorithm `language` (a canonical name).

    >>> rules_of("turkish").dotted_i, rules_of("english").dotted_i
    (True, False)
    """
    return _RULES.get(language, _DEFAULT)

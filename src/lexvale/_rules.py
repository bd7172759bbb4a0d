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
  Persian the hamza forms of alef, waw and yeh as the bare letters and the
  Arabic yeh, kaf and teh marbuta as Persian's yeh, kaf and heh. A stop
  word matches its word however it is written among those ("всё" is the stop
  word "все"), as the algorithm would; the stems are theirs already. (Found
  by stemming Snowball's vocabularies with each character and its reading:
  every word stems alike. German "ö" and Spanish "ú" stem alike too, but
  only because the algorithms drop the marks after stemming.)
"""

from __future__ import annotations

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

    def read(self, word: str) -> str:
        """`word` as the algorithm reads it."""
        for character, reading in self.read_as.items():
            if character in word:
                word = word.replace(character, reading)
        return word

    def spellings(self, word: str) -> set[str]:
        """Every way of writing `word` that the algorithm reads as it reads `word`, `word` among them.

        >>> sorted(rules_of("russian").spellings("всё"))
        ['все', 'всё']
        >>> sorted(rules_of("german").spellings("sss"))
        ['sss', 'sß', 'ßs']

        A word with more than SPELLINGS_LISTED of them (a long word of many
        vowels in the older Dutch algorithm or in Greek) gives only itself
        and how the algorithm reads it.
        """
        if not self.read_as:
            return {word}
        read = self.read(word)
        written_as: dict[str, list[str]] = {}
        for character, reading in self.read_as.items():
            written_as.setdefault(reading, []).append(character)
        # At each position of the read word: its own character, or a written
        # one whose reading starts there. counts[i]: the spellings of read[i:].
        choices = [
            [(read[i], i + 1)]
            + [(written, i + len(reading)) for reading, writtens in written_as.items() if read.startswith(reading, i)
               for written in writtens]
            for i in range(len(read))
        ]
        counts = [0] * len(read) + [1]
        for i in reversed(range(len(read))):
            counts[i] = sum(counts[after] for _, after in choices[i])
        if counts[0] > SPELLINGS_LISTED:
            return {word, read}

        def written_from(i: int) -> list[str]:
            if i == len(read):
                return [""]
            return [written + rest for written, after in choices[i] for rest in written_from(after)]

        return set(written_from(0)) | {word}


#: The most spellings of a word that are listed (see ``LanguageRules.spellings``).
SPELLINGS_LISTED = 256


_DEFAULT = LanguageRules()

_RULES = {
    "persian": LanguageRules(kept_joiners="\u200c", read_as=MappingProxyType({
        "\u0623": "\u0627", "\u0625": "\u0627", "\u0624": "\u0648",  # alef and waw with hamza: bare
        "\u0626": "\u06cc", "\u064a": "\u06cc",  # yeh with hamza, Arabic yeh: Persian yeh
        "\u0643": "\u06a9", "\u0629": "\u0647",  # Arabic kaf: Persian kaf; teh marbuta: heh
    })),
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

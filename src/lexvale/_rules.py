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
"""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["JOINERS", "LanguageRules", "rules_of"]

#: Zero-width non-joiner and joiner.
JOINERS = "\u200c\u200d"


@dataclass(frozen=True, slots=True)
class LanguageRules:
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


_DEFAULT = LanguageRules()

_RULES = {
    "persian": LanguageRules(kept_joiners="\u200c"),
    "hindi": LanguageRules(kept_joiners=JOINERS),
    "nepali": LanguageRules(kept_joiners=JOINERS),
    "turkish": LanguageRules(dotted_i=True),
    "irish": LanguageRules(mutation_letters="nt", mutated_vowels="AEIOUÁÉÍÓÚ", prefix_words=frozenset("hnt")),
}


def rules_of(language: str) -> LanguageRules:
    """The rules of the algorithm `language` (a canonical name).

    >>> rules_of("turkish").dotted_i, rules_of("english").dotted_i
    (True, False)
    """
    return _RULES.get(language, _DEFAULT)

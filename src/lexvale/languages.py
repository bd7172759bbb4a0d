"""Language names: libstemmer's algorithms, the ISO 639 codes each accepts, locale tags, and lookup.

The algorithms and the names libstemmer accepts for them come from a table
written by ``tools/language_table.py`` (which learns them from libstemmer;
a test learns them again and compares), so a lookup is a dictionary access.
libstemmer also accepts a few longer aliases that cannot be listed without
guessing them ("kraaij_pohlmann"); a name the table lacks is tried on
libstemmer itself, which refuses a misspelling at once.
"""

from __future__ import annotations

import functools
import re
import unicodedata

from .language_table import ALGORITHMS, ALIASES, ISO_CODES

__all__ = ["algorithms", "iso_codes", "resolve"]

# Codes that libstemmer does not accept but locales use for a language it has:
# Norwegian Bokmål and Nynorsk are "nb_NO" and "nn_NO".
_LOCALE_CODES = {"nb": "norwegian", "nob": "norwegian", "nn": "norwegian", "nno": "norwegian"}

# Each language's name for itself, for the hint given for an unknown name.
_OWN_NAMES = {
    "arabic": ("العربية",),
    "armenian": ("հայերեն",),
    "basque": ("euskara",),
    "catalan": ("català",),
    "czech": ("čeština", "česky"),
    "danish": ("dansk",),
    "dutch": ("nederlands", "vlaams"),
    "esperanto": ("esperanto",),
    "estonian": ("eesti",),
    "finnish": ("suomi",),
    "french": ("français",),
    "german": ("deutsch",),
    "greek": ("ελληνικά",),
    "hindi": ("हिन्दी", "हिंदी"),
    "hungarian": ("magyar",),
    "indonesian": ("bahasa indonesia", "indonesia"),
    "irish": ("gaeilge",),
    "italian": ("italiano",),
    "lithuanian": ("lietuvių",),
    "nepali": ("नेपाली",),
    "norwegian": ("norsk", "bokmål", "nynorsk"),
    "persian": ("فارسی",),
    "polish": ("polski",),
    "portuguese": ("português",),
    "romanian": ("română",),
    "russian": ("русский",),
    "serbian": ("српски", "srpski"),
    "sesotho": ("sesotho",),
    "spanish": ("español", "castellano"),
    "swedish": ("svenska",),
    "tamil": ("தமிழ்",),
    "turkish": ("türkçe",),
    "yiddish": ("ייִדיש", "יידיש"),
}

# A locale tag: a language subtag, then a region or script, an encoding and a
# modifier, each optional ("pt-BR", "pt_BR.UTF-8", "sr_RS@latin", "zh-Hant").
_LOCALE = re.compile(r"([a-z]{2,3})(?:[-_][a-z0-9]+)*(?:\.[\w-]+)?(?:@\w+)?")


def algorithms() -> tuple[str, ...]:
    """The canonical names of libstemmer's algorithms, in libstemmer's order."""
    return ALGORITHMS


def iso_codes() -> dict[str, tuple[str, ...]]:
    """Each algorithm's ISO 639-1 and ISO 639-2 codes that libstemmer accepts.

    >>> iso_codes()["english"]
    ('en', 'eng')
    >>> iso_codes()["porter"]
    ()
    """
    return dict(ISO_CODES)


@functools.cache
def _names() -> dict[str, str]:
    names = {name: name for name in ALGORITHMS}
    for name, codes in ISO_CODES.items():
        names.update(dict.fromkeys(codes, name))
    names.update(ALIASES)
    return names


def _resolve_lowered(name: str) -> str | None:
    names = _names()
    found = names.get(name)
    if found is not None:
        return found
    tag = _LOCALE.fullmatch(name)
    if tag is not None and tag.group() != tag.group(1):
        subtag = tag.group(1)
        return names.get(subtag) or _LOCALE_CODES.get(subtag)
    return _LOCALE_CODES.get(name) or _other_alias(name)


@functools.cache
def _other_alias(name: str) -> str | None:
    from .probes import algorithm_of

    return algorithm_of(name)


def resolve(language: str) -> str:
    """The canonical algorithm name for `language`: a name, an ISO 639 code or a locale tag, in any case.

    >>> resolve("English"), resolve("de"), resolve("NLD"), resolve("pt_BR.UTF-8"), resolve("en-GB")
    ('english', 'german', 'dutch', 'portuguese', 'english')

    Raises ``ValueError`` for a name libstemmer does not accept, listing the
    algorithms and the closest name, and ``TypeError`` for a non-``str``.
    """
    if not isinstance(language, str):
        raise TypeError(f"language must be a str, not {type(language).__name__}")
    found = _resolve_lowered(language.lower())
    if found is None:
        raise ValueError(unknown_language_message(language))
    return found


def _plain(name: str) -> str:
    """`name` in lower case without accents, for comparing spellings."""
    decomposed = unicodedata.normalize("NFD", name.casefold())
    return "".join(c for c in decomposed if not unicodedata.combining(c))


@functools.cache
def _spellings() -> dict[str, str]:
    """Every spelling the hint compares with (plain), and its algorithm."""
    spellings = {_plain(name): name for name in ALGORITHMS}
    for name, own in _OWN_NAMES.items():
        spellings.update(dict.fromkeys(map(_plain, own), name))
    return spellings


def closest_language(language: str) -> str | None:
    """The algorithm whose name, or whose language's own name, `language` most resembles, if any does."""
    import difflib

    plain = _plain(language)
    spellings = _spellings()
    if plain in spellings:
        return spellings[plain]
    if len(plain) <= 3:
        # Short names are codes: a code one letter off is some other language's code.
        return None
    close = difflib.get_close_matches(plain, list(spellings), n=1, cutoff=0.75)
    return spellings[close[0]] if close else None


def unknown_language_message(language: str) -> str:
    tag = _LOCALE.fullmatch(language.lower())
    if tag is not None and tag.group() != tag.group(1):
        return (
            f"unknown language {language!r}: no algorithm for the language {tag.group(1)!r}. "
            f"Available algorithms: {', '.join(ALGORITHMS)}"
        )
    close = closest_language(language)
    hint = f"; did you mean {close!r}?" if close else "."
    return f"unknown language {language!r}{hint} Available algorithms: {', '.join(ALGORITHMS)}"

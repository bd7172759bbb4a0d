"""Language names: libstemmer's algorithms, the ISO 639 codes each accepts, locale tags, and lookup.

The algorithms and the names libstemmer accepts for them come from a table
written by ``tools/language_table.py`` (which learns them from libstemmer;
a test learns them again and compares), so a lookup is a dictionary access.
libstemmer lists none of its names, and the table holds the longer aliases
known ("kraaij_pohlmann"); a name the table lacks is tried on libstemmer
itself, which refuses a misspelling at once (and only a name it accepts,
from a newer libstemmer, is then told apart by its stems).
"""

import unicodedata

from ._tables.languages import ALGORITHMS, ALIASES, ISO_CODES

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

_ASCII_LETTERS = frozenset("abcdefghijklmnopqrstuvwxyz")
_ASCII_ALNUM = _ASCII_LETTERS | frozenset("0123456789")


def _word_characters(part: str, also: str = "") -> bool:
    return part != "" and all(c.isalnum() or c == "_" or c in also for c in part)


def _locale_language(tag: str) -> str | None:
    """The language subtag of a lower-case locale tag of more than a subtag, else None.

    A locale tag is a language subtag (two or three letters), then regions
    or scripts, an encoding and a modifier, each optional: "pt-br",
    "pt_br.utf-8", "sr_rs@latin", "zh-hant". Parsed by hand rather than by a
    regular expression, so that a lookup imports nothing.
    """
    tag, at, modifier = tag.partition("@")
    if at and not _word_characters(modifier):
        return None
    tag, dot, encoding = tag.partition(".")
    if dot and not _word_characters(encoding, "-"):
        return None
    language, *subtags = tag.replace("_", "-").split("-")
    if not 2 <= len(language) <= 3 or not _ASCII_LETTERS.issuperset(language):
        return None
    if not (subtags or dot or at) or not all(part and _ASCII_ALNUM.issuperset(part) for part in subtags):
        return None
    return language


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


_NAMES = {name: name for name in ALGORITHMS}
for _name, _codes in ISO_CODES.items():
    _NAMES.update(dict.fromkeys(_codes, _name))
_NAMES.update(ALIASES)
del _name, _codes

# Aliases found by asking libstemmer itself. Only those it accepts are kept
# (a few at most); it refuses any other name at once.
_OTHER_ALIASES: dict[str, str] = {}


def _resolve_lowered(name: str) -> str | None:
    found = _NAMES.get(name)
    if found is not None:
        return found
    subtag = _locale_language(name)
    if subtag is not None:
        return _NAMES.get(subtag) or _LOCALE_CODES.get(subtag)
    return _LOCALE_CODES.get(name) or _other_alias(name)


def _other_alias(name: str) -> str | None:
    found = _OTHER_ALIASES.get(name)
    if found is None:
        from ._probes import algorithm_of

        found = algorithm_of(name)
        if found is not None:
            _OTHER_ALIASES[name] = found
    return found


def resolve(language: str) -> str:
    """The canonical algorithm name for `language`: a name, an ISO 639 code or a locale tag, in any case.

    >>> resolve("English"), resolve("de"), resolve("NLD"), resolve("pt_BR.UTF-8"), resolve("en-GB")
    ('english', 'german', 'dutch', 'portuguese', 'english')

    Raises ``ValueError`` for a name that names no algorithm, listing the
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
    subtag = _locale_language(language.lower())
    if subtag is not None:
        return (
            f"unknown language {language!r}: no algorithm for the language {subtag!r}. "
            f"Available algorithms: {', '.join(ALGORITHMS)}"
        )
    close = closest_language(language)
    hint = f"; did you mean {close!r}?" if close else "."
    return f"unknown language {language!r}{hint} Available algorithms: {', '.join(ALGORITHMS)}"

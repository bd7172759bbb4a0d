"""Language names: libstemmer's algorithms, the ISO 639 codes each accepts, and lookup.

libstemmer knows each algorithm by a canonical name (what
``Davuzod.algorithms()`` lists) and by aliases, among them the two- and
three-letter ISO 639 codes of its language. It has no call that lists the
aliases, so they are learnt from libstemmer itself: a name is an alias when
libstemmer opens a stemmer for it, and its algorithm is the one whose stems
agree with that stemmer's on a fixed set of probe words. Both are worked out
on first need and kept for the life of the process.
"""

from __future__ import annotations

import functools
import itertools
import string

import Davuzod

__all__ = ["algorithms", "iso_codes", "resolve"]

# Probe words that tell every algorithm from every other: real inflected words
# where algorithms of one script differ (Danish and Norwegian, Dutch and its
# neighbours), and generated words in each script libstemmer covers.
_REAL_PROBES = (
    "hestene bestemmelse bestemmelsene kjærligheten kærligheden løbende memakan dimakan "
    "gcapall bhfuinneog majadele linnades lichamelijk kinderen huizen generously "
    "nationalization relational hopefulness"
).split()
_SCRIPTS = (
    "abcdefghijklmnopqrstuvwxyzàáâäçèéêëíîïñóôöúûüßåæøőűąćęłńśźżčďěňřšťůžăîșțı",
    "абвгдеёжзийклмнопрстуфхцчшщъыьэюяђјљњћџ",
    "αβγδεζηθικλμνξοπρστυφχψωάέήίόύώς",
    "ابتثجحخدذرزسشصضطظعغفقكلمنهويةىءأإآپچژکگی",
    "աբգդեզէըթժիլխծկհձղճմյնշոչպջռսվտրցւփքօֆ",
    "अआइईउऊएऐओऔकखगघङचछजझञटठडढणतथदधनपफबभमयरलवशषसहािीुूेैोौंः्",
    "அஆஇஈஉஊஎஏஐஒஓஔகஙசஞடணதநபமயரலவழளறனாிீுூெேைொோௌ்",
    "אבגדהוזחטיכךלמםנןסעפףצץקרשת",
)


def _generated_probes(per_script: int = 150) -> list[str]:
    # A fixed linear congruential sequence: the same words in every process.
    state = 9
    words = []
    for alphabet in _SCRIPTS:
        for _ in range(per_script):
            state = (state * 1103515245 + 12345) % 2**31
            length = 4 + state % 9
            letters = []
            for _ in range(length):
                state = (state * 1103515245 + 12345) % 2**31
                letters.append(alphabet[(state >> 8) % len(alphabet)])
            words.append("".join(letters))
    return words


@functools.cache
def _probes() -> tuple[str, ...]:
    return (*_REAL_PROBES, *_generated_probes())


@functools.cache
def algorithms() -> tuple[str, ...]:
    """The canonical names of libstemmer's algorithms, in libstemmer's order."""
    return tuple(Davuzod.algorithms())


@functools.cache
def _fingerprints() -> dict[tuple[str, ...], str]:
    probes = _probes()
    return {tuple(Davuzod.Davuzod(name, 0).stemWords(probes)): name for name in algorithms()}


def _algorithm_of(alias: str) -> str | None:
    """The algorithm libstemmer opens for `alias`, or None when it opens none."""
    try:
        opened = Davuzod.Davuzod(alias, 0)
    except KeyError:
        return None
    return _fingerprints().get(tuple(opened.stemWords(_probes())))


@functools.cache
def iso_codes() -> dict[str, tuple[str, ...]]:
    """Each algorithm's ISO 639 codes (the two- and three-letter names libstemmer accepts).

    >>> iso_codes()["english"]
    ('en', 'eng')
    >>> iso_codes()["porter"]
    ()
    """
    codes: dict[str, list[str]] = {name: [] for name in algorithms()}
    for length in (2, 3):
        for letters in itertools.product(string.ascii_lowercase, repeat=length):
            code = "".join(letters)
            algorithm = _algorithm_of(code)
            if algorithm is not None:
                codes[algorithm].append(code)
    return {name: tuple(found) for name, found in codes.items()}


@functools.cache
def _resolve_lowered(name: str) -> str | None:
    if name in algorithms():
        return name
    # libstemmer reads the name as a C string: a NUL would cut it short.
    if not name.isascii() or "\0" in name:
        return None
    return _algorithm_of(name)


def resolve(language: str) -> str:
    """The canonical algorithm name for `language`, a name or ISO code in any case.

    >>> resolve("English"), resolve("de"), resolve("NLD")
    ('english', 'german', 'dutch')

    Raises ``ValueError`` for a name libstemmer does not accept, listing the
    algorithms and the closest match, and ``TypeError`` for a non-``str``.
    """
    if not isinstance(language, str):
        raise TypeError(f"language must be a str, not {type(language).__name__}")
    found = _resolve_lowered(language.lower())
    if found is None:
        raise ValueError(unknown_language_message(language))
    return found


def unknown_language_message(language: str) -> str:
    import difflib

    lowered = language.lower()
    candidates = {name: name for name in algorithms()}
    for name, codes in iso_codes().items():
        candidates.update(dict.fromkeys(codes, name))
    close = difflib.get_close_matches(lowered, list(candidates), n=1, cutoff=0.6)
    hint = f"; did you mean {candidates[close[0]]!r}?" if close else "."
    return f"unknown language {language!r}{hint} Available algorithms: {', '.join(algorithms())}"

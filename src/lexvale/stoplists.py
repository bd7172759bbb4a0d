"""Stop lists: Snowball's own, built in, and word lists read from files in Snowball's format."""

from __future__ import annotations

import functools
import os

from .languages import resolve

TYPE_CHECKING = False
if TYPE_CHECKING:
    from importlib.resources.abc import Traversable

__all__ = ["SNOWBALL", "raw_stopwords", "read_word_list", "stop_list_languages", "stopwords"]

#: The name that stands for an algorithm's built-in stop list, wherever a
#: collection of stop words is expected.
SNOWBALL = "snowball"

# Algorithms that share another's list: the older algorithms of a language.
_SHARED = {"porter": "english", "dutch_porter": "dutch"}


@functools.cache
def stop_list_languages() -> tuple[str, ...]:
    """The algorithms that have a built-in stop list."""
    shipped = {entry.name.removesuffix(".txt") for entry in _data().iterdir() if entry.name.endswith(".txt")}
    return tuple(sorted(shipped | {alias for alias, home in _SHARED.items() if home in shipped}))


def _data() -> Traversable:
    # Imported here: importlib.resources costs an analyzer without a stop list more than its whole start.
    from importlib import resources

    return resources.files(__package__).joinpath("data", "stopwords")


@functools.cache
def raw_stopwords(algorithm: str) -> tuple[str, ...]:
    """The words of `algorithm`'s built-in stop list as Snowball writes them, in its order."""
    if algorithm not in stop_list_languages():
        raise ValueError(
            f"{algorithm!r} has no built-in stop list; these have one: {', '.join(stop_list_languages())}"
        )
    name = _SHARED.get(algorithm, algorithm)
    return tuple(_data().joinpath(f"{name}.txt").read_text(encoding="utf-8").split())


def stopwords(language: str) -> frozenset[str]:
    """Snowball's stop list for `language`, prepared as ``Analyzer(language)`` prepares words.

    >>> sorted(stopwords("english"))[:5]
    ['a', 'about', 'above', 'after', 'again']
    >>> "und" in stopwords("de")
    True

    `language` is an algorithm name or code as ``Analyzer`` takes it; a
    language without a list raises ``ValueError`` naming those with one.
    ``Analyzer(language, stopwords="snowball")`` uses the list.
    """
    from ._preparation import DEFAULT_FORM, DEFAULT_LOWERCASE, Preparation

    algorithm = resolve(language)
    preparation = Preparation(DEFAULT_FORM, DEFAULT_LOWERCASE, algorithm)
    return frozenset(preparation.words(list(raw_stopwords(algorithm))))


def read_word_list(path: str | os.PathLike[str]) -> list[str]:
    """The words of a file in Snowball's stop-list format, in order, each once.

    The file is UTF-8; a vertical bar starts a comment that runs to the end
    of its line, and the words are what is left, separated by white space,
    so that a plain list of one word per line reads as it is written::

        the      | definite article
        a an     | indefinite articles

    A line that starts with "#" is a comment too, as in most other word
    files (the default pattern never makes a word of it).

    Raises ``OSError`` when the file cannot be read and ``ValueError`` when
    it is not UTF-8.
    """
    # A byte-order mark, as some editors write, is no part of the first word.
    with open(path, encoding="utf-8-sig") as file:
        try:
            content = file.read()
        except UnicodeDecodeError as error:
            raise ValueError(f"{os.fsdecode(path)} is not UTF-8 text (byte {error.start})") from None
    seen: dict[str, None] = {}
    # Lines end at line feeds only (a carriage return before one is white
    # space): a form feed or a Unicode line separator inside a comment does
    # not end it.
    for line in content.split("\n"):
        if line.lstrip().startswith("#"):
            continue
        for word in line.partition("|")[0].split():
            seen.setdefault(word)
    return list(seen)

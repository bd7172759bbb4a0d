"""Typed use of Davuzod, checked by mypy in strict mode against the stubs."""

from collections.abc import Iterator

import Davuzod


def stems_of(words: Iterator[str]) -> list[str]:
    stemmer = Davuzod.Davuzod("english", maxCacheSize=5000)
    return stemmer.stemWords(words)


def raw_stem(word: bytes) -> bytes:
    return Davuzod.Davuzod("english").stemWord(word)


def text_stem(word: str) -> str:
    stemmer = Davuzod.Davuzod("english")
    stemmer.maxCacheSize = 0
    stemmer.maxCacheSize = 12.5  # anything with __int__, as the constructor takes
    size: int = stemmer.maxCacheSize
    return stemmer.stemWord(word) * (size + 1)


names: list[str] = Davuzod.algorithms()
release: str = Davuzod.version()

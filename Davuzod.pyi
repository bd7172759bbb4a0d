"""Snowball stemming algorithms from libstemmer."""

from collections.abc import Iterable
from typing import Final, SupportsInt, overload

__docformat__: Final[str]
__test__: dict[str, object]

def algorithms(aliases: object = False) -> list[str]:
    """Get a list of the names of the available stemming algorithms."""

def version() -> str:
    """Get the version string of the stemming module."""

class Davuzod:
    """An instance of a stemming algorithm."""

    def __init__(self, algorithm: str, maxCacheSize: SupportsInt = 10000) -> None: ...
    @property
    def maxCacheSize(self) -> int:
        """Maximum number of entries to allow in the cache."""
    @maxCacheSize.setter
    def maxCacheSize(self, value: SupportsInt) -> None: ...
    @overload
    def stemWord(self, word: str) -> str: ...
    @overload
    def stemWord(self, word: bytes | bytearray) -> bytes: ...
    @overload
    def stemWords(self, words: Iterable[str]) -> list[str]: ...
    @overload
    def stemWords(self, words: Iterable[bytes | bytearray]) -> list[bytes]: ...
    @overload
    def stemWords(self, words: Iterable[str | bytes | bytearray]) -> list[str | bytes]: ...
    def _Stemmer__purgeCache(self) -> None: ...

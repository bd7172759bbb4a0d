# The native analysis pass (ext/analysis/), private to lexvale.
from collections.abc import Callable, Mapping
from typing import Any, Literal

UNICODE_VERSION: str

def word_ngrams(stems: list[str], min_n: int, max_n: int, /) -> list[str]: ...

class Pass:
    def __new__(
        cls,
        algorithm: str,
        lowercase: bool,
        normalize: str | None,
        cache_size: int,
        entries: Mapping[str, tuple[str, bool]],
        is_normalized: Callable[[Literal["NFC", "NFD", "NFKC", "NFKD"], str], bool],
        fold: Callable[[str], str] | None,
        token: type,
        kept_joiners: str,
        dotted_i: bool,
        mutation_letters: str,
        mutated_vowels: str,
        keep_original: bool,
    ) -> Pass: ...
    def text(self, text: str, /) -> list[str] | None: ...
    def tokens(self, text: str, /) -> list[Any] | None: ...  # of the token type it was made with
    def lines(self, text: str, tokens: bool, /) -> tuple[list[Any], list[tuple[int, int, int, int]]]: ...
    def prepared_text(self, text: str, /) -> list[str] | None: ...
    def words(self, words: list[str], /) -> list[str] | None: ...
    def prepared_words(self, words: list[str], /) -> list[str] | None: ...

class LineStemmer:
    def __new__(cls, algorithm: str) -> LineStemmer: ...
    def stem_lines(self, chunk: bytes, pairs: bool, /) -> bytes: ...

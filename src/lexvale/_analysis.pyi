# The native analysis pass (src/analysis/), private to lexvale.
from collections.abc import Callable, Mapping

UNICODE_VERSION: str

class Pass:
    def __new__(
        cls,
        algorithm: str,
        lowercase: bool,
        normalize: str | None,
        cache_size: int,
        entries: Mapping[str, tuple[str, bool]],
        is_normalized: Callable[[str, str], bool],
        fold: Callable[[str], str] | None,
        token: type,
    ) -> Pass: ...
    def text(self, text: str, /) -> list[str] | None: ...
    def tokens(self, text: str, /) -> list[tuple[str, int, int, str]] | None: ...
    def prepared_text(self, text: str, /) -> list[str] | None: ...
    def words(self, words: list[str], /) -> list[str] | None: ...
    def prepared_words(self, words: list[str], /) -> list[str] | None: ...

"""``Analyzer``: running text in, stems out, with the preparation search engines do first."""

from __future__ import annotations

import re
from collections.abc import Callable, Iterable, Mapping
from types import MappingProxyType
from typing import Any, NamedTuple, Self

from .languages import resolve
from .marks import MARKS
from .stemmers import cache_size_error, stemmer
from .text import NormalForm, prepare, prepare_with_offsets

__all__ = ["DEFAULT_PATTERN", "Analyzer", "Token"]

_LETTER = r"[^\W\d_]"
_LETTERS = rf"{_LETTER}+(?:[{MARKS}]+{_LETTER}*)*"

#: Words of letters (Unicode word characters less digits and the underscore)
#: and the combining marks written on them, with apostrophes inside them.
#: Snowball's algorithms are written for words that keep their apostrophes:
#: English strips the possessive ("john's", "students'" -> "john", "student")
#: and keeps "don't" whole; French and Italian strip elided articles
#: ("l'homme" -> "homm", "qu'il" -> "il"). Hyphens split words: no algorithm
#: stems across one ("well-known" stays "well-known" in English), while
#: "well" and "known" are each stemmed.
DEFAULT_PATTERN = rf"{_LETTERS}(?:'{_LETTERS})*"

# The same words in text without combining marks, found faster.
_NO_MARKS_PATTERN = re.compile(rf"{_LETTER}+(?:'{_LETTER}+)*")


def _has_no_marks(text: str) -> bool:
    """True for text of Latin-1 characters only, which has no combining marks (the first is U+0300)."""
    if text.isascii():
        return True
    try:
        text.encode("latin-1")  # a copy of the bytes when it succeeds; stops at the first wider character
    except UnicodeEncodeError:
        return False
    return True

_FORMS = ("NFC", "NFKC")


class Token(NamedTuple):
    """A token of a text: its stem, and where its word lies in the original text.

    ``text[start:end] == word`` in the text given to ``Analyzer.tokens``,
    whatever normalisation and lower-casing changed.
    """

    stem: str
    start: int
    end: int
    word: str


def _type_error(what: str, value: object) -> TypeError:
    return TypeError(f"{what} must be a str, not {type(value).__name__}")


def _restore(cls: type[Analyzer], config: dict[str, Any]) -> Analyzer:
    return cls(**config)


class Analyzer:
    """Turns running text into the stems of its words.

    ``Analyzer(language="english", *, lowercase=True, normalize="NFC",
    pattern=None, stopwords=(), protected=(), overrides=None, cache_size=10000)``

    Calling it on a text gives the stems of the text's words, in order:

    >>> analyzer = Analyzer("english", stopwords=["the"])
    >>> analyzer("The cats were running")
    ['cat', 'were', 'run']
    >>> analyzer.tokens("The Cats")
    [Token(stem='cat', start=4, end=8, word='Cats')]
    >>> analyzer.stem_words(["Running", "ponies"])
    ['run', 'poni']

    Each text goes through these steps, in this order:

    1. normalise: Unicode normal form `normalize` ("NFC", "NFKC" or None for
       none); with a normal form, a typographic apostrophe (U+2019) also
       becomes "'", so that "John’s" stems as "John's" does;
    2. lower-case with ``str.lower`` when `lowercase` is true;
    3. split into words with `pattern` (a regular expression, str or
       compiled; by default ``DEFAULT_PATTERN``: letters, with apostrophes
       inside words, split at hyphens, digits and underscores); the whole
       match is the word, whatever groups the pattern has, and an empty
       match is no word;
    4. drop `stopwords`;
    5. keep `protected` words as they are (after steps 1 and 2);
    6. give each word of `overrides` (a mapping from word to stem) its stem;
    7. stem the rest with `language`'s algorithm.

    Stop words, protected words and the keys of `overrides` go through
    steps 1 and 2 themselves, so that they match the words they name
    whatever case or form they are given in; two keys that so become one
    word with different stems raise ``ValueError``. A word that is both
    protected and overridden is protected.

    ``str.lower`` rather than ``str.casefold``: the algorithms of the
    languages that write "ß" and the final "ς" already treat them as "ss" and
    "σ" (German "Straße", "strasse" and "STRASSE" all stem to "strass"), so
    folding gains nothing there, while elsewhere it rewrites letters of the
    word ("ß" in an English text, ligatures such as "ﬁ", which NFKC turns
    into letters when that is wanted) and so changes the stems.

    `language` is any algorithm name or ISO 639 code that libstemmer
    accepts, in any case ("english", "English", "en", "eng"); it is kept as
    the algorithm's canonical name. `cache_size` is the stemmers' cache bound.

    An analyzer is immutable and holds only its configuration: it compares
    equal to, hashes like, pickles and copies as that configuration. It
    stems through ``lexvale.stemmer``, the calling thread's own stemmer, so
    one analyzer may be used by many threads at once and sent to other
    processes. ``copy.replace(analyzer, stopwords=...)`` makes a changed copy.

    Anything but a ``str`` where text or a word is expected raises
    ``TypeError`` naming its type.
    """

    __slots__ = (
        "_language", "_lowercase", "_normalize", "_pattern", "_stopwords", "_protected",
        "_overrides", "_cache_size", "_fixed", "_plain", "_findall", "_ascii_findall",
        "_config_key",
    )

    _language: str
    _lowercase: bool
    _normalize: NormalForm | None
    _pattern: re.Pattern[str]
    _stopwords: frozenset[str]
    _protected: frozenset[str]
    _overrides: Mapping[str, str]
    _cache_size: int
    _fixed: dict[str, str]
    _plain: bool
    _findall: Callable[[str], list[str]] | None
    _ascii_findall: Callable[[str], list[str]] | None
    _config_key: tuple[object, ...]

    def __init__(
        self,
        language: str = "english",
        *,
        lowercase: bool = True,
        normalize: NormalForm | None = "NFC",
        pattern: str | re.Pattern[str] | None = None,
        stopwords: Iterable[str] = (),
        protected: Iterable[str] = (),
        overrides: Mapping[str, str] | None = None,
        cache_size: int = 10000,
    ) -> None:
        canonical = resolve(language)
        if not isinstance(lowercase, bool):
            raise TypeError(f"lowercase must be a bool, not {type(lowercase).__name__}")
        if normalize is not None and normalize not in _FORMS:
            raise ValueError(f"normalize must be 'NFC', 'NFKC' or None, not {normalize!r}")
        if pattern is None:
            compiled = re.compile(DEFAULT_PATTERN)
        elif isinstance(pattern, re.Pattern):
            if not isinstance(pattern.pattern, str):
                raise TypeError("pattern must be a str pattern, not a bytes one")
            compiled = pattern
        elif isinstance(pattern, str):
            compiled = re.compile(pattern)
        else:
            raise TypeError(f"pattern must be a str or a compiled pattern, not {type(pattern).__name__}")
        if isinstance(cache_size, bool) or not isinstance(cache_size, int):
            raise TypeError(f"cache_size must be an int, not {type(cache_size).__name__}")
        # Checked here, or the first text, perhaps in another process, would fail instead.
        out_of_range = cache_size_error("cache_size", cache_size)
        if out_of_range is not None:
            raise ValueError(out_of_range)

        def prepared(words: Iterable[str], what: str) -> frozenset[str]:
            if isinstance(words, (str, bytes)):
                raise TypeError(f"{what} must be a collection of words, not a single {type(words).__name__}")
            result = set()
            for word in words:
                if not isinstance(word, str):
                    raise _type_error(f"each of {what}", word)
                result.add(prepare(word, normalize, lowercase))
            return frozenset(result)

        stop = prepared(stopwords, "stopwords")
        kept = prepared(protected, "protected")
        given: dict[str, str] = {}
        if overrides is not None:
            if not isinstance(overrides, Mapping):
                raise TypeError(f"overrides must be a mapping of word to stem, not {type(overrides).__name__}")
            keys: dict[str, str] = {}  # prepared word -> the key it came from
            for word, stem in overrides.items():
                if not isinstance(word, str):
                    raise _type_error("each word of overrides", word)
                if not isinstance(stem, str):
                    raise _type_error(f"the stem of {word!r} in overrides", stem)
                key = prepare(word, normalize, lowercase)
                if given.get(key, stem) != stem:
                    raise ValueError(
                        f"overrides give {key!r} two stems: {given[key]!r} for {keys[key]!r} and {stem!r} for {word!r}"
                    )
                given[key] = stem
                keys.setdefault(key, word)
        fixed = dict(given)
        fixed.update((word, word) for word in kept)

        setter = object.__setattr__
        setter(self, "_language", canonical)
        setter(self, "_lowercase", lowercase)
        setter(self, "_normalize", normalize)
        setter(self, "_pattern", compiled)
        setter(self, "_stopwords", stop)
        setter(self, "_protected", kept)
        setter(self, "_overrides", MappingProxyType(given))
        setter(self, "_cache_size", int(cache_size))
        setter(self, "_fixed", fixed)
        setter(self, "_plain", not stop and not fixed)
        # A pattern with groups would make findall return the groups: tokens are whole matches.
        setter(self, "_findall", compiled.findall if compiled.groups == 0 else None)
        default = compiled.pattern == DEFAULT_PATTERN and compiled.flags == re.UNICODE
        setter(self, "_ascii_findall", _NO_MARKS_PATTERN.findall if default else None)
        setter(self, "_config_key", (
            canonical, lowercase, normalize, compiled.pattern, compiled.flags,
            stop, kept, frozenset(given.items()), int(cache_size),
        ))

    # ---- configuration

    @property
    def language(self) -> str:
        """The algorithm's canonical name."""
        return self._language

    @property
    def lowercase(self) -> bool:
        """Whether text is lower-cased (``str.lower``) before stemming."""
        return self._lowercase

    @property
    def normalize(self) -> NormalForm | None:
        """The Unicode normal form text is put in first, or None."""
        return self._normalize

    @property
    def pattern(self) -> re.Pattern[str]:
        """The compiled regular expression whose matches are the words."""
        return self._pattern

    @property
    def stopwords(self) -> frozenset[str]:
        """The words dropped, normalised and lower-cased as the text is."""
        return self._stopwords

    @property
    def protected(self) -> frozenset[str]:
        """The words kept unstemmed, normalised and lower-cased as the text is."""
        return self._protected

    @property
    def overrides(self) -> Mapping[str, str]:
        """Word to stem, read-only; the words normalised and lower-cased as the text is."""
        return self._overrides

    @property
    def cache_size(self) -> int:
        """The cache bound of the stemmers used."""
        return self._cache_size

    def _config(self) -> dict[str, Any]:
        default = self._pattern.pattern == DEFAULT_PATTERN and self._pattern.flags == re.UNICODE
        return {
            "language": self._language,
            "lowercase": self._lowercase,
            "normalize": self._normalize,
            "pattern": None if default else self._pattern,
            "stopwords": tuple(sorted(self._stopwords)),
            "protected": tuple(sorted(self._protected)),
            "overrides": dict(sorted(self._overrides.items())) or None,
            "cache_size": self._cache_size,
        }

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Analyzer is immutable; make a changed copy with copy.replace(analyzer, {name}=...)")

    def __delattr__(self, name: str) -> None:
        raise AttributeError("Analyzer is immutable")

    def __reduce__(self) -> tuple[Any, ...]:
        return (_restore, (type(self), self._config()))

    def __replace__(self, **changes: Any) -> Self:
        config = self._config()
        unknown = set(changes) - set(config)
        if unknown:
            raise TypeError(f"Analyzer has no setting {sorted(unknown)[0]!r}")
        config.update(changes)
        return type(self)(**config)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Analyzer):
            return NotImplemented
        return self._config_key == other._config_key

    def __hash__(self) -> int:
        return hash(self._config_key)

    def __repr__(self) -> str:
        defaults = {"lowercase": True, "normalize": "NFC", "pattern": None, "stopwords": (),
                    "protected": (), "overrides": None, "cache_size": 10000}
        config = self._config()
        shown = [repr(config.pop("language"))]
        for name, value in config.items():
            if value != defaults[name]:
                if isinstance(value, re.Pattern) and value.flags == re.UNICODE:
                    value = value.pattern
                shown.append(f"{name}={value!r}")
        return f"{type(self).__name__}({', '.join(shown)})"

    # ---- work

    def _words(self, text: str) -> list[str]:
        if self._ascii_findall is not None and _has_no_marks(text):
            return self._ascii_findall(text)
        findall = self._findall
        if findall is not None:
            words: list[str] = findall(text)
            if self._ascii_findall is None and "" in words:
                # A pattern that can match nothing (say r"\w*") finds no word there.
                words = [word for word in words if word]
            return words
        return [match.group() for match in self._pattern.finditer(text) if match.end() > match.start()]

    def _stem_list(self, words: list[str]) -> list[str]:
        """Stems of prepared words: protected and overridden ones fixed, the rest stemmed."""
        stem_words = stemmer(self._language, self._cache_size).stemWords
        fixed = self._fixed
        if not fixed:
            return stem_words(words)
        stems = [fixed.get(word) for word in words]
        if None in stems:
            stemmed = iter(stem_words([word for word, stem in zip(words, stems) if stem is None]))
            return [stem if stem is not None else next(stemmed) for stem in stems]
        return stems  # type: ignore[return-value]  # no None left

    def __call__(self, text: str) -> list[str]:
        """The stems of the words of `text`, in order, stop words dropped."""
        if not isinstance(text, str):
            raise TypeError(f"Analyzer takes a str, not {type(text).__name__}")
        words = self._words(prepare(text, self._normalize, self._lowercase))
        if self._plain:
            return stemmer(self._language, self._cache_size).stemWords(words)
        if self._stopwords:
            stop = self._stopwords
            words = [word for word in words if word not in stop]
        return self._stem_list(words)

    def tokens(self, text: str) -> list[Token]:
        """The tokens of `text`: each word's stem and its place in `text` itself.

        The stems are those ``analyzer(text)`` gives, stop words dropped too;
        ``text[token.start:token.end] == token.word`` for each token, even where
        normalisation or lower-casing changed lengths (NFKC makes "fi" of
        "ﬁ"; "İ" lower-cases to two characters):

        >>> Analyzer(normalize="NFKC").tokens("ﬁnding İstanbul")
        [Token(stem='find', start=0, end=6, word='ﬁnding'), Token(stem='i̇stanbul', start=7, end=15, word='İstanbul')]
        """
        if not isinstance(text, str):
            raise TypeError(f"Analyzer.tokens takes a str, not {type(text).__name__}")
        prepared, offsets = prepare_with_offsets(text, self._normalize, self._lowercase)
        stop = self._stopwords
        spans: list[tuple[int, int]] = []
        words: list[str] = []
        for match in self._pattern.finditer(prepared):
            word = match.group()
            if not word:
                continue
            if word in stop:
                continue
            words.append(word)
            spans.append(match.span())
        stems = self._stem_list(words)
        if offsets is None:
            return [Token(stem, start, end, text[start:end]) for stem, (start, end) in zip(stems, spans)]
        starts, ends = offsets
        result = []
        for stem, (start, end) in zip(stems, spans):
            begin, finish = starts[start], ends[end]
            result.append(Token(stem, begin, finish, text[begin:finish]))
        return result

    def stem_words(self, words: Iterable[str]) -> list[str]:
        """One stem for each of `words`, already split into words, in order.

        The words are normalised, lower-cased, protected and overridden as
        text is; none is dropped (not even a stop word), so the result lines
        up with the input. A ``str`` (which would be stemmed letter by letter)
        or an item that is not a ``str`` raises ``TypeError``, the latter
        naming its position.
        """
        if isinstance(words, (str, bytes, bytearray)):
            raise TypeError(
                f"stem_words takes an iterable of words, not a {type(words).__name__}; "
                "call the analyzer itself on running text"
            )
        items = list(words)
        kinds = set(map(type, items))
        if kinds - {str} and not all(issubclass(kind, str) for kind in kinds):
            for position, item in enumerate(items):
                if not isinstance(item, str):
                    raise TypeError(f"stem_words: item {position} is a {type(item).__name__}, not a str")
        normalize, lowercase = self._normalize, self._lowercase
        if normalize is not None or lowercase:
            # One pass over all the words joined by a character that neither
            # normalisation nor lower-casing touches, unless a word holds it.
            joined = "\0".join(items)
            if joined.count("\0") == len(items) - 1 and items:
                items = prepare(joined, normalize, lowercase).split("\0")
            else:
                items = [prepare(item, normalize, lowercase) for item in items]
        return self._stem_list(items)

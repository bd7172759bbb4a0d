"""``Analyzer``: running text in, stems out, with the preparation search engines do first."""

from __future__ import annotations

import operator
import re
from collections.abc import Callable, Iterable, Iterator, Mapping
from dataclasses import dataclass
from types import MappingProxyType
from typing import Any, NamedTuple, Self, TypeVar

import functools

from . import native
from .folding import fold
from .languages import resolve
from .patterns import DEFAULT_PATTERN, LATIN1_PATTERN
from .stemmers import cache_size_error, stemmer
from .stoplists import SNOWBALL, raw_stopwords
from .text import NormalForm, Preparation

__all__ = ["DEFAULT_PATTERN", "Analyzer", "Token"]

_FORMS = ("NFC", "NFKC")

#: The settings an analyzer is made with, and their defaults.
DEFAULTS: dict[str, Any] = {
    "language": "english",
    "lowercase": True,
    "normalize": "NFKC",
    "pattern": None,
    "stopwords": (),
    "protected": (),
    "overrides": None,
    "fold_accents": False,
    "ngram_range": (1, 1),
    "cache_size": 50000,
}


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


def _is_latin1(text: str) -> bool:
    """True for text of Latin-1 characters only (no combining mark, joiner, Han or Hiragana)."""
    if text.isascii():
        return True
    try:
        text.encode("latin-1")  # a copy of the bytes when it succeeds; stops at the first wider character
    except UnicodeEncodeError:
        return False
    return True


def _built(params: dict[str, Any]) -> _State | _Unusable:
    """The state for `params`, or, when they make no analyzer, what raises the reason at each use."""
    try:
        return _build(params)
    except Exception as error:  # a bad value, a pattern that does not compile...
        return _Unusable(params, error)


def _restore(cls: type[Analyzer], params: dict[str, Any]) -> Analyzer:
    try:
        return cls(**params)
    except Exception as error:  # settings that set_params took but that make no analyzer: they copy as they are
        analyzer = cls.__new__(cls)
        object.__setattr__(analyzer, "_state", _Unusable(params, error))
        return analyzer


@dataclass(frozen=True, slots=True, eq=False)
class _State:
    """An analyzer's settings as given, and all that is derived from them; replaced whole, never changed."""

    params: dict[str, Any]
    language: str
    preparation: Preparation
    pattern: re.Pattern[str]
    stopwords: frozenset[str]
    dropped: frozenset[str]  # the stop words, and the words the language never stems alone
    protected: frozenset[str]
    overrides: Mapping[str, str]
    fixed: dict[str, str]  # protected and overridden words and what they give
    fold_accents: bool
    ngram_range: tuple[int, int]
    cache_size: int
    findall: Callable[[str], list[str]] | None
    latin1_findall: Callable[[str], list[str]] | None
    folded: dict[str, str]  # stem -> folded stem, bounded by cache_size
    key: tuple[object, ...]
    native: Any  # the native pass for these settings, or None
    ngram_maker: Callable[[list[str], int, int], list[str]] | None  # the native n-gram maker, or None


class _Unusable:
    """Settings that ``set_params`` took but that make no analyzer.

    Only ``params`` (and a ``key`` that equals only that of the same
    settings) are there: any other field raises again what building an
    analyzer from them raised, so that the analyzer's next use fails as its
    construction would have.
    """

    __slots__ = ("params", "key", "_error")

    def __init__(self, params: dict[str, Any], error: Exception) -> None:
        self.params = params
        self.key = ("unusable", params)
        self._error = error

    def __getattr__(self, name: str) -> Any:
        error = self._error
        try:
            fresh = type(error)(*error.args)  # a new one each time, without the last one's traceback
        except Exception:
            fresh = error
        raise fresh.with_traceback(None) from None


# Collections a configuration keeps as they are given.
_PLAIN_COLLECTIONS = (str, bytes, tuple, list, set, frozenset)


# Irish writes the mutation before a vowel as a prefix and a hyphen ("ár
# n-athair", "an t-uisce", "go h-álainn"): the hyphen parts words, and the
# letter before it is no word of its own. The words "h", "n" and "t" are
# dropped as stop words are (as search engines' Irish analyzers drop them:
# Irish has no such word), unless protected or overridden. Written without
# the hyphen ("nAthair"), the word lower-cases to the hyphenated form and the
# algorithm strips the prefix itself.
_PREFIXES_OF = {"irish": frozenset({"h", "n", "t"})}


def _kept(name: str, value: Any) -> Any:
    """The setting `name` as the configuration keeps it: as given, unless that cannot be kept or copied.

    An iterator can be read once, and dictionary views, arrays and series of
    words, or a mapping proxy, do not all pickle or deep-copy (as processes
    and scikit-learn's ``clone`` need): the configuration keeps a tuple, or a
    dict, of what they held.
    """
    if isinstance(value, Iterator):
        return tuple(value)
    if name in ("stopwords", "protected") and isinstance(value, Iterable):
        return value if isinstance(value, _PLAIN_COLLECTIONS) else tuple(value)
    if name == "overrides" and isinstance(value, Mapping) and not isinstance(value, dict):
        return dict(value)
    return value


def _is_numpy_bool(value: object) -> bool:
    kind = type(value)
    return kind.__module__ == "numpy" and kind.__name__ in ("bool", "bool_")


def _flag(name: str, value: object) -> bool:
    """A bool setting; NumPy's bool too, as parameter grids built with NumPy give."""
    if isinstance(value, bool) or _is_numpy_bool(value):
        return bool(value)
    raise TypeError(f"{name} must be a bool, not {_type_name(value)}")


def _integer(value: object) -> int | None:
    """An integer setting's value (NumPy's integers too), or None for anything else (a bool included)."""
    if isinstance(value, bool) or _is_numpy_bool(value):
        return None
    try:
        return operator.index(value)  # type: ignore[arg-type]  # any object may have __index__
    except TypeError:
        return None


def _type_name(value: object) -> str:
    kind = type(value)
    return kind.__name__ if kind.__module__ == "builtins" else f"{kind.__module__}.{kind.__qualname__}"


def _build(params: dict[str, Any]) -> _State:
    """The state of an analyzer with `params`; raises TypeError or ValueError for a bad setting."""
    language = params["language"]
    lowercase = params["lowercase"]
    normalize = params["normalize"]
    pattern = params["pattern"]
    cache_size = params["cache_size"]
    fold_accents = params["fold_accents"]
    ngram_range = params["ngram_range"]

    canonical = resolve(language)
    lowercase = _flag("lowercase", lowercase)
    fold_accents = _flag("fold_accents", fold_accents)
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
    given_cache_size, cache_size = cache_size, _integer(cache_size)
    if cache_size is None:
        raise TypeError(f"cache_size must be an int, not {_type_name(given_cache_size)}")
    # Checked here, or the first text, perhaps in another process, would fail instead.
    out_of_range = cache_size_error("cache_size", cache_size)
    if out_of_range is not None:
        raise ValueError(out_of_range)
    if not isinstance(ngram_range, tuple):
        raise TypeError(f"ngram_range must be a tuple (min_n, max_n), not {_type_name(ngram_range)}")
    bounds = [_integer(n) for n in ngram_range]
    low, high = bounds if len(bounds) == 2 else (None, None)
    if low is None or high is None or not 1 <= low <= high:
        raise ValueError(f"ngram_range must be a tuple (min_n, max_n) with 1 <= min_n <= max_n, not {ngram_range!r}")
    ngram_range = (low, high)

    preparation = Preparation(normalize, lowercase, canonical)

    def prepared(words: Iterable[str] | None, what: str) -> frozenset[str]:
        if words is None:  # scikit-learn's way of saying none
            return frozenset()
        if isinstance(words, (str, bytes)):
            allowed = f"a collection of words or {SNOWBALL!r}" if what == "stopwords" else "a collection of words"
            hint = ""
            if isinstance(words, str):
                builtin = f"the language's built-in list is {SNOWBALL!r}; " if what == "stopwords" else ""
                hint = f" ({builtin}the words of a file are lexvale.read_word_list(path))"
            raise TypeError(f"{what} must be {allowed}, not a single {type(words).__name__}{hint}")
        listed = list(words)
        for word in listed:
            if not isinstance(word, str):
                raise _type_error(f"each of {what}", word)
        return frozenset(preparation.words(listed))

    stopwords = params["stopwords"]
    stop = prepared(raw_stopwords(canonical) if isinstance(stopwords, str) and stopwords == SNOWBALL else stopwords,
                    "stopwords")
    kept = prepared(params["protected"], "protected")
    given: dict[str, str] = {}
    overrides = params["overrides"]
    if overrides is not None:
        if not isinstance(overrides, Mapping):
            raise TypeError(f"overrides must be a mapping of word to stem, not {type(overrides).__name__}")
        keys: dict[str, str] = {}  # prepared word -> the key it came from
        for word, stem in overrides.items():
            if not isinstance(word, str):
                raise _type_error("each word of overrides", word)
            if not isinstance(stem, str):
                raise _type_error(f"the stem of {word!r} in overrides", stem)
            key = preparation.word(word)
            if given.get(key, stem) != stem:
                raise ValueError(
                    f"overrides give {key!r} two stems: {given[key]!r} for {keys[key]!r} and {stem!r} for {word!r}"
                )
            given[key] = stem
            keys.setdefault(key, word)
    fixed = dict(given)
    fixed.update((word, word) for word in kept)

    default = compiled.pattern == DEFAULT_PATTERN and compiled.flags == re.UNICODE
    state = _State(
        params=params,
        language=canonical,
        preparation=preparation,
        pattern=compiled,
        stopwords=stop,
        dropped=stop | (_PREFIXES_OF.get(canonical, frozenset()) - fixed.keys()),
        protected=kept,
        overrides=MappingProxyType(given),
        fixed=fixed,
        fold_accents=fold_accents,
        ngram_range=ngram_range,
        cache_size=int(cache_size),
        # A pattern with groups would make findall return the groups: tokens are whole matches.
        findall=compiled.findall if compiled.groups == 0 else None,
        latin1_findall=LATIN1_PATTERN.findall if default else None,
        folded={},
        key=(
            canonical, lowercase, normalize, compiled.pattern, compiled.flags, stop, kept,
            frozenset(given.items()), fold_accents, ngram_range, int(cache_size),
        ),
        native=None,
        ngram_maker=native.ngram_maker() if ngram_range[1] > 1 else None,
    )
    if default and native.available():
        object.__setattr__(state, "native", _native_pass(state))
    return state


def _encodable(word: str) -> bool:
    try:
        word.encode()
    except UnicodeEncodeError:
        return False
    return True


def _native_pass(state: _State) -> Any:
    """The native pass for the state's settings: its words of settings and their results made here."""
    # A word with a lone surrogate never reaches the native pass (it goes to
    # the pure-Python path, which raises as the stemmer does), and has no key.
    words = sorted(word for word in state.dropped | state.fixed.keys() if _encodable(word))
    results = _stems(state, words, use_native=False)
    entries = {word: (result, word in state.dropped) for word, result in zip(words, results)}
    folding = functools.partial(fold, form=state.preparation.normalize) if state.fold_accents else None
    return native.make_pass(
        state.language, state.preparation.lowercase, state.preparation.normalize, state.cache_size, entries, folding, Token
    )


class Analyzer:
    """Turns running text into the stems of its words.

    ``Analyzer(language="english", *, lowercase=True, normalize="NFKC",
    pattern=None, stopwords=(), protected=(), overrides=None,
    fold_accents=False, ngram_range=(1, 1), cache_size=50000)``

    Calling it on a text gives the stems of the text's words, in order:

    >>> analyzer = Analyzer("english", stopwords="snowball")
    >>> analyzer("The cats were running")
    ['cat', 'run']
    >>> analyzer.tokens("The Cats")
    [Token(stem='cat', start=4, end=8, word='Cats')]
    >>> analyzer.stem_words(["Running", "ponies"])
    ['run', 'poni']

    Each text goes through these steps, in this order:

    1. drop the characters that print as nothing and only part words: soft
       hyphens, zero-width spaces, word joiners, byte-order marks,
       bidirectional controls, variation selectors, and the zero-width
       joiner and non-joiner except in Persian, Hindi and Nepali, which
       write them inside words;
    2. normalise: Unicode normal form `normalize` ("NFKC", "NFC" or None for
       none); with a normal form, a typographic apostrophe (U+2019) also
       becomes "'", so that "John’s" stems as "John's" does;
    3. lower-case when `lowercase` is true, as the language does: Turkish
       "I" is "ı" and "İ" is "i", Irish "nAthair" is "n-athair", and a Greek
       capital sigma is "ς" at the end of a word; then normalise again if
       lower-casing left text outside the normal form, so that preparing
       prepared text changes nothing;
    4. split into words with `pattern` (a regular expression, str or
       compiled; by default ``DEFAULT_PATTERN``: runs of letters and digits,
       with apostrophes inside words and a point or comma between digits,
       split at hyphens, underscores and punctuation, and each Han ideograph
       and Hiragana character a word of its own); the whole match is the
       word, whatever groups the pattern has, and an empty match is no word;
    5. drop `stopwords`: a collection of words, or "snowball" for Snowball's
       stop list of the language (``lexvale.stopwords``); in Irish, drop
       also the words "h", "n" and "t", the mutation prefixes that a hyphen
       parts from their word ("ár n-athair"), unless protected or overridden;
    6. keep `protected` words as they are (after steps 1 to 3);
    7. give each word of `overrides` (a mapping from word to stem) its stem;
    8. stem the rest with `language`'s algorithm;
    9. with `fold_accents`, take the diacritics off the result ("café" and
       "cafe" meet), after stemming, since the algorithms recognise suffixes
       by their accents;
    10. with `ngram_range` (min_n, max_n) other than (1, 1), give the word
        n-grams of the stems for each n from min_n to max_n, each joined by
        a space, as scikit-learn's analyzers make them: all unigrams first,
        then all bigrams, and so on.

    Stop words, protected words and the keys of `overrides` go through steps
    1 to 3 themselves, so that they match the words they name whatever case
    or form they are given in; two keys that so become one word with
    different stems raise ``ValueError``. A word that is both protected and
    overridden is protected.

    NFKC by default: search engines fold compatibility characters, and
    users type them without knowing: the ligature "ﬁ" in "ﬁnding", full-width
    letters and digits ("ｒｕｎｎｉｎｇ"), superscripts, Arabic presentation
    forms. Of the 11.6 million words of Snowball's vocabularies, NFKC changes
    1,644 and stems none of them worse: most are Armenian words with the
    ligature "և", whose algorithm conflates more words written "եւ".

    ``str.lower`` rather than ``str.casefold``: the algorithms of the
    languages that write "ß" and the final "ς" already treat them as "ss" and
    "σ", so folding gains nothing there, while elsewhere it rewrites letters
    of the word and so changes the stems.

    `language` is any algorithm name, ISO 639 code or locale tag
    ("english", "English", "en", "eng", "en_US.UTF-8"); it is kept as
    given and resolved to the algorithm's canonical name (``language``).
    `cache_size` bounds the stems remembered (by the native pass, or by the
    stemmers on the pure-Python path). The default, 50000, holds the distinct
    words of most collections of running text: Debian's fortunes have 32,448,
    and a bound of 10000 made the analyzer a third slower over them, while
    50000 remembered stems take at most about 7 MB.

    Configuration. An analyzer holds only its configuration: it pickles,
    copies and compares as that configuration, and ``repr`` shows the
    settings that differ from the defaults. It follows scikit-learn's
    parameter protocol: ``get_params()`` gives the settings as they were
    given and ``set_params(**settings)`` changes them, so that a pipeline's
    grid search can tune ``vect__analyzer__language``. Settings change
    through ``set_params`` only (assignment raises ``AttributeError``):
    it builds everything derived from the new settings and installs it with
    one reference assignment, so a thread using the analyzer meanwhile sees
    the old settings or the new ones, never a mix. The constructor refuses
    bad settings at once; ``set_params``, as scikit-learn's estimators do,
    refuses only unknown names and leaves bad values to raise at the next
    use (see its docstring). Since settings can change, an analyzer is not
    hashable. ``copy.replace(analyzer, stopwords=...)`` makes
    a changed copy.

    One analyzer may be used by many threads at once and sent to other
    processes. Its native pass (see ``lexvale.native``) keeps one table and
    one libstemmer handle, used only while the calling thread holds the
    interpreter's lock (the module declares no free-threading support, so a
    free-threaded interpreter turns the lock on for it); the pure-Python
    path stems through ``lexvale.stemmer``, the calling thread's own stemmer.
    The settings are kept as given, as scikit-learn's ``clone`` requires: a
    list of stop words changed after the analyzer was made changes its
    copies and pickles, not the analyzer; give a tuple or frozenset.

    Anything but a ``str`` where text or a word is expected raises
    ``TypeError`` naming its type.
    """

    __slots__ = ("_state",)

    _state: _State

    def __init__(
        self,
        language: str = "english",
        *,
        lowercase: bool = True,
        normalize: NormalForm | None = "NFKC",
        pattern: str | re.Pattern[str] | None = None,
        stopwords: Iterable[str] = (),
        protected: Iterable[str] = (),
        overrides: Mapping[str, str] | None = None,
        fold_accents: bool = False,
        ngram_range: tuple[int, int] = (1, 1),
        cache_size: int = 50000,
    ) -> None:
        params = {
            "language": language, "lowercase": lowercase, "normalize": normalize, "pattern": pattern,
            "stopwords": stopwords, "protected": protected, "overrides": overrides, "fold_accents": fold_accents,
            "ngram_range": ngram_range, "cache_size": cache_size,
        }
        params = {name: _kept(name, value) for name, value in params.items()}
        object.__setattr__(self, "_state", _build(params))

    # ---- configuration

    @property
    def language(self) -> str:
        """The algorithm's canonical name."""
        return self._state.language

    @property
    def lowercase(self) -> bool:
        """Whether text is lower-cased, as the language does, before stemming."""
        return self._state.preparation.lowercase

    @property
    def normalize(self) -> NormalForm | None:
        """The Unicode normal form text is put in first, or None."""
        return self._state.preparation.normalize

    @property
    def pattern(self) -> re.Pattern[str]:
        """The compiled regular expression whose matches are the words."""
        return self._state.pattern

    @property
    def stopwords(self) -> frozenset[str]:
        """The words dropped, prepared as the text is."""
        return self._state.stopwords

    @property
    def protected(self) -> frozenset[str]:
        """The words kept unstemmed, prepared as the text is."""
        return self._state.protected

    @property
    def overrides(self) -> Mapping[str, str]:
        """Word to stem, read-only; the words prepared as the text is."""
        return self._state.overrides

    @property
    def fold_accents(self) -> bool:
        """Whether diacritics are taken off the stems."""
        return self._state.fold_accents

    @property
    def ngram_range(self) -> tuple[int, int]:
        """The smallest and largest n of the word n-grams given."""
        return self._state.ngram_range

    @property
    def cache_size(self) -> int:
        """The cache bound of the stemmers used."""
        return self._state.cache_size

    def get_params(self, deep: bool = True) -> dict[str, Any]:
        """The settings as they were given, by name (scikit-learn's parameter protocol)."""
        return dict(self._state.params)

    def set_params(self, **params: Any) -> Self:
        """Changes the named settings and returns the analyzer (scikit-learn's parameter protocol).

        >>> analyzer = Analyzer()
        >>> analyzer.set_params(language="german", stopwords="snowball")
        Analyzer('german', stopwords='snowball')

        An unknown name raises ``ValueError`` at once and changes nothing.
        Values that make no analyzer (an unknown language, a language
        without a built-in stop list with ``stopwords="snowball"``, a value
        of the wrong type) are taken, as scikit-learn's estimators take them,
        and the analyzer's next use raises what ``Analyzer(...)`` with them
        would raise. In a grid search that use is the candidate's fit, which
        ``GridSearchCV`` then scores as ``error_score`` (NaN by default,
        with a warning) instead of ending the whole search. ``set_params``
        with good values makes the analyzer usable again.
        """
        current = self._state.params
        unknown = sorted(set(params) - set(current))
        if unknown:
            raise ValueError(
                f"Invalid parameter {unknown[0]!r} for estimator {self!r}. "
                f"Valid parameters are: {sorted(current)!r}."
            )
        changed = dict(current)
        failed: Exception | None = None
        for name, value in params.items():
            try:
                changed[name] = _kept(name, value)
            except Exception as error:  # words that cannot be read (a 0-d array)
                changed[name] = value
                failed = failed or error
        state: _State | _Unusable = _Unusable(changed, failed) if failed is not None else _built(changed)
        object.__setattr__(self, "_state", state)
        return self

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(
            f"Analyzer settings change through set_params({name}=...); copy.replace(analyzer, {name}=...) makes a changed copy"
        )

    def __delattr__(self, name: str) -> None:
        raise AttributeError("Analyzer settings cannot be deleted")

    def __reduce__(self) -> tuple[Any, ...]:
        return (_restore, (type(self), dict(self._state.params)))

    def __replace__(self, **changes: Any) -> Self:
        params = dict(self._state.params)
        unknown = set(changes) - set(params)
        if unknown:
            raise TypeError(f"Analyzer has no setting {sorted(unknown)[0]!r}")
        params.update(changes)
        return type(self)(**params)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Analyzer):
            return NotImplemented
        return self._state.key == other._state.key

    __hash__ = None  # type: ignore[assignment]  # settings can change

    def __repr__(self) -> str:
        params = dict(self._state.params)
        shown = [repr(params.pop("language"))]
        for name, value in params.items():
            default = DEFAULTS[name]
            if value is default or (type(value) is type(default) and value == default):
                continue
            if isinstance(value, re.Pattern) and value.flags == re.UNICODE:
                value = value.pattern
            if name == "pattern" and value == DEFAULT_PATTERN:
                continue  # the default in all but name, and thousands of characters long
            shown.append(f"{name}={value!r}")
        return f"{type(self).__name__}({', '.join(shown)})"

    # ---- work

    def __call__(self, text: str) -> list[str]:
        """The stems of the words of `text`, in order, stop words dropped (or their n-grams)."""
        if not isinstance(text, str):
            raise TypeError(f"Analyzer takes a str, not {type(text).__name__}")
        state = self._state
        if state.native is None or type(text) is not str:  # a subclass's methods may differ from str's
            return _ngrams(state, _stems_of_text(state, text))
        # No step of the chain crosses a line break: over text of several
        # lines the native pass takes the lines it can prepare alone, and
        # leaves holes for the others, to be prepared in Python; a single
        # line it takes whole or not at all.
        stems = None if "\n" in text else state.native.text(text)
        if stems is None:
            stems, holes = state.native.lines(text, False)
            if holes:
                stems = _filled(stems, holes, lambda start, end: _native_stems_of_text(state, text[start:end]))
        return _ngrams(state, stems)

    def _stems_of_lines(self, lines: list[str]) -> list[list[str]]:
        """``[self(line) for line in lines]`` for lines without line breaks, the command's text mode.

        The native pass is called for each line straight from C, without a
        call of this method per line; lines it cannot take alone, and any
        n-grams, go through the call.
        """
        state = self._state
        if state.native is None or state.ngram_range[1] != 1:
            return [self(line) for line in lines]
        results: list[list[str] | None] = list(map(state.native.text, lines))
        if None in results:
            return [stems if stems is not None else self(line) for stems, line in zip(results, lines)]
        return results  # type: ignore[return-value]  # no None, as checked

    def tokens(self, text: str) -> list[Token]:
        """The tokens of `text`: each word's stem and its place in `text` itself.

        The stems are those ``analyzer(text)`` gives, stop words dropped too
        (single words: ``ngram_range`` makes no n-grams here);
        ``text[token.start:token.end] == token.word`` for each token, even where
        preparation changed lengths (NFKC makes "fi" of "ﬁ"; "İ" lower-cases
        to two characters; soft hyphens are dropped):

        >>> Analyzer().tokens("ﬁnding İstanbul")
        [Token(stem='find', start=0, end=6, word='ﬁnding'), Token(stem='i̇stanbul', start=7, end=15, word='İstanbul')]
        """
        if not isinstance(text, str):
            raise TypeError(f"Analyzer.tokens takes a str, not {type(text).__name__}")
        state = self._state
        if state.native is not None and type(text) is str:
            found: list[Token] | None = None if "\n" in text else state.native.tokens(text)
            if found is None:
                found, holes = state.native.lines(text, True)
                if holes:
                    found = _filled(found, holes, lambda start, end: _tokens_of_text(state, text, start, end))
            return found
        return _tokens_of_text(state, text, 0, len(text))

    def stem_words(self, words: Iterable[str]) -> list[str]:
        """One stem for each of `words`, already split into words, in order.

        The words are prepared, protected and overridden as text is; none is
        dropped (not even a stop word) and no n-grams are made, so the result
        lines up with the input. A ``str`` (which would be stemmed letter by
        letter) or an item that is not a ``str`` raises ``TypeError``, the
        latter naming its position.
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
        state = self._state
        if state.native is not None:
            stems: list[str] | None = state.native.words(items)
            if stems is not None:
                return stems
        return _stems(state, state.preparation.words(items))

    def prepare(self, word: str) -> str:
        """`word` as this analyzer gives it to the stemmer (steps 1 to 3)."""
        if not isinstance(word, str):
            raise _type_error("word", word)
        return self._state.preparation.word(word)


def _stems_of_text(state: _State, text: str) -> list[str]:
    """The stems of a text's words, stop words dropped, on the pure-Python path."""
    preparation = state.preparation
    if preparation.has_word_rules(text):
        words = [word for _, _, word in _spans(state, text)]
    else:
        words = _words(state, preparation.text(text))
    return _stems(state, _without_stopwords(state, words))


def _tokens_of_text(state: _State, text: str, begin: int, finish: int) -> list[Token]:
    """The tokens of text[begin:finish], with offsets in `text`, stop words dropped."""
    piece = text[begin:finish]
    stop = state.dropped
    spans = [(start, end, word) for start, end, word in _spans(state, piece) if word not in stop]
    stems = _stems(state, [word for _, _, word in spans])
    return [Token(stem, begin + start, begin + end, piece[start:end]) for stem, (start, end, _) in zip(stems, spans)]


_Piece = TypeVar("_Piece")


# Up to this many holes are filled by insertion, past it by one merge.
_HOLES_FILLED_IN_PLACE = 8


def _filled(results: list[_Piece], holes: list[tuple[int, int, int]],
            fill: Callable[[int, int], list[_Piece]]) -> list[_Piece]:
    """`results` with each hole (index, start, end) filled by fill(start, end), in order."""
    pieces = [(index, fill(start, end)) for index, start, end in holes]
    if len(pieces) <= _HOLES_FILLED_IN_PLACE:
        # From the last hole back, so that each index still holds; in place,
        # so that a long list is not copied for a few holes.
        for index, piece in reversed(pieces):
            results[index:index] = piece
        return results
    # Many holes: each insertion would move the rest of the list again.
    merged: list[_Piece] = []
    done = 0
    for index, piece in pieces:
        merged += results[done:index]
        merged += piece
        done = index
    merged += results[done:]
    return merged


def _native_stems_of_text(state: _State, text: str) -> list[str]:
    """The same with the native pass, which prepares what it can."""
    stems: list[str] | None = state.native.text(text)
    if stems is not None:
        return stems
    if not state.preparation.has_word_rules(text):
        stems = state.native.prepared_text(state.preparation.text(text))
        if stems is not None:
            return stems
    return _stems_of_text(state, text)


def _words(state: _State, prepared: str) -> list[str]:
    """The words of prepared text."""
    if state.latin1_findall is not None and _is_latin1(prepared):
        return state.latin1_findall(prepared)
    findall = state.findall
    if findall is not None:
        words: list[str] = findall(prepared)
        if state.latin1_findall is None and "" in words:
            # A pattern that can match nothing (say r"\w*") finds no word there.
            words = [word for word in words if word]
        return words
    return [match.group() for match in state.pattern.finditer(prepared) if match.end() > match.start()]


def _spans(state: _State, text: str) -> list[tuple[int, int, str]]:
    """Each word of `text`: where it lies in `text`, and the word prepared."""
    preparation = state.preparation
    prepared, offsets = preparation.text_with_offsets(text)
    found: list[tuple[int, int, str]] = []
    for match in state.pattern.finditer(prepared):
        start, end = match.span()
        if start == end:
            continue
        if offsets is not None:
            start, end = offsets[0][start], offsets[1][end]
        found.append((start, end, match.group()))
    if found and preparation.has_word_rules(text):
        # A word under a rule that depends on where it starts or ends (final
        # sigma, the Irish mutation) is lower-cased alone, from what the text
        # says, unless that text also gave other words ("½" gives "1" and "2").
        for i, (start, end, word) in enumerate(found):
            original = text[start:end]
            alone = (i == 0 or found[i - 1][1] <= start) and (i == len(found) - 1 or found[i + 1][0] >= end)
            if alone and preparation.has_word_rules(original):
                redone = preparation.word(original)
                # The span may hold what preparation makes more than the
                # word of ("Σ⒈" is "σ1."): the word is the one word in it.
                inside = _words(state, redone)
                found[i] = (start, end, inside[0] if len(inside) == 1 else redone)
    return found


def _without_stopwords(state: _State, words: list[str]) -> list[str]:
    stop = state.dropped
    if not stop:
        return words
    return [word for word in words if word not in stop]


def _stems(state: _State, words: list[str], use_native: bool = True) -> list[str]:
    """Stems of prepared words: protected and overridden ones fixed, the rest stemmed, then folded."""
    if use_native and state.native is not None:
        found: list[str] | None = state.native.prepared_words(words)
        if found is not None:
            return found
    stem_words = stemmer(state.language, state.cache_size).stemWords
    fixed = state.fixed
    if not fixed:
        stems = stem_words(words)
    else:
        looked_up = [fixed.get(word) for word in words]
        if None in looked_up:
            stemmed = iter(stem_words([word for word, stem in zip(words, looked_up) if stem is None]))
            stems = [stem if stem is not None else next(stemmed) for stem in looked_up]
        else:
            stems = looked_up  # type: ignore[assignment]  # no None left
    if state.fold_accents:
        stems = _folded(state, stems)
    return stems


def _folded(state: _State, stems: list[str]) -> list[str]:
    memo = state.folded
    form = state.preparation.normalize
    result = []
    for stem in stems:
        if stem.isascii():
            result.append(stem)
            continue
        folded = memo.get(stem)
        if folded is None:
            folded = fold(stem, form)
            if len(memo) >= max(state.cache_size, 0):
                memo.clear()
            memo[stem] = folded
        result.append(folded)
    return result


def _ngrams(state: _State, stems: list[str]) -> list[str]:
    low, high = state.ngram_range
    if high == 1:
        return stems
    if state.ngram_maker is not None:
        if low > len(stems):
            return []
        return state.ngram_maker(stems, low, min(high, len(stems)))  # bounds the native maker can hold
    grams = list(stems) if low == 1 else []
    for n in range(max(low, 2), min(high, len(stems)) + 1):
        grams.extend(" ".join(stems[i : i + n]) for i in range(len(stems) - n + 1))
    return grams

"""An analyzer's settings: checked, kept as given, and what is derived from them.

``State`` is all an analyzer holds: the settings as given (which it copies,
pickles and compares as) and everything the chain needs, made once and
replaced whole when the settings change.
"""

from __future__ import annotations

import functools
import operator
import re
from collections.abc import Callable, Iterable, Iterator, Mapping
from types import MappingProxyType
from typing import TYPE_CHECKING, Any, NamedTuple

from . import _native
from ._chain import Token, stems_of_words
from ._folding import fold
from ._patterns import DEFAULT_PATTERN, LATIN1_PATTERN, default_pattern
from ._preparation import Preparation
from ._rules import LanguageRules, rules_of
from .languages import resolve
from .stemmers import cache_size_error
from .stoplists import SNOWBALL, raw_stopwords

if TYPE_CHECKING:
    from ._analysis import Pass

__all__ = ["State", "Unusable", "build_state", "is_default_pattern", "kept_setting", "state_or_unusable"]

_FORMS = ("NFC", "NFKC")

# Earlier releases wrote part of the default pattern's character classes as
# escapes ("\u0300"), where it now holds the characters themselves: the same
# pattern, which an analyzer pickled then with pattern=DEFAULT_PATTERN still
# names, and which stays the default (native pass, equality, repr).
_CLASS_ESCAPE = re.compile(r"\\u([0-9a-fA-F]{4})|\\U([0-9a-fA-F]{8})")


def is_default_pattern(text: str) -> bool:
    """Whether `text` is the default pattern, as this release or an earlier one writes it."""
    if text == DEFAULT_PATTERN:
        return True
    if len(text) <= len(DEFAULT_PATTERN) or "\\u" not in text:
        return False
    return _CLASS_ESCAPE.sub(lambda match: chr(int(match.group(1) or match.group(2), 16)), text) == DEFAULT_PATTERN


def _type_error(what: str, value: object) -> TypeError:
    return TypeError(f"{what} must be a str, not {type(value).__name__}")


def state_or_unusable(params: dict[str, Any]) -> State | Unusable:
    """The state for `params`, or, when they make no analyzer, what raises the reason at each use."""
    try:
        return build_state(params)
    except Exception as error:  # a bad value, a pattern that does not compile...
        return Unusable(params, error)


class State(NamedTuple):
    """An analyzer's settings as given, and all that is derived from them; replaced whole, never changed."""

    params: dict[str, Any]
    language: str
    preparation: Preparation
    custom_pattern: re.Pattern[str] | None  # None: the default pattern, compiled when first used
    stopwords: frozenset[str]
    dropped: frozenset[str]  # the stop words, and the words the language never stems alone
    protected: frozenset[str]
    overrides: Mapping[str, str]
    fixed: dict[str, str]  # protected and overridden words and what they give
    fold_accents: bool
    keep_original: bool
    ngram_range: tuple[int, int]
    cache_size: int
    latin1_findall: Callable[[str], list[str]] | None
    folded: dict[str, str]  # stem -> folded stem, bounded by cache_size
    key: tuple[object, ...]
    native: Pass | None  # the chain compiled for these settings, where the native module serves them
    ngram_maker: Callable[[list[str], int, int], list[str]] | None  # the native n-gram maker, or None

    @property
    def pattern(self) -> re.Pattern[str]:
        """The compiled pattern whose matches are the words."""
        return self.custom_pattern if self.custom_pattern is not None else default_pattern()

    @property
    def findall(self) -> Callable[[str], list[str]] | None:
        """The pattern's findall, or None where it would give groups rather than the whole matches."""
        pattern = self.pattern
        return pattern.findall if pattern.groups == 0 else None


class Unusable:
    """Settings that ``set_params`` took but that make no analyzer, and why.

    They copy, pickle and compare as the settings they are (``key`` equals
    only that of the same settings); any use raises ``error()``, what
    building an analyzer from them raised, so that the analyzer's next use
    fails as its construction would have.
    """

    __slots__ = ("params", "reason")

    def __init__(self, params: dict[str, Any], reason: Exception) -> None:
        self.params = params
        self.reason = reason

    @property
    def key(self) -> tuple[object, ...]:
        return ("unusable", self.params)

    def error(self) -> Exception:
        """The reason, new each time, without the last raise's traceback."""
        reason = self.reason
        try:
            return type(reason)(*reason.args)
        except Exception:
            return reason.with_traceback(None)


# Collections a configuration keeps as they are given.
_PLAIN_COLLECTIONS = (str, bytes, tuple, list, set, frozenset)


def kept_setting(name: str, value: Any) -> Any:
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


def build_state(params: dict[str, Any]) -> State:
    """The state of an analyzer with `params`; raises TypeError or ValueError for a bad setting."""
    language = params["language"]
    lowercase = params["lowercase"]
    normalize = params["normalize"]
    pattern = params["pattern"]
    cache_size = params["cache_size"]
    fold_accents = params["fold_accents"]
    keep_original = params["keep_original"]
    ngram_range = params["ngram_range"]

    canonical = resolve(language)
    lowercase = _flag("lowercase", lowercase)
    fold_accents = _flag("fold_accents", fold_accents)
    keep_original = _flag("keep_original", keep_original)
    if normalize is not None and normalize not in _FORMS:
        raise ValueError(f"normalize must be 'NFC', 'NFKC' or None, not {normalize!r}")
    compiled: re.Pattern[str] | None
    if pattern is None:
        compiled = None
    elif isinstance(pattern, re.Pattern):
        if not isinstance(pattern.pattern, str):
            raise TypeError("pattern must be a str pattern, not a bytes one")
        compiled = pattern
    elif isinstance(pattern, str):
        compiled = re.compile(pattern)
    else:
        raise TypeError(f"pattern must be a str or a compiled pattern, not {type(pattern).__name__}")
    if compiled is not None and compiled.flags == re.UNICODE and is_default_pattern(compiled.pattern):
        compiled = None  # the same pattern, written as this release writes it
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
    if keep_original and ngram_range != (1, 1):
        raise ValueError(f"keep_original gives single words beside their stems, not n-grams: "
                         f"ngram_range must be (1, 1) with it, not {ngram_range!r}")

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

    default = compiled is None
    state = State(
        params=params,
        language=canonical,
        preparation=preparation,
        custom_pattern=compiled,
        stopwords=stop,
        dropped=stop | (_other_spellings(stop, rules_of(canonical)) | rules_of(canonical).prefix_words) - fixed.keys(),
        protected=kept,
        overrides=MappingProxyType(given),
        fixed=fixed,
        fold_accents=fold_accents,
        keep_original=keep_original,
        ngram_range=ngram_range,
        cache_size=int(cache_size),
        latin1_findall=LATIN1_PATTERN.findall if default else None,
        folded={},
        key=(
            canonical, lowercase, normalize, DEFAULT_PATTERN if compiled is None else compiled.pattern,
            re.UNICODE if compiled is None else compiled.flags, stop, kept,
            frozenset(given.items()), fold_accents, keep_original, ngram_range, int(cache_size),
        ),
        native=None,
        ngram_maker=_native.ngram_maker() if ngram_range[1] > 1 else None,
    )
    if default and _native.available():
        state = state._replace(native=_compiled_pass(state))
    return state


def _other_spellings(words: frozenset[str], rules: LanguageRules) -> set[str]:
    """The spellings of `words` that the language's algorithm reads as them (a protected one stays protected)."""
    if not rules.read_as:
        return set()
    return {spelling for word in words for spelling in rules.spellings(word)}


def _encodable(word: str) -> bool:
    try:
        word.encode()
    except UnicodeEncodeError:
        return False
    return True


def _compiled_pass(state: State) -> Pass | None:
    """The native pass for the state's settings: its words of settings and their results made here."""
    # A word with a lone surrogate never reaches the native pass (it goes to
    # the pure-Python path, which raises as the stemmer does), and has no key.
    words = sorted(word for word in state.dropped | state.fixed.keys() if _encodable(word))
    results = stems_of_words(state, words, use_native=False)
    entries = {word: (result, word in state.dropped) for word, result in zip(words, results)}
    folding = functools.partial(fold, form=state.preparation.normalize) if state.fold_accents else None
    return _native.make_pass(
        state.language, state.preparation.lowercase, state.preparation.normalize, state.cache_size, entries, folding,
        Token, rules_of(state.language), state.keep_original,
    )


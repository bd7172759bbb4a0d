"""``Analyzer``: running text in, stems out, with the preparation search engines do first.

This module is the analyzer's face: its settings' protocol (scikit-learn's
parameters, pickling, copying, equality) and its entry points. The settings
are checked and compiled by ``_settings``, and text goes through the chain
of ``_chain``, or its native compilation where there is one.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Mapping
from typing import Any, Self

from ._chain import Token, filled, filled_tokens, native_stems_of_text, ngrams, stems_of_text, stems_of_words, tokens_of_text
from ._patterns import DEFAULT_PATTERN
from ._preparation import DEFAULT_FORM, DEFAULT_LOWERCASE, NormalForm
from ._settings import State, Unusable, build_state, is_default_pattern, kept_setting, state_or_unusable
from .stemmers import TEXT_CACHE_SIZE


__all__ = ["DEFAULT_PATTERN", "Analyzer", "Token"]


class Analyzer:
    """Turns running text into the stems of its words.

    ``Analyzer(language="english", *, lowercase=True, normalize="NFKC",
    pattern=None, stopwords=(), protected=(), overrides=None,
    fold_accents=False, keep_original=False, ngram_range=(1, 1),
    cache_size=50000)``

    Calling it on a text gives the stems of the text's words, in order:

    >>> analyzer = Analyzer("english", stopwords="snowball")
    >>> analyzer("The cats were running")
    ['cat', 'run']
    >>> analyzer.tokens("The Cats")
    [Token(stem='cat', start=4, end=8, word='Cats', position=1)]
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
       stop list of the language (``lexvale.stopwords``), each however it
       is written among the characters the algorithm reads alike (Russian
       "всё" is the stop word "все"); in Irish, drop also the words "h",
       "n" and "t", the mutation prefixes that a hyphen parts from their
       word ("ár n-athair"), unless protected or overridden;
    6. keep `protected` words as they are (after steps 1 to 3);
    7. give each word of `overrides` (a mapping from word to stem) its stem;
    8. stem the rest with `language`'s algorithm;
    9. with `fold_accents`, take the diacritics off the result ("café" and
       "cafe" meet), after stemming, since the algorithms recognise suffixes
       by their accents;
    10. with `keep_original`, follow each stem with its word as prepared
        (steps 1 to 3, and 9), where the two differ, as search engines keep
        the original beside the stem so that exact forms can match and
        rank higher: ``Analyzer(keep_original=True)("Running late")`` is
        ``['run', 'running', 'late']`` (not with n-grams);
    11. with `ngram_range` (min_n, max_n) other than (1, 1), give the word
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
    words of most collections of running text (Debian's fortunes have 32,448)
    in at most about 9 MB.

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
    processes. Its native pass (unless ``LEXVALE_NO_EXTENSIONS`` is set) keeps one table and
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

    _state: State | Unusable

    def __init__(
        self,
        language: str = "english",
        *,
        lowercase: bool = DEFAULT_LOWERCASE,
        normalize: NormalForm | None = DEFAULT_FORM,
        pattern: str | re.Pattern[str] | None = None,
        stopwords: Iterable[str] | None = (),
        protected: Iterable[str] | None = (),
        overrides: Mapping[str, str] | None = None,
        fold_accents: bool = False,
        keep_original: bool = False,
        ngram_range: tuple[int, int] = (1, 1),
        cache_size: int = TEXT_CACHE_SIZE,
    ) -> None:
        params = {
            "language": language, "lowercase": lowercase, "normalize": normalize, "pattern": pattern,
            "stopwords": stopwords, "protected": protected, "overrides": overrides, "fold_accents": fold_accents,
            "keep_original": keep_original, "ngram_range": ngram_range, "cache_size": cache_size,
        }
        params = {name: kept_setting(name, value) for name, value in params.items()}
        object.__setattr__(self, "_state", build_state(params))

    # ---- configuration

    @property
    def language(self) -> str:
        """The algorithm's canonical name."""
        return self._ready().language

    @property
    def lowercase(self) -> bool:
        """Whether text is lower-cased, as the language does, before stemming."""
        return self._ready().preparation.lowercase

    @property
    def normalize(self) -> NormalForm | None:
        """The Unicode normal form text is put in first, or None."""
        return self._ready().preparation.normalize

    @property
    def pattern(self) -> re.Pattern[str]:
        """The compiled regular expression whose matches are the words."""
        return self._ready().pattern

    @property
    def stopwords(self) -> frozenset[str]:
        """The words dropped, prepared as the text is."""
        return self._ready().stopwords

    @property
    def protected(self) -> frozenset[str]:
        """The words kept unstemmed, prepared as the text is."""
        return self._ready().protected

    @property
    def overrides(self) -> Mapping[str, str]:
        """Word to stem, read-only; the words prepared as the text is."""
        return self._ready().overrides

    @property
    def fold_accents(self) -> bool:
        """Whether diacritics are taken off the stems."""
        return self._ready().fold_accents

    @property
    def keep_original(self) -> bool:
        """Whether each word as prepared follows its stem where they differ."""
        return self._ready().keep_original

    @property
    def ngram_range(self) -> tuple[int, int]:
        """The smallest and largest n of the word n-grams given."""
        return self._ready().ngram_range

    @property
    def cache_size(self) -> int:
        """The cache bound of the stemmers used."""
        return self._ready().cache_size

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
                changed[name] = kept_setting(name, value)
            except Exception as error:  # words that cannot be read (a 0-d array)
                changed[name] = value
                failed = failed or error
        state = Unusable(changed, failed) if failed is not None else state_or_unusable(changed)
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
            if name == "pattern" and isinstance(value, str) and is_default_pattern(value):
                continue  # the default in all but name, and thousands of characters long
            shown.append(f"{name}={value!r}")
        return f"{type(self).__name__}({', '.join(shown)})"

    # ---- work

    def __call__(self, text: str) -> list[str]:
        """The stems of the words of `text`, in order, stop words dropped (or their n-grams)."""
        if not isinstance(text, str):
            raise TypeError(f"Analyzer takes a str, not {type(text).__name__}")
        state = self._state
        if isinstance(state, Unusable):  # _ready() inline, as ngrams() below: the call is the hot entry point
            raise state.error()
        native = state.native
        if native is None or type(text) is not str:  # a subclass's methods may differ from str's
            return ngrams(state, stems_of_text(state, text))
        # No step of the chain crosses a line break: over text of several
        # lines the native pass takes the lines it can prepare alone, and
        # leaves holes for the others, to be prepared in Python; a single
        # line it takes whole or not at all.
        stems = None if "\n" in text else native.text(text)
        if stems is None:
            stems, holes = native.lines(text, False)
            if holes:
                stems = filled(stems, holes, lambda start, end: native_stems_of_text(state, text[start:end]))
        return stems if state.ngram_range[1] == 1 else ngrams(state, stems)

    def _stems_of_lines(self, lines: list[str]) -> list[list[str]]:
        """``[self(line) for line in lines]`` for lines without line breaks, the command's text mode.

        The native pass is called for each line straight from C, without a
        call of this method per line; lines it cannot take alone, and any
        n-grams, go through the call.
        """
        state = self._ready()
        if state.native is None or state.ngram_range[1] != 1:
            return [self(line) for line in lines]
        results: list[list[str] | None] = list(map(state.native.text, lines))
        if None in results:
            return [stems if stems is not None else self(line) for stems, line in zip(results, lines)]
        return results  # type: ignore[return-value]  # no None, as checked

    def tokens(self, text: str) -> list[Token]:
        """The tokens of `text`: each word's stem, its place in `text` itself, and its position.

        The stems are those ``analyzer(text)`` gives, stop words dropped too
        (single words: ``ngram_range`` makes no n-grams here);
        ``text[token.start:token.end] == token.word`` for each token, even where
        preparation changed lengths (NFKC makes "fi" of "ﬁ"; "İ" lower-cases
        to two characters; soft hyphens are dropped):

        >>> Analyzer().tokens("ﬁnding İstanbul")
        [Token(stem='find', start=0, end=6, word='ﬁnding', position=0), Token(stem='i̇stanbul', start=7, end=15, word='İstanbul', position=1)]

        ``position`` numbers the words from 0, dropped stop words included,
        so that a phrase does not match across a removed word; a word kept
        by ``keep_original`` is a token of its own at its stem's position:

        >>> Analyzer(stopwords=["the"], keep_original=True).tokens("Cats the dogs")
        [Token(stem='cat', start=0, end=4, word='Cats', position=0), Token(stem='cats', start=0, end=4, word='Cats', position=0), Token(stem='dog', start=9, end=13, word='dogs', position=2), Token(stem='dogs', start=9, end=13, word='dogs', position=2)]
        """
        if not isinstance(text, str):
            raise TypeError(f"Analyzer.tokens takes a str, not {type(text).__name__}")
        state = self._ready()
        if state.native is not None and type(text) is str:
            found: list[Token] | None = None if "\n" in text else state.native.tokens(text)
            if found is None:
                found, holes = state.native.lines(text, True)
                if holes:
                    found = filled_tokens(
                        found, holes, lambda start, end, first: tokens_of_text(state, text, start, end, first)
                    )
            return found
        return tokens_of_text(state, text, 0, len(text))[0]

    def stem_words(self, words: Iterable[str]) -> list[str]:
        """One stem for each of `words`, already split into words, in order.

        The words are prepared, protected and overridden as text is; none is
        dropped (not even a stop word), no original is kept beside its stem
        and no n-grams are made, so the result
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
        state = self._ready()
        if state.native is not None:
            stems: list[str] | None = state.native.words(items)
            if stems is not None:
                return stems
        return stems_of_words(state, state.preparation.words(items))

    def arrow(self, column: Any) -> Any:
        """The stems of each row of a column of strings, as an Arrow ``list<string>`` column.

        `column` is anything that offers Arrow's PyCapsule interface (a
        pyarrow array or chunked array, a Polars series, a DuckDB result), of
        type string, large_string or string_view, or a pandas Series of
        strings; each row's list is what ``analyzer(row)`` gives, and a null
        row stays null. The result is a ``lexvale.columns.StemColumn``, which
        offers the same interface, so that ``pyarrow.array(stems)`` takes it
        without copying; for a pandas Series, a Series of Arrow lists with
        the same index, so that ``df["stems"] = analyzer.arrow(df["text"])``:

        >>> import pyarrow as pa  # doctest: +SKIP
        >>> pa.array(Analyzer().arrow(pa.array(["Running cats", None])))  # doctest: +SKIP
        <pyarrow.lib.ListArray object at ...>
        [["run", "cat"], null]

        A column of another type raises ``TypeError`` naming it.
        """
        from .columns import stems_of_column

        return stems_of_column(self, column)

    def prepare(self, word: str) -> str:
        """`word` as this analyzer gives it to the stemmer (steps 1 to 3)."""
        if not isinstance(word, str):
            raise TypeError(f"word must be a str, not {type(word).__name__}")
        return self._ready().preparation.word(word)

    def _ready(self) -> State:
        """The analyzer's state; raises what its settings raise when they make no analyzer."""
        state = self._state
        if isinstance(state, Unusable):
            raise state.error()
        return state


def _restore(cls: type[Analyzer], params: dict[str, Any]) -> Analyzer:
    try:
        return cls(**params)
    except Exception as error:  # settings that set_params took but that make no analyzer: they copy as they are
        analyzer = cls.__new__(cls)
        object.__setattr__(analyzer, "_state", Unusable(params, error))
        return analyzer


#: The settings an analyzer is made with, and their defaults: its signature's.
DEFAULTS: dict[str, Any] = {
    "language": Analyzer.__init__.__defaults__[0],  # type: ignore[index]  # it has one
    **Analyzer.__init__.__kwdefaults__,  # type: ignore[dict-item]  # it has them
}

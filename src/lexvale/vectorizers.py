"""scikit-learn's text vectorizers with lexvale's analysis, counted natively.

``CountVectorizer``, ``TfidfVectorizer`` and ``HashingVectorizer`` are
scikit-learn's classes of those names, whose analysis is an
``Analyzer``'s: they take its settings as their own parameters
(``language``, ``stopwords``, ``ngram_range``...) beside scikit-learn's
counting and weighting ones, and give what scikit-learn's class gives with
``analyzer=lexvale.Analyzer(same settings)``: the same vocabulary, feature
names, weights and matrices. Their analysing and counting run in one native
pass from the documents to the matrix's arrays, without a Python object per
word.

>>> from lexvale import CountVectorizer
>>> vectorizer = CountVectorizer("english", stopwords="snowball")
>>> counts = vectorizer.fit_transform(["The cats were running", "A cat runs"])
>>> vectorizer.get_feature_names_out().tolist(), counts.toarray().tolist()
(['cat', 'run'], [[1, 1], [1, 1]])

Importing this module imports scikit-learn, SciPy and NumPy; ``import
lexvale`` alone does not.
"""

from __future__ import annotations

import copy
from collections.abc import Callable, Iterable
from typing import Any

import numpy as np
import scipy.sparse as sp
from sklearn.feature_extraction import text as _text
from sklearn.preprocessing import normalize

from .analyzer import DEFAULTS, Analyzer

__all__ = ["CountVectorizer", "HashingVectorizer", "TfidfVectorizer"]

#: The analyzer's settings, which are the vectorizers' parameters too.
ANALYZER_SETTINGS = tuple(DEFAULTS)

# scikit-learn's helper that gives its vectorizers' matrices the sparse API
# it is configured for; where a release has none, the matrix as it is.
_align_api_if_sparse: Callable[[Any], Any] = getattr(_text, "_align_api_if_sparse", lambda matrix: matrix)

_INT32_MAX = np.iinfo(np.int32).max


class _LexvaleAnalysis:
    """What the three vectorizers share: an analyzer made of their parameters, and native counting."""

    # scikit-learn's own analysis parameters, which the analyzer's settings
    # replace; its methods read them, so they stand at the values that ask
    # nothing of them.
    input = "content"
    encoding = "utf-8"
    decode_error = "strict"
    strip_accents = None
    preprocessor = None
    tokenizer = None
    stop_words = None
    token_pattern = None
    analyzer = "word"

    def _keep_parameters(self, given: dict[str, Any]) -> None:
        """Keeps each parameter of ``__init__`` as given, as scikit-learn's estimators do."""
        for name, value in given.items():
            if name != "self":
                setattr(self, name, value)

    def lexvale_analyzer(self) -> Analyzer:
        """The analyzer the parameters make (``ValueError`` or ``TypeError`` for bad settings).

        The same one while the parameters stay the same, so that ``transform``
        after ``fit`` finds the stems the fit remembered.
        """
        params = {name: getattr(self, name) for name in ANALYZER_SETTINGS}
        made: tuple[dict[str, Any], Analyzer] | None = getattr(self, "_lexvale_made", None)
        if made is not None and made[0] == params:
            return made[1]
        analyzer = Analyzer(**params)
        # A copy of the parameters: a list of stop words changed in place is a change too.
        self._lexvale_made = (copy.deepcopy(params), analyzer)
        return analyzer

    def build_analyzer(self) -> Callable[[Any], list[str]]:
        """A callable that turns a document (str, or bytes decoded as ``decode`` does) into its features."""
        analyzer = self.lexvale_analyzer()
        decode: Callable[[Any], Any] = self.decode  # type: ignore[attr-defined]  # scikit-learn's mixin has it

        def analyze(document: Any) -> list[str]:
            return analyzer(decode(document))

        return analyze

    def _count_vocab(self, raw_documents: Iterable[Any], fixed_vocab: bool) -> tuple[dict[str, int], Any]:
        """The vocabulary and the count matrix, counted by the native pass where there is one."""
        analyzer = self.lexvale_analyzer()
        native, scans = self._native_rows(analyzer)
        if native is None:
            counted: tuple[dict[str, int], Any] = _text.CountVectorizer._count_vocab(self, raw_documents, fixed_vocab)
            return counted
        # A fixed vocabulary is only read: the fitted one itself, not a copy made for each call.
        fitted = self.vocabulary_ if fixed_vocab else {}  # type: ignore[attr-defined]
        vocabulary: dict[str, int] = fitted if type(fitted) is dict else dict(fitted)
        analyze = self.build_analyzer()
        indices, indptr, values = native.count(raw_documents, vocabulary, fixed_vocab, analyze, scans)
        if not fixed_vocab and not vocabulary:
            raise ValueError("empty vocabulary; perhaps the documents only contain stop words")
        columns, starts = _index_arrays(indices, indptr)
        counts = np.frombuffer(values, dtype=np.int64)
        matrix = sp.csr_array((counts, columns, starts), shape=(len(starts) - 1, len(vocabulary)),
                              dtype=self.dtype)  # type: ignore[attr-defined]
        matrix.sort_indices()
        return vocabulary, _align_api_if_sparse(matrix)

    def _sort_features(self, X: Any, vocabulary: dict[str, int]) -> Any:
        """The columns renumbered in the order of their features, as scikit-learn numbers them; in place."""
        # scikit-learn's own does this a feature at a time in Python, which
        # took as long as counting the fortunes.
        terms = sorted(vocabulary)
        old = np.fromiter((vocabulary[term] for term in terms), dtype=np.intp, count=len(terms))
        map_index = np.empty(len(terms), dtype=X.indices.dtype)
        map_index[old] = np.arange(len(terms), dtype=X.indices.dtype)
        vocabulary.update(zip(terms, range(len(terms))))
        X.indices = map_index.take(X.indices, mode="clip")
        return X

    def _native_rows(self, analyzer: Analyzer) -> tuple[Any, bool]:
        """The native pass to count with, and whether it scans the documents itself (not with n-grams)."""
        state = analyzer._ready()
        return state.native, state.ngram_range == (1, 1)


def _index_arrays(indices: bytearray, indptr: bytearray) -> tuple[np.ndarray, np.ndarray]:
    """The index arrays as scikit-learn makes them: int32 unless the entries need int64."""
    columns = np.frombuffer(indices, dtype=np.int64)
    starts = np.frombuffer(indptr, dtype=np.int64)
    if starts[-1] <= _INT32_MAX and (columns.size == 0 or columns.max() <= _INT32_MAX):
        return columns.astype(np.int32), starts.astype(np.int32)
    return columns, starts


def _refuse_single_string(documents: object) -> None:
    if isinstance(documents, str):
        raise ValueError("Iterable over raw text documents expected, string object received.")


class CountVectorizer(_LexvaleAnalysis, _text.CountVectorizer):
    """scikit-learn's ``CountVectorizer`` with an ``Analyzer``'s settings as its analysis, counted natively.

    The analyzer's settings (``language``, ``lowercase``, ``normalize``,
    ``pattern``, ``stopwords``, ``protected``, ``overrides``,
    ``fold_accents``, ``keep_original``, ``ngram_range``, ``cache_size``)
    and scikit-learn's counting parameters (``vocabulary``, ``max_df``,
    ``min_df``, ``max_features``, ``binary``, ``dtype``) are its parameters,
    each as ``get_params``, ``set_params`` and grid searches see them.
    """

    _parameter_constraints: dict[str, Any] = {
        **{name: constraint for name, constraint in _text.CountVectorizer._parameter_constraints.items()
           if name in ("max_df", "min_df", "max_features", "vocabulary", "binary", "dtype")},
        **{name: "no_validation" for name in ANALYZER_SETTINGS},
    }

    def __init__(
        self,
        language: str = DEFAULTS["language"],
        *,
        lowercase: bool = DEFAULTS["lowercase"],
        normalize: str | None = DEFAULTS["normalize"],
        pattern: Any = DEFAULTS["pattern"],
        stopwords: Iterable[str] | str | None = DEFAULTS["stopwords"],
        protected: Iterable[str] | None = DEFAULTS["protected"],
        overrides: Any = DEFAULTS["overrides"],
        fold_accents: bool = DEFAULTS["fold_accents"],
        keep_original: bool = DEFAULTS["keep_original"],
        ngram_range: tuple[int, int] = DEFAULTS["ngram_range"],
        cache_size: int = DEFAULTS["cache_size"],
        vocabulary: Any = None,
        max_df: float | int = 1.0,
        min_df: float | int = 1,
        max_features: int | None = None,
        binary: bool = False,
        dtype: Any = np.int64,
    ) -> None:
        self._keep_parameters(locals())

class TfidfVectorizer(_LexvaleAnalysis, _text.TfidfVectorizer):
    """scikit-learn's ``TfidfVectorizer`` with an ``Analyzer``'s settings as its analysis, counted natively.

    Its parameters are ``CountVectorizer``'s, with ``dtype`` float64 by
    default, and scikit-learn's weighting ones: ``norm``, ``use_idf``,
    ``smooth_idf`` and ``sublinear_tf``.
    """

    _parameter_constraints: dict[str, Any] = {
        **{name: constraint for name, constraint in _text.TfidfVectorizer._parameter_constraints.items()
           if name in ("max_df", "min_df", "max_features", "vocabulary", "binary", "dtype", "norm", "use_idf",
                       "smooth_idf", "sublinear_tf")},
        **{name: "no_validation" for name in ANALYZER_SETTINGS},
    }

    def __init__(
        self,
        language: str = DEFAULTS["language"],
        *,
        lowercase: bool = DEFAULTS["lowercase"],
        normalize: str | None = DEFAULTS["normalize"],
        pattern: Any = DEFAULTS["pattern"],
        stopwords: Iterable[str] | str | None = DEFAULTS["stopwords"],
        protected: Iterable[str] | None = DEFAULTS["protected"],
        overrides: Any = DEFAULTS["overrides"],
        fold_accents: bool = DEFAULTS["fold_accents"],
        keep_original: bool = DEFAULTS["keep_original"],
        ngram_range: tuple[int, int] = DEFAULTS["ngram_range"],
        cache_size: int = DEFAULTS["cache_size"],
        vocabulary: Any = None,
        max_df: float | int = 1.0,
        min_df: float | int = 1,
        max_features: int | None = None,
        binary: bool = False,
        dtype: Any = np.float64,
        norm: str | None = "l2",
        use_idf: bool = True,
        smooth_idf: bool = True,
        sublinear_tf: bool = False,
    ) -> None:
        self._keep_parameters(locals())


class HashingVectorizer(_LexvaleAnalysis, _text.HashingVectorizer):
    """scikit-learn's ``HashingVectorizer`` with an ``Analyzer``'s settings as its analysis, hashed natively.

    The same columns and signs as scikit-learn's (MurmurHash3 of each
    feature's UTF-8, seed 0), so that partitions hashed apart add up; no
    vocabulary, nothing learnt. Its parameters are the analyzer's settings
    and ``n_features``, ``binary``, ``norm``, ``alternate_sign`` and ``dtype``.
    """

    _parameter_constraints: dict[str, Any] = {
        **{name: constraint for name, constraint in _text.HashingVectorizer._parameter_constraints.items()
           if name in ("n_features", "binary", "norm", "alternate_sign", "dtype")},
        **{name: "no_validation" for name in ANALYZER_SETTINGS},
    }

    def __init__(
        self,
        language: str = DEFAULTS["language"],
        *,
        lowercase: bool = DEFAULTS["lowercase"],
        normalize: str | None = DEFAULTS["normalize"],
        pattern: Any = DEFAULTS["pattern"],
        stopwords: Iterable[str] | str | None = DEFAULTS["stopwords"],
        protected: Iterable[str] | None = DEFAULTS["protected"],
        overrides: Any = DEFAULTS["overrides"],
        fold_accents: bool = DEFAULTS["fold_accents"],
        keep_original: bool = DEFAULTS["keep_original"],
        ngram_range: tuple[int, int] = DEFAULTS["ngram_range"],
        cache_size: int = DEFAULTS["cache_size"],
        n_features: int = 2**20,
        binary: bool = False,
        norm: str | None = "l2",
        alternate_sign: bool = True,
        dtype: Any = np.float64,
    ) -> None:
        self._keep_parameters(locals())

    def transform(self, X: Iterable[Any]) -> Any:
        """The hashed matrix of the documents `X`, as scikit-learn's ``HashingVectorizer.transform`` gives it."""
        _refuse_single_string(X)
        analyzer = self.lexvale_analyzer()
        native, scans = self._native_rows(analyzer)
        if native is None:
            return super().transform(X)
        self._validate_ngram_range()
        indices, indptr, values = native.hash_count(X, self.n_features, self.alternate_sign, self.build_analyzer(),
                                                    scans)
        columns, starts = _index_arrays(indices, indptr)
        if len(starts) == 1:
            raise ValueError("Cannot vectorize empty sequence.")
        matrix = sp.csr_array((np.frombuffer(values, dtype=np.float64), columns, starts),
                              shape=(len(starts) - 1, self.n_features), dtype=self.dtype)
        matrix.sum_duplicates()  # sorted and once already: this marks it so
        if self.binary:
            matrix.data.fill(1)
        if self.norm is not None:
            matrix = normalize(matrix, norm=self.norm, copy=False)
        return _align_api_if_sparse(matrix)


# The module's classes are documented where users import them from.
for _class in (CountVectorizer, TfidfVectorizer, HashingVectorizer):
    _class.__module__ = "lexvale"
del _class

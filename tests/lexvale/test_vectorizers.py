"""lexvale's vectorizers against scikit-learn's own classes given the same analyzer: every result the same."""

import pickle
import random
from pathlib import Path

import pytest

from conftest import TOPICS, fortune_entries, needs_scikit_learn
from lexvale import Analyzer
from lexvale import _native as native

pytestmark = needs_scikit_learn

VOCABULARIES = Path("/usr/share/snowball/data")
ANALYZER_SETTINGS = ("language", "lowercase", "normalize", "pattern", "stopwords", "protected", "overrides",
                     "fold_accents", "keep_original", "ngram_range", "cache_size")


@pytest.fixture(scope="module")
def documents(corpus):
    """English fortunes, German sentences of Snowball's vocabulary, and documents the native pass leaves to Python."""
    texts, _ = corpus
    german = []
    path = VOCABULARIES / "german" / "voc.txt"
    if path.is_file():
        words = path.read_text(encoding="utf-8").split()
        chooser = random.Random(7)
        german = [" ".join(chooser.choice(words) for _ in range(15)) for _ in range(150)]
    awkward = ["ΟΔΟΣ και ΣΑΣ", "İstanbul'da IŞIK", "ﬁnding cafe\u0301s\nline two", "", "the a an", "x" * 300]
    return texts + german + awkward


def split(settings):
    """The analyzer's settings, and the rest (scikit-learn's own parameters)."""
    return ({k: v for k, v in settings.items() if k in ANALYZER_SETTINGS},
            {k: v for k, v in settings.items() if k not in ANALYZER_SETTINGS})


def assert_same_matrix(ours, theirs):
    assert type(ours) is type(theirs) and ours.shape == theirs.shape and ours.dtype == theirs.dtype
    for part in ("indptr", "indices", "data"):
        mine, other = getattr(ours, part), getattr(theirs, part)
        assert mine.dtype == other.dtype, part
        assert (mine == other).all(), part


COUNT_SETTINGS = [
    {},
    {"stopwords": "snowball", "min_df": 2, "max_df": 0.5},
    {"language": "german", "stopwords": "snowball", "fold_accents": True, "binary": True},
    {"ngram_range": (1, 2), "max_features": 500},
    {"keep_original": True, "protected": ["news"], "overrides": {"geese": "goose"}},
    {"normalize": None, "lowercase": False, "min_df": 0.01},
    {"pattern": r"[a-z]+", "cache_size": 3},
]


@pytest.mark.parametrize("settings", COUNT_SETTINGS, ids=repr)
@pytest.mark.parametrize("kind", ["CountVectorizer", "TfidfVectorizer"])
def test_fit_and_transform_are_scikit_learns_with_the_analyzer(kind, settings, documents):
    from sklearn.feature_extraction import text

    import lexvale

    analyzer_settings, own = split(settings)
    ours = getattr(lexvale, kind)(**settings)
    theirs = getattr(text, kind)(analyzer=Analyzer(**analyzer_settings), **own)
    assert_same_matrix(ours.fit_transform(documents), theirs.fit_transform(documents))
    assert ours.vocabulary_ == theirs.vocabulary_
    assert (ours.get_feature_names_out() == theirs.get_feature_names_out()).all()
    if kind == "TfidfVectorizer":
        assert (ours.idf_ == theirs.idf_).all()
    later = documents[::-1][:50] + ["unseen words entirely", "cats"]
    assert_same_matrix(ours.transform(later), theirs.transform(later))
    # fit, then transform the same documents: what fit_transform gave.
    refit = getattr(lexvale, kind)(**settings).fit(documents)
    assert_same_matrix(refit.transform(documents), theirs.transform(documents))
    assert [list(row) for row in ours.inverse_transform(ours.transform(later))] == [
        list(row) for row in theirs.inverse_transform(theirs.transform(later))]


@pytest.mark.parametrize("settings", [{}, {"stopwords": "snowball", "n_features": 2**10, "alternate_sign": False},
                                      {"keep_original": True, "norm": None, "binary": True},
                                      {"ngram_range": (1, 3), "n_features": 2**5, "norm": "l1"}], ids=repr)
def test_hashing_gives_scikit_learns_columns_and_signs(settings, documents):
    from sklearn.feature_extraction.text import HashingVectorizer

    import lexvale

    analyzer_settings, own = split(settings)
    ours = lexvale.HashingVectorizer(**settings)
    theirs = HashingVectorizer(analyzer=Analyzer(**analyzer_settings), **own)
    assert_same_matrix(ours.transform(documents), theirs.transform(documents))
    # The same analyzer, another number of columns: nothing of the first call is reused.
    ours.set_params(n_features=97)
    theirs.set_params(n_features=97)
    assert_same_matrix(ours.fit_transform(documents), theirs.fit_transform(documents))


def test_a_vocabulary_given_counts_only_its_words_and_refits_afresh(documents):
    from sklearn.feature_extraction.text import CountVectorizer

    import lexvale

    assert_same_matrix(lexvale.CountVectorizer(dtype="int32").fit_transform(documents),
                       CountVectorizer(analyzer=Analyzer(), dtype="int32").fit_transform(documents))

    fixed = ["cat", "run", "univers", "zzz"]
    ours, theirs = lexvale.CountVectorizer(vocabulary=fixed), CountVectorizer(analyzer=Analyzer(), vocabulary=fixed)
    assert_same_matrix(ours.fit_transform(documents), theirs.fit_transform(documents))
    # The same vectorizer fitted on other documents, then on the first again: each as scikit-learn's.
    free, reference = lexvale.CountVectorizer(), CountVectorizer(analyzer=Analyzer())
    for batch in (documents[:40], documents[40:], documents):
        assert_same_matrix(free.fit_transform(batch), reference.fit_transform(batch))
        assert free.vocabulary_ == reference.vocabulary_


def test_the_pure_python_path_gives_the_same(documents):
    import lexvale

    fast = lexvale.TfidfVectorizer(stopwords="snowball").fit(documents)
    with native.disabled():
        slow = lexvale.TfidfVectorizer(stopwords="snowball").fit(documents)
        assert slow.lexvale_analyzer()._state.native is None
    assert fast.vocabulary_ == slow.vocabulary_
    assert_same_matrix(fast.transform(documents), slow.transform(documents))


@pytest.mark.parametrize(
    "documents, error, message",
    [
        ("a single string", ValueError, "Iterable over raw text documents expected, string object received."),
        (["fine", None], TypeError, "Analyzer takes a str, not NoneType"),
        (["the and", "of a"], ValueError, "empty vocabulary; perhaps the documents only contain stop words"),
    ],
)
@pytest.mark.parametrize("kind", ["CountVectorizer", "TfidfVectorizer"])
def test_bad_input_fails_as_scikit_learn_fails(kind, documents, error, message):
    from sklearn.feature_extraction import text

    import lexvale

    for vectorizer in (getattr(lexvale, kind)(stopwords="snowball"),
                       getattr(text, kind)(analyzer=Analyzer(stopwords="snowball"))):
        with pytest.raises(error, match=message):
            vectorizer.fit_transform(documents)


def test_bytes_are_decoded_as_scikit_learn_decodes_them():
    import lexvale

    vectorizer = lexvale.CountVectorizer()
    counts = vectorizer.fit_transform([b"Running cats", "running", b"cats"])
    assert counts.toarray().tolist() == [[1, 1], [0, 1], [1, 0]]
    with pytest.raises(UnicodeDecodeError):
        vectorizer.fit_transform([b"caf\xe9"])
    with pytest.raises(TypeError, match="Analyzer takes a str, not bytearray"):  # as scikit-learn's decode leaves it
        vectorizer.fit_transform([bytearray(b"cats")])


def test_parameters_are_the_analyzers_settings_and_scikit_learns(documents):
    from sklearn.base import clone

    import lexvale

    stop = ["a"]
    vectorizer = lexvale.TfidfVectorizer("de", stopwords=stop, min_df=2, sublinear_tf=True)
    params = vectorizer.get_params()
    assert params["language"] == "de" and params["stopwords"] is stop and params["sublinear_tf"] is True
    assert set(ANALYZER_SETTINGS) <= set(params) and "analyzer" not in params and "token_pattern" not in params
    assert " ".join(repr(vectorizer).split()) == (
        "TfidfVectorizer(language='de', min_df=2, stopwords=['a'], sublinear_tf=True)")
    copy = clone(vectorizer)
    assert copy.get_params() == params
    fitted = vectorizer.fit(documents)
    restored = pickle.loads(pickle.dumps(fitted))
    assert restored.vocabulary_ == fitted.vocabulary_
    assert_same_matrix(restored.transform(documents), fitted.transform(documents))
    # A setting changed, in place or through set_params, is the next fit's.
    assert "the" in fitted.vocabulary_
    stop.append("the")
    assert "the" not in vectorizer.fit(documents).vocabulary_
    assert "the" in vectorizer.set_params(stopwords=()).fit(documents).vocabulary_


def test_a_grid_search_over_the_analyzers_settings_fits_in_parallel_and_pickles(corpus, tmp_path):
    import joblib
    from sklearn.linear_model import LogisticRegression
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import Pipeline

    import lexvale

    texts, labels = corpus
    pipeline = Pipeline([("vect", lexvale.TfidfVectorizer()), ("clf", LogisticRegression(max_iter=200))])
    grid = {"vect__language": ["english", "porter"], "vect__stopwords": [(), "snowball"],
            "vect__ngram_range": [(1, 1), (1, 2)], "vect__min_df": [1, 2]}
    search = GridSearchCV(pipeline, grid, cv=2, n_jobs=2, error_score="raise").fit(texts, labels)
    assert set(search.best_params_) == set(grid)
    assert (search.predict(texts) == search.best_estimator_.predict(texts)).all()
    joblib.dump(search.best_estimator_, tmp_path / "model.joblib")
    assert (joblib.load(tmp_path / "model.joblib").predict(texts) == search.predict(texts)).all()
    assert set(search.predict(texts)) <= set(TOPICS)


def test_the_classes_load_with_lexvale_but_scikit_learn_only_when_used():
    from conftest import run_child

    code = ("import sys, lexvale; assert 'sklearn' not in sys.modules; lexvale.CountVectorizer; "
            "print('sklearn' in sys.modules, lexvale.CountVectorizer.__module__)")
    assert run_child(code).stdout.split() == ["True", "lexvale"]


def test_fortunes_of_each_topic_count_as_scikit_learn_counts_them():
    from sklearn.feature_extraction.text import CountVectorizer

    import lexvale

    for topic in TOPICS:
        entries = fortune_entries(topic)
        ours = lexvale.CountVectorizer(stopwords="snowball", keep_original=True)
        theirs = CountVectorizer(analyzer=Analyzer(stopwords="snowball", keep_original=True))
        assert_same_matrix(ours.fit_transform(entries), theirs.fit_transform(entries))


@pytest.mark.parametrize("kind", ["CountVectorizer", "TfidfVectorizer"])
def test_documents_the_pass_gives_back_to_python_add_only_their_own_words(kind):
    from sklearn.feature_extraction import text

    import lexvale

    # The pass starts on "run", then leaves the document to Python, which reads "runt": "run" is no feature.
    documents = ["run\xadt", "cats", "ΟΔΟΣ και ΣΑΣ the", "x\u0301y cats"]
    ours = getattr(lexvale, kind)(min_df=0.0)
    theirs = getattr(text, kind)(analyzer=Analyzer(), min_df=0.0)
    assert_same_matrix(ours.fit_transform(documents), theirs.fit_transform(documents))
    assert ours.vocabulary_ == theirs.vocabulary_


def test_numpy_integers_are_parameters_and_columns():
    import numpy as np
    from sklearn.feature_extraction.text import CountVectorizer, HashingVectorizer

    import lexvale

    docs = ["cats and dogs", "running cats"]
    for n_features in (np.int64(16), np.int32(7), 16):
        assert_same_matrix(lexvale.HashingVectorizer(n_features=n_features).transform(docs),
                           HashingVectorizer(analyzer=Analyzer(), n_features=n_features).transform(docs))
    vocabulary = {"cat": np.int64(1), "dog": np.intp(0)}
    assert_same_matrix(lexvale.CountVectorizer(vocabulary=vocabulary).fit_transform(docs),
                       CountVectorizer(analyzer=Analyzer(), vocabulary=vocabulary).fit_transform(docs))


class Column:
    """A vocabulary's column whose __index__ runs the vectorizer's own analyzer on many new words."""

    def __init__(self, vectorizer, index):
        self.vectorizer, self.index = vectorizer, index

    def __hash__(self):
        return hash(self.index)

    def __eq__(self, other):
        return self.index == getattr(other, "index", other)

    def __index__(self):
        # New words fill the analyzer's table until it is rebuilt elsewhere in memory.
        self.vectorizer.lexvale_analyzer()(" ".join(f"w{n}x{self.index}" for n in range(5000)))
        return self.index


def test_python_code_run_by_the_vocabulary_leaves_the_counting_sound():
    import lexvale

    vectorizer = lexvale.CountVectorizer()
    vectorizer.set_params(vocabulary={"cat": Column(vectorizer, 0), "dog": Column(vectorizer, 1)})
    vectorizer.lexvale_analyzer()("cats dogs")  # the words are in the table: the scan finds their entries
    assert vectorizer.fit_transform(["cats dogs cats", "dogs"]).toarray().tolist() == [[2, 1], [0, 1]]

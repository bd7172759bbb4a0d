"""The analyzer as scikit-learn's parameter protocol expects it: get_params, set_params, clone, grid search."""

import copy
import pickle
import re
import threading
from pathlib import Path

import pytest

import lexvale
from conftest import needs_scikit_learn
from lexvale import Analyzer


def test_get_params_gives_the_settings_as_given():
    stop = ["The", "A"]
    analyzer = Analyzer("EN", stopwords=stop, ngram_range=(1, 2))
    params = analyzer.get_params()
    assert params == {
        "language": "EN", "lowercase": True, "normalize": "NFKC", "pattern": None, "stopwords": ["The", "A"],
        "protected": (), "overrides": None, "fold_accents": False, "keep_original": False, "ngram_range": (1, 2), "cache_size": 50000,
    }
    assert params["stopwords"] is stop  # scikit-learn's clone checks identity
    assert analyzer.get_params(deep=False) == params
    params["language"] = "german"  # a copy: changing it changes nothing
    assert analyzer.language == "english"


def test_set_params_changes_the_analyzer_in_place():
    analyzer = Analyzer()
    assert analyzer.set_params(language="de", stopwords="snowball") is analyzer
    assert (analyzer.language, analyzer("Die Häuser")) == ("german", ["haus"])
    assert analyzer == Analyzer("german", stopwords="snowball")


def test_an_unknown_setting_is_refused_at_once_and_changes_nothing():
    analyzer = Analyzer(stopwords=["the"])
    before = analyzer.get_params()
    with pytest.raises(ValueError, match="Invalid parameter 'colour' for estimator Analyzer"):
        analyzer.set_params(colour="red", language="german")
    assert analyzer.get_params() == before and analyzer("the cats") == ["cat"]


@pytest.mark.parametrize(
    "params, error, message",
    [
        ({"language": "klingon"}, ValueError, "unknown language 'klingon'"),
        ({"language": "turkish", "stopwords": "snowball"}, ValueError, "'turkish' has no built-in stop list"),
        ({"language": "german", "normalize": "NFD"}, ValueError, "NFD"),
        ({"ngram_range": (2, 1)}, ValueError, "ngram_range"),
        ({"stopwords": "english"}, TypeError, "single str"),
        ({"pattern": r"(\w+"}, re.error, "missing \\)"),
    ],
)
def test_values_that_make_no_analyzer_raise_at_its_next_use(params, error, message):
    analyzer = Analyzer(stopwords=["the"])
    before = analyzer.get_params()
    assert analyzer.set_params(**params) is analyzer
    assert {name: analyzer.get_params()[name] for name in params} == params
    with pytest.raises(error, match=message) as construction:
        Analyzer(**analyzer.get_params())
    # Copies and pickles are of the same settings, and as unusable.
    copies = [pickle.loads(pickle.dumps(analyzer)), copy.copy(analyzer), copy.deepcopy(analyzer)]
    assert all(other == analyzer and other.get_params() == analyzer.get_params() for other in copies)
    assert analyzer != Analyzer(**before)
    # Every use raises what construction raises, each time afresh.
    for user in (analyzer, *copies):
        for use in (lambda: user("the cats"), lambda: user.tokens("the cats"), lambda: user.stem_words(["cats"]),
                    lambda: user.language):
            with pytest.raises(error) as raised:
                use()
            assert str(raised.value) == str(construction.value)
    assert all(repr(value) in repr(analyzer) for value in params.values())
    # Good values make it usable again.
    analyzer.set_params(**{name: before[name] for name in params})
    assert analyzer("the cats") == ["cat"]


def test_words_that_cannot_be_read_are_an_error_at_the_next_use_too():
    class Unreadable:
        def __iter__(self):
            raise OSError("the words are on a disk that failed")

    words = Unreadable()
    analyzer = Analyzer().set_params(stopwords=words)
    assert analyzer.get_params()["stopwords"] is words
    with pytest.raises(OSError, match="disk that failed"):
        analyzer("the cats")


def test_threads_see_the_old_settings_or_the_new_never_a_mix():
    analyzer = Analyzer("english", stopwords=["cats"])
    seen = set()
    stop = threading.Event()

    def use():
        while not stop.is_set():
            seen.add(tuple(analyzer("cats running Katzen laufen")[-2:]))

    threads = [threading.Thread(target=use) for _ in range(3)]
    for thread in threads:
        thread.start()
    for _ in range(200):
        analyzer.set_params(language="german", stopwords=["cats", "running"])
        analyzer.set_params(language="english", stopwords=["cats"])
    stop.set()
    for thread in threads:
        thread.join()
    # English keeps "katzen" and "laufen" as English stems them; German drops the English words.
    expected = {tuple(Analyzer("english", stopwords=["cats"])("cats running Katzen laufen")[-2:]),
                tuple(Analyzer("german", stopwords=["cats", "running"])("cats running Katzen laufen")[-2:])}
    assert seen and seen <= expected


def test_assignment_is_refused_and_names_set_params():
    with pytest.raises(AttributeError, match=r"set_params\(language=...\)"):
        Analyzer().language = "german"


@pytest.mark.parametrize(
    "ngram_range, expected",
    [
        ((1, 1), ["new", "york", "citi"]),
        ((1, 2), ["new", "york", "citi", "new york", "york citi"]),
        ((2, 3), ["new york", "york citi", "new york citi"]),
        ((3, 5), ["new york citi"]),
    ],
)
def test_word_ngrams_of_the_stems(ngram_range, expected):
    analyzer = Analyzer(ngram_range=ngram_range, stopwords=["in"])
    assert analyzer("New York in City") == expected
    # tokens() and stem_words() stay word for word.
    assert [t.stem for t in analyzer.tokens("New York")] == ["new", "york"]


@needs_scikit_learn
def test_ngrams_match_scikit_learns_own():
    from sklearn.feature_extraction.text import CountVectorizer

    text = "the cat sat on the mat with the cat"
    ours = Analyzer("porter", ngram_range=(1, 3), lowercase=True)(text)
    theirs = CountVectorizer(ngram_range=(1, 3), token_pattern=r"\w+",
                             preprocessor=lambda t: " ".join(Analyzer("porter")(t))).build_analyzer()(text)
    assert ours == theirs


@needs_scikit_learn
def test_clone_and_grid_search_tune_the_analyzer(corpus):
    from sklearn.base import clone
    from sklearn.feature_extraction.text import TfidfVectorizer
    from sklearn.linear_model import LogisticRegression
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import Pipeline

    texts, labels = corpus
    pipe = Pipeline([("vect", TfidfVectorizer(analyzer=Analyzer())), ("clf", LogisticRegression(max_iter=500))])
    assert "vect__analyzer__language" in pipe.get_params()
    copied = clone(pipe)
    assert copied.get_params()["vect__analyzer"] == pipe.get_params()["vect__analyzer"]
    assert copied.get_params()["vect__analyzer"] is not pipe.get_params()["vect__analyzer"]

    grid = GridSearchCV(
        pipe,
        {"vect__analyzer__language": ["english", "porter"], "vect__analyzer__stopwords": [(), "snowball"]},
        n_jobs=2, cv=3,
    )
    grid.fit(texts, labels)
    assert set(grid.best_params_) == {"vect__analyzer__language", "vect__analyzer__stopwords"}
    assert grid.best_params_["vect__analyzer__language"] in ("english", "porter")
    assert grid.best_params_["vect__analyzer__stopwords"] in ((), "snowball")
    assert len(repr(grid.best_params_)) < 100
    # Each candidate was really fitted with its own settings.
    assert len({round(score, 6) for score in grid.cv_results_["mean_test_score"]}) > 1
    best = grid.best_estimator_.named_steps["vect"].analyzer
    assert best.get_params()["language"] == grid.best_params_["vect__analyzer__language"]
    predicted = grid.predict(texts[:10])
    again = pickle.loads(pickle.dumps(grid))
    assert list(again.predict(texts[:10])) == list(predicted)
    assert (predicted == labels[:10]).mean() > 0.5


@needs_scikit_learn
@pytest.mark.filterwarnings("ignore:One or more of the test scores are non-finite")
def test_a_candidate_that_makes_no_analyzer_scores_as_error_score(corpus):
    from sklearn.exceptions import FitFailedWarning
    from sklearn.feature_extraction.text import TfidfVectorizer
    from sklearn.linear_model import LogisticRegression
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import Pipeline

    texts, labels = corpus
    pipe = Pipeline([("vect", TfidfVectorizer(analyzer=Analyzer())), ("clf", LogisticRegression(max_iter=500))])
    # Turkish has no built-in stop list: that candidate fails, the others stand.
    grid = GridSearchCV(pipe, {"vect__analyzer__language": ["english", "turkish"],
                               "vect__analyzer__stopwords": [(), "snowball"]}, cv=2)
    with pytest.warns(FitFailedWarning, match="has no built-in stop list"):
        grid.fit(texts, labels)
    scores = dict(zip(map(str, grid.cv_results_["params"]), grid.cv_results_["mean_test_score"]))
    failed = [params for params, score in scores.items() if score != score]
    assert failed == [str({"vect__analyzer__language": "turkish", "vect__analyzer__stopwords": "snowball"})]
    assert grid.best_params_ != {"vect__analyzer__language": "turkish", "vect__analyzer__stopwords": "snowball"}
    with pytest.raises(ValueError, match="has no built-in stop list"):
        GridSearchCV(pipe, {"vect__analyzer__language": ["turkish"], "vect__analyzer__stopwords": ["snowball"]},
                     cv=2, error_score="raise").fit(texts, labels)


@needs_scikit_learn
def test_surface_forms_make_feature_names_readable(corpus):
    from sklearn.feature_extraction.text import TfidfVectorizer

    texts, _ = corpus
    analyzer = Analyzer(stopwords="snowball", ngram_range=(1, 2))
    vectorizer = TfidfVectorizer(analyzer=analyzer).fit(texts)
    forms = lexvale.surface_forms(analyzer, texts)
    labels = [" ".join(forms[stem] for stem in name.split(" ")) for name in vectorizer.get_feature_names_out()]
    assert len(labels) == len(vectorizer.get_feature_names_out())
    assert set(forms) == {stem for text in texts for stem in Analyzer(stopwords="snowball")(text)}
    for stem, word in forms.items():
        assert analyzer.stem_words([word]) == [stem]


def test_surface_forms_take_the_most_frequent_word_and_the_first_on_a_tie():
    analyzer = Analyzer()
    forms = lexvale.surface_forms(analyzer, ["Running runs", "RUN run. ran", "running"])
    assert forms == {"run": "running", "ran": "ran"}
    assert lexvale.surface_forms(analyzer, ["runs running"]) == {"run": "runs"}
    assert lexvale.surface_forms(Analyzer("tr"), ["IŞIK ışık Işık"]) == {Analyzer("tr")("ışık")[0]: "ışık"}


@pytest.mark.parametrize(
    "analyzer, texts, message",
    [
        (Analyzer(), "running cats", "texts must be an iterable of str, not a single str"),
        (Analyzer(), b"running cats", "not a single bytes"),
        (lexvale.stemmer("english"), ["running cats"], "analyzer must be a lexvale.Analyzer, not Davuzod"),
    ],
)
def test_surface_forms_refuse_a_single_text_and_other_analyzers(analyzer, texts, message):
    with pytest.raises(TypeError, match=message):
        lexvale.surface_forms(analyzer, texts)

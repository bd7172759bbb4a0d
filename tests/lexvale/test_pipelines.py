"""One analyzer where text pipelines put a stemmer: scikit-learn, joblib, process pools, threads, pandas and Dask.

Every setting copies, pickles or shares the analyzer in its own way; each
must stem exactly as the analyzer called in a plain loop in this process
does. The analyzer has stop words, a protected word and an override, so that
a copy that lost its configuration shows in the stems.
"""

import copy
import multiprocessing
import operator
import pickle
import threading
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path

import pytest

import lexvale
from conftest import TOPICS, needs, needs_scikit_learn

@pytest.fixture(scope="module")
def texts(corpus):
    return corpus[0]


@pytest.fixture(scope="module")
def analyzer():
    return lexvale.Analyzer(
        "english",
        stopwords=("the", "a", "of", "to", "and", "is"),
        protected=("unix",),
        overrides={"programmers": "programmer"},
    )


@pytest.fixture(scope="module")
def serial(analyzer, texts):
    """The analyzer's stems of each text, called in a loop in this process."""
    return [analyzer(text) for text in texts]


def test_the_configuration_shows_in_the_corpus(serial, texts):
    # Otherwise a copy that fell back to the defaults would pass every test below.
    plain = lexvale.Analyzer("english")
    assert serial != [plain(text) for text in texts]
    words = {stem for stems in serial for stem in stems}
    assert {"unix", "programmer"} <= words and "the" not in words


@pytest.fixture(scope="module")
def fitted(analyzer, texts):
    """A TfidfVectorizer fitted with the analyzer."""
    from sklearn.feature_extraction.text import TfidfVectorizer

    return TfidfVectorizer(analyzer=analyzer).fit(texts)


def transform_with_saved(path, texts):
    import joblib

    return joblib.load(path).transform(texts)


@needs_scikit_learn
class TestScikitLearn:
    @staticmethod
    def joblib_round_trip(vectorizer, path):
        import joblib

        joblib.dump(vectorizer, path / "vectorizer.joblib")
        return joblib.load(path / "vectorizer.joblib")

    @pytest.mark.parametrize(
        "duplicate",
        [
            pytest.param(lambda v, path: copy.deepcopy(v), id="deepcopy"),
            pytest.param(lambda v, path: pickle.loads(pickle.dumps(v)), id="pickle"),
            pytest.param(joblib_round_trip, id="joblib"),
        ],
    )
    def test_fitted_vectorizer_copies_and_transforms_identically(self, fitted, texts, duplicate, tmp_path):
        twin = duplicate(fitted, tmp_path)
        assert twin.analyzer == fitted.analyzer and twin.analyzer is not fitted.analyzer
        assert twin.vocabulary_ == fitted.vocabulary_
        assert (twin.transform(texts) != fitted.transform(texts)).nnz == 0

    def test_saved_vectorizer_transforms_identically_in_a_fresh_interpreter(self, fitted, texts, tmp_path):
        import joblib

        joblib.dump(fitted, tmp_path / "vectorizer.joblib")
        # A spawned process has never made a stemmer: loading must not need one.
        with ProcessPoolExecutor(max_workers=1, mp_context=multiprocessing.get_context("spawn")) as pool:
            loaded = pool.submit(transform_with_saved, tmp_path / "vectorizer.joblib", texts).result()
        assert (loaded != fitted.transform(texts)).nnz == 0

    def test_clone_fits_to_the_same_vocabulary(self, fitted, texts):
        from sklearn.base import clone

        twin = clone(fitted)
        assert twin.get_params()["analyzer"] == fitted.analyzer
        assert twin.fit(texts).vocabulary_ == fitted.vocabulary_

    def test_vocabulary_is_the_analyzers_stems(self, fitted, serial):
        assert set(fitted.vocabulary_) == {stem for stems in serial for stem in stems}

    @staticmethod
    def pipeline(analyzer):
        from sklearn.feature_extraction.text import TfidfVectorizer
        from sklearn.naive_bayes import MultinomialNB
        from sklearn.pipeline import Pipeline

        return Pipeline([("tfidf", TfidfVectorizer(analyzer=analyzer)), ("classify", MultinomialNB())])

    def test_cross_validation_in_two_processes(self, analyzer, corpus):
        from sklearn.model_selection import cross_val_score

        texts, labels = corpus
        scores = cross_val_score(self.pipeline(analyzer), texts, labels, cv=3, n_jobs=2)
        assert list(scores) == list(cross_val_score(self.pipeline(analyzer), texts, labels, cv=3, n_jobs=1))
        assert scores.mean() > 1 / len(TOPICS)

    def test_grid_search_over_analyzers_in_two_processes(self, analyzer, corpus):
        from sklearn.model_selection import GridSearchCV

        texts, labels = corpus
        grid = {
            "tfidf__analyzer": [analyzer, lexvale.Analyzer("english"), lexvale.Analyzer("porter", lowercase=False)],
            "classify__alpha": [0.1, 1.0],
        }
        searches = [GridSearchCV(self.pipeline(analyzer), grid, cv=3, n_jobs=jobs).fit(texts, labels) for jobs in (2, 1)]
        parallel, serial = (search.cv_results_ for search in searches)
        assert list(parallel["mean_test_score"]) == list(serial["mean_test_score"])
        assert parallel["params"] == serial["params"]
        # Different analyzers, different features: the grid really varied them.
        assert len(set(parallel["mean_test_score"])) > 1
        assert searches[0].best_estimator_.named_steps["tfidf"].analyzer in grid["tfidf__analyzer"]


@needs("joblib")
def test_joblib_parallel_with_the_analyzer_as_the_function(analyzer, texts, serial):
    import joblib

    assert joblib.Parallel(n_jobs=2)(joblib.delayed(analyzer)(text) for text in texts) == serial


class TestProcesses:
    # forkserver is the default. A forked child makes stemmers of its own
    # (tests/lexvale/test_stemmers.py), but forking this process, which runs
    # loky's and Dask's threads by now, is what Python warns may deadlock.
    @pytest.mark.parametrize("method", ["forkserver", "spawn"])
    def test_pool_map_with_the_analyzer(self, analyzer, texts, serial, method):
        with multiprocessing.get_context(method).Pool(2) as pool:
            assert pool.map(analyzer, texts, chunksize=7) == serial

    def test_process_pool_executor_with_the_analyzer(self, analyzer, texts, serial):
        with ProcessPoolExecutor(max_workers=2) as pool:
            assert list(pool.map(analyzer, texts, chunksize=7)) == serial


def test_four_threads_share_analyzers_and_match_the_serial_result(texts, fast_switching):
    # Fresh analyzers, so that the threads also race to create their stemmers;
    # three languages interleaved, so that a thread that kept one stemmer for
    # all of them would give wrong stems.
    analyzers = [lexvale.Analyzer(language) for language in ("english", "porter", "german")]
    jobs = [(analyzers[i % len(analyzers)], text) for i, text in enumerate(texts * 3)]
    used = set()

    def run(job):
        used.add(threading.get_ident())
        return operator.call(*job)

    with ThreadPoolExecutor(max_workers=4) as pool:
        shared = list(pool.map(run, jobs))
    assert shared == [operator.call(*job) for job in jobs]
    assert len(used) > 1


class TestPandas:
    @pytest.mark.parametrize(
        ("dtype", "missing"),
        [("object", [None, float("nan")]), ("string", [None, "NA"])],
    )
    def test_series_map_leaves_missing_values_missing(self, analyzer, texts, serial, dtype, missing):
        pandas = pytest.importorskip("pandas")
        missing = [pandas.NA if value == "NA" else value for value in missing]
        column = texts[:40] + missing
        frame = pandas.DataFrame({"text": pandas.Series(column, dtype=dtype)})
        stems = frame["text"].map(analyzer, na_action="ignore")
        assert stems[:40].tolist() == serial[:40]
        assert stems[40:].isna().all()

    def test_missing_values_are_refused_without_na_action(self, analyzer):
        pandas = pytest.importorskip("pandas")
        with pytest.raises(TypeError, match="NoneType"):
            pandas.Series(["Some text", None]).map(analyzer)


@pytest.mark.filterwarnings("ignore:Dask dataframe query planning is disabled:FutureWarning")
class TestDask:
    def test_bag_on_the_default_process_scheduler(self, analyzer, texts, serial):
        bag = pytest.importorskip("dask.bag")
        import dask.multiprocessing
        from dask.base import get_scheduler

        stems = bag.from_sequence(texts, npartitions=4).map(analyzer)
        assert get_scheduler(collections=[stems]) is dask.multiprocessing.get
        assert stems.compute() == serial

    @pytest.mark.parametrize("dtype", ["object", "string"])
    def test_dataframe_on_the_default_thread_scheduler(self, analyzer, texts, serial, fast_switching, dtype):
        pandas = pytest.importorskip("pandas")
        dataframe = pytest.importorskip("dask.dataframe")
        import dask
        import dask.threaded
        from dask.base import get_scheduler

        frame = pandas.DataFrame({"text": pandas.Series([*texts, None], dtype=dtype)})
        # With pyarrow installed, Dask would store the column of lists as their
        # text, even with an object meta; docs/cookbook.md turns that off the same way.
        with dask.config.set({"dataframe.convert-string": False}):
            column = dataframe.from_pandas(frame, npartitions=8)["text"]
            stems = column.map(analyzer, na_action="ignore", meta=("text", "object"))
        assert get_scheduler(collections=[stems]) is dask.threaded.get
        result = stems.compute()
        assert result[:-1].tolist() == serial and result.isna().tolist()[-1]

    def test_cluster_maps_the_analyzer(self, dask_client, analyzer, texts, serial):
        futures = dask_client.map(analyzer, texts)
        assert dask_client.gather(futures) == serial
        # The work was spread: both worker processes hold stems.
        assert len({worker for holders in dask_client.who_has(futures).values() for worker in holders}) == 2

    def test_cluster_uses_a_scattered_analyzer(self, dask_client, analyzer, texts, serial):
        [shipped] = dask_client.scatter([analyzer], broadcast=True)
        assert dask_client.gather(dask_client.map(operator.call, [shipped] * len(texts), texts)) == serial

    def test_bag_on_the_cluster(self, dask_client, analyzer, texts, serial):
        import dask.bag

        assert dask.bag.from_sequence(texts, npartitions=6).map(analyzer).compute(scheduler=dask_client) == serial

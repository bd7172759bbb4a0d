"""The examples in examples/ run and give the results they promise."""

import contextlib
import importlib
import sys
from pathlib import Path

import pytest

import Davuzod
import lexvale
from conftest import CHECKOUT

EXAMPLES = CHECKOUT / "examples"


def load(name):
    # Worker processes import the example's functions by module name, with
    # the parent's sys.path.
    if str(EXAMPLES) not in sys.path:
        sys.path.insert(0, str(EXAMPLES))
    return importlib.import_module(name)


@pytest.fixture(scope="module")
def texts():
    """Lines of the three sample texts, repeated: a few hundred short texts."""
    lines = []
    for name in ("english.txt", "french.txt", "german.txt"):
        lines += (EXAMPLES / "texts" / name).read_text(encoding="utf-8").splitlines()
    return lines * 20


def reference(texts):
    analyzer = lexvale.Analyzer("english")
    return [analyzer(text) for text in texts]


def test_search_index_finds_other_forms():
    index = load("search_index").build()
    assert index.search("connections") == ["d1", "d2", "d3"]
    assert index.search("running") == ["d4", "d5"]
    assert index.search("connected printers") == ["d3"]
    assert index.search("banana") == [] and index.search("") == []
    # Stop words find nothing, rather than everything.
    assert index.search("the") == []


@pytest.mark.parametrize(
    ("name", "query", "marked"),
    [
        ("d1", "connections", "The router [connected] to the network after three retries."),
        ("d3", "Connected printers", "She is [connecting] the [printer] to the laptop."),
        ("d5", "RUNNING", "He [runs] every morning before work."),
        ("d2", "the", "A stable connection needs good cables."),
    ],
)
def test_search_index_marks_the_matching_words_in_the_original_text(name, query, marked):
    assert load("search_index").build().highlight(name, query) == marked


def test_process_pool_stems_in_order(texts):
    assert load("process_pool").stem_in_pool(texts, workers=2, chunksize=7) == reference(texts)


def test_dask_cluster_stems_in_order(dask_client, texts, monkeypatch):
    # The example's own local cluster is the run's one cluster, lent for the call.
    distributed = pytest.importorskip("distributed")
    lent = []

    @contextlib.contextmanager
    def local_cluster(**settings):
        lent.append(settings)
        yield dask_client.cluster

    monkeypatch.setattr(distributed, "LocalCluster", local_cluster)
    assert load("dask_cluster").stem_on_cluster(texts, workers=2, partitions=7) == reference(texts)
    assert len(lent) == 1 and lent[0]["n_workers"] == 2
    assert dask_client.status == "running"


def test_process_pool_program_counts_what_it_stemmed(capsys):
    path = EXAMPLES / "texts" / "english.txt"
    load("process_pool").main([str(path), str(path)])
    stems = reference([path.read_text(encoding="utf-8").strip()] * 2)[0]
    assert capsys.readouterr().out == f"2 paragraphs, {2 * len(stems)} words, {len(set(stems))} distinct stems\n"


def test_demo_prints_stems_and_catalogue(capsys):
    load("demo").main()
    out = capsys.readouterr().out
    assert "brüderlichkeit" in out and "bruder" in out
    assert Davuzod.version() in out and ", ".join(Davuzod.algorithms()) in out


@pytest.mark.parametrize("size", [1, 97, 4096, 1 << 20])
def test_byte_ranges_read_each_line_once(size, tmp_path):
    pytest.importorskip("numpy")  # the example's counts are NumPy's
    corpus = load("dask_corpus")
    lines = [f"line {n} " + "é" * (n % 7) for n in range(300)] + ["", "last, no newline"]
    path = tmp_path / "text"
    path.write_text("\n".join(lines), encoding="utf-8")
    read = [line for _, start, end in corpus.byte_ranges([path], size) for line in corpus.read_range(path, start, end)]
    assert read == lines


def test_a_corpus_counted_on_the_cluster_is_counted_as_in_one_process(dask_client, texts, tmp_path):
    pytest.importorskip("sklearn")
    corpus = load("dask_corpus")
    paths = []
    for number in range(3):
        path = tmp_path / f"part{number}.txt"
        path.write_text("\n".join(texts[number::3]) + "\n", encoding="utf-8")
        paths.append(path)
    here = corpus.count_here(paths, size=5000)
    assert (corpus.count_on(dask_client, paths, size=5000) == here).all()
    # The whole corpus hashed at once gives the same counts.
    vectorizer = lexvale.HashingVectorizer(n_features=corpus.N_FEATURES, alternate_sign=False, norm=None)
    whole = vectorizer.transform([line for path in paths for line in path.read_text(encoding="utf-8").splitlines()])
    assert (here == whole.sum(axis=0).ravel()).all()
    assert here.sum() == sum(len(lexvale.Analyzer()(text)) for text in texts)

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

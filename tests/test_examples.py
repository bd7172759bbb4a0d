"""The examples in examples/ run and give the results they promise."""

import importlib
import sys
from pathlib import Path

import pytest

import Davuzod

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def load(name):
    # Worker processes import the example's functions by module name, with
    # the parent's sys.path.
    if str(EXAMPLES) not in sys.path:
        sys.path.insert(0, str(EXAMPLES))
    return importlib.import_module(name)


@pytest.fixture(scope="module")
def words():
    text = (EXAMPLES / "texts" / "english.txt").read_text(encoding="utf-8")
    return load("search_index").tokenize(text) * 40


def reference(words):
    return Davuzod.Davuzod("english", 0).stemWords(words)


def test_search_index_finds_other_forms():
    index = load("search_index").build()
    assert index.search("connections") == ["d1", "d2", "d3"]
    assert index.search("running") == ["d4", "d5"]
    assert index.search("connected printers") == ["d3"]
    assert index.search("banana") == [] and index.search("") == []


def test_process_pool_stems_in_order(words):
    assert load("process_pool").stem_in_pool(words, workers=2, batch_size=97) == reference(words)


def test_dask_cluster_reuses_one_stemmer_per_worker(words):
    pytest.importorskip("distributed")
    example = load("dask_cluster")
    assert example.stem_on_cluster(words, workers=2, partition_size=101) == reference(words)


def test_demo_prints_stems_and_catalogue(capsys):
    load("demo").main()
    out = capsys.readouterr().out
    assert "brüderlichkeit" in out and "bruder" in out
    assert Davuzod.version() in out and ", ".join(Davuzod.algorithms()) in out

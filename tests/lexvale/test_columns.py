"""Arrow columns in and out: every row's stems as the analyzer gives them, nulls, slices, chunks and types."""

import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import needs
from lexvale import Analyzer
from lexvale import _native as native

pytestmark = needs("pyarrow")

PIECES = ["a", "B", " ", "\n", "'", "’", "-", "1", ".", "\u0301", "ﬁ", "İ", "I", "Σ", "ß", "é", "\u00ad", "\u200c",
          "東", "は", "The", "running", "cats", "straße", "ΟΔΟΣ", "\U0001f600", "n", "A"]
SETTINGS = [
    {},
    {"stopwords": "snowball", "protected": ["news"], "overrides": {"geese": "goose"}},
    {"language": "turkish", "normalize": "NFC"},
    {"language": "greek", "fold_accents": True, "keep_original": True},
    {"language": "irish", "lowercase": False, "cache_size": 2},
    {"ngram_range": (1, 2)},
    {"pattern": r"\w+"},  # no native pass: the analysis runs in Python, the column natively
]
TYPES = ["string", "large_string", "string_view"]


def expected(analyzer, rows):
    return [None if row is None else analyzer(row) for row in rows]


@settings(max_examples=150, deadline=None)
@given(rows=st.lists(st.none() | st.lists(st.sampled_from(PIECES), max_size=12).map("".join), max_size=20),
       options=st.sampled_from(SETTINGS), kind=st.sampled_from(TYPES), start=st.integers(0, 3))
def test_every_row_gets_what_the_analyzer_gives_it(rows, options, kind, start):
    import pyarrow as pa

    analyzer = Analyzer(**options)
    column = pa.array(rows, type=getattr(pa, kind)()).slice(start)
    stems = pa.array(analyzer.arrow(column))
    assert stems.to_pylist() == expected(analyzer, rows[start:])
    assert stems.type in (pa.list_(pa.string()), pa.list_(pa.large_string()))
    assert stems.null_count == sum(row is None for row in rows[start:])


def test_chunked_columns_and_streams_give_one_column_of_all_their_rows():
    import pyarrow as pa

    analyzer = Analyzer(stopwords="snowball")
    chunks = [["The cats were running", None], [], ["Connections", "ﬁnding İstanbul"]]
    chunked = pa.chunked_array(chunks, type=pa.string())
    stems = analyzer.arrow(chunked)
    assert len(stems) == 4
    assert pa.array(stems).to_pylist() == expected(analyzer, [row for chunk in chunks for row in chunk])
    # Exported as often as asked, as an array and as a stream, from the same buffers.
    assert pa.array(stems).equals(pa.array(stems))
    assert pa.chunked_array(stems).to_pylist() == pa.array(stems).to_pylist()
    reader = pa.RecordBatchReader.from_stream(pa.table({"text": chunked}))
    assert pa.array(analyzer.arrow(reader.read_all().column("text"))).to_pylist() == pa.array(stems).to_pylist()


def test_pandas_series_come_back_as_series_of_arrow_lists_with_their_index():
    pd = pytest.importorskip("pandas")
    import pyarrow as pa

    analyzer = Analyzer("german", stopwords="snowball")
    for dtype in ("string[pyarrow]", object, "string[python]"):
        frame = pd.DataFrame({"text": pd.Series(["Die Häuser", None, "das Haus"], dtype=dtype, index=[7, 3, 9])})
        frame["stems"] = analyzer.arrow(frame["text"])
        assert frame["stems"].dtype == pd.ArrowDtype(pa.list_(pa.string()))
        assert list(frame.index) == [7, 3, 9]
        assert [None if value is None or value is pd.NA else list(value) for value in frame["stems"]] == [
            ["haus"], None, ["haus"]]


def test_dask_partitions_take_it_as_pandas_does():
    pytest.importorskip("dask.dataframe")
    import dask.dataframe as dd
    import pandas as pd
    import pyarrow as pa

    analyzer = Analyzer()
    frame = pd.DataFrame({"text": ["Running cats", "dogs", None, "Connections"]})
    parts = dd.from_pandas(frame, npartitions=2)
    stems = parts["text"].map_partitions(analyzer.arrow, meta=("text", pd.ArrowDtype(pa.list_(pa.string()))))
    assert [None if value is pd.NA else list(value) for value in stems.compute(scheduler="threads")] == [
        ["run", "cat"], ["dog"], None, ["connect"]]


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda pa: pa.array([1, 2]), "not one of Arrow format 'l'"),
        (lambda pa: pa.array([["a"], ["b"]]), "not one of Arrow format '+l'"),
        (lambda pa: pa.array(["a", "b"]).dictionary_encode(), "format 'i' (dictionary-encoded)"),
        (lambda pa: pa.array([b"a"]), "not one of Arrow format 'z'"),
        (lambda pa: ["a", "b"], "not a list"),
        (lambda pa: "a single string", "not a str"),
    ],
)
def test_columns_of_other_types_are_refused_naming_them(make, message):
    import pyarrow as pa

    with pytest.raises(TypeError, match=re.escape(message)):
        Analyzer().arrow(make(pa))


def test_without_the_native_module_it_says_so():
    import pyarrow as pa

    with native.disabled():
        analyzer = Analyzer()
    assert analyzer.arrow(pa.array(["cats"])) is not None  # the native module is loaded: it reads the column
    native.arrow_reader.cache_clear()
    try:
        with native.disabled():
            with pytest.raises(RuntimeError, match="needs lexvale's native module"):
                analyzer.arrow(pa.array(["cats"]))
    finally:
        native.arrow_reader.cache_clear()


@pytest.mark.parametrize("dtype", [object, "string[python]", "string[pyarrow]"])
@pytest.mark.parametrize("values", [[], [None], [None, float("nan")], ["The cats", None]])
def test_pandas_series_even_empty_or_all_missing(values, dtype):
    pd = pytest.importorskip("pandas")
    analyzer = Analyzer()
    series = pd.Series(values, dtype=dtype, index=range(10, 10 + len(values)))
    stems = analyzer.arrow(series)
    assert list(stems.index) == list(series.index)
    assert [None if value is None or value is pd.NA else list(value) for value in stems] == [
        None if pd.isna(value) else analyzer(value) for value in values]


@pytest.mark.parametrize("make", [lambda pa, kind: pa.chunked_array([], type=kind),
                                  lambda pa, kind: pa.chunked_array([pa.array([], kind)]),
                                  lambda pa, kind: pa.array([], kind)], ids=["no chunk", "empty chunk", "array"])
@pytest.mark.parametrize("kind, code", [("int64", "l"), ("binary", "z"), ("float64", "g")])
def test_other_types_are_refused_even_without_rows(make, kind, code):
    import pyarrow as pa

    with pytest.raises(TypeError, match=f"format '{code}'"):
        Analyzer().arrow(make(pa, getattr(pa, kind)()))


def test_a_stream_is_read_once():
    import pyarrow as pa

    class Same:
        """Hands out the one capsule it was given, every time."""

        def __init__(self, column):
            self.capsule = column.__arrow_c_stream__()

        def __arrow_c_stream__(self, requested_schema=None):
            return self.capsule

    source, analyzer = Same(pa.chunked_array([["The cats", None]])), Analyzer()
    assert pa.array(analyzer.arrow(source)).to_pylist() == [analyzer("The cats"), None]
    with pytest.raises(ValueError, match="released already"):
        analyzer.arrow(source)


def test_a_subclass_s_own_call_is_what_its_rows_get():
    import pyarrow as pa

    class Shouting(Analyzer):
        def __call__(self, text):
            return [stem.upper() for stem in super().__call__(text)]

    assert pa.array(Shouting().arrow(pa.array(["The cats", None]))).to_pylist() == [["THE", "CAT"], None]


def test_running_out_of_memory_is_a_memory_error():
    import os
    from pathlib import Path

    import Davuzod
    from conftest import run_child

    shim = Path(Davuzod.__file__).with_name("fail_large_alloc.so")
    if not shim.exists():
        pytest.skip("the allocation-failing preload library is built beside the build tree's module only")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the sanitizer runtime owns malloc")
    # Columns whose stems need more than the bound: many items in a row, many rows.
    code = """
        import os, pyarrow as pa, lexvale
        analyzer = lexvale.Analyzer()
        for rows in (["word " * 6_000_000], ["a"] * 9_000_000):
            column = pa.array(rows)
            os.environ["DAVUZOD_FAIL_ALLOC_ABOVE"] = str(32 << 20)
            try:
                analyzer.arrow(column)
            except MemoryError:
                print("MemoryError")
            finally:
                del os.environ["DAVUZOD_FAIL_ALLOC_ABOVE"]
        print(pa.array(analyzer.arrow(pa.array(["Running cats"]))).to_pylist())
    """
    result = run_child(code, env={"LD_PRELOAD": str(shim)})
    assert result.stdout.split("\n")[:3] == ["MemoryError", "MemoryError", "[['run', 'cat']]"]

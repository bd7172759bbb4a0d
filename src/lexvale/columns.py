"""Arrow columns in and out: the stems of each row of a column of strings, as a column of lists.

``Analyzer.arrow(column)`` takes any object of the Arrow PyCapsule interface
(``__arrow_c_array__`` or ``__arrow_c_stream__``: pyarrow arrays and chunked
arrays, Polars series, DuckDB results...) or a pandas Series backed by Arrow
strings, of the types string, large_string or string_view, and gives a
``StemColumn``: a ``list<string>`` column that itself offers both methods,
so that ``pyarrow.array(stems)``, ``polars.Series(stems)`` or
``pyarrow.chunked_array(stems)`` take it without copying; a pandas Series
gives a Series of ``list<string>`` (Arrow-backed), with its index and name.
Nulls stay null; the native pass reads the column's own buffers and writes
the stems' without a Python object per word. lexvale needs no pyarrow to do
it (pandas, whose Arrow strings are pyarrow's, needs it).
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from . import _native

if TYPE_CHECKING:
    from .analyzer import Analyzer

__all__ = ["StemColumn", "stems_of_column"]


class StemColumn:
    """The stems of each row of a column: an Arrow ``list<string>`` column, offered by the PyCapsule interface.

    Its offsets are 32-bit (``list<string>``) unless the column needs more
    (``large_list``, ``large_string``). ``len()`` is its number of rows.
    """

    __slots__ = ("_column",)

    def __init__(self, column: object) -> None:
        self._column = column  # the native module's capsule of the column

    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]:
        """The column as (arrow_schema, arrow_array) capsules; a requested schema is not followed."""
        from . import _analysis

        return _analysis.arrow_export_array(self._column)

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        """The column as an arrow_array_stream capsule of one array."""
        from . import _analysis

        return _analysis.arrow_export_stream(self._column)

    def __len__(self) -> int:
        from . import _analysis

        return _analysis.arrow_length(self._column)

    def __repr__(self) -> str:
        return f"<StemColumn of {len(self)} rows>"


def _is_pandas_series(column: object) -> bool:
    kind = type(column)
    return kind.__name__ == "Series" and kind.__module__.startswith("pandas")


def _source_of(column: Any) -> object:
    """The Arrow capsules of `column`: a stream's, else an array's; TypeError for anything else."""
    if _is_pandas_series(column) and not hasattr(column, "__arrow_c_stream__"):
        # pandas' own strings (object, or string[python]) become Arrow strings through pyarrow, which
        # pandas needs for Arrow strings anyway; Arrow-backed ones are handed over as they are.
        import pyarrow

        return pyarrow.chunked_array(pyarrow.array(column, type=pyarrow.string())).__arrow_c_stream__()
    if hasattr(column, "__arrow_c_stream__"):
        return column.__arrow_c_stream__()
    if hasattr(column, "__arrow_c_array__"):
        return column.__arrow_c_array__()
    # pandas' Arrow-backed arrays and Series offer Arrow through pyarrow's older protocol.
    array = getattr(column, "array", column)
    if hasattr(array, "__arrow_array__"):
        arrow = array.__arrow_array__()
        if hasattr(arrow, "__arrow_c_stream__"):
            return arrow.__arrow_c_stream__()
    raise TypeError(
        f"Analyzer.arrow takes a column of strings that offers Arrow's PyCapsule interface (a pyarrow array, a "
        f"pandas Series of Arrow strings, a Polars series...), not a {type(column).__name__}"
    )


def stems_of_column(analyzer: Analyzer, column: Any) -> Any:
    from . import analyzer as analyzers

    """The stems ``analyzer(row)`` gives for each row of `column`, as an Arrow column (see ``Analyzer.arrow``);
    for a pandas Series, a Series of them with its index and name."""
    source = _source_of(column)
    state = analyzer._ready()
    native = state.native if state.native is not None else _native.arrow_reader()
    if native is None:
        raise RuntimeError("Analyzer.arrow needs lexvale's native module, which is not in use here "
                           "(LEXVALE_NO_EXTENSIONS is set, or the module is missing)")
    # A subclass's own call is the analysis its rows get.
    scans = state.native is not None and state.ngram_range == (1, 1) and type(analyzer).__call__ is analyzers.Analyzer.__call__
    stems = StemColumn(native.arrow(source, analyzer, scans))
    if not _is_pandas_series(column):
        return stems
    import pandas
    import pyarrow

    return pandas.Series(pandas.arrays.ArrowExtensionArray(pyarrow.array(stems)), index=column.index,
                         name=column.name, copy=False)

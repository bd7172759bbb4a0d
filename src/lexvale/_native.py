"""The native analysis pass, where it is built and wanted.

``lexvale._analysis`` runs the analyzer's chain for the default pattern in
one pass over the text's own buffer: it finds the words, prepares them
character by character and looks each up in a table of prepared words,
without making a Python object for a word it has seen. It covers text that
it can prepare exactly as the pure-Python path does (nearly all text); for
the rest its methods answer None and the pure-Python path, which stays the
reference, does the work. Both give the same results (the suite checks them
against each other).

``LEXVALE_NO_EXTENSIONS=1`` in the environment, as with other packages that
have optional accelerators, makes lexvale use the pure-Python path only; so
does a missing native module. A native module whose character tables are of
another Unicode version than the interpreter's would prepare some text
differently: it is not used either, and a warning says so, once.
"""

from __future__ import annotations

import contextlib
import functools
import os
import unicodedata
import warnings
from collections.abc import Callable, Iterator, Mapping
from typing import TYPE_CHECKING

from ._rules import LanguageRules

if TYPE_CHECKING:
    from ._analysis import LineStemmer, Pass

__all__ = ["available", "arrow_reader", "disabled", "line_stemmer", "make_pass", "ngram_maker"]

_switched_off = False


@functools.cache
def _loaded() -> bool:
    """Whether the native module is there and fit for this interpreter (loaded once, by the first call)."""
    import sys

    if os.environ.get("LEXVALE_NO_EXTENSIONS"):
        return False
    try:
        from . import _analysis
    except ImportError:
        import pkgutil

        # In a build tree the module is built into another lexvale/ folder on
        # the path, beside the Davuzod module; the package takes it in.
        package = sys.modules[__package__]
        package.__path__ = pkgutil.extend_path(package.__path__, __package__)
        try:
            from . import _analysis
        except ImportError:
            return False
    if _analysis.UNICODE_VERSION != unicodedata.unidata_version:
        warnings.warn(
            f"lexvale's native analysis pass was built with the character tables of Unicode "
            f"{_analysis.UNICODE_VERSION}, and this interpreter has Unicode {unicodedata.unidata_version}: "
            "analyzers take the pure-Python path, several times slower. To rebuild lexvale for this interpreter, "
            f"in a checkout: make build, then {sys.executable} tools/unicode_tables.py, then make build again.",
            RuntimeWarning,
            skip_file_prefixes=(os.path.dirname(__file__),),
        )
        return False
    return True


def available() -> bool:
    """Whether analyzers made now use the native pass."""
    return not _switched_off and _loaded()


@contextlib.contextmanager
def disabled() -> Iterator[None]:
    """Analyzers made (or given new settings) in this block use the pure-Python path only."""
    global _switched_off
    before, _switched_off = _switched_off, True
    try:
        yield
    finally:
        _switched_off = before


def make_pass(
    algorithm: str,
    lowercase: bool,
    normalize: str | None,
    cache_size: int,
    entries: Mapping[str, tuple[str, bool]],
    fold: Callable[[str], str] | None,
    token: type,
    rules: LanguageRules,
    keep_original: bool,
) -> Pass | None:
    """A native pass for these settings, or None where there is none."""
    if not available():
        return None
    from . import _analysis

    return _analysis.Pass(
        algorithm, lowercase, normalize, max(cache_size, 0), dict(entries), unicodedata.is_normalized, fold, token,
        rules.kept_joiners, rules.dotted_i, rules.mutation_letters, rules.mutated_vowels, keep_original,
    )


@functools.cache
def arrow_reader() -> Pass | None:
    """A pass that reads and writes Arrow columns for analyzers without a pass of their own (their analysis
    done in Python), or None where there is no native module."""
    if not available():
        return None
    from . import _analysis
    from ._chain import Token

    return _analysis.Pass("english", True, None, 0, {}, unicodedata.is_normalized, None, Token, "", False, "", "",
                          False)


def line_stemmer(algorithm: str) -> LineStemmer | None:
    """A native stemmer of word lists (bytes in, bytes out, as stemwords writes them), or None where there is none."""
    if not available():
        return None
    from . import _analysis

    return _analysis.LineStemmer(algorithm)


def ngram_maker() -> Callable[[list[str], int, int], list[str]] | None:
    """The native ``word_ngrams(stems, min_n, max_n)``, or None where there is none."""
    if not available():
        return None
    from . import _analysis

    return _analysis.word_ngrams

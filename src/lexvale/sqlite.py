"""Snowball stemming in SQLite's full-text search: the FTS5 tokenizer ``lexvale``.

>>> import sqlite3, lexvale.sqlite
>>> db = lexvale.sqlite.connect(":memory:")
>>> _ = db.execute("CREATE VIRTUAL TABLE docs USING fts5(body, tokenize='lexvale english stopwords snowball')")
>>> _ = db.executemany("INSERT INTO docs VALUES (?)", [("The cats were running",), ("A dog ran",)])
>>> db.execute("SELECT highlight(docs, 0, '[', ']') FROM docs WHERE docs MATCH 'cat AND runs'").fetchall()
[('The [cats] were [running]',)]

``register(connection)`` gives a connection of Python's ``sqlite3`` (or of
APSW) the tokenizer, by loading lexvale's SQLite extension into it; FTS5
tables then name it in ``tokenize``: the language first, then any of the
analyzer's settings as name and value (see ``docs/sqlite.md``).
"""

from __future__ import annotations

import os
import re
import shlex
import warnings
from typing import TYPE_CHECKING, Any, Protocol

if TYPE_CHECKING:
    import sqlite3

    from .analyzer import Analyzer, Token

__all__ = ["ENTRY_POINT", "TOKENIZER", "TokenizerWarning", "all_words", "connect", "extension_path", "register",
           "settings_of"]

#: The tokenizer's name in ``tokenize = '...'``.
TOKENIZER = "lexvale"

#: The extension's entry point, for loading it by hand (APSW, SQLite's shell of a Python process...).
ENTRY_POINT = "sqlite3_lexvale_init"

# A folder of its own, which is no package: tools that list a package's
# modules (pkgutil, pydoc) would take a shared library beside them for one.
_FOLDER = "sqlite-extension"
_FILE_NAME = "lexvale-fts5.so"


class _Loading(Protocol):
    """What this module needs of a connection: sqlite3's and APSW's have it."""

    def enable_load_extension(self, enable: bool, /) -> None: ...

    def load_extension(self, name: str, /, *, entrypoint: str | None = ...) -> None: ...


def extension_path() -> str:
    """The path of lexvale's SQLite extension; ``FileNotFoundError`` when this build has none."""
    import pkgutil

    from . import __path__ as homes

    # In a build tree it is built into another lexvale/ folder on the path.
    for home in pkgutil.extend_path(list(homes), __package__):
        path = os.path.join(home, _FOLDER, _FILE_NAME)
        if os.path.exists(path):
            return path
    raise FileNotFoundError(
        f"lexvale was built without its SQLite extension ({_FILE_NAME}): SQLite's headers were missing when it was "
        "built (on Debian and Ubuntu the package libsqlite3-dev has them)"
    )


def register(connection: _Loading) -> None:
    """Gives `connection` (Python's ``sqlite3`` or APSW's) the FTS5 tokenizer ``lexvale``.

    Extension loading is enabled for the load only, and disabled again.
    Each connection needs it, as it needs any tokenizer that SQLite does not
    build in: a second connection to the same file must be registered too
    before it reads or writes a table that names the tokenizer. Raises
    ``RuntimeError`` where the connection cannot load extensions (a Python
    built with a SQLite that leaves them out, or a subinterpreter).
    """
    _check_interpreter()
    path = extension_path()
    try:
        enable = connection.enable_load_extension
    except AttributeError:
        raise RuntimeError(
            f"a {type(connection).__module__}.{type(connection).__qualname__} cannot load SQLite extensions: "
            "lexvale's tokenizer is registered with a connection of sqlite3 or APSW whose SQLite loads them"
        ) from None
    enable(True)
    try:
        connection.load_extension(path, entrypoint=ENTRY_POINT)
    except Exception as error:
        raise RuntimeError(f"lexvale's tokenizer could not be loaded into this connection: {error}") from error
    finally:
        enable(False)


def connect(database: str | os.PathLike[str], **options: Any) -> sqlite3.Connection:
    """``sqlite3.connect(database, **options)``, registered."""
    import sqlite3

    connection: sqlite3.Connection = sqlite3.connect(database, **options)
    try:
        register(connection)
    except BaseException:
        connection.close()
        raise
    return connection


def all_words(text: str) -> str:
    """A MATCH expression for the rows that hold every word of `text`, in any order and any form.

    Each blank-parted piece of a user's free text becomes a quoted string,
    which FTS5 hands whole to the tokenizer, so that punctuation is no syntax
    error and a stop word (an empty phrase) is passed over:

    >>> print(all_words("O'Brien said 3.14"))
    "O'Brien" "said" "3.14"
    """
    return " ".join('"' + piece.replace('"', '""') + '"' for piece in text.split())


def _check_interpreter() -> None:
    # The extension runs the analyzer in the main interpreter, the one whose
    # lock it can take from any thread SQLite calls it on.
    from concurrent import interpreters

    if interpreters.get_current() != interpreters.get_main():
        raise RuntimeError("lexvale's SQLite tokenizer serves the main interpreter only, not a subinterpreter")


# ---- the tokenizer's Python half, which the extension calls

_FLAGS = {"1": True, "true": True, "yes": True, "on": True, "0": False, "false": False, "no": False, "off": False}
_SETTINGS = ("lowercase", "normalize", "pattern", "stopwords", "protected", "overrides", "fold_accents",
             "keep_original", "cache_size")


def settings_of(arguments: list[str]) -> dict[str, Any]:
    """The analyzer's settings that the tokenizer arguments name: the language, then names and values.

    >>> settings_of(["german", "stopwords", "snowball", "protected", "Bund GmbH", "fold_accents", "1"])
    {'language': 'german', 'stopwords': 'snowball', 'protected': ['Bund', 'GmbH'], 'fold_accents': True}
    """
    if isinstance(arguments, str):
        raise TypeError("settings_of takes the tokenizer's arguments as a list of str, not a str")
    settings: dict[str, Any] = {}
    rest = list(arguments)
    if rest and rest[0] not in _SETTINGS and rest[0] != "ngram_range":
        settings["language"] = rest.pop(0)
    if len(rest) % 2:
        raise ValueError(f"the setting {rest[-1]!r} has no value (settings are given as name and value)")
    for name, value in zip(rest[::2], rest[1::2]):
        if name == "ngram_range":
            raise ValueError("ngram_range is not a tokenizer setting: FTS5 matches phrases by the words' positions")
        if name not in _SETTINGS:
            raise ValueError(f"unknown setting {name!r} (settings: {', '.join(_SETTINGS)})")
        if name in settings:
            raise ValueError(f"the setting {name!r} is given twice")
        settings[name] = _value(name, value)
    return settings


def _value(name: str, value: str) -> Any:
    if name in ("lowercase", "fold_accents", "keep_original"):
        flag = _FLAGS.get(value.lower())
        if flag is None:
            raise ValueError(f"{name} takes 1 or 0 (true or false, yes or no, on or off), not {value!r}")
        return flag
    if name == "normalize":
        return None if value.lower() == "none" else value.upper()
    if name == "cache_size":
        try:
            return int(value)
        except ValueError:
            raise ValueError(f"cache_size takes an integer, not {value!r}") from None
    if name == "stopwords" and value.lower() in ("snowball", "none"):
        return "snowball" if value.lower() == "snowball" else None
    # Words part at blanks, which no word holds; an apostrophe is part of its word.
    if name in ("stopwords", "protected"):
        return value.split()
    if name == "overrides":
        overrides = {}
        for pair in value.split():
            word, equals, stem = pair.partition("=")
            if not equals or not word or not stem:
                raise ValueError(f"overrides takes word=stem pairs, not {pair!r}")
            overrides[word] = stem
        return overrides
    return value


class _Tokenizer:
    """An FTS5 table's tokenizer: the analyzer of its settings, for documents and queries."""

    __slots__ = ("analyzer", "prefixes")

    def __init__(self, analyzer: Analyzer) -> None:
        import copy

        self.analyzer = analyzer
        # The last word of a prefix query ("connection*") matches stems that
        # begin with its stem or with the word itself, as the analyzer
        # prepares it: "connect*" or "connection*".
        self.prefixes = copy.replace(analyzer, keep_original=True, stopwords=())

    def document(self, text: str) -> list[Token]:
        return self.analyzer.tokens(text)

    def query(self, text: str, prefix: int) -> list[Token]:
        tokens = self.analyzer.tokens(text)
        if not prefix:
            return tokens
        # The last word is the prefix: its stem and itself, and never dropped
        # as a stop word ("the*" is the start of "their" and "theory").
        ending = self.prefixes.tokens(text)
        if not ending:
            return tokens
        last = ending[-1].position
        kept = [token for token in tokens if token.position < last]
        return kept + [token for token in ending if token.position == last]


class TokenizerWarning(UserWarning):
    """Why a ``tokenize = 'lexvale ...'`` made no tokenizer; SQLite's error then says only
    "error in tokenizer constructor"."""


class _Refused(Exception):
    """The tokenizer's settings make no analyzer, and a TokenizerWarning said why."""


def _tokenizer(arguments: list[str]) -> _Tokenizer:
    from .analyzer import Analyzer

    try:
        return _Tokenizer(Analyzer(**settings_of(arguments)))
    except (TypeError, ValueError, LookupError, re.error) as error:  # a bad pattern is an re.error
        given = " ".join(shlex.quote(argument) for argument in [TOKENIZER, *arguments])
        warnings.warn(f"tokenize={given!r}: {error}", TokenizerWarning, skip_file_prefixes=(os.path.dirname(__file__),))
        raise _Refused from error

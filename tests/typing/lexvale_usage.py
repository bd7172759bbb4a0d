"""Typed use of lexvale as its documentation shows it, checked by mypy in strict mode."""

import re
import sqlite3

import lexvale
import lexvale.sqlite
from lexvale import Analyzer, Token


def settings_as_documented() -> list[Analyzer]:
    return [
        Analyzer("en", stopwords=None, protected=None, overrides=None),  # scikit-learn's way of saying none
        Analyzer("german", stopwords="snowball", protected=["Bank"], normalize="NFC", ngram_range=(1, 2)),
        Analyzer("fr", pattern=re.compile(r"\w+"), fold_accents=True, cache_size=0, lowercase=False),
        Analyzer(normalize=None, stopwords=lexvale.stopwords("english"), overrides={"geese": "goose"}),
        Analyzer("en", keep_original=True),
    ]


def results(analyzer: Analyzer) -> tuple[list[str], list[Token], list[str], str]:
    tokens = analyzer.tokens("The Cats")
    first: int = tokens[0].start + tokens[0].position
    return analyzer("The cats"), tokens, analyzer.stem_words(["Running"]), analyzer.prepare("Cats") * first


languages: dict[str, tuple[str, ...]] = lexvale.iso_codes()
words: list[str] = lexvale.read_word_list("words.txt")
forms: dict[str, str] = lexvale.surface_forms(Analyzer(), ["Running runs"])


def search_index(path: str) -> list[tuple[str]]:
    db: sqlite3.Connection = lexvale.sqlite.connect(path, timeout=1.0)
    other = sqlite3.connect(path)
    lexvale.sqlite.register(other)
    settings: dict[str, object] = lexvale.sqlite.settings_of(["german", "stopwords", "snowball"])
    rows: list[tuple[str]] = db.execute("SELECT body FROM docs WHERE docs MATCH ?", (str(settings),)).fetchall()
    return rows

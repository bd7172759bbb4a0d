"""The FTS5 tokenizer in real SQLite: indexing, MATCH, phrases, highlight and snippet, connections and threads."""

import random
import re
import sqlite3
import threading
from pathlib import Path

import pytest

import lexvale.sqlite
import lexvale.stoplists
from lexvale import Analyzer
from lexvale.sqlite import TokenizerWarning, settings_of

from conftest import FORTUNES, TOPICS, fortune_entries

VOCABULARIES = Path("/usr/share/snowball/data")


def table(db, tokenize, rows, name="docs"):
    db.execute(f"CREATE VIRTUAL TABLE {name} USING fts5(body, tokenize={sqlite_string(tokenize)})")
    db.executemany(f"INSERT INTO {name}(rowid, body) VALUES (?, ?)", enumerate(rows, 1))
    return db


def sqlite_string(text):
    return "'" + text.replace("'", "''") + "'"


def phrase(text):
    return '"' + text.replace('"', '""') + '"'


def matches(db, query, name="docs"):
    return {rowid for (rowid,) in db.execute(f"SELECT rowid FROM {name} WHERE {name} MATCH ?", (query,))}


@pytest.fixture
def db():
    connection = lexvale.sqlite.connect(":memory:")
    yield connection
    connection.close()


def sentences(language, count, seed):
    """Sentences of a Snowball vocabulary's words, made the same each run."""
    path = VOCABULARIES / language / "voc.txt"
    if not path.is_file():
        pytest.skip("needs Snowball's vocabularies (snowball-data)")
    words = path.read_text(encoding="utf-8").split()
    chooser = random.Random(seed)
    return [" ".join(chooser.choice(words) for _ in range(12)) for _ in range(count)]


def documents(language):
    if language == "english":
        if not all((FORTUNES / topic).is_file() for topic in TOPICS):
            pytest.skip("needs Debian's fortunes package")
        return [entry for topic in TOPICS for entry in fortune_entries(topic)[:300]]
    return sentences(language, 600, seed=language)


@pytest.mark.parametrize("language", ["english", "german", "spanish", "russian", "greek", "turkish"])
def test_match_finds_the_rows_whose_words_share_a_stem(db, language):
    rows = documents(language)
    listed = language in lexvale.stoplists.stop_list_languages()
    analyzer = Analyzer(language, stopwords="snowball" if listed else ())
    settings = f"lexvale {language}" + (" stopwords snowball" if listed else "")
    table(db, settings, rows)
    stems = [set(analyzer(row)) for row in rows]
    chooser = random.Random(1)
    words = [word for row in chooser.sample(rows, 40) for word in analyzer.tokens(row)][:200]
    for token in words:
        expected = {rowid for rowid, row_stems in enumerate(stems, 1) if token.stem in row_stems}
        assert matches(db, phrase(token.word)) == expected, token


def test_phrases_keep_the_gaps_of_dropped_stop_words(db):
    table(db, "lexvale german stopwords snowball", ["Das Alter einer Frau", "Die alten Frauen", "alte, die Frau"])
    assert matches(db, phrase("alten Frauen")) == {2}
    assert matches(db, phrase("alter der Frau")) == {1, 3}  # a stop word stands for any word, as in search engines
    assert matches(db, phrase("Frau")) == {1, 2, 3}
    assert matches(db, "NEAR(alt frau, 0)") == {2}
    # Stop words alone give an empty phrase, which matches nothing and is no syntax error.
    assert matches(db, phrase("der die")) == set()


def test_highlight_and_snippet_use_the_original_text(db):
    rows = ["Die HÄUSER am Fluß, ﬁnally", "Ein Haus — zwei Häuser", "İstanbul'da evler"]
    table(db, "lexvale german", rows)
    found = db.execute(
        "SELECT rowid, highlight(docs, 0, '[', ']'), snippet(docs, 0, '<', '>', '…', 3) FROM docs "
        "WHERE docs MATCH ? ORDER BY rowid", (phrase("häuser"),)
    ).fetchall()
    assert found == [(1, "Die [HÄUSER] am Fluß, ﬁnally", "Die <HÄUSER> am…"),
                     (2, "Ein [Haus] — zwei [Häuser]", "Ein <Haus> — zwei…")]
    assert db.execute("SELECT highlight(docs, 0, '[', ']') FROM docs WHERE docs MATCH 'finally'").fetchall() == [
        ("Die HÄUSER am Fluß, [ﬁnally]",)
    ]
    scores = db.execute("SELECT bm25(docs) FROM docs WHERE docs MATCH 'haus'").fetchall()
    assert len(scores) == 2 and all(score < 0 for (score,) in scores)


def test_text_that_is_not_utf8_keeps_its_byte_offsets(db):
    table(db, "lexvale english", [])
    db.execute("INSERT INTO docs(rowid, body) VALUES (1, CAST(x'ff52756e6e696e67fe20636174739f' AS TEXT))")
    body, marked = db.execute("SELECT CAST(body AS BLOB), CAST(highlight(docs, 0, '[', ']') AS BLOB) FROM docs "
                              "WHERE docs MATCH 'cat'").fetchone()
    assert body == b"\xffRunning\xfe cats\x9f"
    assert marked == b"\xffRunning\xfe [cats]\x9f"
    assert matches(db, "run") == {1}


def test_prefix_queries_match_the_stem_or_the_word(db):
    table(db, "lexvale english", ["connections", "connected", "running", "universal"])
    assert matches(db, "conn*") == {1, 2}
    assert matches(db, "connection*") == {1, 2}  # the stem "connect", or stems starting "connection"
    assert matches(db, "univers*") == {4}
    assert matches(db, phrase("the") + "*") == set()


def test_a_prefix_that_is_a_stop_word_still_matches_the_words_it_begins(db):
    table(db, "lexvale english stopwords snowball", ["Their theory", "the cat", "a happy dog"])
    assert matches(db, "the*") == {1}  # "the" itself is a stop word, left out of the index
    assert matches(db, "a*") == set()  # no kept word begins with "a"
    assert matches(db, phrase("the cat") + "*") == {2}
    assert matches(db, phrase("happy the") + "*") == set()  # "happi", then a word starting "the": none


def test_index_positions_are_the_tokens_positions(db):
    rows = ["The cat sat", "cat the dog", "The the the cat"]
    table(db, "lexvale english stopwords snowball", rows)
    db.execute("CREATE VIRTUAL TABLE v USING fts5vocab(docs, 'instance')")
    analyzer = Analyzer(stopwords="snowball")
    indexed = {(term, row, offset) for term, row, _, offset in db.execute("SELECT * FROM v") if term is not None}
    assert indexed == {(token.stem, row, token.position) for row, text in enumerate(rows, 1)
                       for token in analyzer.tokens(text)}
    assert matches(db, "^cat") == {2}  # a row whose first word is "cat", not "The cat"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("cats the dogs", {1}),  # every word, in any order; the stop word passes
        ("dogs, cats!", {1}),
        ("O'Brien 3.14", {2}),
        ('said "hello"', {3}),
        ("the of", set()),
    ],
)
def test_all_words_turns_free_text_into_a_query(db, text, expected):
    table(db, "lexvale english stopwords snowball", ["The dog chased cats", "O'Brien paid 3.14", 'He said "Hello"'])
    assert matches(db, lexvale.sqlite.all_words(text)) == expected


def test_kept_originals_are_colocated_with_their_stems(db):
    rows = ["The running man", "Runs of the man"]
    table(db, "lexvale english keep_original 1", rows)
    vocabulary = db.execute("CREATE VIRTUAL TABLE v USING fts5vocab(docs, 'instance')").fetchall()
    assert vocabulary == []
    terms = {(term, row, offset) for term, row, _, offset in db.execute("SELECT * FROM v")}
    assert {("run", 1, 1), ("running", 1, 1), ("man", 1, 2), ("run", 2, 0), ("runs", 2, 0)} <= terms
    assert matches(db, "running") == {1, 2}  # the query's stem matches both
    assert matches(db, phrase("running man")) == {1}
    assert db.execute("SELECT highlight(docs, 0, '[', ']') FROM docs WHERE docs MATCH ?",
                      (phrase("running man"),)).fetchall() == [("The [running man]",)]


@pytest.mark.parametrize(
    "tokenize, reason",
    [
        ("lexvale klingon", "unknown language 'klingon'"),
        ("lexvale english bogus 1", "unknown setting 'bogus'"),
        ("lexvale english fold_accents maybe", "fold_accents takes 1 or 0"),
        ("lexvale english stopwords", "the setting 'stopwords' has no value"),
        ("lexvale english ngram_range '1 2'", "ngram_range is not a tokenizer setting"),
        ("lexvale turkish stopwords snowball", "no built-in stop list"),
        ("lexvale english normalize nfd", "normalize must be 'NFC', 'NFKC' or None"),
        ("lexvale english overrides 'mice'", "overrides takes word=stem pairs"),
        ("lexvale english overrides 'mice='", "overrides takes word=stem pairs"),
        ("lexvale english pattern '('", "missing ), unterminated subpattern"),
    ],
)
def test_bad_settings_fail_the_create_and_warn_why(db, tokenize, reason):
    with pytest.warns(TokenizerWarning, match=re.escape(reason)), pytest.raises(sqlite3.OperationalError,
                                                                                 match="tokenizer constructor"):
        db.execute(f"CREATE VIRTUAL TABLE docs USING fts5(body, tokenize={sqlite_string(tokenize)})")


@pytest.mark.parametrize(
    "arguments, settings",
    [
        ([], {}),
        (["fr"], {"language": "fr"}),
        (["stopwords", "snowball"], {"stopwords": "snowball"}),
        (["german", "stopwords", "der  die\tdas"], {"language": "german", "stopwords": ["der", "die", "das"]}),
        (["fr", "protected", "aujourd'hui", "stopwords", "Snowball"], {"language": "fr", "protected": ["aujourd'hui"],
                                                                       "stopwords": "snowball"}),
        (["en", "stopwords", "none", "lowercase", "OFF", "normalize", "none", "cache_size", "10"],
         {"language": "en", "stopwords": None, "lowercase": False, "normalize": None, "cache_size": 10}),
        (["en", "overrides", "mice=mouse geese=goose", "protected", "news"],
         {"language": "en", "overrides": {"mice": "mouse", "geese": "goose"}, "protected": ["news"]}),
        (["en", "pattern", "[a-z]+", "keep_original", "yes"], {"language": "en", "pattern": "[a-z]+",
                                                                 "keep_original": True}),
    ],
)
def test_tokenizer_arguments_are_the_analyzers_settings(arguments, settings):
    assert settings_of(arguments) == settings
    Analyzer(**settings)


def test_settings_of_takes_a_list():
    with pytest.raises(TypeError, match="as a list of str, not a str"):
        settings_of("lexvale english")


def test_every_connection_registers_and_shares_the_file(tmp_path):
    path = tmp_path / "index.db"
    with lexvale.sqlite.connect(path) as first:
        table(first, "lexvale english", ["cats and dogs"])
    plain = sqlite3.connect(path)
    with pytest.raises(sqlite3.OperationalError, match="no such tokenizer: lexvale"):
        plain.execute("SELECT rowid FROM docs WHERE docs MATCH 'cat'").fetchall()
    lexvale.sqlite.register(plain)
    assert matches(plain, "dog") == {1}
    with plain:
        plain.execute("INSERT INTO docs(rowid, body) VALUES (2, 'A dog')")
    plain.close()
    first.close()
    # Extension loading is on only for the load: SQL cannot load anything afterwards.
    connection = lexvale.sqlite.connect(path)
    with pytest.raises(sqlite3.OperationalError, match="not authorized"):
        connection.execute("SELECT load_extension(?)", (lexvale.sqlite.extension_path(),))
    assert matches(connection, "dogs") == {1, 2}
    connection.close()


def test_threads_with_a_connection_each(tmp_path):
    path = tmp_path / "index.db"
    rows = sentences("english", 200, seed=3)
    with lexvale.sqlite.connect(path) as db:
        table(db, "lexvale english", rows)
    analyzer = Analyzer()
    expected = {}
    for word in rows[0].split()[:6]:
        stem = analyzer(word)
        if stem:
            expected[word] = {rowid for rowid, row in enumerate(rows, 1) if stem[0] in analyzer(row)}
    results, errors = [], []

    def work(number):
        try:
            connection = lexvale.sqlite.connect(path, check_same_thread=True)
            with connection:
                connection.executemany("INSERT INTO docs(body) VALUES (?)",
                                       [(f"thread{number} extra words",)] * 50)
            for _ in range(5):
                results.append({word: matches(connection, phrase(word)) for word in expected})
            connection.close()
        except Exception as error:  # reported by the main thread
            errors.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert all(found == expected for found in results) and len(results) == 20
    with lexvale.sqlite.connect(path) as db:
        assert db.execute("SELECT count(*) FROM docs WHERE docs MATCH 'extra'").fetchone() == (200,)


def test_register_refuses_what_cannot_load_extensions():
    with pytest.raises(RuntimeError, match="cannot load SQLite extensions"):
        lexvale.sqlite.register(object())
    closed = sqlite3.connect(":memory:")
    closed.close()
    with pytest.raises(sqlite3.ProgrammingError):
        lexvale.sqlite.register(closed)


def test_apsw_connections_take_it_too():
    apsw = pytest.importorskip("apsw")  # absent where lexvale's optional companions are, and for the debug interpreter

    connection = apsw.Connection(":memory:")
    lexvale.sqlite.register(connection)
    connection.execute("CREATE VIRTUAL TABLE docs USING fts5(body, tokenize='lexvale french')")
    connection.execute("INSERT INTO docs VALUES ('Les maisons blanches')")
    assert connection.execute("SELECT highlight(docs, 0, '<', '>') FROM docs WHERE docs MATCH 'maison'").fetchall() == [
        ("Les <maisons> blanches",)
    ]

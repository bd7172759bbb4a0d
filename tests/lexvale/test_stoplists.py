"""Built-in stop lists and word lists in Snowball's format."""

import contextlib
import subprocess
import sys
from pathlib import Path

import pytest

import lexvale
from lexvale import Analyzer
from lexvale.stoplists import raw_stopwords, stop_list_languages
from conftest import CHECKOUT

ROOT = CHECKOUT


def test_shipped_lists_are_what_the_script_derives_from_snowballs():
    run = subprocess.run([sys.executable, str(ROOT / "tools" / "stopwords.py"), "--check"],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr


def test_the_script_reads_snowballs_format():
    sys.path.insert(0, str(ROOT / "tools"))
    try:
        from stopwords import words_of
    finally:
        sys.path.remove(str(ROOT / "tools"))
    source = " | A comment\nthe   | definite article\n| us | commented out\na an | two words\n\nthe\n  über\n"
    assert words_of(source) == ["the", "a", "an", "über"]


@pytest.mark.parametrize(
    "language, present, absent",
    [
        ("english", {"the", "a", "of", "yourselves", "don't"}, {"us", "|", "definite", "article"}),
        ("porter", {"the", "of"}, set()),
        ("de", {"und", "über", "daß"}, set()),
        ("fr", {"le", "étée", "étions"}, {"été", "étés"}),  # the list leaves out the nouns "summer(s)"
        ("ru", {"и", "не"}, set()),
        ("dutch_porter", {"de", "het"}, set()),
    ],
)
def test_stopwords_are_snowballs_list_prepared_as_the_analyzer_prepares(language, present, absent):
    words = lexvale.stopwords(language)
    assert isinstance(words, frozenset)
    assert present <= words and not absent & words
    assert words == Analyzer(language, stopwords="snowball").stopwords
    assert all(Analyzer(language).prepare(word) == word for word in words)


def test_every_list_has_its_algorithm_and_enough_words():
    assert len(stop_list_languages()) == 18  # 16 lists; porter and dutch_porter share theirs
    for algorithm in stop_list_languages():
        assert algorithm in lexvale.algorithms()
        assert len(raw_stopwords(algorithm)) >= 50, algorithm


def test_a_language_without_a_list_names_those_with_one():
    with pytest.raises(ValueError, match="'greek' has no built-in stop list; these have one: danish, dutch"):
        lexvale.stopwords("el")
    with pytest.raises(ValueError, match="no built-in stop list"):
        Analyzer("greek", stopwords="snowball")


def test_the_analyzer_drops_snowballs_stop_words():
    analyzer = Analyzer("english", stopwords="snowball")
    assert analyzer("The cats of the World were THERE") == ["cat", "world"]
    assert analyzer.get_params()["stopwords"] == "snowball"
    # The list follows the language.
    assert analyzer.set_params(language="german")("Die Katzen und der Hund") == ["katz", "hund"]
    # German's list has the spelling before the 1996 reform and the one since, in any case.
    assert analyzer("daß DAß DASS dass Daß Katze") == ["katz"]


@pytest.mark.parametrize("word", ["the", "english", "Snowball"])
def test_any_other_single_word_is_refused(word):
    with pytest.raises(TypeError, match="collection of words or 'snowball', not a single str"):
        Analyzer(stopwords=word)


def test_read_word_list_reads_snowballs_format_and_plain_lists(tmp_path):
    path = tmp_path / "stop.txt"
    path.write_text("\ufeff| a byte-order mark first\nthe   | definite article\n a an |indefinite\n|commented\n\nÉté\n"
                    "the\n  # a comment too\n| a form feed\x0c or a line separator\u2028 stays in the comment\n",
                    encoding="utf-8")
    assert lexvale.read_word_list(path) == ["the", "a", "an", "Été"]
    assert lexvale.read_word_list(str(path)) == ["the", "a", "an", "Été"]


def test_read_word_list_errors(tmp_path):
    path = tmp_path / "latin1.txt"
    path.write_bytes("caf\xe9\n".encode("latin-1"))
    with pytest.raises(ValueError, match=r"latin1.txt is not UTF-8 text \(byte 3\)"):
        lexvale.read_word_list(path)
    with pytest.raises(FileNotFoundError):
        lexvale.read_word_list(tmp_path / "missing")


# A stop word matches its word however it is written among the characters
# the language's algorithm reads alike, on both paths.
READ_ALIKE = [
    # language, stop words, text, the words left, written plainly
    ("russian", "snowball", "её всё ещё Всё ЕЩЁ", ""),
    ("german", ["daß"], "dass DASS daß weiß", "weiss"),
    ("dutch_porter", ["een", "hij"], "één eén hij híj heel", "heel"),
    ("greek", ["και"], "καί ΚΑΙ και δρόμος", "δρομος"),
    ("persian", ["\u0627\u06cc\u0646", "\u06cc\u06a9"], "\u0627\u064a\u0646 \u064a\u0643 \u0627\u0626\u0646 کتاب",
     "کتاب"),
    ("german", ["sss"], "sß ßs sss", ""),
]


@pytest.mark.parametrize("language, stopwords, text, plain", READ_ALIKE, ids=[row[0] for row in READ_ALIKE])
@pytest.mark.parametrize("pure_python", [False, True], ids=["native", "pure"])
def test_stop_words_match_every_spelling_the_algorithm_reads_alike(language, stopwords, text, plain, pure_python):
    from lexvale import _native

    with _native.disabled() if pure_python else contextlib.nullcontext():
        analyzer = Analyzer(language, stopwords=stopwords)
    left = Analyzer(language)(plain)
    assert analyzer(text) == left and len(left) == len(plain.split())
    assert [token.stem for token in analyzer.tokens(text)] == left
    assert analyzer(plain) == left


LONG_STOP_WORDS = [  # language, stop word, a spelling the algorithm reads alike
    ("dutch_porter", "arbeidsongeschiktheidsverzekeringen", "árbeidsongeschiktheidsverzekeringen"),
    ("greek", "υ" * 24, "ύ" + "υ" * 23),
    ("persian", "\u0627" * 24, "\u0623" + "\u0627" * 23),
]


@pytest.mark.parametrize("language, word, variant", LONG_STOP_WORDS, ids=[row[0] for row in LONG_STOP_WORDS])
def test_a_long_stop_word_gives_itself_and_its_reading_not_every_spelling(language, word, variant):
    # Millions of spellings are not listed: the word as written and as read are stop words.
    from lexvale._rules import SPELLINGS_LISTED, rules_of

    analyzer = Analyzer(language, stopwords=[variant])
    assert analyzer(f"{variant} {word}") == []
    assert len(analyzer._state.dropped) <= SPELLINGS_LISTED
    assert rules_of(language).spellings(variant) == {variant, word}


def test_a_protected_spelling_stays_though_another_is_a_stop_word():
    analyzer = Analyzer("ru", stopwords="snowball", protected=["всё"])
    assert analyzer("её всё все") == ["всё"]
    assert analyzer.stopwords == Analyzer("ru", stopwords="snowball").stopwords  # the list as given, prepared


VOCABULARIES = Path("/usr/share/snowball/data")


@pytest.mark.parametrize("language", ["russian", "german", "dutch_porter", "greek", "persian"])
def test_the_algorithms_read_those_characters_alike(language):
    # The table of characters read alike tells the truth: in Snowball's own
    # vocabulary, every word that holds one stems as the word written with
    # what the algorithm reads it as.
    from lexvale._rules import rules_of

    path = VOCABULARIES / language / "voc.txt"
    if not path.exists():
        pytest.skip(f"needs Snowball's vocabulary of {language} (Debian's snowball-data)")
    words = path.read_text(encoding="utf-8").split()
    stemmer = lexvale.stemmer(language)
    read_as = rules_of(language).read_as
    assert read_as
    for character, reading in read_as.items():
        holding = [word for word in words if character in word][:2000]
        different = [word for word in holding if stemmer.stemWord(word) != stemmer.stemWord(word.replace(character, reading))]
        assert different == [], (character, different[:5])

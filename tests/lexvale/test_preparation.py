"""Preparation: a fixed point in every normal form, lower case as each language writes it, invisible characters."""

import copy
import pickle
import sys
import unicodedata

import pytest

import Davuzod
from lexvale import Analyzer, Token
from lexvale._preparation import Preparation

FORMS = ["NFC", "NFKC"]


def stem(language, word):
    return Davuzod.Davuzod(language).stemWord(word)


@pytest.mark.parametrize("form", FORMS)
def test_preparing_any_character_twice_changes_nothing(form):
    preparation = Preparation(form, True, "english")
    # Every code point, each as a word, in batches (NUL parts the words). A
    # batch of them all would take minutes where realloc always copies, as
    # under the sanitizers: the interpreter's normaliser grows its buffer.
    characters = [chr(code) for code in range(1, sys.maxunicode + 1) if not 0xD800 <= code <= 0xDFFF]
    batches = range(0, len(characters), 4096)
    once = [word for start in batches for word in preparation.words(characters[start : start + 4096])]
    assert len(once) == len(characters)
    twice = [word for start in batches for word in preparation.words(once[start : start + 4096])]
    changed = [(c, a, b) for c, a, b in zip(characters, once, twice) if a != b]
    assert changed == []


BASES = [*"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "İ", "Å", "ẞ", "Σ"]


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("language", ["english", "turkish", "greek"])
def test_capitals_followed_by_any_mark_prepare_to_a_fixed_point(form, language):
    preparation = Preparation(form, True, language)
    words = [base + chr(mark) for base in BASES for mark in range(0x300, 0x370)]
    once = [preparation.word(word) for word in words]
    assert [preparation.word(word) for word in once] == once
    assert all(unicodedata.is_normalized(form, word) for word in once)
    # The batch and the word at a time agree.
    assert preparation.words(words) == once


@pytest.mark.parametrize(
    "settings",
    [{"stopwords": ["J\u030c"]}, {"protected": ["H\u0331ELLO"]}, {"overrides": {"W\u030a": "w"}},
     {"stopwords": ["I\u0323\u0307"], "language": "turkish"}, {"stopwords": ["Y\u030a"], "normalize": "NFC"}],
)
def test_settings_survive_pickling_and_copying_unchanged(settings):
    analyzer = Analyzer(**settings)
    text = "ǰ J\u030c ẖello H\u0331ELLO ẘ W\u030a ẙ Y\u030a ị\u0307 I\u0323\u0307 running"
    for other in (pickle.loads(pickle.dumps(analyzer)), copy.deepcopy(analyzer), copy.replace(analyzer)):
        assert other == analyzer
        assert (other.stopwords, other.protected, dict(other.overrides)) == (
            analyzer.stopwords, analyzer.protected, dict(analyzer.overrides))
        assert other(text) == analyzer(text)
    # A setting matches its word in every case and form.
    tokens = analyzer.tokens(text)
    assert [t.stem for t in tokens] == analyzer(text)


def test_keys_that_prepare_to_one_word_are_refused_when_made_not_when_copied():
    with pytest.raises(ValueError, match="overrides give 'ǰ' two stems"):
        Analyzer(overrides={"J\u030c": "x", "\u01f0": "y"})
    assert Analyzer(stopwords=["J\u030c"])("\u01f0 j\u030c J\u030c x") == ["x"]


@pytest.mark.parametrize(
    "language, text, words",
    [
        # Turkish: dotless and dotted i in both cases.
        ("turkish", "İyi IŞIK ışık", ["iyi", "ışık", "ışık"]),
        ("turkish", "İYİ GÜNLER, iyi geceler", ["iyi", "günler", "iyi", "geceler"]),
        ("turkish", "I\u0307STANBUL I\u0323\u0307", ["istanbul", "\u1ecb"]),
        ("english", "İyi IŞIK", ["i\u0307yi", "işik"]),  # elsewhere Unicode's default mapping
        # Irish: the mutation before a capital vowel takes its hyphen.
        ("irish", "nAthair ár nAthair tÉan nathair", ["n-athair", "ár", "n-athair", "t-éan", "nathair"]),
        # Final sigma is decided within a word, never across a boundary.
        ("greek", "ΟΔΟΣ Α.Σ ΣΟΦΙΑ Σ", ["οδος", "α", "σ", "σοφια", "σ"]),
        ("english", "ΑΣ'Σ", ["ασ'ς"]),
        # Rules that the normal form brings: a mathematical capital sigma, full-width capitals.
        ("english", "İ Α\U0001d6ba", ["i\u0307", "ας"]),
        ("irish", "\uff4e\uff21thair İ", ["n-athair", "i\u0307"]),
    ],
)
def test_lower_case_as_the_language_writes_it(language, text, words):
    analyzer = Analyzer(language)
    assert analyzer.stem_words(words) == analyzer(text)
    assert [analyzer.prepare(token.word) for token in analyzer.tokens(text)] == words
    assert [t.stem for t in analyzer.tokens(text)] == Davuzod.Davuzod(language).stemWords(words)


def test_turkish_capitals_meet_their_lower_case_forms():
    analyzer = Analyzer("tr")
    assert analyzer("İyi IŞIK ışık") == [stem("turkish", "iyi"), stem("turkish", "ışık"), stem("turkish", "ışık")]
    assert analyzer("İSTANBUL'DA") == analyzer("istanbul'da")


def test_irish_mutations_are_stripped_as_the_algorithm_strips_them():
    assert Analyzer("irish")("nAthair") == [stem("irish", "n-athair")] == [stem("irish", "athair")]


@pytest.mark.parametrize("text", ["ár n-athair", "ár nAthair", "ÁR N-ATHAIR", "ár n‑athair"])
def test_an_irish_prefix_parted_by_its_hyphen_is_no_word(text):
    analyzer = Analyzer("irish")
    expected = [stem("irish", "ár"), stem("irish", "athair")]
    assert analyzer(text) == [t.stem for t in analyzer.tokens(text)] == expected
    # Elsewhere a lone letter stays a word, and the stop words are the user's.
    assert Analyzer("english")("n-gram") == ["n", "gram"] and analyzer.stopwords == frozenset()
    # A protected or overridden prefix letter is kept.
    assert Analyzer("irish", protected=["n"], overrides={"t": "T"})("ár n-athair an t-uisce")[1:2] == ["n"]
    assert Analyzer("irish", overrides={"t": "T"})("an t-uisce") == ["an", "T", stem("irish", "uisce")]


@pytest.mark.parametrize(
    "text, words",
    [
        ("hyphen\u00adation", ["hyphenation"]),  # soft hyphen
        ("zero\u200bwidth\u200c joined\u200dword", ["zerowidth", "joinedword"]),
        ("word\u2060joiner \ufeffbom", ["wordjoiner", "bom"]),
        ("bi\u200edi \u202aembedded\u202c", ["bidi", "embedded"]),
    ],
)
def test_invisible_characters_are_dropped_and_offsets_stay_exact(text, words):
    analyzer = Analyzer()
    tokens = analyzer.tokens(text)
    assert [analyzer.prepare(t.word) for t in tokens] == words
    assert analyzer(text) == analyzer.stem_words(words)
    for token in tokens:
        assert text[token.start:token.end] == token.word
        assert token.word[0].isalnum() and token.word[-1].isalnum()


@pytest.mark.parametrize(
    "language, word",
    [("persian", "مي\u200cباشد"), ("persian", "مي\u200cشود"), ("nepali", "छाड्\u200dनुपर्छ")],
)
def test_languages_that_write_joiners_keep_them_inside_words(language, word):
    # Snowball's vocabularies write them so, and the algorithms read them.
    analyzer = Analyzer(language)
    assert analyzer(word) == [stem(language, word)]
    assert [t.word for t in analyzer.tokens(f"x {word} y")][1] == word
    if language == "persian":
        assert stem(language, word) != stem(language, word.replace("\u200c", ""))


def test_tokens_of_text_that_preparation_shortens_or_lengthens():
    analyzer = Analyzer("turkish")
    text = "I\u0307yi \u00adİZMİR'E"
    assert analyzer.tokens(text) == [
        Token(stem("turkish", "iyi"), 0, 4, "I\u0307yi", 0),
        Token(stem("turkish", "izmir'e"), 6, 13, "İZMİR'E", 1),
    ]

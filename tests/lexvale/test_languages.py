"""Language names and ISO codes, as libstemmer itself accepts them."""

import random
import re
import sys
import unicodedata
from pathlib import Path

import pytest

import Davuzod
import lexvale
from lexvale import _probes as probes, languages
from lexvale._tables.unicode import MARKS, UNICODE_VERSION
from conftest import CHECKOUT

WORD_LISTS = ["american-english", "french", "ngerman", "spanish", "italian", "dutch", "swedish", "norsk",
              "danish", "portuguese", "polish", "catalan", "irish"]


@pytest.fixture(scope="module")
def sample_words():
    words = []
    for name in WORD_LISTS:
        path = Path("/usr/share/dict") / name
        if path.exists():
            lines = path.read_text(encoding="utf-8", errors="replace").split()
            words += random.Random(name).sample(lines, min(300, len(lines)))
    if len(words) < 1000:
        pytest.skip("Debian word lists are not installed")
    return [w.lower() for w in words] + list(probes.probe_words()[:400])


def test_every_code_stems_as_the_algorithm_it_is_mapped_to(sample_words):
    codes = lexvale.iso_codes()
    assert list(codes) == Davuzod.algorithms()
    for algorithm, found in codes.items():
        expected = Davuzod.Davuzod(algorithm).stemWords(sample_words)
        for code in found:
            assert Davuzod.Davuzod(code).stemWords(sample_words) == expected, (algorithm, code)
            assert lexvale.resolve(code.upper()) == algorithm


def test_the_probe_words_tell_every_algorithm_apart():
    assert len(probes.fingerprints()) == len(Davuzod.algorithms())


@pytest.mark.parametrize(
    "algorithm, codes",
    [("english", ("en", "eng")), ("german", ("de", "deu", "ger")), ("porter", ()), ("dutch_porter", ()),
     ("greek", ("el", "ell", "gre"))],
)
def test_known_codes(algorithm, codes):
    assert lexvale.iso_codes()[algorithm] == codes


@pytest.mark.parametrize("name, algorithm", [("English", "english"), ("ENGLISH", "english"), ("en", "english"),
                                             ("DE", "german"), ("Porter", "porter"), ("nld", "dutch")])
def test_resolve_takes_any_case(name, algorithm):
    assert lexvale.resolve(name) == algorithm


def test_other_aliases_libstemmer_accepts_resolve_to_their_algorithm(sample_words):
    # libstemmer knows this name besides the codes; resolve names the algorithm that stems as it does.
    algorithm = lexvale.resolve("Kraaij_Pohlmann")
    expected = Davuzod.Davuzod("kraaij_pohlmann").stemWords(sample_words)
    assert Davuzod.Davuzod(algorithm).stemWords(sample_words) == expected, algorithm


def test_the_shipped_table_is_what_libstemmer_says_now():
    sys.path.insert(0, str(CHECKOUT / "tools"))
    try:
        import language_table
    finally:
        sys.path.pop(0)
    algorithms, names = language_table.accepted_names()
    assert lexvale.algorithms() == algorithms == tuple(Davuzod.algorithms())
    for code, algorithm in names.items():
        assert lexvale.resolve(code) == algorithm
        listed = code in lexvale.iso_codes()[algorithm]
        assert listed == (code in language_table.iso_639_codes()), code
    assert language_table.table_source() == language_table.TARGET.read_text(encoding="utf-8")


@pytest.mark.parametrize(
    "tag, algorithm",
    [("en_US", "english"), ("en-GB", "english"), ("pt-BR", "portuguese"), ("pt_BR.UTF-8", "portuguese"),
     ("de-CH", "german"), ("DE_at", "german"), ("sr_RS@latin", "serbian"), ("nb_NO.UTF-8", "norwegian"),
     ("nn", "norwegian"), ("fr_CA.utf8", "french"), ("dutch_porter", "dutch_porter")],
)
def test_locale_tags_resolve_to_their_language(tag, algorithm):
    assert lexvale.resolve(tag) == algorithm


@pytest.mark.parametrize("tag", ["zh-Hant", "ja_JP.UTF-8", "xx-YY"])
def test_a_locale_of_a_language_without_an_algorithm_says_so(tag):
    with pytest.raises(ValueError, match=f"no algorithm for the language '{tag[:2].lower()}'") as caught:
        lexvale.resolve(tag)
    assert "did you mean" not in str(caught.value)


def test_only_true_iso_codes_are_listed():
    listed = {code for codes in lexvale.iso_codes().values() for code in codes}
    assert "esl" not in listed and lexvale.resolve("esl") == "spanish"
    assert {"en", "eng", "de", "deu", "ger", "es", "spa"} <= listed


@pytest.mark.parametrize(
    "name, hint",
    [("englsh", "did you mean 'english'?"), ("Germn", "did you mean 'german'?"), ("xyzzy", None),
     ("english\0", "did you mean 'english'?"), ("engliš", "did you mean 'english'?"), ("", None),
     ("Deutsch", "did you mean 'german'?"), ("Español", "did you mean 'spanish'?"),
     ("Русский", "did you mean 'russian'?"), ("Türkçe", "did you mean 'turkish'?"),
     ("francais", "did you mean 'french'?"), ("Nederlands", "did you mean 'dutch'?"),
     # A short name is a code: one letter off is another language's, not a hint.
     ("enn", None), ("xx", None), ("basq", "did you mean 'basque'?")],
)
def test_unknown_language_lists_the_algorithms_and_the_closest(name, hint):
    with pytest.raises(ValueError) as caught:
        lexvale.resolve(name)
    message = str(caught.value)
    assert repr(name) in message
    assert all(algorithm in message for algorithm in Davuzod.algorithms())
    if hint:
        assert hint in message
    else:
        assert "did you mean" not in message


@pytest.mark.parametrize("bad", [None, 5, b"english"])
def test_language_that_is_not_str(bad):
    with pytest.raises(TypeError, match=type(bad).__name__):
        lexvale.resolve(bad)


def test_mark_class_is_unicodes_combining_marks():
    assert UNICODE_VERSION == unicodedata.unidata_version, "run tools/unicode_tables.py with this interpreter"
    marks = re.compile(f"[{MARKS}]")
    wrong = [hex(cp) for cp in range(sys.maxunicode + 1)
             if bool(marks.fullmatch(chr(cp))) != unicodedata.category(chr(cp)).startswith("M")]
    assert wrong == []

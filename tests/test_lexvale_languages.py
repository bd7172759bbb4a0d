"""Language names and ISO codes, as libstemmer itself accepts them."""

import random
import re
import sys
import unicodedata
from pathlib import Path

import pytest

import Davuzod
import lexvale
from lexvale import languages
from lexvale.marks import MARKS, UNICODE_VERSION

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
    return [w.lower() for w in words] + list(languages._probes()[:400])


def test_every_code_stems_as_the_algorithm_it_is_mapped_to(sample_words):
    codes = lexvale.iso_codes()
    assert list(codes) == Davuzod.algorithms()
    for algorithm, found in codes.items():
        expected = Davuzod.Davuzod(algorithm).stemWords(sample_words)
        for code in found:
            assert Davuzod.Davuzod(code).stemWords(sample_words) == expected, (algorithm, code)
            assert lexvale.resolve(code.upper()) == algorithm


def test_the_probe_words_tell_every_algorithm_apart():
    assert len(languages._fingerprints()) == len(Davuzod.algorithms())


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


@pytest.mark.parametrize(
    "name, hint",
    [("englsh", "did you mean 'english'?"), ("Germn", "did you mean 'german'?"), ("xyzzy", None),
     ("english\0", "did you mean 'english'?"), ("engliš", "did you mean 'english'?"), ("", None)],
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
    assert UNICODE_VERSION == unicodedata.unidata_version, "regenerate lexvale/marks.py for this Unicode"
    marks = re.compile(f"[{MARKS}]")
    wrong = [hex(cp) for cp in range(sys.maxunicode + 1)
             if bool(marks.fullmatch(chr(cp))) != unicodedata.category(chr(cp)).startswith("M")]
    assert wrong == []

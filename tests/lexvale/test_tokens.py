"""Words as search engines cut them: numbers, scripts without spaces, and the classes the pattern is made of."""

import contextlib
import pickle
import re
import sys
import unicodedata

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import Davuzod
from lexvale import DEFAULT_PATTERN, Analyzer
from lexvale import _native as native
from lexvale._patterns import HAN, HIRAGANA, LATIN1_PATTERN


@pytest.mark.parametrize(
    "text, words",
    [
        ("Windows 95, mp3 files, COVID-19, 3D", ["windows", "95", "mp3", "files", "covid", "19", "3d"]),
        ("pi is 3.14, a million 1,000,000", ["pi", "is", "3.14", "a", "million", "1,000,000"]),
        # A point or comma joins digits only; elsewhere it parts words.
        ("end.5 5.end 1,,2 v1.2.3", ["end", "5", "5", "end", "1", "2", "v1.2.3"]),
        ("snake_case well-known", ["snake", "case", "well", "known"]),
        ("Ｗｉｎｄｏｗｓ ９５", ["windows", "95"]),  # full-width forms are the letters and digits
        # Scripts written without spaces: Han and Hiragana a character at a time.
        ("東京は日本の首都です", ["東", "京", "は", "日", "本", "の", "首", "都", "で", "す"]),
        ("カタカナ語とひらがな", ["カタカナ", "語", "と", "ひ", "ら", "が", "な"]),
        ("한국어 텍스트", ["한국어", "텍스트"]),
        ("ภาษาไทย ລາວ ភាសាខ្មែរ မြန်မာ", ["ภาษาไทย", "ລາວ", "ភាសាខ្មែរ", "မြန်မာ"]),
        ("が", ["が"]),  # a voiced mark stays on its character
    ],
)
def test_words_are_cut_as_search_engines_cut_them(text, words):
    analyzer = Analyzer(stopwords=())
    assert [analyzer.prepare(t.word) for t in analyzer.tokens(text)] == words
    assert analyzer(text) == Davuzod.Davuzod("english").stemWords(words)


def test_digits_go_through_the_stemmer_like_any_word():
    assert Analyzer()("Windows 95, mp3 files, COVID-19, 3D") == ["window", "95", "mp3", "file", "covid", "19", "3d"]


def test_one_character_that_becomes_several_words_gives_each_its_whole_span():
    # NFKC writes "½" as "1⁄2": two words, each covering the one character.
    tokens = Analyzer().tokens("a ½ b ΣΑΣ½")
    assert [(t.stem, t.start, t.end, t.word) for t in tokens] == [
        ("a", 0, 1, "a"), ("1", 2, 3, "½"), ("2", 2, 3, "½"), ("b", 4, 5, "b"), ("σας1", 6, 10, "ΣΑΣ½"),
        ("2", 9, 10, "½"),
    ]


def _class_of(pattern_class):
    return re.compile(f"[{pattern_class}]")


def test_han_and_hiragana_classes_are_unicodes():
    han, hiragana = _class_of(HAN), _class_of(HIRAGANA)
    extra_han = set("\u3005\u3006\u3007\u3021\u3022\u3023\u3024\u3025\u3026\u3027\u3028\u3029\u3038\u3039\u303a\u303b")
    wrong = []
    for code in range(sys.maxunicode + 1):
        character = chr(code)
        name = unicodedata.name(character, "")
        is_han = name.startswith(("CJK UNIFIED IDEOGRAPH", "CJK COMPATIBILITY IDEOGRAPH")) or character in extra_han
        is_hiragana = name.startswith(("HIRAGANA", "HENTAIGANA"))
        if bool(han.fullmatch(character)) != is_han or bool(hiragana.fullmatch(character)) != is_hiragana:
            wrong.append(hex(code))
    assert wrong == []


def test_the_latin1_short_cut_finds_the_words_the_pattern_finds():
    # Every Latin-1 character between letters and digits, in each position.
    pattern = re.compile(DEFAULT_PATTERN)
    for code in range(0x100):
        for text in (f"ab{chr(code)}cd", f"12{chr(code)}34", f"{chr(code)}x9", f"a'{chr(code)}'1"):
            assert LATIN1_PATTERN.findall(text) == pattern.findall(text), (hex(code), text)


# Pieces of text from all planes and of every kind the pipeline treats apart.
PIECES = [
    "a", "B", " ", "\n", "'", "’", "-", ".", ",", "1", "9", "_", "\u0301", "\u0323", "\u0307", "ﬁ", "İ", "I", "ı",
    "Σ", "ς", "ß", "ẞ", "J", "\u030c", "é", "\u00ad", "\u200b", "\u200c", "\u200d", "\ufeff", "東", "は", "カ",
    "한", "\u1100", "\u1161", "℅", "½", "ｗ", "\u093f", "क", "ก", "\U0001d6ba", "\U00020000", "\U0001f600",
    "n", "A", "É", "t", "\u0f73", "w", "Å", "\u0e31",
]
SETTINGS = st.fixed_dictionaries({
    "language": st.sampled_from(["english", "turkish", "irish", "greek", "persian", "french"]),
    "normalize": st.sampled_from(["NFC", "NFKC", None]),
    "lowercase": st.booleans(),
    "fold_accents": st.booleans(),
    "stopwords": st.sampled_from([(), ("a", "b"), "snowball"]),
    "protected": st.sampled_from([(), ("ﬁ", "İ")]),
    "overrides": st.sampled_from([None, {"Σ": "s", "é": "e"}]),
})


@settings(max_examples=400, deadline=None)
@given(st.lists(st.sampled_from(PIECES) | st.characters(), max_size=40).map("".join), SETTINGS)
def test_the_call_tokens_and_stem_words_agree_on_any_text(text, options):
    if options["stopwords"] == "snowball" and options["language"] in ("greek", "persian", "turkish"):
        options["stopwords"] = ()
    analyzer = Analyzer(**options)
    tokens = analyzer.tokens(text)
    assert [t.stem for t in tokens] == analyzer(text)
    words = [token.word for token in tokens]
    for token in tokens:
        assert text[token.start:token.end] == token.word and token.word
    # Each word, taken alone, stems as it did in the text, unless it is one
    # character that preparation made several words of ("½" is "1⁄2").
    whole = [i for i, word in enumerate(words) if analyzer.pattern.fullmatch(analyzer.prepare(word))]
    assert [analyzer.stem_words(words)[i] for i in whole] == [tokens[i].stem for i in whole]
    # Preparation is a fixed point.
    prepared = [analyzer.prepare(word) for word in words]
    assert [analyzer.prepare(word) for word in prepared] == prepared


@pytest.mark.parametrize("pure_python", [False, True], ids=["native", "pure-python"])
@pytest.mark.parametrize(
    "settings, text, expected",
    [
        # Dropped stop words leave their positions empty, so that a phrase cannot match across them.
        ({"language": "german", "stopwords": "snowball"}, "das Alter einer Frau", [("alt", 1), ("frau", 3)]),
        # A line the native pass leaves to Python (the final sigma) counts its words for those after it.
        ({"language": "greek", "stopwords": ["και"]}, "ΟΔΟΣ και\nΣ και λόγος\nκαι x", [0, 2, 4, 6]),
        ({"stopwords": ["the"]}, "the\n\nthe cat\n½ the dog", [("cat", 2), ("1", 3), ("2", 4), ("dog", 6)]),
        # Originals take their stem's position; a word that is its own stem gives one token.
        ({"keep_original": True, "stopwords": ["the"]}, "Running the dogs late",
         [("run", 0), ("running", 0), ("dog", 2), ("dogs", 2), ("late", 3)]),
        ({"language": "french", "keep_original": True, "fold_accents": True}, "Cafés café",
         [("caf", 0), ("cafes", 0), ("caf", 1), ("cafe", 1)]),
    ],
)
def test_positions_count_every_word(settings, text, expected, pure_python):
    with native.disabled() if pure_python else contextlib.nullcontext():
        analyzer = Analyzer(**settings)
    tokens = analyzer.tokens(text)
    if isinstance(expected[0], int):  # positions only
        assert [token.position for token in tokens] == expected
    else:
        assert [(token.stem, token.position) for token in tokens] == expected
    assert [token.stem for token in tokens] == analyzer(text)


def test_keep_original_refuses_ngrams_and_leaves_stem_words_aligned():
    with pytest.raises(ValueError, match=r"keep_original .* ngram_range must be \(1, 1\)"):
        Analyzer(keep_original=True, ngram_range=(1, 2))
    analyzer = Analyzer(keep_original=True)
    assert analyzer.stem_words(["Running", "dogs"]) == ["run", "dog"]
    assert analyzer == pickle.loads(pickle.dumps(analyzer)) and analyzer != Analyzer()
    assert repr(analyzer) == "Analyzer('english', keep_original=True)"

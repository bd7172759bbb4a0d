"""lexvale.Analyzer: tokens, preparation order, offsets, configuration and bad input."""

import copy
import pickle
import re
import unicodedata
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import Davuzod
import lexvale
from conftest import fortune_files
from lexvale import DEFAULT_PATTERN, Analyzer, Token



def stems(language, words):
    return Davuzod.Davuzod(language).stemWords(words)


@pytest.fixture(scope="module")
def running_text():
    files = fortune_files()
    if not files:
        pytest.skip("needs Debian's fortunes package")
    return "\n".join(p.read_bytes().decode("utf-8", "replace") for p in files[:6])


def test_default_analyzer_is_the_hand_written_pipeline(running_text):
    def by_hand(text):
        return stems("english", re.findall(DEFAULT_PATTERN, unicodedata.normalize("NFKC", text).lower()))

    assert "Σ" not in running_text
    expected = by_hand(running_text)
    assert len(expected) > 20000
    assert Analyzer()(running_text) == expected
    # The short cut for Latin-1 text and the full pattern find the same words.
    for narrow in (running_text.encode("ascii", "ignore").decode(), running_text.encode("latin-1", "ignore").decode(
            "latin-1") + " Ça été ÀÉÎÕÜ ñ 3,14 x1.5y 1,,2 2'3"):
        assert Analyzer()(narrow) == by_hand(narrow)


@pytest.mark.parametrize(
    "language, text, expected",
    [
        # Apostrophes stay inside words, where the algorithms expect them.
        ("english", "John's students' books", ["john", "student", "book"]),
        ("english", "Don't stop at five o'clock", ["don't", "stop", "at", "five", "o'clock"]),
        ("english", "John’s dog", ["john", "dog"]),  # the typographic apostrophe is the same one
        ("english", "'quoted' words''", ["quot", "word"]),
        ("french", "L'homme qu'il aimait", ["homm", "il", "aim"]),
        # Hyphens and underscores split words; digits belong to them.
        ("english", "well-known mp3s snake_cases", ["well", "known", "mp3s", "snake", "case"]),
        # Combining marks belong to the word they are written on.
        ("hindi", "हिन्दी भाषाओं", stems("hindi", ["हिन्दी", "भाषाओं"])),
        ("french", "cafe\u0301s", ["caf"]),
    ],
)
def test_default_pattern_keeps_words_the_algorithms_expect(language, text, expected):
    assert Analyzer(language)(text) == expected


@pytest.mark.parametrize("word", ["Straße", "STRASSE", "strasse", "straße"])
def test_german_sharp_s_stems_the_same_in_every_case(word):
    # str.lower keeps "ß"; the German algorithm itself treats it as "ss".
    assert Analyzer("german")(word) == ["strass"]


def test_lower_case_keeps_letters_that_case_folding_would_rewrite():
    # The Greek algorithm reads a final sigma either way; an English text keeps its "ß".
    assert Analyzer("greek")("ΟΔΟΣ") == Analyzer("greek")("οδοσ") == stems("greek", ["οδος"])
    assert Analyzer("english")("STRAßE") == ["straße"]
    assert Analyzer("english")("STRAßE") != stems("english", ["STRAßE".casefold()])


def test_lowercase_false_stems_the_words_as_written():
    assert Analyzer(lowercase=False)("Running CATS cats") == stems("english", ["Running", "CATS", "cats"])


@pytest.mark.parametrize(
    "options, text, expected",
    [
        ({"stopwords": ["The", "A"]}, "THE cats and a dog", ["cat", "and", "dog"]),
        ({"protected": ["Running"]}, "RUNNING runners", ["running", "runner"]),
        ({"overrides": {"Geese": "goose"}}, "geese GEESE", ["goose", "goose"]),
        ({"overrides": {"Geese": "goose", "GEESE": "goose"}}, "geese", ["goose"]),
        # Stop words go first, then protection, then overrides.
        ({"stopwords": ["news"], "protected": ["news"]}, "news today", ["today"]),
        ({"protected": ["geese"], "overrides": {"geese": "goose"}}, "geese", ["geese"]),
        # Keys are normalised as the text is: a decomposed key matches composed text.
        ({"stopwords": ["cafe\u0301"]}, "Café crème", ["crème"]),
        ({"normalize": "NFKC", "protected": ["ﬁnding"]}, "FINDING ﬁnding", ["finding", "finding"]),
        ({"lowercase": False, "stopwords": ["The"]}, "The the", ["the"]),
    ],
)
def test_order_of_work_and_prepared_keys(options, text, expected):
    assert Analyzer(**options)(text) == expected


@pytest.mark.parametrize(
    "normalize, text",
    [
        ("NFKC", "ﬁnding the ﬂowers"),  # a ligature becomes two letters
        ("NFC", "İstanbul İZMİR"),  # one capital lower-cases to two code points
        ("NFC", "cafe\u0301s and cre\u0300me"),  # a letter and its accent become one
        ("NFC", "\u1100\u1161\u11a8 Korean"),  # three jamo become one syllable
        ("NFKC", "℅ ½ ㎏ words"),  # one character becomes a letter, a symbol and a letter
        ("NFC", "ΟΔΟΣ ΣΟΦΙΑ"),
        (None, "İstanbul"),
    ],
)
def test_token_offsets_point_into_the_original_text(normalize, text):
    analyzer = Analyzer(normalize=normalize)
    tokens = analyzer.tokens(text)
    assert tokens
    for token in tokens:
        assert isinstance(token, Token)
        assert text[token.start : token.end] == token.word
        assert token.word.strip() == token.word and token.word
    assert [t.stem for t in tokens] == analyzer(text)
    assert [t.start for t in tokens] == sorted(t.start for t in tokens)


def test_token_offsets_of_the_awkward_cases():
    assert Analyzer(normalize="NFKC").tokens("a ﬁnding") == [
        Token("a", 0, 1, "a", 0), Token("find", 2, 8, "ﬁnding", 1)
    ]
    assert Analyzer().tokens("İstanbul's") == [Token("i̇stanbul", 0, 10, "İstanbul's", 0)]
    assert Analyzer("french").tokens("x cafe\u0301s") == [
        Token("x", 0, 1, "x", 0), Token("caf", 2, 8, "cafe\u0301s", 1)
    ]


PIECES = ["a", "B", " ", "\u0301", "ﬁ", "İ", "Σ", "ß", "'", "’", "-", "1", "\u1100", "\u1161", "℅", "é", "\u093f", "क", "\n"]


@settings(max_examples=300, derandomize=True, deadline=None)
@given(st.lists(st.sampled_from(PIECES), max_size=30).map("".join), st.sampled_from(["NFC", "NFKC", None]),
       st.booleans())
def test_tokens_agree_with_the_call_on_any_text(text, normalize, lowercase):
    analyzer = Analyzer(normalize=normalize, lowercase=lowercase)
    tokens = analyzer.tokens(text)
    assert [t.stem for t in tokens] == analyzer(text)
    for token in tokens:
        assert text[token.start : token.end] == token.word
        assert 0 <= token.start < token.end <= len(text)


CONFIGURATIONS = [
    {},
    {"language": "german", "lowercase": False, "normalize": None},
    {"normalize": "NFKC", "stopwords": ["the", "a"], "protected": ["news"], "overrides": {"geese": "goose"}},
    {"pattern": r"\w+", "cache_size": 0},
    {"pattern": re.compile(r"[a-z]+", re.IGNORECASE)},
]


@pytest.mark.parametrize("config", CONFIGURATIONS)
def test_pickles_copies_and_reprs_as_its_configuration(config):
    analyzer = Analyzer(**config)
    text = "The geese were running to THE news"
    for other in (pickle.loads(pickle.dumps(analyzer)), copy.deepcopy(analyzer), copy.copy(analyzer),
                  eval(repr(analyzer), {"Analyzer": Analyzer, "re": re})):
        assert other == analyzer and other.get_params() == analyzer.get_params()
        assert other(text) == analyzer(text)
    assert b"Davuzod" not in pickle.dumps(analyzer)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_tokens_pickle_under_the_public_module(protocol):
    token = Analyzer().tokens("Cats")[0]
    data = pickle.dumps(token, protocol)
    assert b"lexvale.analyzer" in data and b"_chain" not in data
    assert pickle.loads(data) == token and type(pickle.loads(data)) is Token


def _escaped(pattern):
    """`pattern` with its non-ASCII characters written as escapes, as earlier releases wrote the default's classes."""
    return "".join(c if c.isascii() else f"\\u{ord(c):04x}" if ord(c) <= 0xFFFF else f"\\U{ord(c):08x}"
                   for c in pattern)


@pytest.mark.parametrize("pattern", [DEFAULT_PATTERN, _escaped(DEFAULT_PATTERN), re.compile(_escaped(DEFAULT_PATTERN))],
                         ids=["as-written", "escaped", "escaped-compiled"])
def test_the_default_pattern_however_written_is_the_default(pattern):
    analyzer = Analyzer(pattern=pattern)
    assert analyzer == Analyzer() and repr(analyzer) == "Analyzer('english')"
    assert (analyzer._state.native is None) == (Analyzer()._state.native is None)
    assert analyzer.get_params()["pattern"] is pattern
    assert pickle.loads(pickle.dumps(analyzer)) == Analyzer()
    assert analyzer("Café connections") == Analyzer()("Café connections")


def test_settings_from_numpy_pandas_and_views_copy_and_pickle():
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    text = "The geese of the news were running"
    cases = [
        ({"stopwords": np.array(["the", "of"])}, Analyzer(stopwords=["the", "of"])),
        ({"stopwords": pd.Series(["the", "of"])}, Analyzer(stopwords=["the", "of"])),
        ({"stopwords": {"the": 1, "of": 2}.keys(), "protected": pd.Index(["news"])},
         Analyzer(stopwords=["the", "of"], protected=["news"])),
        # The read-only view another analyzer gives of its overrides.
        ({"overrides": Analyzer(overrides={"geese": "goose"}).overrides}, Analyzer(overrides={"geese": "goose"})),
        # What a parameter grid built with NumPy holds.
        ({"cache_size": np.int64(100), "lowercase": np.True_, "fold_accents": np.False_,
          "ngram_range": (np.int64(1), np.int64(2))}, Analyzer(cache_size=100, ngram_range=(1, 2))),
    ]
    for config, same in cases:
        analyzer = Analyzer(**config)
        assert analyzer == same and analyzer(text) == same(text)
        for other in (pickle.loads(pickle.dumps(analyzer)), copy.deepcopy(analyzer)):
            assert other == analyzer and other(text) == analyzer(text)


@pytest.mark.parametrize(
    "options, message",
    [
        ({"lowercase": "yes"}, "lowercase must be a bool, not str"),
        ({"cache_size": 2.0}, "cache_size must be an int, not float"),
        ({"ngram_range": (1, 2.0)}, r"ngram_range must be a tuple \(min_n, max_n\) with"),
        ({"fold_accents": None}, "fold_accents must be a bool, not NoneType"),
    ],
)
def test_settings_of_the_wrong_type_are_named_by_type(options, message):
    with pytest.raises((TypeError, ValueError), match=message):
        Analyzer(**options)


def test_equality_is_by_configuration():
    assert Analyzer("EN") == Analyzer("english") == Analyzer("eng")
    assert Analyzer(stopwords=["The"]) == Analyzer(stopwords=("the", "THE"))
    distinct = [Analyzer(**config) for config in CONFIGURATIONS] + [
        Analyzer("porter"), Analyzer(cache_size=5), Analyzer(fold_accents=True), Analyzer(ngram_range=(1, 2)),
    ]
    for i, one in enumerate(distinct):
        for j, other in enumerate(distinct):
            assert (one == other) == (i == j), (one, other)
    assert Analyzer() != "english"
    # Settings can change (set_params), so an analyzer is no dictionary key.
    with pytest.raises(TypeError, match="unhashable"):
        hash(Analyzer())


def test_settings_are_read_only_and_replace_makes_a_copy():
    analyzer = Analyzer("english", stopwords=["the"])
    with pytest.raises(AttributeError):
        analyzer.language = "german"
    with pytest.raises(AttributeError):
        analyzer.extra = 1
    with pytest.raises(AttributeError):
        del analyzer.language
    with pytest.raises(TypeError):
        analyzer.overrides["x"] = "y"
    french = copy.replace(analyzer, language="fr")
    assert (french.language, french.stopwords, analyzer.language) == ("french", frozenset({"the"}), "english")
    with pytest.raises(TypeError, match="no setting 'colour'"):
        copy.replace(analyzer, colour="red")


def test_repr_shows_the_settings_that_differ():
    assert repr(Analyzer()) == "Analyzer('english')"
    assert repr(Analyzer("DE", lowercase=False, stopwords=["Der"])) == (
        "Analyzer('DE', lowercase=False, stopwords=['Der'])"
    )
    assert repr(Analyzer(stopwords="snowball", normalize="NFC", ngram_range=(1, 2))) == (
        "Analyzer('english', normalize='NFC', stopwords='snowball', ngram_range=(1, 2))"
    )
    for default_pattern in (lexvale.DEFAULT_PATTERN, re.compile(lexvale.DEFAULT_PATTERN)):
        assert repr(Analyzer(pattern=default_pattern, cache_size=5)) == "Analyzer('english', cache_size=5)"


@pytest.mark.parametrize("bad", [None, 3, 2.5, b"bytes", bytearray(b"x"), ["text"]])
def test_text_that_is_not_str_raises_type_error_naming_the_type(bad):
    for method in (Analyzer(), Analyzer().tokens):
        with pytest.raises(TypeError, match=type(bad).__name__):
            method(bad)


@pytest.mark.parametrize("position, bad", [(0, None), (1, b"cats"), (2, 7), (1, ["x"])])
def test_stem_words_names_the_position_of_a_bad_item(position, bad):
    words = ["running", "cats", "dogs"]
    words[position] = bad
    with pytest.raises(TypeError, match=rf"item {position} is a {type(bad).__name__}"):
        Analyzer().stem_words(words)


@pytest.mark.parametrize("bad", ["running", b"running"])
def test_stem_words_refuses_a_single_string(bad):
    with pytest.raises(TypeError, match="iterable of words"):
        Analyzer().stem_words(bad)


def test_stem_words_prepares_protects_and_overrides_one_for_one():
    analyzer = Analyzer(stopwords=["the"], protected=["News"], overrides={"geese": "goose"})
    words = ["The", "NEWS", "Geese", "Running", "cafe\u0301s", "", "a\0B"]
    assert analyzer.stem_words(words) == [
        "the", "news", "goose", "run", stems("english", ["cafés"])[0], "", stems("english", ["a\0b"])[0]
    ]
    assert analyzer.stem_words(iter(["Cats"])) == ["cat"]
    assert analyzer.stem_words([]) == []


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"language": 5}, TypeError, "int"),
        ({"normalize": "NFD"}, ValueError, "NFD"),
        ({"lowercase": "yes"}, TypeError, "str"),
        ({"stopwords": "the"}, TypeError, "single str"),
        # The habits of other libraries' stop-word options get the way to what they meant.
        ({"stopwords": "english"}, TypeError, r"built-in list is 'snowball'; .*read_word_list\(path\)"),
        ({"protected": b"names"}, TypeError, r"a collection of words, not a single bytes$"),
        ({"protected": "names.txt"}, TypeError, r"not a single str \(the words of a file are lexvale.read_word_list\(path\)\)$"),
        ({"ngram_range": [1, 2]}, TypeError, "ngram_range must be a tuple .min_n, max_n., not list"),
        ({"ngram_range": (2, 1)}, ValueError, r"1 <= min_n <= max_n, not \(2, 1\)"),
        ({"stopwords": ["the", None]}, TypeError, "NoneType"),
        ({"overrides": {"geese": 1}}, TypeError, "int"),
        ({"overrides": [("a", "b")]}, TypeError, "mapping"),
        # Keys that prepare to one word: which stem would win is an accident of order.
        ({"overrides": {"Geese": "goose", "GEESE": "geese"}}, ValueError,
         "overrides give 'geese' two stems: 'goose' for 'Geese' and 'geese' for 'GEESE'"),
        ({"pattern": re.compile(rb"\w+")}, TypeError, "bytes"),
        ({"pattern": 5}, TypeError, "int"),
        ({"cache_size": "10"}, TypeError, "str"),
        ({"cache_size": True}, TypeError, "bool"),
        # The stemmers' bound is a 32-bit signed integer: refused here, not at the first text.
        ({"cache_size": 2**31}, ValueError, "cache_size must be between -2147483648 and 2147483647, not 2147483648"),
        ({"cache_size": -(2**31) - 1}, ValueError, "cache_size must be between"),
    ],
)
def test_bad_settings_are_refused(options, error, message):
    with pytest.raises(error, match=message):
        Analyzer(**options)


def test_none_for_word_collections_means_none_as_in_scikit_learn():
    analyzer = Analyzer(stopwords=None, protected=None)
    assert analyzer == Analyzer() and analyzer("The running") == ["the", "run"]
    assert analyzer.get_params()["stopwords"] is None


def test_a_pattern_with_groups_gives_whole_matches():
    assert Analyzer(pattern=r"(r)(\w+)")("running rats") == ["run", "rat"]


@pytest.mark.parametrize("pattern", [r"\w*", r"(\w*)", re.compile(r"[a-z]*", re.IGNORECASE)])
def test_a_pattern_that_matches_nothing_finds_no_empty_word(pattern):
    analyzer = Analyzer(pattern=pattern)
    assert analyzer("Running, cats!") == ["run", "cat"]
    assert [token.word for token in analyzer.tokens("Running, cats!")] == ["Running", "cats"]
    assert analyzer("  ,, ") == []


def test_nfkc_is_applied_before_the_pattern():
    assert Analyzer(normalize="NFKC")("ﬁnding") == ["find"]
    assert Analyzer(normalize="NFC")("ﬁnding") == ["ﬁnding"]
    assert unicodedata.is_normalized("NFC", "ﬁnding")


def test_lexvale_exports():
    assert lexvale.Analyzer is Analyzer and lexvale.Token is Token
    assert Token._fields == ("stem", "start", "end", "word", "position")


@pytest.mark.parametrize(
    "language, words",
    [
        ("french", ["café", "cafe", "CAFÉ", "cafe\u0301"]),
        ("spanish", ["canción", "cancion"]),
        ("german", ["Müller", "Muller"]),
        ("portuguese", ["ação", "acao"]),
    ],
)
def test_folding_accents_makes_accented_and_plain_words_meet(language, words):
    folded = Analyzer(language, fold_accents=True)
    assert len({tuple(folded(word)) for word in words}) == 1
    assert folded(words[0])[0].isascii()


def test_folding_comes_after_stemming_and_leaves_other_scripts_marks():
    # The French algorithm reads the accent of "-ément"; the stem is folded afterwards.
    assert Analyzer("french", fold_accents=True)("Élégamment") == [
        unicodedata.normalize("NFC", "".join(
            c for c in unicodedata.normalize("NFD", stems("french", ["élégamment"])[0]) if not unicodedata.combining(c)))
    ]
    assert stems("french", ["elegamment"]) != stems("french", ["élégamment"])
    hindi = Analyzer("hindi", fold_accents=True)
    assert hindi("हिन्दी भाषाओं") == Analyzer("hindi")("हिन्दी भाषाओं")
    assert Analyzer("polish", fold_accents=True)("łódź") == [stems("polish", ["łódź"])[0].replace("ź", "z").replace("ó", "o")]


def test_folding_stays_right_when_its_memory_of_stems_overflows():
    analyzer = Analyzer("french", fold_accents=True, cache_size=3)
    words = [f"café{n}" for n in range(10)]
    assert analyzer(" ".join(words)) == [f"cafe{n}" for n in range(10)]
    assert analyzer(" ".join(words)) == [f"cafe{n}" for n in range(10)]

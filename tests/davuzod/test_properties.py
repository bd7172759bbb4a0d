"""Generated words for every algorithm, and random histories of one object's cache checked against a model."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, rule

import Davuzod
from cache_model import CacheModel, rows_of
from conftest import cache_state

Stemmer = Davuzod.Davuzod
ALGORITHMS = Davuzod.algorithms()
UNCACHED = {algorithm: Stemmer(algorithm, 0) for algorithm in ALGORITHMS}
INT_MIN, INT_MAX = -(2**31), 2**31 - 1

QUICK = dict(deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
PER_WORD = settings(max_examples=300, **QUICK)  # each example is stemmed by every algorithm, cached and uncached
SEQUENCES = settings(max_examples=200, **QUICK)
MACHINE = settings(max_examples=80, stateful_step_count=40, **QUICK)

# Letters and marks of the scripts the algorithms stem, so that generated words meet their suffix rules.
SCRIPTS = [
    (0x41, 0x24F),  # Latin with its diacritics
    (0x370, 0x3FF),  # Greek
    (0x400, 0x4FF),  # Cyrillic
    (0x531, 0x58F),  # Armenian
    (0x5D0, 0x5F4),  # Hebrew letters and Yiddish ligatures
    (0x600, 0x6FF),  # Arabic and Persian
    (0x900, 0x97F),  # Devanagari
    (0xB80, 0xBFF),  # Tamil
]
REAL_WORDS = [
    "running", "connections", "generously", "hopefulness", "générations", "nationales", "Häusern",
    "ordentlichen", "книгами", "читающий", "καλύτερος", "λόγους", "kirjoittaminen", "adımlarından",
    "çalışmalarımızdan", "gyerekeknek", "pensamientos", "possibilidades", "ledamöterna", "كتابهم",
    "प्रयोगकर्ताओं", "கொண்டிருக்கிறார்கள்", "aanbevelingen", "kavanoz", "ĉiutagaj",
]

script_text = st.sampled_from(SCRIPTS).flatmap(
    lambda bounds: st.text(
        st.characters(min_codepoint=bounds[0], max_codepoint=bounds[1], categories=["L", "M"]), max_size=16
    )
)
ENDINGS = [
    "", "s", "es", "ing", "ed", "ly", "ness", "ations", "ement", "en", "ern", "ungen", "lich", "lar", "ları",
    "ами", "ого", "ες", "ους", "ista", "ção", "ões", "osti", "ssa", "ها", "ों", "கள்",
]
inflected = st.builds(
    lambda word, ending, tail: word + ending + tail,
    st.sampled_from(REAL_WORDS),
    st.sampled_from(ENDINGS),
    st.one_of(st.just(""), script_text.map(lambda t: t[:2])),
)
any_text = st.text(st.characters(codec=None), max_size=16)  # every code point, surrogates among them
with_surrogate = st.builds(
    lambda before, surrogate, after: before + surrogate + after,
    st.one_of(inflected, any_text),
    st.characters(categories=["Cs"]),
    st.one_of(st.sampled_from(ENDINGS), any_text),
)
texts = st.one_of(script_text, inflected, any_text, with_surrogate)


def damaged(text, junk, at):
    """The UTF-8 of a word with arbitrary bytes spliced in, often inside a multi-byte character."""
    raw = text.encode("utf-8")
    return raw[:at] + junk + raw[at:]


raw_bytes = st.one_of(
    st.binary(max_size=24),  # NUL and bytes that are not UTF-8 included
    st.builds(damaged, st.one_of(script_text, inflected), st.binary(max_size=3), st.integers(0, 40)),
    st.one_of(script_text, inflected).map(lambda t: t.encode("utf-8")[:-1]),  # cut inside the last character
)


def utf8(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return None


def outcome(stemmer, word):
    """The stem, or the class of one of the two errors stemming may raise once that error is shown to be genuine."""
    try:
        stem = stemmer.stemWord(word)
    except UnicodeEncodeError as error:
        assert type(word) is str and error.encoding == "utf-8" and error.object == word
        with pytest.raises(UnicodeEncodeError):
            word.encode("utf-8")
        return UnicodeEncodeError
    except UnicodeDecodeError as error:
        # The undecodable stem is what the error carries. Well-formed UTF-8 never stems into malformed UTF-8.
        assert error.encoding == "utf-8" and type(error.object) is bytes
        assert utf8(error.object) is None
        assert utf8(word if type(word) is bytes else word.encode("utf-8")) is None
        return UnicodeDecodeError
    assert type(stem) is (str if isinstance(word, str) else bytes)
    return stem


def check_cached_path(algorithm, word, key, stem):
    """A fresh caching object gives the uncached outcome, stores a stem under key and answers a repeat from it."""
    stemmer = Stemmer(algorithm)
    assert outcome(stemmer, word) == stem
    if isinstance(stem, type):  # an error: nothing stored, nothing counted, and the next call misses again
        assert cache_state(stemmer) == ({}, 0)
        assert outcome(stemmer, word) == stem
        assert cache_state(stemmer) == ({}, 0)
        return
    text = stem if type(stem) is str else stem.decode("utf-8")
    cache, counter = cache_state(stemmer)
    assert cache == {key: [text, 0]} and counter == 1
    repeat = stemmer.stemWord(word)
    assert repeat == stem and type(repeat) is type(stem)
    if type(word) is str:
        assert repeat is cache[key][0]
    assert cache_state(stemmer) == ({key: [text, 1]}, 2)


@PER_WORD
@given(texts)
def test_text_words(word):
    key = word.encode("utf-8", "surrogatepass")
    for algorithm in ALGORITHMS:
        uncached = UNCACHED[algorithm]
        stem = outcome(uncached, word)
        if utf8(key) is None:  # a lone surrogate cannot be encoded
            assert stem is UnicodeEncodeError
        else:
            assert stem is not UnicodeEncodeError
            from_bytes = outcome(uncached, key)
            if isinstance(stem, str) and isinstance(from_bytes, bytes):
                assert stem == from_bytes.decode("utf-8")
            else:
                assert stem == from_bytes  # the same bytes reached libstemmer, so both fail alike
        check_cached_path(algorithm, word, key, stem)
        assert cache_state(uncached) == ({}, 0)


@PER_WORD
@given(raw_bytes)
def test_byte_words(word):
    text = utf8(word)
    for algorithm in ALGORITHMS:
        uncached = UNCACHED[algorithm]
        stem = outcome(uncached, word)
        if text is not None:
            from_text = outcome(uncached, text)
            assert stem == (from_text.encode("utf-8") if isinstance(from_text, str) else from_text)
        check_cached_path(algorithm, word, word, stem)
        assert cache_state(uncached) == ({}, 0)


def stem_one_by_one(stemmer, words):
    stems = []
    for word in words:
        result = outcome(stemmer, word)
        if isinstance(result, type):
            return result
        stems.append(result)
    return stems


@SEQUENCES
@given(
    algorithm=st.sampled_from(ALGORITHMS),
    bound=st.sampled_from([10000, 4, 2, 1, 0, -1]),
    words=st.lists(st.one_of(texts, raw_bytes, st.sampled_from(REAL_WORDS)), max_size=12),
    container=st.sampled_from([list, tuple, iter]),
)
def test_stem_words_is_stem_word_in_turn(algorithm, bound, words, container):
    one_by_one, together = Stemmer(algorithm, bound), Stemmer(algorithm, bound)
    expected = stem_one_by_one(one_by_one, words)
    try:
        actual = together.stemWords(container(words))
    except (UnicodeEncodeError, UnicodeDecodeError) as error:
        actual = type(error)
    assert actual == expected
    if type(actual) is list:
        assert [type(stem) for stem in actual] == [str if type(w) is str else bytes for w in words]
    # The words before a failure keep their cache effects, exactly as when stemmed one by one.
    assert cache_state(together) == cache_state(one_by_one)


word_text = st.text(st.sampled_from("aeinrsstgé"), max_size=5)  # few letters, so words recur and share stems
bounds = st.one_of(
    st.integers(1, 12),
    st.just(0),
    st.integers(-12, -1),
    # Bounds whose eightfold value does not fit in 32 bits, from the edge of those that do.
    st.integers(INT_MIN, -(2**28)),
    st.integers(2**28 - 2, INT_MAX),
    st.sampled_from([INT_MIN, INT_MAX]),
)


class CacheMachine(RuleBasedStateMachine):
    """Drives one object through random histories and compares its cache with the model after every step."""

    stemmer_class = Stemmer
    words = Bundle("words")

    @initialize(
        target=words, algorithm=st.sampled_from(ALGORITHMS), bound=st.one_of(st.integers(1, 12), bounds), word=word_text
    )
    def start(self, algorithm, bound, word):
        self.stemmer = self.stemmer_class(algorithm, bound)
        self.reference = UNCACHED[algorithm]
        self.model = CacheModel(bound)
        self.stem(word)
        return word

    def stem(self, word):
        key = word if type(word) is bytes else word.encode("utf-8")
        expected = outcome(self.reference, key)
        stem = None if expected is UnicodeDecodeError else expected.decode("utf-8")
        hit = self.model.stem(key, stem)
        result = outcome(self.stemmer, word)
        if stem is None:
            assert result is UnicodeDecodeError
        elif type(word) is str:
            assert result == stem
            if hit:
                assert result is cache_state(self.stemmer)[0][key][0]
        else:
            assert result == expected

    @rule(target=words, word=word_text)
    def new_word(self, word):
        self.stem(word)
        return word

    @rule(word=words)
    def repeated_word(self, word):
        self.stem(word)

    @rule(word=words)
    def bytes_of_seen_word(self, word):
        self.stem(word.encode("utf-8"))

    @rule(word=st.binary(max_size=4))
    def arbitrary_bytes(self, word):
        self.stem(word)

    @rule(seen=st.lists(words, max_size=6), fresh=st.lists(word_text, max_size=3), data=st.data())
    def stem_words(self, seen, fresh, data):
        batch = data.draw(st.permutations(seen + fresh))
        batch = [w.encode("utf-8") if data.draw(st.booleans()) else w for w in batch]
        expected = []
        for word in batch:
            key = word if type(word) is bytes else word.encode("utf-8")
            stem = outcome(self.reference, key).decode("utf-8")
            self.model.stem(key, stem)
            expected.append(stem if type(word) is str else stem.encode("utf-8"))
        assert self.stemmer.stemWords(batch) == expected

    @rule(bound=bounds)
    def set_bound(self, bound):
        self.stemmer.maxCacheSize = bound
        self.model.set_bound(bound)

    @rule()
    def trim(self):
        assert self.stemmer._Stemmer__purgeCache() is None
        self.model.trim()

    @invariant()
    def matches_model(self):
        cache, counter = cache_state(self.stemmer)
        assert type(cache) is dict and all(type(entry) is list and len(entry) == 2 for entry in cache.values())
        assert rows_of(cache) == self.model.rows()
        assert counter == self.model.counter
        assert self.stemmer.maxCacheSize == self.model.bound


class PlainSubclass(Stemmer):
    pass


class SubclassCacheMachine(CacheMachine):
    stemmer_class = PlainSubclass


TestCacheHistories = CacheMachine.TestCase
TestCacheHistories.settings = MACHINE
TestSubclassCacheHistories = SubclassCacheMachine.TestCase
TestSubclassCacheHistories.settings = MACHINE

"""The stem cache: entries, the use counter, trimming, and the maxCacheSize property."""

import random
import sys

import pytest

import Davuzod
from cache_model import CacheModel, rows_of
from conftest import cache_state

Stemmer = Davuzod.Davuzod


def words(n, prefix="w"):
    return [f"{prefix}{i}" for i in range(1, n + 1)]


def observed(stemmer):
    cache, counter = cache_state(stemmer)
    return [(key, entry[1]) for key, entry in cache.items()], counter


class TestEntries:
    def test_entry_is_stem_and_last_use(self, english):
        english.stemWords(["running", "cats", "running"])
        cache, counter = cache_state(english)
        assert cache == {b"running": ["run", 2], b"cats": ["cat", 1]}
        assert counter == 3
        assert all(type(k) is bytes and type(v) is list and type(v[0]) is str for k, v in cache.items())

    def test_hit_keeps_place_and_entry_object(self, english):
        english.stemWords(["a", "b", "c"])
        cache, _ = cache_state(english)
        entry = cache[b"a"]
        english.stemWord("a")
        cache, counter = cache_state(english)
        assert list(cache) == [b"a", b"b", b"c"]
        assert cache[b"a"] is entry and entry[1] == 3 and counter == 4

    def test_counter_counts_every_cached_call(self, english):
        sequence = ["cats", "dogs", "cats", b"cats", "mice", "dogs"]
        english.stemWords(sequence)
        assert cache_state(english)[1] == len(sequence)

    def test_trim_moves_the_same_entry_objects(self):
        s = Stemmer("english", 10)
        s.stemWords(words(9))
        survivors = {k: v for k, v in cache_state(s)[0].items() if k in (b"w8", b"w9")}
        s.stemWord("w10")
        cache, _ = cache_state(s)
        assert all(cache[k] is v for k, v in survivors.items())


class TestTrimming:
    def test_bound_ten_worked_example(self):
        s = Stemmer("english", 10)
        s.stemWords(words(9))
        s.stemWord("w1")
        s.stemWord("w10")
        assert observed(s) == (
            [(b"w1", 9), (b"w5", 4), (b"w6", 5), (b"w7", 6), (b"w8", 7), (b"w9", 8), (b"w10", 10)],
            11,
        )

    def test_default_bound_keeps_the_most_recent_window(self, english):
        stream = words(10000)
        english.stemWords(stream)
        cache, counter = cache_state(english)
        assert counter == 10000
        assert list(cache) == [w.encode() for w in stream[2001:]]  # 7999 entries
        english.stemWords(words(1999, "x"))
        assert len(cache_state(english)[0]) == 9998
        english.stemWord("y1")
        assert len(cache_state(english)[0]) == 9999
        english.stemWord("y2")
        assert len(cache_state(english)[0]) == 7999

    @pytest.mark.parametrize(
        "bound, sizes",
        [
            (1, [0, 0, 0, 0, 0]),
            (2, [1, 0, 1, 0, 1]),
            (3, [1, 2, 1, 2, 1]),
            (5, [1, 2, 3, 4, 3]),
        ],
    )
    def test_small_bounds_after_each_miss(self, bound, sizes):
        s = Stemmer("english", bound)
        seen = []
        for word in words(len(sizes)):
            s.stemWord(word)
            seen.append(len(cache_state(s)[0]))
        assert seen == sizes
        cache, counter = cache_state(s)
        if cache:
            assert b"w5" in cache  # the word just stemmed survives whenever the window is 2 or more

    @pytest.mark.parametrize("bound", [1, 2, 3, 7, 10, 64])
    def test_random_streams_follow_the_model(self, bound):
        rng = random.Random(bound)
        s, model, reference = Stemmer("english", bound), CacheModel(bound), Stemmer("english", 0)
        vocabulary = words(3 * bound + 5)
        for _ in range(40 * bound + 50):
            word = rng.choice(vocabulary)
            s.stemWord(word if rng.random() < 0.5 else word.encode())
            model.stem(word.encode(), reference.stemWord(word))
            cache, counter = cache_state(s)
            assert (rows_of(cache), counter) == (model.rows(), model.counter)

    def test_hits_never_trim(self):
        s = Stemmer("english", 3)
        s.stemWords(["a", "b"])
        s.stemWords(["a", "b"] * 5)
        assert observed(s) == ([(b"a", 10), (b"b", 11)], 12)

    def test_direct_trim_below_bound_changes_nothing(self, english):
        english.stemWords(["a", "b"])
        before = cache_state(english)
        assert english._Stemmer__purgeCache() is None
        assert Stemmer._Stemmer__purgeCache(english) is None
        after = cache_state(english)
        assert after[0] is before[0] and after == before

    def test_failing_comparison_leaves_cache_unchanged(self):
        class Raising:
            def __gt__(self, other):
                raise ZeroDivisionError("no order")

        s = Stemmer("english", 3)
        s.stemWords(["a", "b"])
        cache, counter = cache_state(s)
        cache[b"odd"] = ["odd", Raising()]
        with pytest.raises(ZeroDivisionError):
            s._Stemmer__purgeCache()
        after, after_counter = cache_state(s)
        assert after is cache and list(after) == [b"a", b"b", b"odd"] and after_counter == counter

    def test_cache_growing_during_trim_is_an_error(self):
        s = Stemmer("english", 3)
        s.stemWords(["a", "b"])
        cache, _ = cache_state(s)

        class Growing:
            def __gt__(self, other):
                cache[b"new"] = ["new", 0]
                return True

        cache[b"odd"] = ["odd", Growing()]
        with pytest.raises(RuntimeError) as info:
            s._Stemmer__purgeCache()
        assert str(info.value) == "dictionary changed size during iteration"
        assert cache_state(s)[0] is cache

    @pytest.mark.parametrize(
        "replace, bound_after, emptied",
        [
            (lambda s: s.__init__("porter", 10), 10, True),
            (lambda s: setattr(s, "maxCacheSize", 0), 0, True),
            (lambda s: s._Stemmer__purgeCache(), 3, False),
        ],
        ids=["reinitialised", "switched-off", "trimmed-again"],
    )
    def test_cache_replaced_during_trim_stands(self, replace, bound_after, emptied):
        s = Stemmer("english", 10)
        s.stemWords(["fairly", "cats", "dogs"])
        cache, _ = cache_state(s)

        class Replacing:
            calls = 0

            def __gt__(self, other):
                Replacing.calls += 1
                if Replacing.calls == 1:
                    replace(s)
                return True

        cache[b"odd"] = ["odd", Replacing()]
        s.maxCacheSize = 3  # the trim walks the old cache while the code replaces it
        replaced, counter = cache_state(s)
        assert replaced is not cache and s.maxCacheSize == bound_after
        assert all(entry[1] < counter for entry in replaced.values() if type(entry[1]) is int)
        if emptied:  # nothing of the old cache may answer any more
            assert replaced == {}
        if bound_after == 10:
            assert s.stemWord("fairly") == "fairli"  # Porter's stem, not the English one cached before

    def test_entries_of_other_shapes_are_read_by_subscription(self):
        class Entry(list):
            pass

        s = Stemmer("english", 3)
        s.stemWords(["a", "b"])
        cache, counter = cache_state(s)
        cache[b"t"] = Entry(["stem of t", counter + 100])
        cache[b"u"] = ("stem of u", counter + 100)
        s._Stemmer__purgeCache()  # window 2: only uses above counter - 2 survive
        cache, counter = cache_state(s)
        assert list(cache) == [b"b", b"t", b"u"]
        assert s.stemWord("t") == "stem of t" and cache[b"t"][1] == counter
        with pytest.raises(TypeError, match="does not support item assignment"):
            s.stemWord("u")


class TestMaxCacheSize:
    DOC = (
        "Maximum number of entries to allow in the cache.\n\n"
        "        This may be set to zero to disable the cache entirely.\n\n"
        "        The maximum cache size may be set at any point - setting the\n"
        "        maximum size will purge entries from the cache if the new maximum\n"
        "        size is smaller than the current size.\n\n        "
    )

    def test_property_docstring(self):
        assert Stemmer.maxCacheSize.__doc__ == self.DOC

    def test_zero_empties_and_restarts_counter(self, english):
        english.stemWords(["a", "b", "c"])
        english.maxCacheSize = 0
        assert english.maxCacheSize == 0 and cache_state(english) == ({}, 0)
        english.stemWords(["a", "b"])
        assert cache_state(english) == ({}, 0)

    def test_negative_empties_and_keeps_counter(self, english):
        english.stemWords(["a", "b", "c"])
        english.maxCacheSize = -5
        assert english.maxCacheSize == -5 and cache_state(english) == ({}, 3)
        english.stemWords(["a", "b"])
        assert cache_state(english) == ({}, 3)

    def test_caching_resumes_from_empty(self, english):
        english.stemWords(["a", "b"])
        english.maxCacheSize = -1
        english.maxCacheSize = 5
        english.stemWord("c")
        assert observed(english) == ([(b"c", 2)], 3)

    def test_raising_above_size_drops_nothing_and_equal_trims(self):
        s = Stemmer("english", 100)
        s.stemWords(words(10))
        s.maxCacheSize = 11
        assert len(cache_state(s)[0]) == 10
        s.maxCacheSize = 10  # window 8: the 7 most recent uses survive
        assert [k for k, _ in observed(s)[0]] == [w.encode() for w in words(10)[3:]]

    @pytest.mark.parametrize("value, stored", [(7.9, 7), (True, 1), (-2147483648, -2147483648), (2147483647, 2147483647)])
    def test_setter_converts_like_the_constructor(self, english, value, stored):
        english.maxCacheSize = value
        assert english.maxCacheSize == stored

    @pytest.mark.parametrize(
        "value, error, message",
        [("10", TypeError, "an integer is required"), (None, TypeError, "an integer is required"),
         (2**31, OverflowError, "value too large to convert to int")],
    )
    def test_rejected_value_changes_nothing(self, english, value, error, message):
        english.stemWords(["a", "b"])
        before = cache_state(english)
        with pytest.raises(error) as info:
            english.maxCacheSize = value
        assert str(info.value) == message
        assert english.maxCacheSize == 10000 and cache_state(english) == before

    def test_delete_is_refused(self, english):
        english.stemWords(["a", "b"])
        before = cache_state(english)
        with pytest.raises(NotImplementedError) as info:
            del english.maxCacheSize
        assert str(info.value) == "__del__"
        assert english.maxCacheSize == 10000 and cache_state(english) == before

    def test_huge_negative_bound_empties(self, english):
        english.stemWords(["a", "b"])
        english.maxCacheSize = -2147483648
        assert cache_state(english) == ({}, 2)


class RecordingStemmer(Stemmer):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.trims = []

    def _Stemmer__purgeCache(self):
        self.trims.append((len(cache_state(self)[0]), sys.exception()))
        return super()._Stemmer__purgeCache()


class TestOverriddenTrim:
    def test_called_after_each_miss_only(self):
        s = RecordingStemmer("english", 100)
        s.stemWords(["a", "b", "a", "a", "c"])
        assert [size for size, _ in s.trims] == [1, 2, 3]

    def test_miss_is_handled_as_a_key_error(self):
        s = RecordingStemmer("english", 100)
        s.stemWord("cats")
        s.stemWord(b"dogs")
        errors = [error for _, error in s.trims]
        assert [type(e) for e in errors] == [KeyError, KeyError]
        assert [e.args for e in errors] == [(b"cats",), (b"dogs",)]

    def test_callers_handled_exception_is_restored(self):
        s = RecordingStemmer("english", 100)
        try:
            raise ValueError("the caller's")
        except ValueError as outer:
            s.stemWord("cats")
            assert sys.exception() is outer
        assert sys.exception() is None

    def test_setter_calls_it_for_every_nonzero_value(self):
        s = RecordingStemmer("english", 100)
        for value in (100, 50, -3, 0, 7):
            s.maxCacheSize = value
        assert len(s.trims) == 4 and all(error is None for _, error in s.trims)

    def test_setter_failure_keeps_new_bound(self):
        class Failing(Stemmer):
            def _Stemmer__purgeCache(self):
                raise LookupError("trim failed")

        s = Failing("english")
        with pytest.raises(LookupError):
            s.maxCacheSize = 5
        assert s.maxCacheSize == 5

    def test_failed_trim_after_miss_keeps_entry_and_counter(self):
        class Failing(Stemmer):
            def _Stemmer__purgeCache(self):
                raise LookupError("trim failed")

        s = Failing("english")
        with pytest.raises(LookupError) as info:
            s.stemWord("cats")
        assert isinstance(info.value.__context__, KeyError)
        assert cache_state(s) == ({b"cats": ["cat", 0]}, 1)
        assert s.stemWord("cats") == "cat"

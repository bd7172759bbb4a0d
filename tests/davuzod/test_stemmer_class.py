"""The Davuzod class: construction, the cache bound conversion, lifecycle, pickling refusal."""

import copy
import gc
import pickle
import warnings
import weakref

import pytest

import Davuzod
from conftest import cache_state, run_child

Stemmer = Davuzod.Davuzod

CLASS_DOC = (
    "An instance of a stemming algorithm.\n\n"
    "    The algorithm has internal state, so must not be called concurrently.\n"
    "    ie, only a single thread should access the instance at any given time.\n\n"
    "    When creating a `Davuzod` object, there is one required argument: the\n"
    "    name of the algorithm to use in the new stemmer.  A list of the valid\n"
    "    algorithm names may be obtained by calling the `algorithms()` function\n"
    "    in this module.  In addition, the appropriate stemming algorithm for a\n"
    "    given language may be obtained by using the 2 or 3 letter ISO 639\n"
    "    language codes.\n\n"
    "    A second optional argument to the constructor for `Davuzod` is the size\n"
    "    of cache to use.  The cache implemented in this module is not terribly\n"
    "    efficient, but benchmarks show that it approximately doubles\n"
    "    performance for typical text processing operations, without too much\n"
    "    memory overhead.  The cache may be disabled by passing a size of 0.\n"
    "    The default size (10000 words) is probably appropriate in most\n"
    "    situations.  In pathological cases (for example, when no word is\n"
    "    presented to the stemming algorithm more than once, so the cache is\n"
    "    useless), the cache can severely damage performance.\n\n"
    '    The "benchmark.py" script supplied with the Lexvale distribution can\n'
    "    be used to test the performance of the stemming algorithms with various\n"
    "    cache sizes.\n\n    "
)
INIT_DOC = "Initialise a stemmer.\n\n        See the class documentation for details.\n\n        "
PICKLE_MESSAGE = "self.cobj cannot be converted to a Python object for pickling"


class TestTheClass:
    def test_names_and_docstrings(self):
        assert (Stemmer.__module__, Stemmer.__name__, Stemmer.__qualname__) == ("Davuzod", "Davuzod", "Davuzod")
        assert Stemmer.__doc__ == CLASS_DOC
        assert Stemmer.__init__.__doc__ == INIT_DOC
        assert Stemmer.__bases__ == (object,)

    def test_class_is_immutable(self):
        with pytest.raises(TypeError):
            Stemmer.extra = 1
        with pytest.raises(TypeError):
            del Stemmer.stemWord

    def test_instances_use_object_defaults(self, english):
        other = Stemmer("english")
        assert english == english and english != other
        assert hash(english) == object.__hash__(english)
        assert repr(english).startswith("<Davuzod.Davuzod object at 0x")

    def test_exact_instances_have_no_dict_or_weakrefs(self, english):
        with pytest.raises(AttributeError):
            english.note = 1
        with pytest.raises(TypeError):
            weakref.ref(english)

    def test_subclass_instances_get_dict_and_weakrefs(self):
        class Sub(Stemmer):
            pass

        s = Sub("english")
        s.note = 1
        ref = weakref.ref(s)
        assert ref() is s and s.note == 1
        assert s.stemWord("jumping") == "jump"
        del s
        gc.collect()
        assert ref() is None


class TestConstruction:
    def test_defaults(self, english):
        assert english.maxCacheSize == 10000
        assert cache_state(english) == ({}, 0)

    @pytest.mark.parametrize("name", ["english", "porter", "en", "eng", "french", "fr", "de", "ru"])
    def test_names_and_iso_codes_open_a_stemmer(self, name):
        assert isinstance(Stemmer(name).stemWord("x"), str)

    @pytest.mark.parametrize(
        "value, stored",
        [
            (0, 0),
            (-1, -1),
            (-5, -5),
            (2147483647, 2147483647),
            (-2147483648, -2147483648),
            (True, 1),
            (False, 0),
            (7.9, 7),
            (-7.9, -7),
        ],
    )
    def test_cache_bound_conversion(self, value, stored):
        assert Stemmer("english", value).maxCacheSize == stored
        assert Stemmer("english", maxCacheSize=value).maxCacheSize == stored

    class IndexOnly:
        def __index__(self):
            return 5

    class IntReturnsFloat:
        def __int__(self):
            return 5.0

    class IntReturnsText:
        def __int__(self):
            return "5"

    class IntRaises:
        def __int__(self):
            raise ZeroDivisionError("inside __int__")

    class IntReturnsBig:
        def __int__(self):
            return 2**31

    @pytest.mark.parametrize(
        "value, error, message",
        [
            (2147483648, OverflowError, "value too large to convert to int"),
            (-2147483649, OverflowError, "value too large to convert to int"),
            (2**63 - 1, OverflowError, "value too large to convert to int"),
            ("10", TypeError, "an integer is required"),
            (b"10", TypeError, "an integer is required"),
            (None, TypeError, "an integer is required"),
            (IndexOnly(), TypeError, "an integer is required"),
            (IntReturnsFloat(), TypeError, "__int__ returned non-int (type float)"),
            (IntReturnsText(), TypeError, "__int__ returned non-int (type str)"),
            (IntReturnsBig(), OverflowError, "value too large to convert to int"),
            (IntRaises(), ZeroDivisionError, "inside __int__"),
        ],
    )
    def test_cache_bound_rejections(self, value, error, message):
        with pytest.raises(error) as info:
            Stemmer("english", value)
        assert str(info.value) == message

    @pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**100])
    def test_bound_beyond_64_bits_gives_the_interpreters_overflow(self, value):
        with pytest.raises(OverflowError) as info:
            Stemmer("english", value)
        assert str(info.value) != "value too large to convert to int"

    @pytest.mark.parametrize("value, error", [(float("inf"), OverflowError), (float("nan"), ValueError)])
    def test_float_conversion_errors_pass_through(self, value, error):
        with pytest.raises(error):
            Stemmer("english", value)

    def test_int_subclass_from_int_warns_then_converts(self):
        class IntReturnsBool:
            def __int__(self):
                return True

        message = (
            "__int__ returned non-int (type bool).  The ability to return an instance of a strict "
            "subclass of int is deprecated, and may be removed in a future version of Python."
        )
        with pytest.warns(DeprecationWarning) as record:
            assert Stemmer("english", IntReturnsBool()).maxCacheSize == 1
        assert [str(w.message) for w in record] == [message]
        with warnings.catch_warnings():
            warnings.simplefilter("error", DeprecationWarning)
            with pytest.raises(DeprecationWarning, match="returned non-int"):
                Stemmer("english", IntReturnsBool())

    def test_int_subclass_is_read_without_its_methods(self):
        class LoudInt(int):
            def __int__(self):
                raise AssertionError("not to be called")

            __index__ = __int__

        assert Stemmer("english", LoudInt(42)).maxCacheSize == 42

    @pytest.mark.parametrize("name", ["klingon", "", "English", "english "])
    def test_unknown_algorithm(self, name):
        with pytest.raises(KeyError) as info:
            Stemmer(name)
        assert info.value.args == (f"Stemming algorithm '{name}' not found",)

    def test_bad_bound_is_reported_before_bad_name(self):
        with pytest.raises(TypeError, match="an integer is required"):
            Stemmer("klingon", "10")
        with pytest.raises(TypeError, match="an integer is required"):
            Stemmer(b"english", None)

    @pytest.mark.parametrize(
        "name, error",
        [(b"english", AttributeError), ("englisch\u00e9", UnicodeEncodeError), (42, AttributeError)],
    )
    def test_name_encoding_errors_are_not_key_errors(self, name, error):
        with pytest.raises(error):
            Stemmer(name)

    def test_name_stops_at_nul(self):
        assert Stemmer("english\0anything").stemWord("running") == "run"

    def test_key_error_formats_with_the_argument_itself(self):
        class Name(str):
            def __rmod__(self, other):
                return "custom message"

        with pytest.raises(KeyError) as info:
            Stemmer(Name("klingon"))
        assert info.value.args == ("custom message",)

    def test_any_object_with_encode_is_a_name(self):
        class Encodes:
            def __init__(self, result):
                self.result = result

            def encode(self, codec):
                assert codec == "ascii"
                return self.result

            def __str__(self):
                return "encoder"

        assert Stemmer(Encodes(b"english")).stemWord("cats") == "cat"
        assert Stemmer(Encodes(bytearray(b"french"))).stemWord("chats") == "chat"
        with pytest.raises(KeyError) as info:
            Stemmer(Encodes(bytearray()))
        assert info.value.args == ("Stemming algorithm 'encoder' not found",)
        with pytest.raises(TypeError):
            Stemmer(Encodes("english"))

    def test_keyword_construction(self):
        s = Stemmer(algorithm="english", maxCacheSize=3)
        assert s.maxCacheSize == 3 and s.stemWord("cats") == "cat"


class TestLifecycle:
    def test_new_without_init(self):
        for obj in (Stemmer.__new__(Stemmer), Stemmer.__new__(Stemmer, "english", 5, extra=1)):
            assert obj.maxCacheSize == 0
            assert cache_state(obj) == (None, None)
        del obj
        gc.collect()

    def test_abstract_subclass_is_refused_by_object(self):
        import abc

        class Abstract(Stemmer, metaclass=abc.ABCMeta):
            @abc.abstractmethod
            def extra(self): ...

        with pytest.raises(TypeError, match="abstract"):
            Abstract("english")

    def test_reinitialisation_switches_algorithm_and_resets_cache(self, english):
        english.stemWords(["cats", "running"])
        english.__init__("french", 50)
        assert english.maxCacheSize == 50
        assert cache_state(english) == ({}, 0)
        assert english.stemWord("chevaux") == Stemmer("french").stemWord("chevaux")

    def test_failed_lookup_leaves_object_without_handle(self, english):
        english.stemWord("cats")
        before = cache_state(english)
        with pytest.raises(KeyError):
            english.__init__("klingon", 7)
        assert english.maxCacheSize == 10000
        assert cache_state(english) == before
        # Cached words are still answered; anything else needs a handle.
        assert english.stemWord("cats") == "cat"
        with pytest.raises(RuntimeError, match="not initialised"):
            english.stemWord("dogs")
        english.maxCacheSize = 0
        with pytest.raises(RuntimeError, match="not initialised"):
            english.stemWord("cats")
        english.__init__("english")
        assert english.stemWord("dogs") == "dog"

    @pytest.mark.parametrize("bound", [0, 5])
    def test_uninitialised_object_refuses_to_stem(self, bound):
        obj = Stemmer.__new__(Stemmer)
        if bound:
            with pytest.raises(TypeError, match="object of type 'NoneType' has no len"):
                obj.maxCacheSize = bound
            with pytest.raises(TypeError, match="'NoneType' object is not subscriptable"):
                obj.stemWord("cats")
        else:
            obj.maxCacheSize = 0
            assert cache_state(obj) == ({}, 0)
            with pytest.raises(RuntimeError, match="not initialised"):
                obj.stemWord("cats")
            with pytest.raises(RuntimeError, match="not initialised"):
                obj.stemWords(["cats"])

    def test_reinitialisation_that_fails_changes_nothing(self, english):
        class Name(str):
            def __rmod__(self, other):
                raise LookupError("no message")

        english.stemWords(["cats", "fairly"])
        before = cache_state(english)
        with pytest.raises(LookupError):
            english.__init__(Name("klingon"), 7)
        assert english.maxCacheSize == 10000 and cache_state(english) == before
        assert english.stemWord("skies") == "sky"  # a miss: the English handle is still there

    def test_old_cache_is_released_after_the_object_is_complete(self, english):
        seen = []

        class Watcher:
            def __del__(self):
                cache, counter = cache_state(english)
                seen.append((english.maxCacheSize, dict(cache), counter, english.stemWord("fairly")))

        english.stemWord("fairly")
        cache_state(english)[0][b"watched"] = Watcher()
        english.__init__("porter", 50)
        assert seen == [(50, {}, 0, "fairli")]

    def test_failed_init_before_lookup_changes_nothing(self, english):
        english.stemWord("cats")
        before = cache_state(english)
        for args in [("english", "x"), (b"english",), ("engl\u00efsh",)]:
            with pytest.raises((TypeError, AttributeError, UnicodeEncodeError)):
                english.__init__(*args)
        assert cache_state(english) == before and english.stemWord("dogs") == "dog"

    def test_reference_cycle_through_subclass_is_collected(self):
        class Sub(Stemmer):
            pass

        s = Sub("english")
        s.me = s
        s.stemWord("cats")
        ref = weakref.ref(s)
        del s
        gc.collect()
        assert ref() is None

    def test_cycle_through_the_cache_is_collected(self):
        class Word(bytes):
            pass

        class Sub(Stemmer):
            pass

        stemmer = Sub("english")
        key = Word(b"cats")
        stemmer.stemWord(key)
        key.owner = stemmer  # stemmer -> cache -> key -> stemmer
        probe = weakref.ref(stemmer)
        del stemmer, key
        gc.collect()
        assert probe() is None

    def test_cycle_through_a_cache_entry_is_collected(self):
        class Sub(Stemmer):
            pass

        stemmer = Sub("english")
        stemmer.stemWord("cats")
        cache_state(stemmer)[0][b"cats"][1] = stemmer  # stemmer -> cache -> entry -> stemmer
        probe = weakref.ref(stemmer)
        del stemmer
        gc.collect()
        assert probe() is None

    def test_collected_cycles_release_their_handles(self):
        # The C heap (where libstemmer keeps its handles) grows by what a
        # thousand live handles take, and is back where it was once a
        # thousand objects held in cycles through their entries are collected.
        result = run_child("""
            import ctypes, gc, weakref
            import Davuzod

            class MallocInfo(ctypes.Structure):
                _fields_ = [(name, ctypes.c_size_t) for name in (
                    "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                    "keepcost")]

            libc = ctypes.CDLL(None)
            libc.mallinfo2.restype = MallocInfo

            def in_use():
                gc.collect()
                return libc.mallinfo2().uordblks

            class Sub(Davuzod.Davuzod):
                pass

            def stemmers(count, cyclic):
                made = []
                for _ in range(count):
                    stemmer = Sub("english")
                    stemmer.stemWord("cats")
                    if cyclic:
                        gc.get_referents(stemmer)[-2][b"cats"][1] = stemmer
                        stemmer = weakref.ref(stemmer)
                    made.append(stemmer)
                return made

            start = in_use()
            live = stemmers(1000, cyclic=False)
            per_handle = (in_use() - start) / 1000
            del live
            start = in_use()
            probes = stemmers(1000, cyclic=True)
            left = (in_use() - start) / 1000
            assert all(probe() is None for probe in probes)
            print(per_handle, left)
        """)
        per_handle, left = map(float, result.stdout.split())
        if per_handle < 64:  # a sanitizer's allocator keeps the C heap out of malloc's statistics
            pytest.skip(f"malloc's statistics do not show the handles ({per_handle:.0f} bytes each)")
        assert left < per_handle / 4, (per_handle, left)

    def test_subclass_finaliser_runs(self):
        seen = []

        class Sub(Stemmer):
            def __del__(self):
                seen.append(self.stemWord("cats"))

        Sub("english")
        gc.collect()
        assert seen == ["cat"]


class TestPicklingRefused:
    @pytest.mark.parametrize("operation", [pickle.dumps, copy.copy, copy.deepcopy])
    def test_copy_and_pickle(self, english, operation):
        with pytest.raises(TypeError) as info:
            operation(english)
        assert str(info.value) == PICKLE_MESSAGE

    def test_hooks_refuse_after_binding(self, english):
        for call in (english.__reduce__, lambda: english.__setstate__(None), lambda: english.__setstate__(state=1)):
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value) == PICKLE_MESSAGE

    def test_pickling_protocols(self, english):
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            with pytest.raises(TypeError, match="pickling"):
                pickle.dumps(english, protocol)

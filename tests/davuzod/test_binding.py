"""Argument binding of every callable of the module and the TypeErrors it raises."""

import ctypes
import sys

import pytest

import Davuzod
from conftest import cache_state, run_child

D = Davuzod.Davuzod
algorithms = Davuzod.algorithms
version = Davuzod.version

REFUSAL = "self.cobj cannot be converted to a Python object for pickling"


# --- helpers -----------------------------------------------------------------

_call = ctypes.pythonapi.PyObject_Call
_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
_call.restype = ctypes.py_object

_vectorcall = ctypes.pythonapi.PyObject_Vectorcall
_vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
_vectorcall.restype = ctypes.py_object


def call_with_dict(func, args, kwargs):
    """Calls func with a keyword dictionary as it is, keys the interpreter would refuse included."""
    return _call(func, tuple(args), kwargs)


def vectorcall(func, args, kwnames):
    """Calls func in the fast form: positional values, then one value per entry of kwnames."""
    array = (ctypes.py_object * max(1, len(args)))(*args)
    return _vectorcall(func, ctypes.cast(array, ctypes.c_void_p), len(args) - len(kwnames), kwnames)


def built(name):
    """The same text as name, made at run time so that it is not the interned literal."""
    half = len(name) // 2
    text = "".join([name[:half], name[half:]])
    assert text == name and text is not sys.intern(name)
    return text


class OtherHash(str):
    """Equal to its text, but hashing differently from it."""

    def __eq__(self, other):
        return str.__eq__(self, other)

    def __hash__(self):
        return hash(str(self)) ^ 0x5A5A5A


class Alias(str):
    """A name whose own equality says it is `target`, whatever its text."""

    target = None

    def __eq__(self, other):
        return other == self.target or str.__eq__(self, other)

    __hash__ = str.__hash__


def alias(text, target):
    cls = type("Alias", (Alias,), {"target": target})
    return cls(text)


class Refused(Exception):
    pass


class Raising(str):
    """A keyword name whose comparison raises."""

    def __eq__(self, other):
        raise Refused(str(self))

    __hash__ = str.__hash__


def count_msg(name, qualifier, expected, given):
    ending = "" if expected == 1 else "s"
    return f"{name}() takes {qualifier} {expected} positional argument{ending} ({given} given)"


def unexpected(name, keyword):
    return f"{name}() got an unexpected keyword argument '{keyword}'"


def multiple(name, keyword):
    return f"{name}() got multiple values for keyword argument '{keyword}'"


def needs(name):
    return f"{name}() needs an argument"


def snapshot(stemmer):
    cache, counter = cache_state(stemmer)
    return cache, {key: list(entry) for key, entry in cache.items()}, counter, stemmer.maxCacheSize


@pytest.fixture
def warm(english):
    for word in ("running", "jumps", "running"):
        english.stemWord(word)
    return english


# --- binding failures: exact messages, nothing changed -----------------------

BINDING_ERRORS = [
    # algorithms
    pytest.param(lambda s: algorithms(False, True), count_msg("algorithms", "at most", 1, 2), id="algorithms-two-positional"),
    pytest.param(lambda s: algorithms(1, 2, aliases=3), count_msg("algorithms", "at most", 1, 2), id="algorithms-count-before-keywords"),
    pytest.param(lambda s: algorithms(False, aliases=True), multiple("algorithms", "aliases"), id="algorithms-aliases-twice"),
    pytest.param(lambda s: algorithms(x=1), unexpected("algorithms", "x"), id="algorithms-unknown-keyword"),
    pytest.param(lambda s: algorithms(aliases=1, x=1), unexpected("algorithms", "x"), id="algorithms-unknown-after-aliases"),
    pytest.param(lambda s: algorithms(self=1), unexpected("algorithms", "self"), id="algorithms-self"),
    pytest.param(lambda s: algorithms(False, **{built("aliases"): 1}), multiple("algorithms", "aliases"), id="algorithms-built-name-twice"),
    # version
    pytest.param(lambda s: version(1), "version() takes no arguments (1 given)", id="version-one-positional"),
    pytest.param(lambda s: version(1, 2), "version() takes no arguments (2 given)", id="version-two-positional"),
    pytest.param(lambda s: version(x=1), "version() takes no keyword arguments", id="version-keyword"),
    pytest.param(lambda s: version(1, 2, x=1), "version() takes no keyword arguments", id="version-keyword-before-count"),
    pytest.param(lambda s: version(self=1), "version() takes no keyword arguments", id="version-self"),
    # construction
    pytest.param(lambda s: D(), count_msg("__init__", "at least", 1, 0), id="init-no-argument"),
    pytest.param(lambda s: D("english", 5, 6), count_msg("__init__", "at most", 2, 3), id="init-three-positional"),
    pytest.param(lambda s: D("english", 5, 6, foo=1, algorithm="x"), count_msg("__init__", "at most", 2, 3), id="init-count-before-keywords"),
    pytest.param(lambda s: D(maxCacheSize=5), count_msg("__init__", "at least", 1, 0), id="init-only-maxCacheSize"),
    pytest.param(lambda s: D("english", algorithm="english"), multiple("__init__", "algorithm"), id="init-algorithm-twice"),
    pytest.param(lambda s: D("english", 5, maxCacheSize=5), multiple("__init__", "maxCacheSize"), id="init-maxCacheSize-twice"),
    pytest.param(lambda s: D("english", 5, algorithm="x"), multiple("__init__", "algorithm"), id="init-two-positional-algorithm"),
    pytest.param(lambda s: D("english", foo=1), unexpected("__init__", "foo"), id="init-unknown-keyword"),
    pytest.param(lambda s: D("english", zeta=1, alpha=2), unexpected("__init__", "zeta"), id="init-first-unknown-zeta"),
    pytest.param(lambda s: D("english", alpha=2, zeta=1), unexpected("__init__", "alpha"), id="init-first-unknown-alpha"),
    pytest.param(lambda s: D(algorithm="english", zeta=1, maxCacheSize=3), unexpected("__init__", "zeta"), id="init-unknown-among-known"),
    pytest.param(lambda s: D(zeta=1, algorithm="english"), unexpected("__init__", "zeta"), id="init-unknown-before-known"),
    pytest.param(lambda s: D("english", foo=1, algorithm="x"), unexpected("__init__", "foo"), id="init-unknown-before-twice"),
    pytest.param(lambda s: D("english", algorithm="x", foo=1), multiple("__init__", "algorithm"), id="init-twice-before-unknown"),
    pytest.param(lambda s: D(maxCacheSize=5, foo=1), unexpected("__init__", "foo"), id="init-keyword-before-missing"),
    pytest.param(lambda s: D("english", self=1), unexpected("__init__", "self"), id="init-self"),
    pytest.param(lambda s: D(self=1), unexpected("__init__", "self"), id="init-only-self"),
    pytest.param(lambda s: D("english", "not a number", foo=1), unexpected("__init__", "foo"), id="init-binding-before-conversion"),
    pytest.param(lambda s: D("no such algorithm", foo=1), unexpected("__init__", "foo"), id="init-binding-before-lookup"),
    pytest.param(lambda s: D("english", **{built("algorithm"): "x"}), multiple("__init__", "algorithm"), id="init-built-name-twice"),
    pytest.param(lambda s: D("english", **{built("foo"): 1}), unexpected("__init__", "foo"), id="init-built-unknown"),
    pytest.param(lambda s: D("english", **{OtherHash("algorithm"): "x"}), multiple("__init__", "algorithm"), id="init-subclass-name-twice"),
    pytest.param(lambda s: D("english", 5, **{OtherHash("maxCacheSize"): 1}), multiple("__init__", "maxCacheSize"), id="init-subclass-maxCacheSize-twice"),
    pytest.param(lambda s: D("english", **{OtherHash("foo"): 1}), unexpected("__init__", "foo"), id="init-subclass-unknown"),
    pytest.param(lambda s: s.__init__("english", 5, 6), count_msg("__init__", "at most", 2, 3), id="reinit-three-positional"),
    pytest.param(lambda s: s.__init__(maxCacheSize=5), count_msg("__init__", "at least", 1, 0), id="reinit-missing-algorithm"),
    pytest.param(lambda s: s.__init__("english", maxCacheSize=5, foo=1), unexpected("__init__", "foo"), id="reinit-unknown-keyword"),
    pytest.param(lambda s: D.__init__(s), count_msg("__init__", "at least", 1, 0), id="reinit-through-class"),
    # stemWord, through an instance
    pytest.param(lambda s: s.stemWord(), count_msg("stemWord", "exactly", 1, 0), id="stemWord-no-argument"),
    pytest.param(lambda s: s.stemWord("a", "b"), count_msg("stemWord", "exactly", 1, 2), id="stemWord-two-positional"),
    pytest.param(lambda s: s.stemWord("a", "b", word="c"), count_msg("stemWord", "exactly", 1, 2), id="stemWord-count-before-keywords"),
    pytest.param(lambda s: s.stemWord("a", word="b"), multiple("stemWord", "word"), id="stemWord-word-twice"),
    pytest.param(lambda s: s.stemWord(self=s), unexpected("stemWord", "self"), id="stemWord-self"),
    pytest.param(lambda s: s.stemWord("a", self=s), unexpected("stemWord", "self"), id="stemWord-word-and-self"),
    pytest.param(lambda s: s.stemWord(word="a", foo=1), unexpected("stemWord", "foo"), id="stemWord-unknown-after-word"),
    pytest.param(lambda s: s.stemWord(foo=1, word="a"), unexpected("stemWord", "foo"), id="stemWord-unknown-before-word"),
    pytest.param(lambda s: s.stemWord(b=1, a=2), unexpected("stemWord", "b"), id="stemWord-first-unknown-b"),
    pytest.param(lambda s: s.stemWord(a=2, b=1), unexpected("stemWord", "a"), id="stemWord-first-unknown-a"),
    pytest.param(lambda s: s.stemWord("\ud800", foo=1), unexpected("stemWord", "foo"), id="stemWord-binding-before-encoding"),
    pytest.param(lambda s: s.stemWord("a", **{built("word"): "b"}), multiple("stemWord", "word"), id="stemWord-built-name-twice"),
    pytest.param(lambda s: s.stemWord(**{built("wrd"): "b"}), unexpected("stemWord", "wrd"), id="stemWord-built-unknown"),
    pytest.param(lambda s: s.stemWord("a", **{OtherHash("word"): "b"}), multiple("stemWord", "word"), id="stemWord-subclass-name-twice"),
    pytest.param(lambda s: s.stemWord("a", **{alias("w", "word"): "b"}), multiple("stemWord", "w"), id="stemWord-alias-twice"),
    pytest.param(lambda s: s.stemWord(**{OtherHash("wort"): "b"}), unexpected("stemWord", "wort"), id="stemWord-subclass-unknown"),
    # stemWord, through the class
    pytest.param(lambda s: D.stemWord(), needs("stemWord"), id="class-stemWord-no-argument"),
    pytest.param(lambda s: D.stemWord(word="a"), needs("stemWord"), id="class-stemWord-keyword-only"),
    pytest.param(lambda s: D.stemWord(self=s, word="a"), needs("stemWord"), id="class-stemWord-self-keyword"),
    pytest.param(lambda s: D.stemWord(s), count_msg("stemWord", "exactly", 1, 0), id="class-stemWord-instance-only"),
    pytest.param(lambda s: D.stemWord(s, "a", "b"), count_msg("stemWord", "exactly", 1, 2), id="class-stemWord-two-words"),
    pytest.param(lambda s: D.stemWord(s, "a", word="b"), multiple("stemWord", "word"), id="class-stemWord-word-twice"),
    pytest.param(lambda s: D.stemWord(s, "a", self=s), unexpected("stemWord", "self"), id="class-stemWord-self"),
    # stemWords
    pytest.param(lambda s: s.stemWords(), count_msg("stemWords", "exactly", 1, 0), id="stemWords-no-argument"),
    pytest.param(lambda s: s.stemWords([], []), count_msg("stemWords", "exactly", 1, 2), id="stemWords-two-positional"),
    pytest.param(lambda s: s.stemWords([], [], words=[]), count_msg("stemWords", "exactly", 1, 2), id="stemWords-count-before-keywords"),
    pytest.param(lambda s: s.stemWords([], words=[]), multiple("stemWords", "words"), id="stemWords-words-twice"),
    pytest.param(lambda s: s.stemWords(word=[]), unexpected("stemWords", "word"), id="stemWords-wrong-keyword"),
    pytest.param(lambda s: s.stemWords(words=[], foo=1), unexpected("stemWords", "foo"), id="stemWords-unknown-after-words"),
    pytest.param(lambda s: s.stemWords(self=s), unexpected("stemWords", "self"), id="stemWords-self"),
    pytest.param(lambda s: s.stemWords([], **{built("words"): []}), multiple("stemWords", "words"), id="stemWords-built-name-twice"),
    pytest.param(lambda s: D.stemWords(), needs("stemWords"), id="class-stemWords-no-argument"),
    pytest.param(lambda s: D.stemWords(words=[]), needs("stemWords"), id="class-stemWords-keyword-only"),
    pytest.param(lambda s: D.stemWords(s), count_msg("stemWords", "exactly", 1, 0), id="class-stemWords-instance-only"),
    # _Stemmer__purgeCache
    pytest.param(lambda s: s._Stemmer__purgeCache(1), count_msg("_Stemmer__purgeCache", "exactly", 0, 1), id="purge-one-positional"),
    pytest.param(lambda s: s._Stemmer__purgeCache(1, 2), count_msg("_Stemmer__purgeCache", "exactly", 0, 2), id="purge-two-positional"),
    pytest.param(lambda s: s._Stemmer__purgeCache(1, x=2), count_msg("_Stemmer__purgeCache", "exactly", 0, 1), id="purge-count-before-keywords"),
    pytest.param(lambda s: s._Stemmer__purgeCache(b=1, a=2), unexpected("_Stemmer__purgeCache", "b"), id="purge-first-keyword-b"),
    pytest.param(lambda s: s._Stemmer__purgeCache(a=2, b=1), unexpected("_Stemmer__purgeCache", "a"), id="purge-first-keyword-a"),
    pytest.param(lambda s: s._Stemmer__purgeCache(self=s), unexpected("_Stemmer__purgeCache", "self"), id="purge-self"),
    pytest.param(lambda s: s._Stemmer__purgeCache(**{Raising("x"): 1}), unexpected("_Stemmer__purgeCache", "x"), id="purge-keyword-not-compared"),
    pytest.param(lambda s: D._Stemmer__purgeCache(), needs("_Stemmer__purgeCache"), id="class-purge-no-argument"),
    pytest.param(lambda s: D._Stemmer__purgeCache(x=1), needs("_Stemmer__purgeCache"), id="class-purge-keyword-only"),
    pytest.param(lambda s: D._Stemmer__purgeCache(s, 1), count_msg("_Stemmer__purgeCache", "exactly", 0, 1), id="class-purge-extra-positional"),
    # pickling hooks
    pytest.param(lambda s: s.__reduce__(1), count_msg("__reduce__", "exactly", 0, 1), id="reduce-one-positional"),
    pytest.param(lambda s: s.__reduce__(1, x=2), count_msg("__reduce__", "exactly", 0, 1), id="reduce-count-before-keywords"),
    pytest.param(lambda s: s.__reduce__(y=1, x=2), unexpected("__reduce__", "y"), id="reduce-first-keyword"),
    pytest.param(lambda s: s.__reduce__(self=s), unexpected("__reduce__", "self"), id="reduce-self"),
    pytest.param(lambda s: s.__reduce__(), REFUSAL, id="reduce-bound-refuses"),
    pytest.param(lambda s: s.__setstate__(), count_msg("__setstate__", "exactly", 1, 0), id="setstate-no-argument"),
    pytest.param(lambda s: s.__setstate__(1, 2), count_msg("__setstate__", "exactly", 1, 2), id="setstate-two-positional"),
    pytest.param(lambda s: s.__setstate__(1, 2, state=3), count_msg("__setstate__", "exactly", 1, 2), id="setstate-count-before-keywords"),
    pytest.param(lambda s: s.__setstate__(1, state=2), multiple("__setstate__", "state"), id="setstate-state-twice"),
    pytest.param(lambda s: s.__setstate__(st=1), unexpected("__setstate__", "st"), id="setstate-unknown-keyword"),
    pytest.param(lambda s: s.__setstate__(state=1, x=2), unexpected("__setstate__", "x"), id="setstate-unknown-after-state"),
    pytest.param(lambda s: s.__setstate__(self=s), unexpected("__setstate__", "self"), id="setstate-self"),
    pytest.param(lambda s: s.__setstate__(1), REFUSAL, id="setstate-positional-refuses"),
    pytest.param(lambda s: s.__setstate__(state=1), REFUSAL, id="setstate-keyword-refuses"),
    pytest.param(lambda s: s.__setstate__(**{built("state"): 1}), REFUSAL, id="setstate-built-keyword-refuses"),
    pytest.param(lambda s: D.__setstate__(s, 1), REFUSAL, id="setstate-through-class-refuses"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_error_message_and_no_change(warm, call, message):
    before = snapshot(warm)
    with pytest.raises(TypeError) as excinfo:
        call(warm)
    assert excinfo.type is TypeError
    assert str(excinfo.value) == message
    cache, entries, counter, bound = snapshot(warm)
    assert cache is before[0]
    assert (entries, counter, bound) == before[1:]


# --- successful binding: every spelling binds like the positional call -------

def construction(stemmer):
    return stemmer.maxCacheSize, stemmer.stemWord("running")


class Sub(D):
    pass


BINDINGS = [
    pytest.param(lambda s: algorithms(aliases=True), lambda s: algorithms(), id="algorithms-aliases-keyword"),
    pytest.param(lambda s: algorithms(**{built("aliases"): True}), lambda s: algorithms(), id="algorithms-built-name"),
    pytest.param(lambda s: algorithms(**{OtherHash("aliases"): True}), lambda s: algorithms(), id="algorithms-subclass-name"),
    pytest.param(lambda s: construction(D(algorithm="english")), lambda s: construction(D("english")), id="init-algorithm-keyword"),
    pytest.param(lambda s: construction(D(maxCacheSize=7, algorithm="english")), lambda s: construction(D("english", 7)), id="init-both-keywords"),
    pytest.param(lambda s: construction(D("english", maxCacheSize=7)), lambda s: construction(D("english", 7)), id="init-maxCacheSize-keyword"),
    pytest.param(lambda s: construction(D(**{built("algorithm"): "english", built("maxCacheSize"): 7})), lambda s: construction(D("english", 7)), id="init-built-names"),
    pytest.param(lambda s: construction(D(**{OtherHash("algorithm"): "english"})), lambda s: construction(D("english")), id="init-subclass-other-hash"),
    pytest.param(lambda s: construction(D("english", **{OtherHash("maxCacheSize"): 7})), lambda s: construction(D("english", 7)), id="init-subclass-maxCacheSize"),
    pytest.param(lambda s: construction(D(**{alias("algo", "algorithm"): "english"})), lambda s: construction(D("english")), id="init-alias-name"),
    pytest.param(lambda s: construction(D("english", **{})), lambda s: construction(D("english")), id="init-empty-keywords"),
    pytest.param(lambda s: s.stemWord(word="running"), lambda s: s.stemWord("running"), id="stemWord-keyword"),
    pytest.param(lambda s: s.stemWord(**{built("word"): "running"}), lambda s: s.stemWord("running"), id="stemWord-built-name"),
    pytest.param(lambda s: s.stemWord(**{OtherHash("word"): "running"}), lambda s: s.stemWord("running"), id="stemWord-subclass-name"),
    pytest.param(lambda s: s.stemWord(**{alias("w", "word"): "running"}), lambda s: s.stemWord("running"), id="stemWord-alias-name"),
    pytest.param(lambda s: D.stemWord(s, "running"), lambda s: s.stemWord("running"), id="class-stemWord"),
    pytest.param(lambda s: D.stemWord(s, word="running"), lambda s: s.stemWord("running"), id="class-stemWord-keyword"),
    pytest.param(lambda s: D.stemWord(Sub("english"), "running"), lambda s: s.stemWord("running"), id="class-stemWord-subclass-instance"),
    pytest.param(lambda s: s.stemWords(words=["running", "ponies"]), lambda s: s.stemWords(["running", "ponies"]), id="stemWords-keyword"),
    pytest.param(lambda s: s.stemWords(**{built("words"): ["running"]}), lambda s: s.stemWords(["running"]), id="stemWords-built-name"),
    pytest.param(lambda s: D.stemWords(s, ["running", "ponies"]), lambda s: s.stemWords(["running", "ponies"]), id="class-stemWords"),
]


@pytest.mark.parametrize("call, reference", BINDINGS)
def test_keyword_spellings_bind_like_positional(english, call, reference):
    assert call(english) == reference(english)


# --- str subclass keyword names whose comparison raises ----------------------

RAISING_NAMES = [
    pytest.param(lambda s: s.stemWord(**{Raising("word"): "a"}), id="stemWord-open"),
    pytest.param(lambda s: s.stemWord("a", **{Raising("zzz"): "b"}), id="stemWord-filled"),
    pytest.param(lambda s: s.stemWords(**{Raising("words"): []}), id="stemWords"),
    pytest.param(lambda s: algorithms(**{Raising("aliases"): 1}), id="algorithms"),
    pytest.param(lambda s: s.__setstate__(**{Raising("state"): 1}), id="setstate"),
    pytest.param(lambda s: D(**{Raising("algorithm"): "english"}), id="init-same-hash"),
    pytest.param(lambda s: D(**{Raising("zzz"): "english"}), id="init-other-name"),
    pytest.param(lambda s: D("english", **{Raising("zzz"): 1}), id="init-after-positional"),
    pytest.param(lambda s: s.__init__("english", **{Raising("zzz"): 1}), id="reinit"),
]


@pytest.mark.parametrize("call", RAISING_NAMES)
def test_keyword_comparison_error_propagates(warm, call):
    before = snapshot(warm)
    with pytest.raises(Refused):
        call(warm)
    cache, entries, counter, bound = snapshot(warm)
    assert cache is before[0]
    assert (entries, counter, bound) == before[1:]


# --- a method reached through the class with something else as instance -----

@pytest.mark.parametrize("method, rest", [("stemWord", ("running",)), ("stemWords", (["running"],)), ("_Stemmer__purgeCache", ())])
@pytest.mark.parametrize("other", [1, "english", None])
def test_class_method_refuses_foreign_instance(method, rest, other):
    with pytest.raises(TypeError) as excinfo:
        getattr(D, method)(other, *rest)
    assert str(excinfo.value) == (
        f"descriptor '{method}' for 'Davuzod.Davuzod' objects doesn't apply to a '{type(other).__name__}' object"
    )


def test_class_purge_trims_the_given_instance():
    # The subclass disables trimming after misses, so the cache can reach its bound.
    class NoTrim(D):
        def _Stemmer__purgeCache(self):
            pass

    words = [f"word{i}" for i in range(10)]
    through_class, through_instance = NoTrim("english", 10), NoTrim("english", 10)
    for stemmer in (through_class, through_instance):
        stemmer.stemWords(words)
        assert len(cache_state(stemmer)[0]) == 10

    assert D._Stemmer__purgeCache(through_class) is None
    super(NoTrim, through_instance)._Stemmer__purgeCache()

    trimmed = list(cache_state(through_class)[0])
    assert 0 < len(trimmed) < 10
    assert trimmed == list(cache_state(through_instance)[0])
    assert cache_state(through_class)[1] == 10


# --- keyword dictionaries handed over as they are ----------------------------

DICT_STRING_CHECK = [
    pytest.param(lambda s: (algorithms, ()), id="algorithms"),
    pytest.param(lambda s: (algorithms, (1, 2, 3)), id="algorithms-too-many"),
    pytest.param(lambda s: (version, ()), id="version"),
    pytest.param(lambda s: (version, (1,)), id="version-positional"),
    pytest.param(lambda s: (D.stemWord, ()), id="class-stemWord-before-needs-argument"),
    pytest.param(lambda s: (D.stemWords, ()), id="class-stemWords-before-needs-argument"),
    pytest.param(lambda s: (D._Stemmer__purgeCache, ()), id="class-purge-before-needs-argument"),
    pytest.param(lambda s: (D.stemWord, (s, "a", "b")), id="class-stemWord-too-many"),
    pytest.param(lambda s: (s.stemWord, ("a",)), id="bound-stemWord"),
    pytest.param(lambda s: (s._Stemmer__purgeCache, ()), id="bound-purge"),
    pytest.param(lambda s: (D, ()), id="init-before-missing-algorithm"),
    pytest.param(lambda s: (D, ("english",)), id="init"),

]


@pytest.mark.parametrize("target", DICT_STRING_CHECK)
@pytest.mark.parametrize("kwargs", [{1: 2}, {"word": "a", 1: 2}, {"foo": 1, 1: 2}], ids=["only", "after-valid", "after-unknown"])
def test_non_string_keyword_key(warm, target, kwargs):
    before = snapshot(warm)
    with pytest.raises(TypeError) as excinfo:
        call_with_dict(*target(warm), kwargs)
    assert str(excinfo.value) == "keywords must be strings"
    cache, entries, counter, bound = snapshot(warm)
    assert cache is before[0]
    assert (entries, counter, bound) == before[1:]


def test_too_many_positional_before_non_string_key_in_init():
    with pytest.raises(TypeError) as excinfo:
        call_with_dict(D, ("english", 5, 6), {1: 2})
    assert str(excinfo.value) == count_msg("__init__", "at most", 2, 3)


EMPTY_DICT = [
    pytest.param(lambda s: (version, ()), lambda s: version(), id="version"),
    pytest.param(lambda s: (algorithms, (True,)), lambda s: algorithms(), id="algorithms"),
    pytest.param(lambda s: (D.stemWord, (s, "running")), lambda s: s.stemWord("running"), id="class-stemWord"),
    pytest.param(lambda s: (s.stemWords, (["running"],)), lambda s: s.stemWords(["running"]), id="bound-stemWords"),
    pytest.param(lambda s: (D._Stemmer__purgeCache, (s,)), lambda s: None, id="class-purge"),

]


@pytest.mark.parametrize("target, reference", EMPTY_DICT)
def test_empty_keyword_dict_is_no_keywords(english, target, reference):
    assert call_with_dict(*target(english), {}) == reference(english)


EMPTY_DICT_ERRORS = [
    pytest.param(lambda s: (version, (1,)), "version() takes no arguments (1 given)", id="version-counts-positional"),
    pytest.param(lambda s: (D.stemWord, ()), needs("stemWord"), id="class-stemWord-needs-argument"),
    pytest.param(lambda s: (D.stemWord, (s,)), count_msg("stemWord", "exactly", 1, 0), id="class-stemWord-instance-only"),
    pytest.param(lambda s: (s._Stemmer__purgeCache, (1,)), count_msg("_Stemmer__purgeCache", "exactly", 0, 1), id="bound-purge-positional"),
    pytest.param(lambda s: (D, ()), count_msg("__init__", "at least", 1, 0), id="init-no-argument"),

]


@pytest.mark.parametrize("target, message", EMPTY_DICT_ERRORS)
def test_empty_keyword_dict_errors_as_without_keywords(english, target, message):
    with pytest.raises(TypeError) as excinfo:
        call_with_dict(*target(english), {})
    assert str(excinfo.value) == message


def test_string_keyword_dict_binds(english):
    assert call_with_dict(D.stemWord, (english,), {"word": "running"}) == english.stemWord("running")
    with pytest.raises(TypeError) as excinfo:
        call_with_dict(version, (), {"x": 1})
    assert str(excinfo.value) == "version() takes no keyword arguments"


# --- keyword names tuples of the fast form ------------------------------------

NAMES_TUPLE_ERRORS = [
    pytest.param(lambda s: (algorithms, [5]), (1,), "algorithms() keywords must be strings", id="algorithms"),
    pytest.param(lambda s: (s.stemWord, [5]), (1,), "stemWord() keywords must be strings", id="bound-stemWord"),
    pytest.param(lambda s: (D.stemWord, [s, 5]), (1,), "stemWord() keywords must be strings", id="class-stemWord"),
    pytest.param(lambda s: (s.stemWords, ["a", 5]), (b"words",), "stemWords() keywords must be strings", id="stemWords-after-positional"),
    pytest.param(lambda s: (s.__setstate__, [5]), (1,), "__setstate__() keywords must be strings", id="setstate"),
    pytest.param(lambda s: (s.stemWord, [5, 6]), ("foo", 1), unexpected("stemWord", "foo"), id="stemWord-string-name-first"),
    pytest.param(lambda s: (version, [5]), (1,), "version() takes no keyword arguments", id="version"),
    pytest.param(lambda s: (version, [1]), (), "version() takes no arguments (1 given)", id="version-empty-names"),
    pytest.param(lambda s: (D.stemWord, [s]), (), count_msg("stemWord", "exactly", 1, 0), id="class-stemWord-empty-names"),

]


@pytest.mark.parametrize("target, kwnames, message", NAMES_TUPLE_ERRORS)
def test_keyword_names_tuple(warm, target, kwnames, message):
    before = snapshot(warm)
    with pytest.raises(TypeError) as excinfo:
        vectorcall(*target(warm), kwnames)
    assert str(excinfo.value) == message
    cache, entries, counter, bound = snapshot(warm)
    assert cache is before[0]
    assert (entries, counter, bound) == before[1:]


def test_empty_names_tuple_is_no_keywords(english):
    assert vectorcall(D.stemWord, [english, "running"], ()) == english.stemWord("running")
    assert vectorcall(version, [], ()) == version()


@pytest.mark.parametrize("name", ["_Stemmer__purgeCache", "__reduce__"])
def test_non_string_name_for_callable_without_parameters(name):
    # Run apart: a wrong reaction here is a crash, not an exception.
    result = run_child(
        f"""
        import ctypes, Davuzod
        vectorcall = ctypes.pythonapi.PyObject_Vectorcall
        vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
        vectorcall.restype = ctypes.py_object
        method = getattr(Davuzod.Davuzod("english"), {name!r})
        values = (ctypes.py_object * 1)(5)
        try:
            vectorcall(method, ctypes.cast(values, ctypes.c_void_p), 0, (1,))
        except TypeError as error:
            print(error)
        """,
        check=False,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == f"{name}() keywords must be strings"

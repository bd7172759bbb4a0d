"""Every entry point, on its success path and each error path, leaves no reference or block behind.

Runs under the debug interpreter, whose total reference count and allocated
block count show a leak of a single reference per call.
"""

import copy
import ctypes
import gc
import sys

import pytest

import Davuzod

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")

Stemmer = Davuzod.Davuzod
WARM_UP, ITERATIONS = 300, 3000
# Counts may wobble by a few (interned names, free lists); a leak per call shows as thousands.
TOLERANCE = 30

PyObject_Call = ctypes.pythonapi.PyObject_Call
PyObject_Call.argtypes = [ctypes.py_object] * 3
PyObject_Call.restype = ctypes.py_object


def growth(action):
    for _ in range(WARM_UP):
        action()
    gc.collect()
    refs, blocks = sys.gettotalrefcount(), sys.getallocatedblocks()
    for _ in range(ITERATIONS):
        action()
    gc.collect()
    return sys.gettotalrefcount() - refs, sys.getallocatedblocks() - blocks


def raising(call, error):
    def action():
        try:
            call()
        except error:
            pass
        else:
            raise AssertionError(f"{call} did not raise {error}")

    return action


class Text(str):
    pass


class Unequal(str):
    def __eq__(self, other):
        raise ZeroDivisionError

    __hash__ = str.__hash__


class IntRaises:
    def __int__(self):
        raise ValueError


class IntReturnsBool:
    def __int__(self):
        return True


class Sub(Stemmer):
    def _Stemmer__purgeCache(self):
        return super()._Stemmer__purgeCache()


class FailingTrim(Stemmer):
    def _Stemmer__purgeCache(self):
        gc.get_referents(self)[-2].clear()  # every call misses again
        raise LookupError


class Raising:
    def __gt__(self, other):
        raise ZeroDivisionError


def failing_generator():
    yield "cats"
    raise ZeroDivisionError


english = Stemmer("english")
english.stemWords(["cats", "dogs"])
uncached = Stemmer("english", 0)
tiny = Stemmer("english", 1)
subclassed = Sub("english", 2)
failing_trim = FailingTrim("english")
broken_trim = Stemmer("english", 3)
broken_cache = gc.get_referents(broken_trim)[0]
broken_cache[b"odd"] = ["odd", Raising()]
broken_cache[b"odd2"] = ["odd2", 0]
broken_cache[b"odd3"] = ["odd3", 0]
bare = Stemmer.__new__(Stemmer)
no_cache = Stemmer.__new__(Stemmer)
try:
    no_cache.maxCacheSize = 5  # stores the bound, then fails to trim a cache of None
except TypeError:
    pass


def setter(stemmer, value):
    def action():
        stemmer.maxCacheSize = value

    return action


def deleter():
    del english.maxCacheSize


SUCCESS = {
    "construct-and-drop": lambda: Stemmer("english", 5),
    "construct-by-keyword": lambda: Stemmer(algorithm="en", maxCacheSize=3),
    "reinitialise": lambda: tiny.__init__("english", 1),
    "new-without-init": lambda: Stemmer.__new__(Stemmer),
    "subclass-construct": lambda: Sub("english"),
    "stemWord-hit-text": lambda: english.stemWord("cats"),
    "stemWord-hit-bytes": lambda: english.stemWord(b"dogs"),
    "stemWord-hit-subclass-text": lambda: english.stemWord(Text("cats")),
    "stemWord-miss-text": lambda: tiny.stemWord("running"),
    "stemWord-miss-bytes": lambda: tiny.stemWord(b"running"),
    "stemWord-miss-subclass": lambda: subclassed.stemWord("généralement"),
    "stemWord-uncached-text": lambda: uncached.stemWord("running"),
    "stemWord-uncached-nonascii": lambda: uncached.stemWord("généralement"),
    "stemWord-uncached-bytearray": lambda: uncached.stemWord(bytearray(b"running")),
    "stemWord-keyword": lambda: english.stemWord(word="cats"),
    "stemWord-through-class": lambda: Stemmer.stemWord(english, "cats"),
    "stemWords-list": lambda: english.stemWords(["cats", b"dogs", "mice"]),
    "stemWords-tuple": lambda: tiny.stemWords(("cats", "dogs")),
    "stemWords-generator": lambda: english.stemWords(w for w in ["cats", "dogs"]),
    "stemWords-subclass": lambda: subclassed.stemWords(["a", "b", "c"]),
    "purge-direct": lambda: english._Stemmer__purgeCache(),
    "setter-trim": setter(subclassed, 2),
    "setter-zero": setter(Stemmer("english"), 0),
    "getter": lambda: english.maxCacheSize,
    "algorithms": lambda: Davuzod.algorithms(),
    "algorithms-keyword": lambda: Davuzod.algorithms(aliases=True),
    "version": lambda: Davuzod.version(),
    "function-attributes": lambda: (Davuzod.version.__qualname__, Davuzod.algorithms.__defaults__,
                                    Stemmer.stemWord.__doc__, Stemmer.stemWord.__text_signature__),
    "bound-method": lambda: english.stemWord,
    "dict-front": lambda: PyObject_Call(Stemmer.stemWord, (english,), {"word": "cats"}),
}

FAILURE = {
    "init-count": (lambda: Stemmer(), TypeError),
    "init-too-many": (lambda: Stemmer("english", 1, 2), TypeError),
    "init-unexpected-keyword": (lambda: Stemmer("english", other=1), TypeError),
    "init-multiple-values": (lambda: Stemmer("english", algorithm="english"), TypeError),
    "init-raising-keyword": (lambda: Stemmer(**{Unequal("algorithmx"): "english"}), ZeroDivisionError),
    "init-bound-type": (lambda: Stemmer("english", "10"), TypeError),
    "init-bound-overflow": (lambda: Stemmer("english", 2**40), OverflowError),
    "init-bound-huge": (lambda: Stemmer("english", 2**70), OverflowError),
    "init-bound-raises": (lambda: Stemmer("english", IntRaises()), ValueError),
    "init-bound-float": (lambda: Stemmer("english", float("nan")), ValueError),
    "init-unknown-algorithm": (lambda: Stemmer("klingon"), KeyError),
    "init-unknown-subclass-name": (lambda: Stemmer(Text("klingon")), KeyError),
    "init-non-ascii-name": (lambda: Stemmer("engl\u00efsh"), UnicodeEncodeError),
    "init-bytes-name": (lambda: Stemmer(b"english"), AttributeError),
    "algorithms-count": (lambda: Davuzod.algorithms(1, 2), TypeError),
    "algorithms-keyword": (lambda: Davuzod.algorithms(nope=1), TypeError),
    "version-args": (lambda: Davuzod.version(1), TypeError),
    "version-keywords": (lambda: Davuzod.version(x=1), TypeError),
    "stemWord-count": (lambda: english.stemWord(), TypeError),
    "stemWord-needs-argument": (lambda: Stemmer.stemWord(), TypeError),
    "stemWord-wrong-instance": (lambda: Stemmer.stemWord(1, "cats"), TypeError),
    "stemWord-multiple": (lambda: english.stemWord("a", word="b"), TypeError),
    "stemWord-surrogate": (lambda: english.stemWord("\ud800"), UnicodeEncodeError),
    "stemWord-undecodable-cached": (lambda: english.stemWord(b"\xff"), UnicodeDecodeError),
    "stemWord-undecodable-subclass": (lambda: subclassed.stemWord(b"\xff"), UnicodeDecodeError),
    "stemWord-undecodable-uncached": (lambda: uncached.stemWord(b"\xff"), UnicodeDecodeError),
    "stemWord-unhashable": (lambda: english.stemWord(bytearray(b"x")), TypeError),
    "stemWord-not-bytes-cached": (lambda: english.stemWord(5), TypeError),
    "stemWord-not-bytes-uncached": (lambda: uncached.stemWord(5), TypeError),
    "stemWord-no-cache": (lambda: no_cache.stemWord("x"), TypeError),
    "stemWord-no-handle": (lambda: bare.stemWord("x"), RuntimeError),
    "stemWord-trim-fails": (lambda: failing_trim.stemWord("cats"), LookupError),
    "stemWords-not-iterable": (lambda: english.stemWords(5), TypeError),
    "stemWords-iterator-fails": (lambda: english.stemWords(failing_generator()), ZeroDivisionError),
    "stemWords-bad-word": (lambda: english.stemWords(["cats", 5]), TypeError),
    "purge-args": (lambda: english._Stemmer__purgeCache(1), TypeError),
    "purge-keyword": (lambda: english._Stemmer__purgeCache(x=1), TypeError),
    "purge-comparison-fails": (lambda: broken_trim._Stemmer__purgeCache(), ZeroDivisionError),
    "purge-uninitialised": (lambda: Stemmer._Stemmer__purgeCache(bare), TypeError),
    "setter-type": (setter(english, "10"), TypeError),
    "setter-delete": (deleter, NotImplementedError),
    "setter-trim-fails": (setter(failing_trim, 5), LookupError),
    "pickle": (lambda: copy.copy(english), TypeError),
    "reduce-args": (lambda: english.__reduce__(1), TypeError),
    "setstate": (lambda: english.__setstate__(1), TypeError),
    "dict-front-non-string": (lambda: PyObject_Call(Stemmer.stemWord, (english,), {1: 2}), TypeError),
}


@pytest.mark.parametrize("name", sorted(SUCCESS))
def test_success_path_does_not_leak(name):
    refs, blocks = growth(SUCCESS[name])
    assert refs < TOLERANCE and blocks < TOLERANCE, (refs, blocks)


@pytest.mark.parametrize("name", sorted(FAILURE))
def test_error_path_does_not_leak(name):
    call, error = FAILURE[name]
    refs, blocks = growth(raising(call, error))
    assert refs < TOLERANCE and blocks < TOLERANCE, (refs, blocks)


def test_deprecation_warning_path_does_not_leak():
    import warnings

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        refs, blocks = growth(lambda: Stemmer("english", IntReturnsBool()))
    assert refs < TOLERANCE and blocks < TOLERANCE, (refs, blocks)

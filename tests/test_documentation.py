"""What a user reads: the README's examples, help() and signatures."""

import doctest
import inspect
import pydoc
from pathlib import Path

import pytest

import Davuzod

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples_run_as_written():
    failures, attempted = doctest.testfile(str(README), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert attempted > 15
    assert failures == 0


def test_help_renders_module_and_class():
    page = pydoc.render_doc(Davuzod, renderer=pydoc.plaintext)
    for name in ("algorithms", "version", "stemWord", "stemWords", "maxCacheSize", "Initialise a stemmer"):
        assert name in page
    assert "An instance of a stemming algorithm" in pydoc.render_doc(Davuzod.Davuzod, renderer=pydoc.plaintext)


@pytest.mark.parametrize(
    "callable_, signature",
    [
        (Davuzod.algorithms, "(aliases=False)"),
        (Davuzod.version, "()"),
        (Davuzod.Davuzod.stemWord, "(self, word)"),
        (Davuzod.Davuzod.stemWords, "(self, words)"),
        (Davuzod.Davuzod._Stemmer__purgeCache, "(self)"),
        (Davuzod.Davuzod("english").stemWord, "(word)"),
        (Davuzod.Davuzod, "(algorithm, maxCacheSize=10000)"),
    ],
)
def test_signatures(callable_, signature):
    assert str(inspect.signature(callable_)) == signature


def test_subclass_signatures_follow_their_own_constructor():
    class Plain(Davuzod.Davuzod):
        pass

    class Own(Davuzod.Davuzod):
        def __init__(self, language, *, size=10):
            super().__init__(language, size)

    assert str(inspect.signature(Plain)) == "(algorithm, maxCacheSize=10000)"
    assert str(inspect.signature(Own)) == "(language, *, size=10)"
    with pytest.raises(AttributeError):
        Davuzod.Davuzod("english").__signature__

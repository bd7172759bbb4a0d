"""What a user reads: the README's examples, help() and signatures."""

import doctest
import inspect
import os
import pydoc
import re
import subprocess
import sys
from pathlib import Path

import pytest

import Davuzod

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples_run_as_written():
    failures, attempted = doctest.testfile(str(README), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert attempted > 15
    assert failures == 0


def script_examples():
    """The README's Python blocks that are programs rather than interactive sessions."""
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.DOTALL)
    return [block for block in blocks if not block.lstrip().startswith(">>>")]


@pytest.mark.parametrize("number", range(len(script_examples())))
def test_readme_programs_run_and_print_what_they_say(number, tmp_path):
    program = script_examples()[number]
    path = tmp_path / "example.py"
    path.write_text(program, encoding="utf-8")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    result = subprocess.run([sys.executable, str(path)], capture_output=True, text=True, env=env, timeout=120)
    assert result.returncode == 0, result.stderr
    promised = re.findall(r"print\(.*\)\s*# (.*)", program)
    assert result.stdout.split("\n")[: len(promised)] == promised


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


class Plain(Davuzod.Davuzod):
    pass


class OwnInit(Davuzod.Davuzod):
    def __init__(self, language, *, size=10):
        super().__init__(language, size)


class OwnNew(Davuzod.Davuzod):
    def __new__(cls, language, size=5):
        return super().__new__(cls)


class Documented(Davuzod.Davuzod):
    """A subclass with a docstring of its own."""


@pytest.mark.parametrize(
    "cls, signature",
    [
        (Plain, "(algorithm, maxCacheSize=10000)"),
        (Documented, "(algorithm, maxCacheSize=10000)"),
        (OwnInit, "(language, *, size=10)"),
        (OwnNew, "(language, size=5)"),
    ],
    ids=["plain", "documented", "own-init", "own-new"],
)
def test_subclass_signatures_follow_their_own_constructor(cls, signature):
    assert str(inspect.signature(cls)) == signature


def test_class_signature_comes_from_the_documentation_alone():
    assert Davuzod.Davuzod.__text_signature__ == "(algorithm, maxCacheSize=10000)"
    assert Davuzod.Davuzod.__doc__.startswith("An instance of a stemming algorithm.\n")
    assert "--" not in Davuzod.Davuzod.__doc__.splitlines()
    assert "__signature__" not in vars(Davuzod.Davuzod)
    with pytest.raises(AttributeError):
        Davuzod.Davuzod("english").__signature__
    assert Plain.__doc__ is None and Documented.__doc__ == "A subclass with a docstring of its own."

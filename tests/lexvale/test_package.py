"""The lexvale package as users meet it: a cheap import, typing, signatures, documentation."""

import doctest
import importlib
import inspect
import os
import pkgutil
import subprocess
import sys
from pathlib import Path

import pytest

import lexvale
from conftest import CHECKOUT, missing, run_child

# Every Python module of the package, found as the import system finds them
# (the native module, built apart, has no doctests).
MODULES = ["lexvale"] + sorted(
    info.name for info in pkgutil.walk_packages(lexvale.__path__, "lexvale.")
    if info.name not in ("lexvale.__main__", "lexvale._analysis")
)


def test_import_is_cheap():
    result = run_child(
        """
        import sys, lexvale
        heavy = {"sklearn", "pandas", "dask", "numpy", "scipy", "joblib", "distributed", "difflib"}
        print(sorted(heavy & set(sys.modules)))
        """
    )
    assert result.stdout.strip() == "[]"


# Modules that import what lexvale works with but does not need.
NEEDS = {"lexvale.vectorizers": ("sklearn", "scipy", "numpy")}


@pytest.mark.parametrize("name", MODULES)
def test_docstring_examples_run(name):
    absent = missing(*NEEDS.get(name, ()))
    if absent:
        pytest.skip(f"{name} needs {', '.join(absent)}, not installed here")
    module = importlib.import_module(name)
    assert module.__doc__
    failures, attempted = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert failures == 0
    if name in ("lexvale.analyzer", "lexvale.languages", "lexvale.stemmers", "lexvale._casing", "lexvale._folding",
                "lexvale.stoplists", "lexvale.surface"):
        assert attempted > 0


def test_sources_alone_on_the_path_make_no_module_of_their_folders(tmp_path):
    # src/ alone on the path, no site-packages and no build: nothing there
    # passes for the extension module (no folder imports as a namespace
    # package of its name), so the import fails plainly, naming it.
    result = subprocess.run(
        [sys.executable, "-S", "-c", "import lexvale"],
        capture_output=True, text=True, cwd=tmp_path, env=dict(os.environ, PYTHONPATH=str(CHECKOUT / "src")),
    )
    assert result.returncode == 1
    assert result.stderr.strip().splitlines()[-1] == "ModuleNotFoundError: No module named 'Davuzod'", result.stderr


def test_typed_package_marker():
    assert (Path(lexvale.__file__).parent / "py.typed").is_file()


@pytest.mark.parametrize(
    "callable_, signature",
    [
        (lexvale.stemmer, "(language: 'str' = 'english', cache_size: 'int' = 10000) -> 'Davuzod.Davuzod'"),
        (lexvale.Analyzer.__call__, "(self, text: 'str') -> 'list[str]'"),
        (lexvale.Analyzer.stem_words, "(self, words: 'Iterable[str]') -> 'list[str]'"),
    ],
)
def test_signatures(callable_, signature):
    assert str(inspect.signature(callable_)) == signature


def test_analyzer_signature_lists_every_setting():
    parameters = inspect.signature(lexvale.Analyzer).parameters
    assert list(parameters) == ["language", "lowercase", "normalize", "pattern", "stopwords", "protected",
                                "overrides", "fold_accents", "keep_original", "ngram_range", "cache_size"]
    assert parameters["language"].default == "english"
    # The defaults the signature shows are those an analyzer made without
    # settings keeps, and repr leaves out.
    assert {name: p.default for name, p in parameters.items()} == lexvale.Analyzer().get_params()
    assert repr(lexvale.Analyzer()) == "Analyzer('english')"
    assert parameters["cache_size"].default == lexvale.Analyzer().cache_size == 50000
    assert all(p.kind is inspect.Parameter.KEYWORD_ONLY for name, p in parameters.items() if name != "language")


def test_every_public_name_is_documented():
    for name in lexvale.__all__:
        home = f"lexvale.{lexvale._HOMES[name]}" if name in lexvale._HOMES else None
        if home in NEEDS and missing(*NEEDS[home]):
            continue  # documented where its libraries are installed
        obj = getattr(lexvale, name)
        if callable(obj):
            assert inspect.getdoc(obj), name

"""Shared fixtures: the module, stemmers, a view of an object's cache, child interpreters, stemwords, the fortunes, Hypothesis's profile."""

import ctypes
import ctypes.util
import functools
import gc
import importlib.metadata
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import textwrap
import tomllib
from pathlib import Path

import pytest
from hypothesis import settings

import lexvale  # noqa: F401 (first: where the module is not built, it says so, and how to build it)
import Davuzod

# Hypothesis draws the same examples on every run, so that a failure seen
# anywhere (in CI above all) comes back on the next run. HYPOTHESIS_PROFILE=explore
# draws fresh ones; a failure then prints the decorator that brings it back.
settings.register_profile("repeatable", derandomize=True, database=None)
settings.register_profile("explore", print_blob=True)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "repeatable"))


@pytest.fixture
def english():
    return Davuzod.Davuzod("english")


def cache_state(stemmer):
    """The object's cache and counter, seen through its traversal (cache, then counter)."""
    cache, counter = gc.get_referents(stemmer)[-2:]  # a subclass visits its own parts first
    return cache, counter


CHECKOUT = Path(__file__).resolve().parent.parent

sys.path.append(str(CHECKOUT / "tools"))
from fortunes import FOLDER as FORTUNES, fortune_files, read_text  # noqa: E402


@functools.cache
def fortunes_text():
    """The running English of Debian's fortunes packages, every file in one text, as the benchmark reads it."""
    files = fortune_files()
    if not files:
        pytest.skip("needs Debian's fortunes package")
    return "\n".join(read_text(path) for path in files)


def fortune_entries(topic):
    """The fortunes of one of the package's files (a topic), each stripped."""
    raw = (FORTUNES / topic).read_bytes().decode("utf-8", errors="replace")
    return [entry.strip() for entry in raw.split("\n%\n") if entry.strip()]


#: Three topics of the fortunes, so that a classifier has something to learn.
TOPICS = ("computers", "food", "law")


@pytest.fixture(scope="session")
def corpus():
    """A hundred fortunes of each of TOPICS and the topic of each: (texts, labels)."""
    if not all((FORTUNES / topic).is_file() for topic in TOPICS):
        pytest.skip("needs Debian's fortunes package")
    texts, labels = [], []
    for topic in TOPICS:
        entries = fortune_entries(topic)[:100]
        texts += entries
        labels += [topic] * len(entries)
    return texts, labels


@functools.cache
def distribution_version():
    """The version the module under test was built with: pyproject.toml's for a
    module built in this checkout, the installed distribution's otherwise."""
    if Path(Davuzod.__file__).resolve().is_relative_to(CHECKOUT):
        with open(CHECKOUT / "pyproject.toml", "rb") as pyproject:
            return tomllib.load(pyproject)["project"]["version"]
    return importlib.metadata.version("Lexvale")


@functools.cache
def built_on_public_api_only():
    """Whether the module takes the public fallbacks of ext/davuzod/interpreter_internals.h:
    always on a free-threaded interpreter, and in a build tree configured with
    DAVUZOD_PUBLIC_API_ONLY (read from the CMake cache beside the module)."""
    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        return True
    cmake_cache = Path(Davuzod.__file__).with_name("CMakeCache.txt")
    if not cmake_cache.is_file():
        return False
    setting = re.search(r"^DAVUZOD_PUBLIC_API_ONLY:BOOL=(.*)$", cmake_cache.read_text(), re.MULTILINE)
    return setting is not None and setting.group(1).strip().upper() in {"ON", "1", "TRUE", "YES", "Y"}


def child_env(**extra):
    """The environment of a child interpreter that imports what this one does
    (this one's sys.path as its PYTHONPATH), with `extra` variables added."""
    return dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **extra)


def run_child(code, *args, check=True, env=None):
    """Runs code in a fresh interpreter that imports the same build of the
    module, with the variables of `env` added to its environment."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code), *args],
        capture_output=True,
        text=True,
        env=child_env(**(env or {})),
        timeout=120,
    )
    if check and result.returncode != 0:
        raise AssertionError(f"child failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


# The installed wheel's module carries libstemmer inside it and is tested where
# libstemmer's shared library is absent; what needs that library skips there.
@functools.cache
def _libstemmer_or_why_not():
    name = ctypes.util.find_library("stemmer")
    if name is None:
        return None, "libstemmer's shared library is not installed here"
    try:
        return ctypes.CDLL(name), None
    except OSError as error:
        return None, f"libstemmer's shared library cannot be loaded here ({error})"


def libstemmer_shared_library():
    """libstemmer's shared library, loaded; skips the test where it cannot be loaded."""
    library, why_not = _libstemmer_or_why_not()
    if library is None:
        pytest.skip(why_not)
    return library


def stemwords_program():
    """The path of libstemmer's stemwords program; skips the test where stemwords cannot run."""
    path = shutil.which("stemwords")
    if path is None:
        pytest.skip("libstemmer's stemwords program is not installed")
    _, why_not = _libstemmer_or_why_not()
    if why_not is not None:
        pytest.skip(f"stemwords needs libstemmer's shared library: {why_not}")
    return path


def missing(*modules):
    """The modules, of those named, that cannot be found. The libraries that
    lexvale works with but does not need are absent from make check-installed's
    run, so what uses them skips there."""
    return [module for module in modules if importlib.util.find_spec(module) is None]


def needs(*modules):
    """Skips a test where one of the libraries it uses is not installed."""
    absent = missing(*modules)
    return pytest.mark.skipif(bool(absent), reason=f"needs {', '.join(absent)}, not installed here")


# scikit-learn, and SciPy under it, which has no build for the debug interpreter.
needs_scikit_learn = (
    pytest.mark.skipif(True, reason="SciPy has no build for the debug interpreter")
    if hasattr(sys, "gettotalrefcount")
    else needs("sklearn", "scipy")
)


@pytest.fixture(scope="session")
def dask_client():
    """A client of the run's one local Dask cluster: two worker processes of two
    threads each. It is not Dask's default scheduler: tests name it."""
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True, dashboard_address=":0")
    with cluster, distributed.Client(cluster, set_as_default=False) as client:
        client.wait_for_workers(2)
        yield client


@pytest.fixture
def fast_switching():
    """Hands the interpreter lock between threads as often as the interpreter allows."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(interval)

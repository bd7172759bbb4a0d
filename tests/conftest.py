"""Shared fixtures: the module, stemmers, a view of an object's cache, child interpreters."""

import gc
import os
import subprocess
import sys
import textwrap

import pytest

import Davuzod


@pytest.fixture
def english():
    return Davuzod.Davuzod("english")


def cache_state(stemmer):
    """The object's cache and counter, seen through its traversal (cache, then counter)."""
    cache, counter = gc.get_referents(stemmer)[-2:]  # a subclass visits its own parts first
    return cache, counter


def run_child(code, *args, check=True):
    """Runs code in a fresh interpreter that imports the same build of the module."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code), *args],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )
    if check and result.returncode != 0:
        raise AssertionError(f"child failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result

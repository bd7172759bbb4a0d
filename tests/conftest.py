"""Shared fixtures: the module, stemmers, a view of an object's cache, child interpreters, Hypothesis's profile."""

import gc
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import settings

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

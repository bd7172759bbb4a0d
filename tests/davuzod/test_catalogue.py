"""algorithms() and version(): the catalogue as libstemmer reports it, and the module's version text."""

import ctypes
import sys

import pytest

import Davuzod
from conftest import distribution_version, libstemmer_shared_library


def libstemmer_names():
    """The names in libstemmer's own list, read up to its null terminator."""
    library = libstemmer_shared_library()
    library.sb_stemmer_list.argtypes = []
    library.sb_stemmer_list.restype = ctypes.POINTER(ctypes.c_char_p)
    array = library.sb_stemmer_list()
    names = []
    while array[len(names)] is not None:
        names.append(array[len(names)].decode("ascii"))
    return names


class Untouchable:
    """An argument that fails any attempt to look at its value."""

    def __bool__(self):
        raise AssertionError("truth value tested")

    def __eq__(self, other):
        raise AssertionError("compared")

    __hash__ = object.__hash__


def test_lists_libstemmer_names_in_order():
    expected = libstemmer_names()
    assert expected, "libstemmer reports no algorithm"
    names = Davuzod.algorithms()
    assert type(names) is list
    assert names == expected
    assert all(type(name) is str for name in names)


def test_listed_names_open_stemmers():
    for name in Davuzod.algorithms():
        assert isinstance(Davuzod.Davuzod(name).stemWord("a"), str)


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((False,), {}),
        ((True,), {}),
        ((), {"aliases": True}),
        ((), {"aliases": None}),
        (("yes",), {}),
        ((Untouchable(),), {}),
        ((), {"aliases": Untouchable()}),
    ],
    ids=["default", "False", "True", "kw-True", "kw-None", "str", "untouchable", "kw-untouchable"],
)
def test_aliases_value_does_not_change_the_list(args, kwargs):
    assert Davuzod.algorithms(*args, **kwargs) == libstemmer_names()


def test_aliases_argument_is_released():
    value = Untouchable()
    before = sys.getrefcount(value)
    for _ in range(100):
        Davuzod.algorithms(value)
        Davuzod.algorithms(aliases=value)
    assert sys.getrefcount(value) == before


def test_each_call_returns_a_new_list():
    first = Davuzod.algorithms()
    expected = list(first)
    first.append("changed")
    first[0] = "changed"
    second = Davuzod.algorithms()
    assert second is not first
    assert second == expected


def test_version():
    first = Davuzod.version()
    assert type(first) is str
    assert first == distribution_version()
    assert Davuzod.version() is first

"""Davuzod under concurrent.interpreters: an interpreter that checks its extensions refuses the module itself."""

import json

import pytest

from conftest import run_child

# The interpreter's refusal, which comes before the module's create step runs;
# the module's own, for a subinterpreter that does not check (a legacy one),
# is pinned in test_module.py.
NOT_SUPPORTED = "does not support loading in subinterpreters"

# Each kind of subinterpreter that checks its extensions: the isolated one that
# concurrent.interpreters makes (its own GIL), and one that shares the main
# interpreter's GIL, which a module without the slot would let in and so be
# bound to, leaving the main interpreter without it.
CHILD = """
import _interpreters, json, sys
import concurrent.interpreters as interpreters

kind, main_first = sys.argv[1], sys.argv[2] == "main-first"


def make():
    # The interpreter's id, and what closes it.
    if kind == "isolated":
        interp = interpreters.create()
        return interp.id, interp.close
    config = _interpreters.new_config("legacy")
    config.check_multi_interp_extensions = True
    interp = _interpreters.create(config)
    return interp, lambda: _interpreters.destroy(interp)


def outcome(failure):
    return None if failure is None else [failure.type.__name__, failure.msg]


if main_first:
    import Davuzod
interp, close = make()
try:
    sub = outcome(_interpreters.run_string(interp, "import Davuzod"))
    sub_again = outcome(_interpreters.run_string(interp, "import Davuzod"))
    left_behind = outcome(_interpreters.run_string(interp, "import sys\\nassert 'Davuzod' not in sys.modules"))
finally:
    close()
import Davuzod
print(json.dumps({
    "sub": sub,
    "sub_again": sub_again,
    "left_behind": left_behind,
    "main": Davuzod.Davuzod("english").stemWords(["running", "cats"]),
}))
"""


@pytest.mark.parametrize("order", ["main-first", "sub-first"])
@pytest.mark.parametrize("kind", ["isolated", "shared-gil"])
def test_checking_interpreter_refuses_the_module_before_it_binds(kind, order):
    outcome = json.loads(run_child(CHILD, kind, order).stdout)
    for attempt in ("sub", "sub_again"):
        name, message = outcome[attempt]
        assert name == "ImportError"
        assert "Davuzod" in message and NOT_SUPPORTED in message, message
    assert outcome["left_behind"] is None
    # The refused import bound nothing: the main interpreter has the module either way.
    assert outcome["main"] == ["run", "cat"]

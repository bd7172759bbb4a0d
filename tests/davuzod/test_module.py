"""Module initialisation: entry points, create and exec steps, the namespace, one interpreter per process (concurrent.interpreters)."""

import builtins
import ctypes
import json
import sys
from pathlib import Path

import pytest

import Davuzod
from conftest import distribution_version, run_child

VERSION = distribution_version()

Stemmer = Davuzod.Davuzod

MODULE_DOC = "Davuzod: stemming algorithms from the snowball project.\n\n"
ALGORITHMS_DOC = (
    "Get a list of the names of the available stemming algorithms.\n"
    "    \n"
    "    Note that there are also aliases for these algorithm names, which are not\n"
    "    included in this list by default.  If the 'aliases' keyword parameter is\n"
    "    False, this list is guaranteed to contain precisely one entry for each\n"
    "    available stemming algorithm.  Otherwise, all known aliases for algorithms\n"
    "    will be included in the list.\n\n"
    "    Note that the classic Porter stemming algorithm for English is\n"
    "    available by default: although this has been superseded by an improved\n"
    "    algorithm, the original algorithm may be of interest to information\n"
    "    retrieval researchers wishing to reproduce results of earlier\n"
    '    experiments.  Most users will want to use the "english" algorithm,\n'
    '    instead of the "porter" algorithm.\n\n'
    "    "
)
VERSION_DOC = (
    "Get the version string of the stemming module.\n\n"
    "    This version number is for the Davuzod module as a whole (not for an\n"
    "    individual stemming algorithm).\n\n"
    "    "
)
INIT_DOC = "Initialise a stemmer.\n\n        See the class documentation for details.\n\n        "

INTERPRETER_CHANGE = "Interpreter change detected - this module can only be loaded into one interpreter per process."
REINITIALISATION = "Module 'Davuzod' has already been imported. Re-initialisation is not supported."

# What a child needs to drive the create and exec steps by hand: the path of the
# shared object (found without importing it) and a spec whose attributes are
# plain values, missing, or raise on reading.
SPEC_PRELUDE = """
import _imp, importlib.util, json, sys

ORIGIN = importlib.util.find_spec("Davuzod").origin


class Spec:
    def __init__(self, values=None, errors=None, origin_once=None):
        values = {"name": "Davuzod", "origin": ORIGIN, **(values or {})}
        object.__setattr__(self, "values", values)
        object.__setattr__(self, "errors", dict(errors or {}))
        # The interpreter reads origin once to find the file; after that read
        # the attribute raises this exception, if one is given.
        object.__setattr__(self, "origin_once", origin_once)

    def __getattribute__(self, attr):
        errors = object.__getattribute__(self, "errors")
        if attr in errors:
            raise errors[attr]
        values = object.__getattribute__(self, "values")
        if attr == "origin":
            once = object.__getattribute__(self, "origin_once")
            if once is not None:
                errors["origin"] = once
        if attr in values:
            return values[attr]
        raise AttributeError(attr)


class MissingAttribute(AttributeError):
    pass
"""


# ---------------------------------------------------------------------------
# Entry points


def test_both_entry_points_return_one_definition():
    library = ctypes.PyDLL(Davuzod.__file__)
    definitions = []
    for symbol in ("PyInit_Davuzod", "PyInit_Stemmer"):
        entry = getattr(library, symbol)
        entry.argtypes = []
        entry.restype = ctypes.c_void_p
        definitions.append(entry())
    assert definitions[0] is not None
    assert definitions[0] == definitions[1]


@pytest.mark.parametrize("occupied", [False, True], ids=["table-free", "table-occupied"])
def test_loads_through_stemmer_entry_point(tmp_path, occupied):
    (tmp_path / "Stemmer.cpython-314-x86_64-linux-gnu.so").symlink_to(Davuzod.__file__)
    result = run_child(
        f"""
        import sys, types
        sys.path.insert(0, {str(tmp_path)!r})
        placeholder = types.SimpleNamespace()
        if {occupied!r}:
            sys.modules["Davuzod"] = placeholder
        import Stemmer
        assert Stemmer.__name__ == "Stemmer"
        assert Stemmer.__doc__ == {MODULE_DOC!r}
        assert Stemmer.Davuzod.stemWord.__module__ == "Davuzod"
        assert Stemmer.Davuzod("english").stemWord("connection") == "connect"
        if {occupied!r}:
            assert sys.modules["Davuzod"] is placeholder
            del sys.modules["Davuzod"]
        else:
            assert sys.modules["Davuzod"] is Stemmer
        # Whichever file name it is imported by, the process has this one module.
        import Davuzod
        assert Davuzod is Stemmer
        print("ok")
        """
    )
    assert result.stdout.split() == ["ok"]


# ---------------------------------------------------------------------------
# Namespace after import


def test_namespace_holds_exactly_the_module_attributes():
    assert set(vars(Davuzod)) == {
        "__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__",
        "__builtins__", "Davuzod", "__docformat__", "algorithms", "version", "__test__",
    }


def test_documentation_attributes():
    assert Davuzod.__doc__ == MODULE_DOC
    assert Davuzod.__docformat__ == "restructuredtext en"
    assert Davuzod.__builtins__ is builtins
    assert type(Davuzod.__test__) is dict
    assert Davuzod.__test__ == {}


@pytest.mark.parametrize(
    "function, name, qualname, defaults",
    [
        (Davuzod.algorithms, "algorithms", "algorithms", (False,)),
        (Davuzod.version, "version", "version", None),
        (vars(Stemmer)["_Stemmer__purgeCache"], "_Stemmer__purgeCache", "Davuzod.__purgeCache", None),
        (vars(Stemmer)["stemWord"], "stemWord", "Davuzod.stemWord", None),
        (vars(Stemmer)["stemWords"], "stemWords", "Davuzod.stemWords", None),
    ],
    ids=lambda value: value if isinstance(value, str) else None,
)
def test_function_attributes(function, name, qualname, defaults):
    assert function.__name__ == name
    assert function.__qualname__ == qualname
    assert function.__module__ == "Davuzod"
    assert function.__defaults__ == defaults
    assert function.__globals__ is vars(Davuzod)


@pytest.mark.parametrize(
    "function, doc",
    [
        (Davuzod.algorithms, ALGORITHMS_DOC),
        (Davuzod.version, VERSION_DOC),
        (vars(Stemmer)["_Stemmer__purgeCache"], None),
    ],
    ids=["algorithms", "version", "purgeCache"],
)
def test_function_docstrings(function, doc):
    assert function.__doc__ == doc


@pytest.mark.parametrize("name", ["_Stemmer__purgeCache", "stemWord", "stemWords"])
def test_methods_bind_to_the_instance(english, name):
    bound = getattr(english, name)
    assert bound.__self__ is english
    assert bound.__func__ is vars(Stemmer)[name]
    # Read through the class, the function comes back unbound.
    assert getattr(Stemmer, name) is vars(Stemmer)[name]


def test_init_docstring_changes_for_this_class_only():
    result = run_child(
        f"""
        import collections
        classes = [object, dict, list, set, bytearray, property, super, Exception, collections.deque]
        before = [cls.__init__.__doc__ for cls in classes]
        import Davuzod
        Stemmer = Davuzod.Davuzod
        assert Stemmer.__init__.__doc__ == {INIT_DOC!r}
        assert [cls.__init__.__doc__ for cls in classes] == before
        class Later(Exception):
            pass
        assert Later.__init__.__doc__ == Exception.__init__.__doc__
        # The descriptor keeps working under its own name.
        assert Stemmer.__init__.__name__ == "__init__"
        stemmer = Stemmer("english")
        assert Stemmer.__init__(stemmer, "porter") is None
        print("ok")
        """
    )
    assert result.stdout.split() == ["ok"]


def test_class_dictionary_holds_the_pickling_hooks():
    namespace = vars(Stemmer)
    for hook in ("__reduce__", "__setstate__"):
        assert namespace[hook].__objclass__ is Stemmer
    assert not [name for name in namespace if name.startswith("_Davuzod__")]


# ---------------------------------------------------------------------------
# One module object per process


@pytest.mark.parametrize(
    "again",
    [
        'del sys.modules["Davuzod"]; import Davuzod as again',
        "again = importlib.reload(Davuzod)",
    ],
    ids=["reimport", "reload"],
)
def test_import_again_yields_the_same_module_unchanged(again):
    result = run_child(
        f"""
        import importlib, sys
        import Davuzod
        first = Davuzod
        marker = object()
        Davuzod.marker = marker
        Davuzod.__docformat__ = "plaintext"
        Davuzod.__test__["kept"] = marker
        before = dict(vars(Davuzod))
        {again}
        assert again is first
        assert sys.modules["Davuzod"] is first
        assert again.marker is marker
        assert again.__docformat__ == "plaintext"
        assert again.__test__ == {{"kept": marker}}
        for key in ("Davuzod", "algorithms", "version", "__test__", "__builtins__"):
            assert vars(again)[key] is before[key], key
        assert set(vars(again)) == set(before)
        print("ok")
        """
    )
    assert result.stdout.split() == ["ok"]


# ---------------------------------------------------------------------------
# Create step: what the module takes from the import spec

ABSENT = "<absent>"


@pytest.mark.parametrize(
    "values, errors, origin_once, expected",
    [
        pytest.param(
            "{}", "{}", "None",
            {"__loader__": None, "__file__": "ORIGIN", "__package__": None, "__path__": ABSENT},
            id="name-and-origin-only",
        ),
        pytest.param(
            '{"loader": LOADER, "parent": "pkg", "submodule_search_locations": PATHS}', "{}", "None",
            {"__loader__": "LOADER", "__file__": "ORIGIN", "__package__": "pkg", "__path__": "PATHS"},
            id="all-given",
        ),
        pytest.param(
            '{"loader": None, "parent": None, "submodule_search_locations": None}', "{}", "None",
            {"__loader__": None, "__file__": "ORIGIN", "__package__": None, "__path__": ABSENT},
            id="all-none",
        ),
        pytest.param(
            '{"submodule_search_locations": EMPTY}', "{}", "None",
            {"__loader__": None, "__file__": "ORIGIN", "__package__": None, "__path__": "EMPTY"},
            id="empty-search-locations",
        ),
        pytest.param(
            '{"parent": "pkg", "submodule_search_locations": PATHS}', '{"loader": MissingAttribute()}', "None",
            {"__loader__": None, "__file__": "ORIGIN", "__package__": "pkg", "__path__": "PATHS"},
            id="loader-attribute-error",
        ),
        pytest.param(
            '{"loader": LOADER, "parent": "pkg"}', "{}", "MissingAttribute()",
            {"__loader__": "LOADER", "__file__": ABSENT, "__package__": "pkg", "__path__": ABSENT},
            id="origin-attribute-error",
        ),
        pytest.param(
            '{"loader": LOADER, "submodule_search_locations": PATHS}', '{"parent": MissingAttribute()}', "None",
            {"__loader__": "LOADER", "__file__": "ORIGIN", "__package__": None, "__path__": "PATHS"},
            id="parent-attribute-error",
        ),
        pytest.param(
            '{"loader": LOADER}', '{"submodule_search_locations": MissingAttribute()}', "None",
            {"__loader__": "LOADER", "__file__": "ORIGIN", "__package__": None, "__path__": ABSENT},
            id="search-locations-attribute-error",
        ),
    ],
)
def test_create_copies_spec_attributes(values, errors, origin_once, expected):
    result = run_child(
        SPEC_PRELUDE
        + f"""
LOADER, PATHS, EMPTY = object(), ["somewhere"], []
names = {{id(LOADER): "LOADER", id(PATHS): "PATHS", id(EMPTY): "EMPTY", id(ORIGIN): "ORIGIN"}}
module = _imp.create_dynamic(Spec({values}, {errors}, {origin_once}))
found = {{}}
for key in ("__loader__", "__file__", "__package__", "__path__"):
    if key not in vars(module):
        found[key] = {ABSENT!r}
    else:
        value = vars(module)[key]
        found[key] = names.get(id(value), value)
print(json.dumps(found))
_imp.exec_dynamic(module)
assert sys.modules["Davuzod"] is module and module.version() == {VERSION!r}
"""
    )
    assert json.loads(result.stdout) == expected


@pytest.mark.parametrize("attribute", ["loader", "origin", "parent", "submodule_search_locations"])
def test_create_fails_with_other_errors_from_the_spec(attribute):
    result = run_child(
        SPEC_PRELUDE
        + f"""
failure = LookupError("spec attribute unreadable")
if {attribute!r} == "origin":
    spec = Spec(origin_once=failure)
else:
    spec = Spec(errors={{{attribute!r}: failure}})
try:
    _imp.create_dynamic(spec)
except LookupError as error:
    assert error is failure
    print("failed")
# Nothing was recorded: a well-formed spec still makes a working module.
module = _imp.create_dynamic(Spec())
_imp.exec_dynamic(module)
assert module.algorithms()
"""
    )
    assert result.stdout.split() == ["failed"]


def test_second_module_object_is_refused_and_the_first_stays_recorded():
    result = run_child(
        SPEC_PRELUDE
        + f"""
first = _imp.create_dynamic(Spec())
second = _imp.create_dynamic(Spec())
assert first is not second
_imp.exec_dynamic(first)
namespace = dict(vars(first))
try:
    _imp.exec_dynamic(second)
except RuntimeError as error:
    assert str(error) == {REINITIALISATION!r}, str(error)
    print("refused")
assert "algorithms" not in vars(second) and "Davuzod" not in vars(second)
assert sys.modules["Davuzod"] is first
# Executing the recorded module again does nothing.
_imp.exec_dynamic(first)
assert vars(first) == namespace and vars(first)["__test__"] is namespace["__test__"]
# Once a module is recorded, create hands it back without reading the import spec further.
unreadable = Spec(errors={{"loader": ValueError(), "parent": ValueError(),
                           "submodule_search_locations": ValueError()}}, origin_once=ValueError())
assert _imp.create_dynamic(unreadable) is first
import Davuzod
assert Davuzod is first
"""
    )
    assert result.stdout.split() == ["refused"]


# ---------------------------------------------------------------------------
# One interpreter per process

IMPORT_IN_MAIN = f"import Davuzod\nassert Davuzod.version() == {VERSION!r}"
FAIL_IN_MAIN = (
    SPEC_PRELUDE
    + """
try:
    _imp.create_dynamic(Spec(errors={"loader": ValueError("no loader")}))
except ValueError:
    pass
else:
    raise AssertionError("create step accepted an unreadable loader")
assert "Davuzod" not in sys.modules
"""
)


@pytest.mark.parametrize(
    "main_first, expected_sub",
    [
        (IMPORT_IN_MAIN, ["ImportError", INTERPRETER_CHANGE]),
        (FAIL_IN_MAIN, ["ImportError", INTERPRETER_CHANGE]),
        ("", None),
    ],
    ids=["imported-in-main", "failed-in-main", "sub-first"],
)
def test_module_stays_with_the_first_interpreter(main_first, expected_sub):
    result = run_child(
        main_first
        + """
import _interpreters, json, sys

def outcome(failure):
    return None if failure is None else [failure.type.__name__, failure.msg]

interp = _interpreters.create("legacy")
try:
    sub = outcome(_interpreters.run_string(interp, "import Davuzod\\nassert Davuzod.version() == " + repr(sys.argv[1])))
    # A second import in the same subinterpreter behaves like the first.
    sub_again = outcome(_interpreters.run_string(interp, "import sys\\nsys.modules.pop('Davuzod', None)\\nimport Davuzod"))
finally:
    _interpreters.destroy(interp)
try:
    import Davuzod
    main = None
except ImportError as error:
    main = ["ImportError", str(error)]
print(json.dumps({"sub": sub, "sub_again": sub_again, "main": main}))
""",
        VERSION,
    )
    outcome = json.loads(result.stdout)
    assert outcome["sub"] == expected_sub
    assert outcome["sub_again"] == expected_sub
    if expected_sub is None:
        assert outcome["main"] == ["ImportError", INTERPRETER_CHANGE]
    else:
        assert outcome["main"] is None


# The interpreter's own refusal, which comes before the module's create step
# runs (the module's, above, is for a subinterpreter that does not check its
# extensions, such as a legacy one).
NOT_SUPPORTED = "does not support loading in subinterpreters"

# Each kind of subinterpreter that checks its extensions: the isolated one that
# concurrent.interpreters makes (its own GIL), and one that shares the main
# interpreter's GIL, which a module without the slot would let in and so be
# bound to, leaving the main interpreter without it.
CHECKING_CHILD = """
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
    outcome = json.loads(run_child(CHECKING_CHILD, kind, order).stdout)
    for attempt in ("sub", "sub_again"):
        name, message = outcome[attempt]
        assert name == "ImportError"
        assert "Davuzod" in message and NOT_SUPPORTED in message, message
    assert outcome["left_behind"] is None
    # The refused import bound nothing: the main interpreter has the module either way.
    assert outcome["main"] == ["run", "cat"]


# ---------------------------------------------------------------------------
# Interpreter version check


@pytest.fixture(scope="module")
def version_warning():
    library = Path(Davuzod.__file__).with_name("version_warning.so")
    if not library.exists():
        pytest.skip("the version check's test library is built beside the build tree's module only")
    hook = ctypes.CDLL(str(library)).version_warning
    hook.argtypes = [ctypes.c_ulong, ctypes.c_char_p, ctypes.c_size_t]
    hook.restype = ctypes.c_int

    def check(running):
        buffer = ctypes.create_string_buffer(256)
        return hook(running, buffer, len(buffer)), buffer.value.decode()

    return check


@pytest.mark.parametrize(
    "running, major, minor",
    [
        (0x030F00F0, 3, 15),
        (0x030F00A1, 3, 15),
        (0x030D0AF0, 3, 13),
        (0x020712F0, 2, 7),
        (0x040000F0, 4, 0),
        (0x030E_0000 - 1, 3, 13),
    ],
    ids=["3.15.0", "3.15.0a1", "3.13.10", "2.7.18", "4.0.0", "3.13-top"],
)
def test_other_interpreter_version_gets_a_warning(version_warning, running, major, minor):
    assert version_warning(running) == (
        1,
        f"compile time Python version 3.14 of module 'Davuzod' does not match runtime version {major}.{minor}",
    )


@pytest.mark.parametrize(
    "running",
    [0x030E0000, 0x030E00A1, 0x030E00C2, 0x030E00F0, 0x030E0AF0, 0x030EFFFF, sys.hexversion],
    ids=["3.14.0-zero", "3.14.0a1", "3.14.0rc2", "3.14.0", "3.14.10", "3.14-top", "running"],
)
def test_any_3_14_release_gets_no_warning(version_warning, running):
    assert version_warning(running)[0] == 0


def test_import_under_running_interpreter_warns_nothing():
    result = run_child(
        """
        import warnings
        warnings.simplefilter("error")
        import Davuzod
        print(Davuzod.version())
        """
    )
    assert result.stdout.split() == [VERSION]


# ---------------------------------------------------------------------------
# Exec failures


def test_exec_failure_is_memory_error_and_a_later_import_is_clean():
    # Each attempt runs in a fork of one child, so every attempt is that
    # process's first import; allocation k fails, for k = 0, 1, ... until the
    # import completes before reaching it.
    clean = run_child(
        """
        import json, Davuzod
        print(json.dumps([sorted(vars(Davuzod.Davuzod)), sorted(vars(Davuzod))]))
        """
    )
    clean_class, clean_module = json.loads(clean.stdout)
    assert "__reduce__" in clean_class and "__setstate__" in clean_class
    result = run_child(
        """
        import importlib.util, json, os, sys, _testcapi

        CLEAN_CLASS, CLEAN_MODULE, VERSION = json.loads(sys.argv[1]), json.loads(sys.argv[2]), sys.argv[3]
        importlib.util.find_spec("Davuzod")  # path caches warm, so the failures fall on the load


        def check_clean(tag):
            import Davuzod
            for what, names, clean in (("class dictionary", vars(Davuzod.Davuzod), CLEAN_CLASS),
                                       ("namespace", vars(Davuzod), CLEAN_MODULE)):
                if sorted(names) != clean:
                    extra, missing = sorted(set(names) - set(clean)), sorted(set(clean) - set(names))
                    return f"{tag}: {what} has extra {extra}, lacks {missing}"
            if sys.modules.get("Davuzod") is not Davuzod or Davuzod.version() != VERSION:
                return f"{tag}: module not usable"
            return None


        def attempt(k):
            imported = False
            _testcapi.set_nomemory(k, k + 1)
            try:
                import Davuzod
                imported = True
                [object() for _ in range(64)]
            except MemoryError:
                _testcapi.remove_mem_hooks()
                if imported:
                    return "done", None
                outcome = "failed"
            except BaseException as error:
                _testcapi.remove_mem_hooks()
                return "wrong", f"k={k}: import failed with {error!r}"
            else:
                _testcapi.remove_mem_hooks()
                outcome = "survived"
            try:
                return outcome, check_clean(f"k={k} after {outcome} import")
            except BaseException as error:
                return outcome, f"k={k}: import after {outcome} import raised {error!r}"


        counts, problems = {}, []
        for k in range(5000):
            reader, writer = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(reader)
                try:
                    report = attempt(k)
                except BaseException as error:
                    report = ("wrong", f"k={k}: {error!r}")
                os.write(writer, json.dumps(report).encode())
                os._exit(0)
            os.close(writer)
            with os.fdopen(reader, "rb") as stream:
                received = stream.read()
            _, status = os.waitpid(pid, 0)
            if os.waitstatus_to_exitcode(status) != 0 or not received:
                problems.append(f"k={k}: attempt died with status {status}")
                continue
            outcome, problem = json.loads(received)
            counts[outcome] = counts.get(outcome, 0) + 1
            if problem:
                problems.append(problem)
            if outcome == "done":
                break
        print(json.dumps({"counts": counts, "problems": problems}))
        """,
        json.dumps(clean_class),
        json.dumps(clean_module),
        VERSION,
    )
    summary = json.loads(result.stdout)
    assert summary["problems"] == []
    assert summary["counts"].get("done") == 1, summary["counts"]
    assert summary["counts"].get("failed", 0) > 0, summary["counts"]

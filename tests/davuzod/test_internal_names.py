"""The interpreter's private names in the C++ sources: only in ext/davuzod/interpreter_internals.h."""

import subprocess
import sys
from pathlib import Path

from conftest import CHECKOUT

TOOL = CHECKOUT / "tools" / "internal_names.py"


def check(checkout):
    return subprocess.run([sys.executable, str(TOOL), str(checkout)], capture_output=True, text=True)


def test_sources_use_internals_only_through_their_header():
    result = check(CHECKOUT)
    assert result.returncode == 0, result.stderr


def test_internals_elsewhere_are_found(tmp_path):
    files = {
        "ext/davuzod/interpreter_internals.h": "_PyErr_StackItem entry_; // thread_->exc_info, d_base, wrapperbase\n",
        "ext/davuzod/ascii_key.cpp": "Ref key;\nreinterpret_cast<PyBytesObject*>(b)->ob_shash = hash;\n",
        "ext/binding/binder.h": "#include <Python.h>\nauto d = _PyDict_NewPresized(8);\n",
        "bench/floor.cpp": "PyThreadState* t;\nt->exc_info = nullptr;\n",
        "tests/support/shim.cpp": "_PyErr_StackItem item;\n",
        "ext/davuzod/class_setup.cpp": "wrapperbase copy;\ncopy = *descriptor->d_base;\n",
        "ext/davuzod/statics.h": "int wrapperbases;  // d_based, my_wrapperbase: other names\n",
        "src/lexvale/notes.py": "_PyDict_NewPresized  # not C++: not read\n",
        "bench/clean.cpp": "Py_ssize_t n = PyList_GET_SIZE(words);  // PyExc_KeyError, Py_None\n",
    }
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    result = check(tmp_path)
    assert result.returncode == 1
    found = sorted(line.split(": an interpreter internal")[0] for line in result.stderr.splitlines())
    assert found == [
        "bench/floor.cpp:2: exc_info",
        "ext/binding/binder.h:2: _PyDict_NewPresized",
        "ext/davuzod/ascii_key.cpp:2: ob_shash",
        "ext/davuzod/class_setup.cpp:1: wrapperbase",
        "ext/davuzod/class_setup.cpp:2: d_base",
        "tests/support/shim.cpp:1: _PyErr_StackItem",
    ]

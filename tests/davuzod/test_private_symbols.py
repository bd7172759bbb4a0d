"""The symbols the module exports, and the private interpreter symbols it imports against tools/private_symbols.allow."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import Davuzod
from conftest import CHECKOUT, built_on_public_api_only

TOOL = CHECKOUT / "tools" / "private_symbols.py"
ALLOW_LIST = TOOL.with_name("private_symbols.allow")

pytestmark = pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")


def check(allow_list):
    return subprocess.run([sys.executable, str(TOOL), Davuzod.__file__, str(allow_list)],
                          capture_output=True, text=True)


def imported():
    listing = subprocess.run(["nm", "-D", "--undefined-only", Davuzod.__file__],
                             capture_output=True, text=True, check=True).stdout
    return sorted({line.split()[-1].split("@")[0] for line in listing.splitlines()} & set(allowed()))


def allowed():
    return list(allowed_with_reasons())


def allowed_with_reasons():
    lines = (line.split("#", 1)[0].strip() for line in ALLOW_LIST.read_text().splitlines())
    return dict((part.strip() for part in line.split(":", 1)) for line in lines if line)


@pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="the debug build's reference accounting is private")
def test_module_imports_only_allowed_private_symbols():
    result = check(ALLOW_LIST)
    if not built_on_public_api_only():
        assert result.returncode == 0, result.stderr
        return
    # The public fallbacks import no symbol that interpreter_internals.h
    # stands for, and nothing the list does not allow.
    internals = {symbol for symbol, reason in allowed_with_reasons().items() if "interpreter_internals.h" in reason}
    assert internals, "the allow-list names no symbol of interpreter_internals.h"
    stale = {line.split()[2].rstrip(",") for line in result.stderr.splitlines() if " allows " in line}
    assert "imports the private symbol" not in result.stderr and stale == internals, result.stderr


def test_new_and_stale_symbols_fail(tmp_path):
    present = imported()
    assert present, "the module imports none of the allowed symbols: nothing left to check against"
    missing, kept = present[0], present[1:]
    allow_list = tmp_path / "allow"
    allow_list.write_text("".join(f"{symbol}: needed here\n" for symbol in kept)
                          + "_PyNoSuchSymbol: never imported\n")
    result = check(allow_list)
    assert result.returncode == 1
    assert f"imports the private symbol {missing}," in result.stderr
    assert "allows _PyNoSuchSymbol, which" in result.stderr


@pytest.mark.parametrize("line", ["_Py_Dealloc", "PyDict_New: public", "_PyDict_New:"])
def test_malformed_allow_list_line_is_refused(tmp_path, line):
    allow_list = tmp_path / "allow"
    allow_list.write_text(line + "\n")
    result = check(allow_list)
    assert result.returncode != 0 and "expected '_PySymbol: reason'" in result.stderr


def test_module_exports_only_its_entry_points():
    listing = subprocess.run(["nm", "-D", "--defined-only", Davuzod.__file__],
                             capture_output=True, text=True, check=True).stdout
    exported = {line.split()[-1] for line in listing.splitlines() if line.split()[1:2] != ["A"]}
    assert exported == {"PyInit_Davuzod", "PyInit_Stemmer"}

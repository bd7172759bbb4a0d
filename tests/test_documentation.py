"""What a user reads: the README's examples, help() and signatures."""

import doctest
import inspect
import pydoc
import re
import subprocess
import sys
from pathlib import Path

import pytest

import Davuzod
from conftest import child_env

README = Path(__file__).resolve().parent.parent / "README.md"
DEBUG_INTERPRETER = hasattr(sys, "gettotalrefcount")
FORTUNES = Path("/usr/share/games/fortunes")


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
    if DEBUG_INTERPRETER and re.search(r"^(from|import) sklearn", program, re.MULTILINE):
        pytest.skip("SciPy, under scikit-learn, has no build for the debug interpreter")
    path = tmp_path / "example.py"
    path.write_text(program, encoding="utf-8")
    env = child_env()
    # In a directory of its own, where a program may write files.
    result = subprocess.run(
        [sys.executable, str(path)], capture_output=True, text=True, env=env, timeout=120, cwd=tmp_path
    )
    assert result.returncode == 0, result.stderr
    promised = re.findall(r"print\(.*\)\s*# (.*)", program)
    assert result.stdout.split("\n")[: len(promised)] == promised


def readme_prose():
    """The README's text with each run of white space made one space."""
    return " ".join(README.read_text(encoding="utf-8").split())


def test_readme_table_of_iso_codes_is_what_libstemmer_accepts():
    import lexvale

    rows = re.findall(r"^\| (\w+) \| (.+) \|$", README.read_text(encoding="utf-8"), re.MULTILINE)
    table = {name: tuple(re.findall(r"`(\w+)`", codes)) for name, codes in rows if name != "Algorithm"}
    assert table == lexvale.iso_codes(), "\n".join(
        f"| {name} | {', '.join(f'`{code}`' for code in codes) or 'none'} |" for name, codes in lexvale.iso_codes().items()
    )


def fortunes_text():
    """The text of Debian's fortunes package, its files as the benchmark reads them."""
    files = sorted(p for p in FORTUNES.glob("*") if p.is_file() and p.suffix not in (".dat", ".u8") and not p.is_symlink())
    if not files:
        pytest.skip("needs Debian's fortunes package")
    texts = []
    for path in files:
        raw = path.read_bytes()
        try:
            texts.append(raw.decode("utf-8"))
        except UnicodeDecodeError:
            texts.append(raw.decode("latin-1"))
    return len(files), "\n".join(texts)


def test_readme_figures_of_capitalised_words_are_the_fortunes_ones():
    import lexvale

    files, text = fortunes_text()
    # Tokens do not depend on case, so the distinct words give the text's stems.
    words = set(re.findall(lexvale.DEFAULT_PATTERN, text))
    as_written = len(set(lexvale.Analyzer("english", lowercase=False).stem_words(words)))
    lowered = len(set(lexvale.Analyzer("english").stem_words(words)))
    assert lowered < as_written
    claim = (
        f"({files} files, {len(words):,} distinct words as written), the words as written give "
        f"{as_written:,} distinct stems, and the same words lower-cased {lowered:,}"
    )
    assert claim in readme_prose()


def shell_sessions():
    """The README's console blocks: each a list of (command, the lines it prints)."""
    sessions = []
    for block in re.findall(r"```console\n(.*?)```", README.read_text(encoding="utf-8"), re.DOTALL):
        steps = []
        for line in block.splitlines():
            if line.startswith("$ "):
                steps.append((line[2:], []))
            else:
                steps[-1][1].append(line)
        sessions.append(steps)
    return sessions


@pytest.mark.parametrize("number", range(len(shell_sessions())))
def test_readme_shell_sessions_print_what_they_show(number, tmp_path):
    # The lexvale command as this interpreter and this build run it.
    prologue = f'lexvale() {{ "{sys.executable}" -m lexvale "$@"; }}\n'
    env = child_env()
    for command, shown in shell_sessions()[number]:
        result = subprocess.run(
            ["sh", "-c", prologue + command], capture_output=True, text=True, env=env, cwd=tmp_path, timeout=120
        )
        assert (result.returncode, result.stderr) == (0, ""), command
        assert result.stdout.splitlines() == shown, command


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

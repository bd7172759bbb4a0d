"""What a user reads: the examples and figures of the README and docs/*.md, help() and signatures."""

import doctest
import inspect
import pydoc
import re
import subprocess
import sys
from pathlib import Path

import pytest

import Davuzod
from conftest import CHECKOUT, child_env, fortune_files, fortunes_text, missing

ROOT = CHECKOUT
README = ROOT / "README.md"
DOCS = ROOT / "docs"
DOCUMENTS = [README, *sorted(DOCS.glob("*.md"))]
# The pages that hold the figures the tests compute.
ISO_TABLE_PAGE = DOCS / "analyzer.md"
CAPITALS_PAGE = DOCS / "pitfalls.md"
DEBUG_INTERPRETER = hasattr(sys, "gettotalrefcount")


def relative(document):
    return str(document.relative_to(ROOT))


def blocks(document, kind):
    """The document's fenced blocks of a kind ("python", "console"), each with its text."""
    return re.findall(rf"^```{kind}\n(.*?)^```", document.read_text(encoding="utf-8"), re.DOTALL | re.MULTILINE)


def skip_without_what_it_imports(text):
    """Skips a test of examples that import a library that is not installed
    (lexvale works with scikit-learn, pandas, Dask... but needs none of them)."""
    names = set(re.findall(r"^(?:>>> |\s*)(?:from|import) (\w+)", text, re.MULTILINE))
    absent = missing(*sorted(names))
    if absent:
        pytest.skip(f"the examples use {', '.join(absent)}, not installed here")


DOCUMENTS_WITH_SESSIONS = [d for d in DOCUMENTS if re.search(r"^>>> ", d.read_text(encoding="utf-8"), re.MULTILINE)]


@pytest.mark.parametrize("document", DOCUMENTS_WITH_SESSIONS, ids=relative)
def test_interactive_examples_run_as_written(document):
    # Each document on its own, as a reader who opens only that page: it
    # imports what it uses.
    # Only what doctest runs: the ">>>" lines, not the blocks shown for reading.
    sessions = re.findall(r"^\s*>>> (.*)$", document.read_text(encoding="utf-8"), re.MULTILINE)
    skip_without_what_it_imports("\n".join(sessions))
    results = doctest.testfile(str(document), module_relative=False, optionflags=doctest.ELLIPSIS)
    # Every ">>>" line is an example that ran: none is skipped by a directive.
    shown = len(re.findall(r"^\s*>>> ", document.read_text(encoding="utf-8"), re.MULTILINE))
    assert (results.failed, results.attempted - results.skipped) == (0, shown)


def test_the_readme_and_the_pages_together_hold_the_examples():
    # The README alone held 59 examples before most of them moved to docs/;
    # the test above runs each ">>>" line counted here.
    shown = sum(len(re.findall(r"^\s*>>> ", d.read_text(encoding="utf-8"), re.MULTILINE)) for d in DOCUMENTS)
    assert shown >= 59


def script_examples():
    """The Python blocks that are programs rather than interactive sessions: (document, program)."""
    return [
        (document, block)
        for document in DOCUMENTS
        for block in blocks(document, "python")
        if not block.lstrip().startswith(">>>")
    ]


@pytest.mark.parametrize(
    "number", range(len(script_examples())), ids=[f"{relative(d)}-{i}" for i, (d, _) in enumerate(script_examples())]
)
def test_programs_run_and_print_what_they_say(number, tmp_path):
    program = script_examples()[number][1]
    if DEBUG_INTERPRETER and re.search(r"^(from|import) sklearn", program, re.MULTILINE):
        pytest.skip("SciPy, under scikit-learn, has no build for the debug interpreter")
    skip_without_what_it_imports(program)
    path = tmp_path / "example.py"
    path.write_text(program, encoding="utf-8")
    env = child_env()
    # In a directory of its own, where a program may write files.
    result = subprocess.run(
        [sys.executable, str(path)], capture_output=True, text=True, env=env, timeout=120, cwd=tmp_path
    )
    assert result.returncode == 0, result.stderr
    promised = re.findall(r"print\(.*\)\s*# (.*)", program)
    assert promised
    assert result.stdout.split("\n")[: len(promised)] == promised


def prose(document):
    """A document's text with each run of white space made one space."""
    return " ".join(document.read_text(encoding="utf-8").split())


def test_table_of_iso_codes_is_what_libstemmer_accepts():
    import lexvale

    rows = re.findall(r"^\| (\w+) \| (.+) \|$", ISO_TABLE_PAGE.read_text(encoding="utf-8"), re.MULTILINE)
    table = {name: tuple(re.findall(r"`(\w+)`", codes)) for name, codes in rows if name != "Algorithm"}
    assert table == lexvale.iso_codes(), "\n".join(
        f"| {name} | {', '.join(f'`{code}`' for code in codes) or 'none'} |" for name, codes in lexvale.iso_codes().items()
    )


def nltk_rows():
    """The rows of the README's comparison with NLTK: (language, word, lexvale's stem, NLTK's stem)."""
    section = README.read_text(encoding="utf-8").partition("## Coming from NLTK")[2].partition("\n## ")[0]
    return re.findall(r"^\| (\w+) \| (\w+) \| (\w+) \| (\w+) \|$", section, re.MULTILINE)


def test_comparison_with_nltk_shows_lexvales_stems():
    # NLTK's column is what benchmark.py prints with NLTK installed (NLTK is a
    # peer of the benchmark, not of the tests).
    import lexvale

    rows = nltk_rows()
    assert len(rows) >= 4
    for language, word, ours, theirs in rows:
        assert lexvale.Analyzer(language)(word) == [ours], word
        assert ours != theirs, word
    # NLTK's Dutch is the older algorithm, which libstemmer keeps as dutch_porter.
    for language, word, _, theirs in rows:
        if language == "dutch":
            assert lexvale.Analyzer("dutch_porter")(word) == [theirs], word


def test_figures_of_capitalised_words_are_the_fortunes_ones():
    import lexvale

    files, text = len(fortune_files()), fortunes_text()
    # Tokens do not depend on case, so the distinct words give the text's stems.
    words = set(re.findall(lexvale.DEFAULT_PATTERN, text))
    as_written = len(set(lexvale.Analyzer("english", lowercase=False).stem_words(words)))
    lowered = len(set(lexvale.Analyzer("english").stem_words(words)))
    assert lowered < as_written
    claim = (
        f"({files} files, {len(words):,} distinct words as written), the words as written give "
        f"{as_written:,} distinct stems, and the same words lower-cased {lowered:,}"
    )
    assert claim in prose(CAPITALS_PAGE)


def shell_sessions():
    """The console blocks: each (document, a list of (command, the lines it prints))."""
    sessions = []
    for document in DOCUMENTS:
        for block in blocks(document, "console"):
            steps = []
            for line in block.splitlines():
                if line.startswith("$ "):
                    steps.append((line[2:], []))
                else:
                    steps[-1][1].append(line)
            sessions.append((document, steps))
    return sessions


@pytest.mark.parametrize(
    "number", range(len(shell_sessions())), ids=[f"{relative(d)}-{i}" for i, (d, _) in enumerate(shell_sessions())]
)
def test_shell_sessions_print_what_they_show(number, tmp_path):
    # The lexvale command as this interpreter and this build run it.
    prologue = f'lexvale() {{ "{sys.executable}" -m lexvale "$@"; }}\n'
    env = child_env()
    for command, shown in shell_sessions()[number][1]:
        result = subprocess.run(
            ["sh", "-c", prologue + command], capture_output=True, text=True, env=env, cwd=tmp_path, timeout=120
        )
        assert (result.returncode, result.stderr) == (0, ""), command
        assert result.stdout.splitlines() == shown, command


def anchor(heading, seen):
    """The anchor a Markdown renderer gives a heading: lower case, punctuation
    dropped, spaces made hyphens, and a number after a repeated one."""
    slug = re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
    count = seen.get(slug, 0)
    seen[slug] = count + 1
    return f"{slug}-{count}" if count else slug


def anchors(document):
    text = re.sub(r"^```.*?^```", "", document.read_text(encoding="utf-8"), flags=re.DOTALL | re.MULTILINE)
    seen = {}
    return {anchor(heading, seen) for heading in re.findall(r"^#+ (.*)$", text, re.MULTILINE)}


def links(document):
    """The document's relative links, outside code: (target file, anchor or "")."""
    text = re.sub(r"^```.*?^```", "", document.read_text(encoding="utf-8"), flags=re.DOTALL | re.MULTILINE)
    text = re.sub(r"`[^`\n]*`", "", text)
    found = []
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, fragment = target.partition("#")
        found.append(((document.parent / path).resolve() if path else document, fragment))
    return found


@pytest.mark.parametrize("document", DOCUMENTS, ids=relative)
def test_links_lead_to_pages_and_headings_that_exist(document):
    broken = [
        f"{target.name}#{fragment}"
        for target, fragment in links(document)
        if not target.exists() or (fragment and (target.suffix != ".md" or fragment not in anchors(target)))
    ]
    assert links(document) and broken == []


def test_readme_leads_to_every_page():
    linked = {target for target, _ in links(README)}
    assert [page for page in DOCUMENTS[1:] if page not in linked] == []


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

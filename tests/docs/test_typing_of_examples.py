"""The README's and docs/'s examples pass mypy in strict mode: the types accept what the documentation does.

Each document's examples become one module, in order (a page's sessions
share their names, as doctest runs them). An example that shows a
``TypeError`` gets ``# type: ignore``, which strict mode's
``warn_unused_ignores`` turns into a check that the types reject it too.
"""

import doctest
import re
import subprocess
import sys
import tomllib

import pytest

from conftest import CHECKOUT, missing

DOCUMENTS = [CHECKOUT / "README.md", *sorted((CHECKOUT / "docs").glob("*.md"))]

# Libraries the examples use beside lexvale, which ship no types of their own here: their names are Any.
# The package's own settings (pyproject.toml's, for scikit-learn, SciPy and NumPy too) come after.
CONFIGURATION = """\
[mypy]
strict = True
cache_dir = /dev/null

[mypy-pandas.*,joblib.*,dask.*,distributed.*,pyarrow.*,nltk.*,snowballstemmer.*,apsw.*]
ignore_missing_imports = True
follow_imports = skip
"""


def package_settings():
    """pyproject.toml's mypy overrides, in the configuration file's format."""
    overrides = tomllib.loads((CHECKOUT / "pyproject.toml").read_text())["tool"]["mypy"].get("overrides", [])
    sections = []
    for override in overrides:
        modules = override.pop("module")
        modules = ",".join(modules) if isinstance(modules, list) else modules
        sections.append(f"[mypy-{modules}]\n" + "".join(f"{key} = {value}\n" for key, value in override.items()))
    return "\n".join(sections)


# Examples that raise TypeError where the types cannot see it: pickling is
# refused at run time, pandas' names are Any here, and an Arrow column's type
# is Arrow's, known when it is read.
UNTYPED_TYPE_ERRORS = {
    'pickle.dumps(Davuzod.Davuzod("english"))',
    'notes["text"].map(analyzer)',
    "analyzer.arrow(pa.array([1, 2]))",
}


def module_of(document):
    """The document's Python examples as one module's source, or None where it has none."""
    text = document.read_text(encoding="utf-8")
    lines = []
    for block in re.findall(r"^```python\n(.*?)^```", text, re.DOTALL | re.MULTILINE):
        examples = doctest.DocTestParser().get_examples(block)
        if not examples:
            lines += block.splitlines()  # a program
            continue
        for example in examples:
            source = example.source.rstrip("\n").splitlines()
            type_error = example.exc_msg is not None and example.exc_msg.startswith("TypeError")
            if type_error and example.source.strip() not in UNTYPED_TYPE_ERRORS:
                assert len(source) == 1, f"{document.name}: a TypeError example on one line: {source}"
                source[0] += "  # type: ignore"
            lines += source
    return "\n".join(lines) + "\n" if lines else None


@pytest.mark.skipif(bool(missing("mypy")), reason="needs mypy")
def test_examples_pass_mypy_strict(tmp_path):
    written = []
    for document in DOCUMENTS:
        source = module_of(document)
        if source is not None:
            path = tmp_path / f"example_{document.stem.replace('-', '_')}.py"
            path.write_text(source, encoding="utf-8")
            written.append(path)
    assert len(written) >= 5
    configuration = tmp_path / "mypy.ini"
    configuration.write_text(CONFIGURATION + "\n" + package_settings())
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(configuration), "--no-incremental", *map(str, written)],
        capture_output=True, text=True, cwd=tmp_path,
        env={"MYPYPATH": f"{CHECKOUT / 'src'}:{CHECKOUT}", "PATH": "/usr/bin:/bin"},
    )
    assert result.returncode == 0, result.stdout + result.stderr

"""The native analysis pass: the same results as the pure-Python path, on any text, with every setting."""

import gc
import gzip
import os
import random
import signal
import subprocess
import sys
import threading
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import Davuzod
from lexvale import Analyzer, Token
from lexvale import _native as native
from lexvale.stoplists import stop_list_languages
from conftest import CHECKOUT, fortunes_text

ROOT = CHECKOUT
VOCABULARIES = Path("/usr/share/snowball/data")
DICTIONARIES = Path("/usr/share/dict")

pytestmark = pytest.mark.skipif(not native.available(), reason="the native pass is not built")

# The large corpora only compare results, which the release run does; the
# debug interpreter, whose checks are of references, runs the rest.
large_corpus = pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="large corpora run on the release build")


def both(**settings):
    """The same analyzer twice: with the native pass, and on the pure-Python path."""
    fast = Analyzer(**settings)
    with native.disabled():
        slow = Analyzer(**settings)
    assert fast._state.native is not None and slow._state.native is None
    return fast, slow


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:  # the two paths must fail alike too
        return type(error), str(error)


def assert_same(fast, slow, text):
    for name in ("__call__", "tokens"):
        assert outcome(getattr(fast, name), text) == outcome(getattr(slow, name), text), (name, ascii(text))
    words = text.split()
    assert outcome(fast.stem_words, words) == outcome(slow.stem_words, words), ascii(text)
    # One pipeline serves the call and tokens: the same stems, each token's word where it lies.
    tokens = outcome(fast.tokens, text)
    if fast.ngram_range == (1, 1) and isinstance(tokens, list):
        assert [token.stem for token in tokens] == fast(text), ascii(text)
        assert all(text[token.start:token.end] == token.word for token in tokens), ascii(text)
        positions = [token.position for token in tokens]
        assert positions == sorted(positions), ascii(text)


PIECES = [
    "a", "B", " ", "\n", "'", "’", "-", ".", ",", "1", "9", "_", "\u0301", "\u0323", "\u0307", "ﬁ", "İ", "I", "ı",
    "Σ", "ς", "ß", "ẞ", "J", "\u030c", "é", "\u00ad", "\u200b", "\u200c", "\u200d", "\ufeff", "東", "は", "カ",
    "한", "\u1100", "\u1161", "℅", "½", "ｗ", "\u093f", "क", "ก", "\U0001d6ba", "\U00020000", "\U0001f600",
    "n", "A", "É", "t", "\u0f73", "w", "Å", "\u0e31", "\ud800", "\0", "Ǆ", "\u212a", "Ω",
    # What a normal form makes separators of, and what it makes letters, digits or joiners of.
    "\u00a0", "\u2026", "\u202f", "\u2000", "\uff0e", "\uff0c", "\uff07", "\u00b2", "\u2122", "\uff1d",
]
SETTINGS = st.fixed_dictionaries({
    "language": st.sampled_from(["english", "turkish", "irish", "greek", "persian", "hindi", "french", "german"]),
    "normalize": st.sampled_from(["NFC", "NFKC", None]),
    "lowercase": st.booleans(),
    "fold_accents": st.booleans(),
    "stopwords": st.sampled_from([(), ("a", "b", "the"), ("I", "İ", "ı")]),
    "protected": st.sampled_from([(), ("ﬁ", "İ", "cats")]),
    "overrides": st.sampled_from([None, {"Σ": "s", "é": "e", "a": "x"}]),
    "ngram_range": st.sampled_from([(1, 1), (1, 2), (2, 4)]),
    "cache_size": st.sampled_from([10000, 3, 0, -1]),
    "keep_original": st.booleans(),
}).map(lambda options: options | {"keep_original": options["keep_original"] and options["ngram_range"] == (1, 1)})


@settings(max_examples=600, deadline=None)
@given(st.lists(st.sampled_from(PIECES) | st.characters(codec=None), max_size=40).map("".join), SETTINGS)
def test_both_paths_agree_on_any_text_with_every_setting(text, options):
    fast, slow = both(**options)
    assert_same(fast, slow, text)
    # Again, now that the native table holds the words.
    assert_same(fast, slow, text)


@large_corpus
def test_both_paths_agree_on_every_code_point():
    fast, slow = both(language="english")
    native_lines = 0
    for start in range(1, sys.maxunicode + 1, 8192):
        chunk = range(start, min(start + 8192, sys.maxunicode + 1))
        # Each character on a line of its own: alone, after a letter and a
        # digit, and before a letter; so that a character the native pass
        # leaves to Python takes only its own line there.
        text = "\n".join(f"{chr(c)} a{chr(c)}1 {chr(c)}b" for c in chunk if c != 10)
        assert fast(text) == slow(text), hex(start)
        native_lines += len(text.split("\n")) - len(fast._state.native.lines(text, False)[1])
    assert native_lines > 0.9 * sys.maxunicode


@large_corpus
@pytest.mark.parametrize(
    "options",
    [{}, {"stopwords": "snowball", "protected": ["news", "unix"], "overrides": {"geese": "goose"}},
     {"fold_accents": True, "ngram_range": (1, 3)}, {"normalize": "NFC", "lowercase": False}, {"cache_size": 100},
     {"stopwords": "snowball", "fold_accents": True, "keep_original": True}],
)
def test_both_paths_agree_on_fortunes(options):
    text = fortunes_text()
    fast, slow = both(**options)
    assert fast(text) == slow(text)
    assert fast.tokens(text) == slow.tokens(text)
    entries = text.split("\n%\n")
    assert [fast(entry) for entry in entries] == [slow(entry) for entry in entries]
    words = text.split()
    assert fast.stem_words(words) == slow.stem_words(words)


def sample(lines, name, count=5000):
    return random.Random(name).sample(lines, min(count, len(lines)))


def vocabulary(language):
    folder = VOCABULARIES / language
    if (folder / "voc.txt").exists():
        return (folder / "voc.txt").read_text(encoding="utf-8").split("\n")
    if (folder / "voc.txt.gz").exists():
        return gzip.decompress((folder / "voc.txt.gz").read_bytes()).decode("utf-8").split("\n")
    return None


@large_corpus
@pytest.mark.parametrize("language", Davuzod.algorithms())
def test_both_paths_agree_on_snowballs_vocabulary(language):
    words = vocabulary(language)
    if words is None:
        pytest.skip(f"Snowball's vocabulary for {language} is not installed (Debian's snowball-data)")
    words = sample(words, language)
    for options in ({}, {"stopwords": "snowball"} if language in stop_list_languages() else {"fold_accents": True}):
        fast, slow = both(language=language, **options)
        assert fast.stem_words(words) == slow.stem_words(words)
        text = " ".join(words)
        assert fast(text) == slow(text)
        capitalised = " ".join(word.capitalize() for word in words)
        assert fast(capitalised) == slow(capitalised)


@large_corpus
@pytest.mark.parametrize("path", sorted(DICTIONARIES.glob("*")) if DICTIONARIES.is_dir() else [], ids=lambda p: p.name)
def test_both_paths_agree_on_debians_word_lists(path):
    if not path.is_file() or path.name in ("README.select-wordlist", "words"):
        pytest.skip("not a word list")
    words = sample(path.read_bytes().decode("utf-8", "replace").split("\n"), path.name)
    for language in ("english", "french", "german", "spanish", "dutch"):
        fast, slow = both(language=language)
        assert fast(" ".join(words)) == slow(" ".join(words))
        assert fast.stem_words(words) == slow.stem_words(words)


@pytest.mark.parametrize("form", ["NFC", "NFKC"])
@pytest.mark.parametrize(
    "text, native_alone",
    [
        # Stress marks after capitals, as Russian dictionaries write them: the
        # lower case joins no mark, so the pass keeps the text.
        ("Осо́бый район, Респу́блика\n«Исламская» Респу́блика…", True),
        ("Écrit À LA MAX\u0301", True),
        # The lower case of "J" joins the caron: the pure-Python path prepares it.
        ("J\u030cosé and more", False),
        ("one line\nJ\u030c\nanother line", False),
        # A word written decomposed, which the normal form composes; the rest
        # of the text would not keep it native either way.
        ("Un cafe\u0301 noir…", False),
        ("un cafe\u0301\nnoir…", False),
    ],
)
def test_words_with_marks_stay_native_where_their_prepared_form_is_normal(text, native_alone, form):
    fast, slow = both(language="russian", normalize=form)
    assert (fast._state.native.text(text) is not None) == native_alone
    assert fast(text) == slow(text)
    assert fast.tokens(text) == slow.tokens(text)
    words = text.split()
    assert fast.stem_words(words) == slow.stem_words(words)


@pytest.mark.parametrize("settings", [{}, {"ngram_range": (1, 2)}, {"normalize": "NFKC", "stopwords": "snowball"}])
def test_the_command_s_lines_get_what_the_call_gives_each_line(settings):
    # Lines the pass takes alone, and lines it leaves to the pure-Python path, mixed.
    lines = ["The cats were running", "", "J\u030cosé ﬁnding", "nº ligne du²", "Осо́бый район…", "plain words again"]
    fast, slow = both(**settings)
    expected = [slow(line) for line in lines]
    assert fast._stems_of_lines(lines) == expected
    assert slow._stems_of_lines(lines) == expected


@large_corpus  # every code point, compared in Python: nothing for the debug interpreter to check
def test_the_character_tables_are_what_the_interpreter_says():
    run = subprocess.run([sys.executable, str(ROOT / "tools" / "unicode_tables.py"), "--check"],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr


def child_environment(**extra):
    return dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p), **extra)


def test_lexvale_no_extensions_selects_the_pure_python_path():
    program = "import lexvale; a = lexvale.Analyzer(); print(a._state.native is None, a('Cats running'))"
    for value, native_used in (("1", "True"), ("", "False")):
        run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                             env=child_environment(LEXVALE_NO_EXTENSIONS=value))
        assert run.stdout.split() == [native_used, "['cat',", "'run']"], run.stderr


def test_tables_of_another_unicode_are_not_used_and_say_so_once():
    # The interpreter's Unicode as this child sees it differs from the
    # tables': every analyzer takes the pure-Python path, stems as before,
    # and one RuntimeWarning says why and how to mend it.
    program = """
import unicodedata, warnings
unicodedata.unidata_version = "1.1.0"
import lexvale
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    first, second = lexvale.Analyzer(), lexvale.Analyzer("german")
print(first._state.native is None, second._state.native is None, first("Cats running"))
print(len(caught), caught[0].category.__name__)
print(caught[0].message)
"""
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, env=child_environment())
    lines = run.stdout.splitlines()
    assert lines[:2] == ["True True ['cat', 'run']", "1 RuntimeWarning"], run.stderr
    assert "Unicode 1.1.0" in lines[2] and "tools/unicode_tables.py" in lines[2]


def test_words_of_settings_survive_the_table_filling_up():
    fast, slow = both(cache_size=2, stopwords=["the"], overrides={"geese": "goose"}, protected=["news"])
    text = " ".join(f"w{n}ing the geese news" for n in range(500))
    assert fast(text) == slow(text)
    assert fast("the geese news running") == ["goose", "news", "run"]
    assert fast.stem_words(["the", "Geese"]) == ["the", "goose"]


def test_one_analyzer_shared_by_threads_gives_the_serial_results():
    text = fortunes_text()
    entries = [entry for entry in text.split("\n%\n") if entry.strip()][:600]
    analyzer = Analyzer(cache_size=50, stopwords="snowball")
    with native.disabled():
        expected = [Analyzer(cache_size=50, stopwords="snowball")(entry) for entry in entries]
    results = {}

    def work(index):
        results[index] = [analyzer(entry) for entry in entries]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(results[i] == expected for i in range(4))


def test_settings_and_text_the_native_pass_leaves_to_python():
    class Text(str):
        def lower(self):
            return "changed"

    fast, slow = both(stopwords=["\ud800", "the"], protected=["a\udc00"], overrides={"x\udc00": "y"})
    for text in (Text("The Cats"), "The Cats", "x\udc00 the"):
        assert outcome(fast, text) == outcome(slow, text)
        assert outcome(fast.tokens, text) == outcome(slow.tokens, text)
    # A final sigma does not depend on an "İ" elsewhere in the text.
    for text in ("İ\n½ΑΣ", "½ΑΣ\nİ", "İ ½ΑΣ"):
        assert fast(text) == slow(text) and fast.tokens(text) == slow.tokens(text), text
    irish_fast, irish_slow = both(language="irish")
    assert irish_fast.stem_words(["nAthair\0tAthair"]) == irish_slow.stem_words(["nAthair\0tAthair"])


@pytest.mark.parametrize(
    "settings, text, stems, spans",
    [
        # Characters of combining class 0 that decompose into marks: a later
        # mark reaches past them to the letter before.
        ({"lowercase": False}, "a\u0f73\u0307", ["\u0227\u0f71\u0f72"], [(0, 3)]),
        ({"lowercase": False}, "a\uff9e\u0301", ["\xe1\u3099"], [(0, 3)]),
        # A span that preparation makes more than a word of: the word only.
        ({"language": "greek"}, "\u0391\u03a3\u2488", ["\u03b1\u03c31"], [(0, 3)]),
        # A Turkish I's dot belongs to its token, marks below or not.
        ({"language": "turkish", "normalize": None}, "bI\u0307", ["bi"], [(0, 3)]),
        ({"language": "turkish", "normalize": None}, "bI\u0323\u0307 x", ["bi\u0323", "x"], [(0, 4), (5, 6)]),
    ],
)
def test_call_and_tokens_agree_where_a_character_reaches_past_its_neighbour(settings, text, stems, spans):
    fast, slow = both(**settings)
    assert_same(fast, slow, text)
    assert fast(text) == stems
    assert [(token.start, token.end) for token in fast.tokens(text)] == spans


def test_tokens_are_lexvales_tokens():
    fast, _ = both()
    tokens = fast.tokens("Cats ran")
    assert tokens == [Token("cat", 0, 4, "Cats", 0), Token("ran", 5, 8, "ran", 1)]
    assert all(type(token) is Token for token in tokens)
    assert tokens[0].word == "Cats" and hash(tokens[0]) == hash(Token("cat", 0, 4, "Cats", 0))


def test_ctrl_c_reaches_a_long_text():
    program = """
import signal, sys
import lexvale
analyzer = lexvale.Analyzer()
assert analyzer._state.native is not None
analyzer("warm up")
text = "alpha beta gamma delta " * 3_000_000
stems = None
signal.setitimer(signal.ITIMER_REAL, 0.05)
signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt))
try:
    stems = analyzer(text)
except KeyboardInterrupt:
    print("interrupted")
print(stems is None, analyzer("Running cats"))
"""
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, env=child_environment(),
                         timeout=120)
    assert run.stdout.split("\n")[:2] == ["interrupted", "True ['run', 'cat']"], run.stderr


def test_signal_handlers_run_while_many_ngrams_are_made():
    # A handler that returns runs during the call, not after it (a handler
    # that raises would end the call either way).
    program = """
import signal, time
from lexvale import _native as native
stems = ["alpha", "beta", "gamma", "delta"] * 500_000
ngrams = native.ngram_maker()
ran = []
signal.signal(signal.SIGALRM, lambda *_: ran.append(time.perf_counter()))
signal.setitimer(signal.ITIMER_REAL, 0.01)
grams = ngrams(stems, 2, 3)
ended = time.perf_counter()
print(len(ran) == 1 and ran[0] < ended, len(grams), grams[-1])
"""
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, env=child_environment(),
                         timeout=120)
    assert run.stdout.split() == ["True", str(2 * 2_000_000 - 3), "beta", "gamma", "delta"], run.stderr


def test_a_signal_handler_cannot_empty_the_stems_the_ngrams_are_made_of():
    # The handler looks for the stems through the collector, as any Python
    # code may, and empties every list of them it finds but the caller's.
    program = """
import gc, signal
from lexvale import _native as native
ngrams = native.ngram_maker()
stems = [f"w{i}" for i in range(100_000)]
emptied = []
def handler(*_):
    for o in gc.get_objects():
        if type(o) is list and o is not stems and len(o) == len(stems) and o[0] is stems[0]:
            o.clear()
            emptied.append(o)
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.002)
grams = ngrams(stems, 2, 8)
print(len(grams), grams[-1] == " ".join(stems[-8:]), grams[0])
"""
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, env=child_environment(),
                         timeout=120)
    assert (run.returncode, run.stdout) == (0, f"{sum(100_000 - n + 1 for n in range(2, 9))} True w0 w1\n"), run.stderr


@pytest.mark.parametrize("ngram_range", [(1, 2), (2, 2), (1, 4), (3, 7), (6, 6), (7, 9), (1, 2**64), (2**64, 2**65)])
def test_ngrams_join_stems_of_every_character_width(ngram_range):
    # Stems of one-, two- and four-byte characters side by side, and an empty
    # one: each n-gram is as wide as its widest stem.
    fast, slow = both(ngram_range=ngram_range, overrides={"bc": ""})
    text = "a é ж 東𠀀 bc"
    assert fast(text) == slow(text)
    if ngram_range == (2, 2):
        assert fast(text) == ["a é", "é ж", "ж 東", "東 𠀀", "𠀀 "]


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")
@pytest.mark.parametrize("method", ["__call__", "tokens", "stem_words"])
def test_the_pass_leaves_no_reference_behind(method):
    analyzer = Analyzer(stopwords=["the"], fold_accents=True, cache_size=5, ngram_range=(1, 3))
    text = "The café Running İstanbul ΟΔΟΣ ½ 東京 w\u0301"
    argument = text.split() if method == "stem_words" else text

    def action():
        getattr(analyzer, method)(argument)

    for _ in range(200):
        action()
    gc.collect()
    before = sys.gettotalrefcount(), sys.getallocatedblocks()
    for _ in range(2000):
        action()
    gc.collect()
    after = sys.gettotalrefcount(), sys.getallocatedblocks()
    # A leak of one reference per call shows as 2000; caches filled on the way add a few dozen.
    assert after[0] - before[0] < 200 and after[1] - before[1] < 200


MEMORY_SWEEP = r'''
import gc, sys
import _testcapi
from lexvale import Analyzer
from lexvale import _native as native

gc.disable()
TEXT = "The Connected connections of İstanbul's naïve generals, 3.14 東京 " + " ".join(f"word{n}s" for n in range(40))
SETTINGS = {"stopwords": ["the", "of"], "protected": ["generals"], "overrides": {"naïve": "naive"},
            "fold_accents": True, "cache_size": 8, "ngram_range": (1, 2)}
with native.disabled():
    REFERENCE = Analyzer(**SETTINGS)
# The native module is found and loaded once a process, before the sweep: the
# modules that loading imports are not an analyzer's making, and the
# interpreter itself may crash making their classes when memory runs out.
assert native.available()
EXPECTED = {"call": REFERENCE(TEXT), "tokens": REFERENCE.tokens(TEXT), "words": REFERENCE.stem_words(TEXT.split())}
OPERATIONS = {
    "make": lambda: Analyzer(**SETTINGS),
    "call": lambda analyzer: analyzer(TEXT),
    "tokens": lambda analyzer: analyzer.tokens(TEXT),
    "words": lambda analyzer: analyzer.stem_words(TEXT.split()),
}
name = sys.argv[1]
completed = False
for k in range(1, 5000):
    analyzer = None if name == "make" else Analyzer(**SETTINGS)
    assert name == "make" or analyzer._state.native is not None
    _testcapi.set_nomemory(k, 0)
    try:
        result = OPERATIONS[name]() if name == "make" else OPERATIONS[name](analyzer)
    except MemoryError:
        result = None
    finally:
        _testcapi.remove_mem_hooks()
    if name == "make":
        analyzer = result
        if analyzer is None:
            continue
    elif result is not None:
        assert result == EXPECTED[name], (k, result)
        completed = True
    # Whatever failed, the analyzer answers right afterwards.
    for check, expected in EXPECTED.items():
        got = OPERATIONS[check](analyzer)
        assert got == expected, (k, check, got)
    if completed or (name == "make" and result is not None):
        print("swept", k)
        break
'''


@pytest.mark.parametrize("operation", ["make", "call", "tokens", "words"])
def test_memory_running_out_anywhere_leaves_a_working_analyzer(operation):
    pytest.importorskip("_testcapi")
    run = subprocess.run([sys.executable, "-c", MEMORY_SWEEP, operation], capture_output=True, text=True,
                         env=child_environment(), timeout=600)
    assert run.returncode == 0, run.stderr[-3000:]
    assert run.stdout.startswith("swept "), run.stdout
    assert int(run.stdout.split()[1]) > 20  # the sweep reached well into the operation


@pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="the debug build's reference macros call private functions")
def test_the_native_module_imports_no_private_interpreter_symbol():
    from lexvale import _analysis

    run = subprocess.run(
        [sys.executable, str(ROOT / "tools" / "private_symbols.py"), _analysis.__file__,
         str(ROOT / "tools" / "private_symbols_analysis.allow")],
        capture_output=True, text=True,
    )
    assert run.returncode == 0, run.stdout + run.stderr


LINE_CHUNKS = {
    "mixed": b"\n".join(
        [b"Running", b"CATS", b"", b"na\xc3\xafve", b"\xff\xfe bytes", b"tab\tand CR\r", b"x\x00y", b"  spaced ",
         b"\xc3\x89T\xc3\x89"] + [f"word{n}s".encode() for n in range(5000)] + [b"last line without newline"]),
    # Output that starts with nothing to copy.
    "one empty line": b"",
    "empty lines first": b"\n\ncats",
}


@pytest.mark.parametrize("chunk", LINE_CHUNKS.values(), ids=LINE_CHUNKS)
@pytest.mark.parametrize("pairs", [False, True])
def test_line_stemmer_writes_what_stemwords_writes(chunk, pairs, tmp_path):
    from conftest import stemwords_program

    program = stemwords_program()
    (tmp_path / "in").write_bytes(chunk + b"\n")  # a chunk's last line comes without its newline
    run = subprocess.run([program, "-l", "english", *(["-p"] if pairs else []), "-i", str(tmp_path / "in"),
                          "-o", str(tmp_path / "out")], capture_output=True)
    assert run.returncode == 0, run.stderr
    from lexvale import _analysis

    stemmer = _analysis.LineStemmer("english")
    assert stemmer.stem_lines(chunk, pairs) == (tmp_path / "out").read_bytes()

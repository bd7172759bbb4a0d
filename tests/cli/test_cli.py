"""The lexvale command: stemwords' output byte for byte, the text mode, jobs, errors, streams, signals, the progress bar."""

import contextlib
import fcntl
import importlib.metadata
import os
import pty
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import termios
import threading
import time
import tomllib
from pathlib import Path

import pytest

import Davuzod
import lexvale
from lexvale.cli._chunks import Chunk, read_chunks
from lexvale.cli import main
from conftest import CHECKOUT

ROOT = CHECKOUT

DICTIONARIES = {"english": "american-english", "french": "french", "german": "ngerman", "spanish": "spanish",
                "swedish": "swedish", "dutch": "dutch", "portuguese": "portuguese"}

ODD_INPUTS = {
    "blank lines": b"cats\n\n\nrunning\n\n",
    "trailing spaces": b"cats  \nrunning \t\n",
    "crlf": b"cats\r\nRunning\r\nponies\r\n",
    "no final newline": b"cats\nrunning",
    "capitals": "RUNNING\nCafÉs\nStraße\n".encode(),
    "nul byte": b"cats\0dogs\nrunning\0\n",
    "invalid utf-8": b"running\xff\ncats\xfe\nx\xffcats\n\xe9t\xe9s\nr\xc3\n\xc3",
    "empty": b"",
    "only a newline": b"\n",
}

# Children run the same build of the modules as this process.
CHILD_ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
LEXVALE = [sys.executable, "-m", "lexvale"]
# The native module's path and the pure-Python one, which must write the same bytes.
PATHS = {"native": CHILD_ENV, "pure Python": dict(CHILD_ENV, LEXVALE_NO_EXTENSIONS="1")}


def small_chunks(monkeypatch, size):
    """Chunks of `size` bytes, and workers for files of any size, so that a small file takes many workers' chunks."""
    monkeypatch.setattr("lexvale.cli._chunks.CHUNK_BYTES", size)
    monkeypatch.setattr("lexvale.cli._chunks.WORKER_CHUNK_BYTES", size)
    monkeypatch.setattr("lexvale.cli._runner.PARALLEL_BYTES", 0)


@pytest.fixture(autouse=True, scope="module")
def interrupts_reach_the_tool():
    """Ctrl-C's signal handled in the commands started here, even when the tests run in the background.

    A shell starts a background job with the interrupt signal ignored, and
    an ignored signal stays ignored in the children.
    """
    if signal.getsignal(signal.SIGINT) != signal.SIG_IGN:
        yield
        return
    signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)


def lexvale_command(*args, env=CHILD_ENV, **options):
    options.setdefault("timeout", 300)
    return subprocess.run([*LEXVALE, *args], capture_output=True, env=env, **options)


def lexvale_process(*args, **options):
    return subprocess.Popen([*LEXVALE, *args], env=CHILD_ENV, **options)


def with_redirections(redirections, *args, **options):
    """The command run by the shell with `redirections` (such as ``>&-``) applied to it."""
    return subprocess.run(["sh", "-c", f'exec "$@" {redirections}', "sh", *LEXVALE, *args], capture_output=True,
                          env=CHILD_ENV, timeout=300, **options)


def wait_for(condition, what, timeout=60):
    """Waits until `condition()` holds: an event the test sees happen, never a guess at how long it takes."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.005)


def unread_bytes(pipe):
    """The bytes written into a pipe that its reader has not taken yet."""
    return int.from_bytes(fcntl.ioctl(pipe.fileno(), termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)


def stemwords_command(*args, **options):
    """libstemmer's own tool, or a skip saying why it cannot run here."""
    if shutil.which("stemwords") is None:
        pytest.skip("libstemmer's stemwords is not installed (libstemmer-tools)")
    result = subprocess.run(["stemwords", *args], capture_output=True, timeout=300, **options)
    if result.returncode == 127 or b"error while loading shared libraries" in result.stderr:
        pytest.skip(f"stemwords cannot run here: {result.stderr.decode(errors='replace').strip()}")
    assert result.returncode == 0, result.stderr
    return result


def sample(name, count=3000):
    path = Path("/usr/share/dict") / name
    if not path.exists():
        pytest.skip(f"{path} is not installed")
    lines = path.read_bytes().split(b"\n")
    return b"\n".join(random.Random(name).sample(lines, min(count, len(lines)))) + b"\n"


@pytest.mark.parametrize("language", DICTIONARIES)
@pytest.mark.parametrize("pairs", [[], ["-p"]])
def test_word_lists_come_out_as_stemwords_writes_them(language, pairs, tmp_path):
    words = tmp_path / "words"
    words.write_bytes(sample(DICTIONARIES[language]))
    expected = stemwords_command("-l", language, *pairs, "-i", str(words)).stdout
    for path, env in PATHS.items():
        result = lexvale_command("-l", language, *pairs, "-i", str(words), env=env)
        assert (path, result.returncode, result.stderr) == (path, 0, b"")
        assert result.stdout == expected, path


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("case", ODD_INPUTS)
def test_odd_files_come_out_as_stemwords_writes_them(case, path, tmp_path):
    data = ODD_INPUTS[case]
    words = tmp_path / "words"
    words.write_bytes(data)
    for pairs in ([], ["-p"]):
        expected = stemwords_command("-l", "english", *pairs, "-i", str(words)).stdout
        assert lexvale_command(*pairs, "-i", str(words), env=PATHS[path]).stdout == expected
        assert lexvale_command(*pairs, input=data, env=PATHS[path]).stdout == expected  # from standard input too


def test_bytes_that_are_not_utf8_are_stemmed_as_libstemmer_stems_them():
    # Latin-1 Swedish: libstemmer still strips the suffix; no warning, as stemwords gives none.
    result = lexvale_command("-l", "sv", input=b"cats\nsj\xe4lvklarheterna\n")
    assert (result.stdout, result.stderr) == (b"cat\nsj\xe4lvklar\n", b"")


def test_text_lines_that_are_not_utf8_are_read_with_replacement_and_reported():
    result = lexvale_command("--text", input=b"cats\nx\xffcats dogs\n")
    assert result.stdout == b"cat\nx cat dog\n"
    assert result.stderr == (b"lexvale: warning: 1 line(s) not valid UTF-8, read with U+FFFD for the bad bytes"
                             b" (line 2 first); give the input's encoding with --encoding\n")


ENCODED_INPUTS = [
    ("latin-1", "de", "Würde Straße cafés\nnaïve Öl\n"),
    ("cp1252", "fr", "« Les “cafés” » – déjà\nœuvres\n"),
    ("koi8-r", "ru", "Всё ещё книги\nЁлки\n"),
]


@pytest.mark.parametrize("encoding, language, text", ENCODED_INPUTS, ids=[row[0] for row in ENCODED_INPUTS])
@pytest.mark.parametrize("mode", [[], ["--text"], ["--text", "-j", "2"], ["-j", "2"]], ids=["words", "text",
                                                                                          "text-2", "words-2"])
def test_input_in_another_encoding_stems_as_its_utf8_does(encoding, language, text, mode):
    given = lexvale_command("-l", language, "--encoding", encoding, *mode, input=text.encode(encoding))
    expected = lexvale_command("-l", language, *mode, input=text.encode("utf-8"))
    assert given.returncode == 0 and given.stderr == b"", given.stderr
    assert given.stdout == expected.stdout and expected.stdout.count(b"\n") == 2


def test_bytes_not_valid_in_the_given_encoding_are_reported_by_line():
    result = lexvale_command("--text", "--encoding", "cp1252", input=b"caf\xe9s\nx\x81cats\n")
    assert result.stdout == "café\nx cat\n".encode()
    assert result.stderr == (b"lexvale: warning: 1 line(s) not valid cp1252, read with U+FFFD for the bad bytes"
                             b" (line 2 first)\n")


SIZED_INPUTS = [("koi8-r", "ru", "Всё ещё книги\n"), ("latin-1", "de", "Würde Straße\n"), ("shift_jis", "en", "日本語 東京\n")]


@pytest.mark.parametrize("encoding, language, line", SIZED_INPUTS, ids=[row[0] for row in SIZED_INPUTS])
@pytest.mark.parametrize("text", [[], ["--text"]], ids=["words", "text"])
def test_chunk_sizes_count_the_input_as_given(encoding, language, line, text):
    # The progress bar counts what each chunk stood for in the input, not its UTF-8.
    import io

    from lexvale.cli._chunks import read_chunks
    from lexvale.cli._options import job_of, parse
    from lexvale.cli._runner import results

    raw = (line * 20000).encode(encoding)
    job = job_of(parse(["-l", language, "--encoding", encoding, *text]))
    chunks = read_chunks(io.BytesIO(raw), "input", cut_at_blanks=bool(text))
    assert sum(done.size for done in results(job, chunks, 1)) == len(raw)


@pytest.mark.parametrize("mode", [[], ["--text"], ["--text", "--ngrams", "1,2"]], ids=["words", "text", "ngrams"])
def test_lines_longer_than_a_chunk_in_another_encoding(mode, tmp_path, monkeypatch):
    monkeypatch.setattr("lexvale.cli._chunks.CHUNK_BYTES", 64)
    text = "kurz\n" + " ".join(["Würde", "Straße", "Öfen", "größer"] * 40) + "\nEnde\n"
    for encoding, name in (("latin-1", "given"), ("utf-8", "expected")):
        (tmp_path / name).write_bytes(text.encode(encoding))
        assert main(["-l", "de", "--encoding", encoding, *mode, "-i", str(tmp_path / name),
                     "-o", str(tmp_path / f"{name}.out")]) == 0
    assert (tmp_path / "given.out").read_bytes() == (tmp_path / "expected.out").read_bytes()


def test_text_mode_writes_a_line_of_stems_per_line(tmp_path):
    stop = tmp_path / "stop"
    stop.write_text("the\nA\n", encoding="utf-8")
    protected = tmp_path / "protected"
    protected.write_text("News\n", encoding="utf-8")
    text = "The cats were running.\n\nA news item\r\nﬁnding"
    result = lexvale_command("--text", "--stopwords", str(stop), "--protected", str(protected),
                             "--normalize", "NFKC", input=text.encode())
    assert result.stdout.decode() == "cat were run\n\nnews item\nfind\n"
    analyzer = lexvale.Analyzer(lowercase=False, normalize=None)
    result = lexvale_command("--text", "--no-lowercase", "--normalize", "none", input=text.encode())
    assert result.stdout.decode().split("\n")[:-1] == [" ".join(analyzer(line)) for line in text.split("\n")]


def test_text_mode_takes_overrides_accent_folding_and_ngrams(tmp_path):
    overrides = tmp_path / "overrides"
    overrides.write_text("# word and stem\ngeese goose | a plural\n\nRunning  run\n", encoding="utf-8")
    text = "The Café connections of geese\nRunning cats run\n\nnaïve"
    result = lexvale_command("--text", "--overrides", str(overrides), "--fold-accents", "--ngrams", "1,2",
                             "--stopwords", "snowball", input=text.encode())
    assert result.returncode == 0, result.stderr
    analyzer = lexvale.Analyzer(overrides={"geese": "goose", "Running": "run"}, fold_accents=True,
                                ngram_range=(1, 2), stopwords="snowball")
    lines = result.stdout.decode().split("\n")[:-1]
    assert lines == ["\t".join(analyzer(line)) for line in text.split("\n")]
    assert lines[0].split("\t") == ["cafe", "connect", "goose", "cafe connect", "connect goose"]


@pytest.mark.parametrize("mode", [[], ["--text"]])
def test_jobs_give_the_output_of_one_process_in_order(mode, tmp_path, monkeypatch):
    small_chunks(monkeypatch, 4096)  # many chunks through a small window
    words = tmp_path / "words"
    data = sample("american-english", 20000)
    words.write_bytes(data + b"last line, no newline")
    one, two = tmp_path / "one", tmp_path / "two"
    assert main([*mode, "-i", str(words), "-o", str(one)]) == 0
    assert main([*mode, "-j", "3", "-i", str(words), "-o", str(two), "--cache", "50"]) == 0
    assert one.read_bytes() == two.read_bytes()
    assert one.read_bytes().count(b"\n") == data.count(b"\n") + 1
    # The command itself runs no other thread, so its workers are forked from
    # it. Standard input, of no size to go by, gets the workers asked for.
    result = lexvale_command(*mode, "-j", "2", input=words.read_bytes())
    assert result.returncode == 0, result.stderr
    assert result.stdout == one.read_bytes()


class CountedBlock(bytes):
    """A block as read from a file, tallying its bytes whenever they are taken (copied, joined, viewed)."""

    taken = 0

    def __buffer__(self, flags):
        CountedBlock.taken += len(self)
        return super().__buffer__(flags)

    def __add__(self, other):
        CountedBlock.taken += len(self) + len(other)
        return bytes(self) + bytes(other)

    def __radd__(self, other):
        CountedBlock.taken += len(other) + len(self)
        return bytes(other) + bytes(self)


class BlockSource:
    def __init__(self, data):
        self.data, self.offset = data, 0

    def read1(self, size):
        block = self.data[self.offset : self.offset + size]
        self.offset += len(block)
        return CountedBlock(block)


@pytest.mark.parametrize("cut_at_blanks", [False, True])
def test_a_line_longer_than_a_chunk_is_read_in_linear_time(cut_at_blanks, monkeypatch):
    # One word of 8 MiB (a file with no newline at all, say) in blocks of 4 KiB:
    # each block must be taken a bounded number of times, not once per later block.
    monkeypatch.setattr("lexvale.cli._chunks.CHUNK_BYTES", 4096)
    monkeypatch.setattr(CountedBlock, "taken", 0)
    long_line = b"x" * (8 << 20)
    data = long_line + b"\nshort\n" + long_line
    chunks = list(read_chunks(BlockSource(data), "the source", cut_at_blanks=cut_at_blanks))
    assert b"\n".join(bytes(chunk.data) for chunk in chunks) == data  # whole lines, the last one unended
    assert [chunk.long_line for chunk in chunks] == [not cut_at_blanks, False, not cut_at_blanks]
    assert CountedBlock.taken <= 3 * 2 * len(long_line)


def test_text_lines_longer_than_a_chunk_are_cut_at_blanks_only(monkeypatch):
    monkeypatch.setattr("lexvale.cli._chunks.CHUNK_BYTES", 64)
    line = b" ".join(b"w%d" % n for n in range(200)) + b"\t" + b"y" * 300 + b" end"
    data = line + b"\nnext\n"
    chunks = list(read_chunks(BlockSource(data), "the source", cut_at_blanks=True))
    assert b"".join(chunk.data + (b"\n" if chunk.ends else b"") for chunk in chunks) == data
    assert sum(not chunk.ends for chunk in chunks) > 5
    for before, chunk in zip([Chunk(b"")] + chunks, chunks):
        assert chunk.continues == (not before.ends)
        if chunk.continues:
            assert chunk.data[:1] in (b" ", b"\t")  # cut before a blank, never inside a word


def long_text_lines(seed):
    """Text with lines much longer than a small chunk: words, blanks, runs without letters, bytes that are not UTF-8."""
    rng = random.Random(seed)
    vocabulary = [b"Running", b"cats", b"the", "ΟΔΟΣ".encode(), "Σ".encode(), "ﬁnding".encode(),
                  "e\u0301te\u0301".encode(), b"don't", "İstanbul".encode(), b"ponies'", b"x\xffy", b"42", b"--", b""]
    lines = []
    for _ in range(12):
        length = rng.choice([0, 3, 40, 400])
        words = [rng.choice(vocabulary) for _ in range(length)]
        blanks = [rng.choice([b" ", b"  ", b"\t", b" \t "]) for _ in range(length)]
        line = b"".join(word + blank for word, blank in zip(words, blanks))
        lines.append(line.rstrip() if rng.random() < 0.3 else line)
    return b"\n".join(lines)


@pytest.mark.parametrize("ngrams", [None, (1, 2), (2, 3)], ids=["words", "ngrams-1-2", "ngrams-2-3"])
@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("seed", range(3))
def test_text_lines_longer_than_a_chunk_give_the_stems_of_the_whole_line(seed, jobs, ngrams, tmp_path, monkeypatch):
    # Cut at blanks into chunks, or (n-grams, which a cut would part) taken whole.
    small_chunks(monkeypatch, 64)
    data = long_text_lines(seed)
    source = tmp_path / "text"
    source.write_bytes(data)
    out = tmp_path / "out"
    ngram_options = [] if ngrams is None else ["--ngrams", f"{ngrams[0]},{ngrams[1]}"]
    assert main(["--text", "--normalize", "NFKC", *ngram_options, "-j", jobs, "-i", str(source), "-o", str(out)]) == 0
    analyzer = lexvale.Analyzer(normalize="NFKC", ngram_range=ngrams or (1, 1))
    separator = " " if ngrams is None else "\t"
    lines = data.decode("utf-8", "replace").removesuffix("\n").split("\n")
    assert out.read_text(encoding="utf-8").split("\n")[:-1] == [separator.join(analyzer(line)) for line in lines]


@pytest.mark.parametrize("pairs", [[], ["-p"]])
def test_word_list_lines_longer_than_a_chunk_come_out_as_stemwords_writes_them(pairs, tmp_path, monkeypatch):
    small_chunks(monkeypatch, 64)
    lines = [b"Connections" * 30, b"cats", b"RUNNING\0" * 20, "Straße".encode() * 40, b"x\xff" * 90, b"ponies"]
    words = tmp_path / "words"
    words.write_bytes(b"\n".join(lines))  # the last long line has no newline
    expected = stemwords_command("-l", "english", *pairs, "-i", str(words)).stdout
    for jobs in ("1", "2"):
        out = tmp_path / f"out{jobs}"
        assert main([*pairs, "-j", jobs, "-i", str(words), "-o", str(out)]) == 0
        assert out.read_bytes() == expected


def test_list_shows_each_algorithm_with_its_codes(capsys):
    assert main(["--list"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert [line.split()[0] for line in lines] == Davuzod.algorithms()
    assert "english  en eng" in [" ".join(line.split()[:1]) + "  " + " ".join(line.split()[1:]) for line in lines]
    assert any(line.split() == ["porter"] for line in lines)


def test_version_is_printed_once(capsys):
    assert main(["--version"]) == 0
    assert capsys.readouterr().out == f"lexvale {Davuzod.version()}\n"


@pytest.mark.parametrize(
    "args, message",
    [
        (["-l", "englsh"], b"did you mean 'english'?"),
        (["--stopwords", "x"], b"lexvale: error: --stopwords works with --text only"),
        (["--normalize", "NFC"], b"lexvale: error: --normalize works with --text only"),
        (["--no-lowercase"], b"lexvale: error: --no-lowercase works with --text only"),
        (["--text", "-p"], b"-p works on word lists"),
        (["--fold-accents"], b"lexvale: error: --fold-accents works with --text only"),
        *[(["--encoding", given], f"--encoding takes an encoding that writes ASCII as ASCII and each line apart "
           f"(utf-8, latin-1, cp1252, koi8-r, shift_jis...), not '{given}'".encode())
          for given in ("utf-16", "iso2022_jp", "utf-7", "raw_unicode_escape", "unicode_escape", "nope")],
        (["--overrides", "x"], b"lexvale: error: --overrides works with --text only"),
        (["--ngrams", "1,2"], b"lexvale: error: --ngrams works with --text only"),
        *[(["--text", "--ngrams", given], f"--ngrams takes MIN,MAX with 1 <= MIN <= MAX, such as 1,2; not '{given}'"
           .encode()) for given in ("2", "2,1", "0,1", "a,b", "1,2,3", "-1,2")],
        (["-j", "0"], b"--jobs must be at least 1"),
        (["--cache", "many"], b"invalid int value"),
        # Beyond the stemmers' 32-bit bound: refused before any word is read, workers or not.
        (["--cache", "3000000000"], b"lexvale: error: --cache must be between -2147483648 and 2147483647"),
        (["--text", "--cache", "-2147483649"], b"--cache must be between"),
        (["-j", "2", "--cache", "2147483648"], b"--cache must be between"),
    ],
)
def test_usage_errors_show_the_usage_and_one_line_and_exit_2(args, message):
    result = lexvale_command(*args, input=b"cats\n")
    assert result.returncode == 2
    usage, error = result.stderr.decode().split("\nlexvale: error: ")
    assert usage.startswith("usage: lexvale ")
    assert message.decode().removeprefix("lexvale: error: ") in error and error.count("\n") == 1


@pytest.mark.parametrize(
    "args, message",
    [
        (["-i", "/nonexistent/words"], b"lexvale: error: cannot read /nonexistent/words: No such file or directory\n"),
        (["-i", "/"], b"lexvale: error: cannot read /: Is a directory\n"),
        (["-o", "/nonexistent/out"], b"lexvale: error: cannot write /nonexistent/out: No such file or directory\n"),
        (["-o", "/"], b"lexvale: error: cannot write /: Is a directory\n"),
        (["--text", "--stopwords", "/nonexistent/stop"],
         b"lexvale: error: cannot read /nonexistent/stop: No such file or directory\n"),
        # An empty name is no file, not "no stop words".
        (["--text", "--protected", ""], b"lexvale: error: cannot read '': No such file or directory\n"),
        (["-i", ""], b"lexvale: error: cannot read '': No such file or directory\n"),
        (["--text", "--stopwords", "latin1"], b"lexvale: error: latin1 is not UTF-8 text (byte 3)\n"),
        (["--text", "--overrides", "latin1"], b"lexvale: error: latin1 is not UTF-8 text (byte 3)\n"),
        (["--text", "--overrides", "/nonexistent/o"],
         b"lexvale: error: cannot read /nonexistent/o: No such file or directory\n"),
        (["--text", "--overrides", "three"],
         b"lexvale: error: three, line 2: an override is a word and its stem, not 'geese goose gander'\n"),
        (["--text", "--overrides", "twice"], b"lexvale: error: twice, line 3: 'geese' has the stem 'goose' already\n"),
        # Two spellings that preparation makes one word, with two stems.
        (["--text", "--overrides", "cased"],
         b"lexvale: error: overrides give 'geese' two stems: 'goose' for 'geese' and 'gander' for 'Geese'\n"),
    ],
)
def test_file_errors_exit_2_with_one_line(args, message, tmp_path):
    (tmp_path / "latin1").write_bytes("caf\xe9\n".encode("latin-1"))
    (tmp_path / "three").write_text("cats cat\ngeese goose gander\n", encoding="utf-8")
    (tmp_path / "twice").write_text("geese goose\n| the same word again\ngeese gander\n", encoding="utf-8")
    (tmp_path / "cased").write_text("geese goose\nGeese gander\n", encoding="utf-8")
    result = lexvale_command(*args, input=b"cats\n", cwd=tmp_path)
    assert (result.returncode, result.stderr) == (2, message)


def test_unknown_language_lists_the_algorithms():
    result = lexvale_command("-l", "klingon", input=b"")
    assert result.returncode == 2
    assert all(name.encode() in result.stderr for name in Davuzod.algorithms())


def test_a_file_that_fails_while_read_or_written(tmp_path):
    # Opening works, reading fails, for root too; a full device fails the writes,
    # on standard output as on a named file, and only one report is made.
    result = lexvale_command("-i", "/proc/self/mem")
    assert (result.returncode, result.stderr) == (2, b"lexvale: error: cannot read /proc/self/mem: Input/output error\n")
    if not os.path.exists("/dev/full"):
        return
    result = lexvale_command("-o", "/dev/full", input=b"cats\n" * 100000)
    assert (result.returncode, result.stderr) == (2, b"lexvale: error: cannot write /dev/full: No space left on device\n")
    for data in (b"cats\n", b"cats\n" * 100000):  # written at exit, and while running
        words = tmp_path / "words"
        words.write_bytes(data)
        result = with_redirections(">/dev/full", "-i", str(words))
        assert (result.returncode, result.stderr) == (
            2, b"lexvale: error: cannot write standard output: No space left on device\n")


def test_broken_pipe_exits_quietly():
    tool = lexvale_process(stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def feed():
        try:
            tool.stdin.write(b"running\n" * 2_000_000)
        except BrokenPipeError:
            pass
        try:
            tool.stdin.close()
        except BrokenPipeError:  # the flush on close meets the closed pipe too
            pass

    feeder = threading.Thread(target=feed)
    feeder.start()
    head = tool.stdout.readline()
    tool.stdout.close()  # as `| head -1` does
    stderr = tool.stderr.read()
    assert tool.wait(timeout=120) == 141
    feeder.join()
    tool.stderr.close()
    assert head == b"run\n"
    assert stderr == b""


def children_of(pid):
    found = []
    for path in Path(f"/proc/{pid}/task").glob("*/children"):
        try:
            found += path.read_text().split()
        except OSError:  # the thread ended meanwhile
            pass
    return [int(child) for child in found]


def running(pid):
    """Whether a process exists and has not ended (a zombie has ended: only its parent's wait is missing)."""
    try:
        state = Path(f"/proc/{pid}/stat").read_text().rpartition(")")[2].split()[0]
    except OSError:
        return False
    return state not in ("Z", "X")


def feed(pipe, data):
    with contextlib.suppress(BrokenPipeError):  # the tool stopped reading
        pipe.write(data)
        pipe.flush()


needs_proc = pytest.mark.skipif(not Path("/proc/self/task").is_dir(), reason="needs /proc to see the worker processes")


def started_with_workers(jobs, *args, **options):
    """The command with `jobs` workers, once they run and it has read its first line and waits for more."""
    tool = lexvale_process("-j", str(jobs), *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, **options)
    feed(tool.stdin, b"the cats were running\n")
    wait_for(lambda: len(children_of(tool.pid)) == jobs and unread_bytes(tool.stdin) == 0,
             "the workers to start and the first line to be read")
    return tool, children_of(tool.pid)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_interrupt_exits_130_without_a_traceback(jobs):
    tool = lexvale_process("--text", "-j", jobs, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
    feed(tool.stdin, b"the cats were running\n")
    wait_for(lambda: unread_bytes(tool.stdin) == 0, "the tool to read the line")  # then it waits for more
    tool.send_signal(signal.SIGINT)
    stdout, stderr = tool.communicate(timeout=60)
    assert tool.returncode == 130
    assert b"Traceback" not in stderr and b"KeyboardInterrupt" not in stderr


@needs_proc
@pytest.mark.parametrize("ending", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT])
def test_workers_end_with_the_command_that_a_signal_ends(ending):
    # Workers left behind would hold stdout open: the reader of a pipeline would never see its end.
    tool, workers = started_with_workers(4, "--text")
    tool.send_signal(ending)
    stdout, stderr = tool.communicate(timeout=60)
    assert (tool.returncode, stderr) == (128 + ending, b"")
    wait_for(lambda: not any(map(running, workers)), "the workers to end")


@needs_proc
def test_workers_end_when_the_command_is_killed_outright():
    tool, workers = started_with_workers(2, "--text")
    assert all(map(running, workers))
    tool.kill()
    assert tool.wait(timeout=60) == -signal.SIGKILL
    wait_for(lambda: not any(map(running, workers)), "the workers to end")
    tool.communicate(timeout=60)  # and so nothing holds the pipes open


@needs_proc
def test_a_killed_worker_is_one_line_and_exit_2():
    tool, workers = started_with_workers(2, "--text")
    os.kill(workers[0], signal.SIGKILL)
    wait_for(lambda: not running(workers[0]), "the worker to end")
    feed(tool.stdin, b"more cats\n" * 100_000)
    stdout, stderr = tool.communicate(timeout=60)
    assert (tool.returncode, stderr) == (2, b"lexvale: error: a worker process ended unexpectedly\n")
    wait_for(lambda: not running(workers[1]), "the other worker to end")


def test_the_command_run_in_a_threaded_program_leaves_its_later_workers_able_to_end(tmp_path):
    # In a program with other threads the command's workers come from the
    # default start method, the fork server, which the program's own pools
    # use afterwards: it must not keep the command's signal mask.
    program = """
import multiprocessing, sys, threading
import lexvale.cli._runner
from lexvale.cli import main

lexvale.cli._runner.PARALLEL_BYTES = 0  # workers for the small file too


def blocked(queue):
    with open("/proc/self/status") as status:
        mask = next(int(line.split()[1], 16) for line in status if line.startswith("SigBlk:"))
    queue.put(sorted(number for number in range(1, 65) if mask >> (number - 1) & 1))


if __name__ == "__main__":
    done = threading.Event()
    threading.Thread(target=done.wait).start()
    try:
        assert multiprocessing.get_start_method() == "forkserver"
        assert main(["-j", "2", "-i", sys.argv[1], "-o", sys.argv[2]]) == 0
        context = multiprocessing.get_context("forkserver")
        queue = context.Queue()
        worker = context.Process(target=blocked, args=(queue,))
        worker.start()
        print(queue.get(timeout=60))
        worker.join()
    finally:
        done.set()
"""
    (tmp_path / "program.py").write_text(program)
    words = tmp_path / "words"
    words.write_bytes(b"cats\nrunning\n" * 1000)
    run = subprocess.run([sys.executable, str(tmp_path / "program.py"), str(words), str(tmp_path / "out")],
                         capture_output=True, text=True, env=CHILD_ENV, timeout=120)
    assert (run.returncode, run.stdout) == (0, "[]\n"), run.stderr
    assert (tmp_path / "out").read_bytes() == b"cat\nrun\n" * 1000


def test_workers_that_cannot_start_are_one_line_and_exit_2(tmp_path):
    words = tmp_path / "words"
    words.write_bytes(b"cats\n" * 1000)
    out = tmp_path / "out"
    out.write_bytes(b"earlier\n")

    def few_files():
        resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))

    result = lexvale_command("-j", "40", "-o", str(out), preexec_fn=few_files, timeout=60, input=words.read_bytes())
    assert (result.returncode, result.stderr) == (
        2, b"lexvale: error: cannot start 40 worker processes: Too many open files\n")
    assert out.read_bytes() == b"earlier\n"


@needs_proc
@pytest.mark.parametrize("mode", [[], ["--text"]])
def test_interrupt_while_workers_start_reaches_only_the_tool(mode):
    # A terminal's Ctrl-C goes to the whole process group, workers included,
    # and often comes while they are still starting up.
    for delay in (0, 0.05, 0.1, 0.15, 0.2):
        tool = lexvale_process(*mode, "-j", "2", stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, start_new_session=True)
        # Enough chunks to start both workers, fed while they start; the pipe stays open.
        feeder = threading.Thread(target=feed, args=(tool.stdin, b"running cats\n" * 100_000))
        feeder.start()
        wait_for(lambda: children_of(tool.pid), "a worker to start")
        time.sleep(delay)  # at several points of the workers' start-up
        os.killpg(tool.pid, signal.SIGINT)
        try:
            # Not communicate(): its flush of stdin would wait for the feeder's write for ever.
            tool.wait(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(tool.pid, signal.SIGKILL)
            raise AssertionError(f"the command did not end after an interrupt {delay} s into its workers' start")
        feeder.join(timeout=60)
        stderr = tool.communicate(timeout=60)[1]
        assert (delay, tool.returncode, stderr) == (delay, 130, b"")


@pytest.mark.parametrize(
    "args, redirections",
    [
        (["-i", "f", "-o", "f"], ""),
        (["-i", "f", "-o", "link"], ""),
        (["-i", "link", "-o", "f"], ""),
        (["-o", "f"], "<f"),
        (["-i", "f"], ">>f"),
    ],
)
def test_input_and_output_that_are_one_file_are_refused(args, redirections, tmp_path):
    (tmp_path / "f").write_bytes(b"Cats\n")
    (tmp_path / "link").symlink_to("f")
    result = with_redirections(redirections, *args, cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.startswith(b"lexvale: error: cannot write ") and result.stderr.count(b"\n") == 1
    assert b"it is the input file" in result.stderr
    assert (tmp_path / "f").read_bytes() == b"Cats\n"


@pytest.mark.parametrize(
    "output, script",
    [
        # A file the shell opened, written before and after the command.
        ("/dev/stdout", '{ echo before; "$@"; echo after; } > out; cat out'),
        ("/proc/self/fd/1", '{ echo before; "$@"; echo after; } > out; cat out'),
        ("/proc/thread-self/fd/1", '{ echo before; "$@"; echo after; } > out; cat out'),
        ("/dev/stdout", '{ echo before; "$@"; echo after; } | cat'),
        ("/dev/stderr", '{ echo before; "$@" 2>&1; echo after; } > out; cat out'),
        ("/dev/fd/3", '{ echo before; "$@"; echo after; } > out 3>&1; cat out'),
    ],
)
def test_a_path_that_names_an_open_descriptor_writes_to_it(output, script, tmp_path):
    (tmp_path / "in").write_bytes(b"The cats\nrunning\n")
    run = subprocess.run(["sh", "-c", script, "sh", *LEXVALE, "--text", "-i", "in", "-o", output], cwd=tmp_path,
                         capture_output=True, env=CHILD_ENV, timeout=300)
    assert (run.stdout, run.stderr, run.returncode) == (b"before\nthe cat\nrun\nafter\n", b"", 0)
    assert temporaries(tmp_path) == []


@pytest.mark.parametrize(
    "output, error",
    [
        ("/dev/fd/9", "Bad file descriptor"),
        # Names the kernel never gives a descriptor: paths like any other, and none there.
        ("/dev/fd/01", "No such file or directory"),
        ("/dev/fd/\u00b2", "No such file or directory"),
        ("/dev/fd/99999999999999999999", "No such file or directory"),
    ],
)
def test_a_descriptor_that_is_not_open_is_one_line_and_exit_2(output, error):
    run = lexvale_command("--text", "-o", output, input=b"cats\n")
    assert (run.returncode, run.stderr.decode(), run.stdout) == (2, f"lexvale: error: cannot write {output}: {error}\n",
                                                                 b"")


def temporaries(directory):
    return [path.name for path in directory.iterdir() if path.name.startswith(".")]


@pytest.mark.parametrize("ending", [signal.SIGINT, signal.SIGTERM])
@pytest.mark.parametrize("jobs", ["1", "4"])
def test_an_interrupted_run_leaves_the_earlier_output_file_as_it_was(ending, jobs, tmp_path):
    out = tmp_path / "out"
    out.write_bytes(b"earlier\n")
    tool = lexvale_process("--text", "-j", jobs, "-o", str(out), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
    feed(tool.stdin, b"the cats were running\n" * 50_000)  # more than a chunk: some of it is written
    wait_for(lambda: unread_bytes(tool.stdin) == 0, "the tool to read its input")
    assert out.read_bytes() == b"earlier\n"
    tool.send_signal(ending)
    assert tool.communicate(timeout=60)[1] == b"" and tool.returncode == 128 + ending
    assert out.read_bytes() == b"earlier\n"
    assert temporaries(tmp_path) == []


def test_a_failed_run_leaves_the_earlier_output_file_as_it_was(tmp_path):
    out = tmp_path / "out"
    out.write_bytes(b"earlier\n")
    result = lexvale_command("-i", "/proc/self/mem", "-o", str(out))
    assert result.returncode == 2
    assert out.read_bytes() == b"earlier\n"
    assert temporaries(tmp_path) == []


def test_the_output_file_keeps_its_permissions_and_a_new_one_follows_the_umask(tmp_path):
    out = tmp_path / "out"
    out.write_bytes(b"earlier\n")
    out.chmod(0o604)
    link = tmp_path / "link"
    link.symlink_to("out")
    assert lexvale_command("-o", str(link), input=b"Cats\n").returncode == 0
    assert link.is_symlink() and out.read_bytes() == b"cat\n"
    assert stat.S_IMODE(out.stat().st_mode) == 0o604
    new = tmp_path / "new"
    result = lexvale_command("-o", str(new), input=b"Cats\n", preexec_fn=lambda: os.umask(0o027))
    assert result.returncode == 0 and new.read_bytes() == b"cat\n"
    assert stat.S_IMODE(new.stat().st_mode) == 0o640
    assert temporaries(tmp_path) == []


@pytest.mark.parametrize("redirections", ["<&-", ">&-", "2>&-", "<&- >&- 2>&-"])
def test_closed_standard_streams_that_are_not_used_change_nothing(redirections, tmp_path):
    words = tmp_path / "words"
    words.write_bytes(b"Cats\nrunning\n")
    result = with_redirections(redirections, "-i", str(words), "-o", str(tmp_path / "out"))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    assert (tmp_path / "out").read_bytes() == b"cat\nrun\n"


@pytest.mark.parametrize(
    "args, redirections, message",
    [
        (["-o", "out"], "<&-", b"lexvale: error: cannot read standard input: it is closed\n"),
        (["-i", "words"], ">&-", b"lexvale: error: cannot write standard output: it is closed\n"),
        (["--list"], ">&-", b"lexvale: error: cannot write standard output: it is closed\n"),
    ],
)
def test_a_closed_standard_stream_that_is_needed_is_an_error(args, redirections, message, tmp_path):
    (tmp_path / "words").write_bytes(b"Cats\n")
    result = with_redirections(redirections, *args, cwd=tmp_path)
    assert (result.returncode, result.stderr) == (2, message)


@pytest.mark.parametrize(
    "args, status, output",
    [
        (["-i", "words"], 0, b"cat\n"),
        (["-i", "words", "--text"], 0, b"cat\n"),
        (["-i", "/nonexistent/words"], 2, b""),
        (["-i", "words", "-l", "klingon"], 2, b""),
        (["--text", "-i", "invalid"], 0, b"x\n"),  # with a warning of the line that is not UTF-8
    ],
)
def test_with_stderr_closed_messages_never_go_into_the_data(args, status, output, tmp_path):
    (tmp_path / "words").write_bytes(b"Cats\n")
    (tmp_path / "invalid").write_bytes(b"x\xff\n")
    result = with_redirections("2>&-", *args, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (status, output)


def run_in_terminal(args, status=0, **options):
    """Runs the tool with stderr on a pseudo-terminal; returns what the terminal showed."""
    controller, terminal = pty.openpty()
    tool = lexvale_process(*args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=terminal, **options)
    os.close(terminal)
    shown = b""
    while True:
        try:
            block = os.read(controller, 65536)
        except OSError:  # the tool closed the terminal's last open end
            break
        if not block:
            break
        shown += block
    os.close(controller)
    assert tool.wait(timeout=120) == status
    return shown


def test_progress_bar_on_a_terminal_for_a_file(tmp_path):
    words = tmp_path / "words"
    words.write_bytes(sample("american-english", 100000) * 3)
    shown = run_in_terminal(["-i", str(words), "-o", str(tmp_path / "out")])
    assert b"100%" in shown and b"words/s" in shown
    size = words.stat().st_size / 2**20
    assert f"of {size:.1f} MiB".encode() in shown
    assert shown.endswith(b"\r\x1b[K")  # the line is cleared at the end


def test_progress_bar_is_cleared_before_an_error(tmp_path):
    # The output file outgrows the size limit partway: the error comes after the bar has been drawn.
    words = tmp_path / "words"
    words.write_bytes(sample("american-english", 100000) * 3)

    def small_files():
        resource.setrlimit(resource.RLIMIT_FSIZE, (200_000, resource.RLIM_INFINITY))

    shown = run_in_terminal(["-i", str(words), "-o", str(tmp_path / "out")], status=2, preexec_fn=small_files)
    assert b"words/s" in shown
    assert shown.endswith(b"\r\x1b[Klexvale: error: cannot write " + str(tmp_path / "out").encode()
                          + b": File too large\r\n")


def test_no_progress_bar_when_input_is_standard_input_or_stderr_is_not_a_terminal(tmp_path):
    words = tmp_path / "words"
    words.write_bytes(b"cats\n" * 1000)
    assert lexvale_command("-i", str(words)).stderr == b""
    assert run_in_terminal(["-o", str(tmp_path / "out")]) == b""


def console_script_entry_point():
    """The `lexvale` script's entry point: as installed, or as the project declares it."""
    try:
        found = importlib.metadata.entry_points(group="console_scripts", name="lexvale")
    except importlib.metadata.PackageNotFoundError:
        found = ()
    for entry_point in found:
        return entry_point.value
    with open(ROOT / "pyproject.toml", "rb") as project:
        return tomllib.load(project)["project"]["scripts"]["lexvale"]


def console_script_commands():
    """The script itself where it is installed beside this interpreter, and what the installer writes into it."""
    module, _, function = console_script_entry_point().partition(":")
    wrapper = f"import sys; from {module} import {function}; sys.exit({function}())"
    commands = [[sys.executable, "-c", wrapper]]
    installed = Path(sys.executable).with_name("lexvale")
    if installed.is_file():
        commands.append([str(installed)])
    return commands


@pytest.mark.parametrize(
    "args, data",
    [
        (["-l", "de"], "Häuser\nSTRASSE\n".encode()),
        (["-p"], b"Cats\nx\xffcats\n"),
        (["--text", "-j", "2"], b"The cats were running.\n"),
        (["-l", "klingon"], b"cats\n"),
        (["--version"], b""),
    ],
)
def test_console_script_and_module_are_the_same_tool(args, data):
    module = lexvale_command(*args, input=data)
    assert module.returncode in (0, 2) and (module.stdout or module.stderr)
    for command in console_script_commands():
        script = subprocess.run([*command, *args], input=data, capture_output=True, env=CHILD_ENV, timeout=300)
        assert (script.returncode, script.stdout, script.stderr) == (module.returncode, module.stdout, module.stderr)


@pytest.mark.parametrize(
    "args, text, expected",
    [
        (["--stopwords", "snowball"], "The cats of the world\n", "cat world\n"),
        (["-l", "de", "--stopwords", "snowball"], "Die Katzen und der Hund\n", "katz hund\n"),
    ],
)
def test_snowballs_stop_list_from_the_command_line(args, text, expected, capsys, monkeypatch):
    import io

    monkeypatch.setattr("sys.stdin", io.TextIOWrapper(io.BytesIO(text.encode())))
    assert main(["--text", *args]) == 0
    assert capsys.readouterr().out == expected


def test_word_files_are_read_in_snowballs_format(tmp_path, capsys, monkeypatch):
    import io

    stop = tmp_path / "stop.txt"
    stop.write_text("the | definite article\na an |indefinite\n| cats commented out\n", encoding="utf-8")
    monkeypatch.setattr("sys.stdin", io.TextIOWrapper(io.BytesIO(b"The cats an apple\n")))
    assert main(["--text", "--stopwords", str(stop)]) == 0
    assert capsys.readouterr().out == "cat appl\n"


def test_a_language_without_a_stop_list_is_one_line(capsys):
    assert main(["--text", "-l", "el", "--stopwords", "snowball", "-i", "/dev/null"]) == 2
    assert capsys.readouterr().err.strip().endswith("these have one: danish, dutch, dutch_porter, english, finnish, "
                                                     "french, german, hungarian, indonesian, irish, italian, norwegian, "
                                                     "porter, portuguese, russian, sesotho, spanish, swedish")


def test_several_files_come_out_in_turn_as_one_output(tmp_path):
    first, second = tmp_path / "first", tmp_path / "second"
    first.write_bytes(b"Running cats\nlast line, no newline")
    second.write_bytes("caf\xe9s\n".encode("latin-1") + b"ponies\n")
    out = tmp_path / "out"
    result = lexvale_command("--text", str(first), "-", str(second), "-o", str(out), input=b"geese\n")
    assert out.read_bytes() == b"run cat\nlast line no newlin\ngees\ncaf s\nponi\n"
    # A file that is not UTF-8 is named in its warning; the line counts are the file's own.
    assert result.stderr == (b"lexvale: warning: " + str(second).encode() + b": 1 line(s) not valid UTF-8, read with"
                             b" U+FFFD for the bad bytes (line 1 first); give the input's encoding with --encoding\n")
    # Word lists too, as stemwords would give the files one after the other.
    words = [tmp_path / name for name in ("a", "b")]
    words[0].write_bytes(b"connections\nponies\n")
    words[1].write_bytes(b"running")
    assert lexvale_command(*map(str, words)).stdout == b"connect\nponi\nrun\n"


def test_a_missing_file_among_several_fails_before_anything_is_written(tmp_path):
    present = tmp_path / "present"
    present.write_bytes(b"cats\n")
    out = tmp_path / "out"
    out.write_bytes(b"earlier\n")
    result = lexvale_command(str(present), str(tmp_path / "missing"), "-o", str(out))
    assert (result.returncode, result.stderr) == (
        2, f"lexvale: error: cannot read {tmp_path / 'missing'}: No such file or directory\n".encode())
    assert out.read_bytes() == b"earlier\n"
    result = lexvale_command(str(present), str(out), "-o", str(out))
    assert result.stderr == f"lexvale: error: cannot write {out}: it is the input file, {out}\n".encode()


@pytest.mark.parametrize("options", [[], ["--keep-original", "--stopwords", "snowball"], ["-l", "de", "-j", "2"]])
def test_tokens_are_json_lines_of_each_lines_tokens(options, tmp_path, monkeypatch):
    import json

    small_chunks(monkeypatch, 64)  # a long line is taken whole: offsets and positions count from its start
    text = ("Running late, the cats!\n\nO’Brien’s café " + "sat " * 40 + "ﬁnally\nİstanbul\n").encode()
    source, out = tmp_path / "text", tmp_path / "out"
    source.write_bytes(text)
    assert main(["--text", "--tokens", *options, "-i", str(source), "-o", str(out)]) == 0
    settings = {"keep_original": "--keep-original" in options, "stopwords": "snowball" if "--stopwords" in options
                else ()}
    analyzer = lexvale.Analyzer("de" if "de" in options else "en", **settings)
    lines = text.decode().split("\n")[:-1]
    written = [json.loads(line) for line in out.read_text(encoding="utf-8").split("\n")[:-1]]
    assert written == [[token._asdict() for token in analyzer.tokens(line)] for line in lines]
    assert written[1] == [] and len(written) == 4
    assert {"stem", "start", "end", "word", "position"} == set(written[0][0])


@pytest.mark.parametrize(
    "requested, size, regular, expected",
    [
        (2, 100, True, 1),  # a small file: one process
        (4, 8 << 20, True, 4),  # from the threshold on, the workers asked for
        (2, 0, False, 2),  # a pipe has no size to go by
        (1, 1 << 30, True, 1),
    ],
)
def test_small_files_run_in_one_process_whatever_jobs_says(requested, size, regular, expected, tmp_path):
    from lexvale.cli._runner import PARALLEL_BYTES, jobs_for

    assert PARALLEL_BYTES == 8 << 20
    path = tmp_path / "input"
    if regular:
        with open(path, "wb") as file:
            file.truncate(size)
    else:
        os.mkfifo(path)
    assert jobs_for(requested, os.stat(path)) == expected


def test_a_small_file_starts_no_worker(tmp_path, monkeypatch):
    def refuse(job, jobs):
        raise AssertionError(f"{jobs} workers started for a small file")

    monkeypatch.setattr("lexvale.cli._runner._start_pool", refuse)
    words = tmp_path / "words"
    words.write_bytes(b"cats\n" * 1000)
    out = tmp_path / "out"
    assert main(["-j", "4", "-i", str(words), "-o", str(out)]) == 0
    assert out.read_bytes() == b"cat\n" * 1000

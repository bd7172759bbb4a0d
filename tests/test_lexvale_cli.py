"""The lexvale command: stemwords' output byte for byte, the text mode, jobs, errors and the progress bar."""

import contextlib
import os
import pty
import random
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import Davuzod
import lexvale
from lexvale.cli import _chunks, main

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


def lexvale_command(*args, **options):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run([sys.executable, "-m", "lexvale", *args], capture_output=True, env=env, timeout=300,
                          **options)


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
    result = lexvale_command("-l", language, *pairs, "-i", str(words))
    assert result.returncode == 0, result.stderr
    assert result.stdout == expected


@pytest.mark.parametrize("case", ODD_INPUTS)
def test_odd_files_come_out_as_stemwords_writes_them(case, tmp_path):
    data = ODD_INPUTS[case]
    path = tmp_path / "words"
    path.write_bytes(data)
    for pairs in ([], ["-p"]):
        expected = stemwords_command("-l", "english", *pairs, "-i", str(path)).stdout
        assert lexvale_command(*pairs, "-i", str(path)).stdout == expected
        assert lexvale_command(*pairs, input=data).stdout == expected  # from standard input too


def test_bytes_that_are_not_utf8_are_stemmed_as_libstemmer_stems_them():
    # Latin-1 Swedish: libstemmer still strips the suffix; no warning, as stemwords gives none.
    result = lexvale_command("-l", "sv", input=b"cats\nsj\xe4lvklarheterna\n")
    assert (result.stdout, result.stderr) == (b"cat\nsj\xe4lvklar\n", b"")


def test_text_lines_that_are_not_utf8_are_read_with_replacement_and_reported():
    result = lexvale_command("--text", input=b"cats\nx\xffcats dogs\n")
    assert result.stdout == b"cat\nx cat dog\n"
    assert result.stderr == (b"lexvale: warning: 1 line(s) not valid UTF-8, read with U+FFFD for the bad bytes"
                             b" (line 2 first)\n")


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


@pytest.mark.parametrize("mode", [[], ["--text"]])
def test_jobs_give_the_output_of_one_process_in_order(mode, tmp_path, monkeypatch):
    monkeypatch.setattr("lexvale.cli.CHUNK_BYTES", 4096)  # many chunks through a small window
    words = tmp_path / "words"
    data = sample("american-english", 20000)
    words.write_bytes(data + b"last line, no newline")
    one, two = tmp_path / "one", tmp_path / "two"
    assert main([*mode, "-i", str(words), "-o", str(one)]) == 0
    assert main([*mode, "-j", "3", "-i", str(words), "-o", str(two), "--cache", "50"]) == 0
    assert one.read_bytes() == two.read_bytes()
    assert one.read_bytes().count(b"\n") == data.count(b"\n") + 1
    # The command itself runs no other thread, so its workers are forked from it.
    result = lexvale_command(*mode, "-j", "2", "-i", str(words))
    assert result.returncode == 0, result.stderr
    assert result.stdout == one.read_bytes()


class CountedBlock(bytes):
    """A block as read from a file, tallying the bytes copied whenever it is joined to others."""

    copied = 0

    def __add__(self, other):
        CountedBlock.copied += len(self) + len(other)
        return bytes(self) + bytes(other)

    def __radd__(self, other):
        CountedBlock.copied += len(other) + len(self)
        return bytes(other) + bytes(self)


class BlockSource:
    def __init__(self, data):
        self.data, self.offset = data, 0

    def read1(self, size):
        block = self.data[self.offset : self.offset + size]
        self.offset += len(block)
        return CountedBlock(block)


def test_a_line_longer_than_a_chunk_is_read_in_linear_time(monkeypatch):
    # One word of 8 MiB (a file with no newline at all, say) in blocks of 4 KiB:
    # each byte must be copied a bounded number of times, not once per block.
    monkeypatch.setattr("lexvale.cli.CHUNK_BYTES", 4096)
    monkeypatch.setattr(CountedBlock, "copied", 0)
    long_line = b"x" * (8 << 20)
    data = long_line + b"\nshort\n" + long_line
    chunks = list(_chunks(BlockSource(data), "the source"))
    assert b"\n".join(chunks) == data and long_line in chunks  # whole lines, the last one unended
    assert CountedBlock.copied <= 3 * 2 * len(long_line)


def test_list_shows_each_algorithm_with_its_codes(capsys):
    assert main(["--list"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert [line.split()[0] for line in lines] == Davuzod.algorithms()
    assert "english  en eng" in [" ".join(line.split()[:1]) + "  " + " ".join(line.split()[1:]) for line in lines]
    assert any(line.split() == ["porter"] for line in lines)


def test_version(capsys):
    assert main(["--version"]) == 0
    assert capsys.readouterr().out == f"lexvale {Davuzod.version()} (Davuzod {Davuzod.version()})\n"


@pytest.mark.parametrize(
    "args, message",
    [
        (["-l", "englsh"], b"did you mean 'english'?"),
        (["-i", "/nonexistent/words"], b"lexvale: error: cannot read /nonexistent/words: No such file or directory"),
        (["-i", "/"], b"lexvale: error: cannot read /: Is a directory"),
        (["-o", "/nonexistent/out"], b"lexvale: error: cannot write /nonexistent/out"),
        (["--stopwords", "x"], b"--stopwords works with --text only"),
        (["--text", "--stopwords", "/nonexistent/stop"], b"cannot read /nonexistent/stop"),
        (["--text", "-p"], b"-p works on word lists"),
        (["-j", "0"], b"--jobs must be at least 1"),
        (["--cache", "many"], b"invalid int value"),
        # Beyond the stemmers' 32-bit bound: refused before any word is read, workers or not.
        (["--cache", "3000000000"], b"lexvale: error: --cache must be between -2147483648 and 2147483647"),
        (["--text", "--cache", "-2147483649"], b"--cache must be between"),
        (["-j", "2", "--cache", "2147483648"], b"--cache must be between"),
    ],
)
def test_user_errors_exit_2_with_one_line_and_no_traceback(args, message):
    result = lexvale_command(*args, input=b"cats\n")
    assert result.returncode == 2
    assert message in result.stderr
    assert b"Traceback" not in result.stderr
    if b"invalid int value" not in message:  # argparse's usage line comes first there
        assert result.stderr.count(b"\n") == 1


def test_unknown_language_lists_the_algorithms():
    result = lexvale_command("-l", "klingon", input=b"")
    assert result.returncode == 2
    assert all(name.encode() in result.stderr for name in Davuzod.algorithms())


def test_a_file_that_fails_while_read_or_written():
    # Opening works, reading fails, for root too; a full device fails the writes.
    result = lexvale_command("-i", "/proc/self/mem")
    assert (result.returncode, result.stderr) == (2, b"lexvale: error: cannot read /proc/self/mem: Input/output error\n")
    if os.path.exists("/dev/full"):
        result = lexvale_command("-o", "/dev/full", input=b"cats\n" * 100000)
        assert (result.returncode, result.stderr) == (2, b"lexvale: error: cannot write /dev/full: No space left on device\n")


def test_broken_pipe_exits_quietly():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    tool = subprocess.Popen([sys.executable, "-m", "lexvale"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)

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


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_interrupt_exits_130_without_a_traceback(jobs):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    tool = subprocess.Popen([sys.executable, "-m", "lexvale", "--text", "-j", jobs], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    tool.stdin.write(b"the cats were running\n")
    tool.stdin.flush()
    time.sleep(1.5)  # the tool is reading, waiting for more input
    tool.send_signal(signal.SIGINT)
    stdout, stderr = tool.communicate(timeout=60)
    assert tool.returncode == 130
    assert b"Traceback" not in stderr and b"KeyboardInterrupt" not in stderr


def children_of(pid):
    found = []
    for path in Path(f"/proc/{pid}/task").glob("*/children"):
        try:
            found += path.read_text().split()
        except OSError:  # the thread ended meanwhile
            pass
    return found


def feed(pipe, data):
    with contextlib.suppress(BrokenPipeError):  # the tool stopped reading
        pipe.write(data)
        pipe.flush()


@pytest.mark.skipif(not Path("/proc/self/task").is_dir(), reason="needs /proc to see the worker processes start")
@pytest.mark.parametrize("mode", [[], ["--text"]])
def test_interrupt_while_workers_start_reaches_only_the_tool(mode):
    # A terminal's Ctrl-C goes to the whole process group, workers included,
    # and often comes while they are still starting up.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    for delay in (0, 0.05, 0.1, 0.15, 0.2):
        tool = subprocess.Popen([sys.executable, "-m", "lexvale", *mode, "-j", "2"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env, start_new_session=True)
        # Enough chunks to start both workers, fed while they start; the pipe stays open.
        feeder = threading.Thread(target=feed, args=(tool.stdin, b"running cats\n" * 100_000))
        feeder.start()
        deadline = time.monotonic() + 60
        while not children_of(tool.pid) and time.monotonic() < deadline:
            time.sleep(0.001)
        time.sleep(delay)
        os.killpg(tool.pid, signal.SIGINT)
        feeder.join(timeout=60)
        stderr = tool.communicate(timeout=60)[1]
        assert (delay, tool.returncode, stderr) == (delay, 130, b"")


def run_in_terminal(args, tmp_path):
    """Runs the tool with stderr on a pseudo-terminal; returns what the terminal showed."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    controller, terminal = pty.openpty()
    tool = subprocess.Popen([sys.executable, "-m", "lexvale", *args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=terminal, env=env)
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
    assert tool.wait(timeout=120) == 0
    return shown


def test_progress_bar_on_a_terminal_for_a_file(tmp_path, monkeypatch):
    words = tmp_path / "words"
    words.write_bytes(sample("american-english", 100000) * 3)
    shown = run_in_terminal(["-i", str(words), "-o", str(tmp_path / "out")], tmp_path)
    assert b"100%" in shown and b"words/s" in shown
    size = words.stat().st_size / 2**20
    assert f"of {size:.1f} MiB".encode() in shown
    assert shown.endswith(b"\r\x1b[K")  # the line is cleared at the end


def test_no_progress_bar_when_input_is_standard_input_or_stderr_is_not_a_terminal(tmp_path):
    words = tmp_path / "words"
    words.write_bytes(b"cats\n" * 1000)
    assert lexvale_command("-i", str(words)).stderr == b""
    assert run_in_terminal(["-o", str(tmp_path / "out")], tmp_path) == b""


def test_console_script_and_module_are_the_same_tool():
    result = lexvale_command("-l", "de", input=b"H\xc3\xa4user\n")
    assert result.stdout == b"haus\n"

"""``lexvale``: stem word lists and running text from the shell.

Word-list mode (the default) reads one word per line and writes one stem per
line, byte for byte as libstemmer's ``stemwords -l LANGUAGE`` does (see
``lexvale.cli._wordlist``). ``--text`` reads running text and writes, for each
line, the stems of its words through ``lexvale.Analyzer``.

Exit status: 0 on success, 2 for the user's errors (arguments, files, streams,
workers that could not start or died), 130 on Ctrl-C, 128 + the signal's
number on SIGTERM or SIGHUP, 141 when the reader of the output goes away.
"""

from __future__ import annotations

import contextlib
import os
import signal
import sys
import threading

from ._chunks import read_chunks
from ._options import job_of, parse
from ._output import sink
from ._runner import chunk_bytes_for, jobs_for, results
from ._streams import hold_closed_descriptors, let_stdout_go, report
from ._work import CommandError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable, Iterator, Sequence
    from types import FrameType
    from typing import BinaryIO

    from ._options import Options
    from ._output import Sink
    from ._progress import Progress
    from ._work import Done

__all__ = ["main"]

EXIT_USAGE = 2
EXIT_BROKEN_PIPE = 141
SIGNAL_EXIT_BASE = 128


class Ended(BaseException):
    """A signal that ends the command arrived; raised where the main thread was, so that cleanup runs."""

    def __init__(self, signo: int) -> None:
        super().__init__(signo)
        self.signo = signo


def main(argv: Sequence[str] | None = None) -> int:
    """Run the tool with `argv` (default: the command line); returns the exit status."""
    hold_closed_descriptors()
    try:
        options = parse(argv)
    except SystemExit as exit_:
        return exit_.code if isinstance(exit_.code, int) else (0 if exit_.code is None else EXIT_USAGE)
    stdout_failed = False
    try:
        with _ending_signals_raised():
            try:
                _run(options)
            finally:
                stdout_failed = _flush_stdout()
    except CommandError as error:
        report(f"error: {error}")
        status = EXIT_USAGE
    except KeyboardInterrupt:
        status = SIGNAL_EXIT_BASE + signal.SIGINT
    except Ended as ended:
        status = SIGNAL_EXIT_BASE + ended.signo
    except BrokenPipeError:
        stdout_failed = True
        status = EXIT_BROKEN_PIPE
    else:
        status = 0
    if stdout_failed:
        let_stdout_go()
    return status


def _flush_stdout() -> bool:
    """Flushes what the interpreter would flush at exit; whether stdout failed (its error already raised)."""
    if sys.stdout is None:
        return False
    try:
        sys.stdout.flush()
    except (OSError, ValueError):
        return True
    return False


@contextlib.contextmanager
def _ending_signals_raised() -> Iterator[None]:
    """SIGTERM and SIGHUP raise Ended in the main thread, as SIGINT raises KeyboardInterrupt.

    A signal the command was started with ignored (``nohup``) stays ignored.
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def raise_ended(signo: int, frame: FrameType | None) -> None:
        raise Ended(signo)

    previous = {}
    for ending in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(ending) is not signal.SIG_IGN:
            previous[ending] = signal.signal(ending, raise_ended)
    try:
        yield
    finally:
        for ending, handler in previous.items():
            signal.signal(ending, handler)


def _run(options: Options) -> None:
    if options.listing:
        if sys.stdout is None:
            raise CommandError("cannot write standard output: it is closed")
        try:
            sys.stdout.write(_listing())
        except BrokenPipeError:
            raise
        except OSError as error:
            raise CommandError(f"cannot write standard output: {error.strerror}") from None
        return
    job = job_of(options)
    with contextlib.ExitStack() as opened:
        # Every input is opened before anything is written: a missing file fails the run at once.
        inputs = []
        for path in options.inputs:
            source = _open_input(path)
            if path is not None:  # standard input stays open for the interpreter
                opened.enter_context(source)
            inputs.append((source, _stat(source), path or "standard input"))
        out = opened.enter_context(sink(options.output, [(status, name) for _, status, name in inputs]))
        progress = None
        if all(path is not None for path in options.inputs) and all(status is not None for _, status, _ in inputs) \
                and sys.stderr is not None and sys.stderr.isatty():
            from ._progress import Progress

            total = sum(status.st_size for _, status, _ in inputs if status is not None)
            progress = opened.enter_context(_closing_progress(Progress(sys.stderr, total)))
        # A text line longer than a chunk is cut at blanks, which part no word;
        # they would part n-grams and a line's tokens, so with them the line comes whole.
        cut = job.analyzer is not None and job.analyzer.ngram_range == (1, 1) and not job.tokens
        for source, status, name in inputs:
            jobs = jobs_for(options.jobs, status)
            chunks = read_chunks(source, name, cut_at_blanks=cut, chunk_bytes=chunk_bytes_for(jobs))
            # Closed at once on any error, which stops the workers before the output is given up.
            with contextlib.closing(results(job, chunks, jobs)) as done_chunks:
                first_bad, bad_count = _write(done_chunks, out, progress)
            if bad_count:
                encoding = "UTF-8" if options.encoding == "utf-8" else options.encoding  # as the user wrote it
                hint = "; give the input's encoding with --encoding" if options.encoding == "utf-8" else ""
                where = f"{name}: " if len(inputs) > 1 else ""
                report(f"warning: {where}{bad_count} line(s) not valid {encoding}, read with U+FFFD for the bad bytes"
                       f" (line {first_bad} first){hint}")


def _write(done_chunks: Iterable[Done], out: Sink, progress: Progress | None) -> tuple[int, int]:
    """Writes the results in order; the first line that was not UTF-8 and how many were not."""
    lines_before = 0
    first_bad = bad_count = 0
    last_bad = 0
    open_line_has_stems = False  # the last line written goes on in the next chunk, and gave stems
    for done in done_chunks:
        if done.continues and open_line_has_stems and done.first_has_stems:
            out.write(b" ")
        for part in done.parts:
            out.write(part)
        for index in done.bad_lines:
            line = lines_before + index + 1
            if line != last_bad:  # a line cut into pieces is counted once
                first_bad = first_bad or line
                bad_count += 1
                last_bad = line
        lines_before += done.lines
        if not done.ends:
            open_line_has_stems = (done.continues and open_line_has_stems) or done.last_has_stems
        if progress is not None:
            progress.advance(done.size, done.words)
    return first_bad, bad_count


@contextlib.contextmanager
def _closing_progress(progress: Progress) -> Iterator[Progress]:
    # Closed however the run ends, so that a message starts on a clean line.
    try:
        yield progress
    finally:
        progress.close()


def _open_input(path: str | None) -> BinaryIO:
    if path is None:
        if sys.stdin is None:
            raise CommandError("cannot read standard input: it is closed")
        return sys.stdin.buffer
    try:
        return open(path, "rb")
    except OSError as error:  # a directory too: open() raises IsADirectoryError
        raise CommandError(f"cannot read {path or repr(path)}: {error.strerror}") from None


def _stat(stream: BinaryIO) -> os.stat_result | None:
    try:
        return os.fstat(stream.fileno())
    except (OSError, ValueError):  # not a file (a test's stream)
        return None


def _listing() -> str:
    from ..languages import algorithms, iso_codes

    codes = iso_codes()
    width = max(map(len, algorithms()))
    return "".join(f"{name:<{width}}  {' '.join(codes[name])}".rstrip() + "\n" for name in algorithms())

"""``lexvale``: stem word lists and running text from the shell.

Word-list mode (the default) reads one word per line and writes one stem per
line, byte for byte as libstemmer's ``stemwords -l LANGUAGE`` does: each line
is taken whole (spaces, tabs and a carriage return included), only the ASCII
letters A-Z are lower-cased, a last line without a newline still gets one, and
a stem is written up to its first NUL byte. ``--text`` reads running text and
writes, for each line, the stems of its words through ``lexvale.Analyzer``.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import signal
import sys
from collections import deque
from dataclasses import dataclass

import Davuzod

from .languages import algorithms, iso_codes, resolve
from .stemmers import cache_size_error, stemmer

# Only the type checker reads these: the word-list path starts without typing,
# the analyzer and the language tables (see _job and _listing).
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterator
    import multiprocessing.context
    from concurrent.futures import Future
    from typing import IO

    from .analyzer import Analyzer

__all__ = ["main"]

# Chunks of this size keep the stems of one chunk in memory the previous chunk
# freed; much larger ones spend more time taking fresh memory than stemming.
CHUNK_BYTES = 1 << 16
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130
EXIT_BROKEN_PIPE = 141


class UsageError(Exception):
    """A mistake of the user's, reported in one line with exit status 2."""


@dataclass(frozen=True, slots=True)
class Job:
    """What every chunk is done with; small and picklable, sent once to each worker."""

    language: str
    cache_size: int
    pairs: bool
    analyzer: Analyzer | None


@dataclass(frozen=True, slots=True)
class Done:
    output: bytes
    words: int
    bad_lines: tuple[int, ...]  # indexes, within the chunk, of text lines that are not UTF-8


def _stem_word_list(job: Job, chunk: bytes) -> Done:
    lowered = chunk.lower()  # bytes.lower: ASCII letters only, as stemwords does
    stem_words = stemmer(job.language, job.cache_size).stemWords
    try:
        text = lowered.decode("utf-8")
    except UnicodeDecodeError:
        return _stem_byte_lines(job, lowered.split(b"\n"))
    # Text words take Davuzod's faster path; the output is the same bytes.
    lines = text.split("\n")
    stems = stem_words(lines)
    if "\0" in text:
        stems = [stem.partition("\0")[0] for stem in stems]  # stemwords writes stems as C strings
    if job.pairs:
        output = "".join([f"{word} -> {stem}\n" for word, stem in zip(lines, stems)])
    else:
        stems.append("")
        output = "\n".join(stems)
    return Done(output.encode("utf-8"), len(lines), ())


def _stem_byte_lines(job: Job, lines: list[bytes]) -> Done:
    stem_words = stemmer(job.language, job.cache_size).stemWords
    stems: list[bytes] = []
    for line in lines:
        try:
            stems.append(stem_words([line])[0])
        except UnicodeDecodeError as error:
            # libstemmer stems bytes that are not UTF-8 too (stemwords writes
            # what it gives); Davuzod then fails to decode the stem, and the
            # error holds the stem's bytes, which are what stemwords writes.
            stems.append(error.object)
    stems = [stem.partition(b"\0")[0] for stem in stems]  # stemwords writes stems as C strings
    if job.pairs:
        output = b"".join([word + b" -> " + stem + b"\n" for word, stem in zip(lines, stems)])
    else:
        output = b"\n".join(stems) + b"\n"
    return Done(output, len(lines), ())


def _stem_text(job: Job, chunk: bytes) -> Done:
    assert job.analyzer is not None
    analyzer = job.analyzer
    bad: list[int] = []
    try:
        lines = chunk.decode("utf-8").split("\n")
    except UnicodeDecodeError:
        lines = []
        for index, raw in enumerate(chunk.split(b"\n")):
            try:
                lines.append(raw.decode("utf-8"))
            except UnicodeDecodeError:
                lines.append(raw.decode("utf-8", "replace"))  # U+FFFD is no letter: words part there
                bad.append(index)
    out = []
    words = 0
    for line in lines:
        stems = analyzer(line)
        words += len(stems)
        out.append(" ".join(stems))
    out.append("")
    return Done("\n".join(out).encode("utf-8"), words, tuple(bad))


def _work(job: Job, chunk: bytes) -> Done:
    return _stem_text(job, chunk) if job.analyzer is not None else _stem_word_list(job, chunk)


_worker_job: Job | None = None


def _start_worker(job: Job) -> None:
    global _worker_job
    _worker_job = job
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the parent reports an interrupt, once


def _work_in_worker(chunk: bytes) -> Done:
    assert _worker_job is not None
    return _work(_worker_job, chunk)


def _chunks(source: IO[bytes], name: str) -> Iterator[bytes]:
    """Whole lines, about CHUNK_BYTES at a time, without their final newline."""
    # The start of a line that earlier blocks did not end, in pieces: joined once
    # the line ends, so that a line of many blocks is not copied once per block.
    begun: list[bytes] = []
    while True:
        try:
            block = source.read1(CHUNK_BYTES) if hasattr(source, "read1") else source.read(CHUNK_BYTES)
        except OSError as error:
            raise UsageError(f"cannot read {name}: {error.strerror}") from None
        if not block:
            break
        cut = block.rfind(b"\n")
        if cut < 0:
            begun.append(block)
            continue
        if begun:
            begun.append(block[:cut])
            yield b"".join(begun)
            begun.clear()
        else:
            yield block[:cut]
        if cut + 1 < len(block):
            begun.append(block[cut + 1 :])
    if begun:
        yield b"".join(begun)


@contextlib.contextmanager
def _interrupts_held() -> Iterator[None]:
    """SIGINT held back in this thread while the pool starts processes and threads.

    They inherit the mask: a Ctrl-C at the terminal, which goes to the whole
    process group, reaches only this process, never a worker in the middle of
    its start-up. Here it comes through as KeyboardInterrupt once released.
    """
    if not hasattr(signal, "pthread_sigmask"):
        yield
        return
    held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def _pool_context() -> multiprocessing.context.BaseContext | None:
    """Fork the workers from this process while it runs no other thread.

    A forked worker starts at once with all that is already imported, where a
    worker of the default start method starts a new interpreter that imports
    the tool again (a quarter of a second, more than a few megabytes of text
    take to stem). Forking a process that runs other threads can deadlock, so
    then (main() called from a threaded program) the default is kept.
    """
    import multiprocessing
    import threading

    if threading.active_count() == 1 and "fork" in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("fork")
    return None


def _results(job: Job, chunks: Iterator[bytes], jobs: int) -> Iterator[tuple[bytes, Done]]:
    if jobs <= 1:
        for chunk in chunks:
            yield chunk, _work(job, chunk)
        return
    from concurrent.futures import ProcessPoolExecutor

    # A window of chunks in flight: the input is read only as fast as the workers stem it.
    window: deque[tuple[bytes, Future[Done]]] = deque()
    with _interrupts_held():
        pool = ProcessPoolExecutor(jobs, _pool_context(), _start_worker, (job,))
    with pool:
        try:
            for chunk in chunks:
                with _interrupts_held():
                    future = pool.submit(_work_in_worker, chunk)
                window.append((chunk, future))
                if len(window) >= 2 * jobs:
                    done_chunk, future = window.popleft()
                    yield done_chunk, future.result()
            while window:
                done_chunk, future = window.popleft()
                yield done_chunk, future.result()
        except BaseException:
            pool.shutdown(wait=True, cancel_futures=True)
            raise


def _read_words(path: str) -> list[str]:
    try:
        with open(path, encoding="utf-8") as handle:
            return handle.read().split()
    except (OSError, UnicodeDecodeError) as error:
        raise UsageError(f"cannot read {path}: {getattr(error, 'strerror', None) or error}") from None


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="lexvale",
        description="Stem words with libstemmer's Snowball algorithms: one word per line in, one stem per line "
        "out, as libstemmer's stemwords does; or running text with --text.",
    )
    parser.add_argument("-l", "--language", default="english",
                        help="algorithm name or ISO 639 code, any case (default: english; see --list)")
    parser.add_argument("-i", "--input", metavar="FILE", help="read FILE (default: standard input)")
    parser.add_argument("-o", "--output", metavar="FILE", help="write FILE (default: standard output)")
    parser.add_argument("-p", dest="pairs", action="store_true", help='write each word, " -> " and its stem')
    parser.add_argument("--text", action="store_true",
                        help="running text: each line becomes the stems of its words, separated by spaces")
    parser.add_argument("--no-lowercase", action="store_true", help="with --text: stem words as they are written")
    parser.add_argument("--normalize", choices=["NFC", "NFKC", "none"], default="NFC",
                        help="with --text: Unicode normal form to put text in first (default: NFC)")
    parser.add_argument("--stopwords", metavar="FILE", help="with --text: drop the words listed in FILE")
    parser.add_argument("--protected", metavar="FILE", help="with --text: keep the words listed in FILE unstemmed")
    parser.add_argument("--cache", type=int, metavar="N",
                        help="stem cache size (default: 0 for a word list, whose words rarely repeat; 10000 with --text)")
    parser.add_argument("-j", "--jobs", type=int, default=1, metavar="N",
                        help="worker processes (default: 1); the output is the same for any N")
    parser.add_argument("--list", action="store_true", help="list the algorithms and the ISO codes each accepts")
    parser.add_argument("--version", action="version",
                        version=f"lexvale {Davuzod.version()} (Davuzod {Davuzod.version()})")
    return parser


def _listing() -> str:
    codes = iso_codes()
    width = max(map(len, algorithms()))
    return "".join(f"{name:<{width}}  {' '.join(codes[name])}".rstrip() + "\n" for name in algorithms())


def _job(args: argparse.Namespace) -> Job:
    try:
        language = resolve(args.language)
    except ValueError as error:
        raise UsageError(str(error)) from None
    if args.jobs < 1:
        raise UsageError(f"--jobs must be at least 1, not {args.jobs}")
    text_only = [name for name, given in (("--no-lowercase", args.no_lowercase),
                                          ("--normalize", args.normalize != "NFC"),
                                          ("--stopwords", args.stopwords), ("--protected", args.protected)) if given]
    analyzer = None
    cache_size = args.cache if args.cache is not None else (10000 if args.text else 0)
    out_of_range = cache_size_error("--cache", cache_size)
    if out_of_range is not None:
        raise UsageError(out_of_range)
    if args.text:
        from .analyzer import Analyzer

        if args.pairs:
            raise UsageError("-p works on word lists; it cannot be used with --text")
        analyzer = Analyzer(
            language,
            lowercase=not args.no_lowercase,
            normalize=None if args.normalize == "none" else args.normalize,
            stopwords=_read_words(args.stopwords) if args.stopwords else (),
            protected=_read_words(args.protected) if args.protected else (),
            cache_size=cache_size,
        )
    elif text_only:
        raise UsageError(f"{text_only[0]} works with --text only")
    return Job(language, cache_size, args.pairs, analyzer)


def _open_input(path: str | None) -> tuple[IO[bytes], int | None]:
    if path is None or path == "-":
        return sys.stdin.buffer, None
    try:
        source = open(path, "rb")
        size = os.fstat(source.fileno()).st_size
    except OSError as error:
        raise UsageError(f"cannot read {path}: {error.strerror}") from None
    if os.path.isdir(path):
        raise UsageError(f"cannot read {path}: Is a directory")
    return source, size


def _run(args: argparse.Namespace) -> int:
    job = _job(args)
    source, size = _open_input(args.input)
    if args.output is None or args.output == "-":
        target = sys.stdout.buffer
    else:
        try:
            target = open(args.output, "wb")
        except OSError as error:
            raise UsageError(f"cannot write {args.output}: {error.strerror}") from None
    progress = None
    if size is not None and sys.stderr.isatty():
        from .progress import Progress

        progress = Progress(sys.stderr, size)
    lines_before = 0
    bad_lines: list[int] = []
    try:
        # Files the tool opened are closed here; standard streams stay open for the interpreter.
        with contextlib.ExitStack() as opened:
            for stream in (source, target):
                if stream not in (sys.stdin.buffer, sys.stdout.buffer):
                    opened.enter_context(stream)
            for chunk, done in _results(job, _chunks(source, args.input or "standard input"), args.jobs):
                target.write(done.output)
                bad_lines += [lines_before + index + 1 for index in done.bad_lines]
                lines_before += chunk.count(b"\n") + 1
                if progress is not None:
                    progress.advance(len(chunk) + 1, done.words)
            target.flush()
    except BrokenPipeError:
        raise
    except OSError as error:  # reading errors are reported where they happen: this is the output
        raise UsageError(f"cannot write {args.output or 'standard output'}: {error.strerror}") from None
    if progress is not None:
        progress.close()
    if bad_lines:
        print(f"lexvale: warning: {len(bad_lines)} line(s) not valid UTF-8, read with U+FFFD for the bad bytes"
              f" (line {bad_lines[0]} first)",
              file=sys.stderr)
    return 0


def main(argv: list[str] | None = None) -> int:
    """Run the tool with `argv` (default: the command line); returns the exit status."""
    parser = _parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exit_:
        return exit_.code if isinstance(exit_.code, int) else EXIT_USAGE
    if args.list:
        sys.stdout.write(_listing())
        return 0
    try:
        return _run(args)
    except UsageError as error:
        print(f"lexvale: error: {error}", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # Further writes to the closed pipe, at exit too, go nowhere.
        devnull = os.open(os.devnull, os.O_WRONLY)
        with contextlib.suppress(OSError, ValueError):
            os.dup2(devnull, sys.stdout.fileno())
        return EXIT_BROKEN_PIPE

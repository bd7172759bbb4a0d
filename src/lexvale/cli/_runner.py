"""Chunks stemmed in this process or in worker processes, the results in input order.

Workers end with the command, whatever ends it: the command stops them on an
error, an interrupt or a termination signal, and each worker asks the kernel
to kill it when the command dies without a chance to (``kill -9``, a crash).
"""

from __future__ import annotations

import contextlib
import os
import signal
import sys

from ._chunks import transcoded
from ._textlines import stem_text
from ._wordlist import stem_long_line, stem_word_list
from ._work import CommandError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Generator, Iterable, Iterator
    from concurrent.futures import ProcessPoolExecutor
    import multiprocessing.context

    from ._chunks import Chunk
    from ._work import Done, Job

__all__ = ["PARALLEL_BYTES", "chunk_bytes_for", "jobs_for", "results"]

# The signals that end the command; its workers' parts are played by the command.
ENDING_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

_PR_SET_PDEATHSIG = 1  # from <linux/prctl.h>

# A file smaller than this is stemmed in one process whatever --jobs says:
# starting workers and sending them its chunks takes longer than stemming it.
PARALLEL_BYTES = 8 << 20


def jobs_for(requested: int, status: os.stat_result | None) -> int:
    """The worker processes for an input of this status: none below PARALLEL_BYTES of a regular file.

    Standard input from a pipe has no size to go by, and gets what was asked.
    """
    import stat

    if requested > 1 and status is not None and stat.S_ISREG(status.st_mode) and status.st_size < PARALLEL_BYTES:
        return 1
    return requested


def chunk_bytes_for(jobs: int) -> int:
    """The chunk size for `jobs` processes: larger with workers, for whom each chunk is a message each way."""
    from . import _chunks

    return _chunks.CHUNK_BYTES if jobs <= 1 else _chunks.WORKER_CHUNK_BYTES


def _work(job: Job, chunk: Chunk) -> Done:
    given_size = len(chunk.data)
    chunk, bad = transcoded(chunk, job.encoding)
    done = stem_text(job, chunk) if job.analyzer is not None else stem_word_list(job, chunk)
    return _as_given(done, bad, len(chunk.data) - given_size)


def _long_line(job: Job, holder: list[Chunk]) -> Done:
    """A line longer than a chunk, taken out of `holder`: text (with n-grams, which are not cut at blanks) or a word."""
    given_size = len(holder[-1].data)
    chunk, bad = transcoded(holder.pop(), job.encoding)
    grown = len(chunk.data) - given_size
    if job.analyzer is not None:
        done = stem_text(job, chunk)
    else:
        holder.append(chunk)
        del chunk  # stem_long_line frees the line as it goes
        done = stem_long_line(job, holder)
    return _as_given(done, bad, grown)


def _as_given(done: Done, bad: tuple[int, ...], grown: int) -> Done:
    """`done` with the lines and size of the input as it was given, before it was made UTF-8."""
    if not bad and not grown:
        return done
    return done._replace(bad_lines=bad or done.bad_lines, size=done.size - grown)


def results(job: Job, chunks: Iterable[Chunk], jobs: int) -> Generator[Done]:
    """Each chunk's result, in order; with `jobs` above 1, from as many worker processes.

    A long line (see Chunk) is always stemmed here: sent to a worker, it
    would be copied on each side of the pipe and then stemmed.
    """
    if jobs <= 1:
        for chunk in chunks:
            if chunk.long_line:
                holder = [chunk]
                del chunk  # stem_long_line frees the line as it goes
                yield _long_line(job, holder)
            else:
                yield _work(job, chunk)
        return
    from concurrent.futures.process import BrokenProcessPool

    pool = _start_pool(job, jobs)
    try:
        remaining = iter(chunks)
        while True:
            held: list[Chunk] = []
            # A window of chunks in flight: the input is read only as fast as the workers stem it.
            yield from pool.map(_work_in_worker, _until_long_line(remaining, held), buffersize=2 * jobs)
            if not held:
                break
            yield _long_line(job, held)
    except BrokenProcessPool:
        _stop(pool)
        raise CommandError("a worker process ended unexpectedly") from None
    except BaseException:
        _stop(pool)  # nothing they would still do is wanted
        raise
    pool.shutdown()


def _stop(pool: ProcessPoolExecutor) -> None:
    """Kills the workers at once, and lets the command exit while chunks are still on their way to them."""
    # kill_workers() is the executor's public way to stop; it leaves two of
    # the executor's threads blocked, and the interpreter joins them at exit.
    # The call queue's feeder thread may be blocked writing a chunk into the
    # pipe no worker reads any more; the manager thread may be blocked
    # reading a result that a killed worker left half-written. No public call
    # lets a queue go, so the two private attributes that do are read here,
    # through getattr, so that an executor without them is still stopped:
    # the call queue is told not to be joined, and this process's copy of
    # the result pipe's writing end is closed, so that the workers' deaths
    # close the others and the read ends.
    call_queue = getattr(pool, "_call_queue", None)
    result_writer = getattr(getattr(pool, "_result_queue", None), "_writer", None)
    if call_queue is not None:
        call_queue.cancel_join_thread()
    pool.kill_workers()  # which also tells the manager thread to end
    if result_writer is not None:
        result_writer.close()


def _until_long_line(chunks: Iterator[Chunk], held: list[Chunk]) -> Iterator[Chunk]:
    for chunk in chunks:
        if chunk.long_line:
            held.append(chunk)
            return
        yield chunk


def _start_pool(job: Job, jobs: int) -> ProcessPoolExecutor:
    """A pool whose workers have all started; CommandError when they cannot be."""
    from concurrent.futures import ProcessPoolExecutor
    from concurrent.futures.process import BrokenProcessPool

    context = _pool_context()
    forks = context is not None
    if not forks:
        import multiprocessing

        if multiprocessing.get_start_method() == "forkserver":
            from multiprocessing import forkserver

            # The fork server outlives this pool and forks every later worker
            # of the process, whoever asks: it must not start while the
            # ending signals are held below, or all of them would be born
            # with termination blocked (and a pool's terminate() would wait
            # for ever).
            forkserver.ensure_running()
    if forks:
        from .. import _native

        _native.available()  # the native module loaded once here, rather than in each worker
        if sys.platform.startswith("linux"):
            import ctypes  # noqa: F401  (imported once here rather than in each worker)
    pool: ProcessPoolExecutor | None = None
    try:
        with _ending_signals_held():
            pool = ProcessPoolExecutor(jobs, context, _start_worker, (job, os.getpid() if forks else None))
            started = pool.submit(_started)  # forks every worker, with the signals held
        started.result()
    except OSError as error:
        if pool is not None:
            _stop(pool)
        raise CommandError(f"cannot start {jobs} worker processes: {error.strerror or error}") from None
    except BrokenProcessPool:
        assert pool is not None
        _stop(pool)
        raise CommandError("a worker process ended as it started") from None
    except BaseException:
        if pool is not None:
            _stop(pool)
        raise
    return pool


@contextlib.contextmanager
def _ending_signals_held() -> Iterator[None]:
    """The ending signals held back in this thread while it starts workers.

    Workers inherit the mask: a Ctrl-C at the terminal, which goes to the whole
    process group, reaches only this process, never a worker in the middle of
    its start-up; a termination signal sent to a starting worker waits until
    it has put back the default action. Here they come through once released.
    """
    if not hasattr(signal, "pthread_sigmask"):
        yield
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, set(ENDING_SIGNALS))
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def _pool_context() -> multiprocessing.context.BaseContext | None:
    """Fork the workers from this process while it runs no other thread.

    A forked worker starts at once with all that is already imported, where a
    worker of the default start method starts a new interpreter that imports
    the tool again (a quarter of a second, more than a few megabytes of text
    take to stem). Forking a process that runs other threads can deadlock, so
    then (main() called from a threaded program) the default is kept.
    """
    import multiprocessing

    if _threads() == 1 and "fork" in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("fork")
    return None


def _threads() -> int:
    """The threads this process runs, those that the threading module does not know of included."""
    try:
        return len(os.listdir("/proc/self/task"))
    except OSError:
        import threading

        return threading.active_count()


_worker_job: Job | None = None


def _start_worker(job: Job, parent: int | None) -> None:
    global _worker_job
    _worker_job = job
    if sys.platform.startswith("linux"):
        import ctypes

        # Killed by the kernel when the thread that forked it ends, which is
        # the command's main thread: a command killed with -9 leaves no worker.
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        # The command may have died before the request was made: then this
        # process was already handed to another parent.
        if parent is not None and os.getppid() != parent:
            os._exit(1)
    # The command reports an interrupt, once; termination takes its default
    # action here, rather than the command's handler, which forking copied.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    for ending in ENDING_SIGNALS:
        if ending != signal.SIGINT:
            signal.signal(ending, signal.SIG_DFL)
    if hasattr(signal, "pthread_sigmask"):
        signal.pthread_sigmask(signal.SIG_UNBLOCK, set(ENDING_SIGNALS) - {signal.SIGINT})


def _started() -> None:
    """The first task, which shows that the workers have started."""


def _work_in_worker(chunk: Chunk) -> Done:
    assert _worker_job is not None
    return _work(_worker_job, chunk)

"""Where the command writes: standard output, or a file replaced only when the run succeeds.

A regular file (or a path that names none yet) is written under a temporary
name in its directory and renamed over the path once everything is written
and on disk, so that a run that fails or is interrupted leaves the file that
was there as it was. The new file keeps the old one's permission bits, and
its owner where the command may set it; a new path gets those the umask
allows. Devices and pipes (``/dev/null``, a FIFO) are written in place. A
path that names one of the command's open descriptors (``/dev/stdout``,
``/dev/stderr``, ``/dev/fd/N``, ``/proc/self/fd/N``) is that descriptor,
written where it stands: replacing or reopening the file behind it would lose
what the shell wrote there before and after.
"""

from __future__ import annotations

import contextlib
import os
import stat
import sys

from ._work import CommandError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterator, Sequence
    from typing import BinaryIO

    # The inputs: each one's status (None where it has none to compare) and name.
    Sources = Sequence[tuple[os.stat_result | None, str]]

__all__ = ["Sink", "same_file", "sink"]

# A str part is encoded this many characters at a time.
_ENCODE_SLICE = 1 << 20


class Sink:
    """The output stream, which reports a failed write as the user's error (a closed pipe excepted)."""

    def __init__(self, stream: BinaryIO, name: str) -> None:
        self.stream = stream
        self.name = name

    def write(self, part: bytes | bytearray | str) -> None:
        try:
            if isinstance(part, str):
                for start in range(0, len(part), _ENCODE_SLICE):
                    self.stream.write(part[start : start + _ENCODE_SLICE].encode("utf-8"))
            else:
                self.stream.write(part)
        except BrokenPipeError:
            raise
        except OSError as error:
            raise self.failed(error) from None

    def flush(self) -> None:
        try:
            self.stream.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise self.failed(error) from None

    def failed(self, error: OSError) -> CommandError:
        return CommandError(f"cannot write {self.name}: {error.strerror or error}")


def same_file(one: os.stat_result, other: os.stat_result) -> bool:
    """Whether two regular files are one (devices such as /dev/null may well be both input and output)."""
    return (stat.S_ISREG(one.st_mode) and stat.S_ISREG(other.st_mode)
            and (one.st_dev, one.st_ino) == (other.st_dev, other.st_ino))


def _input_of(output: os.stat_result, sources: Sources) -> str | None:
    """The name of the input that is the file `output`, or None."""
    for source, name in sources:
        if source is not None and same_file(source, output):
            return name
    return None


@contextlib.contextmanager
def sink(path: str | None, sources: Sources) -> Iterator[Sink]:
    """The output at `path` (None: standard output), refused when it is one of the input files `sources`
    (each its status and name).

    A file is put in place when the block ends without an exception, and its
    temporary file removed when it ends with one.
    """
    if path is None:
        if sys.stdout is None:
            raise CommandError("cannot write standard output: it is closed")
        stream = sys.stdout.buffer
        with contextlib.suppress(OSError, ValueError):  # not a file: nothing to compare
            named = _input_of(os.fstat(stream.fileno()), sources)
            if named is not None:
                raise CommandError(f"cannot write standard output: it is the input file, {named}")
        out = Sink(stream, "standard output")
        yield out
        out.flush()
        return
    descriptor = descriptor_named(path)
    if descriptor == 1:
        with sink(None, sources) as out:
            yield out
        return
    if descriptor is not None:
        with _descriptor_sink(path, descriptor, sources) as out:
            yield out
        return
    real = os.path.realpath(path)  # a symbolic link stays, and its target is replaced
    try:
        existing: os.stat_result | None = os.stat(real)
    except FileNotFoundError:
        existing = None
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from None
    named = _input_of(existing, sources) if existing is not None else None
    if named is not None:
        raise CommandError(f"cannot write {path}: it is the input file, {named}")
    if existing is not None and stat.S_ISDIR(existing.st_mode):
        raise CommandError(f"cannot write {path}: Is a directory")
    if existing is not None and not stat.S_ISREG(existing.st_mode):
        with _opened_in_place(path) as out:
            yield out
        return
    with _replacing(path, real, existing) as out:
        yield out


def descriptor_named(path: str) -> int | None:
    """The descriptor of this process that `path` names through /proc's fd links, if it names one."""
    # /proc/self is this process as /proc shows it (which, in a PID namespace
    # with another's /proc, is not os.getpid()).
    own = {"self", "thread-self", os.path.basename(os.path.realpath("/proc/self"))}
    current = os.path.abspath(path)
    for _ in range(40):  # the kernel's own limit on links followed
        folder, name = os.path.split(current)
        folder = os.path.realpath(folder)  # /dev/fd is a link to /proc/self/fd
        number = _descriptor_number(name)
        parts = folder.split("/")[1:]  # ["proc", PID, "fd"] or ["proc", PID, "task", TID, "fd"]
        if (number is not None and parts[:1] == ["proc"] and parts[-1:] == ["fd"] and len(parts) in (3, 5)
                and parts[1] in own and (len(parts) == 3 or parts[2] == "task")):
            return number
        try:
            target = os.readlink(os.path.join(folder, name))
        except OSError:  # not a link (or none there): a path like any other
            return None
        current = os.path.normpath(os.path.join(folder, target))
    return None


def _descriptor_number(name: str) -> int | None:
    """The descriptor an entry of /proc's fd folders is named for: ASCII digits as the kernel writes them."""
    if not (name.isascii() and name.isdigit()) or (name.startswith("0") and name != "0") or len(name) > 10:
        return None
    number = int(name)
    return number if number < 2**31 else None


@contextlib.contextmanager
def _descriptor_sink(path: str, descriptor: int, sources: Sources) -> Iterator[Sink]:
    try:
        opened = os.fstat(descriptor)
        stream = open(os.dup(descriptor), "wb")
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from None
    named = _input_of(opened, sources)
    if named is not None:
        stream.close()
        raise CommandError(f"cannot write {path}: it is the input file, {named}")
    with _closed_quietly_on_error(stream):
        out = Sink(stream, path)
        yield out
        out.flush()


@contextlib.contextmanager
def _opened_in_place(path: str) -> Iterator[Sink]:
    try:
        stream = open(path, "wb")
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from None
    with _closed_quietly_on_error(stream):
        out = Sink(stream, path)
        yield out
        out.flush()


@contextlib.contextmanager
def _replacing(path: str, real: str, existing: os.stat_result | None) -> Iterator[Sink]:
    import tempfile  # here: only a run that writes a file pays for it

    directory, name = os.path.split(real)
    try:
        fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".lexvale-part", dir=directory)
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from None
    try:
        with _closed_quietly_on_error(open(fd, "wb")) as stream:
            out = Sink(stream, path)
            yield out
            out.flush()
            try:
                _take_over_attributes(fd, existing)
                os.fsync(fd)  # the data on disk before the name: a crash then leaves one file or the other
            except OSError as error:
                raise out.failed(error) from None
        try:
            os.replace(temporary, real)
        except OSError as error:
            raise CommandError(f"cannot write {path}: {error.strerror}") from None
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


@contextlib.contextmanager
def _closed_quietly_on_error(stream: BinaryIO) -> Iterator[BinaryIO]:
    """Closes `stream`; after an error without the flush that would fail again and hide the first error."""
    try:
        yield stream
    except BaseException:
        with contextlib.suppress(OSError):
            stream.close()
        raise
    stream.close()


def _take_over_attributes(fd: int, existing: os.stat_result | None) -> None:
    if existing is None:
        os.fchmod(fd, 0o666 & ~_umask())  # mkstemp made it for its owner only
        return
    if (existing.st_uid, existing.st_gid) != (os.geteuid(), os.getegid()):
        with contextlib.suppress(PermissionError):  # only root may give a file away
            os.fchown(fd, existing.st_uid, existing.st_gid)
    os.fchmod(fd, stat.S_IMODE(existing.st_mode))


def _umask() -> int:
    # Read where the kernel shows it (Linux 4.7 and later): setting it to read
    # it back would change it for a moment for every thread of the process.
    with contextlib.suppress(OSError, ValueError):
        with open("/proc/self/status", encoding="ascii", errors="replace") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    mask = os.umask(0o022)
    os.umask(mask)
    return mask

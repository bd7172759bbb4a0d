"""The standard streams as the command finds them: any may be closed, and a failed one is let go quietly.

A process started with a standard stream closed (``>&-``) has ``None`` for it
in ``sys``; its descriptor is then the next one a file opened gets. Those
descriptors are held on the null device, so that no file of the command's
takes one, and nothing written for the closed stream (by this process or a
library) goes into the output. Messages go to stderr or, when it is closed,
nowhere: never to stdout, where the data goes.
"""

from __future__ import annotations

import contextlib
import os
import sys

__all__ = ["hold_closed_descriptors", "report", "let_stdout_go"]


def hold_closed_descriptors() -> None:
    """Points the descriptors of closed standard streams at the null device."""
    for fd, stream in ((0, sys.stdin), (1, sys.stdout), (2, sys.stderr)):
        if stream is not None:
            continue
        try:
            os.fstat(fd)
        except OSError:
            pass
        else:
            continue  # open after all, for something else: left alone
        with contextlib.suppress(OSError):
            null = os.open(os.devnull, os.O_RDWR)
            if null != fd:
                os.dup2(null, fd)
                os.close(null)


def report(message: str) -> None:
    """One line on stderr, when there is a stderr to write it to."""
    if sys.stderr is None:
        return
    with contextlib.suppress(OSError, ValueError):
        sys.stderr.write(f"lexvale: {message}\n")
        sys.stderr.flush()


def let_stdout_go() -> None:
    """Sends what is still buffered for a failed stdout (a closed pipe, a full disk) to the null device.

    The interpreter flushes stdout once more as it exits; writing to the
    failed stream again would print a second report and change the exit status.
    """
    if sys.stdout is None:
        return
    with contextlib.suppress(OSError, ValueError):
        fd = sys.stdout.fileno()
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, fd)
        os.close(null)

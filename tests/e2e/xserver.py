#!/usr/bin/env python3
"""Starts Xvfb on a display number of its own, for tests that run side by side.

Every number is guarded by a lock of ours (flock), which the Xvfb process
inherits: the number stays taken until that server has really ended, whoever
ends it, so no test of ours is handed a display another one is tearing down.

As a program it starts the server detached and prints "<display> <pid>"
(":23 4711"), for shell scripts; it ends the server when killed with it."""
import argparse
import fcntl
import os
import select
import subprocess
import sys
import tempfile
import time
from pathlib import Path

FIRST, LAST = 20, 400  # clear of a desktop's :0 and of xvfb-run's :99 habits
LOCKS = Path(tempfile.gettempdir())


class Failure(Exception):
    pass


def _ready(fd, seconds, proc):
    """The display number Xvfb writes to -displayfd once it takes clients."""
    data, end = b"", time.monotonic() + seconds
    while b"\n" not in data:
        if proc.poll() is not None:
            return None
        if select.select([fd], [], [], 0.2)[0]:
            chunk = os.read(fd, 64)
            if not chunk:
                return None
            data += chunk
        elif time.monotonic() > end:
            raise Failure("Xvfb did not answer in time")
    return data.decode().strip()


def _claim(number):
    """Our lock on `number`, or None when another test of ours holds it."""
    try:
        fd = os.open(LOCKS / f".jor-orvek-x{number}.lock", os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o600)
    except OSError:  # another user's lock file
        return None
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        os.close(fd)
        return None
    return fd


def start(log, env=None, size="1024x768x24", **popen):
    """Starts Xvfb; returns (":N", Popen). The number is free until the
    server's process has ended."""
    start_at = FIRST + (os.getpid() % (LAST - FIRST))  # side by side, tests seldom try the same numbers
    for i in range(LAST - FIRST):
        number = FIRST + (start_at - FIRST + i) % (LAST - FIRST)
        if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
            continue
        lock = _claim(number)
        if lock is None:
            continue
        r, w = os.pipe()
        try:
            # -noreset: by default the server resets when its last client
            # leaves, and refuses connections meanwhile; a test's xdotool
            # polls come and go just as the program under test connects.
            proc = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(w), "-screen", "0", size,
                                     "-nolisten", "tcp", "-noreset"], env=env, stdout=log, stderr=subprocess.STDOUT,
                                    pass_fds=(w, lock), **popen)
        finally:
            os.close(w)
            os.close(lock)  # Xvfb holds it now
        try:
            answer = _ready(r, 15, proc)
        finally:
            os.close(r)
        if answer == str(number):
            return f":{number}", proc
        # Taken after all (a server of someone else's): try the next number.
        if proc.poll() is None:
            proc.kill()
        proc.wait()
    raise Failure(f"no free X display between :{FIRST} and :{LAST}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--log", required=True, type=Path, help="Xvfb's output is appended here")
    args = parser.parse_args()
    with open(args.log, "ab") as log:
        display, proc = start(log, start_new_session=True)
    print(display, proc.pid, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

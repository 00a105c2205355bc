#!/usr/bin/env python3
"""Starts the program under Xvfb with a window manager that frames its
windows (openbox) and checks that the frame, not only the client area, sits
in the middle of the screen. Exit status 0 when it does."""
import argparse
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

from e2e_desktop import Desktop, Failure, wait_for


def frame_of(desktop, window):
    """(left, top, width, height) of the window with the frame the manager drew."""
    info = subprocess.run(["xwininfo", "-id", window], env=desktop.env, capture_output=True, text=True).stdout
    value = lambda label: int(re.search(rf"{label}:\s+(-?\d+)", info).group(1))
    extents = subprocess.run(["xprop", "-id", window, "_NET_FRAME_EXTENTS"], env=desktop.env,
                             capture_output=True, text=True).stdout
    numbers = [int(n) for n in re.findall(r"\d+", extents.split("=")[-1])] if "=" in extents else []
    if len(numbers) != 4:
        return None
    left, right, top, bottom = numbers
    return (value("Absolute upper-left X") - left, value("Absolute upper-left Y") - top,
            value("Width") + left + right, value("Height") + top + bottom)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program-dir", required=True, type=Path)
    args = parser.parse_args()
    if not shutil.which("openbox"):
        print("FAIL: openbox is missing (scripts/setup.sh installs it)")
        return 1
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    tmp = Path(tempfile.mkdtemp(prefix="jor-centre-"))
    desktop = Desktop(tmp)
    try:
        program = tmp / "program"
        program.mkdir()
        shutil.copy2(args.program_dir / "jor-orvek", program / "jor-orvek")
        desktop.start_x()
        desktop.spawn(["openbox"], "openbox.log")
        wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=desktop.env, capture_output=True,
            text=True).stdout, 10, "the window manager")
        proc = desktop.spawn([str(program / "jor-orvek")], "program.log", QT_QPA_PLATFORM="xcb")
        window = wait_for(lambda: desktop.xdo("search", "--onlyvisible", "--name", "^Jor - Orvek$", check=False)
                          or proc.poll() is not None, 20, "the main window")
        if proc.poll() is not None:
            raise Failure(f"program ended at start with status {proc.returncode}")
        screen = subprocess.run(["xwininfo", "-root"], env=desktop.env, capture_output=True, text=True).stdout
        width, height = (int(re.search(rf"{k}:\s+(\d+)", screen).group(1)) for k in ("Width", "Height"))

        def centred():
            frame = frame_of(desktop, window[0])
            return frame and frame[:2] == ((width - frame[2]) // 2, (height - frame[3]) // 2) and frame
        try:
            frame = wait_for(centred, 5, "the framed window to be centred")
        except Failure:
            raise Failure(f"frame {frame_of(desktop, window[0])} (left, top, width, height) "
                          f"is not centred on the {width}x{height} screen")
        print(f"frame {frame} centred on the {width}x{height} screen")
        return 0
    except Failure as e:
        print("FAIL:", e)
        for name in ("program.log", "openbox.log"):
            log = tmp / name
            if log.exists() and log.stat().st_size:
                print(f"--- {name}:\n{log.read_text(errors='replace')[-2000:]}")
        return 1
    finally:
        desktop.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

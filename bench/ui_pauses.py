#!/usr/bin/env python3
"""The longest pauses of the program's window thread while it changes a large cabinet.

Starts the real program on an Xvfb display of its own, under strace with only the
event loop's poll calls traced (through a seccomp filter, so every other call runs at
full speed). It turns AutoSave on and copies texts with xclip, deletes an item and
renames another through the menus, and opens a copy of the cabinet through File > Open
File Cabinet. A pause is the time the window thread spends between two polls: while it
lasts, the window neither repaints nor hears of a new clip.

Usage: ui_pauses.py QUIVERBOX QVF CABINET [--copies N]

CABINET is copied and left as it is. It must begin with a drawer whose first row is an
item, as the cabinets bench_scale makes do (kept with QB_BENCH_SCALE_KEEP=1 in
$QB_BENCH_SCALE_DIR; the 1 GB ones with QB_BENCH_SCALE_1GB=1). Needs Xvfb, xclip,
xdotool and strace.
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

def run(env, *args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, env=env, **kw).stdout


def window_thread_pauses(trace_dir, since):
    """(pause in s, when it began, counted from since) between the window thread's polls."""
    files = [f for f in glob.glob(os.path.join(trace_dir, "t.*")) if os.path.getsize(f) > 0]
    # The window thread is the process's first: its trace begins first.
    main = min(files, key=lambda f: float(open(f).readline().split()[0]))
    pauses, last_end = [], None
    for line in open(main):
        m = re.match(r"(\d+\.\d+) \w*poll\(.*<(\d+\.\d+)>$", line)
        if not m or float(m.group(1)) < since:
            continue
        start = float(m.group(1))
        if last_end is not None:
            pauses.append((start - last_end, last_end - since))
        last_end = start + float(m.group(2))
    return sorted(pauses, reverse=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("quiverbox")
    parser.add_argument("qvf")
    parser.add_argument("cabinet")
    parser.add_argument("--copies", type=int, default=6)
    args = parser.parse_args()
    # The end-to-end tests' helpers (that module reads the two programs from the command line too).
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
    from x11_clipboard_test import FIRST_ROW_Y, ROW_HEIGHT, start_xvfb, wait_for

    work = tempfile.mkdtemp(prefix="qb-pauses-")
    cabinet = os.path.join(work, "cabinet.qvf")
    shutil.copyfile(args.cabinet, cabinet)
    other = os.path.join(work, "other.qvf")
    shutil.copyfile(args.cabinet, other)
    trace_dir = os.path.join(work, "trace")
    os.makedirs(trace_dir)
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QUIVERBOX_HOME=os.path.join(work, "home"))
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("QT_QPA_PLATFORM", None)
    program, pid = None, None
    marks = []
    try:
        program = subprocess.Popen(["strace", "-f", "-ff", "--seccomp-bpf", "-e", "trace=poll,ppoll", "-ttt", "-T",
                                    "-o", os.path.join(trace_dir, "t"), args.quiverbox, cabinet],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = run(env, "xdotool", "search", "--sync", "--name", "^Quiverbox$").split()[0]
        pid = int(run(env, "xdotool", "getwindowpid", window))
        run(env, "xdotool", "windowfocus", "--sync", window)
        time.sleep(1.0)
        since = time.time()

        def keys(*names):
            for name in names:
                run(env, "xdotool", "key", name)
                time.sleep(0.3)

        def click_row(x, row):
            run(env, "xdotool", "mousemove", str(x), str(FIRST_ROW_Y + row * ROW_HEIGHT), "click", "1")
            time.sleep(0.5)

        def count():
            return run(env, args.qvf, "ls", cabinet).count("\n")

        def mark(what):
            marks.append((time.time() - since, what))

        items = count()
        mark("AutoSave of %d copies" % args.copies)
        keys("alt+c", "a")  # Clipboard menu, Auto Save
        for n in range(args.copies):
            subprocess.run(["xclip", "-selection", "clipboard"], input="copy %d" % n, text=True, env=env, check=True,
                           stderr=subprocess.DEVNULL)
            time.sleep(0.3)
        wait_for(lambda: count() == items + args.copies, "the copies stored", timeout=180)
        keys("alt+c", "a")  # AutoSave off again
        mark("opening the first drawer")
        click_row(10, 0)  # the cabinet's branch sign
        click_row(30, 1)  # the first drawer's branch sign
        click_row(120, 2)  # its first item
        mark("Delete")
        keys("alt+e", "d", "Return")  # Delete Selected Item, "Are you sure ...?" Yes
        wait_for(lambda: count() == items + args.copies - 1, "the delete", timeout=180)
        click_row(120, 2)
        mark("Rename")
        keys("F2")
        run(env, "xdotool", "type", "renamed")
        keys("Return")
        wait_for(lambda: "renamed" in run(env, args.qvf, "ls", cabinet), "the rename", timeout=180)
        time.sleep(1.0)
        mark("Open File Cabinet (a copy)")
        # Without a window manager the focus does not come back by itself after a box.
        run(env, "xdotool", "windowfocus", "--sync", window)
        keys("ctrl+o")
        time.sleep(1.5)
        run(env, "xdotool", "type", other)
        keys("Return")
        time.sleep(5.0)
        mark("end")
    finally:
        if pid:
            os.kill(pid, signal.SIGTERM)
        if program:
            program.wait(timeout=30)
        xvfb.terminate()

    pauses = window_thread_pauses(trace_dir, since)
    shutil.rmtree(work, ignore_errors=True)
    print("window thread: %d polls; the longest pause of each step:" % len(pauses))
    for (at, what), (end, _) in zip(marks, marks[1:]):
        longest = max((pause for pause, begun in pauses if at <= begun < end), default=0.0)
        print("  %7.2f s  %-32s %6.1f ms" % (at, what, longest * 1000))
    print("longest pauses:")
    for pause, at in pauses[:8]:
        print("  %6.1f ms at %6.2f s" % (pause * 1000, at))
    return 0 if pauses and pauses[0][0] < 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The longest pauses of the program's window thread while it changes a large cabinet.

Starts the real program on an Xvfb display of its own, under `perf record` with only
the event loop's poll calls recorded, at the kernel's trace points, and the program's
CPU clock sampled every 0.25 ms: the program is never stopped, so the measure adds no
pause of its own. (strace stops the thread at each
traced call until the tracer has looked at it, and made pauses of 100 ms and more
whenever the tracer waited for a CPU.) It turns AutoSave on and copies texts with xclip,
deletes an item and renames another through the menus, and opens a copy of the cabinet
through File > Open File Cabinet. A pause is the time the window thread spends between
two polls: while it lasts, the window neither repaints nor hears of a new clip. In a
virtual machine the host may stop a virtual CPU for a while, which stretches whatever
pause it falls in: the time the host took (steal) is printed too, and with each pause
the window thread's own work in it (the CPU clock's samples), which the host's time
does not stretch.

Usage: ui_pauses.py QUIVERBOX QVF CABINET [--copies N]

CABINET is copied and left as it is. It must begin with a drawer whose first row is an
item, as the cabinets bench_scale makes do (kept with QB_BENCH_SCALE_KEEP=1 in
$QB_BENCH_SCALE_DIR; the 1 GB ones with QB_BENCH_SCALE_1GB=1). The copies are synced
before the program starts, so that their writeback is not measured with it. Needs
Xvfb, xclip, xdotool and perf (linux-perf), as root or with perf_event_paranoid -1.
"""
import argparse
import bisect
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


POLLS = ",".join("syscalls:sys_%s_%s" % (side, call) for call in ("poll", "ppoll") for side in ("enter", "exit"))


def steal_ms():
    """The time the host has taken from this machine's CPUs (all of them), in ms."""
    with open("/proc/stat") as stat:
        fields = stat.readline().split()
    return int(fields[8]) * 1000 // os.sysconf("SC_CLK_TCK") if len(fields) > 8 else 0


# The window thread's own CPU time is sampled every 0.25 ms: a pause may be long
# because the thread works, or because it waits for a CPU (the host's steal among
# other things); the samples within it tell which.
SAMPLE = "cpu-clock/period=250000/"
SAMPLE_MS = 0.25


def window_thread_pauses(data, window_thread, since):
    """(pause in s, when it began counted from since, the window thread's own work in it in ms)
    between the window thread's polls, longest first."""
    script = subprocess.run(["perf", "script", "-i", data, "-F", "tid,time,event"], check=True,
                            capture_output=True, text=True).stdout
    spans, samples, last_end = [], [], None
    for line in script.splitlines():
        m = re.match(r"\s*(\d+)\s+(\d+\.\d+):\s+(\S+):", line)
        if not m or int(m.group(1)) != window_thread or float(m.group(2)) < since:
            continue
        at, event = float(m.group(2)), m.group(3)
        if event.startswith("cpu-clock"):
            samples.append(at)
        elif re.match(r"syscalls:sys_exit_p?poll$", event):
            last_end = at
        elif re.match(r"syscalls:sys_enter_p?poll$", event) and last_end is not None:
            spans.append((last_end, at))
            last_end = None
    samples.sort()
    pauses = [(end - begun, begun - since,
               (bisect.bisect_left(samples, end) - bisect.bisect_left(samples, begun)) * SAMPLE_MS)
              for begun, end in spans]
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
    os.sync()
    data = os.path.join(work, "polls.data")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, QUIVERBOX_HOME=os.path.join(work, "home"))
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("QT_QPA_PLATFORM", None)
    program, pid = None, None
    marks = []
    try:
        # The clock is the one time.monotonic reads, so that the steps can be marked.
        program = subprocess.Popen(["perf", "record", "-q", "-k", "CLOCK_MONOTONIC", "-o", data, "-e", POLLS, "-e", SAMPLE,
                                    args.quiverbox, cabinet],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = run(env, "xdotool", "search", "--sync", "--name", "^Quiverbox$").split()[0]
        pid = int(run(env, "xdotool", "getwindowpid", window))
        run(env, "xdotool", "windowfocus", "--sync", window)
        time.sleep(1.0)
        since = time.monotonic()
        stolen = steal_ms()

        def keys(*names):
            for name in names:
                run(env, "xdotool", "key", name)
                time.sleep(0.3)

        def click_row(x, row):
            run(env, "xdotool", "mousemove", str(x), str(FIRST_ROW_Y + row * ROW_HEIGHT), "click", "1")
            time.sleep(0.5)

        def count():
            return run(env, args.qvf, "ls", cabinet).count("\n")

        def wait_slowly(predicate, what):
            # qvf ls reads the whole directory, tens of ms of a CPU at 60,000 items: asked at regular times, it
            # took the CPU the window thread was waiting for, and made pauses of its own. It is asked only when
            # the cabinet has been replaced since the last look.
            seen = [None]

            def replaced_and_true():
                st = os.stat(cabinet)
                if (st.st_ino, st.st_mtime_ns, st.st_size) == seen[0]:
                    return False
                seen[0] = (st.st_ino, st.st_mtime_ns, st.st_size)
                return predicate()

            wait_for(lambda: time.sleep(0.1) or replaced_and_true(), what, timeout=180)

        def mark(what):
            marks.append((time.monotonic() - since, what))

        items = count()
        mark("AutoSave of %d copies" % args.copies)
        keys("alt+c", "a")  # Clipboard menu, Auto Save
        for n in range(args.copies):
            subprocess.run(["xclip", "-selection", "clipboard"], input="copy %d" % n, text=True, env=env, check=True,
                           stderr=subprocess.DEVNULL)
            time.sleep(0.3)
        wait_slowly(lambda: count() == items + args.copies, "the copies stored")
        keys("alt+c", "a")  # AutoSave off again
        mark("opening the first drawer")
        click_row(10, 0)  # the cabinet's branch sign
        click_row(30, 1)  # the first drawer's branch sign
        click_row(120, 2)  # its first item
        mark("Delete")
        keys("alt+e", "d", "Return")  # Delete Selected Item, "Are you sure ...?" Yes
        wait_slowly(lambda: count() == items + args.copies - 1, "the delete")
        click_row(120, 2)
        mark("Rename")
        keys("F2")
        run(env, "xdotool", "type", "renamed")
        keys("Return")
        wait_slowly(lambda: "renamed" in run(env, args.qvf, "ls", cabinet), "the rename")
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
        stolen = steal_ms() - stolen
    finally:
        if pid:
            os.kill(pid, signal.SIGTERM)
        if program:
            program.wait(timeout=30)
        xvfb.terminate()

    pauses = window_thread_pauses(data, pid, since)
    shutil.rmtree(work, ignore_errors=True)
    print("window thread: %d polls; the host took %d ms of CPU time meanwhile (steal)." % (len(pauses), stolen))
    print("Each step: its longest pause (the window thread's own work in it), and the most own work"
          " in any one of its pauses:")
    for (at, what), (end, _) in zip(marks, marks[1:]):
        step = [p for p in pauses if at <= p[1] < end]
        longest = max(step, default=(0.0, 0.0, 0.0))
        own = max((p[2] for p in step), default=0.0)
        print("  %7.2f s  %-32s %6.1f ms (%5.1f)  %5.1f ms" % (at, what, longest[0] * 1000, longest[2], own))
    print("longest pauses (own work):")
    for pause, at, work in pauses[:8]:
        print("  %6.1f ms at %6.2f s (%5.1f ms)" % (pause * 1000, at, work))
    return 0 if pauses and pauses[0][0] < 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())

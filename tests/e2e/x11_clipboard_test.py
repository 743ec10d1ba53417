#!/usr/bin/env python3
"""End to end on a real X11 display: AutoSave stores what xclip copies, and a
stored item goes back onto the clipboard.

Usage: x11_clipboard_test.py QUIVERBOX QVF
Starts its own Xvfb; needs xvfb, xclip and xdotool (installed by ./test).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

QUIVERBOX, QVF = sys.argv[1], sys.argv[2]
COMMENT = b"\x8c1\x8c\xbf\xa53\xa5\xbf"


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def wait_for(predicate, what, timeout=20.0):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def start_xvfb():
    read, write = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            raise AssertionError("Xvfb did not start")
        number += chunk
    os.close(read)
    return proc, ":" + number.decode().strip()


class Program:
    def __init__(self, env, cabinet):
        self.env = env
        self.proc = subprocess.Popen([QUIVERBOX, cabinet], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        out = run("xdotool", "search", "--sync", "--name", "^Quiverbox$", env=env)
        self.window = out.split()[0]
        run("xdotool", "windowfocus", "--sync", self.window, env=env)
        time.sleep(0.5)

    def keys(self, *keys):
        for key in keys:
            run("xdotool", "key", key, env=self.env)
            time.sleep(0.3)

    def click(self, x, y):
        run("xdotool", "mousemove", str(x), str(y), "click", "1", env=self.env)
        time.sleep(0.4)

    def quit(self, restore_question=False):
        self.keys("alt+F4", "Return")  # Exit asks first
        if restore_question:
            self.keys("Escape")  # "Do you wish to restore the original stored clip?": Cancel
        self.proc.wait(timeout=20)
        assert self.proc.returncode == 0, self.proc.returncode


def copy(env, text):
    subprocess.run(["xclip", "-selection", "clipboard"], input=text, text=True, env=env, check=True)


def main():
    home = tempfile.mkdtemp(prefix="qb-e2e-")
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, QUIVERBOX_HOME=home)
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        cabinet = os.path.join(home, "new.qvf")
        open(cabinet, "wb").close()  # a new, empty cabinet

        program = Program(env, cabinet)
        program.keys("alt+c", "a")  # Clipboard menu, Auto Save
        copy(env, "alpha text")
        wait_for(lambda: "Item0" in run(QVF, "ls", cabinet), "the first clip")
        copy(env, "beta text")
        wait_for(lambda: "Item1" in run(QVF, "ls", cabinet), "the second clip")
        program.quit()

        with zipfile.ZipFile(cabinet) as z:
            assert z.testzip() is None
            items = {i.filename: (z.read(i), i.comment) for i in z.infolist()}
        assert items == {
            "NewItems/Item0": (b"alpha text\x00", COMMENT),
            "NewItems/Item1": (b"beta text\x00", COMMENT),
        }, items

        # Again: open the drawer, select Item0, load it, read the clipboard.
        copy(env, "something else")
        program = Program(env, cabinet)
        program.click(10, 78)    # the cabinet's branch sign
        program.click(30, 96)    # the drawer's branch sign
        program.click(120, 114)  # Item0
        program.keys("alt+c", "l")  # Clipboard menu, Load Selected Item To Clipboard
        wait_for(lambda: run("xclip", "-o", "-selection", "clipboard", env=env) == "alpha text",
                 "the item on the clipboard")
        program.quit(restore_question=True)  # the load replaced the clipboard: its backup is offered
        print("1 passed, 0 failed")
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()

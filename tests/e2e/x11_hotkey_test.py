#!/usr/bin/env python3
"""End to end on a real X11 display: the global hotkey.

- Ctrl+Shift+V pressed while another program's window has the keyboard brings the
  Quiverbox window to the front with its search field focused: what is typed next
  searches, and Enter, End, Enter load the one item found;
- pressed while the Quiverbox window has the keyboard, the key keeps its meaning
  there (View File Cabinet Items), and the other program does not get it while
  Quiverbox holds it;
- the settings file sets another hotkey (Alt+F9), and a setting that names no key
  leaves the program running without one;
- when the keyboard's mapping moves F9 to another key (xmodmap), or a new layout
  moves it back (setxkbmap), Alt+F9 still works there.

Usage: x11_hotkey_test.py QUIVERBOX QVF
Starts its own Xvfb; needs xvfb, xclip, xdotool, xmodmap and setxkbmap (installed by ./test).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_clipboard_test import STARTED, add, run, start_xvfb, wait_for  # noqa: E402

QUIVERBOX, QVF = sys.argv[1], sys.argv[2]
# The explorer's rows below the search field once everything is displayed.
FIRST_ROW_Y, ROW_HEIGHT = 108, 18


class Program:
    """One running Quiverbox with a home of its own; its window is found by its process."""

    def __init__(self, env, home, cabinet, hotkey=None):
        os.makedirs(home, exist_ok=True)
        self.settings = os.path.join(home, "quiverbox.ini")
        if hotkey is not None:
            with open(self.settings, "wb") as f:
                f.write(b"[TMainForm]\nGlobalHotkey_ShortCut=" + hotkey + b"\n")
        self.env = dict(env, QUIVERBOX_HOME=home)
        self.proc = subprocess.Popen([QUIVERBOX, cabinet], env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        STARTED.append(self.proc)
        out = run("xdotool", "search", "--all", "--sync", "--pid", str(self.proc.pid), "--name", "^Quiverbox$",
                  env=env)
        self.window = out.split()[0]
        self.focus()

    def focus(self):
        run("xdotool", "windowfocus", "--sync", self.window, env=self.env)
        time.sleep(0.5)

    def has_focus(self):
        return run("xdotool", "getwindowfocus", env=self.env).strip() == self.window

    def setting(self, key):
        with open(self.settings, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith(key + "="):
                    return line[len(key) + 1:].rstrip("\n")
        return None

    def quit(self):
        assert self.proc.poll() is None, "the program ended by itself: %s" % self.proc.returncode
        self.focus()
        keys(self.env, "alt+F4", "Return")  # Exit asks first
        self.proc.wait(timeout=30)
        assert self.proc.returncode == 0, self.proc.returncode


def keys(env, *names):
    for name in names:
        run("xdotool", "key", name, env=env)
        time.sleep(0.4)


def keyboard_map(env):
    """The keyboard's mapping as xmodmap prints it: {keycode: [key symbol names]}."""
    table = {}
    for line in run("xmodmap", "-pke", env=env).splitlines():
        head, _, syms = line.partition("=")
        table[int(head.split()[1])] = syms.split()
    return table


def clipboard(env):
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=env, capture_output=True).stdout


def main():
    root = tempfile.mkdtemp(prefix="qb-e2e-hotkey-")
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display)
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        # No session bus, so no desktop shortcut service: the key grab is what is tried.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/quiverbox-e2e-no-bus"
        cabinet = os.path.join(root, "work.qvf")
        # No caption starts with what is typed: typed into the tree instead of the
        # search field, it would select nothing.
        add(cabinet, "Animals\\Item1", b"zebra stripes\0")
        add(cabinet, "Other\\Item2", b"plain\0")

        a = Program(env, os.path.join(root, "a"), cabinet)
        keys(env, "alt+v", "d")  # View menu, Display All: the rows stand where the test expects them
        run("xdotool", "mousemove", "120", str(FIRST_ROW_Y + 4 * ROW_HEIGHT), "click", "1", env=env)  # Item2
        time.sleep(0.4)
        keys(env, "ctrl+shift+v")  # in its own window: View File Cabinet Items
        # Another program, whose setting names no key, has the keyboard.
        b = Program(env, os.path.join(root, "b"), os.path.join(root, "b.qvf"), hotkey=b"Ctrl+\x01+Nonsense\xff")
        assert b.has_focus()
        keys(env, "ctrl+shift+v")
        wait_for(a.has_focus, "the hotkey to bring the window to the front", timeout=10)
        run("xdotool", "type", "--delay", "50", "stripes", env=env)
        time.sleep(2.0)  # the search reads the cabinet first (slower in the sanitizer build)
        keys(env, "Return", "End", "Return")  # to the results, the last row (the one item), load it
        wait_for(lambda: clipboard(env) == b"zebra stripes", "the found item on the clipboard", timeout=10)
        a.quit()
        assert a.setting("ViewItemsMi_Checked") == "True", a.setting("ViewItemsMi_Checked")
        assert a.setting("GlobalHotkey_ShortCut") == "Ctrl+Shift+V", a.setting("GlobalHotkey_ShortCut")
        print("ok: the hotkey brings the window up with the search field focused; the window keeps its own key")

        # Another hotkey from the settings file. Ctrl+Shift+V is nobody's now: the
        # program that has the keyboard gets it.
        c = Program(env, os.path.join(root, "c"), cabinet, hotkey=b" alt + f9 ")
        b.focus()
        keys(env, "ctrl+shift+v")
        assert b.has_focus()
        keys(env, "alt+F9")
        wait_for(c.has_focus, "Alt+F9 to bring the window to the front", timeout=10)
        # The keyboard's mapping moves F9 to a key that had nothing: the grab follows it.
        table = keyboard_map(env)
        old = min(code for code, syms in table.items() if syms[:1] == ["F9"])
        new = max(code for code, syms in table.items() if not syms)
        run("xmodmap", "-e", "keycode %d =" % old, "-e", "keycode %d = F9" % new, env=env)
        time.sleep(0.5)
        b.focus()
        keys(env, "alt+F9")
        wait_for(c.has_focus, "Alt+F9 on its new key to bring the window to the front", timeout=10)
        # A new keyboard layout puts F9 back where it was.
        run("setxkbmap", "-layout", "us", env=env)
        assert keyboard_map(env)[old][:1] == ["F9"]
        time.sleep(0.5)
        b.focus()
        keys(env, "alt+F9")
        wait_for(c.has_focus, "Alt+F9 after a new layout to bring the window to the front", timeout=10)
        c.quit()
        assert c.setting("ViewItemsMi_Checked") == "False", c.setting("ViewItemsMi_Checked")
        b.quit()
        # Once, while nobody held the key; not while the other program held it.
        assert b.setting("ViewItemsMi_Checked") == "True", b.setting("ViewItemsMi_Checked")
        print("ok: a hotkey set in the settings file, also once the keyboard's mapping moved it; "
              "a setting that names no key")
        print("2 passed, 0 failed")
    finally:
        for proc in STARTED:
            if proc.poll() is None:
                proc.kill()
        xvfb.kill()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()

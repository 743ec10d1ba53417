#!/usr/bin/env python3
"""End to end on a real X11 display, with the real program and the real clipboard:

- AutoSave stores what xclip copies, and a stored item goes back onto the clipboard;
- a loaded item stands alone on the clipboard, and AutoSave then stores its format;
- a secret a password manager copies between two texts is not stored;
- five copies 50 ms apart while the program rewrites a 50 MB cabinet are all
  stored, in order, and a copy right after a delete is stored too.

Usage: x11_clipboard_test.py QUIVERBOX QVF CLIP_OWNER
Starts its own Xvfb; needs xvfb, xclip and xdotool (installed by ./test).
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

QUIVERBOX, QVF = sys.argv[1], sys.argv[2]
CLIP_OWNER = sys.argv[3] if len(sys.argv) > 3 else None  # other tests import this module without it
TEXT_COMMENT = b"\x8c1\x8c\xbf\xa53\xa5\xbf"

# The explorer's rows once every entry is displayed (View > Display All): the
# first row's centre (below the search field), and the height of a row.
FIRST_ROW_Y, ROW_HEIGHT = 108, 18


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def wait_for(predicate, what, timeout=30.0):
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


STARTED = []  # every process a case started, ended after the case


class Program:
    def __init__(self, env, cabinet):
        self.env = env
        self.proc = subprocess.Popen([QUIVERBOX, cabinet], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        STARTED.append(self.proc)
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

    def display_all(self):
        self.keys("alt+v", "d")  # View menu, Display All Explorer's Entries

    def click_row(self, row):
        self.click(120, FIRST_ROW_Y + row * ROW_HEIGHT)

    def boxes(self):
        """The titles of the program's message boxes that are open."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid), "--name", ""],
                               capture_output=True, text=True, env=self.env).stdout.split()
        titles = []
        for window in found:
            name = subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True,
                                  env=self.env).stdout.strip()
            # The window system shows a dialog's caption with the program's name after it.
            caption = name.removesuffix(" \u2014 Quiverbox")
            if caption in ("Error", "Warning", "Information", "Confirm"):
                titles.append(caption)
        return titles

    def quit(self, restore_question=False):
        assert self.proc.poll() is None, "the program ended by itself: %s" % self.proc.returncode
        # Without a window manager the focus does not come back by itself after a box.
        run("xdotool", "windowfocus", "--sync", self.window, env=self.env)
        # Exit asks first. On a busy machine the question can take longer to show than a key
        # takes to arrive, and a Return that comes first answers nothing.
        self.keys("alt+F4")
        wait_for(lambda: "Confirm" in self.boxes(), "the question whether to quit")
        self.keys("Return")
        if restore_question:
            self.keys("Escape")  # "Do you wish to restore the original stored clip?": Cancel
        self.proc.wait(timeout=30)
        assert self.proc.returncode == 0, self.proc.returncode


def copy(env, text):
    subprocess.run(["xclip", "-selection", "clipboard"], input=text, text=True, env=env, check=True)


def copy_and_wait_until_read(env, text, timeout=20.0):
    """Copies text and returns once the program has read it (its list of types and then the text),
    or after timeout. X11 keeps a clip only while its owner holds the selection: a copy that replaces it
    before the program has read it is gone for every clipboard watcher, however busy or quick."""
    owner = subprocess.Popen(["xclip", "-selection", "clipboard", "-verbose"], stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    STARTED.append(owner)
    owner.stdin.write(text.encode())
    owner.stdin.close()
    seen = b""
    end = time.time() + timeout
    while b"request number 3" not in seen and time.time() < end:
        ready, _, _ = select.select([owner.stderr], [], [], 0.1)
        if ready:
            chunk = os.read(owner.stderr.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    return owner


def own_clipboard(env, *formats):
    """Puts one clip of several MIME types on the clipboard; returns its owner process."""
    owner = subprocess.Popen([CLIP_OWNER] + ["%s=%s" % f for f in formats], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    STARTED.append(owner)
    assert owner.stdout.readline().strip() == "owner ready"
    return owner


def targets(env):
    return run("xclip", "-o", "-selection", "clipboard", "-t", "TARGETS", env=env).split()


def items(cabinet):
    """{name: (data, comment)} of every entry, read by Python's zipfile."""
    with zipfile.ZipFile(cabinet) as z:
        assert z.testzip() is None
        return {i.filename: (z.read(i), i.comment) for i in z.infolist()}


def ls(cabinet):
    return run(QVF, "ls", cabinet)


def add(cabinet, item, data, fmt=1):
    subprocess.run([QVF, "add", cabinet, item, "-", "--format", str(fmt)], input=data, check=True,
                   capture_output=True)


# --- the cases ---------------------------------------------------------------------------------


def autosave_and_load(env, home):
    cabinet = os.path.join(home, "new.qvf")
    open(cabinet, "wb").close()  # a new, empty cabinet

    program = Program(env, cabinet)
    program.keys("alt+c", "a")  # Clipboard menu, Auto Save
    copy(env, "alpha text")
    wait_for(lambda: "Item0" in ls(cabinet), "the first clip")
    copy(env, "beta text")
    wait_for(lambda: "Item1" in ls(cabinet), "the second clip")
    program.quit()
    assert items(cabinet) == {
        "NewItems/Item0": (b"alpha text\x00", TEXT_COMMENT),
        "NewItems/Item1": (b"beta text\x00", TEXT_COMMENT),
    }, items(cabinet)

    # Again: open the drawer, select Item0, load it, read the clipboard.
    copy(env, "something else")
    program = Program(env, cabinet)
    program.click(10, FIRST_ROW_Y)                    # the cabinet's branch sign
    program.click(30, FIRST_ROW_Y + ROW_HEIGHT)       # the drawer's branch sign
    program.click(120, FIRST_ROW_Y + 2 * ROW_HEIGHT)  # Item0
    program.keys("alt+c", "l")  # Clipboard menu, Load Selected Item To Clipboard
    wait_for(lambda: run("xclip", "-o", "-selection", "clipboard", env=env) == "alpha text",
             "the item on the clipboard")
    program.quit(restore_question=True)  # the load replaced the clipboard: its backup is offered


def load_leaves_the_item_alone(env, home):
    cabinet = os.path.join(home, "load.qvf")
    wave = b"RIFF\x24\x00\x00\x00WAVEfmt some sound"
    add(cabinet, "Sounds\\Beep", wave, fmt=12)
    add(cabinet, "Texts\\Hello", b"hello text\x00")
    # Rich text copied in another program: plain text and HTML.
    owner = own_clipboard(env, ("text/plain", "old text"), ("text/html", "<b>old rich text</b>"))
    program = Program(env, cabinet)
    program.display_all()  # rows: 0 the cabinet, 1 Sounds, 2 Beep, 3 Texts, 4 Hello
    program.click_row(4)
    program.keys("alt+c", "l")  # Load Selected Item To Clipboard
    wait_for(lambda: run("xclip", "-o", "-selection", "clipboard", env=env) == "hello text",
             "the text item on the clipboard")
    owner.wait(timeout=10)  # it lost the clipboard
    offered = targets(env)
    assert "text/html" not in offered, offered  # nothing of the old clip is pasted
    assert "text/plain" in offered, offered

    # With AutoSave on, loading the wave item stores the wave, not the text before it.
    program.keys("alt+c", "a")
    program.click_row(2)
    program.keys("alt+c", "l")
    wait_for(lambda: "NewItems\\Item0" in ls(cabinet), "the loaded wave stored again")
    offered = targets(env)
    assert "audio/wav" in offered and "text/plain" not in offered, offered
    program.quit(restore_question=True)
    stored = items(cabinet)
    assert stored["NewItems/Item0"][0] == wave, stored
    assert stored["NewItems/Item0"][1].startswith(b"\x8c12\x8c\xbf"), stored


def secrets_are_not_stored(env, home):
    cabinet = os.path.join(home, "secrets.qvf")
    open(cabinet, "wb").close()
    program = Program(env, cabinet)
    program.keys("alt+c", "a")
    copy(env, "first text")
    wait_for(lambda: "Item0" in ls(cabinet), "the first text")
    # As a password manager copies a password.
    owner = own_clipboard(env, ("text/plain", "hunter2"), ("x-kde-passwordManagerHint", "secret"))
    time.sleep(1.0)
    copy(env, "second text")
    owner.wait(timeout=10)
    wait_for(lambda: "Item1" in ls(cabinet), "the second text")
    time.sleep(0.5)
    program.quit()
    assert items(cabinet) == {
        "NewItems/Item0": (b"first text\x00", TEXT_COMMENT),
        "NewItems/Item1": (b"second text\x00", TEXT_COMMENT),
    }, items(cabinet)


def copies_while_a_big_cabinet_is_rewritten(env, home):
    cabinet = os.path.join(home, "big.qvf")
    add(cabinet, "Big\\Blob", os.urandom(50 << 20), fmt=12)
    program = Program(env, cabinet)
    program.keys("alt+c", "a")
    # Each copy replaces the last as soon as the program has read it, while the first is being stored.
    for n in range(1, 6):
        copy_and_wait_until_read(env, "copy %d" % n)
        time.sleep(0.05)
    wait_for(lambda: "NewItems\\Item4" in ls(cabinet), "five clips", timeout=90)
    time.sleep(1.0)
    assert program.boxes() == [], program.boxes()
    stored = items(cabinet)
    clips = {name: data for name, (data, _) in stored.items() if name.startswith("NewItems/")}
    assert clips == {"NewItems/Item%d" % k: b"copy %d\x00" % (k + 1) for k in range(5)}, clips

    # Delete Item0, and copy 0.1 s after the delete's question is answered.
    program.display_all()  # rows: 0 the cabinet, 1 Big, 2 Blob, 3 NewItems, 4 Item0
    program.click_row(4)
    program.keys("alt+e", "d")  # Delete Selected Item: "Are you sure ...?"
    run("xdotool", "key", "Return", env=env)
    time.sleep(0.1)
    copy(env, "after the delete")
    wait_for(lambda: b"after the delete\x00" in [d for d, _ in items(cabinet).values()], "the copy after the delete",
             timeout=60)
    time.sleep(1.0)
    assert program.boxes() == [], program.boxes()
    stored = {name: data for name, (data, _) in items(cabinet).items() if name.startswith("NewItems/")}
    assert sorted(stored.values()) == sorted([b"after the delete\x00"] + [b"copy %d\x00" % k for k in range(2, 6)]), \
        stored
    program.quit()
    leftovers = sorted(f for f in os.listdir(home) if "big.qvf" in f and f != ".big.qvf.lock")
    assert leftovers == ["big.qvf"], leftovers  # no temporary file left behind


def main():
    home = tempfile.mkdtemp(prefix="qb-e2e-")
    xvfb, display = start_xvfb()
    cases = [autosave_and_load, load_leaves_the_item_alone, secrets_are_not_stored,
             copies_while_a_big_cabinet_is_rewritten]
    passed = failed = 0
    try:
        env = dict(os.environ, DISPLAY=display, QUIVERBOX_HOME=home)
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        for case in cases:
            try:
                case(env, home)
                passed += 1
            except Exception as e:  # report every case, then fail
                failed += 1
                print("FAILED %s: %r" % (case.__name__, e), file=sys.stderr)
            for proc in STARTED:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            STARTED.clear()
        print("%d passed, %d failed" % (passed, failed))
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()

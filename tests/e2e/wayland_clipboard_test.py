#!/usr/bin/env python3
"""End to end with a real Wayland compositor (headless sway) and its clipboard:

- with Auto Save on, what wl-copy copies is stored, one item per copy, although
  the program never has the compositor's focus (its window is on an X11 display
  of its own, so it has no surface on the compositor at all: only data-control
  lets it see these copies);
- a secret a password manager copies (the text beside x-kde-passwordManagerHint)
  is not stored;
- a loaded item is what wl-paste reads, a big one too, Auto Save stores the
  loaded item again, and a copy of another program after a load is stored.

Usage: wayland_clipboard_test.py QUIVERBOX QVF WL_CLIP_OWNER
Starts its own sway (WLR_BACKENDS=headless) and Xvfb; needs sway, wl-clipboard,
xvfb and xdotool (installed by ./test). Exits 77 (skipped) when the compositor
cannot be started.
"""
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_clipboard_test import Program, STARTED, add, items, ls, start_xvfb, wait_for  # noqa: E402

QUIVERBOX, QVF, WL_CLIP_OWNER = sys.argv[1], sys.argv[2], sys.argv[3]
TEXT_COMMENT = b"\x8c1\x8c\xbf\xa53\xa5\xbf"
SKIP = 77


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def start_sway(runtime):
    """A headless sway on a socket in runtime; returns (process, socket name)."""
    if not shutil.which("sway"):
        skip("sway is not installed")
    config = os.path.join(runtime, "sway.config")
    with open(config, "w") as f:
        f.write("xwayland disable\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
               WLR_RENDERER="pixman")
    for name in ("WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK"):
        env.pop(name, None)
    command = ["sway", "-c", config]
    if os.getuid() == 0:  # sway refuses to run as root: as nobody, which root's clients can still reach
        nobody = pwd.getpwnam("nobody")
        os.chown(runtime, nobody.pw_uid, nobody.pw_gid)
        command = ["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid, "--clear-groups"] + command
    log = open(os.path.join(runtime, "sway.log"), "wb")
    proc = subprocess.Popen(command, env=env, stdout=log, stderr=log)
    end = time.time() + 15
    while time.time() < end:
        sockets = [n for n in os.listdir(runtime) if n.startswith("wayland-") and not n.endswith(".lock")]
        if sockets and wl(runtime, sockets[0], "wl-paste", "--list-types").returncode in (0, 1):
            return proc, sockets[0]
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    proc.kill()
    proc.wait()
    with open(os.path.join(runtime, "sway.log"), "rb") as f:
        tail = f.read()[-600:].decode(errors="replace")
    skip("the compositor did not start: " + tail.strip().replace("\n", " | "))


def wl(runtime, socket, *args, **kw):
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=socket)
    env.pop("DISPLAY", None)
    return subprocess.run(args, env=env, capture_output=True, timeout=30, **kw)


class Wayland:
    def __init__(self, runtime, socket):
        self.runtime, self.socket = runtime, socket

    def copy(self, text):
        # wl-copy leaves a child serving the clip: its output must not be waited for.
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, WAYLAND_DISPLAY=self.socket)
        env.pop("DISPLAY", None)
        subprocess.run(["wl-copy"], input=text.encode(), env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=30)

    def paste(self, mime=None):
        args = ["wl-paste", "--no-newline"] + (["--type", mime] if mime else [])
        result = wl(self.runtime, self.socket, *args)
        return result.stdout if result.returncode == 0 else None

    def types(self):
        return wl(self.runtime, self.socket, "wl-paste", "--list-types").stdout.decode().split()

    def own(self, *formats):
        """Puts one clip of several MIME types on the clipboard; returns its owner process."""
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, WAYLAND_DISPLAY=self.socket)
        owner = subprocess.Popen([WL_CLIP_OWNER] + ["%s=%s" % f for f in formats], env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        STARTED.append(owner)
        assert owner.stdout.readline().strip() == "owner ready"
        return owner


# --- the cases ---------------------------------------------------------------------------------


def autosave_stores_copies_of_other_programs(env, home, wayland):
    cabinet = os.path.join(home, "copies.qvf")
    open(cabinet, "wb").close()
    program = Program(env, cabinet)
    program.keys("alt+c", "a")  # Clipboard menu, Auto Save
    wayland.copy("alpha text")
    wait_for(lambda: "Item0" in ls(cabinet), "the first copy")
    wayland.copy("beta text")
    wait_for(lambda: "Item1" in ls(cabinet), "the second copy")
    # As a password manager copies a password: not stored.
    owner = wayland.own(("text/plain", "hunter2"), ("x-kde-passwordManagerHint", "secret"))
    time.sleep(1.0)
    wayland.copy("gamma text")
    owner.wait(timeout=10)  # it lost the clipboard
    wait_for(lambda: "Item2" in ls(cabinet), "the copy after the secret")
    time.sleep(0.5)
    assert program.boxes() == [], program.boxes()
    program.quit()
    assert items(cabinet) == {
        "NewItems/Item0": (b"alpha text\x00", TEXT_COMMENT),
        "NewItems/Item1": (b"beta text\x00", TEXT_COMMENT),
        "NewItems/Item2": (b"gamma text\x00", TEXT_COMMENT),
    }, items(cabinet)


def load_is_what_wl_paste_reads(env, home, wayland):
    cabinet = os.path.join(home, "load.qvf")
    sound = b"RIFF" + os.urandom(40 << 20)  # big: served while the program goes on
    add(cabinet, "Sounds\\Big", sound, fmt=12)
    add(cabinet, "Texts\\Hello", "hello text \u00e9\u20ac\x00".encode())
    wayland.copy("something else")
    program = Program(env, cabinet)
    program.display_all()  # rows: 0 the cabinet, 1 Sounds, 2 Big, 3 Texts, 4 Hello
    program.click_row(4)
    program.keys("alt+c", "l")  # Load Selected Item To Clipboard
    wait_for(lambda: wayland.paste() == "hello text \u00e9\u20ac".encode(), "the text item in wl-paste")
    offered = wayland.types()
    assert "text/plain" in offered and "text/plain;charset=utf-8" in offered, offered
    assert wayland.paste("text/plain;charset=utf-8") == "hello text \u00e9\u20ac".encode()

    # With Auto Save on, the loaded wave is stored again, and another program reads it whole.
    program.keys("alt+c", "a")
    program.click_row(2)
    program.keys("alt+c", "l")
    wait_for(lambda: "NewItems\\Item0" in ls(cabinet), "the loaded wave stored again", timeout=60)
    assert "audio/wav" in wayland.types(), wayland.types()
    pasted = wayland.paste("audio/wav")
    assert pasted == sound, (len(pasted or b""), len(sound))
    # Another program copies after the load: its clip, not the loaded one, is seen and stored.
    wayland.copy("after the load")
    wait_for(lambda: "NewItems\\Item1" in ls(cabinet), "the copy after the load")
    assert program.boxes() == [], program.boxes()
    program.quit(restore_question=True)  # the load replaced the clipboard: its backup is offered
    stored = items(cabinet)
    assert stored["NewItems/Item0"][0] == sound
    assert stored["NewItems/Item0"][1].startswith(b"\x8c12\x8c\xbf"), stored["NewItems/Item0"][1]
    assert stored["NewItems/Item1"] == (b"after the load\x00", TEXT_COMMENT), stored["NewItems/Item1"]
    assert len(stored) == 4, sorted(stored)


def the_compositor_going_away_loses_nothing(env, home, wayland):
    """Last, as it ends the compositor: the program goes on and ends cleanly, and nothing more is stored."""
    cabinet = os.path.join(home, "lost.qvf")
    open(cabinet, "wb").close()
    program = Program(env, cabinet)
    program.keys("alt+c", "a")  # Auto Save
    wayland.copy("before the end")
    wait_for(lambda: "Item0" in ls(cabinet), "the copy before the compositor ends")
    wayland.sway.kill()
    wayland.sway.wait()
    # The clipboard now reads empty, and Auto Save says so once, as for any emptied clipboard.
    wait_for(lambda: program.boxes() == ["Error"], "the box about the emptied clipboard")
    program.keys("Return")
    time.sleep(1.0)
    assert program.proc.poll() is None, "the program ended with the compositor: %s" % program.proc.returncode
    assert program.boxes() == [], program.boxes()
    program.quit()
    assert items(cabinet) == {"NewItems/Item0": (b"before the end\x00", TEXT_COMMENT)}, items(cabinet)

def main():
    home = tempfile.mkdtemp(prefix="qb-e2e-wayland-")
    runtime = tempfile.mkdtemp(prefix="qb-e2e-runtime-")
    os.chmod(runtime, 0o700)
    sway = xvfb = None
    passed = failed = 0
    try:
        sway, socket = start_sway(runtime)
        wayland = Wayland(runtime, socket)
        wayland.sway = sway
        xvfb, display = start_xvfb()
        # The window on Xvfb, the clipboard on the compositor.
        env = dict(os.environ, DISPLAY=display, WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=runtime,
                   QUIVERBOX_HOME=home, QT_QPA_PLATFORM="xcb")
        for case in [autosave_stores_copies_of_other_programs, load_is_what_wl_paste_reads,
                     the_compositor_going_away_loses_nothing]:
            try:
                case(env, home, wayland)
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
        for proc in (xvfb, sway):
            if proc:
                proc.terminate()
                proc.wait()
        shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(runtime, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()

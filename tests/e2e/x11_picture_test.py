#!/usr/bin/env python3
"""End to end on a real X11 display: a big picture loaded from the cabinet is
pasted by another program as PNG (xclip -t image/png), and the PNG holds the
picture.

Usage: x11_picture_test.py QUIVERBOX QVF
Starts its own Xvfb; needs xvfb, xclip and xdotool (installed by ./test).
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11_clipboard_test import FIRST_ROW_Y, ROW_HEIGHT, Program, run, start_xvfb, wait_for  # noqa: E402

QUIVERBOX, QVF = sys.argv[1], sys.argv[2]
WIDTH, HEIGHT = 4000, 3000


def photo_bmp():
    """A 24-bit BMP whose rows are shifted windows of one noisy gradient."""
    base = bytes(((i * 7) ^ (i >> 5)) & 0xFF for i in range(WIDTH * 3 + 3 * 256))
    rows = [base[3 * (y % 256):3 * (y % 256) + WIDTH * 3] for y in range(HEIGHT)]  # stored bottom row first
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return header + info + pixels, rows


def png_rows(png, count):
    """The first count rows of an 8-bit RGB PNG, unfiltered (filters None and Up)."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n", png[:8]
    at, idat, size = 8, b"", None
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        data = png[at + 8:at + 8 + length]
        if kind == b"IHDR":
            size = struct.unpack(">II", data[:8])
            assert data[8:10] == b"\x08\x02", data[8:10]
        elif kind == b"IDAT":
            idat += data
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + 3 * size[0]
    assert len(raw) == stride * size[1]
    rows, above = [], bytes(3 * size[0])
    for y in range(count):
        kind, line = raw[y * stride], raw[y * stride + 1:(y + 1) * stride]
        assert kind in (0, 2), kind
        if kind == 2:
            line = bytes((a + b) & 0xFF for a, b in zip(line, above))
        rows.append(line)
        above = line
    return size, rows


def main():
    home = tempfile.mkdtemp(prefix="qb-e2e-picture-")
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, QUIVERBOX_HOME=home)
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        cabinet = os.path.join(home, "pictures.qvf")
        bmp, bmp_rows = photo_bmp()
        subprocess.run([QVF, "add", cabinet, "NewItems\\Photo", "-", "--format", "2"], input=bmp, check=True,
                       stdout=subprocess.DEVNULL)

        program = Program(env, cabinet)
        program.click(10, FIRST_ROW_Y)                    # the cabinet's branch sign
        program.click(30, FIRST_ROW_Y + ROW_HEIGHT)       # the drawer's branch sign
        program.click(120, FIRST_ROW_Y + 2 * ROW_HEIGHT)  # Photo
        program.keys("alt+c", "l")  # Clipboard menu, Load Selected Item To Clipboard
        def targets():  # xclip fails while the clipboard is empty
            return subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"], env=env,
                                  capture_output=True, text=True).stdout

        wait_for(lambda: "image/png" in targets(), "the picture on the clipboard")
        start = time.time()
        png = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "image/png"], env=env,
                             capture_output=True, check=True, timeout=60).stdout
        took = time.time() - start
        size, rows = png_rows(png, 2)
        assert size == (WIDTH, HEIGHT), size
        for y in range(2):  # the BMP's top rows are its last ones, blue-green-red
            bgr = bmp_rows[HEIGHT - 1 - y]
            rgb = bytearray(len(bgr))
            rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
            assert rows[y] == bytes(rgb), y
        # A second paste is served from the same encoding.
        again = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "image/png"], env=env,
                               capture_output=True, check=True, timeout=60).stdout
        assert again == png
        print("pasted a %dx%d picture as PNG (%.1f MB) in %.2f s" % (WIDTH, HEIGHT, len(png) / 1e6, took))
        program.quit()  # the clipboard was empty before the load: no backup to offer
        print("1 passed, 0 failed")
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()

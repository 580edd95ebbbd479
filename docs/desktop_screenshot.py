#!/usr/bin/python3
"""The README's picture of `vurnel desktop edit`, made under Xvfb (docs/screenshots.sh runs it).

Usage: desktop_screenshot.py VURNEL LV2_BUNDLE OUT.png

A PipeWire daemon of its own (tests/pipewire_daemon.py) runs the filter from a freshly
installed drop-in; `vurnel desktop set` makes a few settings; the window is photographed.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from pipewire_daemon import Session, wait_for, write_daemon_config  # noqa: E402
from test_desktop_edit import X, open_editor, close  # noqa: E402


def write_png(path, width, height, pixels):
    rows = b"".join(b"\0" + b"".join(struct.pack(">I", p)[1:] for p in
                                     pixels[y * width:(y + 1) * width]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8,
                                                                    2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    vurnel, bundle, out = (os.path.abspath(p) for p in sys.argv[1:4])
    work = tempfile.mkdtemp(prefix="vurnel-shot-")
    session = None
    try:
        xdg = os.path.join(work, "xdg")
        os.makedirs(xdg)
        quiet = Session(work, bundle, config_home=xdg, runtime="run0")
        env = dict(quiet.env)
        subprocess.run([vurnel, "desktop", "install", "--bass=6", "--treble=-3",
                        "--bass-cutoff=150", "--treble-cutoff=4500"], env=env, check=True,
                       capture_output=True)
        config = os.path.join(work, "daemon")
        drop_ins = os.path.join(xdg, "pipewire", "pipewire.conf.d")
        os.symlink(drop_ins, write_daemon_config(config))
        session = Session(work, bundle, config_home=xdg, runtime="run1")
        if not session.start_daemon(config) or not wait_for(
                "the filter", lambda: "effect_input.vurnel" in subprocess.run(
                    ["pw-cli", "ls", "Node"], env=session.env, capture_output=True,
                    text=True).stdout, 30):
            print(session.log_tail())
            return 1
        editor, window = open_editor(session)
        time.sleep(1.0)
        x = X()
        pixels = x.picture(window, (0, 0, 640, 380))
        close(editor)
        if len(pixels) != 640 * 380:
            print("no picture of the window")
            return 1
        write_png(out, 640, 380, pixels)
        print(f"wrote {out}")
        return 0
    finally:
        if session:
            session.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

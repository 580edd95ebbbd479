#!/usr/bin/python3
"""`vurnel desktop edit` under Xvfb on a PipeWire daemon of the test's own.

Usage (under xvfb-run): test_desktop_edit.py VURNEL BUNDLE_DIR

The drop-in is installed and a daemon loads it, as tests/test_desktop.py does. The window's bass
knob is dragged up with XTest: the running filter's bass (read back with `vurnel desktop show`)
and the drop-in must both rise to the same value. A `vurnel desktop set` from outside must
redraw the knob. With no filter running, the window must show its message and a drag must
change nothing.
"""
import ctypes
import ctypes.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from checks import Checks  # noqa: E402
from pipewire_daemon import Session, stop_sessions, wait_for, write_daemon_config  # noqa: E402

VURNEL, BUNDLE = (os.path.abspath(p) for p in sys.argv[1:3])
CHECKS = Checks()
check = CHECKS.check
LINKED = "effect_output.vurnel:output_FL\n  |-> null-sink:playback_FL"
# Where the editor lays out the bass knob (knob 0) and the graph at scale 1, 640 x 380
# (ToneEditorModel::Layout): the inputs of the drag, not results.
BASS_KNOB = (89, 310)
KNOB_BOX = (12, 262, 154, 106)
GRAPH_CENTRE = (48 + 580 // 2 - 40, 12 + 230 // 2 - 10, 80, 20)
# The message's box: cairo's rgb(0.12, 0.12, 0.14), within a step of rounding.
MESSAGE_BACKGROUND = (31, 31, 36)


def has_message(pixels):
    """Whether most of the pixels are the message box's background."""
    near = [p for p in pixels if all(abs(((p >> s) & 0xFF) - c) <= 2
                                     for s, c in zip((16, 8, 0), MESSAGE_BACKGROUND))]
    return len(near) > len(pixels) // 2


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_uint32)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class X:
    """The test's own connection: XTest input and XGetImage pictures of a window."""

    def __init__(self):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_ulong)]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(None)
        assert self.d, "no X display"

    def root_of(self, window, x, y):
        rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.x.XTranslateCoordinates(self.d, window, self.x.XDefaultRootWindow(self.d), x, y,
                                     ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(child))
        return rx.value, ry.value

    def drag(self, window, at, dy):
        x, y = self.root_of(window, *at)
        steps = [(x, y)] + [(x, y + dy * i // 6) for i in range(1, 7)]
        self.xtst.XTestFakeMotionEvent(self.d, 0, x, y, 0)
        self.x.XSync(self.d, 0)
        time.sleep(0.2)
        self.xtst.XTestFakeButtonEvent(self.d, 1, 1, 0)
        for sx, sy in steps[1:]:
            self.x.XSync(self.d, 0)
            time.sleep(0.1)
            self.xtst.XTestFakeMotionEvent(self.d, 0, sx, sy, 0)
        self.x.XSync(self.d, 0)
        time.sleep(0.2)
        self.xtst.XTestFakeButtonEvent(self.d, 1, 0, 0)
        self.x.XSync(self.d, 0)
        time.sleep(0.5)

    def picture(self, window, box):
        x, y, w, h = box
        image = self.x.XGetImage(self.d, window, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return []
        im = image.contents
        stride = im.bytes_per_line // 4
        pixels = [im.data[j * stride + i] & 0xFFFFFF for j in range(h) for i in range(w)]
        self.x.XFree(image)  # the image's memory; its pixels leak, a test's few kilobytes
        return pixels


def open_editor(session):
    """Starts `vurnel desktop edit`; returns the process and its window's ID."""
    editor = subprocess.Popen([VURNEL, "desktop", "edit"],
                              env=dict(session.env, DISPLAY=os.environ["DISPLAY"]),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              start_new_session=True)
    line = editor.stdout.readline()
    match = re.match(r"window (0x[0-9a-f]+)", line)
    time.sleep(0.5)
    return editor, int(match.group(1), 16) if match else 0


def close(editor):
    editor.terminate()
    try:
        _, err = editor.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        editor.kill()
        _, err = editor.communicate()
    return err


def main():
    work = tempfile.mkdtemp(prefix="vurnel-desktop-edit-")
    sessions = []
    try:
        x = X()
        xdg = os.path.join(work, "xdg")
        os.makedirs(xdg)
        drop_in = os.path.join(xdg, "pipewire", "pipewire.conf.d", "vurnel.conf")
        quiet = Session(work, BUNDLE, config_home=xdg, runtime="run0")
        sessions.append(quiet)

        def vurnel(session, *args):
            return subprocess.run([VURNEL, "desktop", *args], env=session.env,
                                  capture_output=True, text=True, timeout=30)

        def bass(text):
            found = re.search(r"\n  bass +([-+][\d.]+) dB", text)
            return float(found.group(1)) if found else None

        def file_bass():
            found = re.search(r'"bass"\s*=\s*(-?[\d.]+)', open(drop_in).read())
            return float(found.group(1)) if found else None

        r = vurnel(quiet, "install", "--bass=0", "--treble=0")
        check("the drop-in is installed", r.returncode == 0, r.stdout + r.stderr)

        # No filter running: the message, and a drag changes nothing.
        before = open(drop_in).read()
        editor, window = open_editor(quiet)
        shown = x.picture(window, GRAPH_CENTRE)
        x.drag(window, BASS_KNOB, -60)
        err = close(editor)
        check("with no filter running the window opens, shows its message over the graph and "
              "a drag changes nothing", window != 0 and has_message(shown) and
              open(drop_in).read() == before and "no Vurnel filter is running" in err,
              f"window {window:#x}, colours over the graph {sorted(set(shown))[:6]}; {err}")

        config = os.path.join(work, "daemon")
        os.symlink(os.path.dirname(drop_in), write_daemon_config(config))
        session = Session(work, BUNDLE, config_home=xdg, runtime="run1")
        sessions.append(session)
        running = session.start_daemon(config)
        session.start_wireplumber()
        running = running and wait_for("WirePlumber to link the filter",
                                       lambda: LINKED in session.links())
        check("PipeWire runs the filter", running, session.log_tail())

        editor, window = open_editor(session)
        shown = x.picture(window, GRAPH_CENTRE)
        x.drag(window, BASS_KNOB, -60)
        live = bass(vurnel(session, "show").stdout)
        check("a drag up on the bass knob raises the running filter's bass, and the drop-in "
              "holds the same value", window != 0 and not has_message(shown) and
              live is not None and live >= 4.0 and file_bass() is not None and
              abs(file_bass() - live) < 0.051, f"live {live}, file {file_bass()}")

        knob = x.picture(window, KNOB_BOX)
        r = vurnel(session, "set", "--bass=-9")
        redrawn = wait_for("the window to redraw the bass knob",
                           lambda: x.picture(window, KNOB_BOX) != knob, 10)
        check("a `vurnel desktop set` from outside redraws the window", r.returncode == 0 and
              redrawn, r.stdout + r.stderr)
        err = close(editor)
        check("closing the window leaves the filter as it is",
              bass(vurnel(session, "show").stdout) == -9.0, err)
    finally:
        stop_sessions(sessions, CHECKS)
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

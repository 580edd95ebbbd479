"""The editor in a real host: Debian's jalv.gtk3 embeds it through suil (an X11 UI inside a GTK 3
window) with a JACK server on its dummy driver, all under an Xvfb of the test's own. Proves: the
editor appears at its size inside jalv's window and draws its curve; a knob dragged in the editor
with XTest (xdotool) changes the control jalv reports.

Usage: test_editor_jalv.py BUNDLE_DIR
"""
import math
import os
import re
import subprocess
import sys
import tempfile
import time

from checks import Checks

URI = "urn:mirvak:vurnel"
WIDTH, HEIGHT = 640, 380
# The Bass knob's centre in the editor at scale 1 (the model's layout: a 12-pixel margin, four
# knob boxes of 154 pixels, knob centres 48 pixels below the top of the knob row).
BASS_KNOB = (12 + 77, HEIGHT - 118 + 48)


def start_xvfb(log):
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write,), stdout=log, stderr=log)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read)
    return xvfb, ":" + number.decode().strip()


def waited(condition, seconds):
    """The condition's first true value within the given seconds, polled; else None."""
    deadline = time.time() + seconds
    while True:
        value = condition()
        if value or time.time() > deadline:
            return value or None
        time.sleep(0.2)


def editor_window(env):
    """The editor's window (the deepest 640x380 window) and its position on the screen."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True,
                          text=True).stdout
    found = re.findall(r"(0x[0-9a-f]+) \(has no name\): \(\)\s+%dx%d\+-?\d+\+-?\d+\s+\+(\d+)\+(\d+)"
                       % (WIDTH, HEIGHT), tree)
    return (found[-1][0], int(found[-1][1]), int(found[-1][2])) if found else None


def curve_pixels(env, shot, x, y):
    """How many pixels of the editor's area carry the curve's colour."""
    r = subprocess.run(["convert", shot, "-crop", f"{WIDTH}x{HEIGHT}+{x}+{y}", "+repage",
                        "-fuzz", "12%", "-fill", "white", "-opaque", "#f59e29",
                        "-fill", "black", "+opaque", "white", "-format", "%[fx:mean*w*h]",
                        "info:"], env=env, capture_output=True, text=True)
    return float(r.stdout or 0)


def curve_row(env, shot, x, top, bottom):
    """The mean row of the curve's colour in one column of a screenshot, None if absent."""
    r = subprocess.run(["convert", shot, "-crop", f"1x{bottom - top}+{x}+{top}", "+repage",
                        "txt:-"], env=env, capture_output=True, text=True)
    rows = []
    for line in r.stdout.splitlines():
        m = re.match(r"0,(\d+): \((\d+),(\d+),(\d+)", line)
        if m and int(m.group(2)) - int(m.group(4)) > 120:
            rows.append(int(m.group(1)) + top)
    return sum(rows) / len(rows) if rows else None


def main():
    bundle = os.path.abspath(sys.argv[1])
    checks = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        log = open(os.path.join(tmp, "servers.log"), "w")
        xvfb, display = start_xvfb(log)
        server = f"vurnel-editor-{os.getpid()}"
        env = dict(os.environ, DISPLAY=display, HOME=tmp, JACK_DEFAULT_SERVER=server,
                   JACK_NO_AUDIO_RESERVATION="1", LV2_PATH=os.path.dirname(bundle),
                   XDG_RUNTIME_DIR=tmp, NO_AT_BRIDGE="1")
        jack = subprocess.Popen(["jackd", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"],
                                env=env, stdout=log, stderr=log)
        jalv = None
        try:
            # Waits are for a condition, with room for a slow or busy machine: none of them
            # asserts how fast the host, the server or the editor is.
            waited(lambda: subprocess.run(["jack_lsp", "-s", server],
                                          env=dict(env, JACK_NO_START_SERVER="1"),
                                          capture_output=True).returncode == 0, 60)
            out = open(os.path.join(tmp, "jalv.out"), "w+")
            jalv = subprocess.Popen(["jalv.gtk3", "-d", URI], env=env, stdout=out,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            window = waited(lambda: editor_window(env) if jalv.poll() is None else None, 60)
            checks.check(f"jalv embeds the editor at {WIDTH}x{HEIGHT}", window is not None,
                         "" if window else "no such window")
            if window:
                _, x, y = window
                shot = os.path.join(tmp, "jalv.png")

                def screenshot():
                    subprocess.run(["import", "-window", "root", shot], env=env, check=True)
                    return shot

                pixels = waited(lambda: curve_pixels(env, screenshot(), x, y) > 300, 20)
                checks.check("the screenshot shows the editor's curve", pixels,
                             f"{curve_pixels(env, shot, x, y):.0f} curve pixels")
                # The curve at 25 Hz (the graph spans 48..628 pixels on a log axis from 20 Hz).
                column = x + 48 + round(580 * math.log10(25 / 20) / 3)
                before = curve_row(env, shot, column, y + 12, y + 242)
                kx, ky = x + BASS_KNOB[0], y + BASS_KNOB[1]
                subprocess.run(["xdotool", "mousemove", str(kx), str(ky), "mousedown", "1",
                                "sleep", "0.2", "mousemove", str(kx), str(ky - 30), "sleep", "0.2",
                                "mousemove", str(kx), str(ky - 60), "sleep", "0.3", "mouseup", "1"],
                               env=env, check=True)
                # 60 pixels of drag turn the Bass knob by a fifth of its 40 dB: about +8 dB, so
                # the curve at 25 Hz rises by about 40 pixels of the graph's 230 for 40 dB.
                after = None

                def risen():
                    nonlocal after
                    after = curve_row(env, screenshot(), column, y + 12, y + 242)
                    return before is not None and after is not None and before - after > 25

                checks.check("a knob dragged in jalv's editor raises the bass of its curve",
                             waited(risen, 20), f"curve row at 25 Hz {before} -> {after}")
        finally:
            for p in (jalv, jack, xvfb):
                if p is not None and p.poll() is None:
                    p.terminate()
                    try:
                        p.wait(5)
                    except subprocess.TimeoutExpired:
                        p.kill()
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())

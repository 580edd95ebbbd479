#!/usr/bin/python3
"""The LV2 plug-in in the desktop's audio: PipeWire's filter-chain, loaded from the drop-in file
the README gives users (packaging/pipewire-vurnel.conf), with WirePlumber linking the graph.

Usage: test_pipewire.py BUNDLE_DIR VST_MODULE

A PipeWire daemon of the test's own (its own runtime folder, a dummy driver, a null sink,
nothing from the user's session, a session bus of its own for WirePlumber) loads the drop-in; pw-play plays a file into the filter-chain's
input and pw-record records the null sink it feeds. Every complete 1024-frame quantum of the
recording must have the bits of the VST 2 module's render at the drop-in's control values;
pw-play pads and ends its last, partial quantum its own way, so that one is not compared.
Then a Props change (pw-cli set-param) mid-stream must make no click, and with the plug-in's
smooth toggle off must make one.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import vst_ctypes  # noqa: E402
from pipewire_daemon import QUANTUM, RATE, Session, wait_for, write_daemon_config  # noqa: E402
from checks import Checks  # noqa: E402

warnings.filterwarnings("ignore", message="Chunk")
BUNDLE, MODULE = (os.path.abspath(p) for p in sys.argv[1:3])
DROP_IN = os.path.join(HERE, "..", "packaging", "pipewire-vurnel.conf")
CHECKS = Checks()
check = CHECKS.check

def controls():
    """The drop-in's control values, as the plug-in's VST 2 parameter values."""
    text = open(DROP_IN).read()
    values = dict((k, float(v)) for k, v in re.findall(r'"(\w+)"\s*=\s*(-?[\d.]+)', text))
    spans = [("bass_cutoff", -50, 450), ("treble_cutoff", -3000, 7000), ("bass", 20, 40),
             ("treble", 20, 40)]
    return [(i, float((np.float32(values[s]) + np.float32(o)) / np.float32(n)))
            for i, (s, o, n) in enumerate(spans) if s in values]


def main():
    work = tempfile.mkdtemp(prefix="vurnel-pipewire-")
    session = None
    try:
        config = os.path.join(work, "config")
        drop_ins = write_daemon_config(config)
        os.makedirs(drop_ins)
        shutil.copy(DROP_IN, os.path.join(drop_ins, "vurnel.conf"))
        session = Session(work, BUNDLE, config_home=config)
        env, start, links = session.env, session.start, session.links
        ok = session.start_daemon(config)
        nodes = session.dump() if ok else ""
        check("PipeWire loads the drop-in: the filter-chain's input and output nodes exist",
              '"effect_input.vurnel"' in nodes and '"effect_output.vurnel"' in nodes)
        session.start_wireplumber()
        linked = wait_for("WirePlumber to link the filter-chain to the sink",
                          lambda: "effect_output.vurnel:output_FL\n  |-> null-sink:playback_FL"
                          in links())
        check("WirePlumber links the filter-chain's output to the sink", linked)

        t = np.arange(3 * RATE) / RATE
        rng = np.random.default_rng(5)
        tone = 0.1 * (np.sin(2 * np.pi * 100 * t) + np.sin(2 * np.pi * 1000 * t) +
                      np.sin(2 * np.pi * 12000 * t))
        signal_in = np.stack([tone + rng.normal(0, 0.01, t.size),
                              tone + rng.normal(0, 0.01, t.size)], 1).astype(np.float32)
        source, recorded = os.path.join(work, "in.wav"), os.path.join(work, "out.wav")
        wavfile.write(source, RATE, signal_in)
        recorder = start("pw-record", "--target", "null-sink", "-P",
                         "{ stream.capture.sink = true }", "--format", "f32", "--rate",
                         str(RATE), "--channels", "2", recorded)
        time.sleep(1.0)
        played = subprocess.run(["pw-play", "--target", "effect_input.vurnel", source], env=env,
                                capture_output=True, text=True, timeout=60)
        time.sleep(1.0)
        recorder.send_signal(signal.SIGINT)
        recorder.wait(timeout=10)
        check("pw-play plays into the filter-chain", played.returncode == 0, played.stderr[-300:])

        out = wavfile.read(recorded)[1] if os.path.exists(recorded) else np.zeros((0, 2))
        effect = vst_ctypes.Effect(MODULE)
        left, right = effect.render(signal_in[:, 0], signal_in[:, 1], RATE, controls())
        effect.close()
        expected = np.stack([left, right], 1)
        # Where the played file begins in the recording: the first quantum's bits.
        start_at = next((k for k in range(0, max(0, len(out) - QUANTUM))
                         if np.array_equal(out[k:k + QUANTUM], expected[:QUANTUM])), None)
        whole = len(expected) // QUANTUM * QUANTUM
        ok = start_at is not None and len(out) >= start_at + whole and \
            np.array_equal(out[start_at:start_at + whole], expected[:whole])
        detail = "the file's start not found" if start_at is None else \
            f"{2 * whole} samples compared from frame {start_at}, " \
            f"{np.count_nonzero(out[start_at:start_at + whole] != expected[:whole])} differ"
        check("the filter-chain's output has the VST 2 module's bits, quantum for quantum", ok,
              detail)

        # A Props change mid-stream glides: no click by the plug-in's own measure (the largest
        # sample-to-sample step while playing, over the largest of the settled output before
        # and after). With the smooth toggle off the same changes click.
        dump = subprocess.run(["pw-dump"], env=env, capture_output=True, text=True,
                              timeout=20).stdout
        node = next((o["id"] for o in json.loads(dump or "[]")
                     if o.get("info", {}).get("props", {}).get("node.name") ==
                     "effect_input.vurnel"), None)

        def set_props(params):
            return subprocess.run(["pw-cli", "set-param", str(node), "Props",
                                   "{ params = [ " + params + " ] }"], env=env,
                                  capture_output=True, text=True, timeout=10).returncode == 0

        sine = np.repeat(0.05 * np.sin(2 * np.pi * 100 * t)[:, None], 2, 1).astype(np.float32)
        wavfile.write(source, RATE, sine)
        for smooth in (1.0, 0.0):
            ok = node is not None and set_props(f'"tone:bass" 6.0 "tone:smooth" {smooth}')
            time.sleep(0.3)
            os.remove(recorded)
            recorder = start("pw-record", "--target", "null-sink", "-P",
                             "{ stream.capture.sink = true }", "--format", "f32", "--rate",
                             str(RATE), "--channels", "2", recorded)
            time.sleep(1.0)
            player = start("pw-play", "--target", "effect_input.vurnel", source)
            # One change; with smooth off, five (an instant change that lands where the tone's
            # bass is near zero makes only a small step, five of them cannot all).
            for k, bass in enumerate([20.0] if smooth else [20.0, 6.0, 20.0, 6.0, 20.0]):
                time.sleep(1.5 if smooth else 1.0 if k == 0 else 0.2)
                ok = set_props(f'"tone:bass" {bass}') and ok
            ok = player.wait(timeout=60) == 0 and ok
            time.sleep(1.0)
            recorder.send_signal(signal.SIGINT)
            recorder.wait(timeout=10)
            y = wavfile.read(recorded)[1][:, 0].astype(np.float64)
            playing = np.flatnonzero(np.abs(y) > 1e-6)
            steps = np.abs(np.diff(y[playing[0]:playing[-1]])) if playing.size else np.zeros(1)
            inner = steps[QUANTUM:-QUANTUM]
            settled = max(steps[QUANTUM:RATE // 2].max(), steps[-RATE // 2:-QUANTUM].max())
            ratio = inner.max() / settled
            louder = np.abs(y[playing[-1] - RATE // 2:playing[-1]]).max() / \
                np.abs(y[playing[0]:playing[0] + RATE // 2]).max()
            if smooth:
                check(f"a Props change mid-stream glides without a click (ratio {ratio:.2f}, "
                      f"{louder:.2f} times louder after)", ok and ratio <= 1.5 and louder > 4,
                      "")
            else:
                check(f"with smooth off changes click (ratio {ratio:.2f})",
                      ok and ratio > 10 and louder > 4, "")
    finally:
        if session:
            session.stop()
            if CHECKS.results and not all(CHECKS.results):
                print(session.log_tail())
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

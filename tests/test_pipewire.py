#!/usr/bin/python3
"""The LV2 plug-in in the desktop's audio: PipeWire's filter-chain, loaded from the drop-in file
the README gives users (packaging/pipewire-vurnel.conf), with WirePlumber linking the graph.

Usage: test_pipewire.py BUNDLE_DIR VST_MODULE

A PipeWire daemon of the test's own (its own runtime folder, a dummy driver, a null sink,
nothing from the user's session, a session bus of its own for WirePlumber) loads the drop-in; pw-play plays a file into the filter-chain's
input and pw-record records the null sink it feeds. Every complete 1024-frame quantum of the
recording must have the bits of the VST 2 module's render at the drop-in's control values;
pw-play pads and ends its last, partial quantum its own way, so that one is not compared.
"""
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
    finally:
        if session:
            session.stop()
            if CHECKS.results and not all(CHECKS.results):
                print(session.log_tail())
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

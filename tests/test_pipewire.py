#!/usr/bin/python3
"""The LV2 plug-in in the desktop's audio: PipeWire's filter-chain, loaded from the drop-in file
the README gives users (packaging/pipewire-vurnel.conf), with WirePlumber linking the graph.

Usage: test_pipewire.py BUNDLE_DIR VST_MODULE

A PipeWire daemon of the test's own (its own runtime folder, a dummy driver, a null sink,
nothing from the user's session, a session bus of its own for WirePlumber) loads the drop-in; pw-play plays a file into the filter-chain's
input and pw-record records the null sink it feeds. Every complete 1024-frame quantum of the
recording must have the bits of the VST 2 module's render at the drop-in's control values
(whole quanta that the daemon's timing delays or drops are told apart and named, see
tests/quanta.py); pw-play ends its stream its own way, so the file's last 0.1 s is not
compared.
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
import lv2_ctypes  # noqa: E402
import quanta  # noqa: E402
from pipewire_daemon import QUANTUM, RATE, Session, wait_for, write_daemon_config  # noqa: E402
from checks import Checks  # noqa: E402

warnings.filterwarnings("ignore", message="Chunk")
BUNDLE, MODULE = (os.path.abspath(p) for p in sys.argv[1:3])
DROP_IN = os.path.join(HERE, "..", "packaging", "pipewire-vurnel.conf")
CHECKS = Checks()
check = CHECKS.check

SYMBOLS = ["bass_cutoff", "treble_cutoff", "bass", "treble", "smooth"]


def drop_in_values():
    """The drop-in's control values, by symbol."""
    text = open(DROP_IN).read()
    return dict((k, float(v)) for k, v in re.findall(r'"(\w+)"\s*=\s*(-?[\d.]+)', text))


def controls():
    """The drop-in's control values, as the plug-in's VST 2 parameter values."""
    values = drop_in_values()
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

        source, recorded = os.path.join(work, "in.wav"), os.path.join(work, "out.wav")

        def record(signal_in, during=lambda: True):
            """Plays signal_in into the filter-chain and records the sink; during runs while it
            plays. Returns whether the player and during succeeded, and the recording."""
            wavfile.write(source, RATE, signal_in)
            if os.path.exists(recorded):
                os.remove(recorded)
            recorder = start("pw-record", "--target", "null-sink", "-P",
                             "{ stream.capture.sink = true resample.disable = true }",
                             "--format", "f32", "--rate", str(RATE), "--channels", "2", recorded)
            wait_for("pw-record to be linked to the sink",
                     lambda: "null-sink:monitor_FL\n  |-> pw-record:input_FL" in links(), 60)
            time.sleep(0.5)
            player = start("pw-play", "-P", "{ resample.disable = true }", "--target",
                           "effect_input.vurnel", source)
            ok = during()
            ok = player.wait(timeout=120) == 0 and ok
            time.sleep(1.0)
            recorder.send_signal(signal.SIGINT)
            recorder.wait(timeout=10)
            return ok, wavfile.read(recorded)[1] if os.path.exists(recorded) else \
                np.zeros((0, 2), np.float32)

        def attempts(what, run):
            """Runs run() -> (ok, result, detail) up to three times: again only when the daemon's
            timing was seen in the recording (result.daemon_seen()) and something near it is still
            unexplained, saying so; a fault of the plug-in's fails every time."""
            for attempt in range(1, 4):
                ok, result, detail = run()
                print(f"{what}, run {attempt}: {detail}")
                if ok or result is None or not result.daemon_seen() or attempt == 3:
                    return ok, detail
                print(f"RETRY {what}: the daemon's timing shows in this recording and one "
                      f"quantum is left unexplained ({result})")

        t = np.arange(3 * RATE) / RATE
        rng = np.random.default_rng(5)
        tone = 0.1 * (np.sin(2 * np.pi * 100 * t) + np.sin(2 * np.pi * 1000 * t) +
                      np.sin(2 * np.pi * 12000 * t))
        signal_in = np.stack([tone + rng.normal(0, 0.01, t.size),
                              tone + rng.normal(0, 0.01, t.size)], 1).astype(np.float32)
        model = quanta.Vst2Model(MODULE, signal_in, RATE, controls())
        whole = quanta.compared_quanta(len(signal_in))
        played = []

        def run_bits():
            ok, out = record(signal_in)
            played.append(ok)
            start_at = quanta.find_start(out, model.expected())
            if start_at is None:
                return False, None, "the file's start not found"
            result = quanta.account(out[start_at:], model, whole)
            return result.ok, result, f"{whole} quanta compared from frame {start_at}; the " \
                f"daemon's timing: {result}"

        ok, detail = attempts("bits", run_bits)
        check("pw-play plays into the filter-chain", played and played[-1])
        check("the filter-chain's output has the VST 2 module's bits, quantum for quantum", ok,
              detail)

        # A Props change mid-stream glides: no click by the plug-in's own measure (the largest
        # sample-to-sample step while playing, over the largest of the settled output before
        # and after). With the smooth toggle off the same changes click. The recording must
        # have, quantum for quantum, the LV2 plug-in's own bits with each change landed at a
        # quantum (the daemon's timing told apart as above); the measure is taken on the
        # plug-in's output had the daemon been on time, which its late or lost quanta cannot
        # disturb.
        dump = subprocess.run(["pw-dump"], env=env, capture_output=True, text=True,
                              timeout=20).stdout
        node = next((o["id"] for o in json.loads(dump or "[]")
                     if o.get("info", {}).get("props", {}).get("node.name") ==
                     "effect_input.vurnel"), None)

        def set_props(params):
            return subprocess.run(["pw-cli", "set-param", str(node), "Props",
                                   "{ params = [ " + params + " ] }"], env=env,
                                  capture_output=True, text=True, timeout=10).returncode == 0

        ports = {s: lv2_ctypes.CONTROL_PORTS[k] for k, s in enumerate(SYMBOLS)}
        for smooth in (1.0, 0.0):
            # One change; with smooth off, five (an instant change that lands where the tone's
            # bass is near zero makes only a small step, five of them cannot all), in a longer
            # file: pw-cli takes its time on a busy machine, and the last half second must be
            # settled.
            values = [20.0] if smooth else [20.0, 6.0, 20.0, 6.0, 20.0]
            t = np.arange((3 if smooth else 6) * RATE) / RATE
            sine = np.repeat(0.05 * np.sin(2 * np.pi * 100 * t)[:, None], 2, 1).astype(
                np.float32)
            compared = quanta.compared_quanta(len(sine))
            settings = [(ports[s], v) for s, v in dict(drop_in_values(), bass=6.0,
                                                        smooth=smooth).items()]

            def model_of(changes):
                return quanta.Lv2Model(BUNDLE, sine, RATE, settings,
                                       [(q, ports["bass"], v) for q, v in changes])

            def changes_while_playing():
                ok = True
                for k, bass in enumerate(values):
                    time.sleep(1.5 if smooth else 1.0 if k == 0 else 0.2)
                    ok = set_props(f'"tone:bass" {bass}') and ok
                return ok

            found = []

            def run_changes():
                ok = node is not None and set_props(f'"tone:bass" 6.0 "tone:smooth" {smooth}')
                time.sleep(0.3)
                played, got = record(sine, changes_while_playing)
                start_at = quanta.find_start(got, model_of([]).expected())
                if not (ok and played) or start_at is None:
                    return False, None, "the changes or the player failed, or the file's " \
                        "start was not found"
                changes, result = quanta.landings(got[start_at:], model_of, values, compared)
                found[:] = [(result.in_file(q), v) for q, v in changes]
                # Each value landed in turn, or was replaced by the next before the filter's
                # next cycle: one change with smooth on, three or more with it off.
                ok = result.ok and len(changes) >= (1 if smooth else 3)
                return ok, result, f"{len(changes)} of {len(values)} values landed, at quanta " \
                    f"{[c[0] for c in changes]}; the daemon's timing: {result}"

            ok, detail = attempts(f"smooth {smooth:.0f}", run_changes)
            check(f"with smooth {'on' if smooth else 'off'} the recording has the LV2 plug-in's "
                  f"bits, each change landed at a quantum", ok, detail)
            # The measure on the plug-in's output had the daemon been on time: each change
            # before the file's quantum it landed on.
            y = model_of(found).expected()[:, 0].astype(np.float64)
            playing = np.flatnonzero(np.abs(y) > 1e-6)
            steps = np.abs(np.diff(y[playing[0]:playing[-1]]))
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

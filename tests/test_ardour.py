#!/usr/bin/python3
"""The module inside a real host: Ardour 7, headless.

Usage: test_ardour.py MODULE
1. Ardour's VST 2 scanner reports 2 inputs, 2 outputs, processReplacing and the id "ZKRW".
2. A render through Ardour with no plug-in equals its input (the control case).
3. A render through the module with non-neutral settings equals, sample for sample, what the
   module gives for the same input and settings when driven directly (vst_ctypes.py).
"""
import os
import shutil
import sys
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "ardour"))
import vst_ctypes  # noqa: E402
from checks import Checks  # noqa: E402
from ardour_host import Ardour, ArdourError  # noqa: E402

warnings.filterwarnings("ignore", message="Chunk")
MODULE = os.path.abspath(sys.argv[1])
RATE = 44100
SETTINGS = [(0, 0.5), (1, 0.5), (2, 0.8), (3, 0.2)]
CHECKS = Checks()
check = CHECKS.check


def render(ardour, case, source, **kwargs):
    try:
        return wavfile.read(ardour.render(case, source, **kwargs))[1]
    except ArdourError as e:
        print(f"{case}: {e}")
        return None


def main():
    work = tempfile.mkdtemp(prefix="vurnel-ardour-")
    try:
        ardour = Ardour(work)
        rng = np.random.default_rng(7)
        t = np.arange(2 * RATE) / RATE
        tones = 0.2 * np.sin(2 * np.pi * 80 * t) + 0.1 * np.sin(2 * np.pi * 9000 * t)
        signal = np.stack([tones + rng.normal(0, 0.05, t.size),
                           tones + rng.normal(0, 0.05, t.size)], axis=1).astype(np.float32)
        source = os.path.join(work, "in.wav")
        wavfile.write(source, RATE, signal)

        control = render(ardour, "control", source)
        check("render without a plug-in equals the input",
              control is not None and np.array_equal(control, signal))

        try:
            scanned = ardour.scan_vst(MODULE)
        except ArdourError as e:
            print(e)
            scanned = {}
        for field, value in (("n_inputs", "2"), ("n_outputs", "2"),
                             ("can_process_replace", "1"), ("id", "1514885719")):
            check(f"scanner cache {field}={value}", scanned.get(field) == value,
                  scanned.get(field, "missing"))
        out = render(ardour, "tone", source, vst=MODULE, settings=SETTINGS)
        effect = vst_ctypes.Effect(MODULE)
        left, right = effect.render(signal[:, 0], signal[:, 1], RATE, SETTINGS)
        effect.close()
        expected = np.stack([left, right], axis=1)
        ok = out is not None and out.shape == expected.shape and np.array_equal(out, expected)
        detail = "" if out is None or out.shape != expected.shape else \
            f"max difference {np.max(np.abs(out - expected)):.3g}, " \
            f"{np.count_nonzero(out != expected)} samples differ"
        check("Ardour's render equals the module driven directly", ok, detail)
        check("the settings changed the sound", out is not None and not np.array_equal(out, signal))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

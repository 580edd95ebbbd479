#!/usr/bin/python3
"""The VST 3 bundle inside a real host: Ardour 7, headless.

Usage: test_ardour_vst3.py BUNDLE VURNEL
1. Ardour's VST 3 scanner finds the audio class with its fixed class ID, 2 inputs, 2 outputs.
2. Inserted by class ID, its parameters set in plain Hz and dB and the session saved by one
   ardour7-lua process, the session loaded by another and exported: the parameters read back
   as set, and the samples equal `vurnel render`'s with the same --bass, --treble and cutoffs.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "ardour"))
from checks import Checks  # noqa: E402
from ardour_host import Ardour, ArdourError  # noqa: E402

warnings.filterwarnings("ignore", message="Chunk")
BUNDLE, VURNEL = (os.path.abspath(p) for p in sys.argv[1:3])
CLASS_ID = "E92586ADA6044FD4BEAC46943C77699E"
RATE = 48000
# Ardour's parameter number, the vurnel option, the plain value.
SETTINGS = [(0, "--bass-cutoff", 180.0), (1, "--treble-cutoff", 4500.0), (2, "--bass", 6.0),
            (3, "--treble", -4.5)]
CHECKS = Checks()
check = CHECKS.check


def main():
    work = tempfile.mkdtemp(prefix="vurnel-ardour-vst3-")
    try:
        ardour = Ardour(work)
        rng = np.random.default_rng(33)
        t = np.arange(2 * RATE) / RATE
        tones = 0.2 * np.sin(2 * np.pi * 90 * t) + 0.1 * np.sin(2 * np.pi * 7000 * t)
        signal = np.stack([tones + rng.normal(0, 0.05, t.size),
                           tones + rng.normal(0, 0.05, t.size)], axis=1).astype(np.float32)
        source = os.path.join(work, "in.wav")
        wavfile.write(source, RATE, signal)

        try:
            scanned = ardour.scan_vst3(BUNDLE)
        except ArdourError as e:
            print(e)
            scanned = {}
        for field, value in (("uid", CLASS_ID), ("n_inputs", "2"), ("n_outputs", "2"),
                             ("category", "Fx|EQ")):
            check(f"scanner cache {field}={value}", scanned.get(field) == value,
                  scanned.get(field, "missing"))

        try:
            out = wavfile.read(ardour.render("tone3", source, vst3=BUNDLE,
                                             settings=[(n, v) for n, _, v in SETTINGS]))[1]
            printed = dict((int(n), float(v)) for n, v in
                           re.findall(r"^param (\d+) .* = (\S+)$", ardour.last_export, re.M))
        except ArdourError as e:
            print(e)
            out, printed = None, {}
        for n, option, value in SETTINGS:
            got = printed.get(n)
            check(f"the reloaded session restores {option} {value}",
                  got is not None and abs(got - value) <= 1e-6 * max(1.0, abs(value)), str(got))

        expected_file = os.path.join(work, "expected.wav")
        options = [str(a) for _, option, value in SETTINGS for a in (option, value)]
        r = subprocess.run([VURNEL, "render", source, expected_file, "--quiet", *options],
                           capture_output=True, text=True, timeout=120)
        check("vurnel render ran", r.returncode == 0, r.stderr.strip())
        expected = wavfile.read(expected_file)[1] if r.returncode == 0 else None
        ok = out is not None and expected is not None and out.shape == expected.shape and \
            out.tobytes() == expected.tobytes()
        detail = "no output" if out is None or expected is None else \
            f"shape {out.shape} vs {expected.shape}" if out.shape != expected.shape else \
            f"{np.count_nonzero(out != expected)} of {out.size} samples differ"
        check("Ardour's render of the reloaded session equals vurnel render's", ok, detail)
        check("the settings changed the sound", out is not None and not np.array_equal(out, signal))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

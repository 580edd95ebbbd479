#!/usr/bin/python3
"""End-to-end tests of the vurnel command-line host.

Usage: test_cli.py VURNEL MODULE NULL_MODULE
Renders are compared with the module driven directly through ctypes (vst_ctypes.py).
"""
import os
import subprocess
import sys
import tempfile
import unittest
import warnings

import numpy as np
from scipy.io import wavfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vst_ctypes  # noqa: E402
from checks import unittest_main  # noqa: E402

VURNEL, MODULE, NULL_MODULE = (os.path.abspath(p) for p in sys.argv[1:4])
del sys.argv[1:4]
RATE = 48000
warnings.filterwarnings("ignore", message="Chunk")  # libsndfile's PEAK chunk


def run(*args):
    return subprocess.run([VURNEL, *args], capture_output=True, text=True,
                          env=dict(os.environ, VURNEL_PLUGIN=MODULE))


def noise(frames, channels, seed):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-0.5, 0.5, (frames, channels))).astype(np.float32)


def direct(left, right, settings, accumulate=False, rate=RATE):
    effect = vst_ctypes.Effect(MODULE)
    try:
        return effect.render(left, right, rate, settings, accumulate=accumulate)
    finally:
        effect.close()


class Render(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = lambda name: os.path.join(self.dir.name, name)

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data, rate=RATE):
        wavfile.write(self.path(name), rate, data)
        return self.path(name)

    def test_stereo_render_equals_direct_processing(self):
        x = noise(20000, 2, 1)
        src = self.write("in.wav", x)
        r = run("render", src, self.path("out.wav"), "--set", "bass cutoff=0.3",
                "--set", "1=0.6", "--set", "Bass=0.8", "--set", "Treble=0.2", "--block", "300")
        self.assertEqual(r.returncode, 0, r.stderr)
        rate, y = wavfile.read(self.path("out.wav"))
        self.assertEqual((rate, y.dtype, y.shape), (RATE, np.float32, x.shape))
        left, right = direct(x[:, 0], x[:, 1], [(0, 0.3), (1, 0.6), (2, 0.8), (3, 0.2)])
        self.assertTrue(np.array_equal(y[:, 0], left))
        self.assertTrue(np.array_equal(y[:, 1], right))
        self.assertFalse(np.array_equal(y, x))

    def test_accumulate_adds_the_input(self):
        x = noise(5000, 2, 2)
        src = self.write("in.wav", x)
        settings = ["--set", "Bass=0.9", "--set", "Treble=0.7"]
        self.assertEqual(run("render", src, self.path("rep.wav"), *settings).returncode, 0)
        r = run("render", src, self.path("acc.wav"), "--accumulate", *settings)
        self.assertEqual(r.returncode, 0, r.stderr)
        _, rep = wavfile.read(self.path("rep.wav"))
        _, acc = wavfile.read(self.path("acc.wav"))
        np.testing.assert_allclose(acc, rep + x, atol=1e-6)
        left, _ = direct(x[:, 0], x[:, 1], [(2, 0.9), (3, 0.7)], accumulate=True)
        self.assertTrue(np.array_equal(acc[:, 0], left))

    def test_mono_feeds_both_inputs_and_writes_the_left_output(self):
        x = noise(7000, 1, 3)[:, 0]
        src = self.write("in.wav", x)
        r = run("render", src, self.path("out.flac"), "--set", "Bass=1")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = run("render", src, self.path("out.wav"), "--set", "Bass=1")
        _, y = wavfile.read(self.path("out.wav"))
        self.assertEqual(y.ndim, 1)
        left, _ = direct(x, x, [(2, 1.0)])
        self.assertTrue(np.array_equal(y, left))
        self.assertGreater(os.path.getsize(self.path("out.flac")), 1000)

    def expect_error(self, args, phrase, output="out.wav"):
        before = set(os.listdir(self.dir.name))
        r = run(*args)
        self.assertNotEqual(r.returncode, 0)
        lines = r.stderr.strip().splitlines()
        self.assertTrue(lines and phrase in lines[0], r.stderr)
        self.assertFalse(os.path.exists(self.path(output)))
        self.assertEqual(set(os.listdir(self.dir.name)), before)  # nothing partial left

    def test_bad_input_gives_one_clear_line_and_no_file(self):
        src = self.write("in.wav", noise(1000, 2, 4))
        out = self.path("out.wav")
        with open(self.path("text.wav"), "w") as f:
            f.write("not audio")
        self.write("quad.wav", noise(100, 4, 5))
        self.expect_error(["render", self.path("missing.wav"), out], "cannot read")
        self.expect_error(["render", self.path("text.wav"), out], "cannot read")
        self.expect_error(["render", self.path("quad.wav"), out], "4 channels")
        self.expect_error(["render", src, self.path("out.xyz")], "unknown output format",
                          "out.xyz")
        self.expect_error(["render", src, out, "--set", "Loudness=1"], "no parameter 'Loudness'")
        self.expect_error(["render", src, out, "--set", "Bass=loud"], "is not a number")
        self.expect_error(["render", src, out, "--block", "0"], "block size")
        self.expect_error(["render", src, out, "--block", "-4"], "block size")
        self.expect_error(["render", src, out, "--plugin", "/usr/lib/x86_64-linux-gnu/libz.so.1"],
                          "not a VST 2 plug-in")
        self.expect_error(["render", src, out, "--plugin", NULL_MODULE], "returned no effect")
        self.expect_error(["render", src, out, "--plugin", self.path("none.so")],
                          "cannot load module")


def analog_db(hz, bass_hz, treble_hz, bass_gain, treble_gain, rate):
    """The response the bilinear design realises exactly: prototype at pre-warped frequencies."""
    t = np.tan(np.pi * hz / rate)
    s_bass = 1j * t / np.tan(np.pi * bass_hz / rate)
    s_treble = 1j * t / np.tan(np.pi * treble_hz / rate)
    h = 1 + bass_gain / (1 + s_bass) + treble_gain * s_treble / (1 + s_treble)
    return 20 * np.log10(np.abs(h))


class Response(unittest.TestCase):
    def measure(self, *settings):
        with tempfile.TemporaryDirectory() as d:
            r = run("response", "--out", os.path.join(d, "r.svg"), "--rate", "44100", *settings)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(os.path.join(d, "r.svg")) as f:
                svg = f.read()
            data = np.loadtxt(os.path.join(d, "r.csv"), delimiter=",", skiprows=1)
        return data, svg

    def test_default_setting_is_flat(self):
        data, svg = self.measure()
        self.assertLess(np.max(np.abs(data[:, 1:])), 1e-4)
        self.assertIn("Bass cutoff 50 Hz", svg)
        self.assertIn("Treble cutoff 10000 Hz", svg)

    def test_boosted_bass_and_cut_treble_follow_the_design(self):
        data, _ = self.measure("--set", "Bass=1", "--set", "Bass cutoff=0",
                               "--set", "Treble=0.25", "--set", "Treble cutoff=0.5")
        expected = analog_db(data[:, 0], 50, 6500, 9.0, 10 ** -0.5 - 1, 44100)
        np.testing.assert_allclose(data[:, 1], expected, atol=0.01)
        np.testing.assert_allclose(data[:, 2], expected, atol=0.01)
        self.assertAlmostEqual(data[0, 1], analog_db(20, 50, 6500, 9, 10 ** -0.5 - 1, 44100), 2)


class Demo(unittest.TestCase):
    def test_demo_writes_its_files_and_a_table(self):
        with tempfile.TemporaryDirectory() as d:
            r = run("demo", "--out", os.path.join(d, "demo"))
            self.assertEqual(r.returncode, 0, r.stderr)
            for name in ("input.wav", "output.wav", "response.svg", "response.csv"):
                self.assertTrue(os.path.getsize(os.path.join(d, "demo", name)) > 0)
            rows = [line.split() for line in r.stdout.splitlines()
                    if line.strip() and line.split()[0].isdigit()]
            change = {float(row[0]): float(row[3]) for row in rows}
            self.assertGreater(change[50], 11)    # bass boosted
            self.assertLess(change[16000], -8)    # treble cut
            self.assertAlmostEqual(change[50], analog_db(50, 275, 5100, 10 ** 0.6 - 1,
                                                         10 ** -0.5 - 1, 44100), delta=0.3)

    def test_info_lists_the_parameters(self):
        r = run("info")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1514885719 ('ZKRW')", r.stdout)
        self.assertIn("Treble cutoff", r.stdout)
        self.assertIn("10000.00", r.stdout)


if __name__ == "__main__":
    sys.exit(unittest_main())

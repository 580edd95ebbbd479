#!/usr/bin/python3
"""vurnel render as a person uses it: streaming, formats, tags, safe output, pipes, options.

Usage: test_render.py VURNEL MODULE LV2_BUNDLES
Formats and tags are read back with sox and ffprobe, the samples with scipy; the lv2apply
comparison runs the project's LV2 bundle in lilv's host. A case whose tool is missing is
skipped, and a skip fails the run under CI and in ./dev test, which install every tool.
"""
import os
import pty
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

import numpy as np
from scipy.io import wavfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import outside_host_env, unittest_main  # noqa: E402

VURNEL, MODULE, LV2_BUNDLES = (os.path.abspath(p) for p in sys.argv[1:4])
del sys.argv[1:4]
ENV = dict(os.environ, VURNEL_PLUGIN=MODULE)
RATE = 48000
TONE = ["--bass", "6", "--bass-cutoff", "200", "--treble", "-4", "--treble-cutoff", "5000"]
warnings.filterwarnings("ignore", message="Chunk")
HAVE_SOX = shutil.which("sox") is not None
HAVE_FFPROBE = shutil.which("ffprobe") is not None


def run(*args, **kw):
    return subprocess.run([VURNEL, *args], capture_output=True, env=kw.pop("env", ENV), **kw)


def wav_with_tags(path, data, bits, tags):
    """A PCM WAV written here, so the input's tags come from outside the program."""
    scaled = np.clip(np.round(data * 2.0 ** (bits - 1)), -2 ** (bits - 1), 2 ** (bits - 1) - 1)
    ints = scaled.astype("<i4")
    raw = b"".join(int(v).to_bytes(4, "little", signed=True)[:bits // 8]
                   for v in ints.ravel()) if bits == 24 else ints.astype(f"<i{bits // 8}").tobytes()
    channels = data.shape[1]
    info = b""
    for key, text in tags.items():
        body = text.encode() + b"\0"
        body += b"\0" * (len(body) & 1)
        info += key.encode() + struct.pack("<I", len(text) + 1) + body
    chunks = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, channels, RATE,
                         RATE * channels * bits // 8, channels * bits // 8, bits)
    chunks += b"LIST" + struct.pack("<I", len(info) + 4) + b"INFO" + info
    chunks += b"data" + struct.pack("<I", len(raw)) + raw
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks)


def noise(frames, channels=2, level=0.3, seed=1):
    return np.random.default_rng(seed).uniform(-level, level, (frames, channels))


def tpdf(count):
    """The program's dither for count samples: u1 - u2, each u the top 53 bits of its xorshift
    generator's output (seeded with 0x9E3779B97F4A7C15) as a fraction."""
    mask, state = (1 << 64) - 1, 0x9E3779B97F4A7C15
    u = np.empty(2 * count)
    for i in range(2 * count):
        state ^= state >> 12
        state ^= (state << 25) & mask
        state ^= state >> 27
        u[i] = float(((state * 0x2545F4914F6CDD1D) & mask) >> 11) * 2.0 ** -53
    return u[0::2] - u[1::2]


def wav_data(path):
    return wavfile.read(path)[1]


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def render(self, *args, **kw):
        r = run("render", *args, **kw)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        return r


class Samples(Case):
    def test_24_bit_output_is_the_float_render_rounded_and_clips_are_counted(self):
        src = self.path("in.wav")
        wav_with_tags(src, noise(30000, level=0.95), 24, {"INAM": "t"})
        self.render(src, self.path("f.wav"), "--bits", "float", *TONE, "--bass", "12")
        r = self.render(src, self.path("i.wav"), *TONE, "--bass", "12")
        f = wav_data(self.path("f.wav")).astype(np.float64)
        i = wav_data(self.path("i.wav"))
        self.assertEqual(f.dtype, np.float64)
        self.assertEqual(i.dtype, np.int32)  # scipy reads 24-bit PCM as int32 << 8
        expected = np.round(f * 2 ** 23)
        clipped = int(np.sum((expected > 2 ** 23 - 1) | (expected < -2 ** 23)))
        np.testing.assert_array_equal(i >> 8, np.clip(expected, -2 ** 23, 2 ** 23 - 1))
        self.assertGreater(clipped, 0)
        self.assertIn(f"{clipped} samples beyond full scale were clipped", r.stderr.decode())
        peak = 20 * np.log10(np.max(np.abs(f)))
        self.assertIn(f"peak {peak:+.2f} dBFS", r.stderr.decode())

    def test_dither_error_stays_within_2_lsb_and_averages_zero(self):
        src = self.path("in.wav")
        wav_with_tags(src, noise(200000, level=0.3), 16, {})
        self.render(src, self.path("f.wav"), "--bits", "float", *TONE)
        self.render(src, self.path("d.wav"), "--dither", *TONE)
        self.render(src, self.path("n.wav"), *TONE)
        f = wav_data(self.path("f.wav")).astype(np.float64) * 32768
        d = wav_data(self.path("d.wav")).astype(np.float64)
        n = wav_data(self.path("n.wav")).astype(np.float64)
        self.assertLessEqual(np.max(np.abs(n - f)), 0.5)
        err = d - f
        self.assertLessEqual(np.max(np.abs(err)), 2.0)
        self.assertLess(abs(np.mean(err)), 0.01)
        self.assertGreater(np.std(err), 0.45)  # TPDF ±1 LSB plus rounding: sqrt(1/6+1/12)=0.5
        # Bit for bit, numpy's double arithmetic: the program's xorshift generator, two uniform
        # draws a sample (the first minus the second), the sum rounded to double, then to
        # nearest even, whatever precision the program evaluates doubles in.
        np.testing.assert_array_equal(d.ravel(), np.clip(np.rint(f.ravel() + tpdf(f.size)),
                                                         -32768, 32767))

    def test_a_bad_sample_is_counted_and_the_output_is_finite_after_its_block(self):
        src = self.path("in.wav")
        data = noise(3 * RATE).astype(np.float32)
        data[RATE, 0] = np.nan
        data[RATE + 700, 1] = np.inf
        wavfile.write(src, RATE, data)
        r = self.render(src, self.path("out.wav"), *TONE, "--block", "256")
        out = wav_data(self.path("out.wav"))
        bad = np.nonzero(~np.isfinite(out).all(axis=1))[0]
        self.assertGreater(len(bad), 0)
        self.assertLess(bad.max(), (RATE + 700) // 256 * 256 + 256)  # not past the bad block
        self.assertIn("vurnel: note: 2 input samples were NaN or infinite", r.stderr.decode())
        self.assertEqual(len(r.stderr.decode().splitlines()), 1)
        quiet = self.render(src, self.path("q.wav"), *TONE, "--quiet")
        self.assertEqual(quiet.stderr, b"")

    @unittest.skipUnless(shutil.which("lv2apply"), "lv2apply (lilv-utils) is not installed")
    def test_hertz_and_decibels_give_lv2applys_samples(self):
        src = self.path("in.wav")
        wavfile.write(src, RATE, noise(20000).astype(np.float32))
        self.render(src, self.path("v.wav"), *TONE)
        controls = ["-c", "bass", "6", "-c", "bass_cutoff", "200", "-c", "treble", "-4",
                    "-c", "treble_cutoff", "5000"]
        subprocess.run(["lv2apply", "-i", src, "-o", self.path("l.wav"), *controls,
                        "urn:mirvak:vurnel"], check=True, capture_output=True,
                       env=outside_host_env(dict(os.environ,
                                                 LV2_PATH=LV2_BUNDLES + ":/usr/lib/lv2")))
        np.testing.assert_array_equal(wav_data(self.path("v.wav")), wav_data(self.path("l.wav")))


@unittest.skipUnless(HAVE_SOX and os.path.exists("/usr/bin/time"), "sox or GNU time is missing")
class Streaming(Case):
    def peak_rss(self, src, terminal=False):
        """Renders src to nowhere under GNU time (which forks the program itself, so Python's
        pages do not count) and returns its peak resident size in KiB and, with terminal, what
        it drew on a pseudo-terminal."""
        rss = self.path("rss")
        master, slave = pty.openpty() if terminal else (None, subprocess.DEVNULL)
        with open(os.devnull, "wb") as null:
            p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss, VURNEL, "render", src,
                                  "-", *TONE], stdout=null, stderr=slave, env=ENV)
        bar = b""
        if terminal:
            os.close(slave)
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                bar += chunk
            os.close(master)
        self.assertEqual(p.wait(), 0)
        with open(rss) as f:
            return int(f.read().split()[-1]), bar

    def test_memory_does_not_grow_with_the_file_and_the_bar_shows_on_a_terminal(self):
        # The same material at 20 seconds and at 4 minutes (69 MB of 24-bit samples, 92 MB as
        # floats): a render that streams peaks at the same size for both. The difference is
        # measured in one run, so whatever floor the build's runtime has (AddressSanitizer's is
        # about 30 MB, and differs between machines) cancels out; a render that kept the file,
        # or a growing part of it, would differ by tens of megabytes.
        short, long = self.path("short.wav"), self.path("long.wav")
        for path, seconds in ((short, 20), (long, 240)):
            subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "24", path, "synth",
                            str(seconds), "pinknoise", "vol", "0.3"], check=True)
        base, _ = self.peak_rss(short)
        peak, bar = self.peak_rss(long, terminal=True)
        grown = os.path.getsize(long) - os.path.getsize(short)
        self.assertLess(peak - base, 8 * 1024,
                        f"peak RSS grew from {base} to {peak} KiB for {grown >> 10} KiB more input")
        if os.environ.get("VURNEL_SANITIZED") == "0":
            # Without a sanitizer's runtime the whole program stays small: 6.5 MB measured on
            # Intel and AMD machines; the ceiling leaves room for other C libraries' arenas.
            self.assertLess(peak, 30 * 1024, "peak RSS in KiB")
        self.assertIn(b"100%", bar)
        self.assertIn("× real time".encode(), bar)
        self.assertIn(b"left", bar)

    def test_pipes_give_the_files_bits(self):
        src = self.path("in.wav")
        wav_with_tags(src, noise(50000), 24, {})
        self.render(src, self.path("file.wav"), "--bass", "6")
        with open(src, "rb") as f:
            whole = self.render("-", "-", "--bass", "6", stdin=f).stdout
        cat = subprocess.Popen(["cat", src], stdout=subprocess.PIPE)
        piped = run("render", "-", "-", "--bass", "6", stdin=cat.stdout).stdout
        cat.wait()
        cat.stdout.close()
        with open(self.path("file.wav"), "rb") as f:
            expected = f.read()
        self.assertEqual(whole, expected)
        self.assertEqual(piped, expected)
        raw = self.render(src, "-", "--bass", "6", "--format", "raw").stdout
        self.assertEqual(raw, expected[-len(raw):])
        self.assertEqual(len(raw), 50000 * 2 * 3)

    def probe(self, path):
        out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                              "stream=codec_name,bits_per_raw_sample,channels,sample_rate:"
                              "format_tags:stream_tags", "-of", "flat", path],
                             capture_output=True, text=True, check=True).stdout.lower()
        return out

    @unittest.skipUnless(HAVE_FFPROBE, "ffprobe (ffmpeg) is not installed")
    def test_format_and_tags_carry_through_wav_flac_aiff_ogg(self):
        src = self.path("in.wav")
        wav_with_tags(src, noise(30000, channels=1), 24, {"INAM": "Night Song", "IART": "Ann Ode"})
        chain = [("a.flac", "flac"), ("b.aiff", "pcm_s24be"), ("c.ogg", "vorbis"),
                 ("d.wav", "pcm_s24le"), ("e.wav", "pcm_s16le")]
        previous = src
        for name, codec in chain:
            extra = ["--bits", "16"] if name == "e.wav" else []
            self.render(previous, self.path(name), "--bass", "0", *extra)
            info = self.probe(self.path(name))
            self.assertIn(f'codec_name="{codec}"', info, name)
            self.assertIn('channels=1', info, name)
            self.assertIn(f'sample_rate="{RATE}"', info, name)
            self.assertIn("night song", info, name)
            self.assertIn("ann ode", info, name)
            previous = self.path(name)
        # Lossless steps keep the 24-bit samples: the FLAC equals the WAV render.
        self.render(src, self.path("ref.wav"), *TONE)
        self.render(src, self.path("t.flac"), *TONE)
        back = subprocess.run(["sox", self.path("t.flac"), "-t", "wav", "-"], check=True,
                              capture_output=True).stdout
        with open(self.path("back.wav"), "wb") as f:
            f.write(back)
        np.testing.assert_array_equal(wav_data(self.path("back.wav")),
                                      wav_data(self.path("ref.wav")))
        self.assertIn('bits_per_raw_sample="24"', self.probe(self.path("t.flac")))

    def test_float_wav_header_pleases_sox(self):
        src = self.path("in.wav")
        wavfile.write(src, RATE, noise(1000).astype(np.float32))
        self.render(src, self.path("out.wav"))
        r = subprocess.run(["soxi", self.path("out.wav")], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stderr, "")
        self.assertIn("32-bit Floating Point PCM", r.stdout)


class SafeOutput(Case):
    def setUp(self):
        super().setUp()
        self.src = self.path("in.wav")
        wav_with_tags(self.src, noise(100000), 24, {})
        self.target = self.path("out.wav")
        with open(self.target, "wb") as f:
            f.write(b"the old file")

    def assertUntouched(self):
        with open(self.target, "rb") as f:
            self.assertEqual(f.read(), b"the old file")
        self.assertEqual(sorted(os.listdir(self.dir)), ["in.wav", "out.wav"])

    def test_a_failure_midway_leaves_the_old_target(self):
        r = run("render", self.src, self.target, "--bass", "6",
                env=dict(ENV, VURNEL_FAIL_AFTER_FRAMES="40000"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"stopped after 40000 frames", r.stderr)
        self.assertUntouched()

    def test_ctrl_c_leaves_the_old_target(self):
        p = subprocess.Popen([VURNEL, "render", "-", self.target, "--bass", "6"],
                             stdin=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
        with open(self.src, "rb") as f:
            p.stdin.write(f.read(300000))  # the header and part of the samples
        p.stdin.flush()
        for _ in range(200):  # until the temporary file exists
            if len(os.listdir(self.dir)) > 2:
                break
            time.sleep(0.01)
        self.assertGreater(len(os.listdir(self.dir)), 2)
        p.send_signal(signal.SIGINT)
        p.wait()
        p.stdin.close()
        p.stderr.close()
        self.assertEqual(p.returncode, -signal.SIGINT)
        self.assertUntouched()

    def test_the_input_itself_is_refused(self):
        os.link(self.src, self.path("alias.wav"))
        r = run("render", self.src, self.path("alias.wav"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"is the input file", r.stderr)
        os.unlink(self.path("alias.wav"))
        self.assertUntouched()


class Options(Case):
    def test_every_kind_of_bad_value_is_one_line_exit_2_and_no_file(self):
        src = self.path("in.wav")
        wavfile.write(src, RATE, noise(1000).astype(np.float32))
        out = self.path("out.wav")
        cases = [
            (["--bass", "30"], "--bass '30' is outside -20 to 20 dB"),
            (["--treble=-25dB"], "--treble '-25dB' is outside"),
            (["--bass-cutoff", "200 kHz"], "--bass-cutoff '200 kHz' is outside 50 to 500 Hz"),
            (["--bass", "6 Hz"], "--bass '6 Hz' has a unit that is not dB"),
            (["--treble-cutoff", "high"], "--treble-cutoff 'high' is not a number"),
            (["--bass"], "--bass needs a value"),
            (["--bits", "12"], "--bits '12' is not one of 16, 24, 32, float"),
            (["--format", "mp3"], "--format 'mp3' is not one of"),
            (["--dither"], "--dither needs integer samples"),
            (["--frobnicate"], "unknown option --frobnicate"),
            (["--set", "Bass"], "--set wants NAME=VALUE"),
        ]
        for args, phrase in cases:
            r = run("render", src, out, *args)
            lines = r.stderr.decode().splitlines()
            self.assertEqual(r.returncode, 2, args)
            self.assertEqual(len(lines), 2, lines)
            self.assertIn(phrase, lines[0])
            self.assertEqual(lines[1], "Try 'vurnel render --help'.")
            self.assertEqual(os.listdir(self.dir), ["in.wav"])
        r = run("render", src, self.path("o.flac"), "--bits", "32")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"(16 or 24)", r.stderr)
        r = run("response", "--out", self.path("r.svg"), "--treble", "21")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--treble '21' is outside -20 to 20 dB", r.stderr)

    def test_help_for_every_command(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        commands = ["render", "response", "design", "info", "demo"]
        for c in commands:
            self.assertIn(f"  {c} ", r.stdout.decode())
            texts = {run(c, flag).stdout for flag in ("--help", "-h")} | {run("help", c).stdout}
            self.assertEqual(len(texts), 1, c)
            self.assertTrue(texts.pop().startswith(f"usage: vurnel {c}".encode()), c)
        self.assertIn(b"--bass-cutoff HZ", run("render", "--help").stdout)
        self.assertIn(b"--treble DB", run("response", "--help").stdout)
        r = run("fly")
        self.assertEqual((r.returncode, r.stderr.decode().splitlines()[-1]),
                         (2, "Try 'vurnel --help'."))

    def test_response_computed_in_hertz_agrees_with_the_measurement(self):
        computed = self.path("c.svg")
        measured = self.path("m.svg")
        for svg, extra in ((computed, []), (measured, ["--measure"])):
            r = run("response", "--out", svg, "--rate", "48000", *TONE, *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
        c = np.loadtxt(self.path("c.csv"), delimiter=",", skiprows=1)
        m = np.loadtxt(self.path("m.csv"), delimiter=",", skiprows=1)
        np.testing.assert_allclose(c[:, 0], m[:, 0], rtol=1e-9)
        np.testing.assert_allclose(c[:, 1], m[:, 1], atol=0.01)
        self.assertAlmostEqual(c[0, 1], 6.0, delta=0.5)  # +6 dB well below 200 Hz
        with open(computed) as f:
            self.assertIn("bass +6.0 dB", f.read())


if __name__ == "__main__":
    sys.exit(unittest_main())

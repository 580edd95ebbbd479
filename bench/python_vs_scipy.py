#!/usr/bin/python3
"""vurnel's Python filters beside scipy.signal's, on the same designs and machine, in one run.

    PYTHONPATH=build/default/python python3 bench/python_vs_scipy.py [speed] [accuracy]
        [--bench-dsp build/default/bench/bench_dsp]

speed: CPU nanoseconds per sample of vurnel's lfilter and sosfilt (float64 in and out, computed in
the extended format) and of scipy's lfilter and sosfilt (double), over one call of 2^20 samples,
and the cost of one call of 64 samples (the constant per call); the best of several runs. With
--bench-dsp, also the C++ library's own per-sample cost (bench_dsp, the same designs: Butterworth
lowpass of order 2 and 8 at 1 kHz, bandpass of order 8 at 1-5 kHz, 44100 Hz) beside vurnel's
from Python, in the same run.
accuracy: for designs of rising difficulty, the error of the b/a polynomials' |H| against the
exact response of each one's own design (its zeros, poles and gain in 50-digit mpmath), whether
the recursion as rounded is stable (mpmath's roots of the exact double or extended a), and the
impulse response of the recursion (scipy's lfilter on our b/a rounded to double, ours in
extended) against the design's second-order sections in extended precision.
"""
import sys
import time

import mpmath
import numpy as np
from scipy import signal as sp

import vurnel
from vurnel import signal as vs

DESIGNS = [  # (label, scipy's designer, arguments, vurnel.design's arguments)
    ("butter low 8, 1 kHz @ 44.1k", "butter", (8, 1000), dict(btype="low", fs=44100),
     ("butterworth", "lowpass", 8, 1000, None, 44100, {})),
    ("butter band 8, 1-5 kHz @ 44.1k", "butter", (8, [1000, 5000]),
     dict(btype="bandpass", fs=44100),
     ("butterworth", "bandpass", 8, 1000, 5000, 44100, {})),
    ("butter low 2, 1 kHz @ 48k", "butter", (2, 1000), dict(btype="low", fs=48000),
     ("butterworth", "lowpass", 2, 1000, None, 48000, {})),
    ("butter low 4, 1 kHz @ 48k", "butter", (4, 1000), dict(btype="low", fs=48000),
     ("butterworth", "lowpass", 4, 1000, None, 48000, {})),
    ("ellip low 8, 1 kHz @ 96k", "ellip", (8, 1.0, 50, 1000), dict(btype="low", fs=96000),
     ("elliptic", "lowpass", 8, 1000, None, 96000, dict(ripple=1.0, attenuation=50))),
    ("ellip band 4, 1-2 kHz @ 48k", "ellip", (4, 0.5, 60, [1000, 2000]),
     dict(btype="bandpass", fs=48000),
     ("elliptic", "bandpass", 4, 1000, 2000, 48000, dict(ripple=0.5, attenuation=60))),
    ("cheby1 band 6, 0.5-2 kHz @ 44.1k", "cheby1", (6, 0.5, [500, 2000]),
     dict(btype="bandpass", fs=44100),
     ("chebyshev", "bandpass", 6, 500, 2000, 44100, dict(ripple=0.5))),
    ("butter stop 6, 0.8-1.2 kHz @ 44.1k", "butter", (6, [800, 1200]),
     dict(btype="bandstop", fs=44100),
     ("butterworth", "bandstop", 6, 800, 1200, 44100, {})),
    ("cheby2 stop 6, 0.8-1.2 kHz @ 44.1k", "cheby2", (6, 40, [800, 1200]),
     dict(btype="bandstop", fs=44100),
     ("chebyshev2", "bandstop", 6, 800, 1200, 44100, dict(attenuation=40))),
    ("butter band 8, 100-200 Hz @ 48k", "butter", (8, [100, 200]),
     dict(btype="bandpass", fs=48000),
     ("butterworth", "bandpass", 8, 100, 200, 48000, {})),
]


def ours(design):
    kind, response, order, f1, f2, fs, extra = design
    return vurnel.design(kind, response, order, f1, f2, fs=fs, **extra)


def best(call, repeat=5):
    """The least CPU time of this process over `repeat` runs (as bench_dsp counts: a machine
    shared with other work preempts the wall clock, not the CPU time)."""
    times = []
    for _ in range(repeat):
        start = time.process_time()
        call()
        times.append(time.process_time() - start)
    return min(times)


def speed():
    n, small = 1 << 20, 64
    x = np.random.default_rng(0).standard_normal(n)
    xs = x[:small].copy()
    print(f"{'design':36} {'poles':>5}  {'vurnel lfilter':>14} {'scipy lfilter':>13}  "
          f"{'vurnel sosfilt':>14} {'scipy sosfilt':>13}  {'call, 64 samples (us)':>26}")
    for label, name, args, kw, design in DESIGNS:
        f = ours(design)
        b, a = getattr(sp, name)(*args, output="ba", **kw)
        sos = getattr(sp, name)(*args, output="sos", **kw)
        row = {}
        row["vl"] = best(lambda: f.lfilter(x)) / n * 1e9 if f.stable else float("nan")
        row["sl"] = best(lambda: sp.lfilter(b, a, x)) / n * 1e9
        row["vs"] = best(lambda: f.sosfilt(x)) / n * 1e9
        row["ss"] = best(lambda: sp.sosfilt(sos, x)) / n * 1e9
        calls = 2000
        call_v = best(lambda: [f.sosfilt(xs) for _ in range(calls)], 3) / calls * 1e6
        call_s = best(lambda: [sp.sosfilt(sos, xs) for _ in range(calls)], 3) / calls * 1e6
        print(f"{label:36} {len(b) - 1:5d}  {row['vl']:11.1f} ns {row['sl']:10.1f} ns  "
              f"{row['vs']:11.1f} ns {row['ss']:10.1f} ns  "
              f"vurnel {call_v:6.1f}, scipy {call_s:6.1f}")
    print("(ns per sample, float64 in and out; vurnel's lfilter is not run where its recursion "
          "is unstable)")


def against_cpp(bench_dsp):
    """The C++ per-sample cost beside the same designs run from Python, and the constant per
    call: t(64 samples) - 64 * per-sample cost."""
    import json
    import subprocess
    cases = {"ProcessSampleOrder/2": ("butterworth", "lowpass", 2, 1000, None, 44100, False),
             "SectionsOrder/2": ("butterworth", "lowpass", 2, 1000, None, 44100, True),
             "ProcessSampleOrder/8": ("butterworth", "lowpass", 8, 1000, None, 44100, False),
             "SectionsOrder/8": ("butterworth", "lowpass", 8, 1000, None, 44100, True),
             "Bandpass8/0": ("butterworth", "bandpass", 8, 1000, 5000, 44100, False),
             "Bandpass8/1": ("butterworth", "bandpass", 8, 1000, 5000, 44100, True)}
    out = subprocess.run([bench_dsp, "--benchmark_format=json", "--benchmark_repetitions=3",
                          "--benchmark_filter=^(" + "|".join(cases) + ")$"],
                         capture_output=True, text=True, check=True).stdout
    cpp = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            cpp[b["run_name"]] = 1e9 / b["items_per_second"]
    n, small, calls = 1 << 20, 64, 2000
    x = np.random.default_rng(0).standard_normal(n)
    print(f"{'C++ case (bench_dsp)':24} {'C++ ns/sample':>13} {'Python ns/sample':>17} "
          f"{'ratio':>6} {'per call (us)':>14}")
    for name, (kind, response, order, f1, f2, fs, sections) in cases.items():
        f = vurnel.design(kind, response, order, f1, f2, fs=fs)
        run = f.sosfilt if sections else f.lfilter
        per_sample = best(lambda: run(x)) / n * 1e9
        per_call = best(lambda: [run(x[:small]) for _ in range(calls)], 3) / calls * 1e6
        constant = per_call - small * per_sample * 1e-3
        print(f"{name:24} {cpp[name]:13.1f} {per_sample:17.1f} {per_sample / cpp[name]:6.2f} "
              f"{constant:14.1f}")
    print("(float64 in and out from Python; float in, long double out in bench_dsp)")


def exact(values):
    """mpmath values of longdouble or double numbers, exactly."""
    out = []
    for v in np.asarray(values).ravel():
        hi = float(v)
        out.append(mpmath.mpf(hi) + mpmath.mpf(float(np.longdouble(v) - np.longdouble(hi))))
    return out


def exact_complex(values):
    return [re + 1j * im for re, im in zip(exact(np.real(values)), exact(np.imag(values)))]


def ba_error(b, a, z, p, k, w):
    """max | |H_ba| - |H_zpk| | / max |H_zpk| over w, in 50 digits."""
    bm, am, zm, pm, km = exact(b), exact(a), exact_complex(z), exact_complex(p), exact([k])[0]
    worst = peak = mpmath.mpf(0)
    for x in w:
        e = mpmath.expj(mpmath.mpf(float(x)))
        h_ba = abs(mpmath.polyval(bm, e) / mpmath.polyval(am, e))
        h = abs(km * mpmath.fprod(e - q for q in zm) / mpmath.fprod(e - q for q in pm))
        worst, peak = max(worst, abs(h_ba - h)), max(peak, h)
    return float(worst / peak)


def largest_root(a):
    return float(max(abs(r) for r in mpmath.polyroots(exact(a), maxsteps=400, extraprec=400)))


def accuracy():
    mpmath.mp.dps = 50
    w = np.linspace(1e-3, np.pi - 1e-3, 200)
    print(f"{'design':36} {'poles':>5}  {'|H| of b/a, relative error':>28}  "
          f"{'largest root of a':>24}  {'impulse response error':>28}")
    print(f"{'':36} {'':>5}  {'scipy':>13} {'vurnel':>14}  {'scipy':>11} {'vurnel':>12}  "
          f"{'double':>13} {'extended':>14}")
    impulse = np.zeros(4096, dtype=np.longdouble)
    impulse[0] = 1
    for label, name, args, kw, design in DESIGNS:
        tz, tp, tk = getattr(sp, name)(*args, output="zpk", **kw)
        tb, ta = getattr(sp, name)(*args, output="ba", **kw)
        vz, vp, vk = getattr(vs, name)(*args, output="zpk", **kw)
        vb, va = getattr(vs, name)(*args, output="ba", **kw)
        f = ours(design)
        reference = f.sosfilt(impulse)
        fb, fa = f.ba
        with np.errstate(all="ignore"):
            double = sp.lfilter(fb.astype(float), fa.astype(float), impulse.astype(float))
            extended = f.lfilter(impulse)
        scale = float(np.max(np.abs(reference)))
        err_d = float(np.max(np.abs(double - reference.astype(float)))) / scale
        err_e = float(np.max(np.abs(extended - reference))) / scale
        print(f"{label:36} {len(tb) - 1:5d}  {ba_error(tb, ta, tz, tp, tk, w):13.1e} "
              f"{ba_error(vb, va, vz, vp, vk, w):14.1e}  {largest_root(ta):11.9f} "
              f"{largest_root(va):12.9f}  {err_d:13.1e} {err_e:14.1e}")
    print("(errors relative to the peak; a largest root at or above 1: the recursion grows "
          "without bound, the sections run the design)")


if __name__ == "__main__":
    args = sys.argv[1:]
    bench_dsp = None
    if "--bench-dsp" in args:
        bench_dsp = args[args.index("--bench-dsp") + 1]
        args.remove("--bench-dsp")
        args.remove(bench_dsp)
    parts = args or ["speed", "accuracy"]
    if "accuracy" in parts:
        accuracy()
    if "speed" in parts:
        if bench_dsp:
            against_cpp(bench_dsp)
        speed()

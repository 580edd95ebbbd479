#!/usr/bin/python3
"""vurnel.design against `vurnel design`, and the filtering of the Python module.

Usage: test_python_module.py VURNEL (with PYTHONPATH set to the build tree's python folder).
1. For a design of every kind (a shelf, an unstable band design and settings given as text
   among them), the gain
   factor, recursion coefficients, z-plane poles and zeros, sections and the first 64 outputs for
   an impulse of lfilter and sosfilt equal what the command line prints (21 significant digits,
   which pin an extended value), and stable/largest_root/error agree with its report.
2. lfilter and sosfilt: for float32, float64 and longdouble, output in the input's type, equal
   to the longdouble run rounded once; one call equals any split of the stream, bit for bit;
   2-D along either axis and non-contiguous input equal the channels run one by one; reset()
   starts again from rest; the GIL is released while filtering.
3. Bad settings raise ValueError with the library's message.
"""
import subprocess
import sys
import threading
import time

import numpy as np

import vurnel

VURNEL = sys.argv[1]
failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


def ld(text):
    return np.longdouble(text)


def cli_report(args):
    out = subprocess.run([VURNEL, "design", *args, "--sections", "--impulse", "64"],
                         capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    report = {"taps": [], "z-plane poles": [], "z-plane zeros": [], "sections": [],
              "impulse": [], "impulse of the sections": []}
    block = None
    for line in lines:
        words = line.split()
        if line.startswith("gain factor g = "):
            report["g"] = ld(words[-1])
        elif line.startswith("recursion   "):
            report["stability"] = line[12:]
        elif line.startswith("ErrorText: "):
            report["error"] = line[len("ErrorText: "):]
        elif line.startswith(("z-plane poles", "z-plane zeros")):
            block = line[:13]
        elif line.startswith("recursion, N"):
            block = "taps"
        elif line.startswith("second-order sections"):
            block = "sections"
        elif line.startswith("impulse response of the sections"):
            block = "impulse of the sections"
        elif line.startswith("impulse response"):
            block = "impulse"
        elif not line.startswith("  "):
            block = None if line.strip() == "" or not block else block
        elif block in ("z-plane poles", "z-plane zeros") and words[-1].endswith("j"):
            report[block].append((ld(words[0]), ld(words[1][:-1])))
        elif block == "taps" and words[0].isdigit():
            report["taps"].append((ld(words[1]), ld(words[2])))
        elif block == "sections" and words[0].isdigit():
            report["sections"].append([ld(v) for v in words[1:6]])
        elif block and block.startswith("impulse") and words[0].isdigit():
            report[block].append(ld(words[1]))
    return report


def same(a, b):
    """Bit for bit: the same values, signs of zero and NaNs (a longdouble's padding aside)."""
    a, b = np.asarray(a), np.asarray(b)
    if a.shape != b.shape or a.dtype != b.dtype:
        return False
    if a.dtype.kind == "c":
        return same(a.real, b.real) and same(a.imag, b.imag)
    return bool(np.all((a == b) | (np.isnan(a) & np.isnan(b))) and
                np.all(np.signbit(a) == np.signbit(b)))


CASES = [
    ("butterworth", "lowpass", 4, 1000, None, 44100, {}),
    ("chebyshev", "highpass", 5, 2500, None, 48000, {"ripple": 0.5}),
    ("bessel", "bandpass", 3, 300, 3000, 44100, {}),
    ("chebyshev2", "bandstop", 6, 800, 1200, 96000, {"attenuation": 60}),
    ("elliptic", "bandpass", 4, 1000, 2000, 48000, {"ripple": 0.5, "attenuation": 60}),
    ("butterworth", "lowshelf", 2, 200, None, 44100, {"gain": 9}),
    ("butterworth", "bandpass", 8, 100, 200, 48000, {}),  # the recursion cannot run
    # Settings as text, read in the extended format as the command line reads them.
    ("chebyshev", "lowpass", 3, "1000.1", None, 44100, {"ripple": "0.3"}),
]


def against_cli():
    for kind, response, order, f1, f2, fs, extra in CASES:
        label = f"{kind} {response} {order}"
        args = ["--kind", kind, "--response", response, "--order", str(order), "--f1", str(f1),
                "--rate", str(fs)] + (["--f2", str(f2)] if f2 else [])
        for key, value in extra.items():
            args += [f"--{key}", str(value)]
        cli = cli_report(args)
        f = vurnel.design(kind, response, order, f1, f2, fs=fs, **extra)
        if isinstance(f1, str):
            same_in_longdouble = vurnel.design(kind, response, order, ld(f1), fs=fs,
                                               **{k: ld(v) for k, v in extra.items()})
            check(f"{label}: str and longdouble settings", same(same_in_longdouble.ba[1],
                                                                 f.ba[1]))
        b, a = f.ba
        z, p, k = f.zpk
        g = cli["g"]
        check(f"{label}: gain factor", k == g and b[0] == g, f"{k!r} {g!r}")
        n = len(cli["taps"])
        xc = np.array([t[0] for t in cli["taps"]], dtype=np.longdouble)
        yc = np.array([t[1] for t in cli["taps"]], dtype=np.longdouble)
        check(f"{label}: a", same(a, np.concatenate([[ld(1)], -yc[::-1]])), a)
        check(f"{label}: b", len(b) == n + 1 and same(b[1:], g * xc[::-1]), b)
        for name, ours in (("z-plane poles", p), ("z-plane zeros", z)):
            theirs = np.array([complex(0) for _ in cli[name]], dtype=np.clongdouble)
            for i, (re, im) in enumerate(cli[name]):
                theirs[i] = re + np.clongdouble(1j) * im
            check(f"{label}: {name}", same(ours, theirs), f"{ours} vs {theirs}")
        sections = np.array(cli["sections"], dtype=np.longdouble)
        check(f"{label}: sections", same(f.sos[:, [0, 1, 2, 4, 5]], sections), f.sos)
        check(f"{label}: stable", f.stable == (cli["stability"] == "stable"), cli["stability"])
        check(f"{label}: error", (f.error or None) == cli.get("error"), f"{f.error!r}")
        if not f.stable:
            check(f"{label}: largest root", f"{f.largest_root:.10g}" in cli["stability"],
                  f"{f.largest_root} vs {cli['stability']}")
        impulse = np.zeros(64, dtype=np.longdouble)
        impulse[0] = 1
        check(f"{label}: lfilter bits", same(f.lfilter(impulse),
                                             np.array(cli["impulse"], dtype=np.longdouble)))
        check(f"{label}: sosfilt bits", same(f.sosfilt(impulse), np.array(
            cli["impulse of the sections"], dtype=np.longdouble)))


def filtering():
    rng = np.random.default_rng(36)
    f = vurnel.design("elliptic", "bandpass", 4, 1000, 2000, fs=48000, ripple=0.5, attenuation=60)
    x = rng.standard_normal(4000) * 0.5
    x[1000:1100] = 0.0
    for method in ("lfilter", "sosfilt"):
        run = getattr(f, method)
        f.reset()
        wide = run(x.astype(np.longdouble))
        for dtype in (np.float32, np.float64, np.longdouble):
            xt = x.astype(dtype)
            f.reset()
            whole = run(xt)
            label = f"{method} {np.dtype(dtype).name}"
            f.reset()
            rounded_once = run(xt.astype(np.longdouble)).astype(dtype)
            check(f"{label}: output in the input's type, rounded once",
                  same(whole, rounded_once) and whole.dtype == dtype)
            if dtype == np.longdouble:
                check(f"{label}: the longdouble run", same(whole, wide))
            for cuts in ([1], [1, 2, 3, 1000, 1001, 3999], sorted(rng.choice(4000, 40, False))):
                f.reset()
                pieces = np.concatenate([run(piece) for piece in np.split(xt, cuts)])
                check(f"{label}: split at {list(cuts)[:6]}", same(pieces, whole))
            block = np.stack([xt, -xt, 2 * xt])
            f.reset()
            rows = run(block)
            f.reset()
            columns = run(np.asfortranarray(block.T), axis=0)
            f.reset()
            strided = run(np.repeat(block, 2, axis=1)[:, ::2])
            singles = []
            for row in block:
                f.reset()
                singles.append(run(row))
            singles = np.stack(singles)
            check(f"{label}: 2-D rows", same(rows, singles))
            check(f"{label}: 2-D along axis 0", same(np.ascontiguousarray(columns.T), singles))
            check(f"{label}: non-contiguous input", same(strided, singles))
            f.reset()
            try:
                run(block)
                run(xt)
                check(f"{label}: another channel count refused", False)
            except ValueError as e:
                check(f"{label}: another channel count refused", "reset()" in str(e), e)


def gil_released():
    f = vurnel.design("butterworth", "bandpass", 8, 1000, 2000, fs=48000)
    x = np.random.default_rng(3).uniform(-1, 1, 1 << 22)  # sound: no silent shortcut
    inside, done, stamps, call = threading.Event(), threading.Event(), [], []

    def worker():
        inside.set()
        start = time.perf_counter()
        f.sosfilt(x)
        call.append((start, time.perf_counter()))
        done.set()

    thread = threading.Thread(target=worker)
    thread.start()
    inside.wait()
    while not done.is_set():
        stamps.append(time.perf_counter())
    thread.join()
    start, end = call[0]
    during = [t for t in stamps if start <= t <= end]
    # Held, the GIL would stop this loop for the whole call: no stamp would fall inside it.
    # Released, the loop runs beside the call, however the scheduler shares the cores.
    check("the GIL is released while filtering", len(during) > 100,
          f"{len(during)} iterations during a call of {end - start:.3f} s")


def bad_input():
    base = dict(kind="butterworth", response="bandpass", order=4, f1=1000, f2=2000, fs=48000)
    for change, phrase in [({"order": 0}, "order '0' must be a whole number from 1 to 8"),
                           ({"order": 9}, "order '9' must be a whole number from 1 to 8"),
                           ({"f2": 24000}, "f2 24000 was stored as 23999.9999"),
                           ({"f2": 1000}, "needs f2 (1000 Hz) above f1 (1000 Hz)"),
                           ({"f1": float("nan")}, "f1 wants a number, not 'nan'"),
                           ({"kind": "bessel", "response": "highshelf"},
                            "a highshelf is designed for butterworth filters only, not bessel"),
                           ({"kind": "elliptic", "ripple": 3, "attenuation": 3},
                            "needs attenuation (3 dB) above ripple (3 dB)"),
                           ({"f1": 10, "f2": 20}, "f1 10 Hz is designed at 19.2 Hz")]:
        try:
            vurnel.design(**{**base, **change})
            check(f"{change} refused", False, "no exception")
        except ValueError as e:
            check(f"{change} refused", phrase in str(e), e)


def main():
    against_cli()
    filtering()
    gil_released()
    bad_input()
    for f in failures[:30]:
        print("FAIL", f)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

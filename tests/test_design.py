#!/usr/bin/python3
"""`vurnel design` against scipy.signal, the library's own per-sample routine, and rsvg-convert.

Usage: test_design.py VURNEL DESIGN_DUMP

For each design: the printed z-plane poles and zeros equal scipy.signal.iirfilter's digital
zpk of the same prototype (Bessel with norm='mag'; cheby2 and ellip with the same attenuation;
scipy has no shelves) to 1e-9; the CSV's magnitude and phase equal
scipy.signal.freqz of the printed coefficients to 1e-6 dB and 1e-6 degrees, and its group delay
equals scipy.signal.group_delay to 1e-6 (relative to the delay, at least one sample) where
scipy's own sums of the product polynomial b * reversed(a) are accurate in double precision to
1e-8, at every point where evaluating the expanded polynomials in double precision is
accurate to 1e-7 (next to zeros on the unit circle
double-precision freqz loses more than the tolerance, while our extended sums lose less); the impulse
response has the very bits of the library's ProcessSample run by another program; the SVG
renders. Every kind of bad input gets one line (and a hint to --help), a non-zero exit and no
file.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy import signal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402

VURNEL, DUMP = sys.argv[1:3]
KINDS = ["butterworth", "chebyshev", "bessel", "chebyshev2", "elliptic"]
RESPONSES = ["lowpass", "highpass", "bandpass", "bandstop", "lowshelf", "highshelf"]
# kind, response, order, f1, f2, rate, ripple[, attenuation, gain]
DESIGNS = [
    ("butterworth", "lowpass", 4, 1000, None, 44100, 0),
    ("chebyshev", "highpass", 5, 2000, None, 48000, 1),
    ("bessel", "bandpass", 3, 500, 2500, 44100, 0),
    ("chebyshev", "bandstop", 4, 3000, 6000, 96000, 0.5),
    ("butterworth", "bandpass", 8, 100, 200, 44100, 0),
    ("bessel", "highpass", 8, 10000, None, 44100, 0),
    ("chebyshev", "lowpass", 8, 300, None, 8000, 3),
    ("chebyshev2", "bandstop", 5, 1000, 3000, 48000, 0, 50, 0),
    ("elliptic", "bandpass", 8, 200, 400, 44100, 0.5, 70, 0),
    ("elliptic", "highpass", 7, 5000, None, 96000, 1, 40, 0),
    ("butterworth", "lowshelf", 6, 150, None, 44100, 0, 40, 9),
]
DOUBLE_ROUNDING = 2.0 ** -53
CHECKS = Checks()
check = CHECKS.check
worst = {"roots": 0.0, "db": 0.0, "degrees": 0.0, "delay": 0.0}


def parse_report(text):
    sections, current = {}, None
    for line in text.splitlines():
        header = re.match(r"^(s-plane|z-plane) (poles|zeros) \((\d+)\)", line)
        if header:
            current = f"{header.group(1)} {header.group(2)}"
            sections[current] = []
            continue
        root = re.match(r"^\s+([+-]\S+) ([+-]\S+)j$", line)
        if current and root:
            sections[current].append(complex(float(root.group(1)), float(root.group(2))))
        elif not line.startswith("  "):
            current = None
    gain = float(re.search(r"gain factor g = (\S+)", text).group(1))
    coefficients = [(int(k), float(x), float(y)) for k, x, y in
                    re.findall(r"^\s+(\d+)\s+(\S+)\s+(\S+)$",
                               text.split("recursion, N")[1].split("\n\n")[0], re.M)]
    impulse = re.findall(r"^\s+\d+\s+\S+\s+(0x\S+|[+-]?0x\S+)$", text, re.M)
    return sections, gain, coefficients, impulse


def set_distance(ours, theirs):
    theirs = list(np.asarray(theirs, dtype=complex))
    if len(ours) != len(theirs):
        return np.inf
    d = 0.0
    for z in ours:
        k = int(np.argmin([abs(z - t) for t in theirs]))
        d = max(d, abs(z - theirs.pop(k)))
    return d


def scipy_zpk(kind, response, order, f1, f2, rate, ripple, attenuation=40, gain=0):
    wn = f1 if f2 is None else [f1, f2]
    if kind == "bessel":
        return signal.bessel(order, wn, btype=response, output="zpk", norm="mag", fs=rate)
    if kind == "chebyshev2":
        return signal.cheby2(order, attenuation, wn, btype=response, output="zpk", fs=rate)
    if kind == "elliptic":
        return signal.ellip(order, ripple, attenuation, wn, btype=response, output="zpk", fs=rate)
    extra = {"rp": ripple} if kind == "chebyshev" else {}
    return signal.iirfilter(order, wn, btype=response, ftype="butter" if kind == "butterworth"
                            else "cheby1", output="zpk", fs=rate, **extra)


def run(*args):
    return subprocess.run([VURNEL, "design", *map(str, args)], capture_output=True, text=True)


def sections_case(name, csv, rate, roots, ripple):
    """An unstable recursion's CSV is the response of the second-order sections that run the
    design: the shape of scipy's sosfreqz of zpk2sos on the same z-plane roots, with the band's
    top at 0 dB (within the passband ripple of an elliptic design, normalised at the band's
    centre)."""
    hz, db = np.loadtxt(csv, delimiter=",", skiprows=1).T[:2]
    w = 2 * np.pi * hz / rate
    sos = signal.zpk2sos(roots["z-plane zeros"], roots["z-plane poles"], 1.0)
    _, h = signal.sosfreqz(sos, worN=w)
    band = db > -40
    shape = db[band] - 20 * np.log10(np.abs(h[band]))
    spread = shape.max() - shape.min()
    check(f"{name}: the recursion is unstable, so the CSV is its sections' response: scipy's "
          "sosfreqz shape, the band's top at 0 dB", band.sum() >= 50 and spread <= 1e-6 and
          abs(db.max()) <= max(0.05, ripple), f"shape spread {spread:.2g} dB over {band.sum()} points, "
          f"top {db.max():.3g} dB")


def design_case(work, case):
    kind, response, order, f1, f2, rate, ripple, *extra = case
    name = f"{kind} {response} {order} f1={f1}" + (f" f2={f2}" if f2 else "") + f" @ {rate}"
    svg, csv = os.path.join(work, "d.svg"), os.path.join(work, "d.csv")
    args = ["--kind", kind, "--response", response, "--order", order, "--f1", f1, "--rate", rate,
            "--ripple", ripple, "--out", svg, "--csv", csv, "--impulse", 40]
    if f2:
        args += ["--f2", f2]
    if extra:
        args += ["--attenuation", extra[0], "--gain", extra[1]]
    r = run(*args)
    if r.returncode:
        check(name, False, r.stderr.strip())
        return
    sections, gain, coefficients, impulse = parse_report(r.stdout)
    if "shelf" not in response:
        z, p, _ = scipy_zpk(*case)
        dz = set_distance(sections["z-plane zeros"], z)
        dp = set_distance(sections["z-plane poles"], p)
        worst["roots"] = max(worst["roots"], dz, dp)
        check(f"{name}: z-plane zeros and poles are scipy's", dz <= 1e-9 and dp <= 1e-9,
              f"zeros {dz:.2g}, poles {dp:.2g}")

    with open(csv) as f:
        if any(line.startswith("#") and "sections" in line for line in f):
            sections_case(name, csv, rate, sections, ripple)
            return
    # The recursion's transfer function: b = g·[1, xc[N-1], ..., xc[0]], a = [1, -yc[N-1], ...].
    n = len(coefficients)
    b = np.array([gain] + [gain * coefficients[n - k][1] for k in range(1, n + 1)])
    a = np.array([1.0] + [-coefficients[n - k][2] for k in range(1, n + 1)])
    data = np.loadtxt(csv, delimiter=",", skiprows=1)
    hz, db, degrees, delay = data.T
    w = 2 * np.pi * hz / rate
    _, h = signal.freqz(b, a, worN=w)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        _, gd = signal.group_delay((b, a), w=w)
    e = np.exp(-1j * np.outer(w, np.arange(n + 1)))
    condition = (np.abs(b).sum() / np.abs(e @ b) + np.abs(a).sum() / np.abs(e @ a))
    usable = condition * (n + 1) * DOUBLE_ROUNDING < 1e-7
    their_db = 20 * np.log10(np.abs(h))
    their_deg = np.degrees(np.angle(h))
    ddb = np.max(np.abs(db - their_db)[usable])
    ddeg = np.max(np.abs((degrees - their_deg + 180) % 360 - 180)[usable])
    # scipy's group delay divides two sums of the product polynomial c = b * reversed(a):
    # compare it where those sums are as well conditioned in double.
    c = np.convolve(b, a[::-1])
    ec = np.exp(-1j * np.outer(w, np.arange(len(c))))
    delay_usable = usable & (np.abs(c).sum() / np.abs(ec @ c) * len(c) * DOUBLE_ROUNDING < 1e-8)
    ddelay = np.max((np.abs(delay - gd) / np.maximum(1, np.abs(gd)))[delay_usable])
    worst["db"], worst["degrees"] = max(worst["db"], ddb), max(worst["degrees"], ddeg)
    worst["delay"] = max(worst["delay"], ddelay)
    check(f"{name}: magnitude, phase and group delay are freqz's and group_delay's "
          f"({usable.sum()} and {delay_usable.sum()} of {len(hz)} points)", usable.sum() >= 100 and
          delay_usable.sum() >= 50 and ddb <= 1e-6 and ddeg <= 1e-6 and ddelay <= 1e-6,
          f"{ddb:.2g} dB, {ddeg:.2g} degrees, {ddelay:.2g} samples")
    check(f"{name}: the CSV spans the band up to Nyquist", hz[0] < f1 and
          hz[-1] > 0.999 * rate / 2 and np.all(np.diff(hz) > 0))

    codes = [KINDS.index(kind), RESPONSES.index(response), order]
    dump = subprocess.run([DUMP, "impulse", *map(str, codes), str(f1), str(f2 or 3000), str(rate),
                           str(ripple), "40", *map(str, extra)], capture_output=True, text=True,
                          check=True)
    check(f"{name}: the impulse response has ProcessSample's bits",
          impulse == dump.stdout.split(), f"{len(impulse)} samples")

    png = os.path.join(work, "d.png")
    r = subprocess.run(["rsvg-convert", "-o", png, svg], capture_output=True, text=True)
    check(f"{name}: the SVG renders", r.returncode == 0 and os.path.getsize(png) > 10000,
          r.stderr.strip())


def main():
    work = tempfile.mkdtemp(prefix="vurnel-design-")
    try:
        for case in DESIGNS:
            design_case(work, case)
        out = os.path.join(work, "bad.svg")
        csv = os.path.join(work, "bad.csv")
        for args, phrase in [
                (["--kind", "legendre"], "unknown kind"),
                (["--response", "lowshelf", "--kind", "bessel"], "butterworth filters only"),
                (["--kind", "elliptic", "--ripple", "3", "--attenuation", "3"],
                 "above --ripple"),
                (["--attenuation", "loud"], "wants a number"),
                (["--gain", "inf"], "wants a number"),
                (["--response", "notch"], "unknown response"),
                (["--order", "0"], "order"), (["--order", "9"], "order"),
                (["--order", "2.5"], "order"), (["--f1", "loud"], "wants a number"),
                (["--ripple", "nan"], "wants a number"),
                (["--response", "bandpass", "--f1", "100"], "needs --f2"),
                (["--response", "bandstop", "--f1", "100"], "needs --f2"),
                (["--response", "bandpass", "--f1", "2000", "--f2", "1000"],
                 "needs --f2 (1000 Hz) above --f1 (2000 Hz)"),
                (["--rate", "0"], "above 0"), (["--rate", "-44100"], "above 0"),
                (["--f1"], "needs a value"), (["--bogus", "1"], "unknown option")]:
            r = run("--out", out, "--csv", csv, *args)
            lines = r.stderr.strip().splitlines()
            check(f"bad input {' '.join(args)}: one line and the hint, non-zero exit, no file",
                  r.returncode != 0 and len(lines) == 2 and phrase in lines[0] and
                  lines[1] == "Try 'vurnel design --help'." and
                  not os.path.exists(out) and not os.path.exists(csv) and not r.stdout,
                  lines[0] if lines else "(silent)")
        r = run("--f1", "1e9", "--ripple", "-2")
        check("clamped values are shown as stored, with a note",
              r.returncode == 0 and "f1          22049.9999 Hz" in r.stdout and
              "note: f1 1000000000 was stored as 22049.9999" in r.stdout and
              "note: ripple -2 was stored as 2" in r.stdout, r.stdout[:400])
        # The README's example is what the program prints.
        readme = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                   "README.md")).read()
        example = re.search(r"```console\n\$ vurnel design (.*?)\n(.*?)```", readme, re.S)
        if example:
            args = example.group(1).split()
            args[args.index("--out") + 1] = os.path.join(work, "readme.svg")
            printed = run(*args).stdout.replace(os.path.join(work, "readme.svg"),
                                                "docs/design-example.svg")
        check("the README's design example is what vurnel prints",
              example and printed == example.group(2))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"largest deviations: roots {worst['roots']:.2g}, magnitude {worst['db']:.2g} dB, "
          f"phase {worst['degrees']:.2g} degrees, group delay {worst['delay']:.2g}")
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

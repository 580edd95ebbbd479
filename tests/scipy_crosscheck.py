#!/usr/bin/python3
"""Compares our filter designs with scipy.signal's digital zpk designs of the same filters.

Reads the output of design_dump (the program named as the first argument). For every design:

1. Its z-plane zeros and poles equal scipy's (butter; cheby1 with the same ripple; bessel;
   iirfilter with fs given, so the pre-warping matches) as sets, to 1e-9. Our Bessel table is
   the magnitude-normalised prototype (order 2: -1.1016 +- 0.6360j, -3 dB at 1 rad/s), which is
   scipy's norm='mag'; scipy's norm='phase' is another prototype altogether.
2. The filter as it runs (GainFactor and the recursion coefficients) has gain 1 at our reference
   point. |H| is evaluated from our coefficients in 50-digit arithmetic. The design evaluates
   the expanded polynomials by Horner's scheme in extended precision, whose rounding error is
   bounded by (2n+1)·u·cond (u = 2^-64; cond = sum |a_j x^j| / |sum a_j x^j|); for high orders at
   low frequencies cond reaches 1e12 and more, because the poles crowd z = 1. So the check is
   |H(ref)| * GainFactor - 1 within 1e-12 plus that bound; the report counts the designs that
   needed the bound. The bound itself has a ceiling (GAIN_CEILING, a few times the largest error
   such a design shows), and at most MAX_NEEDING_BOUND of the designs may need it, so an error
   in GainFactor of a per cent cannot hide behind a large condition number.

What is not compared: scipy's gain k. scipy normalises even-order Chebyshev filters to the
bottom of the ripple band at DC and bandpass filters at the geometric centre frequency, while
our designs normalise to 1 at DC, at Nyquist, at the arithmetic mean of the normalised band
edges, or (bandstop) at the geometric mean of the DC and Nyquist gains.
"""
import subprocess
import sys

import mpmath
import numpy as np
from scipy import signal

mpmath.mp.dps = 50
KINDS = {0: "butter", 1: "cheby1", 2: "bessel"}
RESPONSES = {0: "lowpass", 1: "highpass", 2: "bandpass", 3: "bandstop"}
SET_TOL = 1e-9
GAIN_TOL = 1e-12
GAIN_CEILING = 5e-3  # the largest error, 3.6e-3, is a band design of order 8 near 20 Hz
MAX_NEEDING_BOUND = 150  # of 1152: the high-order band designs at the lowest frequencies
UNIT_ROUNDOFF = 2.0 ** -64


def parse(text):
    designs = []
    for line in text.splitlines():
        parts = line.split()
        if not parts:
            continue
        if parts[0] == "D":
            kind, response, order = (int(v) for v in parts[1:4])
            f1, f2, rate, ripple, gain = parts[4:9]
            designs.append(dict(kind=kind, response=response, order=order, f1=f1, f2=f2,
                                rate=rate, ripple=float(ripple), gain=mpmath.mpf(gain),
                                error=int(parts[9]), zeros=[], poles=[], x=[], y=[]))
        elif parts[0] == "C":
            designs[-1]["x"].append(mpmath.mpf(parts[1]))
            designs[-1]["y"].append(mpmath.mpf(parts[2]))
        else:
            value = complex(float(parts[1]), float(parts[2]))
            designs[-1]["zeros" if parts[0] == "Z" else "poles"].append(value)
    return designs


def set_distance(ours, theirs):
    """Largest distance when each of ours is matched to its nearest unused partner."""
    theirs = list(np.asarray(theirs, dtype=complex))
    if len(ours) != len(theirs):
        return np.inf
    worst = 0.0
    for z in sorted(ours, key=lambda c: (c.real, c.imag)):
        distances = [abs(z - t) for t in theirs]
        k = int(np.argmin(distances))
        worst = max(worst, distances[k])
        theirs.pop(k)
    return worst


def polynomials(d):
    """Numerator and denominator of the recursion, coefficient of z^j at index j (monic)."""
    num = list(d["x"]) + [mpmath.mpf(1)]
    den = [-y for y in d["y"]] + [mpmath.mpf(1)]
    return num, den


def evaluate(coeffs, x):
    """The polynomial at x, and the condition number of evaluating it."""
    value = mpmath.polyval(list(reversed(coeffs)), x)
    magnitude_sum = sum(abs(c) * abs(x) ** j for j, c in enumerate(coeffs))
    return value, (magnitude_sum / abs(value) if value != 0 else mpmath.inf)


def reference_gain(d):
    """|H(ref)| of the recursion as it runs, and the rounding bound of our own evaluation."""
    num, den = polynomials(d)
    n = len(den) - 1

    def at(x):
        nv, nc = evaluate(num, x)
        dv, dc = evaluate(den, x)
        return abs(nv / dv), (2 * n + 1) * UNIT_ROUNDOFF * (nc + dc)

    if d["response"] == 0:
        return at(mpmath.mpf(1))
    if d["response"] == 1:
        return at(mpmath.mpf(-1))
    if d["response"] == 2:
        rate = mpmath.mpf(d["rate"])
        f1 = max(mpmath.mpf(d["f1"]) / rate, d["order"] * mpmath.mpf("1e-4"))
        f2 = max(mpmath.mpf(d["f2"]) / rate, d["order"] * mpmath.mpf("1e-4"))
        return at(mpmath.expjpi(f1 + f2))
    (g1, b1), (g2, b2) = at(mpmath.mpf(1)), at(mpmath.mpf(-1))
    return mpmath.sqrt(g1 * g2), (b1 + b2) / 2


def scipy_zpk(d):
    rate = float(d["rate"])
    wn = float(d["f1"]) if d["response"] < 2 else sorted([float(d["f1"]), float(d["f2"])])
    btype = RESPONSES[d["response"]]
    if d["kind"] == 2:
        return signal.bessel(d["order"], wn, btype=btype, output="zpk", norm="mag", fs=rate)
    kwargs = dict(btype=btype, ftype=KINDS[d["kind"]], output="zpk", fs=rate)
    if d["kind"] == 1:
        kwargs["rp"] = d["ripple"]
    return signal.iirfilter(d["order"], wn, **kwargs)


def main():
    text = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    designs = parse(text)
    failures = 0
    worst_set = 0.0
    worst_strict = 0.0
    needed_bound = 0
    for d in designs:
        z, p, _ = scipy_zpk(d)
        dz = set_distance(d["zeros"], z)
        dp = set_distance(d["poles"], p)
        magnitude, bound = reference_gain(d)
        gain_error = float(abs(magnitude * d["gain"] - 1))
        worst_set = max(worst_set, dz, dp)
        if gain_error <= GAIN_TOL:
            worst_strict = max(worst_strict, gain_error)
        else:
            needed_bound += 1
        allowed = min(GAIN_TOL + float(bound), GAIN_CEILING)
        if dz > SET_TOL or dp > SET_TOL or gain_error > allowed or d["error"]:
            failures += 1
            print(f"MISMATCH {KINDS[d['kind']]} {RESPONSES[d['response']]} order {d['order']} "
                  f"f=({d['f1']}, {d['f2']}) fs={d['rate']}: zeros {dz:.3g}, poles {dp:.3g}, "
                  f"gain {gain_error:.3g} (bound {float(bound):.3g}), "
                  f"error text {d['error']} chars")
    print(f"{len(designs)} designs compared with scipy {__import__('scipy').__version__}: "
          f"largest pole/zero distance {worst_set:.3g}; gain at the reference point within "
          f"1e-12 for {len(designs) - needed_bound} (largest {worst_strict:.3g}), within the "
          f"rounding bound of the evaluation for {needed_bound}")
    if needed_bound > MAX_NEEDING_BOUND:
        failures += 1
        print(f"FAIL {needed_bound} designs needed the rounding bound (at most "
              f"{MAX_NEEDING_BOUND} may)")
    print(f"{len(designs) - failures} passed, {failures} failed")
    return 1 if failures or not designs else 0


if __name__ == "__main__":
    sys.exit(main())

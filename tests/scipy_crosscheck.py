#!/usr/bin/python3
"""Compares our filter designs with scipy.signal's digital zpk designs of the same filters.

Reads the output of design_dump (the program named as the first argument). For every design:

1. Its z-plane zeros and poles equal scipy's (butter; cheby1 with the same ripple; bessel;
   cheby2 with the same attenuation; ellip with the same ripple and attenuation; iirfilter with
   fs given, so the pre-warping matches) as sets, to 1e-9. Our Bessel table is the
   magnitude-normalised prototype (order 2: -1.1016 +- 0.6360j, -3 dB at 1 rad/s), which is
   scipy's norm='mag'; scipy's norm='phase' is another prototype altogether.
2. The filter as it runs (GainFactor and the recursion coefficients) has gain 1 at our reference
   point. |H| is evaluated from our coefficients in 50-digit arithmetic. The design evaluates
   the expanded polynomials by Horner's scheme in extended precision, whose rounding error is
   bounded by (2n+1)·u·cond (u = 2^-64; cond = sum |a_j x^j| / |sum a_j x^j|); for high orders at
   low frequencies cond reaches 1e12 and more, because the poles crowd z = 1. So the check is
   |H(ref)| * GainFactor - 1 within 1e-12 plus that bound; the report counts the designs that
   needed the bound. The bound itself has a ceiling (GAIN_CEILING, just above the largest error
   such a design shows), and at most a fraction MAX_NEEDING_BOUND of the designs may need it, so
   an error in GainFactor cannot hide behind a large condition number.

3. For the inverse Chebyshev and elliptic designs, the magnitude shape: our design's |H| (its
   z-plane zeros, poles and GainFactor) minus scipy's freqz_zpk, in dB, is one constant to 1e-6 dB
   wherever scipy's response is within 3 dB of its peak (the passband, its ripple included).
4. The Butterworth shelves, which scipy lacks, against their definition, with |H| of our design
   (zeros, poles, GainFactor) evaluated in mpmath: the shelf's gain at 0 Hz (low shelf) or at
   Nyquist (high shelf), 0 dB at the other end, exactly half the shelf's gain in dB at Frequency1,
   all to 1e-9 dB, and the magnitude monotone between 0 Hz and Nyquist.

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
KINDS = {0: "butter", 1: "cheby1", 2: "bessel", 3: "cheby2", 4: "ellip"}
RESPONSES = {0: "lowpass", 1: "highpass", 2: "bandpass", 3: "bandstop", 4: "lowshelf",
             5: "highshelf"}
SET_TOL = 1e-9
SHAPE_TOL_DB = 1e-6
SHELF_TOL_DB = 1e-9
GAIN_TOL = 1e-12
GAIN_CEILING = 1e-2  # the largest error, 8.3e-3, is an elliptic bandstop of order 8; 3.6e-3 of the
# older kinds, a Butterworth band design of order 8 near 20 Hz
MAX_NEEDING_BOUND = 0.12  # of the designs: the high-order band designs at the lowest frequencies
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
                                error=int(parts[9]), attenuation=float(parts[11]),
                                shelf=mpmath.mpf(parts[12]), zeros=[], poles=[], x=[], y=[],
                                exact_zeros=[], exact_poles=[]))
        elif parts[0] == "C":
            designs[-1]["x"].append(mpmath.mpf(parts[1]))
            designs[-1]["y"].append(mpmath.mpf(parts[2]))
        else:
            value = complex(float(parts[1]), float(parts[2]))
            which = "zeros" if parts[0] == "Z" else "poles"
            designs[-1][which].append(value)
            designs[-1]["exact_" + which].append(mpmath.mpc(parts[1], parts[2]))
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

    if d["response"] in (0, 5):
        return at(mpmath.mpf(1))
    if d["response"] in (1, 4):
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
    if d["kind"] in (1, 4):
        kwargs["rp"] = d["ripple"]
    if d["kind"] in (3, 4):
        kwargs["rs"] = d["attenuation"]
    return signal.iirfilter(d["order"], wn, **kwargs)


def our_response(d, points):
    """|H| in dB of our design (GainFactor and the z-plane zeros and poles) at `points` (e^jw)."""
    h = np.full(len(points), float(d["gain"]), dtype=complex)
    for z in d["zeros"]:
        h *= points - z
    for p in d["poles"]:
        h /= points - p
    return 20 * np.log10(np.abs(h))


def shape_spread(d, z, p, k):
    """max − min over the passband of our |H| minus scipy's, in dB."""
    rate = float(d["rate"])
    hz = np.concatenate([np.geomspace(rate * 1e-5, rate / 2, 2000), np.linspace(0, rate / 2, 4001)])
    _, theirs = signal.freqz_zpk(z, p, k, worN=hz, fs=rate)
    with np.errstate(divide="ignore"):  # exact zeros of theirs lie outside the passband
        theirs_db = 20 * np.log10(np.abs(theirs))
    band = theirs_db >= theirs_db.max() - 3
    difference = our_response(d, np.exp(2j * np.pi * hz[band] / rate)) - theirs_db[band]
    return float(difference.max() - difference.min())


def shelf_faults(d):
    """How far the shelf misses its definition, in dB (largest of the three points), and whether
    its magnitude is monotone; |H| of our design in mpmath."""
    def db(x):
        h = d["gain"] * mpmath.fprod(x - z for z in d["exact_zeros"])
        h /= mpmath.fprod(x - p for p in d["exact_poles"])
        return 20 * mpmath.log10(abs(h))

    low, high = (d["shelf"], 0) if d["response"] == 4 else (0, d["shelf"])
    f1 = mpmath.mpf(d["f1"]) / mpmath.mpf(d["rate"])
    miss = max(abs(db(mpmath.mpf(1)) - low), abs(db(mpmath.mpf(-1)) - high),
               abs(db(mpmath.expjpi(2 * f1)) - d["shelf"] / 2))
    curve = [db(mpmath.expjpi(mpmath.mpf(i) / 400)) for i in range(401)]
    steps = [b - a for a, b in zip(curve, curve[1:])]
    sign = 1 if high >= low else -1
    monotone = all(sign * s >= -1e-15 for s in steps)
    return float(miss), monotone


def main():
    text = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    designs = parse(text)
    failures = 0
    worst_set = 0.0
    worst_strict = 0.0
    needed_bound = 0
    worst_shape = worst_shelf = 0.0
    shelves = 0
    for d in designs:
        magnitude, bound = reference_gain(d)
        gain_error = float(abs(magnitude * d["gain"] - 1))
        if d["response"] >= 4:
            shelves += 1
            miss, monotone = shelf_faults(d)
            worst_shelf = max(worst_shelf, miss)
            if miss > SHELF_TOL_DB or not monotone or d["error"] or gain_error > GAIN_TOL + float(bound):
                failures += 1
                print(f"MISMATCH {RESPONSES[d['response']]} order {d['order']} gain {d['shelf']} dB "
                      f"f1={d['f1']} fs={d['rate']}: off by {miss:.3g} dB, monotone {monotone}, "
                      f"gain {gain_error:.3g}, error text {d['error']} chars")
            continue
        z, p, k = scipy_zpk(d)
        dz = set_distance(d["zeros"], z)
        dp = set_distance(d["poles"], p)
        spread = shape_spread(d, z, p, k) if d["kind"] >= 3 else 0.0
        worst_shape = max(worst_shape, spread)
        worst_set = max(worst_set, dz, dp)
        if gain_error <= GAIN_TOL:
            worst_strict = max(worst_strict, gain_error)
        else:
            needed_bound += 1
        allowed = min(GAIN_TOL + float(bound), GAIN_CEILING)
        if (dz > SET_TOL or dp > SET_TOL or gain_error > allowed or d["error"]
                or spread > SHAPE_TOL_DB):
            failures += 1
            print(f"MISMATCH {KINDS[d['kind']]} {RESPONSES[d['response']]} order {d['order']} "
                  f"f=({d['f1']}, {d['f2']}) fs={d['rate']}: zeros {dz:.3g}, poles {dp:.3g}, "
                  f"gain {gain_error:.3g} (bound {float(bound):.3g}), shape {spread:.3g} dB, "
                  f"error text {d['error']} chars")
    print(f"{len(designs) - shelves} designs compared with scipy "
          f"{__import__('scipy').__version__}: largest pole/zero distance {worst_set:.3g}; "
          f"inverse Chebyshev and elliptic magnitude shape within {worst_shape:.3g} dB; "
          f"gain at the reference point within 1e-12 for {len(designs) - needed_bound} (largest "
          f"{worst_strict:.3g}), within the rounding bound of the evaluation for {needed_bound}")
    print(f"{shelves} shelves within {worst_shelf:.3g} dB of their definition")
    if needed_bound > MAX_NEEDING_BOUND * len(designs):
        failures += 1
        print(f"FAIL {needed_bound} designs needed the rounding bound (at most "
              f"{MAX_NEEDING_BOUND:.0%} of them may)")
    print(f"{len(designs) - failures} passed, {failures} failed")
    return 1 if failures or not designs else 0


if __name__ == "__main__":
    sys.exit(main())

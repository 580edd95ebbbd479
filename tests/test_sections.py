#!/usr/bin/python3
"""The stability verdict of every design's recursion, and its second-order sections.

Reads `design_dump sections` (the program named as the first argument): every kind × response ×
order 1..8 × f1 in 20 … 5000 Hz with f2 = 2·f1, at 44100, 48000 and 96000 Hz, and the Butterworth
low and high shelves at +12 and −12 dB, with the rounded
feedback coefficients, the z-plane poles and zeros, and the sections' coefficients in exact
hexadecimal. Checks, independently of the library's own arithmetic:

1. IsStable agrees with the Schur–Cohn test of z^N − Σ yc[k] z^k carried out in mpmath at 1024
   bits on the exact 80-bit coefficients (a design that runs PassThrough or Silence is stable);
   an unstable design's largest root magnitude M is confirmed by the same test on the polynomial
   scaled by M·(1 ± 1e-9): all roots inside the larger circle, not all inside the smaller one.
2. Every section of every design has its poles strictly inside the unit circle (|A2| < 1 and
   |A1| < 1 + A2, decided exactly in rational arithmetic).
3. The sections' gain is the design's: their response, evaluated in mpmath from their exact
   coefficients, has magnitude 1 at the design's reference point (for a bandstop, the geometric
   mean of the magnitudes at DC and Nyquist) to 1e-9, unstable recursions included. Their
   response then equals scipy's sosfreqz of zpk2sos on the same poles, zeros and gain (the
   product of the sections' B0) to 1e-9 dB wherever it is within 3 dB of the passband, plus
   the rounding of sosfreqz's own double arithmetic (which reaches a few 1e-9 dB for the
   sections of poles crowding z = 1 at 20 Hz).
4. Where the recursion is well conditioned (each design pole has a root of the rounded
   denominator within 1e-12: Newton's iteration from the pole in mpmath; and the design's gain
   factor, evaluated from the expanded polynomials, is rounded by less than 1e-10), the sections'
   impulse response agrees with ProcessSample's to a relative 1e-9 over the first 1000 samples.
Prints the number of unstable designs at each sample rate, and of each kind.
"""
import re
import subprocess
import sys
from fractions import Fraction

import mpmath
import numpy as np
from scipy import signal

mp = mpmath.mp


def exact(h):
    """The exact value of a %La hexadecimal float, as a Fraction."""
    sign = -1 if h.startswith("-") else 1
    m = re.fullmatch(r"-?0x([0-9a-f]+)(?:\.([0-9a-f]*))?p([+-]\d+)", h)
    if not m:
        raise ValueError(h)
    digits = m.group(2) or ""
    value = Fraction(int(m.group(1) + digits, 16), 16 ** len(digits))
    e = int(m.group(3))
    return sign * (value * 2**e if e >= 0 else value / 2**-e)


def mpf(fraction):
    return mp.mpf(fraction.numerator) / fraction.denominator


def parse(text):
    designs = []
    for line in text.splitlines():
        tag, *fields = line.split()
        if tag == "D":
            designs.append(dict(kind=int(fields[0]), response=int(fields[1]),
                                order=int(fields[2]), f1=float(fields[3]), f2=float(fields[4]),
                                rate=float(fields[5]), routine=int(fields[6]),
                                stable=fields[7] == "1", largest=float(exact(fields[8])),
                                taps=int(fields[9]), gain=float(fields[10])))
        elif tag in ("X", "Y"):
            designs[-1][tag.lower()] = [exact(v) for v in fields]
        elif tag in ("P", "Z"):
            v = [float(exact(x)) for x in fields]
            designs[-1][tag] = np.array(v[0::2]) + 1j * np.array(v[1::2])
            designs[-1][tag + "exact"] = [exact(x) for x in fields]
        elif tag == "S":
            v = [exact(x) for x in fields]
            designs[-1]["sections"] = [v[i:i + 5] for i in range(0, len(v), 5)]
        elif tag == "R":
            v = [float(exact(x)) for x in fields]
            designs[-1]["hz"], designs[-1]["mag"] = np.array(v[0::2]), np.array(v[1::2])
        elif tag == "I":
            designs[-1]["distance"], designs[-1]["impulse"] = (float(exact(x)) for x in fields)
    return designs


def schur_cohn(y, radius=1):
    """True when every root of z^n − Σ y[k] z^k lies strictly inside |z| < radius."""
    n = len(y)
    # p(radius·z) / radius^n, coefficients from z^0 up
    c = [-mpf(y[k]) * mp.mpf(radius) ** (k - n) for k in range(n)] + [mp.mpf(1)]
    for m in range(n, 0, -1):
        r = c[0] / c[m]
        if not abs(r) < 1:
            return False
        c = [c[j + 1] - r * c[m - 1 - j] for j in range(m)]
    return True


def reference_points(d):
    """Where the design normalises its gain, e^{jw}, with the design's floored frequencies."""
    floor = d["order"] * 1e-4
    nf1 = max(mp.mpf(d["f1"]) / d["rate"], floor)
    nf2 = nf1 if d["response"] < 2 else max(mp.mpf(d["f2"]) / d["rate"], floor)
    return {0: [1], 1: [-1], 2: [mpmath.expjpi(nf1 + nf2)], 3: [1, -1], 4: [-1],
            5: [1]}[d["response"]]


def sections_reference_magnitude(d):
    """|H| of the cascade at the design's reference point(s), in mpmath from the sections'
    exact coefficients; a bandstop's is the geometric mean of its DC and Nyquist magnitudes."""
    magnitudes = []
    for z in reference_points(d):
        h = mp.mpc(1)
        for b0, b1, b2, a1, a2 in d["sections"]:
            h *= (mpf(b0) * z * z + mpf(b1) * z + mpf(b2)) / (z * z + mpf(a1) * z + mpf(a2))
        magnitudes.append(abs(h))
    return mp.sqrt(magnitudes[0] * magnitudes[1]) if len(magnitudes) == 2 else magnitudes[0]


def gain_condition(d):
    """How far the design's rounding can move its GainFactor: (2n+1)·u·cond of the expanded
    numerator and denominator at the reference points (Horner's error bound)."""
    n = d["taps"]
    num = [mp.mpf(1)] + [mpf(d["x"][k]) for k in range(n - 1, -1, -1)]
    den = [mp.mpf(1)] + [-mpf(d["y"][k]) for k in range(n - 1, -1, -1)]
    worst = 0
    for z in reference_points(d):
        for c in (num, den):
            terms = [abs(a) * abs(z) ** (n - j) for j, a in enumerate(c)]
            worst = max(worst, sum(terms) / abs(mpmath.polyval(c, z)))
    return (2 * n + 1) * 2.0**-64 * worst


def double_rounding_db(d, band):
    """The rounding of sosfreqz in double precision, in dB, where the sections are compared:
    per section 8·2^-53 times the condition of its numerator and denominator."""
    e = np.exp(-1j * 2 * np.pi * d["hz"][band] / d["rate"])
    total = np.zeros(len(e))
    for s in d["sections"]:
        b = [float(v) for v in s[:3]]
        a = [1.0, float(s[3]), float(s[4])]
        for c in (b, a):
            value = np.abs(c[0] + c[1] * e + c[2] * e * e)
            total += 8 * 2.0**-53 * sum(abs(v) for v in c) / value
    return 20 / np.log(10) * total


def well_conditioned(d):
    """Each design pole has a root of the rounded denominator within 1e-12 (Newton from it),
    and the design's gain is rounded by less than 1e-10."""
    n = d["taps"]
    if gain_condition(d) > 1e-10:
        return False
    coeffs = [mp.mpf(1)] + [-mpf(d["y"][k]) for k in range(n - 1, -1, -1)]
    pe = d["Pexact"]
    found = []
    for i in range(n):
        pole = mp.mpc(mpf(pe[2 * i]), mpf(pe[2 * i + 1]))
        z = pole
        for _ in range(8):
            value, slope = mpmath.polyval(coeffs, z, derivative=True)
            if value == 0:
                break
            z -= value / slope
        if abs(z - pole) > 1e-12 or abs(mpmath.polyval(coeffs, z)) > 1e-40:
            return False
        found.append(z)
    return all(abs(a - b) > 1e-30 for i, a in enumerate(found) for b in found[i + 1:])


def main():
    text = subprocess.run([sys.argv[1], "sections"], check=True, capture_output=True,
                          text=True).stdout
    designs = parse(text)
    variants = 5 * 4 + 2 * 2  # kinds × responses, and the shelves at two gains
    assert len(designs) == 3 * variants * 8 * 8, len(designs)
    mp.prec = 1024
    faults, unstable, unstable_kinds, compared = [], {}, {}, 0
    for d in designs:
        name = "kind {kind} response {response} order {order} f1 {f1:g} at {rate:g}".format(**d)
        runs = d["routine"] == 2  # FilterSample
        verdict = not runs or schur_cohn(d["y"])
        if verdict != d["stable"]:
            faults.append(f"{name}: IsStable {d['stable']}, Schur-Cohn {verdict}")
        if not verdict:
            unstable[d["rate"]] = unstable.get(d["rate"], 0) + 1
            kind = ("butterworth", "chebyshev", "bessel", "chebyshev2", "elliptic")[d["kind"]]
            if d["response"] >= 4:
                kind += " shelf"
            unstable_kinds[kind] = unstable_kinds.get(kind, 0) + 1
            m = d["largest"]
            if not (schur_cohn(d["y"], m * (1 + 1e-9)) and not schur_cohn(d["y"], m * (1 - 1e-9))):
                faults.append(f"{name}: largest root {m} is not the largest root's magnitude")
        for s in d["sections"]:
            a1, a2 = s[3], s[4]
            if not (abs(a2) < 1 and abs(a1) < 1 + a2):
                faults.append(f"{name}: section with A1 {float(a1)} A2 {float(a2)} is unstable")
        if runs:
            off = abs(sections_reference_magnitude(d) - 1)
            if not off <= 1e-9:
                faults.append(f"{name}: the sections' magnitude at the reference point is off "
                              f"1 by {float(off):.3g}")
            k = 1.0
            for s in d["sections"]:
                k *= float(s[0])
            sos = signal.zpk2sos(d["Z"], d["P"], k)
            _, h = signal.sosfreqz(sos, worN=2 * np.pi * d["hz"] / d["rate"])
            # Within 3 dB of the passband, or of the largest response where the passband lies
            # below the frequencies listed (an inverse Chebyshev lowpass at 20 Hz).
            band = d["mag"] >= min(1, d["mag"].max()) * 10 ** (-3 / 20)
            err = np.abs(20 * np.log10(np.abs(h[band])) - 20 * np.log10(d["mag"][band]))
            if not band.any() or (err > 1e-9 + double_rounding_db(d, band)).any():
                faults.append(f"{name}: sections differ from sosfreqz by {err.max() if band.any() else 'no passband'} dB")
            if verdict and well_conditioned(d):
                compared += 1
                if not d["impulse"] <= 1e-9:
                    faults.append(f"{name}: impulse responses differ by {d['impulse']:.3g} (relative)")
    for rate in sorted(unstable):
        print(f"{unstable[rate]} of {variants * 64} designs unstable as a recursion at {rate:g} Hz")
    for kind in sorted(unstable_kinds):
        print(f"{unstable_kinds[kind]} {kind} designs unstable as a recursion (all rates)")
    print(f"impulse responses compared for {compared} well-conditioned designs")
    if compared < 500:
        faults.append(f"only {compared} well-conditioned designs to compare")
    for f in faults[:40]:
        print("FAIL", f)
    print(f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""`vurnel design --csv` is the exact response of the coefficients the recursion runs.

Usage: test_design_exact.py VURNEL DESIGN_DUMP

For designs with many zeros on the unit circle (highpass and bandpass filters of orders 5 to 8
at low cutoffs, where the expanded numerator cancels to 1e-25 of its coefficients and the
denominator, its poles crowded next to z = 1, to 1e-40; and a narrow bandstop, its poles and
zeros crowded at 1 kHz), every CSV row whose magnitude is above
-200 dB equals the response evaluated with mpmath at 100 digits from the very bits of the
recursion's gain factor and coefficients (printed as hexadecimal floats by design_dump): the
magnitude to 1e-9 dB, the phase to 1e-7 degrees, the group delay to 1e-9 samples (relative to
the delay when it is larger than one sample). The frequencies are recomputed as the program
computes them, in long double (numpy's np.longdouble is the same 80-bit format and calls the
same glibc powl), and must agree with the CSV's printed hertz to its 17 digits. The SVG plot
draws all 1000 points of the magnitude, phase and group delay curves. Far below the CSV's range
(w = 2^-24 and 2^-40 for the highpass of order 8, where its numerator is 1e-96 of its terms and
the wider sums take over), RecursionResponse itself (through design_dump) stays exact to 1e-12.
"""
import os
import re
import subprocess
import sys
import tempfile

import mpmath
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402

VURNEL, DUMP = sys.argv[1:3]
KINDS = ["butterworth", "chebyshev", "bessel"]
RESPONSES = ["lowpass", "highpass", "bandpass", "bandstop"]
# kind, response, order, f1, f2, rate, ripple
DESIGNS = [
    ("bessel", "highpass", 5, "200", "3000", "44100", "0"),
    ("butterworth", "bandpass", 8, "30", "60", "48000", "0"),
    ("chebyshev", "highpass", 7, "30", "3000", "96000", "1"),
    ("bessel", "bandpass", 6, "40", "90", "44100", "0"),
    ("butterworth", "highpass", 8, "20", "3000", "44100", "0"),
    ("chebyshev", "bandstop", 8, "1000", "1100", "44100", "0.5"),
]
POINTS = 1000  # the CSV's rows
FLOOR_DB = -200
DB_TOLERANCE, DEGREE_TOLERANCE, DELAY_TOLERANCE = 1e-9, 1e-7, 1e-9
mpmath.mp.dps = 100
CHECKS = Checks()


def hex_long_double(text):
    """The exact value of a %La hexadecimal float such as -0x9.7613c671518355dp-1."""
    sign = -1 if text.startswith("-") else 1
    digits, exponent = text.lstrip("+-")[2:].split("p")
    whole, _, fraction = digits.partition(".")
    mantissa = int(whole + fraction, 16)
    return sign * mpmath.ldexp(mpmath.mpf(mantissa), int(exponent) - 4 * len(fraction))


def exact(x):
    """A np.longdouble as an exact mpmath number."""
    mantissa, exponent = np.frexp(x)
    scaled = np.ldexp(mantissa, 64)  # an integer below 2^64, exact in long double
    high = np.floor(scaled / np.longdouble(2**32))
    low = scaled - high * np.longdouble(2**32)
    whole = int(float(high)) * 2**32 + int(float(low))
    return mpmath.ldexp(mpmath.mpf(whole), int(exponent) - 64)


def program_frequencies(rate):
    """f and w = 2*Pi*f/rate of every row, in long double as FrequencyResponse computes them."""
    ld = np.longdouble
    rate = ld(rate)
    nyquist = rate / ld(2)
    low, high = nyquist * ld("1e-4"), nyquist * ld("0.9999")
    pi = ld("3.141592653589793238462643383279502884")
    out = []
    for i in range(POINTS):
        f = low * np.power(high / low, ld(i) / ld(POINTS - 1))
        out.append((f, ld(2) * pi * f / rate))
    return out


def response(gain, xc, yc, w):
    """dB, degrees and group delay of g*(1 + sum xc[N-k] u^k) / (1 - sum yc[N-k] u^k), u = e^-jw."""
    n = len(xc)
    u = mpmath.expj(-w)
    b = [mpmath.mpf(1)] + [xc[n - k] for k in range(1, n + 1)]
    a = [mpmath.mpf(1)] + [-yc[n - k] for k in range(1, n + 1)]
    powers = [u**k for k in range(n + 1)]
    sb = sum(c * p for c, p in zip(b, powers))
    sa = sum(c * p for c, p in zip(a, powers))
    kb = sum(k * c * p for k, (c, p) in enumerate(zip(b, powers)))
    ka = sum(k * c * p for k, (c, p) in enumerate(zip(a, powers)))
    h = gain * sb / sa
    if h == 0:
        return -mpmath.inf, mpmath.mpf(0), mpmath.mpf(0)
    return (20 * mpmath.log10(abs(h)), mpmath.degrees(mpmath.arg(h)),
            mpmath.re(kb / sb) - mpmath.re(ka / sa))


def recursion_rows(kind, resp, order, f1, f2, rate, ripple, ws):
    """RecursionResponse at each w (dB, degrees, delay as exact mpmath numbers, in a CSV row's
    places), from design_dump: the numbers `vurnel design` writes for a stable recursion."""
    design = [str(KINDS.index(kind)), str(RESPONSES.index(resp)), str(order), f1, f2, rate, ripple]
    texts = [np.format_float_scientific(w, precision=24, unique=False) for w in ws]
    assert all(np.longdouble(t) == w for t, w in zip(texts, ws))
    out = subprocess.run([DUMP, "response", *design, *texts], check=True, capture_output=True,
                         text=True).stdout.split("\n")
    rows = []
    for line in out[:len(ws)]:
        re_h, im_h, delay = (hex_long_double(x) for x in line.split()[:3])
        h = mpmath.mpc(re_h, im_h)
        rows.append([None, 20 * mpmath.log10(abs(h)), mpmath.degrees(mpmath.arg(h)), delay])
    return rows


def main():
    with tempfile.TemporaryDirectory() as work:
        for kind, resp, order, f1, f2, rate, ripple in DESIGNS:
            name = f"{kind} {resp} {order} at {f1}" + (f"-{f2}" if "band" in resp else "") + \
                   f" Hz / {rate}"
            args = ["--kind", kind, "--response", resp, "--order", str(order), "--f1", f1,
                    "--f2", f2, "--rate", rate, "--ripple", ripple]
            csv, svg = os.path.join(work, "d.csv"), os.path.join(work, "d.svg")
            subprocess.run([VURNEL, "design", *args, "--csv", csv, "--out", svg], check=True,
                           stdout=subprocess.DEVNULL)
            dump = subprocess.run([DUMP, "coefficients", str(KINDS.index(kind)),
                                   str(RESPONSES.index(resp)), str(order), f1, f2, rate, ripple],
                                  check=True, capture_output=True, text=True).stdout.split("\n")
            gain = hex_long_double(dump[0].split()[1])
            taps = [line.split()[1:] for line in dump[1:] if line.startswith("C ")]
            xc = [hex_long_double(x) for x, _ in taps]
            yc = [hex_long_double(y) for _, y in taps]
            with open(csv) as f:
                lines = f.readlines()[1:]
            rows = [line.strip().split(",") for line in lines if not line.startswith("#")]
            frequencies = program_frequencies(rate)
            # An unstable recursion's CSV is the sections' response (and says so in a comment
            # line); the recursion's own response is then read from design_dump at the same w.
            unstable = any(line.startswith("#") and "sections" in line for line in lines)
            recursion = recursion_rows(kind, resp, order, f1, f2, rate, ripple,
                                       [w for _, w in frequencies]) if unstable else None
            CHECKS.check(f"{name}: {POINTS} rows, {len(taps)} taps",
                         len(rows) == POINTS and len(taps) == 2 * order if "band" in resp
                         else len(rows) == POINTS and len(taps) == order)
            hertz_off = max(abs(float(mpmath.mpf(r[0]) / exact(f) - 1))
                            for (f, _), r in zip(frequencies, rows))
            # 17 significant digits: within half a unit of the 17th, 5e-17 of the value.
            CHECKS.check(f"{name}: the recomputed frequencies are the CSV's", hertz_off <= 5e-17,
                         f"worst relative difference {hertz_off:.1e}")
            worst = {"db": 0.0, "degrees": 0.0, "delay": 0.0}
            compared, lowest = 0, 0.0
            for i, ((_, w), row) in enumerate(zip(frequencies, rows)):
                if recursion:
                    row = recursion[i]
                db, degrees, delay = response(gain, xc, yc, exact(w))
                if db <= FLOOR_DB:
                    continue
                compared += 1
                lowest = min(lowest, float(db))
                worst["db"] = max(worst["db"], abs(float(mpmath.mpf(row[1]) - db)))
                turn = (mpmath.mpf(row[2]) - degrees + 180) % 360 - 180
                worst["degrees"] = max(worst["degrees"], abs(float(turn)))
                worst["delay"] = max(worst["delay"], abs(float(mpmath.mpf(row[3]) - delay)) /
                                     max(1.0, abs(float(delay))))
            with open(svg) as f:
                curves = [len(c.split()) for c in re.findall(r'<polyline[^>]* points="([^"]*)"',
                                                            f.read())]
            CHECKS.check(f"{name}: the plot draws every row's magnitude, phase and group delay",
                         len(curves) >= 3 and all(c == POINTS for c in curves),
                         f"points drawn per curve {curves}")
            CHECKS.check(f"{name}: magnitude exact to {DB_TOLERANCE:g} dB",
                         compared > 0 and worst["db"] <= DB_TOLERANCE,
                         f"{compared} rows above {FLOOR_DB} dB (lowest {lowest:.1f} dB), "
                         f"worst {worst['db']:.2e} dB")
            CHECKS.check(f"{name}: phase exact to {DEGREE_TOLERANCE:g} degrees",
                         compared > 0 and worst["degrees"] <= DEGREE_TOLERANCE,
                         f"worst {worst['degrees']:.2e} degrees")
            CHECKS.check(f"{name}: group delay exact to {DELAY_TOLERANCE:g}",
                         compared > 0 and worst["delay"] <= DELAY_TOLERANCE,
                         f"worst {worst['delay']:.2e} (samples, relative above one)")
    # Far below the CSV's lowest frequency the numerator of a highpass of order 8 falls to 1e-96
    # of its terms, beyond the 256-bit sums (the 512-bit ones take over): still exact there.
    kind, resp, order, f1, f2, rate, ripple = DESIGNS[4]
    design = [str(KINDS.index(kind)), str(RESPONSES.index(resp)), str(order), f1, f2, rate, ripple]
    dump = subprocess.run([DUMP, "coefficients", *design], check=True, capture_output=True,
                          text=True).stdout.split("\n")
    gain = hex_long_double(dump[0].split()[1])
    taps = [line.split()[1:] for line in dump[1:] if line.startswith("C ")]
    xc = [hex_long_double(x) for x, _ in taps]
    yc = [hex_long_double(y) for _, y in taps]
    ws = ["0x1p-10", "0x1p-24", "0x1p-40"]
    values = subprocess.run([DUMP, "response", *design, *ws], check=True, capture_output=True,
                            text=True).stdout.split("\n")
    for w, line in zip(ws, values):
        re_h, im_h, delay = (hex_long_double(x) for x in line.split()[:3])
        h = mpmath.mpc(re_h, im_h)
        with mpmath.workdps(250):  # the sums cancel to 1e-98 of their terms
            db, degrees, exact_delay = response(gain, xc, yc, hex_long_double(w))
        exact_h = mpmath.power(10, db / 20) * mpmath.expj(mpmath.radians(degrees))
        off = float(abs(h - exact_h) / abs(exact_h))
        delay_off = float(abs(delay - exact_delay) / max(1, abs(exact_delay)))
        CHECKS.check(f"{kind} {resp} {order} at w = {w} ({float(db):.0f} dB): H and the group "
                     "delay exact to 1e-12", off < 1e-12 and delay_off < 1e-12,
                     f"H off by {off:.1e} of itself, the delay by {delay_off:.1e}")
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

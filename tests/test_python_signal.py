#!/usr/bin/python3
"""vurnel.signal against scipy.signal: the same filters with scipy's calling and gain conventions.

One sweep of kinds x responses x orders 1..8 x two rates (and a normalised Wn without fs):
- zpk: zeros and poles equal scipy's as sets to 1e-9, the gain k to 1e-9 relative;
- sos: |H| of our sections equals scipy's sosfreqz to 1e-9 of the peak;
- ba: our b and a, evaluated in mpmath from their exact longdouble values, equal scipy's sosfreqz
  (accurate) to 1e-9 of the peak, or to a twentieth of the error of scipy's own ba where that is
  larger (high-order band designs), wherever our recursion is stable;
- what we do not design raises NotImplementedError, what the library refuses ValueError.
Run with PYTHONPATH set to the build tree's python folder.
"""
import sys

import mpmath
import numpy as np
from scipy import signal as sp

from vurnel import signal as vs

failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


def set_distance(a, b):
    """The largest distance from a root to its nearest unmatched partner, matched greedily."""
    a, b = list(np.asarray(a, dtype=complex)), list(np.asarray(b, dtype=complex))
    if len(a) != len(b):
        return np.inf
    worst = 0.0
    for r in a:
        j = int(np.argmin([abs(r - s) for s in b]))
        worst = max(worst, abs(r - b.pop(j)))
    return worst


def ba_response(b, a, w):
    """|H| of exact longdouble coefficients, in 40-digit arithmetic."""
    mpmath.mp.dps = 40
    bm = [mpmath.mpf(float(v)) + mpmath.mpf(float(v - np.longdouble(float(v)))) for v in b]
    am = [mpmath.mpf(float(v)) + mpmath.mpf(float(v - np.longdouble(float(v)))) for v in a]
    out = []
    for x in w:
        z = mpmath.expj(-mpmath.mpf(float(x)))
        out.append(abs(mpmath.polyval(bm[::-1], z) / mpmath.polyval(am[::-1], z)))
    return np.array([float(v) for v in out])


def designs():
    for fs in (44100.0, 96000.0):
        for order in range(1, 9):
            for btype, wn in (("lowpass", 1000.0), ("highpass", 3000.0),
                              ("bandpass", [500.0, 2000.0]), ("bandstop", [800.0, 1200.0])):
                yield "butter", (order, wn), dict(btype=btype, fs=fs)
                yield "cheby1", (order, 0.5, wn), dict(btype=btype, fs=fs)
                yield "cheby2", (order, 40.0, wn), dict(btype=btype, fs=fs)
                yield "ellip", (order, 1.0, 50.0, wn), dict(btype=btype, fs=fs)
                yield "bessel", (order, wn), dict(btype=btype, fs=fs, norm="mag")
    yield "ellip", (5, 0.5, 60.0, [0.1, 0.3]), dict(btype="bandpass")  # Wn without fs


def main():
    count = 0
    w = np.linspace(1e-3, np.pi - 1e-3, 64)
    for name, args, kw in designs():
        label = f"{name}{args} {kw}"
        ours = getattr(vs, name)(*args, output="zpk", **kw)
        theirs = getattr(sp, name)(*args, output="zpk", **kw)
        check(f"{label}: zeros", set_distance(ours[0], theirs[0]) < 1e-9,
              set_distance(ours[0], theirs[0]))
        check(f"{label}: poles", set_distance(ours[1], theirs[1]) < 1e-9,
              set_distance(ours[1], theirs[1]))
        check(f"{label}: gain", abs(float(ours[2]) / theirs[2] - 1) < 1e-9,
              f"{float(ours[2])!r} vs {theirs[2]!r}")
        check(f"{label}: zpk types", ours[0].dtype == np.clongdouble and
              ours[1].dtype == np.clongdouble and isinstance(ours[2], np.longdouble))
        reference = np.abs(sp.sosfreqz(sp.zpk2sos(*theirs), worN=w)[1])
        peak = reference.max()
        sos = getattr(vs, name)(*args, output="sos", **kw)
        mine = np.abs(sp.sosfreqz(sos.astype(float), worN=w)[1])
        check(f"{label}: sos response", sos.dtype == np.longdouble and sos.shape[1] == 6 and
              np.max(np.abs(mine - reference)) < 1e-9 * peak, np.max(np.abs(mine - reference)))
        b, a = getattr(vs, name)(*args, output="ba", **kw)
        check(f"{label}: ba types", b.dtype == np.longdouble and a[0] == 1)
        if np.max(np.abs(np.roots(a.astype(float)))) < 1:
            err = np.max(np.abs(ba_response(b, a, w) - reference))
            tb, ta = getattr(sp, name)(*args, output="ba", **kw)
            scipy_err = np.max(np.abs(np.abs(sp.freqz(tb, ta, worN=w)[1]) - reference))
            # The rounding of 16 poles' product into one polynomial costs digits in any
            # format; ours (64-bit significands) must be at least 20 times as accurate as scipy's
            # (typically 2000 times: eleven more bits).
            check(f"{label}: ba response", err < max(1e-9 * peak, scipy_err / 20),
                  f"{err / peak:.2e} of the peak, scipy's ba {scipy_err / peak:.2e}")
        count += 1

    def raises(kind, call):
        try:
            call()
        except kind as e:
            return str(e)
        return None

    for call, kind in [(lambda: vs.butter(4, 1000, fs=48000, analog=True), NotImplementedError),
                       (lambda: vs.bessel(4, 1000, fs=48000), NotImplementedError),
                       (lambda: vs.butter(9, 1000, fs=48000), ValueError),
                       (lambda: vs.butter(4, 30000, fs=48000), ValueError),
                       (lambda: vs.butter(4, [2000, 1000], "bandpass", fs=48000), ValueError),
                       (lambda: vs.butter(4, 1000, "notch", fs=48000), ValueError)]:
        check(f"refused with {kind.__name__}", raises(kind, call), "no exception")
    for f in failures[:20]:
        print("FAIL", f)
    print(f"{count} designs against scipy, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""scipy.signal's IIR designers, designed by vurnel in 80-bit extended precision.

butter, cheby1, cheby2, ellip and bessel take scipy's arguments (N, rp, rs, Wn, btype, analog,
output, fs; norm for bessel) and return what scipy returns: (b, a), (z, p, k) or sos, with scipy's
gain conventions (an even-order Chebyshev or elliptic passband lies between -rp and 0 dB; a
bandpass has its prototype's DC gain at the centre sqrt(w1*w2) of the pre-warped edges), as numpy
longdouble and clongdouble arrays. Not supported: analog=True and Bessel norms other than 'mag'
(NotImplementedError); orders above 8 and edges outside (0, fs/2) raise ValueError with the
library's message. Without fs, Wn is normalised to Nyquist as in scipy.

    >>> from vurnel import signal
    >>> sos = signal.ellip(4, 0.5, 60, [1000, 2000], btype="bandpass", output="sos", fs=48000)
"""
import numpy as np

from . import design as _design

__all__ = ["butter", "cheby1", "cheby2", "ellip", "bessel"]

_BTYPES = {"lowpass": "lowpass", "low": "lowpass", "l": "lowpass", "lp": "lowpass",
           "highpass": "highpass", "high": "highpass", "h": "highpass", "hp": "highpass",
           "bandpass": "bandpass", "band": "bandpass", "pass": "bandpass", "bp": "bandpass",
           "bandstop": "bandstop", "stop": "bandstop", "bands": "bandstop", "bs": "bandstop"}


def butter(N, Wn, btype="low", analog=False, output="ba", fs=None):
    """scipy.signal.butter in extended precision."""
    return _iir("butterworth", N, Wn, None, None, btype, analog, output, fs)


def cheby1(N, rp, Wn, btype="low", analog=False, output="ba", fs=None):
    """scipy.signal.cheby1 in extended precision."""
    return _iir("chebyshev", N, Wn, rp, None, btype, analog, output, fs)


def cheby2(N, rs, Wn, btype="low", analog=False, output="ba", fs=None):
    """scipy.signal.cheby2 in extended precision."""
    return _iir("chebyshev2", N, Wn, None, rs, btype, analog, output, fs)


def ellip(N, rp, rs, Wn, btype="low", analog=False, output="ba", fs=None):
    """scipy.signal.ellip in extended precision."""
    return _iir("elliptic", N, Wn, rp, rs, btype, analog, output, fs)


def bessel(N, Wn, btype="low", analog=False, output="ba", norm="phase", fs=None):
    """scipy.signal.bessel in extended precision, for norm='mag' (-3 dB at Wn), the prototype
    vurnel designs; scipy's default norm='phase' raises NotImplementedError."""
    if norm != "mag":
        raise NotImplementedError(
            f"vurnel designs the magnitude-normalised Bessel filter only: norm='mag', "
            f"not {norm!r}")
    return _iir("bessel", N, Wn, None, None, btype, analog, output, fs)


def _iir(kind, N, Wn, rp, rs, btype, analog, output, fs):
    if analog:
        raise NotImplementedError("vurnel designs digital filters only (analog=False)")
    if output not in ("ba", "zpk", "sos"):
        raise ValueError(f"output must be 'ba', 'zpk' or 'sos', not {output!r}")
    try:
        response = _BTYPES[btype]
    except (KeyError, TypeError):
        raise ValueError(f"{btype!r} is an invalid bandtype for filter") from None
    edges = np.atleast_1d(np.asarray(Wn, dtype=float))
    band = response in ("bandpass", "bandstop")
    if edges.shape != ((2,) if band else (1,)):
        raise ValueError(f"a {response} filter needs {'two edges' if band else 'one edge'} "
                         f"in Wn, not {Wn!r}")
    # Without fs, Wn is a fraction of Nyquist: a rate of 2 keeps every edge as given.
    rate = 2.0 if fs is None else float(fs)
    f = _design(kind, response, N, float(edges[0]), float(edges[1]) if band else None,
                fs=rate, ripple=0 if rp is None else rp,
                attenuation=40 if rs is None else rs)

    # scipy's gain: the prototype's DC gain (-rp dB for an even-order Chebyshev or elliptic
    # filter, else 1) at DC (lowpass, bandstop), at Nyquist (highpass), or at the band's centre
    # where the bilinear transform puts the prototype's DC (bandpass).
    even_ripple = kind in ("chebyshev", "elliptic") and int(N) % 2 == 0
    target = np.power(np.longdouble(10), -np.longdouble(rp) / 20) if even_ripple \
        else np.longdouble(1)
    pi = np.longdouble("3.14159265358979323846264338327950288")
    if response == "bandpass":
        low, high = (np.longdouble(v) for v in edges)
        centre = 2 * np.arctan(np.sqrt(np.tan(pi * low / rate) * np.tan(pi * high / rate)))
        ref = np.exp(np.clongdouble(1j) * centre)
    else:
        ref = np.clongdouble(-1 if response == "highpass" else 1)

    if output == "sos":
        sos = f.sos.copy()
        h = np.clongdouble(1)
        for b0, b1, b2, a0, a1, a2 in sos:
            h *= (b0 * ref**2 + b1 * ref + b2) / (a0 * ref**2 + a1 * ref + a2)
        sos[0, :3] *= target / np.abs(h)
        return sos
    z, p, k = f.zpk
    scale = target / np.abs(k * np.prod(ref - z) / np.prod(ref - p))
    if output == "zpk":
        return z, p, k * scale
    b, a = f.ba
    return b * scale, a

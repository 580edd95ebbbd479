"""Vurnel's IIR filter library from Python: designs and filters in 80-bit extended precision.

    >>> import numpy as np, vurnel
    >>> f = vurnel.design("elliptic", "bandpass", 4, 1000, 2000, fs=48000,
    ...                   ripple=0.5, attenuation=60)
    >>> z, p, k = f.zpk            # clongdouble zeros and poles, longdouble gain
    >>> b, a = f.ba                # the recursion as it runs, a[0] = 1
    >>> y = f.sosfilt(np.random.randn(2, 48000))   # along the last axis, state kept

Every setting means what it means to `vurnel design` on the command line. scipy.signal's own
calling conventions for the designers are in vurnel.signal.
"""
import numpy as np

from ._vurnel import DesignError
from ._vurnel import Filter as _Filter

__all__ = ["design", "Filter", "DesignError", "KINDS", "RESPONSES"]

KINDS = ("butterworth", "chebyshev", "bessel", "chebyshev2", "elliptic")
RESPONSES = ("lowpass", "highpass", "bandpass", "bandstop", "lowshelf", "highshelf")
_TYPES = (np.dtype(np.float32), np.dtype(np.float64), np.dtype(np.longdouble))


def design(kind, response, order, f1, f2=None, fs=44100, ripple=0, attenuation=40, gain=0):
    """Designs a filter of the library and returns it as a Filter.

    kind: "butterworth", "chebyshev", "bessel", "chebyshev2" or "elliptic"; response: "lowpass",
    "highpass", "bandpass", "bandstop", "lowshelf" or "highshelf" (shelves are Butterworth);
    order 1 to 8 (a band filter has twice as many poles); f1 (and f2, above it, for a band) in
    hertz below fs / 2: the -3 dB points of Butterworth and Bessel, the passband edges of
    Chebyshev and elliptic filters, where the stopband begins for chebyshev2; ripple and
    attenuation in dB; gain in dB of a shelf. Every kind has gain 1 at its reference point (DC
    for a lowpass), so an even-order Chebyshev or elliptic passband rises up to +ripple dB
    (vurnel.signal follows scipy instead).

    The numbers may be int, float, numpy longdouble (exactly), or str, read in the extended
    format as `vurnel design` reads its options ("1000.1" is not the double 1000.1).

    Raises DesignError (a ValueError) with the library's message for settings it would not
    design as asked.
    """
    f = Filter._new(_Filter(kind, response, order, f1, f2, fs, ripple, attenuation, gain))
    faults = f._faults()
    if faults:
        raise DesignError(faults)
    return f


class Filter:
    """One design of the library and the filtering state of the channels it has run on.

    Made by vurnel.design. Design: zpk, ba, sos (numpy longdouble and clongdouble), stable,
    largest_root, error, settings, response(). Filtering: lfilter() (the recursion),
    sosfilt() (the second-order sections), reset().
    """

    @classmethod
    def _new(cls, compiled):
        self = cls.__new__(cls)
        self._f = compiled
        return self

    def __repr__(self):
        s = self.settings
        return "vurnel.design(" + ", ".join(f"{k}={v!r}" for k, v in s.items()) + ")"

    @property
    def zpk(self):
        """(z, p, k): the z-plane zeros and poles (clongdouble) and the gain (longdouble), with
        H(z) = k * prod(z - z_i) / prod(z - p_i)."""
        return self._f.zpk

    @property
    def ba(self):
        """(b, a) in scipy's order, a[0] = 1, as the recursion runs them (longdouble)."""
        return self._f.ba

    @property
    def sos(self):
        """The second-order sections as they run, scipy's (n, 6) layout (longdouble); each has
        gain 1 at the reference point, the poles nearest the unit circle last."""
        return self._f.sos

    @property
    def stable(self):
        """Whether the recursion (lfilter) can run: every root of its feedback polynomial, as
        rounded, strictly inside the unit circle. The sections run every design."""
        return self._f.stable

    @property
    def sections_stable(self):
        """Whether every second-order section's poles lie strictly inside the unit circle."""
        return self._f.sections_stable

    @property
    def largest_root(self):
        """The largest magnitude of the recursion's poles as rounded (longdouble)."""
        return self._f.largest_root

    @property
    def error(self):
        """The library's text about this design (such as an unstable recursion), or None."""
        text = (self._f.error or "").rstrip("\r\n")
        return text or None

    @property
    def settings(self):
        """The settings as the filter stored them (numbers as numpy longdouble)."""
        return self._f.settings

    def response(self, f, sections=False):
        """H(e^jw) at the frequencies f in hertz (clongdouble, f's shape), computed exactly from
        the numbers the recursion runs (or the sections', with sections=True)."""
        return self._f.response(np.asarray(f, dtype=np.longdouble), bool(sections))

    def lfilter(self, x, axis=-1):
        """Runs x through the recursion, continuing from the previous call's state.

        x: 1-D, or 2-D with one channel per index of the other axis; float32, float64 or
        longdouble (whole numbers are taken as float64). The output has x's type and shape. Any
        split of a finite stream over calls gives the same bits as one call. A call that leaves
        the state not finite (a NaN or infinity in x, or an unstable recursion that overflowed)
        ends it at rest, so the next call's output is finite again.
        """
        return self._run(x, axis, False)

    def sosfilt(self, x, axis=-1):
        """lfilter through the second-order sections (stable for every design)."""
        return self._run(x, axis, True)

    def reset(self):
        """Forgets the state of every channel: the next call starts from rest, with any number
        of channels. That call designs each channel's recursion anew through the library's
        setters (up to a millisecond per channel for an order-8 elliptic band filter; the
        sections are copied)."""
        self._f.reset()

    def _run(self, x, axis, sections):
        x = np.asarray(x)
        if x.dtype.kind in "biu":
            x = x.astype(np.float64)
        if x.dtype not in _TYPES:
            raise TypeError(f"vurnel filters float32, float64 and longdouble, not {x.dtype}")
        if x.ndim not in (1, 2):
            raise ValueError(f"vurnel filters 1-D and 2-D arrays, not {x.ndim}-D")
        moved = np.moveaxis(x, axis, -1)
        channels = 1 if x.ndim == 1 else moved.shape[0]
        rows = np.ascontiguousarray(moved).reshape(channels, moved.shape[-1])
        y = self._f._run(rows, sections)
        return np.moveaxis(y.reshape(moved.shape), -1, axis)

    def _faults(self):
        """The library's faults in the design: its text without the line on an unstable
        recursion (which the sections answer)."""
        lines = (self._f.error or "").rstrip("\r\n").split("\r\n")
        if not self._f.stable:
            lines = lines[:-1]
        return "\n".join(lines).strip()

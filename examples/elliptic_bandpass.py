#!/usr/bin/python3
"""An elliptic bandpass from vurnel beside scipy's, in scipy's own terms.

Designs scipy.signal.ellip(4, 0.5, 60, [1000, 2000], 'bandpass', fs=48000) with vurnel.signal
(80-bit extended precision) and with scipy (double precision), as second-order sections and as
b/a polynomials. Compares the responses with each other, and the b/a polynomials' responses
with the exact response of the design (the sections, evaluated in mpmath if it is installed);
runs a second of noise through both filters. Plots both responses with matplotlib if it is
installed (to elliptic_bandpass.png, or the file given with --out), else prints the table.

    PYTHONPATH=build/default/python python3 examples/elliptic_bandpass.py [--table] [--out F]
"""
import sys

import numpy as np
from scipy import signal

import vurnel
from vurnel import signal as vsignal

ARGS = dict(N=4, rp=0.5, rs=60, Wn=[1000, 2000], btype="bandpass", fs=48000)


def db(h):
    return 20 * np.log10(np.maximum(np.abs(h), 1e-300))


def main(argv):
    out = argv[argv.index("--out") + 1] if "--out" in argv else "elliptic_bandpass.png"
    ours_sos = vsignal.ellip(**ARGS, output="sos")
    ours_b, ours_a = vsignal.ellip(**ARGS, output="ba")
    theirs_sos = signal.ellip(**ARGS, output="sos")
    theirs_b, theirs_a = signal.ellip(**ARGS, output="ba")

    hz = np.geomspace(100, 20000, 400)
    _, h_ours = signal.sosfreqz(ours_sos.astype(float), worN=hz, fs=48000)
    _, h_theirs = signal.sosfreqz(theirs_sos, worN=hz, fs=48000)
    # The b/a polynomials evaluated in extended precision (ours) and in double (scipy's).
    z = np.exp(-2j * np.pi * hz.astype(np.longdouble) / 48000)
    h_ours_ba = np.polyval(ours_b[::-1], z) / np.polyval(ours_a[::-1], z)
    _, h_theirs_ba = signal.freqz(theirs_b, theirs_a, worN=hz, fs=48000)

    print("Elliptic bandpass, order 4 (8 poles), 1000-2000 Hz at 48000 Hz, 0.5 dB ripple, "
          "60 dB attenuation")
    print(f"largest difference of the two designs' section responses: "
          f"{np.max(np.abs(db(h_ours) - db(h_theirs))):.2e} dB")
    print(f"b/a against the sections: ours {np.max(np.abs(h_ours_ba - h_ours)):.1e}, "
          f"scipy's {np.max(np.abs(h_theirs_ba - h_theirs)):.1e} (largest |difference| of H)")

    f = vurnel.design("elliptic", "bandpass", 4, 1000, 2000, fs=48000, ripple=0.5,
                      attenuation=60)
    noise = np.random.default_rng(1).standard_normal(48000)
    # vurnel.design keeps the library's gain (1 at the middle of the band's normalised edges,
    # so an even order's passband may rise above 0 dB); vurnel.signal follows scipy's.
    ours_out = f.sosfilt(noise) * float(np.prod(ours_sos[:, 0]) / np.prod(f.sos[:, 0]))
    theirs_out = signal.sosfilt(theirs_sos, noise)
    print(f"a second of noise through both (ours at scipy's gain): outputs differ by at most "
          f"{np.max(np.abs(ours_out - theirs_out)):.1e} (rms {np.std(theirs_out):.3f}); "
          f"our recursion is {'stable' if f.stable else 'unstable'}")

    try:
        if "--table" in argv:
            raise ImportError
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(f"\n{'Hz':>8}  {'vurnel dB':>10}  {'scipy dB':>10}")
        for i in range(0, len(hz), 20):
            print(f"{hz[i]:8.0f}  {db(h_ours[i]):10.4f}  {db(h_theirs[i]):10.4f}")
        return 0
    fig, ax = plt.subplots(figsize=(8, 4.5))
    ax.semilogx(hz, db(h_theirs), label="scipy.signal.ellip (double)", lw=3, alpha=0.5)
    ax.semilogx(hz, db(h_ours), "--", label="vurnel.signal.ellip (extended)")
    ax.set(xlabel="Hz", ylabel="dB", ylim=(-100, 5),
           title="Elliptic bandpass, order 4, 1-2 kHz at 48 kHz")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.savefig(out, dpi=100)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

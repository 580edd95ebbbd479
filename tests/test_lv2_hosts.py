#!/usr/bin/python3
"""The LV2 bundle in tools and hosts nobody here wrote: sord_validate, sordi, lv2ls, lv2info,
lv2apply and Ardour 7, each compared with the VST 2 module driven directly.

Usage: test_lv2_hosts.py BUNDLE_DIR VST_MODULE
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "ardour"))
import vst_ctypes  # noqa: E402
from checks import Checks  # noqa: E402
from ardour_host import Ardour, ArdourError  # noqa: E402

warnings.filterwarnings("ignore", message="Chunk")
BUNDLE, MODULE = (os.path.abspath(p) for p in sys.argv[1:3])
URI = "urn:mirvak:vurnel"
LV2 = "http://lv2plug.in/ns/lv2core#"
# symbol: (name, minimum, maximum, default, unit, logarithmic, VST 2 offset and span)
PORTS = {
    "bass_cutoff": ("Bass cutoff", 50, 500, 50, "hz", True, -50, 450),
    "treble_cutoff": ("Treble cutoff", 3000, 10000, 10000, "hz", True, -3000, 7000),
    "bass": ("Bass", -20, 20, 0, "db", False, 20, 40),
    "treble": ("Treble", -20, 20, 0, "db", False, 20, 40),
}
ORDER = list(PORTS)
VOCABULARY_BUNDLES = ["core", "units", "port-props", "presets", "schemas", "options", "urid",
                "atom", "state", "parameters", "buf-size"]
RATE = 48000
CHECKS = Checks()
check = CHECKS.check


def to_parameter(symbol, value):
    """The VST 2 parameter value the plug-in gives the effect: (value + offset) / span in
    single precision, as run() computes it."""
    offset, span = PORTS[symbol][6:8]
    return float((np.float32(value) + np.float32(offset)) / np.float32(span))


def vst_render(signal, settings):
    effect = vst_ctypes.Effect(MODULE)
    params = [(ORDER.index(s), to_parameter(s, v)) for s, v in settings.items()]
    left, right = effect.render(signal[:, 0], signal[:, 1], RATE, params)
    effect.close()
    return np.stack([left, right], axis=1)


def run(command, env):
    return subprocess.run(command, capture_output=True, text=True, env=env, timeout=300)


def compare(name, out, expected):
    ok = out is not None and out.shape == expected.shape and \
        out.tobytes() == expected.tobytes()
    detail = "no output" if out is None else f"{out.size} samples compared, " + (
        f"{np.count_nonzero(out != expected)} differ" if out.shape == expected.shape
        else f"shape {out.shape} != {expected.shape}")
    check(name, ok, detail)


def main():
    work = tempfile.mkdtemp(prefix="vurnel-lv2-")
    try:
        # An LV2 path of its own: this bundle and the vocabulary bundles lv2-dev installs,
        # nothing else.
        path = os.path.join(work, "lv2")
        os.makedirs(path)
        os.symlink(BUNDLE, os.path.join(path, os.path.basename(BUNDLE)))
        for name in VOCABULARY_BUNDLES:
            if os.path.isdir(f"/usr/lib/lv2/{name}.lv2"):
                os.symlink(f"/usr/lib/lv2/{name}.lv2", os.path.join(path, name + ".lv2"))
        env = dict(os.environ, LV2_PATH=path)
        ttls = sorted(glob.glob(os.path.join(BUNDLE, "*.ttl")))

        # sord_validate exits 0 whatever it finds: read its report.
        schemas = [f for f in glob.glob("/usr/lib/lv2/schemas.lv2/*.ttl")
                   if not f.endswith("manifest.ttl")]
        schemas += ["/usr/lib/lv2/core.lv2/lv2core.ttl", "/usr/lib/lv2/units.lv2/units.ttl",
                    "/usr/lib/lv2/port-props.lv2/port-props.ttl",
                    "/usr/lib/lv2/presets.lv2/presets.ttl"]
        # The editor's description uses the UI, options and parameters vocabularies (and what
        # those build on).
        schemas += [f"/usr/lib/lv2/{name}.lv2/{name}.ttl" for name in
                    ("ui", "options", "parameters", "urid", "atom", "port-groups")]
        r = run(["sord_validate", *schemas, *ttls], env)
        report = r.stdout + r.stderr
        found = re.search(r"Found (\d+) errors", report)
        warnings_seen = len(re.findall(r"^warning", report, re.M))
        check("sord_validate against lv2-dev's schemas: 0 errors, 0 warnings",
              found and found.group(1) == "0" and warnings_seen == 0,
              (found.group(0) if found else "no report") + f", {warnings_seen} warnings")

        r = run(["lv2ls"], env)
        check("lv2ls lists the plug-in", URI in r.stdout.split() and "error" not in r.stderr,
              r.stderr.strip()[:200])

        r = run(["lv2info", URI], env)
        info = r.stdout
        check("lv2info reads the bundle without an error", r.returncode == 0 and
              "error" not in r.stderr and "Class:             Equaliser Plugin" in info,
              r.stderr.strip()[:200])
        ports = re.split(r"\n\s*Port \d+:\n", info)[1:]
        check("lv2info shows 9 ports", len(ports) == 9, str(len(ports)))
        block = next((p for p in ports if re.search(r"Symbol:\s+smooth\n", p)), "")
        fields = dict(re.findall(r"(Minimum|Maximum|Default):\s+(.+)", block))
        check("lv2info: control smooth is a toggle, on by default, the last port",
              ports.index(block) == 8 and "ControlPort" in block and "InputPort" in block
              and "lv2core#toggled" in block and float(fields.get("Default", "nan")) == 1
              and float(fields.get("Minimum", "nan")) == 0
              and float(fields.get("Maximum", "nan")) == 1, str(fields))
        for symbol, (name, lo, hi, default, _, log, _, _) in PORTS.items():
            block = next((p for p in ports if re.search(rf"Symbol:\s+{symbol}\n", p)), "")
            fields = dict(re.findall(r"(Name|Minimum|Maximum|Default):\s+(.+)", block))
            ok = ("ControlPort" in block and "InputPort" in block and fields.get("Name") == name
                  and float(fields.get("Minimum", "nan")) == lo
                  and float(fields.get("Maximum", "nan")) == hi
                  and float(fields.get("Default", "nan")) == default
                  and ("port-props#logarithmic" in block) == log)
            check(f"lv2info: control {symbol} {lo}..{hi}, default {default}", ok, str(fields))
        presets = re.search(r"Presets:[ \t]*\n((?:[ \t]+\S.*\n)+)", info)
        names = sorted(p.strip() for p in presets.group(1).splitlines()) if presets else []
        check("lv2info lists the presets", names == ["Bright", "Flat", "Loudness", "Warm"],
              str(names))
        check("hard real-time capable, not in-place broken",
              "hardRTCapable" in info and "inPlaceBroken" not in info)

        # Units and port properties, from the triples of the description.
        r = run(["sordi", "-i", "turtle", "-o", "ntriples",
                 os.path.join(BUNDLE, "vurnel.ttl"), "file://" + BUNDLE + "/"], env)
        triples = [t.split(" ", 2) for t in r.stdout.splitlines()]
        by_node = {}
        for s, p, o in triples:
            by_node.setdefault(s, {}).setdefault(p, []).append(o.rstrip(" ."))
        for symbol, (_, _, _, _, unit, _, _, _) in PORTS.items():
            node = next((n for n, props in by_node.items()
                         if f'"{symbol}"' in props.get(f"<{LV2}symbol>", [])), None)
            units = by_node.get(node, {}).get("<http://lv2plug.in/ns/extensions/units#unit>", [])
            check(f"{symbol} is in units:{unit}",
                  units == [f"<http://lv2plug.in/ns/extensions/units#{unit}>"], str(units))

        # lv2apply: one frame per run, the file's own sample format (32-bit float here).
        rng = np.random.default_rng(3)
        t = np.arange(RATE) / RATE
        tones = 0.2 * np.sin(2 * np.pi * 100 * t) + 0.1 * np.sin(2 * np.pi * 7000 * t)
        signal = np.stack([tones + rng.normal(0, 0.05, t.size),
                           tones + rng.normal(0, 0.05, t.size)], axis=1).astype(np.float32)
        source = os.path.join(work, "in.wav")
        wavfile.write(source, RATE, signal)
        settings = {"bass_cutoff": 180.0, "treble_cutoff": 4500.0, "bass": 7.5, "treble": -4.25}
        expected = vst_render(signal, settings)
        out = os.path.join(work, "lv2apply.wav")
        args = [a for s, v in settings.items() for a in ("-c", s, repr(v))]
        r = run(["lv2apply", "-i", source, "-o", out, *args, URI], env)
        got = wavfile.read(out)[1] if r.returncode == 0 and os.path.exists(out) else None
        compare("lv2apply equals the VST 2 module at the mapped values, bit for bit", got,
                expected)
        check("the settings changed the sound", got is not None and not np.array_equal(got, signal))
        out = os.path.join(work, "lv2apply-defaults.wav")
        r = run(["lv2apply", "-i", source, "-o", out, URI], env)
        got = wavfile.read(out)[1] if r.returncode == 0 and os.path.exists(out) else None
        compare("lv2apply at the defaults passes the input through", got, signal)

        # Ardour 7, headless, the plug-in inserted by URI and its ports set by symbol.
        ardour = Ardour(os.path.join(work, "ardour"))
        ardour.env["LV2_PATH"] = path
        try:
            exported = ardour.render("lv2", source, lv2=URI, settings=settings.items())
            got = wavfile.read(exported)[1]
        except ArdourError as e:
            print(e)
            got = None
        compare("Ardour's render through the LV2 plug-in equals the VST 2 module", got,
                expected)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

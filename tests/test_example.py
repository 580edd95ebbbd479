#!/usr/bin/python3
"""The example under examples/ as another project builds it: against the installed CMake package.

Usage: test_example.py BUILD_DIR SOURCE_DIR WORK_DIR CXX CXX_FLAGS LINKER_FLAGS

(the build's compiler and flags, so that the example links with a sanitized build's libraries)

Installs the build's "dev" component (libraries, headers, CMake package) into WORK_DIR/stage,
configures examples/ with find_package(vurnel) finding only that stage, builds and runs the
elliptic bandpass example, and checks what it prints against the design's own definition: an
8th-order elliptic bandpass 1000-2000 Hz at 48000 Hz, 0.5 dB ripple, 60 dB attenuation, run as
stable sections, passes its in-band tones within the ripple and stops the far tones by at least the
attenuation (less the ripple: the gain is normalised inside the passband).
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402

BUILD, SOURCE, WORK, CXX, CXX_FLAGS, LINKER_FLAGS = sys.argv[1:7]
CHECKS = Checks()
check = CHECKS.check


def run(*args):
    return subprocess.run(args, capture_output=True, text=True)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    stage, build = os.path.join(WORK, "stage"), os.path.join(WORK, "build")
    r = run("cmake", "--install", BUILD, "--component", "dev", "--prefix", stage)
    check("the dev component installs into a stage", r.returncode == 0, r.stderr.strip())
    r = run("cmake", "-S", os.path.join(SOURCE, "examples"), "-B", build,
            f"-DCMAKE_PREFIX_PATH={stage}", "-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF",
            f"-DCMAKE_CXX_COMPILER={CXX}", f"-DCMAKE_CXX_FLAGS={CXX_FLAGS}",
            f"-DCMAKE_EXE_LINKER_FLAGS={LINKER_FLAGS}")
    found = re.search(r"vurnel_DIR:PATH=(.*)", open(os.path.join(build, "CMakeCache.txt")).read()
                      ) if r.returncode == 0 else None
    check("the example configures with find_package(vurnel) from the stage",
          found and found.group(1).startswith(stage), (found.group(1) if found else r.stderr)[-400:])
    r = run("cmake", "--build", build)
    check("the example builds", r.returncode == 0, r.stdout[-400:] + r.stderr[-400:])
    r = run(os.path.join(build, "elliptic_bandpass"))
    out = r.stdout
    check("the example runs", r.returncode == 0 and "design:" not in out, out + r.stderr)
    check("its design has 8 poles and runs as 4 stable sections",
          "; 8 poles" in out and "4 sections, stable" in out, out)
    levels = {float(hz): float(db) for hz, db in re.findall(r"tone\s+(\d+) Hz:\s+(\S+) dB", out)}
    passband = [levels.get(hz) for hz in (1200, 1414, 1900)]
    stopband = [levels.get(hz) for hz in (300, 8000)]
    check("tones in the band pass within the 0.5 dB ripple",
          all(v is not None and abs(v) <= 0.5 for v in passband), str(passband))
    check("tones far outside the band are 60 dB down (less the ripple)",
          all(v is not None and v <= -59.5 for v in stopband), str(stopband))
    return CHECKS.summary()


if __name__ == "__main__":
    sys.exit(main())

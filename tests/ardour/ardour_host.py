#!/usr/bin/python3
"""Drives Ardour 7 headless as a real host: scan, session, plug-in, render, compare.

Used by the tests as a module, and from the shell:

    ardour_host.py render IN.wav OUT.wav [--vst MODULE.so | --lv2 URI | --vst3 BUNDLE.vst3]
                   [--set KEY=VALUE ...]
    ardour_host.py scan MODULE.so

`--set` takes a VST 2 parameter index and its 0..1 value, an LV2 port symbol and its value
in the port's own units, or a VST 3 parameter's number (Ardour's: the n-th automatable one) and
its plain value (Hz, dB). Nothing needs a display or a sound card: the "None (Dummy)" backend
runs the session and the master bus is exported faster than real time as 32-bit float WAV.

Ardour 7.3's habits the driver works around:
- Headless Ardour never scans VST 2 or VST 3 modules; it reads the cache that
  `ardour-vst-scanner` or `ardour-vst3-scanner` writes, and only when the cache file is newer,
  in whole seconds, than the module.
- `LXVST_PATH` is ignored once a user configuration has saved its own path, so each driver
  keeps its configuration and caches in a folder of its own (XDG_CONFIG_HOME, XDG_CACHE_HOME).
- Its Lua host cannot import audio: the driver writes the region into the saved session file.
- Its default export is 16-bit: the driver installs a float export preset of its own.
- `ardour7-lua` now and then crashes in its own teardown after finishing its work, with or
  without a plug-in, so a failed step is tried again (a fault of the plug-in fails every try).
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ARDOUR_LIBS = "/usr/lib/ardour7"
SCANNER = os.path.join(ARDOUR_LIBS, "ardour-vst-scanner")
SCANNER3 = os.path.join(ARDOUR_LIBS, "ardour-vst3-scanner")
SUPERCLOCK = 282240000  # Ardour 7's superclock ticks per second (session positions)
PRESET_ID = "9f6f1d2a-3c1e-4e0b-8a57-56757276656c"
FORMAT_ID = "9f6f1d2a-3c1e-4e0b-8a57-56757276656d"

EXPORT_FORMAT = f"""<?xml version="1.0" encoding="UTF-8"?>
<ExportFormatSpecification name="Vurnel float WAV" id="{FORMAT_ID}" with-cue="false"
    with-toc="false" with-mp4chaps="false" command="" analyse="false" soundcloud-upload="false">
  <Encoding id="F_WAV" type="T_Sndfile" extension="wav" name="WAV" has-sample-format="true"
      channel-limit="256"/>
  <SampleRate rate="SR_Session"/>
  <SRCQuality quality="SRC_SincBest"/>
  <EncodingOptions>
    <Option name="sample-format" value="SF_Float"/>
    <Option name="dithering" value="D_None"/>
    <Option name="tag-metadata" value="false"/>
    <Option name="tag-support" value="false"/>
    <Option name="broadcast-info" value="false"/>
  </EncodingOptions>
  <Processing>
    <Normalize enabled="false" loudness="no" dbfs="0" lufs="-23" dbtp="-1"/>
    <Silence>
      <Start><Trim enabled="false"/><Add enabled="false">
        <Duration format="Timecode" hours="0" minutes="0" seconds="0" frames="0"/></Add></Start>
      <End><Trim enabled="false"/><Add enabled="false">
        <Duration format="Timecode" hours="0" minutes="0" seconds="0" frames="0"/></Add></End>
    </Silence>
  </Processing>
</ExportFormatSpecification>
"""

EXPORT_PRESET = f"""<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="{PRESET_ID}" name="Vurnel float WAV">
  <ExportFormat id="{FORMAT_ID}"/>
  <ExportFilename>
    <Folder relative="true" path="/export"/>
    <Field name="label" enabled="false"/>
    <Field name="session" enabled="false"/>
    <Field name="snapshot" enabled="false"/>
    <Field name="timespan" enabled="true"/>
    <Field name="revision" enabled="false"/>
    <Field name="time" enabled="false" value="T_None"/>
    <Field name="date" enabled="false" value="D_None"/>
  </ExportFilename>
</ExportPreset>
"""


class ArdourError(RuntimeError):
    pass


def data_chunk(path):
    """(channels, rate, bytes per frame, data size in the header, data offset) of a RIFF/WAVE
    file."""
    with open(path, "rb") as f:
        riff, _, wave = struct.unpack("<4sI4s", f.read(12))
        if riff != b"RIFF" or wave != b"WAVE":
            raise ArdourError(f"{path} is not a WAV file")
        channels = rate = bits = None
        while True:
            header = f.read(8)
            if len(header) < 8:
                raise ArdourError(f"{path} has no data")
            chunk, size = struct.unpack("<4sI", header)
            if chunk == b"fmt ":
                _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", f.read(size)[:16])
            elif chunk == b"data":
                return channels, rate, channels * bits // 8, size, f.tell()
            else:
                f.seek(size + (size & 1), 1)


def wav_shape(path):
    """(channels, rate, frames) from a RIFF/WAVE header."""
    channels, rate, frame_bytes, size, _ = data_chunk(path)
    return channels, rate, size // frame_bytes


def written_frames(path):
    """The frames a WAV file holds on disk, whatever its header's data size says yet (a writer
    stopped short of closing the file leaves that size unwritten)."""
    _, _, frame_bytes, _, offset = data_chunk(path)
    return (os.path.getsize(path) - offset) // frame_bytes


def place_region(session_file, track, wav):
    """Puts WAV on TRACK's playlist at position 0, sample-exact (no fades, gain 1, the file
    referenced where it is), and makes the session range the file's length."""
    channels, rate, frames = wav_shape(wav)
    tree = ET.parse(session_file)
    root = tree.getroot()
    if int(root.get("sample-rate")) != rate or SUPERCLOCK % rate:
        raise ArdourError(f"{wav}: rate {rate} does not suit the session")
    end = frames * (SUPERCLOCK // rate)
    next_id = int(root.get("id-counter")) + 1000

    def new_id():
        nonlocal next_id
        next_id += 1
        return str(next_id)

    route = next(r for r in root.iter("Route") if r.get("name") == track)
    playlist = next(p for p in root.find("Playlists") if p.get("id") == route.get("audio-playlist"))
    sources = []
    for c in range(channels):
        sources.append(new_id())
        ET.SubElement(root.find("Sources"), "Source", {
            "name": wav, "type": "audio", "flags": "", "id": sources[-1], "timestamp": "0",
            "natural-position": "a0", "channel": str(c), "origin": wav, "gain": "1"})

    def region(name, whole):
        attrs = {
            "name": name, "id": new_id(), "type": "audio", "channels": str(channels),
            "start": "a0", "length": f"a{end}@a0", "sync-position": "a0",
            "ancestral-start": "a0", "ancestral-length": "a0@a0", "stretch": "1", "shift": "1",
            "muted": "0", "opaque": "1", "locked": "0", "video-locked": "0",
            "automatic": "1" if whole else "0", "whole-file": "1" if whole else "0",
            "import": "1", "external": "1", "sync-marked": "0", "left-of-split": "0",
            "right-of-split": "0", "hidden": "0", "position-locked": "0",
            "valid-transients": "0", "layering-index": "0", "tags": "", "contents": "0",
            "first-edit": "nothing", "scale-amplitude": "1", "envelope-active": "0",
            "default-fade-in": "0", "default-fade-out": "0", "fade-in-active": "0",
            "fade-out-active": "0"}
        for c, source in enumerate(sources):
            attrs[f"source-{c}"] = attrs[f"master-source-{c}"] = source
        return attrs

    base = os.path.splitext(os.path.basename(wav))[0]
    ET.SubElement(root.find("Regions"), "Region", region(base, True))
    ET.SubElement(playlist, "Region", region(base + ".1", False))
    locations = root.find("Locations")
    for location in list(locations):
        if "IsSessionRange" in location.get("flags", ""):
            locations.remove(location)
    ET.SubElement(locations, "Location", {
        "id": new_id(), "name": "session", "start": "a0", "end": f"a{end}",
        "flags": "IsSessionRange", "locked": "0", "timestamp": "0", "cue": "0"})
    root.set("id-counter", str(next_id + 1))
    tree.write(session_file, encoding="UTF-8", xml_declaration=True)


def lv2_control_numbers(uri, env):
    """Port symbol -> Ardour's control-port number (the n-th control port of the plug-in)."""
    r = subprocess.run(["lv2info", uri], capture_output=True, text=True, env=env, timeout=60)
    if r.returncode or "Port 0:" not in r.stdout:
        raise ArdourError(f"lv2info does not know {uri}: {r.stderr.strip()}")
    numbers, count = {}, 0
    for block in re.split(r"\n\s*Port \d+:\n", r.stdout)[1:]:
        if "lv2core#ControlPort" in block:
            symbol = re.search(r"Symbol:\s*(\S+)", block).group(1)
            numbers[symbol] = count
            count += 1
    return numbers


class Ardour:
    """One isolated Ardour: its own configuration, caches and plug-in folder under WORK."""

    def __init__(self, work, attempts=5, log=print):
        self.work = os.path.abspath(work)
        self.attempts = attempts
        self.log = log
        self.vst_dir = os.path.join(self.work, "vst")
        self.vst3_dir = os.path.join(self.work, "vst3-bundles")
        self.scanned3 = {}
        config = os.path.join(self.work, "home", "config")
        self.cache = os.path.join(self.work, "home", "cache")
        self.env = dict(os.environ, LD_LIBRARY_PATH=ARDOUR_LIBS, XDG_CONFIG_HOME=config,
                        XDG_CACHE_HOME=self.cache, LXVST_PATH=self.vst_dir,
                        VST3_PATH=self.vst3_dir)
        export_dir = os.path.join(config, "ardour7", "export")
        for d in (export_dir, self.cache, self.vst_dir, self.vst3_dir):
            os.makedirs(d, exist_ok=True)
        with open(os.path.join(export_dir, "Vurnel float WAV.format"), "w") as f:
            f.write(EXPORT_FORMAT)
        with open(os.path.join(export_dir, "Vurnel float WAV.preset"), "w") as f:
            f.write(EXPORT_PRESET)

    def _run(self, what, command, timeout, done, complete=lambda: False, prepare=lambda: None):
        """Runs an ardour7-lua script. Ardour's headless host crashes in its own teardown now
        and then (about one run in six, one in three on a loaded machine, with or without a
        plug-in): after the script has printed DONE, the line it prints when its work is
        complete, or, for an export, while Ardour
        frees its export graph once the whole file is written (a core dump's stack:
        ExportHandler::finish_timespan → ExportGraphBuilder::reset → a free in AudioGrapher),
        which COMPLETE recognises. Only those failures are retried, and each retry is printed
        with its reason. Any other failure fails at once. PREPARE runs before every attempt."""
        for attempt in range(1, self.attempts + 1):
            prepare()
            r = subprocess.run(command, capture_output=True, text=True, env=self.env,
                               timeout=timeout)
            if r.returncode == 0:
                return r.stdout
            log = f"{r.stdout[-1500:]}{r.stderr[-1500:]}"
            crashed = r.returncode < 0 or r.returncode >= 128  # killed by a signal
            if crashed and done in r.stdout:
                reason = f"in its teardown after '{done}'"
            elif crashed and complete():
                reason = "freeing its export graph after writing the whole file"
            else:
                raise ArdourError(f"{what} failed (exit {r.returncode})\n{log}")
            if attempt < self.attempts:
                self.log(f"{what}: RETRY {attempt + 1} of {self.attempts}: ardour7-lua crashed "
                         f"(exit {r.returncode}) {reason}, a fault of Ardour's headless host\n"
                         f"{log}")
        raise ArdourError(f"{what}: ardour7-lua crashed after its work {self.attempts} times")

    def scan_vst(self, module):
        """Scans a VST 2 module with Ardour's scanner; returns the cached fields (id, name,
        n_inputs, n_outputs, can_process_replace, ...)."""
        copy = os.path.join(self.vst_dir, os.path.basename(module))
        shutil.copy2(module, copy)
        out = self._run("ardour-vst-scanner", [SCANNER, "-q", "-f", copy], 60, done="\0")
        caches = [os.path.join(d, f) for d, _, files in os.walk(self.cache) for f in files
                  if f.endswith(".v2i")]
        if not caches:
            raise ArdourError(f"the scanner cached nothing for {module}: {out}")
        fields = {}
        for cache in caches:
            # The cache must be newer than the module, in whole seconds, to be read.
            stamp = int(os.stat(copy).st_mtime) + 1
            os.utime(cache, (stamp, stamp))
            with open(cache) as f:
                text = f.read()
            if os.path.basename(copy) in text:
                fields = dict(re.findall(r'\b([a-z_]+)="([^"]*)"', text))
        return fields

    def scan_vst3(self, bundle):
        """Scans a VST 3 bundle with Ardour's scanner; returns the cached class fields (uid,
        name, vendor, category, n_inputs, n_outputs, ...) of its first audio class, scanning a
        bundle once per driver."""
        copy = os.path.join(self.vst3_dir, os.path.basename(bundle.rstrip("/")))
        if copy in self.scanned3:
            return self.scanned3[copy]
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(bundle, copy)
        # The cache counts only when it is newer, in whole seconds, than the module.
        stamp = time.time() - 60
        for d, _, files in os.walk(copy):
            for f in files:
                os.utime(os.path.join(d, f), (stamp, stamp))
        out = self._run("ardour-vst3-scanner", [SCANNER3, "-f", "-v", copy], 60, done="\0")
        if "Found Plugin:" not in out:
            raise ArdourError(f"the VST 3 scanner found no plug-in in {bundle}: {out}")
        for d, _, files in os.walk(self.cache):
            for f in files:
                if f.endswith(".v3i"):
                    with open(os.path.join(d, f)) as cache:
                        text = cache.read()
                    if copy in text:
                        info = re.search(r"<VST3Info ([^>]*)>", text)
                        fields = dict(re.findall(r'\b([a-z_-]+)="([^"]*)"', info.group(1)))
                        self.scanned3[copy] = fields
                        return fields
        raise ArdourError(f"the VST 3 scanner cached nothing for {bundle}: {out}")

    def render(self, case, source, vst=None, lv2=None, vst3=None, settings=(), rate=None):
        """Renders SOURCE (a stereo WAV) through a session with one track and at most one
        plug-in; returns the path of the exported 32-bit float WAV. SETTINGS are (index, value)
        pairs for a VST 2 plug-in (0..1 values), (symbol, value) pairs for an LV2 one, (number,
        plain value) pairs for a VST 3 one (VST3 is its bundle). The session is saved by one
        ardour7-lua process and exported by another, which loads it: the export also shows
        what a reloaded session restores. Its printed lines are kept in self.last_export."""
        source = os.path.abspath(source)
        rate = rate or wav_shape(source)[1]
        if vst:
            plugin = self.scan_vst(vst).get("id")
            kind, params = "vst", [f"{int(i)}={float(v)!r}" for i, v in settings]
        elif vst3:
            plugin, kind = self.scan_vst3(vst3)["uid"], "vst3"
            params = [f"{int(i)}={float(v)!r}" for i, v in settings]
        elif lv2:
            plugin, kind = lv2, "lv2"
            numbers = lv2_control_numbers(lv2, self.env)
            params = [f"{numbers[s]}={float(v)!r}" for s, v in settings]
        else:
            plugin, kind, params = "-", "none", []
        session = os.path.join(self.work, case)
        out = os.path.join(self.work, case + ".wav")
        shutil.rmtree(session, ignore_errors=True)
        self._run(f"{case}: session", ["ardour7-lua", os.path.join(HERE, "session.lua"), session,
                                       case, str(rate), kind, plugin, *params], 120,
                  done=f"saved {session}/{case}.ardour")
        place_region(os.path.join(session, case + ".ardour"), "T", source)
        frames = wav_shape(source)[2]

        def no_output():
            if os.path.exists(out):
                os.remove(out)

        def whole_file():
            try:
                return os.path.exists(out) and written_frames(out) >= frames
            except (ArdourError, struct.error, TypeError):
                return False

        self.last_export = self._run(f"{case}: export", ["ardour7-lua", os.path.join(HERE, "export.lua"), session,
                                      case, self.work, case, PRESET_ID], 300,
                  done=f"exported {self.work}/{case}.wav", complete=whole_file, prepare=no_output)
        if not os.path.getsize(out):
            raise ArdourError(f"{case}: the export is empty")
        return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    scan = sub.add_parser("scan", help="scan a VST 2 module with Ardour's scanner")
    scan.add_argument("module")
    render = sub.add_parser("render", help="render a stereo WAV through Ardour")
    render.add_argument("source")
    render.add_argument("output")
    which = render.add_mutually_exclusive_group()
    which.add_argument("--vst", metavar="MODULE")
    which.add_argument("--lv2", metavar="URI")
    which.add_argument("--vst3", metavar="BUNDLE")
    render.add_argument("--set", action="append", default=[], metavar="KEY=VALUE")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="ardour-host-")
    try:
        ardour = Ardour(work, log=lambda s: print(s, file=sys.stderr))
        if args.command == "scan":
            for key, value in sorted(ardour.scan_vst(args.module).items()):
                print(f"{key}={value}")
            return 0
        settings = [tuple(s.split("=", 1)) for s in args.set]
        shutil.copyfile(ardour.render("render", args.source, vst=args.vst, lv2=args.lv2,
                                      vst3=args.vst3, settings=settings), args.output)
        return 0
    except (ArdourError, subprocess.TimeoutExpired, KeyError, ValueError) as e:
        print(f"ardour_host: {e}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

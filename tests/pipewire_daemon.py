"""A PipeWire daemon of the test's own, for the tests that run the LV2 plug-in in PipeWire.

Its own runtime folder, a dummy driver, a null sink, nothing from the user's session, and a
session bus of its own for WirePlumber; every process it starts is reaped when it stops.
"""
import os
import signal
import subprocess
import time

RATE, QUANTUM = 48000, 1024

DAEMON = """
context.properties = {
    support.dbus = false
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.quantum = 1024
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-access }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver  node.name = Dummy-Driver
                 priority.driver = 8000 } }
    { factory = adapter
        args = { factory.name = support.null-audio-sink  node.name = null-sink
                 media.class = Audio/Sink  audio.position = [ FL FR ]
                 monitor.channel-volumes = true  node.driver = false } }
]
"""
CONFIG_NAME = "vurnel-test.conf"


def wait_for(what, condition, seconds=60):
    """Polls condition until it holds; False after the deadline. The deadline only bounds a
    hang: a slow or busy machine (a sanitizer build, another process on the other core) may
    take many seconds to start a daemon or link a graph, and that is no fault."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    print(f"timed out waiting for {what}")
    return False


def write_daemon_config(config):
    """Writes the daemon's configuration into the folder config; returns its drop-in folder."""
    drop_ins = os.path.join(config, CONFIG_NAME + ".d")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, CONFIG_NAME), "w") as f:
        f.write(DAEMON)
    return drop_ins


def stop_sessions(sessions, checks):
    """Stops the sessions, the newest first; after a failed check, prints the newest one's log."""
    for s in reversed(sessions):
        s.stop()
    if sessions and checks.results and not all(checks.results):
        print(sessions[-1].log_tail())


class Session:
    """The environment of one daemon: work is the test's temporary folder, runtime the name of
    the daemon's runtime folder in it, config_home the clients' XDG_CONFIG_HOME."""

    def __init__(self, work, bundle, config_home, runtime="run"):
        self.work = work
        self.runtime = os.path.join(work, runtime)
        os.makedirs(self.runtime)
        lv2 = os.path.join(work, "lv2")
        if not os.path.isdir(lv2):
            os.makedirs(lv2)
            os.symlink(bundle, os.path.join(lv2, os.path.basename(bundle)))
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PIPEWIRE", "PULSE"))}
        env.update(XDG_RUNTIME_DIR=self.runtime, PIPEWIRE_RUNTIME_DIR=self.runtime,
                   LV2_PATH=f"{lv2}:/usr/lib/lv2", HOME=work, XDG_CONFIG_HOME=config_home,
                   XDG_STATE_HOME=os.path.join(work, "state"), DISPLAY="")
        self.env = env
        self.log_path = os.path.join(work, "log")
        self.log = open(self.log_path, "a")
        self.processes = []

    def start(self, *command, **extra):
        p = subprocess.Popen(command, env=dict(self.env, **extra), stdin=subprocess.DEVNULL,
                             stdout=self.log, stderr=self.log, start_new_session=True)
        self.processes.append(p)
        return p

    def links(self):
        r = subprocess.run(["pw-link", "-l"], env=self.env, capture_output=True, text=True,
                           timeout=10)
        return r.stdout

    def start_daemon(self, config):
        """Starts the daemon on the configuration in the folder config (write_daemon_config);
        True once its socket is there."""
        self.start("pipewire", "-c", CONFIG_NAME, PIPEWIRE_CONFIG_DIR=config)
        return wait_for("the PipeWire socket",
                        lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")))

    def dump(self):
        return subprocess.run(["pw-dump"], env=self.env, capture_output=True, text=True,
                              timeout=20).stdout

    def start_wireplumber(self):
        # WirePlumber wants a session bus: one of the test's own, both children of this process
        # so that both are reaped.
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=self.log, text=True, start_new_session=True)
        self.processes.append(bus)
        self.start("wireplumber", DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip())

    def stop(self):
        for p in reversed(self.processes):
            try:
                os.killpg(p.pid, signal.SIGTERM)
            except (ProcessLookupError, PermissionError):
                pass
        for p in self.processes:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
        self.processes = []

    def log_tail(self):
        self.log.flush()
        return open(self.log_path).read()[-3000:]

# SPDX-License-Identifier: GPL-3.0-or-later
"""Private sound servers for the tests and benchmarks: a PulseAudio or a PipeWire (with
wireplumber and its PulseAudio layer under a D-Bus of its own), each with one null sink called
"ombura_test" whose monitor can be recorded.

Everything lives under one temporary folder (its own XDG_RUNTIME_DIR and HOME), and every
process is started here and ended by its process id, never by name: other programs on the same
machine run servers of their own.
"""
import array
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

SINK = "ombura_test"
RATE = 48000
CHANNELS = 2

_NULL_SINK_CONF = """\
context.objects = [
    { factory = adapter
      args = {
          factory.name     = support.null-audio-sink
          node.name        = "%s"
          node.description = "Ombura test sink"
          media.class      = Audio/Sink
          audio.rate       = %d
          audio.position   = [ FL FR ]
          monitor.channel-volumes = true
      }
    }
]
""" % (SINK, RATE)


def _wait(pred, timeout, what):
    deadline = time.monotonic() + timeout
    while not pred():
        if time.monotonic() > deadline:
            raise RuntimeError(f"timed out waiting for {what}")
        time.sleep(0.05)


def _end(proc, timeout=5.0):
    """Ends one process we started: SIGTERM, then SIGKILL, always by its own id."""
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def _accepts(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.settimeout(0.5)
        s.connect(path)
        return True
    except OSError:
        return False
    finally:
        s.close()


class SoundServer:
    """Base: a private folder, an environment for clients, and the processes to end."""

    kind = "none"

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix=f"ombura-{self.kind}-")
        self.runtime = os.path.join(self.dir, "run")
        self.home = os.path.join(self.dir, "home")
        os.makedirs(self.runtime, mode=0o700)
        os.makedirs(os.path.join(self.home, ".config"))
        # No client of ours may start a server of its own when ours is gone.
        self.client_conf = os.path.join(self.dir, "client.conf")
        with open(self.client_conf, "w") as f:
            f.write("autospawn = no\n")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, HOME=self.home,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        PULSE_CLIENTCONFIG=self.client_conf)
        for name in ("PULSE_SERVER", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR",
                     "DBUS_SESSION_BUS_ADDRESS", "SDL_AUDIODRIVER", "PULSE_SINK"):
            self.env.pop(name, None)
        self.procs = {}
        self.logs = {}

    def _spawn(self, name, argv, env=None):
        log = open(os.path.join(self.dir, name + ".log"), "ab")
        self.logs[name] = log.name
        self.procs[name] = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL,
                                            stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        log.close()
        return self.procs[name]

    def pulse_socket(self):
        return os.path.join(self.runtime, "pulse", "native")

    def pactl(self, *args, timeout=10):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def _wait_sink(self, timeout=20):
        def ready():
            if not _accepts(self.pulse_socket()):
                return False
            r = self.pactl("list", "short", "sinks", timeout=5)
            return r.returncode == 0 and SINK in r.stdout
        _wait(ready, timeout, f"the {self.kind} server and its sink {SINK}")

    def log_text(self, name):
        try:
            with open(self.logs[name], "rb") as f:
                return f.read().decode(errors="replace")
        except (KeyError, OSError):
            return ""

    def pids(self):
        return {n: p.pid for n, p in self.procs.items() if p.poll() is None}

    def kill(self):
        """The server dies at once, as after a crash: SIGKILL, no clean-up."""
        for name in self.server_processes():
            p = self.procs.get(name)
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()

    def stop(self):
        for name in reversed(list(self.procs)):
            _end(self.procs[name])

    def close(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class PulseServer(SoundServer):
    kind = "pulseaudio"

    def __init__(self, log_level="info"):
        super().__init__()
        self.log_level = log_level

    def server_processes(self):
        return ["pulseaudio"]

    def start(self):
        # -n: no default.pa, so no hardware is probed; --system=no keeps root in per-user
        # mode (it warns, and runs). Realtime scheduling is allowed where the user may have it.
        self._spawn("pulseaudio", [
            "pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
            "--disallow-exit=no", "--use-pid-file=no", "--log-target=stderr",
            f"--log-level={self.log_level}", "-L",
            f"module-null-sink sink_name={SINK} rate={RATE} channels={CHANNELS} "
            f"format=float32le", "-L", "module-native-protocol-unix"])
        self._wait_sink()
        return self


class PipeWireServer(SoundServer):
    kind = "pipewire"

    def server_processes(self):
        return ["pipewire-pulse", "wireplumber", "pipewire"]

    def _start_bus(self):
        read_end, write_end = os.pipe()
        try:
            self._spawn_bus(write_end)
            os.close(write_end)
            write_end = -1
            address = b""
            while not address.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], 10)
                chunk = os.read(read_end, 512) if ready else b""
                if not chunk:
                    raise RuntimeError("dbus-daemon did not start")
                address += chunk
            self.env["DBUS_SESSION_BUS_ADDRESS"] = address.decode().strip()
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)

    def _spawn_bus(self, fd):
        log = open(os.path.join(self.dir, "dbus.log"), "ab")
        self.logs["dbus"] = log.name
        self.procs["dbus"] = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile",
             f"--address=unix:path={os.path.join(self.runtime, 'bus')}",
             f"--print-address={fd}"],
            env=self.env, pass_fds=(fd,), stdin=subprocess.DEVNULL, stdout=log,
            stderr=subprocess.STDOUT, start_new_session=True)
        log.close()

    def start(self):
        conf = os.path.join(self.home, ".config", "pipewire", "pipewire.conf.d")
        os.makedirs(conf)
        with open(os.path.join(conf, "ombura-null-sink.conf"), "w") as f:
            f.write(_NULL_SINK_CONF)
        self._start_bus()
        self.start_again()
        return self

    def start_again(self):
        self._spawn("pipewire", ["pipewire"])
        _wait(lambda: _accepts(os.path.join(self.runtime, "pipewire-0")), 20,
              "the PipeWire socket")
        self._spawn("wireplumber", ["wireplumber"])
        self._spawn("pipewire-pulse", ["pipewire-pulse"])
        self._wait_sink()

    def dump(self):
        import json
        r = subprocess.run(["pw-dump"], env=self.env, capture_output=True, text=True, timeout=20)
        return json.loads(r.stdout) if r.returncode == 0 and r.stdout.strip() else []


def restart(server):
    """Starts the server processes again after kill(), in the same folder and environment."""
    if isinstance(server, PipeWireServer):
        server.start_again()
    else:
        server.start()


class MonitorRecorder:
    """Records the test sink's monitor as float32 stereo at 48000 Hz through parec, noting the
    monotonic time at which each piece arrives, so that sample positions can be put on the same
    clock as the moments the program was driven.

    Both servers run a sink at the smallest latency that any stream on it, or any reader of its
    monitor, asks for. A recorder asking for 2 ms would shrink every stream's buffer to that
    and cause the very dropouts it is meant to find; 30 ms leaves the game's own stream in
    charge, and the arrival times still pin the monitor's clock down to a millisecond or so."""

    def __init__(self, server, latency_ms=30):
        self.server = server
        self.samples = array.array("f")
        self.arrivals = []  # (monotonic seconds, frames received so far)
        self.proc = subprocess.Popen(
            ["parec", "--raw", f"--device={SINK}.monitor", "--format=float32le",
             f"--rate={RATE}", f"--channels={CHANNELS}", f"--latency-msec={latency_ms}",
             "--client-name=ombura-test-recorder", "--stream-name=monitor"],
            env=server.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        # The first pieces take a moment to come; what is measured starts after them.
        _wait(lambda: self.frames() > 0 or self.proc.poll() is not None, 20,
              "the monitor recording to start")
        if self.proc.poll() is not None:
            raise RuntimeError("parec ended at once")

    def _read(self):
        fd = self.proc.stdout.fileno()
        pending = b""
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            t = time.monotonic()
            if not chunk:
                break
            pending += chunk
            whole = len(pending) - len(pending) % (4 * CHANNELS)
            if whole:
                with self._lock:
                    self.samples.frombytes(pending[:whole])
                    self.arrivals.append((t, len(self.samples) // CHANNELS))
                pending = pending[whole:]

    def frames(self):
        with self._lock:
            return len(self.samples) // CHANNELS

    def alive(self):
        return self.proc.poll() is None

    def snapshot(self):
        with self._lock:
            return array.array("f", self.samples), list(self.arrivals)

    def stop(self):
        _end(self.proc)
        self._thread.join(timeout=5)


def time_of_frame(arrivals, frame, window=RATE // 2):
    """The monotonic time at which `frame` reached the monitor. Each arrival (t, n) says that
    frames below n had arrived by t, so n/RATE - t is never later than the true offset between
    the two clocks; the smallest delay over nearby arrivals is the best estimate. Only nearby
    ones count: a sink that sat idle for a while restarts its clock."""
    if not arrivals:
        raise ValueError("nothing recorded")
    near = [(t, n) for t, n in arrivals if abs(n - frame) <= window] or arrivals[-3:]
    offset = min(t - n / RATE for t, n in near)
    return offset + frame / RATE


def arrival_of_frame(arrivals, frame):
    """When `frame` had surely reached the recorder: the first piece that held it."""
    for t, n in arrivals:
        if n > frame:
            return t
    return None


def frames_arrived_by(arrivals, t):
    """How many frames had reached the recorder by `t`: all of them had sounded before it."""
    n = 0
    for a, m in arrivals:
        if a > t:
            break
        n = m
    return n


def frame_at_time(arrivals, t, window=0.5):
    """The inverse of time_of_frame: the monitor frame that was reaching the sink at `t`."""
    near = [(a, n) for a, n in arrivals if abs(a - t) <= window] or arrivals[-3:]
    offset = min(a - n / RATE for a, n in near)
    return int((t - offset) * RATE)


def rms_chunks(samples, start_frame, end_frame, chunk_frames=RATE // 10):
    out = []
    for f in range(max(0, start_frame), max(0, end_frame), chunk_frames):
        part = samples[f * CHANNELS:min(end_frame, f + chunk_frames) * CHANNELS]
        if part:
            out.append((sum(s * s for s in part) / len(part)) ** 0.5)
    return out


def zero_gaps(samples, start_frame, end_frame, min_frames=48):
    """Runs of exact digital silence of at least `min_frames` inside sound: a stream that ran
    dry. Music from the synthesiser never holds exact zeros that long while it sounds."""
    gaps = []
    run = 0
    heard = False
    for f in range(max(0, start_frame), end_frame):
        l, r = samples[2 * f], samples[2 * f + 1]
        if l == 0.0 and r == 0.0:
            run += 1
            continue
        if heard and run >= min_frames:
            gaps.append((f - run, run))
        heard = True
        run = 0
    return gaps

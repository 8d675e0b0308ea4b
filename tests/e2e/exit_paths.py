#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every way out of the program, taken while the music plays, N times each:

  display  the X server dies (Qt then calls exit())
  term     SIGTERM
  wayland  the Wayland compositor dies (a private weston, inside a private Xvfb)
  menu     ゲーム > 終了, chosen from the keyboard
  close    the window closed through its frame (WM_DELETE_WINDOW, as a window manager sends it)
  frozen   ゲーム > 終了 while the private PulseAudio server the music plays through is frozen
           (SIGSTOP): SDL would wait for it without end, and the program must end all the same

Each run starts the program, starts a game from the keyboard (F10, Return, Return), waits until
the music is heard in SDL's disk driver's output and takes the way out at a moment a little
different each time (but for `frozen`, which plays through the server). Every run must end
within 10 s, by no crash and with no sanitizer report on
its stderr; run under the AddressSanitizer build, a freed object that the audio thread still
reads shows here. Where the program ends on its own terms (menu, close, term) the sound must fade
first: the last sample written before the output falls silent for good must be at -60 dBFS or
below, where a cut at full level would click.

    exit_paths.py [--paths display:10,term:10,...] path/to/ombura

`frozen` needs pulseaudio and pactl.
"""
import argparse
import array
import ctypes
import ctypes.util
import math
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session import Failure, GameProcess, Session, stop  # noqa: E402  (puts tools/ on the path)
from xvfb import start_xvfb  # noqa: E402
import sound_servers as ss  # noqa: E402

T0 = time.monotonic()
LOUD = 0.01                 # a sample above this in the last 100 ms: the music plays
STEP_LIMIT_DBFS = -60.0
KEYBOARD_ENTER = re.compile(rb"wl_keyboard[@#]\d+\.enter\(")
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                   "WARNING: ThreadSanitizer", "SUMMARY: AddressSanitizer", "SUMMARY: UndefinedBehavior")
CRASHES = (signal.SIGSEGV, signal.SIGABRT, signal.SIGBUS, signal.SIGILL, signal.SIGFPE, signal.SIGTRAP)


def say(msg):
    print(f"[exit {time.monotonic() - T0:7.2f}s] {msg}", flush=True)


def wait_for(pred, timeout, what, interval=0.03):
    deadline = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def xdo(display, *args):
    return subprocess.run(["xdotool", *map(str, args)], env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True, timeout=20).stdout


def samples(path, start=0):
    try:
        with open(path, "rb") as f:
            f.seek(start)
            data = f.read()
    except OSError:
        return array.array("f")
    out = array.array("f")
    out.frombytes(data[:len(data) - len(data) % 8])
    return out


def music_heard(path):
    try:
        size = os.path.getsize(path)
    except OSError:
        return False
    tail = samples(path, max(0, size - 48000 * 8 // 10) // 8 * 8)
    return any(abs(s) > LOUD for s in tail)


def step_into_silence(path):
    """The peak of the last stereo frame that is not silent, in dBFS."""
    s = samples(path)
    last = len(s)
    while last > 0 and s[last - 1] == 0.0:
        last -= 1
    if last == 0:
        raise Failure(f"{path} holds no sound at all")
    frame = (last - 1) // 2
    peak = max(abs(s[2 * frame]), abs(s[2 * frame + 1]))
    return 20 * math.log10(peak)


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]


class XDisplay:
    """Just enough of Xlib to ask a window to close, as a window manager does."""

    def __init__(self, name):
        self.x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.d = self.x.XOpenDisplay(name.encode())
        if not self.d:
            raise Failure(f"cannot open display {name}")

    def close_window(self, wid):
        event = XEvent()
        event.client.type = 33  # ClientMessage
        event.client.window = wid
        event.client.message_type = self.x.XInternAtom(self.d, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = self.x.XInternAtom(self.d, b"WM_DELETE_WINDOW", 0)
        self.x.XSendEvent(self.d, wid, 0, 0, ctypes.byref(event))
        self.x.XFlush(self.d)

    def __del__(self):
        if getattr(self, "d", None):
            self.x.XCloseDisplay(self.d)


def start_weston(display, tmp, run):
    """A private weston with its X11 back end inside `display`; returns (process, socket)."""
    runtime = os.path.join(tmp, f"runtime-{run}")
    os.mkdir(runtime, 0o700)
    config = os.path.join(tmp, "weston.ini")
    with open(config, "w") as f:
        f.write("[core]\nidle-time=0\n[shell]\npanel-position=none\nlocking=false\nanimation=none\n"
                "startup-animation=none\nfocus-animation=none\n")
    socket = f"wayland-ombura-exit-{os.getpid()}-{run}"
    weston = subprocess.Popen(["weston", "--backend=x11-backend.so", f"--socket={socket}", f"--config={config}",
                               "--width=640", "--height=400", "--use-pixman"],
                              env=dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime,
                                       HOME=os.path.join(tmp, "home")),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    wait_for(lambda: os.path.exists(os.path.join(runtime, socket)) or weston.poll() is not None, 20,
             "weston's socket")
    if weston.poll() is not None:
        raise Failure(f"weston ended at start with status {weston.returncode}")
    return weston, runtime, socket


def start_game(display, started, what):
    """F10 lights ゲーム, Return opens it with 開始 chosen, Return starts the game. On a busy
    machine a key can reach a menu that is not up yet (a Wayland popup comes a round trip after
    the key that asked for it): after 8 s with no sign of a game, Escape closes what is open and
    the keys go again, three times in all."""
    for attempt in range(3):
        for key in ("F10", "Return", "Return"):
            xdo(display, "key", key)
            time.sleep(0.15)
        try:
            return wait_for(started, 8, what, 0.05)
        except Failure:
            if attempt == 2:
                raise
            for key in ("Escape", "Escape"):
                xdo(display, "key", key)
                time.sleep(0.15)


def one_run(binary, path, run, session, tmp):
    audio = os.path.join(tmp, f"{path}-{run}.raw")
    errors = os.path.join(tmp, f"{path}-{run}.stderr")
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=audio)
    display = session.display
    xvfb = weston = server = None
    if path == "frozen":
        server = ss.PulseServer().start()
        env = dict(server.env)
    if path == "display":
        xvfb, display = start_xvfb("800x600x24")
    if path == "wayland":
        weston, runtime, socket = start_weston(display, tmp, run)
        env.update(QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=runtime, WAYLAND_DEBUG="1")
        env.pop("DISPLAY", None)
    else:
        env.update(QT_QPA_PLATFORM="xcb", DISPLAY=display)
        env.pop("WAYLAND_DISPLAY", None)
    with open(errors, "wb") as err:
        game = GameProcess(binary, env, stderr=err)
    try:
        wid = None
        if path == "wayland":
            # The compositor gives the new window the keyboard; keys reach weston's own window
            # on the X server, which has the focus while the pointer is over it.
            xdo(display, "mousemove", 320, 200)
            # libwayland 1.21 writes wl_keyboard@7 where 1.23 writes wl_keyboard#7.
            wait_for(lambda: game.check_alive() or KEYBOARD_ENTER.search(open(errors, "rb").read()), 20,
                     "the window to take the keyboard", 0.1)
        else:
            wid = wait_for(lambda: game.check_alive() or xdo(display, "search", "--onlyvisible", "--name",
                                                                "^Ombura$").split(), 20, "the main window", 0.05)[0]
            xdo(display, "windowfocus", "--sync", wid)
        time.sleep(0.2)
        if server is not None:
            start_game(display, lambda: game.check_alive() or server.pactl("list", "short", "sink-inputs").stdout.strip(),
                       "the game's stream on the server")
            time.sleep(0.5)
            for name in server.server_processes():
                os.kill(server.procs[name].pid, signal.SIGSTOP)
        else:
            start_game(display, lambda: game.check_alive() or music_heard(audio), "the music after Start")
        time.sleep(0.07 * (run % 5))  # somewhere else in the block each time
        if path == "display":
            xvfb.kill()
        elif path == "wayland":
            os.killpg(weston.pid, signal.SIGKILL)
        elif path == "term":
            game.proc.send_signal(signal.SIGTERM)
        elif path in ("menu", "frozen"):
            # ゲーム opens with 開始 chosen; Up goes round to 終了.
            for key in ("F10", "Return", "Up", "Return"):
                xdo(display, "key", key)
                time.sleep(0.15)
        elif path == "close":
            XDisplay(display).close_window(int(wid))
        try:
            status = game.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure(f"{path}, run {run}: the program did not end within 10 s")
    except Failure:
        # What the program said last is the first thing to read about a run that went wrong.
        print(open(errors, "rb").read().decode("utf-8", "replace")[-3000:], flush=True)
        raise
    finally:
        game.kill()
        if server is not None:
            for name in server.server_processes():
                os.kill(server.procs[name].pid, signal.SIGCONT)
            server.close()
        if weston is not None:
            stop(weston)
        if xvfb is not None:
            xvfb.kill()
            xvfb.wait()
    text = open(errors, "rb").read().decode("utf-8", "replace")
    report = [line for line in text.splitlines() if any(mark in line for mark in SANITIZER_MARKS)]
    if report:
        print(text[text.find(report[0]):][:6000], flush=True)
        raise Failure(f"{path}, run {run}: a sanitizer report: {report[0]}")
    if status < 0 and -status in CRASHES:
        raise Failure(f"{path}, run {run}: the program crashed ({signal.Signals(-status).name})")
    if path == "frozen":
        say(f"{path}, run {run}: ended with status {status}")
        return
    step = step_into_silence(audio)
    say(f"{path}, run {run}: ended with status {status}; the last sound before silence at {step:.1f} dBFS")
    if path in ("menu", "close", "term") and step > STEP_LIMIT_DBFS:
        raise Failure(f"{path}, run {run}: the sound was cut at {step:.1f} dBFS, above {STEP_LIMIT_DBFS:.0f}: "
                      "it did not fade before the device closed")
    os.remove(audio)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--paths", default="display:10,term:10,wayland:10,menu:3,close:3,frozen:1",
                        help="the ways out to take, each with its number of runs")
    parser.add_argument("binary")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    with Session("ombura-exit-", "800x600x24") as session:
        os.mkdir(session.path("home"))
        try:
            for item in args.paths.split(","):
                path, runs = item.split(":")
                for run in range(int(runs)):
                    one_run(binary, path, run, session, session.tmp)
            say("PASS")
            return 0
        except Failure as e:
            say(f"FAIL: {e}")
            return 1


if __name__ == "__main__":
    sys.exit(main())

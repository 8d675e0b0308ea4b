#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""build/ombura as a process: CPU while stopped, CPU and peak memory during a game with music
and a press every 200 ms. Real X input through xdotool on a private Xvfb. Prints `name value`."""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from xvfb import start_xvfb  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
RUNS = int(os.environ.get("RUNS", "3"))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def xdo(env, *args):
    return subprocess.run(["xdotool", *args], env=env, check=True, capture_output=True, text=True).stdout


def open_game(ombura, env):
    """Starts the game and waits for its window; returns the process, the window and the
    player's figure on the screen, two seconds later (the SoundFont loaded, the start settled)."""
    proc = subprocess.Popen([ombura], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wid = xdo(env, "search", "--sync", "--onlyvisible", "--name", "^Ombura$").split()[0]
        geo = dict(line.split("=") for line in xdo(env, "getwindowgeometry", "--shell", wid).split())
    except BaseException:
        proc.kill()
        proc.wait()
        raise
    x, y, h = int(geo["X"]), int(geo["Y"]), int(geo["HEIGHT"])
    time.sleep(2)
    return proc, wid, (x + 215, y + (h - 269) + 160)


def one_run(ombura, env):
    proc, wid, figure = open_game(ombura, env)
    try:

        before = cpu_seconds(proc.pid)
        time.sleep(10)
        idle = (cpu_seconds(proc.pid) - before) / 10 * 100

        xdo(env, "key", "--window", wid, "F10")
        time.sleep(0.3)
        xdo(env, "key", "Down", "Return")
        time.sleep(1)
        xdo(env, "mousemove", str(figure[0]), str(figure[1]))
        before = cpu_seconds(proc.pid)
        start = time.monotonic()
        presses = 0
        while time.monotonic() - start < 10:
            xdo(env, "click", "1")
            presses += 1
            time.sleep(max(0.0, start + presses * 0.2 - time.monotonic()))
        playing = (cpu_seconds(proc.pid) - before) / (time.monotonic() - start) * 100
        rss = peak_rss_mib(proc.pid)
        return idle, playing, rss
    finally:
        proc.kill()
        proc.wait()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    ombura = os.path.abspath(os.path.join(build, "ombura"))
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="dummy")
        results = [one_run(ombura, env) for _ in range(RUNS)]
    finally:
        xvfb.kill()
        xvfb.wait()
    for i, (idle, playing, rss) in enumerate(results, 1):
        print(f"  run {i}: idle {idle:.2f}% playing {playing:.2f}% peak {rss:.1f} MiB", file=sys.stderr)
    print(f"idle_cpu_percent {statistics.median(r[0] for r in results):.2f}")
    print(f"playing_cpu_percent {statistics.median(r[1] for r in results):.2f}")
    print(f"peak_rss_mib {max(r[2] for r in results):.1f}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The game's CPU against FluidSynth's own command-line player on the same tune, font and settings,
both through SDL on one private PulseAudio with a null sink, by turns in one run.

Each round runs, one after another:
  A  fluidsynth -a sdl2 -z 512 -c 2 -R 0 -C 0 -r 48000 -o synth.dynamic-sample-loading=1 FONT bgm.dat
     CPU over seconds 1 to 8 of its run (the tune's start, against the game's music-only window)
     and over seconds 1 to 21 (against the game with presses);
  B  build/ombura under a private Xvfb, a game started with real keys (F10, Down, Return) and no
     press: CPU over seconds 0.5 to 7.5 of the game. The countdown warns from its eighth second
     and ends the game at the eleventh, so a game without presses has no longer quiet stretch;
  C  build/ombura again, a game started the same way and a click on the figure every 200 ms for
     20 s: CPU over those 20 s.
CPU is utime + stime of the process from /proc/PID/stat. The ratios are B/A and C/A within each
round; the figures are their medians over the rounds.

    python3 bench/cli_ratio.py [build] [rounds]

FONT is /usr/share/sounds/sf2/default-GM.sf2 (FONT=... to change). Prints `name value` lines.
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import sound_servers as ss  # noqa: E402
from xvfb import start_xvfb  # noqa: E402

from process import cpu_seconds, open_game, peak_rss_mib, xdo  # noqa: E402

FONT = os.environ.get("FONT", "/usr/share/sounds/sf2/default-GM.sf2")
QUIET_SECONDS = 7.0
PRESS_SECONDS = 20.0


def end(proc):
    proc.kill()
    proc.wait()


def cli_turn(tune, env):
    """A: FluidSynth's player; returns CPU percent over seconds 1-8 and 1-21, and peak RSS."""
    proc = subprocess.Popen(
        ["fluidsynth", "-a", "sdl2", "-z", "512", "-c", "2", "-R", "0", "-C", "0", "-r", "48000",
         "-o", "synth.dynamic-sample-loading=1", FONT, tune],
        env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.0)
        c0, t0 = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(QUIET_SECONDS)
        c1, t1 = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(PRESS_SECONDS - QUIET_SECONDS)
        c2, t2 = cpu_seconds(proc.pid), time.monotonic()
        if proc.poll() is not None:
            raise RuntimeError("fluidsynth ended early")
        rss = peak_rss_mib(proc.pid)
        return (c1 - c0) / (t1 - t0) * 100, (c2 - c0) / (t2 - t0) * 100, rss
    finally:
        end(proc)


def game_turn(ombura, env, presses):
    """B (presses False) or C (True): the game's CPU percent in its window, and peak RSS."""
    proc, wid, figure = open_game(ombura, env)
    try:
        xdo(env, "mousemove", str(figure[0]), str(figure[1]))
        xdo(env, "key", "--window", wid, "F10")
        time.sleep(0.3)
        xdo(env, "key", "Down", "Return")
        time.sleep(0.5)
        c0, start = cpu_seconds(proc.pid), time.monotonic()
        if presses:
            count = 0
            while time.monotonic() - start < PRESS_SECONDS:
                xdo(env, "click", "1")
                count += 1
                time.sleep(max(0.0, start + count * 0.2 - time.monotonic()))
        else:
            time.sleep(QUIET_SECONDS)
        c1, t1 = cpu_seconds(proc.pid), time.monotonic()
        if proc.poll() is not None:
            raise RuntimeError("the game ended early")
        return (c1 - c0) / (t1 - start) * 100, peak_rss_mib(proc.pid)
    finally:
        end(proc)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    ombura = os.path.abspath(os.path.join(build, "ombura"))
    tune = os.path.abspath(os.path.join(build, "bgm.dat"))
    xvfb, display = start_xvfb()
    try:
        with ss.PulseServer() as server:
            server.start()
            env = dict(server.env, SDL_AUDIODRIVER="pulseaudio")
            game_env = dict(env, DISPLAY=display, QT_QPA_PLATFORM="xcb")
            quiet, pressed, rss = [], [], {"game": 0.0, "cli": 0.0}
            for r in range(1, rounds + 1):
                cli_quiet, cli_press, cli_rss = cli_turn(tune, env)
                music, music_rss = game_turn(ombura, game_env, presses=False)
                press, press_rss = game_turn(ombura, game_env, presses=True)
                quiet.append(music / cli_quiet)
                pressed.append(press / cli_press)
                rss["cli"] = max(rss["cli"], cli_rss)
                rss["game"] = max(rss["game"], music_rss, press_rss)
                print(f"  round {r}: cli {cli_quiet:.2f}% / {cli_press:.2f}%, game music-only "
                      f"{music:.2f}%, with presses {press:.2f}%; ratios {quiet[-1]:.2f} "
                      f"{pressed[-1]:.2f}; load {os.getloadavg()[0]:.1f}", file=sys.stderr,
                      flush=True)
    finally:
        end(xvfb)
    print(f"cli_ratio_music_only {statistics.median(quiet):.2f} "
          f"(rounds {min(quiet):.2f} to {max(quiet):.2f})")
    print(f"cli_ratio_presses {statistics.median(pressed):.2f} "
          f"(rounds {min(pressed):.2f} to {max(pressed):.2f})")
    print(f"cli_ratio_peak_rss_mib game {rss['game']:.1f} cli {rss['cli']:.1f}")
    print(f"cli_ratio_load_average {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()

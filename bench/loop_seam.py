#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where the tune's restart lands against its beat, as a player hears it.

bench/loop_play runs the real game, its Qt timers and its sound output, through a private
PulseAudio into a null sink whose monitor is recorded. The sink runs on the system clock, as a
sound card does; SDL's disk driver does not (it writes a 10.67 ms block every 10 ms or so, and
its file runs about 5 % ahead of the clock the watchdog ticks by). Each start is a fresh process
that waits a different time before Start, so the watchdog's ticks fall at unrelated moments;
loop_play keeps the countdown from running out with presses, never near a restart.

A run's start is found by its sound: the first run's is the first sound after Start, which
follows silence; every later one is where the recording matches the first run's opening second
best (normalised cross-correlation, which is sharp to the sample since the synthesiser plays
the opening the same each time). A seam that matches under 0.9, where the recording lost sound
or the synthesiser began differently, is printed but left out of the summary. The loop's
period is the time from one run's start to the next. The tune keeps its beat over the seam
when that period is the tune's length in bars, so the offset printed is the period less a
whole number of bars.

    /usr/bin/python3 bench/loop_seam.py [bench-build] [data-folder] [starts] [loops]

Prints, for every seam, `seam <start> <loop> period_s <p> bars <n> offset_ms <o> match <m>`;
for every start, the moments (seconds after Start) at which the device first read stopped and
at which the watchdog restarted the tune; and at the end `loop_seam_offset_ms` (the largest
offset by size) and `loop_period_s` (the median period).
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import sound_servers as ss  # noqa: E402


def tune_timing(path):
    """(seconds from the file's start to the end of its longest track, seconds per 4/4 bar),
    for a format 1 file with one tempo, as the game's tune is."""
    b = open(path, "rb").read()
    _, tracks, division = struct.unpack(">HHH", b[8:14])
    p, end_tick, tempo = 14, 0, 500000

    def varlen(p):
        v = 0
        while True:
            c = b[p]
            p += 1
            v = (v << 7) | (c & 0x7F)
            if not c & 0x80:
                return v, p

    for _ in range(tracks):
        end = p + 8 + struct.unpack(">I", b[p + 4:p + 8])[0]
        p, tick, status = p + 8, 0, 0
        while p < end:
            delta, p = varlen(p)
            tick += delta
            if b[p] & 0x80:
                status = b[p]
                p += 1
            if status == 0xFF:
                kind = b[p]
                length, p = varlen(p + 1)
                if kind == 0x51:
                    tempo = int.from_bytes(b[p:p + 3], "big")
                p += length
            elif status in (0xF0, 0xF7):
                length, p = varlen(p)
                p += length
            else:
                p += 1 if status & 0xF0 in (0xC0, 0xD0) else 2
        end_tick = max(end_tick, tick)
        p = end
    beat = tempo / 1e6
    return end_tick * beat / division, 4 * beat


def run_starts(bench, data, starts, loops, server, recorder):
    length, bar = tune_timing(os.path.join(data, "bgm.dat"))
    period_guess = float(int(length) + 1)  # the first watchdog tick after the end
    env = dict(server.env, QT_QPA_PLATFORM="offscreen")
    # The game reads its data files from its own folder: loop_play goes beside them.
    folder = tempfile.mkdtemp(prefix="ombura-loop-")
    player = os.path.join(folder, "loop_play")
    shutil.copy(os.path.join(bench, "bench", "loop_play"), player)
    for name in ("bgm.dat", "kuruiya.dat", "keikoku.dat", "zaku.dat"):
        shutil.copy(os.path.join(data, name), folder)
    try:
        return each_start(player, starts, loops, period_guess, bar, env, recorder), length, bar
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def each_start(player, starts, loops, period_guess, bar, env, recorder):
    found = []
    for start in range(starts):
        delay = 1.0 + 0.37 * start
        r = subprocess.run([player, str(delay), str(loops), str(period_guess)],
                           env=env, capture_output=True, text=True, timeout=loops * 60 + 120)
        if r.returncode != 0:
            raise RuntimeError(f"loop_play failed: {r.stderr.strip()}")
        times = {"start": [], "ended": [], "restart": []}
        for line in r.stdout.splitlines():
            key, _, value = line.partition(" ")
            if key in times:
                times[key].append(int(value) / 1e9)
        t_start = times["start"][0]
        samples, arrivals = recorder.snapshot()
        first = ss.frames_arrived_by(arrivals, t_start)
        mono = np.frombuffer(samples, dtype=np.float32).reshape(-1, 2).sum(axis=1).astype(np.float64)
        runs = run_starts_in(mono, first, loops, period_guess)
        for loop in range(1, len(runs)):
            period = (runs[loop][0] - runs[loop - 1][0]) / ss.RATE
            bars = round(period / bar)
            offset = (period - bars * bar) * 1000
            clear = runs[loop][1] >= 0.9
            if clear:
                found.append((period, offset))
            print(f"seam {start + 1} {loop} period_s {period:.4f} bars {bars} offset_ms {offset:+.1f} "
                  f"match {runs[loop][1]:.3f}{'' if clear else ' (unclear, left out)'}", flush=True)
        ended = [round(t - t_start, 3) for t in times["ended"]]
        ticks = [round(t - t_start, 3) for t in times["restart"]]
        print(f"start {start + 1} ended_at_s {ended} restarted_at_s {ticks}", flush=True)
        if len(runs) < loops + 1:
            print(f"start {start + 1}: {len(runs) - 1} of {loops} restarts found", file=sys.stderr)
    return found


def run_starts_in(mono, first, loops, period_guess, opening=1.0, floor=1e-4):
    """[(frame, match)] for the first run and every restart found: the first run starts at the
    first sound after `first`; each restart where the recording best matches that run's opening,
    within a second and a half of `period_guess` after the run before."""
    loud = np.nonzero(np.abs(mono[first:]) > floor)[0]
    if len(loud) == 0:
        return []
    s0 = first + int(loud[0])
    n = int(opening * ss.RATE)
    template = mono[s0:s0 + n]
    if len(template) < n:
        return []
    runs = [(s0, 1.0)]
    for _ in range(loops):
        lo = runs[-1][0] + int((period_guess - 1.5) * ss.RATE)
        hi = runs[-1][0] + int((period_guess + 1.5) * ss.RATE)
        region = mono[lo:hi + n]
        if len(region) < hi - lo + n:
            break
        size = 1 << int(np.ceil(np.log2(len(region) + n)))
        corr = np.fft.irfft(np.fft.rfft(region, size) * np.conj(np.fft.rfft(template, size)), size)[:hi - lo]
        running = np.concatenate(([0.0], np.cumsum(region * region)))
        energy = (running[n:] - running[:-n])[:hi - lo]
        score = corr / np.sqrt(np.maximum(energy, 1e-20) * np.dot(template, template))
        best = int(np.argmax(score))
        runs.append((lo + best, float(score[best])))
    return runs


def main():
    bench = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
    data = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build")
    starts = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    loops = int(sys.argv[4]) if len(sys.argv) > 4 else 2
    with ss.PulseServer() as server:
        server.start()
        recorder = ss.MonitorRecorder(server)
        try:
            found, length, bar = run_starts(bench, data, starts, loops, server, recorder)
        finally:
            recorder.stop()
    print(f"tune_length_s {length:.4f}")
    print(f"tune_bar_s {bar:.4f}")
    if found:
        print(f"loop_seams_measured {len(found)}")
        print(f"loop_period_s {statistics.median(p for p, _ in found):.4f}")
        print(f"loop_seam_offset_ms {max((o for _, o in found), key=abs):+.1f}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The game's sound through a real sound server: press-to-sink latency and dropouts.

For each server (a private PulseAudio, a private PipeWire with its PulseAudio layer), it starts
the server with a null sink, records the sink's monitor with parec, and runs bench_server:
  - effects: presses of the spin sound alone; the latency of each is the time from the moment
    just before the request to the moment its first sample reached the sink, both on the
    monotonic clock (the monitor's sample positions are put on that clock by the arrival times
    of the recorded pieces);
  - music: the tune looping with presses over it for a few minutes. For PulseAudio the
    underruns are the server's own reports that our stream ran dry (its debug log); PipeWire
    keeps no count a client can read, so there they are the holes of exact digital silence
    inside the recorded music, less the game's own silence where the tune loops. The holes
    are printed for both.

    python3 bench/sound_server.py [bench-build] [data-folder] [music-seconds] [servers]

Prints `name value` lines; the PulseAudio ones are press_to_sink_p90_ms and
pulse_underruns_per_min.
"""
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import sound_servers as ss  # noqa: E402


def percentile(values, p):
    v = sorted(values)
    if not v:
        return float("nan")
    i = max(0, min(len(v) - 1, int(-(-p / 100.0 * len(v) // 1)) - 1))
    return v[i]


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def run_bench(bench, args, env, timeout):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run([bench, *args], env=env, capture_output=True, text=True, timeout=timeout)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        raise RuntimeError(f"bench_server {' '.join(args)} failed: {r.stderr.strip()}")
    info, presses = {"restarts": []}, []
    info["cpu_seconds"] = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
    for line in r.stdout.splitlines():
        key, _, value = line.partition(" ")
        if key == "press":
            presses.append(int(value) / 1e9)
        elif key == "restart":
            info["restarts"].append(int(value) / 1e9)
        else:
            info[key] = value
    return info, presses


def first_sound(samples, start, limit):
    for f in range(max(0, start), min(limit, len(samples) // ss.CHANNELS)):
        if samples[2 * f] != 0.0 or samples[2 * f + 1] != 0.0:
            return f
    return None


def measure_latency(server, bench, data, presses):
    rec = ss.MonitorRecorder(server)
    try:
        time.sleep(0.5)
        info, times = run_bench(bench, ["effects", str(presses), data], server.env, 600)
        time.sleep(0.5)
    finally:
        rec.stop()
    samples, arrivals = rec.snapshot()
    latencies = []
    for tp in times:
        # The recording's frame at the press, found by its arrival times; the effect's first
        # non-zero sample after it (nothing else sounds in this part).
        guess = ss.frame_at_time(arrivals, tp)
        first = first_sound(samples, guess - ss.RATE // 20, guess + ss.RATE)
        if first is None:
            continue
        latencies.append((ss.time_of_frame(arrivals, first) - tp) * 1000.0)
    return info, latencies, len(times)


def measure_dropouts(server, bench, data, seconds):
    rec = ss.MonitorRecorder(server)
    pids = server.pids()
    log_before = len(server.log_text("pulseaudio"))
    try:
        time.sleep(0.5)
        cpu0 = {n: cpu_seconds(p) for n, p in pids.items()}
        t0 = time.monotonic()
        info, _ = run_bench(bench, ["music", str(seconds), data], server.env, seconds + 120)
        wall = time.monotonic() - t0
        cpu = {n: (cpu_seconds(p) - cpu0[n]) / wall * 100 for n, p in pids.items()}
        time.sleep(0.3)
    finally:
        rec.stop()
    samples, arrivals = rec.snapshot()
    frames = len(samples) // ss.CHANNELS
    gaps = ss.zero_gaps(samples, 0, frames)
    short = [g for g in gaps if g[1] < ss.RATE // 20]
    # Where the tune loops, the game itself fades the last notes out and starts the tune again,
    # whose first notes come one tick in (abc2midi writes them at tick 1); FluidSynth starts a
    # note at its next 64-frame block. That is 65 frames (1.4 ms) of silence, which SDL's disk
    # driver records too. A hole that begins within 0.3 s after a restart is that, not the
    # server running dry.
    def at_seam(gap):
        t = ss.time_of_frame(arrivals, gap[0])
        return any(0 <= t - r <= 0.3 for r in info["restarts"])
    seams = [g for g in short if at_seam(g)]
    short = [g for g in short if not at_seam(g)]
    log = server.log_text("pulseaudio")[log_before:]
    # The server notes each time our stream's queue ran empty while the sink needed data
    # ("Implicit underrun of 'Ombura'", or "Actual" when it finds out afterwards).
    reported = log.count("underrun of 'Ombura'")
    return info, short, seams, reported, cpu, wall


def main():
    bench_build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
    data = sys.argv[2] if len(sys.argv) > 2 else "build"
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 180
    kinds = sys.argv[4].split(",") if len(sys.argv) > 4 else ["pulseaudio", "pipewire"]
    presses = int(os.environ.get("PRESSES", "300"))
    bench = os.path.join(bench_build, "bench", "bench_server")
    for kind in kinds:
        server = (ss.PulseServer(log_level="debug") if kind == "pulseaudio"
                  else ss.PipeWireServer())
        with server:
            server.start()
            prefix = "pulse" if kind == "pulseaudio" else "pipewire"
            info, lat, asked = measure_latency(server, bench, data, presses)
            print(f"{prefix}_driver {info.get('driver')}")
            print(f"{prefix}_frames_per_buffer {info.get('frames')}")
            print(f"{prefix}_press_to_sink_p50_ms {percentile(lat, 50):.2f}")
            print(f"{prefix}_press_to_sink_max_ms {max(lat) if lat else float('nan'):.2f}")
            print(f"{prefix}_press_to_sink_measured {len(lat)} of {asked}")
            p90 = percentile(lat, 90)
            print(f"{prefix}_press_to_sink_p90_ms {p90:.2f}", flush=True)
            info, short, seams, reported, cpu, wall = measure_dropouts(server, bench, data, seconds)
            minutes = wall / 60
            print(f"{prefix}_music_minutes {minutes:.2f}")
            print(f"{prefix}_dropouts_at_monitor {len(short)} "
                  f"(frames {[g[1] for g in short][:20]})")
            print(f"{prefix}_loop_seam_silences {len(seams)} of {len(info['restarts'])} restarts "
                  f"(frames {[g[1] for g in seams][:20]})")
            if kind == "pulseaudio":
                print(f"{prefix}_server_underrun_reports {reported}")
            for name, value in sorted(cpu.items()):
                print(f"{prefix}_cpu_percent_{name} {value:.2f}")
            print(f"{prefix}_cpu_percent_game_engine {info['cpu_seconds'] / wall * 100:.2f}")
            print(f"{prefix}_load_average {os.getloadavg()[0]:.1f}")
            # PulseAudio says itself when our stream ran dry; PipeWire keeps no such count
            # that a client can read, so there the holes in the recording stand for it.
            per_min = (reported if kind == "pulseaudio" else len(short)) / minutes
            print(f"{prefix}_underruns_per_min {per_min:.2f}", flush=True)
            if kind == "pulseaudio":
                print(f"press_to_sink_p90_ms {p90:.2f}")
                print(f"pulse_underruns_per_min {per_min:.2f}", flush=True)


if __name__ == "__main__":
    main()

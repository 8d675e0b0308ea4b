#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Start to first sound: how long the music takes to begin after the player chooses Start, for
each installed General MIDI SoundFont, with the shipped bgm.dat and with a 16-channel tune made
here, on the machine as it is and with two CPU hogs at nice 10. Also the peak memory of each run,
and what it was just before Start, and the CPU time of the busiest thread but the UI thread (the
SoundFont loader's).

    python3 bench/music_start.py [build]

The game runs from a copy of the build's folder (the tune is whatever bgm.dat lies beside the
program) on a private Xvfb, with SDL's disk driver writing the output to a file. The font is
bound over default-GM.sf2 in a private mount namespace (root only). Start is chosen from the
menu with real keys START_AFTER seconds after the window shows (default 1.0); the figure runs
from the moment the Return key is sent to the moment the first non-zero sample reaches the
file, which the disk driver writes in real time, 512 frames at a time. No effect sounds before
the countdown's warning, 8 s after Start, so a run ends there at the latest ("never").

Prints `music_start_s.<tune>.<font>.<load> <median>` and `peak_rss_mib.<tune>.<font> <max>`
lines, each run on stderr, and `music_start_s <the worst median>`. RUNS (default 5), FONTS
(colon-separated paths) and LOADS ("quiet", "hogs" or both, comma-separated) narrow it down;
HOGS sets how many hogs (default 2). With START_AFTER=8 the peak before Start is what a player
who never starts a game pays."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from xvfb import start_xvfb  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process import peak_rss_mib, xdo  # noqa: E402

RUNS = int(os.environ.get("RUNS", "5"))
START_AFTER = float(os.environ.get("START_AFTER", "1.0"))
HOGS = int(os.environ.get("HOGS", "2"))
LOADS = os.environ.get("LOADS", "quiet,hogs").split(",")
GIVE_UP_S = 7.8
DEFAULT_FONTS = [
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3",
    "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3",
    "/usr/share/sounds/sf3/MuseScore_General_Full.sf3",
]

# Fifteen melodic instruments from every family of General MIDI, and the drums on channel 10.
PROGRAMS = [0, 4, 11, 19, 24, 33, 40, 42, 48, 52, 56, 61, 65, 71, 73]
CHORDS = [(48, 52, 55), (45, 48, 52), (41, 45, 48), (43, 47, 50)]  # C, Am, F, G
NATURALS = {0: "C", 2: "D", 4: "E", 5: "F", 7: "G", 9: "A", 11: "B"}


def abc_pitch(note):
    """A MIDI note of the C major scale in ABC: C is middle C (60), c the octave above."""
    octave, name = divmod(note, 12)
    letter = NATURALS[name]
    if octave >= 6:
        return letter.lower() + "'" * (octave - 6)
    return letter + "," * (5 - octave)


def sixteen_channel_abc():
    """Sixteen voices that all play from the first beat: every instrument is needed at once."""
    lines = ["X:1", "T:Sixteen", "M:4/4", "L:1/8", "Q:1/4=120", "K:C"]
    bars = 16
    for i, program in enumerate(PROGRAMS):
        channel = i + 1 if i < 9 else i + 2  # channel 10 is the drums'
        lines += [f"V:{i + 1}", f"%%MIDI channel {channel}", f"%%MIDI program {program}"]
        shift = 12 * (i % 3)  # three registers, so the voices spread over the keyboard
        body = []
        for bar in range(bars):
            chord = CHORDS[bar % len(CHORDS)]
            notes = [abc_pitch(chord[(i + k) % 3] + shift) for k in range(8)]
            body.append("".join(notes))
        lines.append(" | ".join(body) + " |]")
    lines += ["V:16", "%%MIDI channel 10"]
    lines.append(" | ".join(["C,,^F,,D,,^F,, C,,^F,,D,,^F,,"] * bars) + " |]")
    return "\n".join(lines) + "\n"


def make_folder(build, root, name, tune=None):
    """A copy of the program and its data files, with `tune` as bgm.dat when given."""
    folder = os.path.join(root, name)
    os.makedirs(folder)
    for f in ("ombura", "bgm.dat", "kuruiya.dat", "keikoku.dat", "zaku.dat"):
        shutil.copy2(os.path.join(build, f), folder)
    if tune:
        shutil.copy2(tune, os.path.join(folder, "bgm.dat"))
    return os.path.join(folder, "ombura")



def busiest_thread_cpu_s(pid):
    """CPU seconds of the busiest thread but the first: the SoundFont loader's, in this game."""
    tick = os.sysconf("SC_CLK_TCK")
    busiest = 0.0
    for task in os.listdir(f"/proc/{pid}/task"):
        if int(task) == pid:
            continue
        with open(f"/proc/{pid}/task/{task}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        busiest = max(busiest, (int(fields[11]) + int(fields[12])) / tick)
    return busiest


def first_sound_after(path, since, deadline):
    """Polls the disk driver's file; the time of the first non-zero byte, or None."""
    offset = 0
    while time.monotonic() < deadline:
        try:
            with open(path, "rb") as f:
                f.seek(0, os.SEEK_END)
                if f.tell() < offset:  # the device was closed and opened again
                    offset = 0
                f.seek(offset)
                data = f.read()
        except FileNotFoundError:
            data = b""
        if data.strip(b"\0"):
            return time.monotonic() - since
        offset += len(data)
        time.sleep(0.002)
    return None


def one_run(program, font, env, out):
    # The font is bound over the system's default one; default-GM.sf2 is the first place the game
    # looks. A fresh namespace for each run leaves nothing behind.
    cmd = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /usr/share/sounds/sf2/default-GM.sf2 && exec "$1"',
           font, program]
    if os.path.exists(out):
        os.remove(out)
    proc = subprocess.Popen(cmd, env=dict(env, SDL_DISKAUDIOFILE=out), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        wid = xdo(env, "search", "--sync", "--onlyvisible", "--name", "^Ombura$").split()[0]
        time.sleep(max(0.0, START_AFTER - 0.3))
        before_start = peak_rss_mib(proc.pid)
        xdo(env, "key", "--window", wid, "F10")
        time.sleep(0.3)
        xdo(env, "key", "Down")
        start = time.monotonic()
        xdo(env, "key", "Return")
        took = first_sound_after(out, start, start + GIVE_UP_S)
        # The instruments are in before the first note sounds, so the peak is reached by now.
        time.sleep(0.5)
        return took, peak_rss_mib(proc.pid), before_start, busiest_thread_cpu_s(proc.pid)
    finally:
        proc.kill()
        proc.wait()


def start_hogs():
    return [subprocess.Popen(["nice", "-n", "10", sys.executable, "-c", "while True: pass"]) for _ in range(HOGS)]


def main():
    if os.geteuid() != 0:
        sys.exit("music_start.py binds each font over the default one in a mount namespace: run it as root")
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    fonts = [f for f in os.environ.get("FONTS", ":".join(DEFAULT_FONTS)).split(":") if os.path.exists(f)]
    root = tempfile.mkdtemp(prefix="ombura-music-start-")
    xvfb, display = start_xvfb()
    hogs = []
    try:
        abc = os.path.join(root, "sixteen.abc")
        with open(abc, "w") as f:
            f.write(sixteen_channel_abc())
        tune = os.path.join(root, "sixteen.mid")
        subprocess.run(["abc2midi", abc, "-o", tune], check=True, stdout=subprocess.DEVNULL)
        programs = {"shipped": make_folder(build, root, "shipped"), "16ch": make_folder(build, root, "16ch", tune)}
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="disk")
        env.pop("WAYLAND_DISPLAY", None)
        out = os.path.join(root, "out.raw")
        peaks = {}
        worst = 0.0
        for load in LOADS:
            if load == "hogs":
                hogs = start_hogs()
                time.sleep(1)
            for tune_name, program in programs.items():
                for font in fonts:
                    font_name = os.path.splitext(os.path.basename(font))[0]
                    times = []
                    for i in range(RUNS):
                        took, rss, before_start, loader_cpu = one_run(program, font, env, out)
                        times.append(took)
                        key = f"{tune_name}.{font_name}"
                        peaks[key] = max(peaks.get(key, 0.0), rss)
                        shown = f"{took:.3f} s" if took is not None else "never"
                        print(f"  {tune_name} {font_name} {load} run {i + 1}: {shown}, peak {rss:.1f} MiB"
                              f" ({before_start:.1f} before Start), loader {loader_cpu:.2f} s CPU,"
                              f" load average {os.getloadavg()[0]:.1f}", file=sys.stderr)
                    known = [t if t is not None else float("inf") for t in times]
                    median = statistics.median(known)
                    worst = max(worst, median)
                    text = f"{median:.3f}" if median != float("inf") else f">{GIVE_UP_S}"
                    print(f"music_start_s.{tune_name}.{font_name}.{load} {text}", flush=True)
            for hog in hogs:
                hog.kill()
                hog.wait()
            hogs = []
        for key, peak in peaks.items():
            print(f"peak_rss_mib.{key} {peak:.1f}")
        print(f"music_start_s {worst:.3f}" if worst != float("inf") else f"music_start_s >{GIVE_UP_S}")
    finally:
        for hog in hogs:
            hog.kill()
            hog.wait()
        xvfb.kill()
        xvfb.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()

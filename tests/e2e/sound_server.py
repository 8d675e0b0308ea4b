#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plays Ombura through a private sound server, as on a desktop, and listens at the server.

    dbus-run-session -- python3 sound_server.py pulseaudio|pipewire path/to/ombura

The server (a PulseAudio, or a PipeWire with wireplumber and its PulseAudio layer under a D-Bus
of its own) has one null sink; its monitor is recorded with parec. The game is driven through
real input on a private Xvfb, as in e2e.py, and must:
  - sound at Start, add its effect at a press, and fall silent at Stop;
  - name its stream "Ombura" with the role of a game, and on PipeWire use the native driver;
  - play on when the server is killed (no freeze, no message box);
  - once the server is back, sound again within a second with no press and no Start, and
    within a second of the next Start;
  - stay silent when the server comes back after a Stop made while it was gone;
  - fade out at 終了 while the music plays, so that the sink hears no click.
The session bus of dbus-run-session carries the accessibility tree only.
"""
import math
import os
import subprocess
import sys
import tempfile
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e  # noqa: E402  (puts tools/ on the path)
import sound_servers as ss  # noqa: E402
from e2e import Failure, say, wait_for  # noqa: E402
from session import Session  # noqa: E402

SOUND_FLOOR = 0.003       # RMS of a 100 ms chunk that counts as audible
SILENCE_CEILING = 1e-4    # RMS of every chunk that counts as silence
RETURN_LIMIT = 1.0        # seconds from Start to sound once the server is back


class ServerGame(e2e.Game):
    """The game with the sound server's environment instead of SDL's disk driver."""

    def __init__(self, binary, display, desktop, env):
        env = dict(env, DBUS_SESSION_BUS_ADDRESS=os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""))
        for name in ("SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE"):
            env.pop(name, None)
        super().__init__(binary, display, desktop, None, env=env)


def menu(game, entry):
    return e2e.choose(game.tree, "ゲーム", entry)


def levels(rec, t0, t1):
    samples, arrivals = rec.snapshot()
    if not arrivals:
        return []
    a = ss.frames_arrived_by(arrivals, t0)
    b = ss.frames_arrived_by(arrivals, t1)
    return ss.rms_chunks(samples, a, b)


def first_sound_after(rec, t0, floor=SOUND_FLOOR):
    """The monotonic time by which the monitor surely carried sound after t0 (the arrival of
    the recorded piece that held it, so never early), or None."""
    samples, arrivals = rec.snapshot()
    if not arrivals:
        return None
    start = ss.frames_arrived_by(arrivals, t0)
    end = len(samples) // ss.CHANNELS
    step = ss.RATE // 100
    for f in range(start, end - step, step):
        if ss.rms_chunks(samples, f, f + step, step)[0] > floor:
            return ss.arrival_of_frame(arrivals, f + step)
    return None


def wait_sound(rec, t0, timeout, what):
    return wait_for(lambda: first_sound_after(rec, t0), timeout, what, 0.1)


def check_silent(rec, seconds, what):
    t0 = time.monotonic()
    time.sleep(seconds)
    quiet = levels(rec, t0, time.monotonic())
    if not quiet:
        raise Failure(f"nothing recorded while checking that {what}")
    if max(quiet) > SILENCE_CEILING:
        raise Failure(f"{what}: chunk RMS up to {max(quiet):.5f}")
    return quiet


def step_into_silence(rec):
    """The peak of the last frame at the monitor that is not silent, in dBFS."""
    samples, _ = rec.snapshot()
    last = len(samples)
    while last > 0 and samples[last - 1] == 0.0:
        last -= 1
    if last == len(samples) or last == 0:
        raise Failure("the sink did not fall silent after the program ended")
    frame = (last - 1) // ss.CHANNELS
    return 20 * math.log10(max(abs(samples[frame * 2]), abs(samples[frame * 2 + 1])))


def press_when_clear(game, baseline, players):
    e2e.wait_clear(game, baseline, players)
    t = time.monotonic()
    e2e.press_figure(game)
    return t


def effect_signature(binary):
    """The press's spin sound as the sink should carry it: the game's own kuruiya.dat (16-bit
    PCM), brought to 48000 Hz by linear interpolation, which is close enough to match."""
    import numpy as np
    with wave.open(os.path.join(os.path.dirname(binary), "kuruiya.dat"), "rb") as w:
        if w.getsampwidth() != 2:
            raise Failure("kuruiya.dat is not 16-bit PCM")
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)
        data = data.reshape(-1, w.getnchannels()).mean(axis=1)
        rate = w.getframerate()
    t = np.arange(int(len(data) * ss.RATE / rate)) * rate / ss.RATE
    return np.interp(t, np.arange(len(data)), data)


def effect_match(rec, signature, t0, t1):
    """How well the spin sound stands out of the recording between t0 and t1: the largest
    normalised cross-correlation of the recording's mono mix with the sound (1 for the sound
    alone; music over it lowers the peak, a recording without it stays near 0)."""
    import numpy as np
    samples, arrivals = rec.snapshot()
    a, b = ss.frames_arrived_by(arrivals, t0), ss.frames_arrived_by(arrivals, t1)
    x = np.frombuffer(samples, dtype=np.float32)[2 * a:2 * b].astype(np.float64)
    x = x.reshape(-1, 2).mean(axis=1)
    e = signature[:min(len(signature), ss.RATE // 4)]  # its first quarter second is enough
    if len(x) < len(e) + 1:
        return 0.0
    n = 1 << int(np.ceil(np.log2(len(x) + len(e))))
    corr = np.fft.irfft(np.fft.rfft(x, n) * np.conj(np.fft.rfft(e, n)), n)[:len(x) - len(e) + 1]
    energy = np.convolve(x * x, np.ones(len(e)), "valid")
    ncc = corr / np.sqrt(np.maximum(energy, 1e-12) * np.dot(e, e))
    return float(np.max(ncc))


def check_press_effect(game, rec, baseline, players, signature):
    """A press over the music adds the spin sound: the recording after the press matches the
    game's own sound file, and the music before it does not."""
    for attempt in range(3):
        t = press_when_clear(game, baseline, players)
        time.sleep(1.5)
        after = effect_match(rec, signature, t, t + 1.2)
        before = effect_match(rec, signature, t - 1.2, t)
        if after > 0.4 and after > 2 * before:
            say(f"a press added its effect: the recording matches the spin sound by {after:.2f} "
                f"after the press, {before:.2f} before it")
            return
        say(f"press {attempt + 1}: match {after:.2f} after, {before:.2f} before")
        time.sleep(1.0)
    raise Failure("no press added the spin sound over the music")


def game_stream(server):
    """Whether a stream plays into the server (the recorder's is a source output, not counted)."""
    r = server.pactl("list", "short", "sink-inputs", timeout=5)
    return r.returncode == 0 and r.stdout.strip() != ""


def check_stream_names(server, game):
    if isinstance(server, ss.PipeWireServer):
        nodes, clients = {}, {}
        for obj in server.dump():
            props = (obj.get("info") or {}).get("props") or {}
            if obj.get("type", "").endswith(":Node"):
                nodes[obj["id"]] = props
            elif obj.get("type", "").endswith(":Client"):
                clients[obj["id"]] = props
        ours = [p for p in nodes.values() if p.get("application.name") == "Ombura"
                and p.get("media.class") == "Stream/Output/Audio"]
        if not ours:
            raise Failure(f"no PipeWire output stream with application.name Ombura: "
                          f"{[p.get('node.name') for p in nodes.values()]}")
        node = ours[0]
        client = clients.get(int(node.get("client.id", -1)), {})
        # A stream made through the PulseAudio layer belongs to pipewire-pulse's own client;
        # SDL's native driver connects the game itself.
        if str(client.get("application.process.id")) != str(game.proc.pid):
            raise Failure(f"the Ombura stream belongs to process "
                          f"{client.get('application.process.id')} "
                          f"({client.get('application.name')}), not to the game "
                          f"({game.proc.pid}): not SDL's native PipeWire driver")
        if node.get("node.name") != "Ombura" or node.get("media.role", "").lower() != "game":
            raise Failure(f"stream name/role: {node.get('node.name')!r} / "
                          f"{node.get('media.role')!r}")
        say(f"PipeWire stream: node.name {node['node.name']!r}, media.role "
            f"{node['media.role']!r}, client of process {game.proc.pid} "
            f"({client.get('pipewire.protocol')})")
    else:
        r = server.pactl("list", "sink-inputs")
        text = r.stdout
        for needle in ('media.name = "Ombura"', 'application.name = "Ombura"',
                       'media.role = "game"'):
            if needle not in text:
                raise Failure(f"the sink input lacks {needle}:\n{text}")
        say("PulseAudio sink input: media.name, application.name Ombura, media.role game")


def check_alive_without_server(game, baseline, players):
    """The game answers as before: a press scores, and no window but the main one is up."""
    game.check_alive()
    before = int(game.score())
    for _ in range(3):
        press_when_clear(game, baseline, players)
        try:
            wait_for(lambda: int(game.score()) > before, 2.0, "the score to rise")
            break
        except Failure:
            continue
    else:
        raise Failure("no press scored while the server was gone")
    extra = [e2e.name(w) for w in game.tree.top_windows() if e2e.name(w) != "Ombura"]
    if extra:
        raise Failure(f"windows opened while the server was gone: {extra}")
    say(f"without the server the game plays on: score {before} -> {game.score()}")


def play(kind, binary):
    server_cls = ss.PulseServer if kind == "pulseaudio" else ss.PipeWireServer
    server = server_cls()
    recorders = []

    def record():
        recorders.append(ss.MonitorRecorder(server))
        return recorders[-1]

    with Session(f"ombura-{kind}-e2e-") as session:
        session.own(server.close)
        session.own(lambda: [r.stop() for r in recorders])
        display = session.display
        try:
            server.start()
            say(f"{kind} up: {server.pids()}")
            desktop = session.desktop()
            rec = record()
            game = ServerGame(binary, display, desktop, server.env)
            session.own(game.kill)
            tree = game.tree
            wait_for(tree.app, 20, "the program on the accessibility bus")
            wait_for(lambda: tree.main_frame() is not None and game.countdown() == "10", 20,
                     "the main window with its countdown at 10")
            game.origin = tree.client_origin()
            e2e.xdotool("mousemove", 1, 1)
            time.sleep(0.5)
            first = game.shot()
            baseline = {e: first.region(r) for e, r in e2e.INTRUDERS.items()}
            players = [first.region(e2e.FIGURE)]
            check_silent(rec, 1.0, "the sink carried sound before Start")

            t = menu(game, "開始")
            heard = wait_sound(rec, t, 10, "sound at the sink after Start")
            say(f"Start sounded at the sink {heard - t:.2f} s after the click")
            check_stream_names(server, game)
            time.sleep(1.0)
            check_press_effect(game, rec, baseline, players, effect_signature(binary))

            menu(game, "中止")
            time.sleep(1.0)  # the synthesiser's release tail may fade for a second
            check_silent(rec, 1.5, "still sounding 1 s after Stop")
            say("Stop silenced the sink")

            t = menu(game, "開始")
            wait_sound(rec, t, 10, "sound at the sink after the second Start")
            time.sleep(1.0)
            rec.stop()
            server.kill()
            say("server killed")
            time.sleep(1.0)
            check_alive_without_server(game, baseline, players)
            menu(game, "中止")
            t = menu(game, "開始")
            wait_for(lambda: game.score() == "0", 5, "the score to read 0 after Start without a server")
            say(f"Start without a server answered in {time.monotonic() - t:.2f} s")
            time.sleep(2.0)
            game.check_alive()

            # The game is on and its tune meant to be playing: with no press and no Start, the
            # music comes back by itself once the server does.
            ss.restart(server)
            back = time.monotonic()
            say(f"{kind} back: {server.pids()}")
            wait_for(lambda: game_stream(server), 10, "the game's stream on the server that came back")
            joined = time.monotonic() - back
            rec = record()
            sink_first = rec.snapshot()[1][0][0]
            heard = wait_sound(rec, back, 10, "the music at the sink with the server back, no press")
            say(f"with the server back, the game's stream joined {joined:.2f} s later and the music "
                f"sounded at the sink {heard - back:.2f} s later (the sink's first sound of all: "
                f"{sink_first - back:.2f} s)")
            # A fresh PulseAudio null sink sounds nothing for its first two seconds, whoever plays
            # into it (a sound card's sink starts at once): the music must be in its first sound.
            late = heard - max(back, sink_first)
            if joined > RETURN_LIMIT or late > RETURN_LIMIT:
                raise Failure(f"the music came back {late:.2f} s after the server could sound, its "
                              f"stream {joined:.2f} s after the server (limit {RETURN_LIMIT} s)")

            menu(game, "中止")
            time.sleep(1.0)
            check_silent(rec, 1.0, "still sounding after Stop with the server back")
            t = menu(game, "開始")
            heard = wait_sound(rec, t, 10, "sound at the sink after Start with the server back")
            say(f"with the server back, Start sounded at the sink {heard - t:.2f} s after the click")
            if heard - t > RETURN_LIMIT:
                raise Failure(f"sound came back {heard - t:.2f} s after Start "
                              f"(limit {RETURN_LIMIT} s)")
            check_stream_names(server, game)

            # Stopped while the server is gone, the game asks for nothing when it comes back.
            time.sleep(1.0)
            rec.stop()
            server.kill()
            say("server killed again")
            time.sleep(1.5)
            menu(game, "中止")
            ss.restart(server)
            rec = record()
            check_silent(rec, 1.5, "sounding with the server back after a Stop while it was gone")
            say("a game stopped while the server was gone stayed silent when it came back")

            # 終了 while the music plays: the sound fades before the stream goes, and the server
            # plays the fade out rather than dropping it with what it still held.
            t = menu(game, "開始")
            wait_sound(rec, t, 10, "sound at the sink before 終了")
            time.sleep(0.5)
            e2e.check_exit(game)
            time.sleep(0.5)
            step = step_into_silence(rec)
            say(f"終了 faded: the last sound at the sink before its silence was at {step:.1f} dBFS")
            if step > -60:
                raise Failure(f"終了 cut the sound at the sink at {step:.1f} dBFS (limit -60): a click")
            say("PASS")
            return 0
        except Failure as e:
            say(f"FAIL: {e}")
            for name in server.logs:
                tail = server.log_text(name)[-1500:]
                if tail.strip():
                    say(f"--- {name} log (end) ---\n{tail}")
            return 1


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("pulseaudio", "pipewire"):
        sys.exit("usage: sound_server.py pulseaudio|pipewire path/to/ombura")
    kind, binary = sys.argv[1], os.path.abspath(sys.argv[2])
    for tool in ({"pulseaudio": "pulseaudio", "pipewire": "pipewire"}[kind], "parec", "pactl"):
        if subprocess.run(["sh", "-c", f"command -v {tool}"], capture_output=True).returncode:
            sys.exit(f"FAIL: {tool} is not installed")
    tempfile.tempdir = None
    return play(kind, binary)


if __name__ == "__main__":
    sys.exit(main())

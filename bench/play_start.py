# SPDX-License-Identifier: GPL-3.0-or-later
"""How long ./play takes from the command to the game's window: set-up, build and start together,
as a player meets them. Runs ./play under a private Xvfb, waits for the window of class ombura,
prints `play_to_window_s <seconds>` and ends the game.

    python3 bench/play_start.py            run it once (the first run on a fresh machine installs
                                           and builds everything, a second finds it all done)

Needs Xvfb and xwininfo, which ./play itself does not install (xvfb, x11-utils).
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from xvfb import start_xvfb  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def main():
    xvfb, display = start_xvfb("1024x768x24")
    home = tempfile.mkdtemp(prefix="ombura-play-")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="dummy",
               XDG_RUNTIME_DIR=home, DBUS_SESSION_BUS_ADDRESS=f"unix:path={home}/no-bus")
    start = time.monotonic()
    play = subprocess.Popen(["./play"], cwd=ROOT, env=env, stdout=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        while play.poll() is None:
            tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            if '("ombura" "ombura")' in tree:
                print(f"play_to_window_s {time.monotonic() - start:.2f}")
                return 0
            time.sleep(0.05)
        print(f"./play ended with {play.returncode} before a window showed", file=sys.stderr)
        return 1
    finally:
        if play.poll() is None:
            os.killpg(play.pid, signal.SIGTERM)
            play.wait()
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())

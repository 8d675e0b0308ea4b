#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Start-up to first painted frame: build/ombura against a minimal Qt Widgets program.

Both run under one private Xvfb, interleaved, with a preloaded shim that notes the moment the
first picture reaches the X server. Prints `name value` lines."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from xvfb import start_xvfb  # noqa: E402

RUNS = int(os.environ.get("RUNS", "15"))


def first_frame_ms(cmd, env, shim):
    with tempfile.TemporaryDirectory() as d:
        marker = os.path.join(d, "first-frame")
        run_env = dict(env, FIRST_FRAME_FILE=marker, LD_PRELOAD=shim)
        t0 = time.monotonic_ns()
        proc = subprocess.Popen(cmd, env=run_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 20
            while not os.path.exists(marker):
                if time.monotonic() > deadline or proc.poll() is not None:
                    return None
                time.sleep(0.0005)
            with open(marker) as f:
                return (int(f.read()) - t0) / 1e6
        finally:
            proc.kill()
            proc.wait()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    bench_build = sys.argv[2] if len(sys.argv) > 2 else "build-bench"
    shim = os.path.abspath(os.path.join(bench_build, "bench", "libfirstframe_shim.so"))
    ombura = os.path.abspath(os.path.join(build, "ombura"))
    minimal = os.path.abspath(os.path.join(bench_build, "bench", "minimal_qt"))
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="dummy")
        env.pop("WAYLAND_DISPLAY", None)
        ours, floor = [], []
        # One warm-up each so that both start from a warm page cache.
        first_frame_ms([ombura], env, shim)
        first_frame_ms([minimal], env, shim)
        for _ in range(RUNS):
            for cmd, out in (([ombura], ours), ([minimal], floor)):
                t = first_frame_ms(cmd, env, shim)
                if t is not None:
                    out.append(t)
        if not ours or not floor:
            sys.exit("a program never painted")
        print(f"startup_first_frame_ms {statistics.median(ours):.1f}")
        print(f"startup_minimal_qt_ms {statistics.median(floor):.1f}")
        print(f"startup_first_frame_ratio {statistics.median(ours) / statistics.median(floor):.3f}")
    finally:
        xvfb.kill()
        xvfb.wait()


if __name__ == "__main__":
    main()

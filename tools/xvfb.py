"""A private Xvfb for the benchmarks and the end-to-end test."""
import os
import subprocess
import time


def start_xvfb(size="1280x800x24"):
    for n in range(90, 160):
        if os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock"):
            continue
        xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", size, "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(300):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                return xvfb, f":{n}"
            if xvfb.poll() is not None:
                break
            time.sleep(0.01)
        xvfb.kill()
        xvfb.wait()
    raise RuntimeError("no free display for Xvfb")

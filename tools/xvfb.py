# SPDX-License-Identifier: GPL-3.0-or-later
"""A private Xvfb for the benchmarks and the end-to-end test."""
import os
import select
import subprocess


def start_xvfb(size="1280x800x24", timeout=20.0, args=()):
    """Starts Xvfb on a display number of its own choosing; returns (process, ":N") once it
    accepts connections. Xvfb itself steps over numbers in use and clears stale locks. `args` go
    to Xvfb as they are (an -auth file, say)."""
    read_end, write_end = os.pipe()
    try:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", size, *args],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        write_end = -1
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], timeout)
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                xvfb.kill()
                xvfb.wait()
                raise RuntimeError("Xvfb did not start")
            number += chunk
        return xvfb, ":" + number.decode().strip()
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)

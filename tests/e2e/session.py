# SPDX-License-Identifier: GPL-3.0-or-later
"""What the end-to-end scripts share: a session of their own (a private Xvfb, a scratch folder,
the accessibility desktop) and the game's process in it. Whatever a session starts, or is handed
to end, is ended by its process id, the last first, however the run ends."""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from xvfb import start_xvfb  # noqa: E402


class Failure(Exception):
    pass


def stop(proc, grace=5.0):
    """Ends a process started in a session of its own: its group gets SIGTERM, then SIGKILL."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(timeout=grace)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


def private_cookie(path):
    """Writes an X authority file whose one cookie is good for any display, so that only this
    test's clients reach its Xvfb: a display number freed by another test's server is soon taken
    again, and that test's late xdotool calls must not move this test's pointer."""
    def counted(data):
        return struct.pack(">H", len(data)) + data
    with open(path, "wb") as f:
        f.write(struct.pack(">H", 0xFFFF) + counted(b"") + counted(b"") + counted(b"MIT-MAGIC-COOKIE-1")
                + counted(os.urandom(16)))
    os.chmod(path, 0o600)


class GameProcess:
    """The program, started in a process group of its own with `env`."""

    def __init__(self, binary, env, stderr=None):
        self.proc = subprocess.Popen([binary], env=env, start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=stderr)

    def alive(self):
        return self.proc.poll() is None

    def check_alive(self):
        if not self.alive():
            raise Failure(f"the program ended unexpectedly with status {self.proc.returncode}")

    def kill(self):
        if self.alive():
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.proc.wait()


class Session:
    """with Session("ombura-e2e-") as s: a scratch folder (s.tmp), a private Xvfb on s.display,
    which DISPLAY then names. s.own(end) runs end() when the session closes, the last first;
    s.keep = True leaves the scratch folder for a look afterwards."""

    def __init__(self, prefix, screen="1280x800x24", private_auth=False):
        self.prefix, self.screen, self.private_auth = prefix, screen, private_auth
        self.tmp = self.xvfb = self.display = None
        self.keep = False
        self._ends = []

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix=self.prefix)
        try:
            args = ()
            if self.private_auth:
                cookie = self.path("Xauthority")
                private_cookie(cookie)
                os.environ["XAUTHORITY"] = cookie
                args = ("-auth", cookie)
            self.xvfb, self.display = start_xvfb(self.screen, args=args)
        except BaseException:
            shutil.rmtree(self.tmp, ignore_errors=True)
            raise
        os.environ["DISPLAY"] = self.display
        return self

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def desktop(self):
        """The accessibility desktop. Asked for before the program starts, it switches the
        accessibility bus on, so that the program finds it."""
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        return Atspi.get_desktop(0)

    def own(self, end):
        self._ends.append(end)

    def __exit__(self, *exc):
        for end in reversed(self._ends):
            try:
                end()
            except Exception as e:  # one clean-up failing must not leave the others undone
                print(f"[session] clean-up failed: {e}", flush=True)
        self.xvfb.kill()
        self.xvfb.wait()
        if not self.keep:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False

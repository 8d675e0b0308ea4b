#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads an strace log of the game (strace -f -o LOG -e trace=...) and says what it wrote and read.

Usage: check_trace.py LOG PROGRAM_FOLDER HOME XDG_RUNTIME_DIR

Fails (exit 1) on any file opened for writing, created, removed or renamed outside /dev, /proc
and the X socket folder, and on any file read outside the places a Qt, FluidSynth and SDL
program legitimately reads. Reads of the fontconfig cache and the settings folder under HOME
are notes: the libraries look there on their own. So is the "pulse" folder in XDG_RUNTIME_DIR,
which libpulse makes when it looks for a sound server that is not running (on a desktop with
one, it is already there).
"""
import os
import re
import sys

from data_files import data_files

CALL = re.compile(r'^(?P<pid>\d+)\s+(?P<name>\w+)\((?P<args>.*)\)\s+=\s+(?P<result>-?\d+|\?)(?P<rest>.*)$')
PATH = re.compile(r'"((?:[^"\\]|\\.)*)"')

WRITE_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND")
CHANGING = {"creat", "mkdir", "mkdirat", "unlink", "unlinkat", "rmdir", "rename", "renameat",
            "renameat2", "truncate", "link", "linkat", "symlink", "symlinkat"}
WRITE_ALLOWED = ("/dev/", "/proc/", "/tmp/.X11-unix/")
READ_ALLOWED = ("/usr/share/sounds/", "/usr/share/fonts/", "/usr/local/share/fonts/", "/etc/fonts/", "/var/cache/fontconfig/",
                "/usr/lib/", "/lib/", "/usr/lib64/", "/lib64/", "/usr/share/", "/etc/", "/proc/",
                "/sys/", "/dev/", "/tmp/.X11-unix/")
DATA_FILES = data_files()


def unescape(text):
    # strace writes non-ASCII bytes as \ooo or \xhh escapes.
    raw = text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1")
    return raw.decode("utf-8", "replace")


def under(path, places):
    return any(path == p.rstrip("/") or path.startswith(p) for p in places)


def main():
    log, folder, home, runtime = sys.argv[1], *(os.path.realpath(p) for p in sys.argv[2:5])
    program_files = {os.path.join(folder, name) for name in DATA_FILES}
    notes_home = (os.path.join(home, ".cache", "fontconfig") + "/", os.path.join(home, ".config") + "/")
    sound_server = (os.path.join(runtime, "pulse") + "/",)
    failures, notes = set(), set()
    with open(log, encoding="latin-1") as f:
        for line in f:
            m = CALL.match(line.rstrip("\n"))
            if not m:
                continue
            name, args, result = m["name"], m["args"], m["result"]
            ok = result not in ("?",) and not result.startswith("-")
            paths = [unescape(p) for p in PATH.findall(args)]
            if not paths:
                continue
            path = os.path.normpath(paths[0]) if paths[0].startswith("/") else paths[0]
            if name == "execve":
                if ok and path != os.path.join(folder, "ombura") and not path.startswith(folder + "/"):
                    notes.add(f"started another program: {path}")
                continue
            if name == "connect":
                continue
            if name in CHANGING:
                what = f"{name} {' -> '.join(paths)}"
                if ok and under(path, sound_server):
                    notes.add(f"libpulse's runtime folder: {what}")
                elif ok and not under(path, WRITE_ALLOWED):
                    failures.add(f"changed the file system: {what}")
                elif not ok and not under(path, WRITE_ALLOWED) and "EEXIST" not in m["rest"]:
                    notes.add(f"tried to change the file system: {what}{m['rest']}")
                continue
            if name not in ("open", "openat", "openat2"):
                continue
            writing = any(flag in args for flag in WRITE_FLAGS)
            if writing:
                if ok and not under(path, WRITE_ALLOWED):
                    failures.add(f"opened for writing: {path}")
                elif not ok and not under(path, WRITE_ALLOWED):
                    notes.add(f"tried to open for writing: {path}{m['rest']}")
                continue
            if not ok or not path.startswith("/"):
                continue
            if path in program_files or path == os.path.join(folder, "ombura"):
                continue
            if under(path, notes_home):
                notes.add(f"read under HOME: {path}")
            elif under(path, sound_server):
                notes.add(f"libpulse's runtime folder: read {path}")
            elif not under(path, READ_ALLOWED):
                failures.add(f"read outside the expected places: {path}")
    for n in sorted(notes):
        print(f"note: {n}")
    for fl in sorted(failures):
        print(f"FAIL: {fl}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

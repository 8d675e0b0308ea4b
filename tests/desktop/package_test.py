#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the Debian package from the build tree's install rules with CPack and checks it as dpkg,
apt, lintian and a player would meet it: its name and control fields, that its dependencies cover
every library the program loads and resolve on this system, its file list, its documents, and that
the program unpacked from it starts and finds its data files.

Nothing is installed into the system: the package is unpacked into a temporary root, and the
program runs there under a private Xvfb.

    package_test.py --cpack CPACK --config BUILD/CPackConfig.cmake --version 1.0.0.4
                    --data a.dat,b.dat --icons 16x16/apps/id.png,...
"""
import argparse
import ctypes
import gzip
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from xvfb import start_xvfb  # noqa: E402

APP_ID = "io.github.ombura.Ombura"
PROGRAM_DIR = "usr/lib/games/ombura"
LAUNCHER = "usr/games/ombura"

# What the package needs beyond the libraries the program names (those are checked from the
# program itself): Qt's X11 platform plugin, which Qt only recommends but without which no window
# opens; FluidR3_GM for the music, the font ./play installs too, so that both give the same
# default font; the fonts the texts are drawn with.
REQUIRED_CLAUSES = [
    "qt6-qpa-plugins",
    "fluid-soundfont-gm",
    "fonts-ipafont-gothic",
    "fonts-kouzan-mouhitsu",
]

# Lintian tags that stay, each with its reason.
ACCEPTED_TAGS = {
    # A first Debian revision is expected to close the bug that announced the package in Debian.
    # This package is built for installing directly, not uploaded, so there is no such bug.
    "initial-upload-closes-no-bugs",
}

ARGS = None


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


class Package:
    """The package, built once and unpacked once for every case."""

    def __init__(self):
        self.scratch = tempfile.mkdtemp(prefix="ombura-package-")
        build = run([ARGS.cpack, "-G", "DEB", "--config", ARGS.config, "-B", self.scratch])
        if build.returncode != 0:
            raise RuntimeError("cpack failed:\n" + build.stdout + build.stderr)
        debs = [name for name in os.listdir(self.scratch) if name.endswith(".deb")]
        if len(debs) != 1:
            raise RuntimeError(f"cpack made {debs}, not one package")
        self.name = debs[0]
        self.path = os.path.join(self.scratch, self.name)
        self.root = os.path.join(self.scratch, "root")
        subprocess.run(["dpkg-deb", "-x", self.path, self.root], check=True)
        self.fields = {}
        for field in ("Package", "Version", "Architecture", "Section", "Priority", "Maintainer", "Depends",
                      "Description"):
            self.fields[field] = run(["dpkg-deb", "-f", self.path, field]).stdout.rstrip("\n")
        self.listing = run(["dpkg-deb", "-c", self.path]).stdout

    def at(self, relative):
        return os.path.join(self.root, relative)

    def clauses(self):
        return [" | ".join(alt.split()[0] for alt in clause.split("|"))
                for clause in self.fields["Depends"].split(",")]

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)


PACKAGE = None


def setUpModule():
    global PACKAGE
    PACKAGE = Package()


def tearDownModule():
    if PACKAGE:
        PACKAGE.close()


def sonames_in(program):
    """The shared libraries the program names: those it links and those it opens at run time."""
    with open(program, "rb") as f:
        data = f.read()
    names = set(m.decode() for m in re.findall(rb"(?<![\w.+-])(lib[\w.+-]+\.so(?:\.\d+)+)\0", data))
    # libsndfile names its symbol versions like a file (libsndfile.so.1.0); those are no library.
    versions = set(re.findall(r"Name: (\S+)\s+Flags", run(["readelf", "-V", "--wide", program]).stdout))
    return sorted(names - versions)


def start_files_carry_control_flow_protection():
    for name in ("Scrt1.o", "crti.o", "crtn.o"):
        path = run(["cc", f"-print-file-name={name}"]).stdout.strip()
        if "IBT, SHSTK" not in run(["readelf", "-n", path]).stdout:
            return False
    return True


class LinkMap(ctypes.Structure):
    _fields_ = [("l_addr", ctypes.c_void_p), ("l_name", ctypes.c_char_p)]


def library_path(soname):
    """Where the dynamic loader finds a library, the way the program would find it."""
    libc = ctypes.CDLL(None)
    handle = ctypes.CDLL(soname)._handle
    link_map = ctypes.POINTER(LinkMap)()
    RTLD_DI_LINKMAP = 2
    if libc.dlinfo(ctypes.c_void_p(handle), RTLD_DI_LINKMAP, ctypes.byref(link_map)) != 0:
        return None
    return link_map.contents.l_name.decode()


def owning_package(path):
    # Debian 12 is merged-/usr: a package may list the file under either spelling.
    spellings = [path, path[len("/usr"):] if path.startswith("/usr/") else "/usr" + path]
    for spelling in spellings:
        owner = run(["dpkg-query", "-S", spelling])
        if owner.returncode == 0:
            return owner.stdout.split(":")[0].strip()
    return None


class ControlTest(unittest.TestCase):
    def test_name_and_fields_follow_the_version_and_debian_usage(self):
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        version = f"{ARGS.version}-1"
        self.assertEqual(PACKAGE.name, f"ombura_{version}_{arch}.deb")
        expected = {"Package": "ombura", "Version": version, "Architecture": arch, "Section": "games",
                    "Priority": "optional"}
        for field, value in expected.items():
            self.assertEqual(PACKAGE.fields[field], value, field)
        self.assertRegex(PACKAGE.fields["Maintainer"], r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+\.[a-z]+>$")
        summary, *extended = PACKAGE.fields["Description"].split("\n")
        self.assertTrue(summary and extended)
        for line in extended:
            self.assertTrue(line.startswith(" ") and len(line) <= 80, repr(line))

    def test_depends_names_the_package_of_every_library_the_program_loads(self):
        program = PACKAGE.at(os.path.join(PROGRAM_DIR, "ombura"))
        sonames = sonames_in(program)
        # The linked ones (Qt, FluidSynth, SDL) must be among them.
        for expected in ("libQt6Widgets.so.6", "libfluidsynth.so.3", "libSDL2-2.0.so.0"):
            self.assertIn(expected, sonames)
        named = {alt.strip() for clause in PACKAGE.clauses() for alt in clause.split("|")}
        for soname in sonames:
            with self.subTest(soname=soname):
                path = library_path(soname)
                self.assertIsNotNone(path, "the loader does not find it here")
                package = owning_package(path)
                self.assertIsNotNone(package, path)
                self.assertIn(package, named, f"{soname} comes from {package}")
        for clause in REQUIRED_CLAUSES:
            self.assertIn(clause, PACKAGE.clauses())

    def test_apt_can_install_it_with_its_dependencies(self):
        # A simulation: apt resolves every dependency from the archive or from what is installed.
        sim = run(["apt-get", "-s", "-o", "Debug::NoLocking=1", "install", PACKAGE.path])
        self.assertEqual(sim.returncode, 0, sim.stdout + sim.stderr)
        self.assertRegex(sim.stdout, r"(?m)^Inst ombura \(" + re.escape(ARGS.version) + "-1 ")


class ContentsTest(unittest.TestCase):
    def entries(self):
        """path -> (mode string, owner, link target) for every entry that is not a folder."""
        result = {}
        for line in PACKAGE.listing.splitlines():
            mode, owner, _size, _date, _time, rest = line.split(None, 5)
            if mode.startswith("d"):
                continue
            path, _, target = rest.partition(" -> ")
            result[path.removeprefix("./")] = (mode, owner, target)
        return result

    def test_files_lie_where_debian_expects_them_and_nothing_else(self):
        regular = "-rw-r--r--"
        expected = {
            LAUNCHER: ("lrwxrwxrwx", "root/root", "../lib/games/ombura/ombura"),
            f"{PROGRAM_DIR}/ombura": ("-rwxr-xr-x", "root/root", ""),
            f"usr/share/applications/{APP_ID}.desktop": (regular, "root/root", ""),
            f"usr/share/metainfo/{APP_ID}.metainfo.xml": (regular, "root/root", ""),
            "usr/share/man/man6/ombura.6.gz": (regular, "root/root", ""),
            "usr/share/doc/ombura/copyright": (regular, "root/root", ""),
            "usr/share/doc/ombura/changelog.Debian.gz": (regular, "root/root", ""),
            "usr/share/doc/ombura/help.html": (regular, "root/root", ""),
            "usr/share/doc-base/ombura.ombura-help": (regular, "root/root", ""),
        }
        for data in ARGS.data.split(","):
            expected[f"{PROGRAM_DIR}/{data}"] = (regular, "root/root", "")
        for icon in ARGS.icons.split(","):
            expected[f"usr/share/icons/hicolor/{icon}"] = (regular, "root/root", "")
        self.assertEqual(self.entries(), expected)
        # The program is stripped, as Debian ships programs.
        self.assertIn("stripped", run(["file", "-L", PACKAGE.at(LAUNCHER)]).stdout)
        self.assertNotIn("not stripped", run(["file", "-L", PACKAGE.at(LAUNCHER)]).stdout)

    def test_documents_and_metadata_agree_with_the_package(self):
        with gzip.open(PACKAGE.at("usr/share/doc/ombura/changelog.Debian.gz"), "rt") as f:
            changelog = f.read()
        self.assertTrue(changelog.startswith(f"ombura ({PACKAGE.fields['Version']}) "), changelog)
        self.assertIn(f" -- {PACKAGE.fields['Maintainer']}  ", changelog)
        with open(PACKAGE.at("usr/share/doc/ombura/copyright")) as f:
            copyright_text = f.read()
        self.assertTrue(copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/"))
        self.assertRegex(copyright_text, r"(?m)^Files: \*$")
        for gz in ("usr/share/doc/ombura/changelog.Debian.gz", "usr/share/man/man6/ombura.6.gz"):
            with open(PACKAGE.at(gz), "rb") as f:
                header = f.read(10)
            # gzip -n: no time stamp and no file name, so builds are reproducible.
            self.assertEqual((header[3], header[4:8]), (0, b"\0\0\0\0"), gz)

        # The menu entry starts the launcher this package puts on PATH.
        with open(PACKAGE.at(f"usr/share/applications/{APP_ID}.desktop")) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Exec"], os.path.basename(LAUNCHER))
        self.assertEqual(entry["TryExec"], os.path.basename(LAUNCHER))

        # Only the pointer plays the game, so only the pointer is claimed.
        metainfo = ElementTree.parse(PACKAGE.at(f"usr/share/metainfo/{APP_ID}.metainfo.xml")).getroot()
        self.assertEqual([c.text for c in metainfo.iterfind("supports/control")], ["pointing"])
        self.assertEqual([c.text for c in metainfo.iterfind("requires/control")], [])

    def test_lintian_finds_nothing_but_the_known_tags_even_among_its_hints(self):
        # --tag-display-limit 0 rather than --no-tag-display-limit, which lintian 2.122 (Debian 13)
        # no longer knows. -I adds the informational tags, where the hardening ones are.
        result = run(["lintian", "-I", "--tag-display-limit", "0", PACKAGE.path])
        tags = re.findall(r"(?m)^[A-Z]: ombura: (\S+)", result.stdout)
        self.assertLessEqual(set(tags), ACCEPTED_TAGS, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_program_is_hardened_as_debian_builds_programs(self):
        report = run(["hardening-check", PACKAGE.at(f"{PROGRAM_DIR}/ombura")]).stdout
        lines = dict(line.strip().split(": ", 1) for line in report.splitlines()[1:])
        for check in ("Position Independent Executable", "Stack protected", "Fortify Source functions",
                      "Read-only relocations", "Immediate binding"):
            self.assertTrue(lines[check].startswith("yes"), report)
        # Only functions with large stack frames get probes; having none is not a fault.
        self.assertRegex(lines.get("Stack clash protection", "yes"), r"^(yes|unknown, no -fstack-clash-protection)",
                         report)
        # The linker marks the program as built for control-flow protection only when every
        # object in it is, the C library's start files too; those of Debian 12 and 13 are not
        # (no program of theirs is marked). Branch Protection is the same on ARM processors.
        if start_files_carry_control_flow_protection():
            self.assertEqual(lines["Control flow integrity"], "yes", report)


class StartTest(unittest.TestCase):
    def test_unpacked_program_opens_its_window_and_reads_its_data_from_its_folder(self):
        home = tempfile.mkdtemp(prefix="home-", dir=PACKAGE.scratch)
        os.chmod(home, 0o700)
        trace = os.path.join(PACKAGE.scratch, "trace.log")
        messages = os.path.join(PACKAGE.scratch, "stderr.log")
        xvfb, display = start_xvfb("1024x768x24")
        program = None
        try:
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "XDG_RUNTIME_DIR": home,
                   "DISPLAY": display, "QT_QPA_PLATFORM": "xcb", "SDL_AUDIODRIVER": "dummy", "LANG": "C.UTF-8",
                   # A bare X server has no session bus; without this libdbus would start one.
                   "DBUS_SESSION_BUS_ADDRESS": f"unix:path={home}/no-bus"}
            with open(messages, "w") as stderr:
                program = subprocess.Popen(["strace", "-f", "-qq", "-e", "trace=openat", "-o", trace,
                                            PACKAGE.at(LAUNCHER)], env=env, stdout=subprocess.DEVNULL,
                                           stderr=stderr)
            music = os.path.realpath(PACKAGE.at(f"{PROGRAM_DIR}/bgm.dat"))
            deadline = time.monotonic() + 30
            window = read_music = False
            while time.monotonic() < deadline and not (window and read_music) and program.poll() is None:
                tree = run(["xwininfo", "-root", "-tree", "-display", display]).stdout
                window = window or '("ombura" "ombura")' in tree
                if os.path.exists(trace):  # strace makes it once it runs
                    with open(trace, errors="replace") as f:
                        read_music = read_music or f'"{music}"' in f.read()
                time.sleep(0.2)
            if program.poll() is not None:
                with open(messages, errors="replace") as f:
                    self.fail(f"the program ended with {program.returncode}:\n{f.read()}")
            self.assertTrue(window, "no window of class ombura appeared")
            self.assertTrue(read_music, "the music was not read from the program's own folder")
        finally:
            if program is not None:
                # strace hands the signal on to the program it started.
                program.send_signal(signal.SIGTERM)
                try:
                    program.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    program.kill()
                    program.wait()
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--icons", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

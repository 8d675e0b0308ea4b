#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plays Ombura as a person would, under a private X server, and checks what a person would see.

Input goes through the X server's test extension (xdotool mousemove/click/key), so the program
receives the same events as from a real mouse and keyboard. The labels are read back through the
accessibility bus; the pictures, which that bus cannot describe, through screenshots. Sound goes
to SDL's disk driver and is measured from the file it writes.

Run it inside its own session bus:  dbus-run-session -- /usr/bin/python3 e2e.py path/to/ombura
With --wm openbox the same game is played a second time under a real window manager, started
privately, and what the frames show is checked too: the box's whole title, the icon sizes, the
dialog's missing icon, what the frames offer (no minimise or maximise) and the centring of the
framed windows. --screenshots DIR keeps pictures of
the game. --scale 2 only takes pictures, at Qt's scale factor 2.
"""
import argparse
import array
import ctypes
import ctypes.util
import math
import os
import subprocess
import sys
import time
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from session import Failure, GameProcess, Session, stop  # noqa: E402  (puts tools/ on the path)
from data_files import data_files  # noqa: E402

import gi  # noqa: E402
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

T0 = time.monotonic()

# Client-area places of the pictures the test watches (x, y, width, height).
INTRUDERS = {"Image2": (128, 16, 32, 32), "Image12": (368, 56, 32, 32),
             "Image13": (304, 240, 32, 32), "Image14": (2, 160, 32, 32)}
# The girl (Image4, at x 232) lies over the right edge of the player's figure and turns during
# every spin, so only the part of the figure left of her is compared.
FIGURE = (208, 144, 24, 32)
FIGURE_CLICK = (216, 160)
GIRL = (232, 144, 32, 32)
# What a screen reader hears for each picture that it is told about.
SPOKEN = {"Image2": "侵入者（奥の壁）", "Image12": "侵入者（右奥）", "Image13": "侵入者（手前）",
          "Image14": "侵入者（左端）", "Image15": "投げられた風車"}
BOX_TITLE = "GAME　OVER"
DIALOG_TITLE = "あとがき・・・？"
ICON_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets", "icons", "hicolor")

AUDIO_RATE = 48000
AUDIO_CHANNELS = 2
SOUND_FLOOR = 0.003     # RMS of a 100 ms chunk that counts as audible
SILENCE_CEILING = 1e-4  # RMS of every chunk that counts as silence


def say(msg):
    print(f"[e2e {time.monotonic() - T0:7.2f}s] {msg}", flush=True)


def wait_for(pred, timeout, what, interval=0.03):
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = pred()
        except Exception as e:  # the window or a node may not be there yet
            value, last_error = None, e
        if value:
            return value
        if time.monotonic() > deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Failure(f"timed out after {timeout:.1f} s waiting for {what}{detail}")
        time.sleep(interval)


# --- screen -----------------------------------------------------------------------------------

class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class Screen:
    """Grabs the screen straight from the X server: a subprocess per shot would be too slow to
    catch an intruder that shows for half a second on a busy machine."""

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(_XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # The default handler would end the whole test on a stray X error.
        self._handler = _X_ERROR_HANDLER(lambda d, e: 0)
        self.x.XSetErrorHandler(self._handler)
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise Failure(f"cannot open X display {display}")
        self.root = self.x.XDefaultRootWindow(self.dpy)

    def grab(self, x, y, w, h):
        img = self.x.XGetImage(self.dpy, self.root, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            raise Failure("XGetImage failed")
        try:
            im = img.contents
            if im.bits_per_pixel != 32:
                raise Failure(f"unexpected screen format: {im.bits_per_pixel} bits per pixel")
            return Shot(ctypes.string_at(im.data, im.bytes_per_line * h), im.bytes_per_line, w, h)
        finally:
            self.x.XDestroyImage(img)

    def size(self):
        self.x.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        return self.x.XDisplayWidth(self.dpy, 0), self.x.XDisplayHeight(self.dpy, 0)

    def atom(self, name):
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        return self.x.XInternAtom(self.dpy, name.encode(), 0)

    def prop(self, window, name):
        """A window property as a list of numbers (format 32) or bytes (8), or None if unset."""
        f = self.x.XGetWindowProperty
        f.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
                      ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                      ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
                      ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        self.x.XFree.argtypes = [ctypes.c_void_p]
        actual, fmt = ctypes.c_ulong(), ctypes.c_int()
        count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        if f(self.dpy, window, self.atom(name), 0, 1 << 24, 0, 0, ctypes.byref(actual),
             ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(after), ctypes.byref(data)) != 0:
            return None
        try:
            if actual.value == 0:
                return None
            if fmt.value == 32:  # Xlib hands 32-bit items over as C longs
                return list((ctypes.c_ulong * count.value).from_address(data.value))
            if fmt.value == 8:
                return ctypes.string_at(data.value, count.value)
            return None
        finally:
            if data.value:
                self.x.XFree(data)

    def geometry(self, window):
        """The client area of a top-level window on the screen: (x, y, width, height)."""
        out = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                             timeout=10).stdout
        v = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            v[key] = value.strip()
        return (int(v["Absolute upper-left X"]), int(v["Absolute upper-left Y"]), int(v["Width"]),
                int(v["Height"]))

    def close(self):
        self.x.XCloseDisplay(self.dpy)


class Shot:
    def __init__(self, data, stride, w, h):
        self.data, self.stride, self.w, self.h = data, stride, w, h

    def region(self, rect):
        x, y, w, h = rect
        w, h = min(w, self.w - x), min(h, self.h - y)
        rows = []
        for r in range(y, y + h):
            start = r * self.stride + x * 4
            rows.append(self.data[start:start + w * 4])
        return b"".join(rows)


def differing_share(a, b):
    """Share of pixels of two regions whose colours are clearly apart (compression-free, but the
    tolerance keeps anti-aliased edges and dithering from counting)."""
    n = len(a) // 4
    if n == 0 or len(a) != len(b):
        return 1.0
    apart = 0
    for i in range(0, len(a), 4):
        if (abs(a[i] - b[i]) > 40 or abs(a[i + 1] - b[i + 1]) > 40
                or abs(a[i + 2] - b[i + 2]) > 40):
            apart += 1
    return apart / n


def differs(a, b, share=0.05):
    return differing_share(a, b) > share


# --- input ------------------------------------------------------------------------------------

def xdotool(*args):
    r = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, timeout=20)
    if r.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))} failed: {r.stderr.strip()}")
    return r.stdout


def click_at(x, y):
    # No --sync: it waits for the pointer to move and stalls for seconds when it already is
    # there. The server handles the motion and the press in the order they were sent anyway.
    xdotool("mousemove", x, y, "click", "1")


def press_key(key):
    xdotool("key", key)


# --- accessibility tree -----------------------------------------------------------------------

def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    try:
        count = node.get_child_count()
    except Exception:
        return
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def role(node):
    try:
        return node.get_role_name()
    except Exception:
        return ""


def name(node):
    try:
        return node.get_name() or ""
    except Exception:
        return ""


def desc(node):
    try:
        return node.get_description() or ""
    except Exception:
        return ""


def extents(node):
    e = node.get_extents(Atspi.CoordType.SCREEN)
    return e.x, e.y, e.width, e.height


def showing(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.SHOWING)
    except Exception:
        return False


class Tree:
    def __init__(self, desktop, pid):
        self.desktop, self.pid, self._app = desktop, pid, None

    def app(self):
        if self._app is not None:
            return self._app
        for i in range(self.desktop.get_child_count()):
            a = self.desktop.get_child_at_index(i)
            try:
                if a is not None and a.get_process_id() == self.pid:
                    # Labels change all the time; a cached caption would lie.
                    a.set_cache_mask(Atspi.Cache.NONE)
                    self._app = a
                    return a
            except Exception:
                continue
        return None

    def find(self, pred, under=None):
        root = under if under is not None else self.app()
        for node in walk(root):
            if pred(node):
                return node
        return None

    def top_windows(self):
        app = self.app()
        return [app.get_child_at_index(i) for i in range(app.get_child_count())] if app else []

    def main_frame(self):
        for w in self.top_windows():
            if name(w) == "Ombura":
                return w
        return None

    def label(self, element):
        frame = self.main_frame()
        node = self.find(lambda n: role(n) == "label" and desc(n) == element, frame)
        if node is None:
            raise Failure(f"label {element} is not in the accessibility tree")
        return name(node)

    def window_named(self, title):
        for w in self.top_windows():
            if name(w) == title:
                return w
        return None

    def client_origin(self):
        frame = self.main_frame()
        for i in range(frame.get_child_count()):
            c = frame.get_child_at_index(i)
            if role(c) == "panel":
                x, y, w, h = extents(c)
                return x, y, w, h
        raise Failure("the main window's client area is not in the accessibility tree")

    def menu_title(self, title):
        frame = self.main_frame()
        bar = self.find(lambda n: role(n) == "menu bar", frame)
        if bar is None:
            raise Failure("the main window has no menu bar in the accessibility tree")
        for i in range(bar.get_child_count()):
            item = bar.get_child_at_index(i)
            if name(item) == title:
                return item
        raise Failure(f"menu title {title!r} not found")

    def menu_entry(self, title, entry):
        item = self.menu_title(title)
        node = self.find(lambda n: n is not item and role(n) == "menu item" and name(n) == entry,
                         item)
        if node is None:
            raise Failure(f"menu entry {title} > {entry} not found")
        return node

    def popup(self, title):
        item = self.menu_title(title)
        return self.find(lambda n: role(n) == "popup menu", item)


def centre(node):
    x, y, w, h = extents(node)
    return x + w // 2, y + h // 2


def entry_on_screen(tree, title, entry):
    popup = tree.popup(title)
    node = tree.menu_entry(title, entry)
    x, y, w, h = extents(node)
    if popup is not None and showing(popup) and (x, y) != (0, 0) and w > 0 and h > 0:
        return node
    return None


def choose(tree, title, entry):
    """Chooses title > entry; returns the moment just before the entry was clicked."""
    click_at(*centre(tree.menu_title(title)))
    node = wait_for(lambda: entry_on_screen(tree, title, entry), 5,
                    f"the menu entry {title} > {entry} to show")
    t = time.monotonic()
    click_at(*centre(node))
    wait_for(lambda: not showing(tree.popup(title)), 5, f"the {title} menu to close")
    say(f"chose {title} > {entry}")
    return t


# --- audio ------------------------------------------------------------------------------------

def chunk_rms(path, start, end):
    """RMS of every 100 ms chunk of the float32 stereo stream between two byte offsets."""
    frame = 4 * AUDIO_CHANNELS
    start -= start % frame
    with open(path, "rb") as f:
        f.seek(start)
        data = f.read(max(0, end - start))
    data = data[:len(data) - len(data) % frame]
    samples = array.array("f")
    samples.frombytes(data)
    step = AUDIO_RATE // 10 * AUDIO_CHANNELS
    out = []
    for i in range(0, len(samples), step):
        part = samples[i:i + step]
        out.append(math.sqrt(sum(s * s for s in part) / len(part)) if part else 0.0)
    return out


def file_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


# --- the window manager -----------------------------------------------------------------------

def start_openbox(display, home):
    """Starts openbox on the display, with a home and runtime folder of its own; returns the
    process once it manages the screen. The caller ends it by its process id."""
    runtime = os.path.join(home, "run")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, DISPLAY=display, HOME=home, XDG_RUNTIME_DIR=runtime,
               XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"))
    proc = subprocess.Popen(["openbox", "--sm-disable"], env=env, start_new_session=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    screen = Screen(display)
    try:
        wait_for(lambda: proc.poll() is None and screen.prop(screen.root, "_NET_SUPPORTING_WM_CHECK"),
                 15, "openbox to manage the screen", 0.1)
    except Failure:
        stop(proc)
        raise
    finally:
        screen.close()
    return proc


def x_windows(screen, title):
    """The mapped top-level windows whose title is exactly `title`."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], capture_output=True,
                         text=True, timeout=10).stdout
    found = []
    for wid in out.split():
        raw = screen.prop(int(wid), "_NET_WM_NAME")
        if raw is not None and raw.decode("utf-8", "replace") == title:
            found.append(int(wid))
    return found


def x_window(screen, title, timeout=5):
    return wait_for(lambda: (x_windows(screen, title) or [None])[0], timeout,
                    f"the X window titled {title}")


def outer_rect(screen, wid):
    """The window with its frame, and the frame's extents (left, right, top, bottom)."""
    x, y, w, h = screen.geometry(wid)
    ext = screen.prop(wid, "_NET_FRAME_EXTENTS") or [0, 0, 0, 0]
    left, right, top, bottom = ext[:4]
    return (x - left, y - top, w + left + right, h + top + bottom), (left, right, top, bottom)


def check_centred(screen, wid, what):
    (x, y, w, h), ext = outer_rect(screen, wid)
    area = screen.prop(screen.root, "_NET_WORKAREA")
    ax, ay, aw, ah = area[:4] if area else (0, 0, *screen.size())
    dx, dy = (x + w / 2) - (ax + aw / 2), (y + h / 2) - (ay + ah / 2)
    say(f"{what}: frame {w}x{h} at ({x}, {y}), extents {ext}; centre off by ({dx:+.1f}, {dy:+.1f}) px")
    if abs(dx) > 2 or abs(dy) > 2:
        raise Failure(f"{what} is not centred: its frame's centre is off by ({dx:+.1f}, {dy:+.1f}) px")


def wait_centred(screen, wid, what, timeout=2.0):
    """A window manager may take a moment to settle a new window; centred it must end up."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return check_centred(screen, wid, what)
        except Failure:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)


def shipped_icon_sizes():
    sizes = set()
    for entry in os.listdir(ICON_DIR):
        a, _, b = entry.partition("x")
        if a.isdigit() and a == b:
            sizes.add(int(a))
    return sizes


def icon_sizes(screen, wid):
    data = screen.prop(wid, "_NET_WM_ICON") or []
    sizes, i = [], 0
    while i + 2 <= len(data):
        w, h = data[i], data[i + 1]
        sizes.append((w, h))
        i += 2 + w * h
    return sizes


def check_icons(screen, wid):
    sizes = icon_sizes(screen, wid)
    want = shipped_icon_sizes()
    say(f"_NET_WM_ICON of the main window carries {', '.join(f'{w}x{h}' for w, h in sizes)}")
    if sorted(sizes) != sorted((n, n) for n in want):
        raise Failure(f"the window icon carries {sizes}, not every shipped size {sorted(want)}")


def program_icon_pixels(n):
    """The shipped n x n icon as _NET_WM_ICON carries it: one ARGB number per pixel."""
    from PIL import Image
    path = os.path.join(ICON_DIR, f"{n}x{n}", "apps", "ombura.png")
    if not os.path.exists(path):
        return None
    img = Image.open(path).convert("RGBA")
    return [(a << 24) | (r << 16) | (g << 8) | b for r, g, b, a in img.getdata()]


def check_no_icon(screen, wid, what):
    """The window asks for no icon: none of its own in _NET_WM_ICON, none in WM_HINTS. A window
    manager may put its own stand-in into _NET_WM_ICON (openbox does); that is not ours."""
    data = screen.prop(wid, "_NET_WM_ICON") or []
    ours, i = [], 0
    while i + 2 <= len(data):
        w, h = data[i], data[i + 1]
        if w == h and [p & 0xFFFFFFFF for p in data[i + 2:i + 2 + w * h]] == program_icon_pixels(w):
            ours.append(w)
        i += 2 + w * h
    hints = screen.prop(wid, "WM_HINTS") or [0]
    # IconPixmapHint, IconWindowHint and IconMaskHint would each hand the frame an icon.
    asked = hints[0] & (4 | 8 | 32)
    say(f"{what}: _NET_WM_ICON holds {', '.join(f'{w}x{h}' for w, h in icon_sizes(screen, wid)) or 'nothing'}"
        f"{' (the program icon!)' if ours else ''}; WM_HINTS flags {hints[0]:#x}")
    if ours or asked:
        raise Failure(f"{what} asks the window manager for an icon")


def check_frame_offers(screen, wid, what, closes):
    """What the window manager lets the player do with a window (_NET_WM_ALLOWED_ACTIONS): move it
    and nothing that changes its size; no minimise, no maximise. Openbox offers close on every
    window whatever it is asked; the game-over box is to have it."""
    allowed = {a for a in (screen.prop(wid, "_NET_WM_ALLOWED_ACTIONS") or [])}
    names = sorted(n for n in ("MOVE", "CLOSE", "MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE",
                               "FULLSCREEN") if screen.atom(f"_NET_WM_ACTION_{n}") in allowed)
    say(f"{what}: the frame offers {', '.join(names) or 'nothing'}")
    wrong = [n for n in ("MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE", "FULLSCREEN") if n in names]
    if wrong or "MOVE" not in names or (closes and "CLOSE" not in names):
        raise Failure(f"{what}: the window manager offers {names}")


def check_blank_frame_icon(screen, wid, what):
    """A window without an icon of its own gets its owner's in openbox's frame: the dialog carries
    an empty picture instead, so that the frame shows none."""
    data = screen.prop(wid, "_NET_WM_ICON") or []
    if len(data) < 3 or any((p >> 24) & 0xFF for p in data[2:2 + data[0] * data[1]]):
        raise Failure(f"{what} carries no empty icon, so the frame shows the main window's")


def font_file(pattern):
    return subprocess.run(["fc-match", "-f", "%{file}", pattern], capture_output=True, text=True,
                          timeout=10).stdout.strip()


def title_width(title, points=8):
    """The width of a title as openbox draws it by default: sans, bold, 8 points at 96 dpi, with
    the wide characters from whatever font fontconfig falls back to for them."""
    from PIL import ImageFont
    px = round(points * 96 / 72)
    narrow = ImageFont.truetype(font_file("sans:bold"), px)
    wide = ImageFont.truetype(font_file("sans:bold:charset=3000"), px)
    return sum((wide if unicodedata.east_asian_width(c) in "WF" else narrow).getlength(c)
               for c in title)


def check_box_title(screen, wid):
    """The frame shows the whole title: as the window manager reports it, and by room."""
    visible = screen.prop(wid, "_NET_WM_VISIBLE_NAME")
    (x, y, w, h), (left, right, top, bottom) = outer_rect(screen, wid)
    need = title_width(BOX_TITLE)
    # The title bar holds an icon and three buttons, each about as wide as the bar is tall.
    room = w - left - right - 4 * top
    shown = visible.decode("utf-8", "replace") if visible is not None else None
    say(f"the box's frame is {w} px wide (bar {top} px): {room} px for a title {need:.0f} px wide; "
        f"_NET_WM_VISIBLE_NAME {shown!r}")
    if shown is not None and shown != BOX_TITLE:
        raise Failure(f"the window manager shows the box's title as {shown!r}")
    if room < need:
        raise Failure(f"the box is too narrow for its title: {room} px of room for {need:.0f} px")


# --- the game ---------------------------------------------------------------------------------

class Game(GameProcess):
    """The game on X, read through the accessibility bus and the screen. Its sound goes to SDL's
    disk driver, into `audio_file`, unless `env` says otherwise."""

    def __init__(self, binary, display, desktop, audio_file, extra_env=None, env=None):
        if env is None:
            env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=audio_file)
        env = dict(env, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   **(extra_env or {}))
        env.pop("WAYLAND_DISPLAY", None)
        super().__init__(binary, env)
        self.tree = Tree(desktop, self.proc.pid)
        self.screen = Screen(display)
        self.origin = None
        self.wm = False          # a window manager frames the windows
        self.shots_dir = None    # where pictures of the game are kept, if anywhere
        self.kept = set()

    def kill(self):
        super().kill()
        self.screen.close()

    def shot(self):
        ox, oy, w, h = self.origin
        return self.screen.grab(ox, oy, w, h)

    def score(self):
        return self.tree.label("Label9")

    def countdown(self):
        return self.tree.label("Label7")


def keep(game, name, wid=None):
    """Keeps a picture of a window, frame and all, when pictures are asked for."""
    if not game.shots_dir or name in game.kept:
        return
    from PIL import Image
    wid = wid or x_window(game.screen, "Ombura")
    x, y, w, h = outer_rect(game.screen, wid)[0]
    sw, sh = game.screen.size()
    x, y = max(0, x), max(0, y)
    w, h = min(w, sw - x), min(h, sh - y)
    shot = game.screen.grab(x, y, w, h)
    Image.frombytes("RGB", (w, h), shot.data, "raw", "BGRX", shot.stride).save(
        os.path.join(game.shots_dir, name + ".png"))
    game.kept.add(name)
    say(f"kept a picture: {name}.png ({w}x{h})")


def intruder_showing(shot, baseline):
    for element, rect in INTRUDERS.items():
        if differs(shot.region(rect), baseline[element]):
            return element
    return None


def covered(shot, player_pictures):
    figure = shot.region(FIGURE)
    return all(differs(figure, p) for p in player_pictures)


def start_and_wait(game):
    choose(game.tree, "ゲーム", "開始")
    wait_for(lambda: game.score() == "0", 5, "the score to read 0 after Start")


def check_audio(game, audio_file):
    """Start must make the output sound and Stop must silence it again."""
    before = file_size(audio_file)
    quiet = chunk_rms(audio_file, 0, before) if before else []
    if quiet and max(quiet) > SILENCE_CEILING:
        raise Failure(f"the program sounded before Start (chunk RMS up to {max(quiet):.5f})")
    start_and_wait(game)
    t = time.monotonic()
    loud = []

    def heard():
        size = file_size(audio_file)
        levels = chunk_rms(audio_file, before, size)
        loud[:] = [lvl for lvl in levels if lvl > SOUND_FLOOR]
        return loud

    wait_for(heard, 10, f"sound in {audio_file} after Start (RMS above {SOUND_FLOOR})", 0.2)
    say(f"Start made sound: {len(loud)} loud 100 ms chunks, peak RMS {max(loud):.4f}, "
        f"{time.monotonic() - t:.1f} s after Start")
    choose(game.tree, "ゲーム", "中止")
    time.sleep(1.0)  # the synthesiser's release tail is allowed to fade for a second
    mark = file_size(audio_file)
    time.sleep(1.5)
    end = file_size(audio_file)
    levels = chunk_rms(audio_file, mark, end)
    if levels and max(levels) > SILENCE_CEILING:
        raise Failure(f"still sounding 1 s after Stop: chunk RMS up to {max(levels):.5f} "
                      f"over {end - mark} new bytes")
    say(f"Stop silenced the output ({end - mark} bytes appended in 1.5 s, "
        f"peak RMS {max(levels) if levels else 0:.6f})")


def wait_clear(game, baseline, players, timeout=8):
    """Waits until no intruder shows and the figure is uncovered; returns that shot."""
    found = []

    def clear():
        s = game.shot()
        if intruder_showing(s, baseline) is None and not covered(s, players):
            found.append(s)
            return True
        return False

    t = time.monotonic()
    try:
        wait_for(clear, timeout, "a moment with no intruder and the figure uncovered", 0.02)
    except Failure as e:
        s = game.shot()
        shares = [round(differing_share(s.region(FIGURE), p), 3) for p in players]
        raise Failure(f"{e}: intruder {intruder_showing(s, baseline)}, figure apart from the "
                      f"player's {len(players)} pictures by {shares}")
    if os.environ.get("E2E_DEBUG"):
        say(f"clear after {time.monotonic() - t:.2f} s")
    return found[-1]


def press_figure(game):
    ox, oy, _, _ = game.origin
    click_at(ox + FIGURE_CLICK[0], oy + FIGURE_CLICK[1])


def check_presses(game, baseline, players, count=6, girl_at_rest=None):
    """Presses that meet no intruder each add one point."""
    scored = 0
    while scored < count:
        before = int(game.score())
        wait_clear(game, baseline, players)
        press_figure(game)
        if os.environ.get("E2E_DEBUG"):
            say(f"press at score {before}")
        try:
            wait_for(lambda: game.score() != str(before), 1.5, "the score to change")
        except Failure:
            # An intruder may have come between the look and the press: then the press is a
            # catch, the score must stay and the figure must be covered.
            if covered(game.shot(), players):
                say(f"press {scored + 1} met an intruder (score stays {before}); waiting it out")
                wait_for(lambda: not covered(game.shot(), players), 6,
                         "the thrown pinwheel to go")
                continue
            s = game.shot()
            raise Failure(f"a press with no intruder did not score: score stays {before}; "
                          f"figure differs from the player's pictures by "
                          f"{[round(differing_share(s.region(FIGURE), p), 3) for p in players]}")
        now = game.score()
        if now != str(before + 1):
            raise Failure(f"one press moved the score from {before} to {now}")
        scored += 1
        # The pulling picture is one of the player's own pictures, not a cover.
        s = game.shot()
        fig = s.region(FIGURE)
        if (game.shots_dir and girl_at_rest and differs(fig, players[0]) and differs(s.region(GIRL), girl_at_rest)
                and intruder_showing(s, baseline) is None):
            keep(game, "pressing")
        if all(differs(fig, p) for p in players) and intruder_showing(s, baseline) is None:
            players.append(fig)
        time.sleep(0.15)
    say(f"{count} press(es) scored one point each; score {game.score()}")


def check_catch(game, baseline, players, attempts=15):
    """A press while an intruder shows scores nothing and covers the figure for about 3 s."""
    for attempt in range(1, attempts + 1):
        before = game.score()
        wait_clear(game, baseline, players)
        seen = []

        def intruder():
            s = game.shot()
            seen[:] = [intruder_showing(s, baseline)]
            return seen[0]

        wait_for(intruder, 8, "an intruder to appear", 0.01)
        press_figure(game)
        t_press = time.monotonic()
        # On a busy machine the press may take a moment to land: wait for either outcome.
        try:
            wait_for(lambda: game.score() != before or covered(game.shot(), players), 1.5,
                     "the press to score or to be caught")
        except Failure:
            raise Failure(f"a press while {seen[0]} showed neither scored nor brought the "
                          "thrown pinwheel")
        after = game.score()
        if after != before:
            say(f"attempt {attempt}: the intruder at {seen[0]} left before the press "
                f"(scored {before} -> {after}); again")
            time.sleep(0.7)
            continue
        s = game.shot()
        if not covered(s, players):
            raise Failure(f"a press while {seen[0]} showed scored nothing but the figure is "
                          "not covered by the thrown pinwheel")
        say(f"caught by the intruder at {seen[0]}: score stays {before}, figure covered")
        pinwheel = game.tree.find(lambda n: desc(n) == "Image15" and showing(n), game.tree.main_frame())
        if pinwheel is None or name(pinwheel) != SPOKEN["Image15"]:
            raise Failure("the thrown pinwheel is not in the accessibility tree as "
                          f"{SPOKEN['Image15']!r}")
        say(f"the reader finds the pinwheel: {role(pinwheel)} {name(pinwheel)!r}")
        keep(game, "caught")
        # Presses during the next two seconds must not score.
        presses = 0
        while time.monotonic() - t_press < 2.0:
            press_figure(game)
            presses += 1
            time.sleep(0.2)
            if game.score() != before:
                raise Failure(f"a press {time.monotonic() - t_press:.1f} s after a catch scored "
                              f"({before} -> {game.score()})")
            if not covered(game.shot(), players):
                raise Failure(f"the figure was uncovered {time.monotonic() - t_press:.1f} s "
                              "after a catch (expected about 3 s)")
        say(f"{presses} presses within 2 s of the catch scored nothing")
        gone = wait_for(lambda: not covered(game.shot(), players) and time.monotonic(), 5,
                        "the thrown pinwheel to go")
        say(f"the pinwheel went {gone - t_press:.1f} s after the catch")
        if gone - t_press < 2.0:
            raise Failure(f"the pinwheel went after only {gone - t_press:.1f} s")
        return
    raise Failure(f"no catch in {attempts} attempts: every intruder left before the press")


def check_reader_hears_intruder(game, baseline, attempts=10):
    """An intruder that shows is in the accessibility tree, named, where it is painted."""
    frame = game.tree.main_frame()
    for attempt in range(1, attempts + 1):
        seen = []

        def intruder():
            seen[:] = [intruder_showing(game.shot(), baseline)]
            return seen[0]

        wait_for(intruder, 10, "an intruder to appear", 0.01)
        element = seen[0]
        node = game.tree.find(lambda n: desc(n) == element, frame)
        if node is None:
            if intruder_showing(game.shot(), baseline) != element:
                continue  # it went before the reader looked
            raise Failure(f"the intruder {element} shows but is not in the accessibility tree")
        ox, oy, _, _ = game.origin
        x, y, w, h = extents(node)
        ex, ey, ew, eh = INTRUDERS[element]
        if name(node) != SPOKEN[element] or role(node) != "image":
            raise Failure(f"the intruder {element} reads as {role(node)} {name(node)!r}")
        if (x, y, w, h) != (ox + ex, oy + ey, ew, eh):
            raise Failure(f"the intruder {element} is at {(x, y, w, h)} for the reader, "
                          f"{(ox + ex, oy + ey, ew, eh)} on the screen")
        say(f"the reader finds the intruder {element}: {role(node)} {name(node)!r} at {(x, y, w, h)} "
            f"(attempt {attempt})")
        keep(game, "intruder")
        return
    raise Failure(f"every intruder in {attempts} went before the reader could find it")


def check_countdown(game):
    """An idle player sees 10 .. 1, then the game-over box over a 0, then 10 again."""
    seen = []

    def until_box():
        value = game.countdown()
        if not seen or seen[-1] != value:
            seen.append(value)
        return game.tree.window_named("GAME　OVER")

    box = wait_for(until_box, 16, "the GAME　OVER box")
    shown = game.countdown()
    if seen[-1] != shown:
        seen.append(shown)
    say(f"countdown read {' '.join(seen)}; the box is up")
    if "10" not in seen:
        raise Failure(f"the countdown never read 10: {seen}")
    run = seen[seen.index("10"):]
    values = [int(v) for v in run]
    if values[-1] > 0:
        raise Failure(f"the box came while the countdown read {values[-1]}, not 0 or below")
    for a, b in zip(values, values[1:]):
        if b != a - 1:
            raise Failure(f"the countdown skipped or went back: {run}")
    if values[:11] != list(range(10, -1, -1)):
        raise Failure(f"the countdown did not read 10 down to 0: {run}")
    if not game.tree.find(lambda n: "娘さん逃亡…。" in name(n), box):
        raise Failure("the GAME　OVER box does not say 娘さん逃亡…。")
    box_wid = x_window(game.screen, BOX_TITLE)
    if game.wm:
        check_box_title(game.screen, box_wid)
        check_frame_offers(game.screen, box_wid, "the game-over box", closes=True)
        check_blank_frame_icon(game.screen, box_wid, "the game-over box")
    keep(game, "game-over", box_wid)
    press_key("Return")
    wait_for(lambda: game.tree.window_named("GAME　OVER") is None, 5,
             "the GAME　OVER box to close on Enter")
    wait_for(lambda: game.countdown() == "10", 3, "the countdown to read 10 again")
    say("Enter closed the box; the countdown reads 10 again")


def check_dialog(game):
    """The information dialog disables the main window until OK."""
    choose(game.tree, "あとがき", "あとがき")
    title = "あとがき・・・？"
    wait_for(lambda: game.tree.window_named(title), 5, f"the window {title}")
    say(f"the window {title} is open")
    dialog_wid = x_window(game.screen, title)
    check_no_icon(game.screen, dialog_wid, "the dialog")
    if game.wm:
        check_frame_offers(game.screen, dialog_wid, "the dialog", closes=False)
        check_blank_frame_icon(game.screen, dialog_wid, "the dialog")
    wait_centred(game.screen, dialog_wid, "the dialog")
    keep(game, "dialog", dialog_wid)
    click_at(*centre(game.tree.menu_title("ゲーム")))
    time.sleep(1.0)  # nothing should happen; give it time to go wrong
    if showing(game.tree.popup("ゲーム")) or entry_on_screen(game.tree, "ゲーム", "開始"):
        raise Failure("the main window's menu opened while the dialog was up")
    dialog = game.tree.window_named(title)
    if dialog is None:
        raise Failure(f"a click on the disabled main window closed {title}")
    say("the main window ignored a click on its menu")
    # Without a window manager the toolkit hands the keyboard to any window that is clicked,
    # disabled or not; a person would click the dialog again before pressing Enter.
    x, y, w, h = extents(dialog)
    click_at(x + w - 20, y + 10)
    press_key("Return")
    wait_for(lambda: game.tree.window_named(title) is None, 5, f"{title} to close on Enter")
    say("Enter pressed OK; the dialog is gone")


def check_exit(game):
    choose_title = "ゲーム"
    click_at(*centre(game.tree.menu_title(choose_title)))
    node = wait_for(lambda: entry_on_screen(game.tree, choose_title, "終了"), 5,
                    "the main window to take input again (its menu to open)")
    say("the main window takes input again")
    click_at(*centre(node))
    wait_clean_exit(game)


def wait_clean_exit(game):
    """The program must end, with status 0, within 5 s of ゲーム > 終了."""
    try:
        status = game.proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end within 5 s of ゲーム > 終了")
    if status != 0:
        raise Failure(f"the program ended with status {status} after ゲーム > 終了")
    say("ゲーム > 終了 ended the program with status 0")


def play(game, audio_file):
    tree = game.tree
    wait_for(tree.app, 20, "the program on the accessibility bus")
    wait_for(lambda: tree.main_frame() is not None and game.countdown() == "10", 20,
             "the main window with its countdown at 10")
    wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "^Ombura$").strip(), 10,
             "the main window to be mapped")
    game.origin = tree.client_origin()
    say(f"main window up; client area at {game.origin}")
    xdotool("mousemove", 1, 1)
    time.sleep(0.3)
    shots = [game.shot()]

    def settled():
        # Two equal shots a little apart: the window has painted and nothing moves.
        shots.append(game.shot())
        return shots[-1].data == shots[-2].data

    wait_for(settled, 10, "the window to finish painting", 0.2)
    first = shots[-1]
    baseline = {e: first.region(r) for e, r in INTRUDERS.items()}
    players = [first.region(FIGURE)]
    girl = first.region(GIRL)

    main_wid = x_window(game.screen, "Ombura")
    wait_centred(game.screen, main_wid, "the main window")
    check_icons(game.screen, main_wid)
    keep(game, "start")

    check_audio(game, audio_file)
    game.check_alive()
    start_and_wait(game)
    if game.countdown() != "10":
        raise Failure(f"after Start the countdown reads {game.countdown()}, not 10")
    check_presses(game, baseline, players, girl_at_rest=girl)
    check_reader_hears_intruder(game, baseline)
    check_catch(game, baseline, players)
    # One more point restarts the countdown, so that the idle run shows every number from 10.
    check_presses(game, baseline, players, count=1)
    check_countdown(game)
    check_dialog(game)
    check_exit(game)


def ink(shot):
    """How many pixels of a grab are dark enough to be text on the window's grey."""
    return sum(1 for i in range(0, len(shot.data), 4)
               if max(shot.data[i], shot.data[i + 1], shot.data[i + 2]) < 96)


def check_title_where_painted(game, client, view_top, scale):
    """The reader's ゲーム lies in the menu bar, between the window's top and the view's, at the
    bar's full height, and over the title's painted letters."""
    x, y, w, h = client
    tx, ty, tw, th = extents(game.tree.menu_title("ゲーム"))
    say(f"at scale {scale}: the reader has ゲーム at ({tx}, {ty}) {tw}x{th}; the menu bar spans "
        f"y {y}..{view_top}")
    bar = view_top - y
    if not (x <= tx and tx + tw <= x + w and y <= ty and ty + th <= view_top and tw > 0
            and th >= bar - 4 * scale):
        raise Failure(f"at scale {scale} the reader's ゲーム, {(tx, ty, tw, th)}, is not the menu "
                      f"bar's title: the bar is {bar} px high from ({x}, {y})")
    letters = ink(game.screen.grab(tx, ty, tw, th))
    if letters < 20 * scale * scale:
        raise Failure(f"at scale {scale} the reader's ゲーム, {(tx, ty, tw, th)}, holds only "
                      f"{letters} dark pixels: the title is painted elsewhere")


def shoot_scaled(binary, display, desktop, audio_file, scale, shots_dir):
    """At a scale factor only pictures are taken (and the reader's extents checked): a game is
    started from the keyboard and the figure pressed, and what shows is kept."""
    game = Game(binary, display, desktop, audio_file, {"QT_SCALE_FACTOR": str(scale)})
    game.wm, game.shots_dir = True, shots_dir
    try:
        tree = game.tree
        wait_for(tree.app, 20, "the program on the accessibility bus")
        wait_for(lambda: tree.main_frame() is not None and game.countdown() == "10", 20,
                 "the main window with its countdown at 10")
        main_wid = x_window(game.screen, "Ombura", 10)
        x, y, w, h = game.screen.geometry(main_wid)
        ox, oy, ow, oh = tree.client_origin()
        say(f"at scale {scale}: the X window's client area is {w}x{h} at ({x}, {y}); the reader "
            f"has the view at ({ox}, {oy}) {ow}x{oh}")
        if (ow, oh) != (511 * scale, 269 * scale) or not (x <= ox and ox + ow <= x + w and y < oy
                                                             and oy + oh <= y + h):
            raise Failure(f"at scale {scale} the reader's extents of the view, {(ox, oy, ow, oh)}, "
                          f"do not lie where the window is, {(x, y, w, h)}")
        wait_centred(game.screen, main_wid, f"the main window at scale {scale}")
        time.sleep(0.5)
        keep(game, f"start-{scale}x")
        check_title_where_painted(game, game.screen.geometry(main_wid), tree.client_origin()[1], scale)
        # F10 lights ゲーム, Return opens it with 開始 chosen, Return starts the game.
        for key in ("F10", "Return", "Return"):
            press_key(key)
            time.sleep(0.4)
        wait_for(lambda: game.countdown() == "9", 4, "the countdown to run after F10, Return, Return")
        say(f"at scale {scale}: F10, Return, Return started a game")
        xdotool("mousemove", ox + FIGURE_CLICK[0] * scale, oy + FIGURE_CLICK[1] * scale, "click", "1")
        frame = tree.main_frame()
        # Either the press scores, or it met an intruder and the thrown pinwheel shows: both say
        # that it landed on the figure where the reader's extents put it.
        wait_for(lambda: game.score() != "0" or tree.find(lambda n: desc(n) == "Image15", frame), 2,
                 "the press on the figure to score or be caught")
        keep(game, f"pressing-{scale}x")
        say(f"at scale {scale}: score {game.score()} after one press"
            f"{'' if game.score() != '0' else ' (caught by an intruder)'}")
        # Clicks where the reader puts ゲーム and then 終了 open the menu and end the program.
        check_exit(game)
    finally:
        game.kill()


def main():
    parser = argparse.ArgumentParser(description="Plays Ombura under a private X server.")
    parser.add_argument("binary")
    parser.add_argument("--wm", choices=["none", "openbox"], default="none",
                        help="a window manager to play under (started privately)")
    parser.add_argument("--scale", type=int, default=1,
                        help="Qt's scale factor; above 1 only pictures are taken")
    parser.add_argument("--screenshots", metavar="DIR", help="keep pictures of the game here")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    for data in data_files():
        if not os.path.exists(os.path.join(os.path.dirname(binary), data)):
            sys.exit(f"FAIL: {data} is missing beside {binary}")
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)
    try:
        with Session("ombura-e2e-") as session:
            display = session.display
            say(f"Xvfb on {display}")
            wm = None
            if args.wm == "openbox":
                wm = start_openbox(display, session.path("home"))
                session.own(lambda: stop(wm))
                say(f"openbox manages {display} (pid {wm.pid})")
            desktop = session.desktop()
            audio_file = session.path("out.raw")
            if args.scale != 1:
                shoot_scaled(binary, display, desktop, audio_file, args.scale, args.screenshots)
                say("PASS")
                return 0
            game = Game(binary, display, desktop, audio_file)
            session.own(game.kill)
            game.wm = wm is not None
            game.shots_dir = args.screenshots
            play(game, audio_file)
            say("PASS")
            return 0
    except Failure as e:
        say(f"FAIL: {e}")
        return 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Plays Ombura as a person would, under a private X server, and checks what a person would see.

Input goes through the X server's test extension (xdotool mousemove/click/key), so the program
receives the same events as from a real mouse and keyboard. The labels are read back through the
accessibility bus; the pictures, which that bus cannot describe, through screenshots. Sound goes
to SDL's disk driver and is measured from the file it writes.

Run it inside its own session bus:  dbus-run-session -- /usr/bin/python3 e2e.py path/to/ombura
"""
import array
import ctypes
import ctypes.util
import math
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from data_files import data_files  # noqa: E402
from xvfb import start_xvfb  # noqa: E402

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

AUDIO_RATE = 48000
AUDIO_CHANNELS = 2
SOUND_FLOOR = 0.003     # RMS of a 100 ms chunk that counts as audible
SILENCE_CEILING = 1e-4  # RMS of every chunk that counts as silence


class Failure(Exception):
    pass


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
    click_at(*centre(tree.menu_title(title)))
    node = wait_for(lambda: entry_on_screen(tree, title, entry), 5,
                    f"the menu entry {title} > {entry} to show")
    click_at(*centre(node))
    wait_for(lambda: not showing(tree.popup(title)), 5, f"the {title} menu to close")
    say(f"chose {title} > {entry}")


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


# --- the game ---------------------------------------------------------------------------------

class Game:
    def __init__(self, binary, display, desktop, audio_file):
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", SDL_AUDIODRIVER="disk",
                   SDL_DISKAUDIOFILE=audio_file)
        env.pop("WAYLAND_DISPLAY", None)
        self.proc = subprocess.Popen([binary], env=env, start_new_session=True,
                                     stdout=subprocess.DEVNULL)
        self.tree = Tree(desktop, self.proc.pid)
        self.screen = Screen(display)
        self.origin = None

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
        self.screen.close()

    def shot(self):
        ox, oy, w, h = self.origin
        return self.screen.grab(ox, oy, w, h)

    def score(self):
        return self.tree.label("Label9")

    def countdown(self):
        return self.tree.label("Label7")


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
    wait_for(clear, timeout, "a moment with no intruder and the figure uncovered", 0.02)
    if os.environ.get("E2E_DEBUG"):
        say(f"clear after {time.monotonic() - t:.2f} s")
    return found[-1]


def press_figure(game):
    ox, oy, _, _ = game.origin
    click_at(ox + FIGURE_CLICK[0], oy + FIGURE_CLICK[1])


def check_presses(game, baseline, players, count=6):
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

    check_audio(game, audio_file)
    game.check_alive()
    start_and_wait(game)
    if game.countdown() != "10":
        raise Failure(f"after Start the countdown reads {game.countdown()}, not 10")
    check_presses(game, baseline, players)
    check_catch(game, baseline, players)
    # One more point restarts the countdown, so that the idle run shows every number from 10.
    check_presses(game, baseline, players, count=1)
    check_countdown(game)
    check_dialog(game)
    check_exit(game)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: e2e.py path/to/ombura")
    binary = os.path.abspath(sys.argv[1])
    for data in data_files():
        if not os.path.exists(os.path.join(os.path.dirname(binary), data)):
            sys.exit(f"FAIL: {data} is missing beside {binary}")
    xvfb, display = start_xvfb()
    game = None
    tmp = tempfile.TemporaryDirectory(prefix="ombura-e2e-")
    try:
        os.environ["DISPLAY"] = display
        say(f"Xvfb on {display}")
        # Asking for the desktop before the program starts switches the accessibility bus on,
        # so that the program finds it.
        desktop = Atspi.get_desktop(0)
        audio_file = os.path.join(tmp.name, "out.raw")
        game = Game(binary, display, desktop, audio_file)
        play(game, audio_file)
        say("PASS")
        return 0
    except Failure as e:
        say(f"FAIL: {e}")
        return 1
    finally:
        if game is not None:
            game.kill()
        xvfb.kill()
        xvfb.wait()
        tmp.cleanup()


if __name__ == "__main__":
    sys.exit(main())

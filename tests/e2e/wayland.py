#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plays Ombura on Wayland, under a private weston, and checks its windows as a player meets them.

weston runs with its X11 back end inside a private Xvfb, so that real input (XTest, through
xdotool) reaches it, and its output is what a screenshot of that X server shows. The game runs
with Qt's Wayland platform and WAYLAND_DEBUG=1: the protocol log tells which toplevel names which
parent, which surface has the keyboard, and, when the pointer is moved over a spot, which surface
lies in front there and where that surface's corner is. Labels are read through the
accessibility bus.

Run it inside its own session bus:  dbus-run-session -- /usr/bin/python3 wayland.py path/to/ombura
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e import Failure, Screen, Tree, click_at, press_key, wait_clean_exit, wait_for, xdotool  # noqa: E402
from session import GameProcess, Session, stop  # noqa: E402
from gi.repository import Atspi  # noqa: E402  (e2e asked for its version)

T0 = time.monotonic()

# A small output: weston puts every new toplevel at a random spot of it, and on one this size the
# dialog and the box always overlap the main window, so that "in front of it" can be checked.
OUTPUT = (640, 400)
BACKGROUND = (0x40, 0x50, 0x60)
# Qt's own title bar (the only one a compositor without server-side decorations gets): 30 px
# high, three 18 px buttons 5 px apart, the last 8 px from the right edge.
TITLE_BAR = 30
WINDOW_GREY = (0xD4, 0xD0, 0xC8)
GAME_OVER = "GAME　OVER"
DIALOG = "あとがき・・・？"


def say(msg):
    print(f"[wayland {time.monotonic() - T0:7.2f}s] {msg}", flush=True)


# --- the protocol log ---------------------------------------------------------------------------

class Toplevel:
    def __init__(self, xdg_toplevel, surface):
        self.id, self.surface = xdg_toplevel, surface
        self.title, self.parent, self.size, self.alive = "", None, None, True


class ProtocolLog:
    """Follows the program's WAYLAND_DEBUG output. Object ids are reused once destroyed, so the
    log is read in order and every toplevel is kept as it was made."""

    PATTERNS = [
        ("xdg_surface", re.compile(r"-> xdg_wm_base[@#]\d+\.get_xdg_surface\(new id xdg_surface[@#](\d+), "
                                   r"wl_surface[@#](\d+)\)")),
        ("toplevel", re.compile(r"-> xdg_surface[@#](\d+)\.get_toplevel\(new id xdg_toplevel[@#](\d+)\)")),
        ("title", re.compile(r'-> xdg_toplevel[@#](\d+)\.set_title\("(.*)"\)')),
        ("parent", re.compile(r"-> xdg_toplevel[@#](\d+)\.set_parent\((?:xdg_toplevel[@#](\d+)|nil)\)")),
        ("geometry", re.compile(r"-> xdg_surface[@#](\d+)\.set_window_geometry\(-?\d+, -?\d+, (\d+), (\d+)\)")),
        ("destroy", re.compile(r"-> xdg_toplevel[@#](\d+)\.destroy\(\)")),
        ("key_enter", re.compile(r"wl_keyboard[@#]\d+\.enter\(\d+, wl_surface[@#](\d+)")),
        ("key_leave", re.compile(r"wl_keyboard[@#]\d+\.leave\(")),
        ("ptr_enter", re.compile(r"wl_pointer[@#]\d+\.enter\(\d+, wl_surface[@#](\d+), ([-\d.]+), ([-\d.]+)\)")),
        ("ptr_motion", re.compile(r"wl_pointer[@#]\d+\.motion\(\d+, ([-\d.]+), ([-\d.]+)\)")),
        ("ptr_leave", re.compile(r"wl_pointer[@#]\d+\.leave\(")),
    ]

    def __init__(self, path):
        self.path, self.offset, self.partial = path, 0, b""
        self.xdg_to_surface, self.live, self.all = {}, {}, []
        self.keyboard = None          # the wl_surface with the keyboard
        self.pointer = None           # (wl_surface, x, y) or None over the background
        self.pointer_events = 0

    def update(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for raw in lines:
            self._line(raw.decode("utf-8", "replace"))
        return self

    def _line(self, line):
        for kind, pattern in self.PATTERNS:
            m = pattern.search(line)
            if m:
                getattr(self, "_" + kind)(*m.groups())
                return

    def _xdg_surface(self, xdg, surface):
        self.xdg_to_surface[xdg] = surface

    def _toplevel(self, xdg, toplevel):
        t = Toplevel(toplevel, self.xdg_to_surface.get(xdg))
        t.xdg = xdg
        self.live[toplevel] = t
        self.all.append(t)

    def _title(self, toplevel, title):
        if toplevel in self.live:
            self.live[toplevel].title = title

    def _parent(self, toplevel, parent):
        if toplevel in self.live:
            self.live[toplevel].parent = self.live.get(parent) if parent else None

    def _geometry(self, xdg, w, h):
        for t in self.live.values():
            if t.xdg == xdg:
                t.size = (int(w), int(h))

    def _destroy(self, toplevel):
        t = self.live.pop(toplevel, None)
        if t:
            t.alive = False

    def _key_enter(self, surface):
        self.keyboard = surface

    def _key_leave(self):
        self.keyboard = None

    def _ptr_enter(self, surface, x, y):
        self.pointer = (surface, float(x), float(y))
        self.pointer_events += 1

    def _ptr_motion(self, x, y):
        if self.pointer:
            self.pointer = (self.pointer[0], float(x), float(y))
        self.pointer_events += 1

    def _ptr_leave(self):
        self.pointer = None
        self.pointer_events += 1

    def window(self, title):
        self.update()
        for t in self.live.values():
            if t.title == title:
                return t
        return None

    def keyboard_window(self):
        self.update()
        for t in self.live.values():
            if t.surface == self.keyboard:
                return t
        return None


# --- servers ------------------------------------------------------------------------------------

def start_weston(display, tmp):
    runtime = os.path.join(tmp, "runtime")
    os.mkdir(runtime, 0o700)
    config = os.path.join(tmp, "weston.ini")
    with open(config, "w") as f:
        # No panel, no lock, no animations: the desktop is one plain colour, and windows come and
        # go at once.
        f.write("[core]\nidle-time=0\n"
                "[shell]\npanel-position=none\nlocking=false\n"
                f"background-color=0xff{BACKGROUND[0]:02x}{BACKGROUND[1]:02x}{BACKGROUND[2]:02x}\n"
                "animation=none\nclose-animation=none\nstartup-animation=none\nfocus-animation=none\n")
    socket = f"wayland-ombura-test-{os.getpid()}"
    env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime, HOME=os.path.join(tmp, "home"))
    weston = subprocess.Popen(["weston", "--backend=x11-backend.so", f"--socket={socket}",
                               f"--config={config}", f"--width={OUTPUT[0]}", f"--height={OUTPUT[1]}",
                               "--use-pixman", f"--log={os.path.join(tmp, 'weston.log')}"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        wait_for(lambda: os.path.exists(os.path.join(runtime, socket)) or weston.poll() is not None,
                 20, "weston's socket")
        if weston.poll() is not None:
            raise Failure(f"weston ended at start with status {weston.returncode}")
        # The desktop is drawn by a helper client: wait until the output shows it (in a corner:
        # the pointer starts in the middle).
        screen = Screen(display)
        try:
            corners = [(2, 2), (OUTPUT[0] - 3, 2), (2, OUTPUT[1] - 3), (OUTPUT[0] - 3, OUTPUT[1] - 3)]
            wait_for(lambda: any(screen.grab(x, y, 1, 1).data[:3] == bytes(reversed(BACKGROUND))
                                 for x, y in corners), 30, "weston's desktop")
            # weston learns where the pointer is only when it moves: until then it puts new
            # windows anywhere, even half off the output, and gives them no pointer events.
            centre = (OUTPUT[0] // 2, OUTPUT[1] // 2)

            def pointer_taken():
                # Some starts of weston follow the pointer by its moves alone, from the corner:
                # through the corner, where both stop, the two agree from then on.
                for spot in ((0, 0), (centre[0] - 40, centre[1] - 40)):
                    subprocess.run(["xdotool", "mousemove", *map(str, spot)],
                                   env=dict(os.environ, DISPLAY=display), check=True)
                    time.sleep(0.05)
                subprocess.run(["xdotool", "mousemove", *map(str, centre)],
                               env=dict(os.environ, DISPLAY=display), check=True)
                time.sleep(0.1)
                # weston draws its cursor where it believes the pointer is.
                shot = screen.grab(centre[0], centre[1], 6, 6)
                return any(shot.data[i:i + 3] != bytes(reversed(BACKGROUND))
                           for i in range(0, len(shot.data), 4))

            wait_for(pointer_taken, 5, "weston to take the pointer", 0.2)
        finally:
            screen.close()
    except BaseException:
        if os.environ.get("WAYLAND_TEST_KEEP"):
            subprocess.run(["import", "-display", display, "-window", "root",
                            os.path.join(tmp, "weston-start.png")], check=False)
        stop(weston)
        raise
    return weston, runtime, socket


# --- the screen, through the pointer ------------------------------------------------------------

class Desk:
    def __init__(self, display, log):
        self.screen, self.log, self.display = Screen(display), log, display
        self.last = None

    def shot(self):
        return self.screen.grab(0, 0, OUTPUT[0], OUTPUT[1])

    def pixel(self, shot, x, y):
        i = y * shot.stride + x * 4
        return shot.data[i + 2], shot.data[i + 1], shot.data[i]

    def probe(self, x, y):
        """Moves the pointer to (x, y); returns (toplevel, local x, local y) of the surface in front
        there, or None over the desktop or when the program heard nothing of the move."""
        if self.last == (x, y):
            self._move(x + 1, y)
        if not self._move(x, y):
            return None
        p = self.log.pointer
        if p is None:
            return None
        for t in self.log.live.values():
            if t.surface == p[0]:
                return t, p[1], p[2]
        return None

    def _move(self, x, y):
        before = self.log.update().pointer_events
        xdotool("mousemove", x, y)
        self.last = (x, y)
        try:
            # From the desktop to the desktop there is nothing to hear.
            wait_for(lambda: self.log.update().pointer_events > before, 1.5, "", 0.01)
        except Failure:
            return False
        time.sleep(0.05)  # a leave comes with its enter
        self.log.update()
        return True

    def locate(self, toplevel, candidates):
        """The screen position of a toplevel's corner, found by pointing at candidate spots until
        the toplevel answers."""
        for x, y in candidates:
            hit = self.probe(x, y)
            if not hit or hit[0] is not toplevel:
                continue
            origin = round(x - hit[1]), round(y - hit[2])
            # An event the program heard late (an enter as the window came up under the pointer)
            # would put the corner elsewhere: a second spot must agree.
            w, h = toplevel.size
            for fx, fy in ((0.3, 0.6), (0.7, 0.4), (0.5, 0.8)):
                sx, sy = origin[0] + int(w * fx), origin[1] + int(h * fy)
                if (sx, sy) == (x, y) or not (0 <= sx < OUTPUT[0] and 0 <= sy < OUTPUT[1]):
                    continue
                check = self.probe(sx, sy)
                if check and check[0] is toplevel and abs(sx - check[1] - origin[0]) <= 1 \
                        and abs(sy - check[2] - origin[1]) <= 1:
                    return origin
                break
        raise Failure(f"could not find the window {toplevel.title!r} on the screen")

    def changed_spots(self, before, after, size, step=8):
        """Spots where the screen changed, those in the middle of a changed area of the given size
        first: a window that has just come up, rather than a label that changed meanwhile."""
        cols, rows = OUTPUT[0] // step, OUTPUT[1] // step
        changed = [[self.pixel(before, c * step, r * step) != self.pixel(after, c * step, r * step)
                    for c in range(cols)] for r in range(rows)]
        sums = [[0] * (cols + 1) for _ in range(rows + 1)]
        for r in range(rows):
            for c in range(cols):
                sums[r + 1][c + 1] = changed[r][c] + sums[r][c + 1] + sums[r + 1][c] - sums[r][c]
        half_w, half_h = max(1, size[0] // (3 * step)), max(1, size[1] // (3 * step))
        scored = []
        for r in range(rows):
            for c in range(cols):
                if not changed[r][c]:
                    continue
                r0, r1 = max(0, r - half_h), min(rows, r + half_h + 1)
                c0, c1 = max(0, c - half_w), min(cols, c + half_w + 1)
                score = sums[r1][c1] - sums[r0][c1] - sums[r1][c0] + sums[r0][c0]
                scored.append((-score, c * step, r * step))
        scored.sort()
        return [(x, y) for _, x, y in scored]

    def keep(self, name):
        """Saves the screen as a picture when WAYLAND_TEST_SHOTS names a folder, for a person to
        look at."""
        folder = os.environ.get("WAYLAND_TEST_SHOTS")
        if folder:
            subprocess.run(["import", "-display", self.display, "-window", "root",
                            os.path.join(folder, f"wayland-{name}.png")], check=False)

    def close(self):
        self.screen.close()


def title_ink(desk, shot, origin, size):
    """Leftmost and rightmost columns of the title text in a window's title bar, found from its
    middle outwards, so that the icon at the left and the buttons at the right stay out."""
    x0, y0 = origin
    w, _ = size
    background = desk.pixel(shot, x0 + w // 2, y0 + TITLE_BAR - 3)

    def ink(x):
        for y in range(y0 + 6, y0 + TITLE_BAR - 5):
            p = desk.pixel(shot, x, y)
            # Low enough for the grey of an inactive window's title on the grey bar.
            if max(abs(a - b) for a, b in zip(p, background)) > 15:
                return True
        return False

    middle = x0 + w // 2
    columns = [x for x in range(middle - 3, middle + 4) if ink(x)]
    if not columns:
        # The middle may fall into a gap between two characters: look a little further.
        columns = [x for x in range(middle - 12, middle + 13) if ink(x)]
    if not columns:
        return None
    # Qt's title bar clips the title 5 px before the minimise button and after the icon.
    first, last = x0 + 3 + 5 + 22 + 1, x0 + w - (8 + 18 * 3 + 5 * 2) - 5
    left = right = columns[0]
    gap = 0
    x = left
    while x > first and gap < 16:
        x -= 1
        gap = 0 if ink(x) else gap + 1
        if gap == 0:
            left = x
    gap = 0
    x = right
    while x < last and gap < 16:
        x += 1
        gap = 0 if ink(x) else gap + 1
        if gap == 0:
            right = x
    return left - x0, right - x0


def check_title(desk, window, origin, what, timeout=3.0):
    """The title shows whole: centred on the window and clear of the buttons. A clipped title loses
    more on the right, where the buttons are, than on the left, and so sits off the middle. The
    title bar is drawn apart from the window's contents, and again when the keyboard comes or
    goes, so it gets a moment to settle."""
    w = window.size[0]
    buttons = w - (8 + 18 * 3 + 5 * 2)
    deadline = time.monotonic() + timeout
    while True:
        ink = title_ink(desk, desk.shot(), origin, window.size)
        problem = None
        if ink is None:
            problem = f"no title text in the title bar of {what}"
        else:
            left, right = ink
            centre = (left + right) / 2
            if abs(centre - w / 2) > 3 or right >= buttons - 6:
                problem = (f"the title of {what} is clipped: its text runs from {left} to {right} "
                           f"in a {w} px title bar whose buttons begin at {buttons}")
        if problem is None:
            say(f"{what}: {w} px wide, title ink from {left} to {right} (centre {centre:.1f}), "
                f"buttons from {buttons}")
            return
        if time.monotonic() > deadline:
            raise Failure(problem)
        time.sleep(0.2)


def check_own_title_bar(desk, window, origin, what, closes, timeout=3.0):
    """The dialog and the box draw their own title bar, as the era's windows had it: the title at
    the left, and at the right a close button on the box and nothing on the dialog. Where Qt's own
    title bar has its minimise and maximise buttons, the bar must hold nothing but its shading."""
    x0, y0 = origin
    w, _ = window.size
    deadline = time.monotonic() + timeout
    while True:
        shot = desk.shot()
        bar = 0
        while bar < 40 and desk.pixel(shot, x0 + w - 40, y0 + bar) != WINDOW_GREY:
            bar += 1

        def marked(x):
            # A column of the bar that differs from the shading along its top row.
            top = desk.pixel(shot, x, y0 + 1)
            return any(max(abs(a - b) for a, b in zip(desk.pixel(shot, x, y), top)) > 40
                       for y in range(y0 + 3, y0 + bar - 2))

        title = sum(marked(x) for x in range(x0 + 3, x0 + w // 2))
        buttons = [x - x0 for x in range(x0 + w - (8 + 18 * 3 + 5 * 2), x0 + w - 22) if marked(x)]
        close = sum(marked(x) for x in range(x0 + w - 18, x0 + w - 3))
        problem = None
        if not 12 <= bar <= 26:
            problem = f"{what} has no title bar of its own at its top ({bar} px of it)"
        elif title < 10:
            problem = f"{what} shows no title at the left of its title bar"
        elif buttons:
            problem = f"{what}'s title bar has something where minimise and maximise would be: {buttons}"
        elif closes != (close > 4):
            problem = f"{what}'s title bar {'lacks' if closes else 'has'} a close button"
        if problem is None:
            say(f"{what}: its own {bar} px title bar, title at the left, "
                f"{'a close button' if closes else 'no button'} at the right, nothing else")
            return
        if time.monotonic() > deadline:
            raise Failure(problem)
        time.sleep(0.2)


def overlap(a_origin, a_size, b_origin, b_size):
    x0 = max(a_origin[0], b_origin[0])
    y0 = max(a_origin[1], b_origin[1])
    x1 = min(a_origin[0] + a_size[0], b_origin[0] + b_size[0])
    y1 = min(a_origin[1] + a_size[1], b_origin[1] + b_size[1])
    return (x0, y0, x1, y1) if x1 - x0 > 4 and y1 - y0 > 4 else None


def outside(origin, size, avoid_origin, avoid_size):
    """A spot of a window's client area that another window does not cover."""
    for fy in (0.9, 0.6, 0.3):
        for fx in (0.1, 0.5, 0.9, 0.3, 0.7):
            x = origin[0] + int(size[0] * fx)
            y = origin[1] + TITLE_BAR + int((size[1] - TITLE_BAR) * fy)
            inside = (avoid_origin[0] - 2 <= x <= avoid_origin[0] + avoid_size[0] + 2
                      and avoid_origin[1] - 2 <= y <= avoid_origin[1] + avoid_size[1] + 2)
            if not inside and 0 <= x < OUTPUT[0] and 0 <= y < OUTPUT[1]:
                return x, y
    return None


# --- the game -----------------------------------------------------------------------------------

class Game(GameProcess):
    """The game on Wayland; its protocol log (stderr) is read as it grows."""

    def __init__(self, binary, env, log_path, desktop):
        self.log_file = open(log_path, "wb")
        super().__init__(binary, env, stderr=self.log_file)
        self.log = ProtocolLog(log_path)
        self.tree = Tree(desktop, self.proc.pid)
        self.main = None
        self.origin = None

    def kill(self):
        super().kill()
        self.log_file.close()


class Menus:
    """Turns the accessibility bus's places (which on Wayland are only relative to the window,
    since no client knows where its window is) into places on the screen."""

    def __init__(self, game, desk):
        self.game, self.desk = game, desk

    def to_screen(self, node_x, node_y):
        e = self.game.tree.main_frame().get_extents(Atspi.CoordType.SCREEN)
        fx, fy, fw, fh = e.x, e.y, e.width, e.height
        w, h = self.game.main.size
        side = (w - fw) // 2
        top = h - fh - side
        return self.game.origin[0] + side + node_x - fx, self.game.origin[1] + top + node_y - fy


def platform_plugins(pid):
    with open(f"/proc/{pid}/maps") as f:
        maps = f.read()
    return {name for name in ("libqwayland", "libqxcb") if name in maps}


def choose_entry(game, menus, title, entry):
    """Chooses a menu entry with the mouse, as choose() in e2e.py does on X11."""
    tree = game.tree

    def centre_of(node):
        e = node.get_extents(Atspi.CoordType.SCREEN)
        return menus.to_screen(e.x + e.width // 2, e.y + e.height // 2)

    click_at(*centre_of(tree.menu_title(title)))
    # The popup is a surface of its own: it shows once the pointer meets it there.
    node = wait_for(lambda: tree.menu_entry(title, entry), 5, f"the entry {title} > {entry}")
    time.sleep(0.3)
    click_at(*centre_of(node))
    say(f"chose {title} > {entry}")


def wait_keyboard(game, window, what, timeout=5):
    wait_for(lambda: game.log.keyboard_window() is window, timeout,
             f"the keyboard to go to {what}")


def check_in_front(desk, front, front_origin, back, back_origin, what):
    area = overlap(front_origin, front.size, back_origin, back.size)
    if area is None:
        raise Failure(f"{what} does not overlap the main window on a {OUTPUT[0]}x{OUTPUT[1]} output")
    x = (area[0] + area[2]) // 2
    y = (area[1] + area[3]) // 2
    hit = desk.probe(x, y)
    if not hit or hit[0] is not front:
        raise Failure(f"where {what} and the main window overlap ({x}, {y}), "
                      f"{hit[0].title if hit else 'the desktop'!r} is in front")


def open_window(game, desk, title, opener):
    """Runs `opener`, waits for a toplevel with `title`, and finds it on the screen."""
    before = desk.shot()
    opener()
    window = wait_for(lambda: game.log.window(title), 20, f"the window {title}")
    wait_for(lambda: game.log.update() and window.size, 5, f"the size of {title}")
    time.sleep(0.4)  # its first frame
    after = desk.shot()
    origin = desk.locate(window, desk.changed_spots(before, after, window.size)[:30])
    say(f"{title} is up at {origin}, {window.size[0]}x{window.size[1]}")
    if window.parent is not game.main:
        raise Failure(f"{title} names {window.parent.title if window.parent else 'no'} parent, "
                      "not the main window (xdg_toplevel.set_parent)")
    return window, origin


def check_child(game, desk, window, origin, what, shot, closes):
    """A child window just opened: it has the keyboard, its own title bar, a screenshot kept as
    `shot`, and sits in front of the main window; a click on the main window beside it leaves
    it the keyboard."""
    wait_keyboard(game, window, what)
    check_own_title_bar(desk, window, origin, what, closes)
    desk.keep(shot)
    check_in_front(desk, window, origin, game.main, game.origin, what)
    click_at(*outside(game.origin, game.main.size, origin, window.size))
    time.sleep(0.5)
    wait_keyboard(game, window, f"{what} after a click on the main window")


def play(game, desk, menus):
    tree, log = game.tree, game.log
    game.main = wait_for(lambda: log.window("Ombura"), 40, "the main window's toplevel")
    wait_for(tree.app, 20, "the program on the accessibility bus")
    wait_for(lambda: tree.main_frame() is not None and tree.label("Label7") == "10", 20,
             "the main window with its countdown at 10")
    wait_for(lambda: game.log.update() and game.main.size, 5, "the main window's size")
    plugins = platform_plugins(game.proc.pid)
    if plugins != {"libqwayland"}:
        raise Failure(f"platform plugins loaded: {sorted(plugins)}; expected Wayland's alone")
    say("Qt's Wayland platform plugin is loaded, xcb's is not")
    shots = [desk.shot()]

    def settled():
        shots.append(desk.shot())
        drawn = sum(desk.pixel(shots[-1], x, y) != BACKGROUND
                    for y in range(8, OUTPUT[1], 16) for x in range(8, OUTPUT[0], 16))
        return drawn > 200 and shots[-1].data == shots[-2].data

    wait_for(settled, 10, "the main window to finish painting", 0.3)
    shot = shots[-1]
    spots = [(x, y) for y in range(8, OUTPUT[1], 16) for x in range(8, OUTPUT[0], 16)
             if desk.pixel(shot, x, y) != BACKGROUND]
    spots.sort(key=lambda s: (s[0] - OUTPUT[0] // 2) ** 2 + (s[1] - OUTPUT[1] // 2) ** 2)
    game.origin = desk.locate(game.main, spots[:20])
    say(f"main window at {game.origin}, {game.main.size[0]}x{game.main.size[1]} with its frame")
    wait_keyboard(game, game.main, "the main window")
    check_title(desk, game.main, game.origin, "the main window")
    desk.keep("main")

    # Start, a press that scores, then an idle player's game over.
    choose_entry(game, menus, "ゲーム", "開始")
    wait_for(lambda: tree.label("Label9") == "0", 5, "the score to read 0 after Start")
    panel = tree.client_origin()
    figure = menus.to_screen(panel[0] + 216, panel[1] + 160)
    for _ in range(20):
        click_at(*figure)
        try:
            wait_for(lambda: tree.label("Label9") != "0", 1.5, "a press to score")
            break
        except Failure:
            time.sleep(3.2)  # an intruder caught the press: wait out the thrown pinwheel
    else:
        raise Failure("no press on the player's figure scored")
    say(f"a press scored: the score reads {tree.label('Label9')}")
    xdotool("mousemove", 1, 1)
    box, box_origin = open_window(game, desk, GAME_OVER, lambda: None)
    check_child(game, desk, box, box_origin, "the game-over box", "game-over", closes=True)
    check_in_front(desk, box, box_origin, game.main, game.origin, "the game-over box")
    say("a click on the main window left the box in front with the keyboard")
    press_key("Return")
    wait_for(lambda: log.update() and not box.alive, 5,
             "Enter to close the game-over box")
    wait_keyboard(game, game.main, "the main window after the box closed")
    wait_for(lambda: tree.label("Label7") == "10", 5, "the countdown to read 10 again")
    say("Enter closed the box; the main window has the keyboard back")

    # The information dialog.
    dialog, dialog_origin = open_window(game, desk, DIALOG,
                                        lambda: choose_entry(game, menus, "あとがき", "あとがき"))
    check_child(game, desk, dialog, dialog_origin, "the dialog", "dialog", closes=False)
    say("a click on the disabled main window left the dialog in front with the keyboard")
    press_key("Return")
    wait_for(lambda: log.window(DIALOG) is None, 5, "Enter to close the dialog")
    wait_keyboard(game, game.main, "the main window after the dialog closed")
    say("Enter closed the dialog; the main window has the keyboard back")

    choose_entry(game, menus, "ゲーム", "終了")
    wait_clean_exit(game)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: wayland.py path/to/ombura")
    binary = os.path.abspath(sys.argv[1])
    with Session("ombura-wayland-", f"{OUTPUT[0]}x{OUTPUT[1]}x24", private_auth=True) as session:
        tmp, display = session.tmp, session.display
        os.mkdir(session.path("home"))
        try:
            # Now and then weston's X11 back end never follows the pointer, or its desktop helper
            # never draws; a weston started afresh does.
            for attempt in range(1, 5):
                try:
                    weston, runtime, socket = start_weston(display, tmp)
                    break
                except Failure as e:
                    if attempt == 4:
                        raise
                    say(f"{e}; starting weston again")
                    shutil.rmtree(session.path("runtime"), ignore_errors=True)
            session.own(lambda: stop(weston))
            say(f"weston on {socket} inside Xvfb {display}")
            desktop = session.desktop()
            env = dict(os.environ, QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY=socket,
                       XDG_RUNTIME_DIR=runtime, HOME=session.path("home"),
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", SDL_AUDIODRIVER="dummy", WAYLAND_DEBUG="1")
            # Without an X display the program cannot fall back to xcb unnoticed.
            env.pop("DISPLAY", None)
            game = Game(binary, env, session.path("protocol.log"), desktop)
            session.own(game.kill)
            desk = Desk(display, game.log)
            session.own(desk.close)
            play(game, desk, Menus(game, desk))
            say("PASS")
            return 0
        except Failure as e:
            say(f"FAIL: {e}")
            if os.environ.get("WAYLAND_TEST_KEEP"):
                subprocess.run(["import", "-display", display, "-window", "root",
                                session.path("failure.png")], check=False)
                say(f"kept {tmp}")
                session.keep = True  # for a look at the protocol log
            return 1


if __name__ == "__main__":
    sys.exit(main())

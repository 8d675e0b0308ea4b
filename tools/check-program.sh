#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Plays the real program on a private X server, with real key presses and clicks, in bad
# surroundings: broken data files, no SoundFont, no audio device, no Japanese fonts; and once
# under strace, to see that it writes nothing and reads only what it should. Each run must start,
# take a game and a few presses, end through the menu with status 0 and print nothing.
#
# Usage: tools/check-program.sh [path/to/ombura]     (default: build/ombura)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=$(readlink -f "${1:-$here/../build/ombura}")
folder=$(dirname "$program")
[ -x "$program" ] || { echo "no program at $program" >&2; exit 2; }
for tool in Xvfb xdotool strace unshare; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

work=$(mktemp -d /tmp/ombura-check.XXXXXX)
xvfb_pid=""
game_pid=""
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of our own: Xvfb picks a free number and tells us on fd 3.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 2; }
display=":$(head -n1 "$work/display")"

failed=0
case_failed=0
strict_stderr=1
fail() { echo "FAIL [$case_name]: $*"; failed=1; case_failed=1; }

keys() { DISPLAY=$display xdotool key --delay 120 "$@"; sleep 0.25; }

# Runs one case. Arguments: a name, then "VAR=value" settings for the program's environment,
# then "--" and a command prefix (may be empty), the program last.
run_case() {
    case_name=$1; shift
    case_failed=0
    local settings=()
    while [ "$1" != "--" ]; do settings+=("$1"); shift; done
    shift
    local dir="$work/$case_name"
    mkdir -p "$dir/home" "$dir/run" "$dir/cwd"
    chmod 700 "$dir/run"
    # A pristine environment: nothing of ours reaches the program but what is set here. The
    # session bus address names a socket that does not exist. Left unset on a bare X server,
    # Qt's accessibility bridge asks libdbus for the session bus, and libdbus starts
    # dbus-launch, which writes ~/.dbus and keeps a bus daemon running until the X server ends.
    (cd "$dir/cwd" && exec env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin DISPLAY="$display" \
        HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" LANG=C.UTF-8 \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        "${settings[@]}" "$@" \
        >"$dir/stdout" 2>"$dir/stderr") &
    game_pid=$!

    local window=""
    for _ in $(seq 150); do
        window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Ombura$' 2>/dev/null | head -n1)
        [ -n "$window" ] && break
        kill -0 "$game_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        fail "no window appeared"
    else
        local X Y WIDTH HEIGHT SCREEN WINDOW
        eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window")"
        # The form is 269 pixels high; above it is the menu bar.
        local top=$((Y + HEIGHT - 269))
        DISPLAY=$display xdotool mousemove $((X + 215)) $((top + 160))
        # Mapped is not yet ready for keys on a busy machine.
        sleep 0.5
        keys F10 Down Return         # ゲーム → 開始
        for _ in 1 2 3 4 5; do
            DISPLAY=$display xdotool click 1
            sleep 0.15
        done
        sleep 0.3
        keys F10 Down Up Return      # ゲーム → 終了: up from the first entry wraps to the last
    fi

    local status=""
    for attempt in 1 2 3; do
        for _ in $(seq 50); do
            if ! kill -0 "$game_pid" 2>/dev/null; then
                wait "$game_pid"; status=$?
                break 2
            fi
            sleep 0.1
        done
        [ "$attempt" = 3 ] && break
        # A key lost on a loaded machine is not the program's fault: close whatever menu is
        # open and choose 終了 again.
        [ -n "$window" ] && { keys Escape Escape; keys F10 Down Up Return; }
        echo "note [$case_name]: 終了 chosen again (attempt $((attempt + 1)))"
    done
    if [ -z "$status" ]; then
        fail "still running 15 s after 終了"
        kill "$game_pid" 2>/dev/null; wait "$game_pid" 2>/dev/null
    elif [ "$status" != 0 ]; then
        fail "exit status $status"
    fi
    game_pid=""
    if [ -s "$dir/stderr" ]; then
        if [ "$strict_stderr" = 1 ]; then
            fail "wrote to stderr: $(head -c 600 "$dir/stderr")"
        else
            echo "note [$case_name]: $(sort -u "$dir/stderr" | head -c 300)"
        fi
    fi
    [ -s "$dir/stdout" ] && fail "wrote to stdout: $(head -c 600 "$dir/stdout")"
    local left
    # libpulse makes its runtime folder when it looks for a sound server; see check_trace.py.
    left=$(cd "$dir" && find home run cwd -mindepth 1 ! -path run/pulse 2>/dev/null | head -n 20)
    [ -n "$left" ] && fail "left files behind: $(echo $left)"
    [ "$case_failed" = 0 ] && echo "ok   [$case_name]"
    return 0
}

# a) A copy of the program whose four data files are random bytes, in a folder with blanks and
#    non-ASCII characters in its path.
odd="$work/a b/ü'x"
mkdir -p "$odd"
cp "$program" "$odd/ombura"
mapfile -t data_files < <(/usr/bin/python3 "$here/data_files.py")
[ ${#data_files[@]} = 4 ] || { echo "cannot read the data files' names" >&2; exit 2; }
for f in "${data_files[@]}"; do
    head -c 65536 /dev/urandom >"$odd/$f"
done
run_case bad-data-files -- "$odd/ombura"

# b) No SoundFont: an empty folder over the system's sounds, in a mount namespace of our own.
if [ "$(id -u)" = 0 ]; then ns=(unshare -m); else ns=(unshare -r -m); fi
if "${ns[@]}" true 2>/dev/null; then
    run_case no-soundfont -- "${ns[@]}" sh -c 'mount -t tmpfs none /usr/share/sounds && exec "$0"' "$program"
    # The only SoundFont is one FluidSynth refuses: its instrument names a sample it lacks.
    # FluidSynth then asks libinstpatch, which complains through glib's log.
    /usr/bin/python3 - >"$work/refused.sf2" <<'EOF'
import struct, sys
def chunk(i, b): return i + struct.pack('<I', len(b)) + b
def name(s, n=20): return s.ljust(n, b'\0')
phdr = name(b'p') + struct.pack('<3H3I', 0, 0, 0, 0, 0, 0) + name(b'EOP') + struct.pack('<3H3I', 0, 0, 1, 0, 0, 0)
bag = struct.pack('<4H', 0, 0, 1, 0)
inst = name(b'i') + struct.pack('<H', 0) + name(b'EOI') + struct.pack('<H', 1)
shdr = name(b's') + struct.pack('<5I2B2H', 0, 100, 8, 90, 48000, 60, 0, 0, 1) + name(b'EOS', 46)
pdta = b'pdta' + b''.join(chunk(i, b) for i, b in [
    (b'phdr', phdr), (b'pbag', bag), (b'pmod', bytes(10)), (b'pgen', struct.pack('<2HI', 41, 0, 0)),
    (b'inst', inst), (b'ibag', bag), (b'imod', bytes(10)), (b'igen', struct.pack('<2HI', 53, 1, 0)),
    (b'shdr', shdr)])
sdta = b'sdta' + chunk(b'smpl', bytes(292))
info = b'INFO' + chunk(b'ifil', struct.pack('<2H', 2, 1))
sys.stdout.buffer.write(chunk(b'RIFF', b'sfbk' + chunk(b'LIST', info) + chunk(b'LIST', sdta) + chunk(b'LIST', pdta)))
EOF
    run_case refused-soundfont -- "${ns[@]}" sh -c 'mount -t tmpfs none /usr/share/sounds && mkdir /usr/share/sounds/sf2 &&
        cp "$1" /usr/share/sounds/sf2/default-GM.sf2 && exec "$0"' "$program" "$work/refused.sf2"
else
    echo "skip [no-soundfont, refused-soundfont]: cannot make a mount namespace here"
fi

# c) No audio device.
run_case no-audio-device SDL_AUDIODRIVER=nosuchdriver -- "$program"

# d) No Japanese fonts: fontconfig sees DejaVu only, and then no fonts at all.
mkdir -p "$work/fonts-cache"
cat >"$work/dejavu.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
</fontconfig>
EOF
cat >"$work/nofonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <cachedir>$work/fonts-cache</cachedir>
</fontconfig>
EOF
run_case dejavu-only FONTCONFIG_FILE="$work/dejavu.conf" -- "$program"
# With no font at all Qt itself warns while it lays out text ("QFont::setPointSizeF: Point size
# <= 0"); the program sets pixel sizes only. So here the program must behave, and what it
# printed is a note.
strict_stderr=0
run_case no-fonts FONTCONFIG_FILE="$work/nofonts.conf" -- "$program"
strict_stderr=1

# e) The normal case, traced: what the program and its children open, create and remove.
trace="$work/trace.log"
# LeakSanitizer cannot watch a process that is being traced; a sanitizer build leaves it out here.
run_case traced ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" -- strace -f -qq -o "$trace" \
    -e trace=open,openat,openat2,creat,mkdir,mkdirat,unlink,unlinkat,rmdir,rename,renameat,renameat2,truncate,link,linkat,symlink,symlinkat,execve \
    "$program"
if [ -s "$trace" ]; then
    # The spin sound is asked for only by a press that scores: proof the game was played.
    grep -q 'kuruiya\.dat' "$trace" || case_name=traced fail "no press scored: the spin sound was never asked for"
    if ! /usr/bin/python3 "$here/check_trace.py" "$trace" "$folder" "$work/traced/home" "$work/traced/run"; then
        case_name=traced fail "see the lines above"
    fi
else
    case_name=traced fail "no trace was written"
fi

exit $failed

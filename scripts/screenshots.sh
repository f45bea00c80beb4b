#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb with a real window manager
# (openbox), and checks on the way that each window is centred on the screen
# by its outer size, title bar included.
#
#   scripts/screenshots.sh [build-dir]     (needs xvfb, openbox, xdotool,
#                                           x11-utils and imagemagick)
#
# Exits non-zero when a window is more than 2 pixels off centre.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

out=$root/docs
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
openbox >/dev/null 2>&1 &
sleep 1

# window id of the visible top-level window with this exact title
window() { timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }

# Checks that the window's frame is centred and saves its client area.
shoot() {
    local title=$1 file=$2 id x y w h left right top bottom
    id=$(window "$title")
    sleep 0.5
    # xwininfo, not xdotool: the latter counts the frame offset twice.
    x=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {print $4}')
    y=$(xwininfo -id "$id" | awk '/Absolute upper-left Y/ {print $4}')
    w=$(xwininfo -id "$id" | awk '/Width:/ {print $2}')
    h=$(xwininfo -id "$id" | awk '/Height:/ {print $2}')
    read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    local cx=$(( (x - left) * 2 + w + left + right )) cy=$(( (y - top) * 2 + h + top + bottom ))
    printf '%-16s outer %dx%d, centre off by (%d, %d) px\n' "$title" \
        $((w + left + right)) $((h + top + bottom)) $(( (cx - 1024) / 2 )) $(( (cy - 768) / 2 ))
    if [ $(( (cx - 1024) / 2 )) -gt 2 ] || [ $(( (cx - 1024) / 2 )) -lt -2 ] \
        || [ $(( (cy - 768) / 2 )) -gt 2 ] || [ $(( (cy - 768) / 2 )) -lt -2 ]; then
        echo "$title is not centred" >&2
        failed=1
    fi
    [ -n "$file" ] && import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$file"
    return 0
}

failed=0
cd "$work"
"$build/src/vexal" &
main=$(window Vexal)
shoot Vexal main-window.png
xdotool key --window "$main" alt+l
shoot "Log Information" log-settings.png
# Neither this window nor the options window closes on Escape.
xdotool key alt+c
sleep 0.5
xdotool key --window "$main" alt+b
about=$(window "About Vexal")
shoot "About Vexal" about.png
# OK has the focus; Tab moves it to Command Line.
xdotool key Tab space
shoot "Command Line Options" command-line-help.png
xdotool key Return
sleep 0.5
xdotool key --window "$about" Return
exit $failed

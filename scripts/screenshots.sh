#!/bin/sh
# Starts the window under a virtual X server with the bundled sample store and saves
# screenshots of the splash and of the main window in docs/screenshots/.
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build)
#
# Needs Xvfb and ImageMagick's "import" (Debian: xvfb imagemagick). The session uses a
# throw-away home, so the user's own settings are neither read nor changed.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
demo=$build/app/gui/quillmark_screenshot_demo
out=$here/docs/screenshots
[ -x "$demo" ] || { echo "missing $demo: build the target quillmark_screenshot_demo first" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb not found" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick import not found" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

display=:$(( 90 + $$ % 100 ))
Xvfb "$display" -screen 0 1600x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
sleep 1

mkdir -p "$out" "$work/home"
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
    DISPLAY=$display QT_QPA_PLATFORM=xcb "$demo" "$work/export" >"$work/demo.out" 2>"$work/demo.err" &
demo_pid=$!

# Waits for a "name X Y W H" line from the demo and saves that part of the screen.
shoot() {
    name=$1
    for _ in $(seq 1 100); do
        line=$(grep "^$name " "$work/demo.out" || true)
        [ -n "$line" ] && break
        sleep 0.1
    done
    [ -n "$line" ] || { echo "the demo never showed its $name window" >&2; cat "$work/demo.err" >&2; exit 1; }
    set -- $line
    sleep 0.5
    DISPLAY=$display import -window root -crop "${4}x${5}+${2}+${3}" +repage "$out/$name.png"
    echo "saved $out/$name.png (${4}x${5})"
}

shoot splash
shoot main-disabled
shoot main
shoot main-menu
shoot main-resized
wait "$demo_pid"

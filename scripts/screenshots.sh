#!/bin/sh
# Starts the window under a virtual X server with the bundled sample store and saves
# screenshots of the splash and of the main window in docs/screenshots/; then, when a MinGW
# build with its demo driver is there (WIN_BUILD_DIR, default build-win) and Wine is
# installed, the Win32 window under Wine against the stand-in Outlook server (windows-*.png).
#
#   scripts/screenshots.sh [BUILD_DIR [WIN_BUILD_DIR]]      (default: build build-win)
#
# Needs Xvfb and ImageMagick's "import" (Debian: xvfb imagemagick). The session uses a
# throw-away home, so the user's own settings are neither read nor changed; Wine runs in the
# MinGW build's own prefix, as scripts/windows-ci.sh makes it.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
winbuild=$(cd "${2:-$here/build-win}" 2>/dev/null && pwd || echo "${2:-$here/build-win}")
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
    from=${2:-$work/demo.out}
    for _ in $(seq 1 300); do
        line=$(grep "^$name " "$from" 2>/dev/null || true)
        [ -n "$line" ] && break
        sleep 0.1
    done
    [ -n "$line" ] || { echo "the demo never showed its $name window" >&2; cat "${from%.out}.err" >&2; exit 1; }
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

windemo=$winbuild/tests/win32/win32_window_demo.exe
if [ -f "$windemo" ] && command -v wine >/dev/null; then
    export WINEPREFIX=$winbuild/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    mkdir -p "$work/win"
    : >"$work/windemo.out"
    winroot=$(DISPLAY=$display winepath -w "$work/win/export")
    DISPLAY=$display wine "$windemo" "$winroot" >"$work/windemo.out" 2>"$work/windemo.err" &
    windemo_pid=$!
    for name in windows-disabled windows-main windows-menu windows-resized; do shoot "$name" "$work/windemo.out"; done
    wait "$windemo_pid" || true
else
    echo "no Win32 pictures: $windemo or wine missing (build the target win32_window_demo in $winbuild)"
fi

#!/usr/bin/env bash
# The Windows leg of CI: cross-builds the Windows programs and tests with MinGW-w64 and runs
# the test suite under Wine, headless.
#
#   bash scripts/windows-ci.sh [build-dir]      (default: build-win)
#
# Wine keeps helper processes (wineserver, services) that hold ctest's output pipe open, so
# the server is started persistent before the tests, the prefix is made once up front, ctest
# runs under a time limit, and the server is stopped afterwards whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
jobs=${QUILLMARK_JOBS:-$(nproc)}
start=$(date +%s)
stage() { echo; echo "=== windows: $1 ($(( $(date +%s) - start )) s)"; }

stage "tools"
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine wine64)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v makensis >/dev/null || need+=(nsis)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v zip >/dev/null || need+=(zip)
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${need[@]}"
fi

# A prefix of our own inside the build directory: nothing of the user's Wine is touched, and
# a clean build starts from a clean prefix. No Mono or Gecko (never needed, and asking for
# them would wait for a dialog), no debug chatter, no display.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
# A fixed locale (Wine makes it English, ANSI code page 1252) and zone, so that the regional
# settings are known.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export TZ=${QUILLMARK_WINE_TZ:-Europe/Stockholm}

# The window's tests need a display: a virtual one of our own (never the user's).
xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
display=:$(( 200 + $$ % 100 ))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display

stage "configure"
# Release without debug information (which makes static MinGW links slow and large), at -O2:
# GCC 12's -O3 reports false string-overflow warnings on std::string code.
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DQUILLMARK_GUI=OFF

stage "wine prefix"
# Started before the build too: build steps (the version-block tool) may run under Wine.
mkdir -p "$WINEPREFIX"
wineserver -p
timeout 300 wine cmd /c exit || true

stage "build"
cmake --build "$build" -j "$jobs"

stage "tests under wine"
status=0
timeout 900 ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 || status=$?

stage "installer and portable zip"
bash scripts/windows-package.sh "$build"
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$build/package/Quillmark-$version-setup.exe
ls -l "$setup" "$build/package/Quillmark-$version-portable.zip"

stage "install silently, run, uninstall"
install_status=0
bash scripts/windows-install-check.sh "$build" || install_status=$?
[ $status -eq 0 ] && status=$install_status

stage "done (status $status)"
exit $status

#!/usr/bin/env bash
# Installs the Windows installer silently under Wine, checks what it installed, runs the
# installed quillmark-export.exe --version and the installed window (through an export against
# the stand-in Outlook server), uninstalls silently and checks that nothing is left but the
# user's settings. Run by scripts/windows-ci.sh after scripts/windows-package.sh, with its
# WINEPREFIX and DISPLAY.
#
#   bash scripts/windows-install-check.sh [build-dir]     (default: build-win)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build}"
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$build/package/Quillmark-$version-setup.exe
[ -f "$setup" ] || { echo "missing $setup: run scripts/windows-package.sh first" >&2; exit 1; }
# The user's own programs folder, as the installer sees it under this prefix.
wine_user=$(wine cmd /c echo %USERNAME% 2>/dev/null | tr -d '\r')
instdir=$WINEPREFIX/drive_c/users/$wine_user/AppData/Local/Programs/Quillmark
startmenu=$WINEPREFIX/drive_c/users/$wine_user/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark'
install_status=0
check() { if ! eval "$2"; then echo "installer check failed: $1"; install_status=1; fi; }
timeout 300 wine "$setup" /S
for f in quillmark.exe quillmark-export.exe quillmark-template.htm uninstall.exe; do
    check "$f installed" "[ -f '$instdir/$f' ]"
done
check "Start-menu shortcut" "[ -f '$startmenu/Quillmark.lnk' ]"
check "Add/Remove Programs entry" "wine reg query '$uninstall_key' /v DisplayVersion >/dev/null 2>&1"
installed_version=$(timeout 60 wine "$instdir/quillmark-export.exe" --version 2>&1 | tr -d '\r')
version_status=$?
echo "installed quillmark-export --version: $installed_version"
check "installed quillmark-export --version runs" "[ $version_status -eq 0 ] && [[ '$installed_version' == Quillmark* ]]"
# The installed window, driven through an export against the stand-in Outlook server.
QUILLMARK_WINDOW_EXE=$(winepath -w "$instdir/quillmark.exe") timeout 300 wine "$build/tests/win32/win32_window_tests.exe" \
    --gtest_filter='*AnExportThroughTheWindow*' || { echo "installer check failed: the installed window"; install_status=1; }
timeout 300 wine "$instdir/uninstall.exe" /S
# The uninstaller runs on from a copy of itself; wait for it to finish its work.
for _ in $(seq 1 150); do [ -e "$instdir" ] || break; sleep 0.2; done
check "program folder removed" "[ ! -e '$instdir' ]"
check "Start-menu shortcut removed" "[ ! -e '$startmenu/Quillmark.lnk' ]"
check "Add/Remove Programs entry removed" "! wine reg query '$uninstall_key' >/dev/null 2>&1"
[ $install_status -eq 0 ] && echo "installer: installed, ran and uninstalled cleanly (settings kept)"

exit $install_status

#!/usr/bin/env bash
# Makes the Windows installer and the portable .zip from a MinGW build (scripts/windows-ci.sh
# builds one in build-win):
#
#   bash scripts/windows-package.sh [build-dir]     (default: build-win)
#
# Writes <build-dir>/package/Quillmark-<version>-setup.exe and Quillmark-<version>-portable.zip.
# Needs makensis (Debian: nsis), zip, the MinGW objdump, and Wine to write the default template
# with the built quillmark-export.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
objdump=x86_64-w64-mingw32-objdump
# One version number for everything, from the project() line.
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
fileversion=$version
[ -n "$version" ] && [ -n "$fileversion" ] || { echo "no version found in CMakeLists.txt" >&2; exit 1; }

window=$build/app/win32/quillmark.exe
cli=$build/app/cli/quillmark-export.exe
for f in "$window" "$cli"; do
    [ -f "$f" ] || { echo "missing $f: build the targets quillmark and quillmark-export first" >&2; exit 1; }
done

out=$build/package
stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
cp "$window" "$cli" "$stage/"
cp app/win32/quillmark.ico "$stage/"
# The template the window would write at its first start, written by the program itself.
WINEDEBUG=-all wine "$stage/quillmark-export.exe" --write-default-template "$(winepath -w "$stage/quillmark-template.htm")" >/dev/null
[ -s "$stage/quillmark-template.htm" ] || { echo "the default template was not written" >&2; exit 1; }
cat > "$stage/README.txt" <<TXT
Quillmark $version - turns a folder of mail into a static archive of HTML pages.

quillmark.exe         the window: pick a folder in Outlook's tree, name the export root, Export.
quillmark-export.exe  the command line program (quillmark-export --help).

On Windows Quillmark reads the mail of the running Outlook (it starts Outlook when it is not
running). To export an Outlook data file (.pst), open it in Outlook first (File > Open & Export >
Open Outlook Data File); its folders then appear in Quillmark's tree.
TXT
sed -i 's/$/\r/' "$stage/README.txt"

# Every DLL the programs import must be part of Windows: the MinGW runtime is linked in
# statically, so nothing of it has to ship. A DLL outside this list fails the package.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|msvcrt|shlwapi|version|uxtheme|bcrypt|ws2_32|rpcrt4|crypt32|secur32|ucrtbase|api-ms-win-.*)\.dll$'
shipped_dlls=()
for exe in "$stage"/*.exe; do
    for dll in $($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
        if ! [[ $dll =~ $system_dlls ]]; then
            echo "$(basename "$exe") needs $dll, which Windows does not have and the package does not ship" >&2
            exit 1
        fi
    done
    echo "$(basename "$exe") imports: $($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')"
done
echo "DLLs shipped: ${shipped_dlls[*]:-none (everything else is part of Windows)}"

size_kb=$(du -sk "$stage" | cut -f1)
setup=$out/Quillmark-$version-setup.exe
makensis -V2 -DVERSION="$version" -DFILEVERSION="$fileversion" -DSTAGE="$(realpath "$stage")" \
    -DOUTFILE="$(realpath "$out")/Quillmark-$version-setup.exe" -DSIZE_KB="$size_kb" app/win32/installer.nsi
zipfile=$out/Quillmark-$version-portable.zip
rm -f "$zipfile"
(cd "$stage" && zip -q -9 "../$(basename "$zipfile")" quillmark.exe quillmark-export.exe quillmark-template.htm README.txt)
ls -l "$setup" "$zipfile"

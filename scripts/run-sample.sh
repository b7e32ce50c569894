#!/usr/bin/env bash
# Sets up, builds, and exports the bundled sample mail store to ./out/sample (one HTML page
# per mail, a folder per year, attachments saved once and linked, pictures inline).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
out=${1:-out/sample}
./build/app/cli/quillmark-export --list
./build/app/cli/quillmark-export --folder "${QUILLMARK_SAMPLE_FOLDER:-store/Inbox}" --out "$out" "${@:2}"
echo "Open $out/ in a browser: one folder per year, one .htm page per mail."

#!/usr/bin/env bash
# Measures the browsable archive on a generated mailbox with conversations: the export's
# time and the index's share of it, the index pages' and search data's size against the
# mail pages', and how long headless Chromium takes to show the results of index.htm#q=WORD.
#
#   scripts/archive-bench.sh [MAILS] [OUT]      (defaults: 100000, out/archive-bench)
#
# Needs a built quillmark-export ($QUILLMARK_EXPORT or build/app/cli/quillmark-export) and
# chromium.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
mails="${1:-100000}"
out="$(realpath -m "${2:-$src/out/archive-bench}")"
exe="${QUILLMARK_EXPORT:-$src/build/app/cli/quillmark-export}"
mkdir -p "$out"
# The mailbox of an earlier run of the same size is used again (it is the same, byte for byte).
if [[ "$(cat "$out/count" 2>/dev/null)" != "$mails" ]]; then
    python3 "$src/bench/archive_mbox_gen.py" "$mails" "$out/archive"
    echo "$mails" > "$out/count"
fi
root="$out/root"
rm -rf "$root"

start=$(date +%s.%N)
"$exe" --store "$out/archive" --folder archive --out "$root" --template builtin:browse > "$out/summary.txt"
end=$(date +%s.%N)
total=$(echo "$end - $start" | bc)
index=$(sed -n 's/^Index written in: *\([0-9.e-]*\) s/\1/p' "$out/summary.txt")
echo "export run, all told:      $total s"
echo "of which the index:        $index s ($(echo "scale=1; 100 * $index / ($total - $index)" | bc)% of the export without it)"
start=$(date +%s.%N)
"$exe" --rebuild-index --out "$root"
echo "--rebuild-index alone:     $(echo "$(date +%s.%N) - $start" | bc) s"

pages_b=$(find "$root" -path "$root/_archive" -prune -o -path "$root/.quillmark" -prune -o -path "$root/atts" -prune \
          -o -name '*.htm' -path "$root/*/*" -print0 | du -cb --files0-from=- | tail -1 | cut -f1)
pages_k=$(find "$root" -path "$root/_archive" -prune -o -path "$root/.quillmark" -prune -o -path "$root/atts" -prune \
          -o -name '*.htm' -path "$root/*/*" -print0 | du -ck --files0-from=- | tail -1 | cut -f1)
index_b=$(du -cb "$root/_archive" "$root/index.htm" | tail -1 | cut -f1)
index_k=$(du -ck "$root/_archive" "$root/index.htm" | tail -1 | cut -f1)
search_b=$(cat "$root"/_archive/data/w*.js | wc -c)
echo "mail pages:                $pages_b bytes ($pages_k KiB on disk)"
echo "index pages + data:        $index_b bytes ($index_k KiB on disk), search word lists $search_b bytes"
echo "index / pages:             $(echo "scale=1; 100 * $index_b / $pages_b" | bc)% of the bytes, $(echo "scale=1; 100 * $index_k / $pages_k" | bc)% on disk"

browser="$(command -v chromium || command -v chromium-browser)"
for q in qxjfindme iskanelo "isk" "iskanelo nelosaun"; do
    for run in 1 2 3; do
        t0=$(date +%s.%N)
        attrs=$("$browser" --headless --no-sandbox --disable-gpu --dump-dom "file://$root/index.htm#q=${q// /%20}" 2>/dev/null |
                grep -o '<div id="results"[^>]*>' || true)
        t1=$(date +%s.%N)
        echo "search \"$q\" run $run: ${attrs#<div id=\"results\" } ; chromium start to DOM dump $(echo "$t1 - $t0" | bc) s"
    done
done

#!/usr/bin/env bash
# Exports a mail folder (by default the bundled sample store's Inbox) with quillmark-export
# and renders pages in headless Chromium: one page with inline pictures and one with an
# attachment link (the same page when one mail has both). For each it writes a PNG to look
# at and checks, in the browser's own DOM after loading, that every picture decoded and that
# every attachment link points at a file that exists.
#
#   scripts/browser-check.sh [--store PATH] [--folder PATH] [--out DIR]
#
# Needs chromium (apt-get install chromium) and a built quillmark-export: $QUILLMARK_EXPORT,
# else build/app/cli/quillmark-export (configured and built here when missing).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
store=""
folder="store/Inbox"
out="$root/out/browser-check"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --store) store="$2"; shift 2 ;;
        --folder) folder="$2"; shift 2 ;;
        --out) out="$2"; shift 2 ;;
        *) echo "usage: $0 [--store PATH] [--folder PATH] [--out DIR]" >&2; exit 2 ;;
    esac
done

exe="${QUILLMARK_EXPORT:-$root/build/app/cli/quillmark-export}"
if [[ ! -x "$exe" ]]; then
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" --target quillmark-export -j2 >/dev/null
fi
browser="$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)"
[[ -n "$browser" ]] || { echo "chromium not found (apt-get install chromium)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
args=(--folder "$folder" --out "$out" --quiet)
[[ -n "$store" ]] && args+=(--store "$store")
"$exe" "${args[@]}"

pages=()
both="$(grep -l '<IMG src=' "$out"/*/*.htm | xargs -r grep -l '<A href="../' | head -n1 || true)"
if [[ -n "$both" ]]; then
    pages+=("$both")
else
    pic="$(grep -l '<IMG src=' "$out"/*/*.htm | head -n1 || true)"
    link="$(grep -l '<A href="../' "$out"/*/*.htm | head -n1 || true)"
    [[ -n "$pic" ]] && pages+=("$pic")
    [[ -n "$link" ]] && pages+=("$link")
fi
[[ ${#pages[@]} -gt 0 ]] || { echo "no page with a picture or an attachment link in $folder" >&2; exit 1; }

status=0
for page in "${pages[@]}"; do
    name="$(basename "$page" .htm)"
    png="$out/$name.png"
    "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --allow-file-access-from-files \
        --window-size=900,1100 --screenshot="$png" "file://$page" >/dev/null 2>&1
    # A copy beside the page (same relative paths) with a script that reports, after
    # loading, what the browser made of each picture and link.
    probe="$(dirname "$page")/.probe-$name.htm"
    cp "$page" "$probe"
    cat >>"$probe" <<'JS'
<script>
window.addEventListener('load', async () => {
  const out = [];
  for (const img of document.images)
    out.push((img.complete && img.naturalWidth > 0 ? 'IMG-OK ' : 'IMG-BROKEN ') + img.getAttribute('src'));
  for (const a of document.querySelectorAll('a[href^="../"]')) {
    let ok = false;
    try { ok = (await fetch(a.href)).ok; } catch (e) { ok = false; }
    out.push((ok ? 'LINK-OK ' : 'LINK-BROKEN ') + a.getAttribute('href'));
  }
  const pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = out.join('\n');
  document.body.appendChild(pre);
});
</script>
JS
    dom="$("$browser" --headless --no-sandbox --disable-gpu --allow-file-access-from-files \
        --virtual-time-budget=5000 --dump-dom "file://$probe" 2>/dev/null)"
    rm -f "$probe"
    report="$(printf '%s\n' "$dom" | sed -n '/<pre id="probe">/,/<\/pre>/p' | sed -e 's/<[^>]*>//g' -e '/^$/d')"
    echo "page: $page"
    echo "png:  $png ($(stat -c %s "$png") bytes)"
    printf '%s\n' "$report" | sed 's/^/  /'
    if [[ -z "$report" ]] || grep -q 'BROKEN' <<<"$report"; then status=1; fi
done
[[ $status -eq 0 ]] && echo "browser check: ok" || echo "browser check: FAILED"
exit $status

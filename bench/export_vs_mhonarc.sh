#!/usr/bin/env bash
# Whole-run comparison: quillmark-export against MHonArc and against copying the produced
# page tree with cp -r, over one generated mbox. Prints times, throughput, peak memory and
# the ratios the project aims at:
#   - at least 25x MHonArc's throughput (mails per second),
#   - within 4x of the time cp -r takes to copy the tree quillmark-export produced,
#   - peak memory flat from 10 000 to 100 000 mails (within 1.5x; with --memory).
#
#   bench/export_vs_mhonarc.sh [--count N] [--repeat R] [--memory] [--work DIR]
#
# quillmark-export and cp -r run R times (default 3) and their medians count: file creation
# on a shared machine varies from run to run (ext4 also slows down for a while after many
# files were deleted). MHonArc, which takes twenty times longer, runs once.
#
# Needs python3, mhonarc (apt-get install mhonarc) and GNU time (apt-get install time).
# Uses $QUILLMARK_EXPORT, else builds quillmark-export in build-bench (Release).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
count=10000
memory=0
repeat=3
work="$root/out/bench"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --count) count="$2"; shift 2 ;;
        --memory) memory=1; shift ;;
        --repeat) repeat="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        *) echo "usage: $0 [--count N] [--repeat R] [--memory] [--work DIR]" >&2; exit 2 ;;
    esac
done

exe="${QUILLMARK_EXPORT:-}"
if [[ -z "$exe" ]]; then
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TESTS=OFF \
        -DQUILLMARK_GUI=OFF >/dev/null
    cmake --build "$root/build-bench" --target quillmark-export -j2 >/dev/null
    exe="$root/build-bench/app/cli/quillmark-export"
fi
command -v mhonarc >/dev/null || { echo "mhonarc not found (apt-get install mhonarc)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "GNU time not found (apt-get install time)" >&2; exit 1; }
mkdir -p "$work"
# ext4 passes over inodes freed in the last minutes when it makes a file (one minute, six
# while their inode table is not yet written back) and pays a search for each: right after
# a big tree is deleted, making files costs several times more (measured here: cp -r of the
# tree 1.6 s two minutes after deleting 3 GB of trees, 0.5 s after six). Each invocation
# deletes the trees of the one before at its end and notes the time; the next one waits
# until six minutes have passed since, so that no program pays for the deletion.
settle=360
if [[ -f "$work/deleted-at" ]]; then
    left=$(( $(cat "$work/deleted-at") + settle - $(date +%s) ))
    if [[ $left -gt 0 ]]; then
        echo "(waiting ${left} s: trees were deleted less than $settle s ago)"
        sleep "$left"
    fi
fi
run="$work/run-$(date +%s)"
mkdir -p "$run"

# Runs a command under GNU time; sets secs (wall clock), cpu (user + system) and kb (peak
# resident set). The CPU time is printed beside the wall time because on a shared machine the
# wall time also counts the waits for a core.
measure() {
    local log="$work/time.log" user sys
    sync # nobody pays for the write-back of what ran before
    /usr/bin/time -f "%e %M %U %S" -o "$log" "$@" >/dev/null
    read -r secs kb user sys <"$log"
    cpu=$(python3 -c "print(f'{$user + $sys:.2f}')")
}

mbox_for() {
    local n="$1" f="$work/bench-$1.mbox"
    [[ -s "$f" ]] || python3 "$root/bench/export_mbox_gen.py" "$n" "$f"
    echo "$f"
}

run_quillmark() { # n [out] -> q_secs q_kb q_cpu
    local mbox
    mbox="$(mbox_for "$1")"
    measure "$exe" --store "$mbox" --folder "bench-$1" --out "${2:-$run/q-$1}" --quiet
    q_secs=$secs q_kb=$kb q_cpu=$cpu
}

median() { printf '%s\n' "$@" | sort -g | python3 -c "import sys; v=[float(x) for x in sys.stdin]; print(f'{sorted(v)[len(v)//2]:.2f}')"; }

mbox="$(mbox_for "$count")"
echo "mbox: $mbox ($(du -h "$mbox" | cut -f1), $count mails)"
sync

walls=() cpus=() peak=0
for ((i = 1; i <= repeat; i++)); do
    out="$run/q-$count"
    [[ $i -gt 1 ]] && out="$run/q-$count-$i"
    run_quillmark "$count" "$out"
    walls+=("$q_secs") cpus+=("$q_cpu")
    [[ $q_kb -gt $peak ]] && peak=$q_kb
done
q_secs=$(median "${walls[@]}") q_cpu=$(median "${cpus[@]}") q_kb=$peak
pages=$(find "$run/q-$count" -name '*.htm' | wc -l)
tree=$(du -sh "$run/q-$count" | cut -f1)
echo "quillmark-export: ${q_secs}s wall, ${q_cpu}s cpu (medians of ${walls[*]} s), peak ${q_kb} KB, $pages pages, tree $tree"

mkdir -p "$run/m-$count"
measure mhonarc -quiet -outdir "$run/m-$count" "$mbox"
m_secs=$secs m_kb=$kb m_cpu=$cpu
echo "mhonarc:          ${m_secs}s wall, ${m_cpu}s cpu, peak ${m_kb} KB"

sync
walls=() cpus=()
for ((i = 1; i <= repeat; i++)); do
    measure cp -r "$run/q-$count" "$run/c-$count-$i"
    walls+=("$secs") cpus+=("$cpu")
done
c_secs=$(median "${walls[@]}") c_cpu=$(median "${cpus[@]}")
echo "cp -r of the tree: ${c_secs}s wall, ${c_cpu}s cpu (medians of ${walls[*]} s)"

python3 - "$count" "$q_secs" "$m_secs" "$c_secs" "$q_cpu" "$m_cpu" "$c_cpu" <<'PY'
import sys
n = int(sys.argv[1])
q, m, c, qc, mc, cc = (max(float(x), 0.01) for x in sys.argv[2:])
print(f"throughput (wall): quillmark-export {n/q:.0f} mails/s, mhonarc {n/m:.0f} mails/s")
print(f"ratio vs mhonarc (throughput):  wall {m/q:.1f}x, cpu {mc/qc:.1f}x   (goal >= 25x)")
print(f"ratio vs cp -r (time):          wall {q/c:.1f}x, cpu {qc/cc:.1f}x   (goal <= 4x)")
PY

if [[ $memory -eq 1 ]]; then
    small_kb=$q_kb
    big=$((count * 10))
    echo "memory: generating and exporting $big mails ..."
    run_quillmark "$big"
    echo "quillmark-export $big mails: ${q_secs}s, peak ${q_kb} KB"
    python3 -c "import sys; s,b=int(sys.argv[1]),int(sys.argv[2]); print(f'peak memory {b} KB / {s} KB = {b/s:.2f}x   (goal <= 1.5x)')" "$small_kb" "$q_kb"
fi

for old in "$work"/run-*; do
    [[ "$old" != "$run" && -d "$old" ]] && rm -rf "$old"
done
sync
date +%s >"$work/deleted-at"
echo "trees of this run: $run (removed by the next run)"

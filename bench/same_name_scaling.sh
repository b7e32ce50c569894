#!/usr/bin/env bash
# Work per mail as a folder grows, where every mail collides on a name: an attachment called
# "report.pdf" with content of its own in every mail, or (--subject) the same subject and
# minute in every mail, so every page name needs a number. Exports mboxes of 2 000, 8 000,
# 32 000 and 100 000 such mails (bench/same_name_gen.py) with quillmark-export and archives
# them with MHonArc, each into a fresh directory, and prints CPU time per mail and wall time.
#
#   bench/same_name_scaling.sh [--subject] [--repeat R] [--sizes "2000 8000 ..."] [--work DIR]
#
# Uses $QUILLMARK_EXPORT, else builds quillmark-export in build-bench (Release). Needs
# python3, mhonarc and GNU time. The trees stay in DIR/run-* until the next invocation.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
kind=attachment
repeat=3
sizes="2000 8000 32000 100000"
work="$root/out/bench"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --subject) kind=subject; shift ;;
        --repeat) repeat="$2"; shift 2 ;;
        --sizes) sizes="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        *) echo "usage: $0 [--subject] [--repeat R] [--sizes LIST] [--work DIR]" >&2; exit 2 ;;
    esac
done
exe="${QUILLMARK_EXPORT:-}"
if [[ -z "$exe" ]]; then
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TESTS=OFF \
        -DQUILLMARK_GUI=OFF >/dev/null
    cmake --build "$root/build-bench" --target quillmark-export -j2 >/dev/null
    exe="$root/build-bench/app/cli/quillmark-export"
fi
mkdir -p "$work"
rm -rf "$work"/samename-run-*
run="$work/samename-run-$(date +%s)"
mkdir -p "$run"

measure() { # command... -> wall cpu
    /usr/bin/time -f "%e %U %S" -o "$run/time" "$@" >/dev/null
    read -r wall user sys <"$run/time"
    cpu=$(python3 -c "print(f'{$user + $sys:.2f}')")
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

printf '%8s %14s %12s %14s %12s %10s\n' mails "ours cpu s" "ms/mail" "ours wall s" "mhonarc s" "ratio"
for n in $sizes; do
    mbox="$work/$kind-$n.mbox"
    [[ -s "$mbox" ]] || python3 "$root/bench/same_name_gen.py" "$kind" "$n" "$mbox"
    cat "$mbox" >/dev/null # the same page cache for both
    qw=() qc=() mw=()
    for ((i = 1; i <= repeat; i++)); do
        sync
        measure "$exe" --store "$mbox" --folder "$kind-$n" --out "$run/q-$n-$i" --quiet
        qw+=("$wall") qc+=("$cpu")
        sync
        mkdir -p "$run/m-$n-$i"
        measure mhonarc -quiet -outdir "$run/m-$n-$i" "$mbox"
        mw+=("$wall")
    done
    python3 - "$n" "$(median "${qc[@]}")" "$(median "${qw[@]}")" "$(median "${mw[@]}")" <<'PY'
import sys
n, qc, qw, mw = int(sys.argv[1]), *map(float, sys.argv[2:])
print(f"{n:8d} {qc:14.2f} {1000 * qc / n:12.3f} {qw:14.2f} {mw:12.2f} {mw / max(qw, 0.01):9.1f}x")
PY
done

#!/bin/bash
# Paired runs of two builds of quillmark-export on one mbox: A B A B ..., each run into a
# fresh directory, user and system CPU and wall time of every run, then the medians.
#
#   bench/export_pairs.sh PAIRS BUILD_A BUILD_B MBOX [WORKDIR]
#
# The outputs are kept, in WORKDIR (default: a new directory under /tmp): removing thousands
# of files just before a run makes ext4 pass over the inodes freed a moment ago, and that run
# pays for it in system time. Remove them when done, not right before another measurement.
set -eu
pairs=$1; a=$2; b=$3; mbox=$4
work=${5:-$(mktemp -d /tmp/export-pairs.XXXXXX)}
mkdir -p "$work"
folder=$(basename "$mbox" .mbox)
cat "$mbox" > /dev/null # in the page cache for both
: > "$work/A.txt"; : > "$work/B.txt"
for i in $(seq 1 "$pairs"); do
  for tag in A B; do
    bin=$a; [ "$tag" = B ] && bin=$b
    /usr/bin/time -f "%U %S %e" -o "$work/time" "$bin" --store "$mbox" --folder "$folder" \
      --out "$work/$tag-$i" --quiet > /dev/null
    read -r u s e < "$work/time"
    echo "$tag $i user $u sys $s wall $e"
    echo "$u $s $e" >> "$work/$tag.txt"
  done
done
python3 - "$work/A.txt" "$work/B.txt" <<'PY'
import statistics, sys
def load(f):
    rows = [list(map(float, l.split())) for l in open(f)]
    return {"cpu": [u + s for u, s, _ in rows], "wall": [e for _, _, e in rows],
            "user": [u for u, _, _ in rows], "sys": [s for _, s, _ in rows]}
a, b = load(sys.argv[1]), load(sys.argv[2])
for name, d in (("A", a), ("B", b)):
    print(name + ": " + "  ".join(f"{k} {statistics.median(v):.2f} ({min(v):.2f}-{max(v):.2f})" for k, v in d.items()))
print("B/A: " + "  ".join(f"{k} {statistics.median(b[k]) / statistics.median(a[k]):.3f}" for k in a))
PY
echo "outputs kept in $work"

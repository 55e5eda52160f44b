#!/usr/bin/env bash
# Peak resident memory, time and write calls of objpatcher's "create" on the
# local road over large inputs, beside the notation parse alone of the same
# input (notation_bench's file row, trace off):
#   string: one composite holding a key and one long String;
#   array:  one composite holding a key and an Array of small Composites
#           (about 100 bytes of text each).
#
#   bench/objpatcher_create_memory.sh [build folder, default build/opt] [sizes in MB, default "10 100"] [runs, default 1]
#
# Each run starts from an empty store. Figures: wall and CPU seconds, peak
# resident set (and bytes of it per input byte) from /usr/bin/time -v (with
# several runs, those of the run of median peak), and the number of write
# calls from strace -c (a separate run).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/opt}
sizes=${2:-"10 100"}
runs=${3:-1}
tool=$build/enterprise/common/dml/tools/objpatcher/objpatcher
bench=$build/bench/notation_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One composite of about 100 bytes per array element.
make_input() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
shape, size, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(path, "w") as out:
    if shape == "string":
        head = '.Composite()\n  .Property("ID").String("large-string").Trait("PrimaryKey").Nil().End().End()\n  .Property("Data").String("'
        tail = '").End()\n.End()'
        piece = "The quick brown fox jumps over the lazy dog 0123456789. "
        n = size - len(head) - len(tail)
        out.write(head + (piece * (n // len(piece) + 1))[:n] + tail)
    else:
        out.write('.Composite()\n  .Property("ID").String("large-array").Trait("PrimaryKey").Nil().End().End()\n'
                  '  .Property("Items").Array()\n')
        element = '    .Composite()\n      .Property("n").DWord(%d).End()\n      .Property("s").String("item %08d").End()\n    .End()\n'
        for i in range(size // len(element % (0, 0))):
            out.write(element % (i, i))
        out.write('  .End()\n.End()')
PY
}

run() {
  local input=$1 label=$2 bytes
  bytes=$(stat -c %s "$input")
  local i
  for i in $(seq "$runs"); do
    rm -rf "$work/store" && mkdir -m 700 "$work/store"
    OBJPATCHER_STORE_DIR=$work/store /usr/bin/time -v "$tool" localhost - - DML create "$input" >/dev/null \
      2>"$work/time.$i" || { cat "$work/time.$i"; return 1; }
  done
  # The run of median peak.
  local median
  median=$(for i in $(seq "$runs"); do
    echo "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.$i") $i"
  done | sort -n | sed -n "$(((runs + 1) / 2))p" | cut -d' ' -f2)
  cp "$work/time.$median" "$work/time"
  local wall user sys rss
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
  user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
  sys=$(sed -n 's/.*System time (seconds): //p' "$work/time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  rm -rf "$work/store" && mkdir -m 700 "$work/store"
  local writes
  writes=$(OBJPATCHER_STORE_DIR=$work/store strace -f -c -e trace=write "$tool" localhost - - DML create "$input" 2>&1 >/dev/null |
    awk '$NF == "write" {print $4}')
  # The parse alone, once per fresh process as the tool makes it: the median
  # of three.
  local parse
  parse=$(for _ in 1 2 3; do
    NOTATION_BENCH_FILE=$input "$bench" --benchmark_filter=BM_ReadNotationFile 2>/dev/null |
      awk '$1 ~ /^BM_ReadNotationFile/ {print $2}'
  done | sort -n | sed -n 2p)
  printf '%-7s %9d bytes  wall %s  user %ss sys %ss  peak RSS %d KiB (%.1f bytes per input byte)  writes %s  parse alone %s ms\n' \
    "$label" "$bytes" "$wall" "$user" "$sys" "$rss" "$(echo "$rss * 1024 / $bytes" | bc -l)" "${writes:-?}" "$parse"
}

for mb in $sizes; do
  for shape in string array; do
    make_input "$shape" $((mb * 1000 * 1000)) "$work/$shape.por"
    run "$work/$shape.por" "$shape"
    rm -f "$work/$shape.por"
  done
done

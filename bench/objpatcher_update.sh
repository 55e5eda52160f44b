#!/usr/bin/env bash
# Times objpatcher's "update" by "Pattern" over 2,000 stored objects on each
# road (local: the service inside the tool's process; remote: objpatcher-service
# on an ephemeral loopback port), beside the bare round trips of the IPC
# stand-in (ipc_roundtrip_bench, 2,000-byte packets).
#
#   bench/objpatcher_update.sh [build folder, default build/opt] [objects, default 2000] [runs, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/opt}
objects=${2:-2000}
runs=${3:-5}
tool=$build/enterprise/common/dml/tools/objpatcher/objpatcher
service=$build/service/objpatcher-service
work=$(mktemp -d)
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export OBJPATCHER_STORE_DIR=$work/store
password=bench-password
mkdir -p -m 700 "$OBJPATCHER_STORE_DIR"

echo "$password" | "$service" adduser "$work/users" bench
"$service" --listen 127.0.0.1 --port 0 --port-file "$work/port" --store "$OBJPATCHER_STORE_DIR/objects.db" \
  "$work/users" &
service_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

object() {
  printf '.Composite() .Property("ID").String("o%s") .Trait("PrimaryKey").Nil().End() .End()' "$1"
  printf ' .Property("Kind").String("bench").End() .Property("Round").DWord(0).End() .End()'
}
export -f object

update='.Composite() .Property("Pattern").Composite() .Property("Kind").String("bench").End() .End()
 .Property("Diff").Composite() .Trait("PackedDiff").Nil().End() .Property("Round").DWord(1).End() .End() .End()'

for road in local remote; do
  if [ "$road" = local ]; then host=localhost; word=DML; else host=127.0.0.1:$port; word=HUB; fi
  seq "$objects" | xargs -P 8 -I{} bash -c \
    "\"$tool\" \"$host\" bench \"$password\" $word create from_text \"\$(object {})\" >/dev/null"
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do
    # 2,000 objects or more fill the view: every one is updated, then the run
    # fails because more may match.
    out=$("$tool" "$host" bench "$password" "$word" update from_text "$update") ||
      grep -q "The view was full at its limit" <<<"$out" || { echo "$out" >&2; exit 1; }
  done
  end=$(date +%s%N)
  per_run=$(( (end - start) / runs / 1000 ))
  echo "$road road: update by Pattern over $objects objects: $(( per_run / 1000 )) ms per run," \
       "$(( per_run / objects )) us per object"
done

"$build/bench/ipc_roundtrip_bench" --benchmark_filter='RoadRoundTrip/2000' 2>/dev/null

#!/usr/bin/env bash
# The README's walk through the service process, run as the README gives it:
# the block of commands between the markers "<!-- service walk: begin -->" and
# "<!-- service walk: end -->" of README.md runs in a temporary folder that
# looks like the repository root after the quick start (build/opt is this
# build, examples/ the repository's), with the temporary files of the block
# and the local road's store kept inside that folder. It must add a user,
# start the service, create the example printer on the remote road and stop
# the service, each command succeeding; the service's store must then hold
# the printer.
#
#   readme_service_walk_test.sh SOURCE_DIR BINARY_DIR PYTHON
set -euo pipefail

source_dir=$1
binary_dir=$2
python=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build" "$work/tmp"
ln -s "$binary_dir" "$work/build/opt"
ln -s "$source_dir/examples" "$work/examples"

# The block, without its code fence.
block=$(awk '
  /<!-- service walk: begin -->/ { inside = 1; next }
  /<!-- service walk: end -->/ { inside = 0 }
  inside && !/^```/ { print }
' "$source_dir/README.md")
for part in adduser objpatcher-service objpatcher " create " "kill -TERM"; do
  if [[ $block != *"$part"* ]]; then
    echo "README.md: the service walk between its markers lacks \"$part\":" >&2
    printf '%s\n' "$block" >&2
    exit 1
  fi
done

# Run as a script that stops at the first failing command; a service it
# started is stopped whatever happens.
cat >"$work/walk.sh" <<EOF
set -euo pipefail
trap 'if [ -n "\${service:-}" ]; then kill -TERM "\$service" 2>/dev/null || true; fi' EXIT
$block
service=
EOF
echo "--- the walk, from README.md"
cat "$work/walk.sh"
echo "--- its run"
# The local road's store lies in the work folder too: a walk that took the
# local road by mistake touches no store of the user's.
(cd "$work" && TMPDIR="$work/tmp" OBJPATCHER_STORE_DIR="$work/local-store" bash "$work/walk.sh")

stores=("$work"/tmp/*/objects.db)
if [ ${#stores[@]} -ne 1 ] || [ ! -f "${stores[0]}" ]; then
  echo "the walk should leave one store under its temporary folder; found: ${stores[*]}" >&2
  exit 1
fi
"$python" - "${stores[0]}" <<'EOF'
import sqlite3, sys

rows = sqlite3.connect(sys.argv[1]).execute("SELECT service_code, object_key FROM objects").fetchall()
# One object of the service "HUB" (code 33), whose key is the string "printer-1" in UTF-16.
if len(rows) != 1 or rows[0][0] != 33 or "printer-1".encode("utf-16-le") not in rows[0][1]:
    sys.exit(f"the store should hold printer-1 of HUB, and holds {rows}")
print("the store holds printer-1")
EOF

#!/usr/bin/env bash
# The shared walk under ThreadSanitizer: a generated tree of stale and live
# work areas, links between its parts and long listings, swept with one
# thread and with four; the race detector must stay silent and both runs
# must print the same bytes and leave the same tree.  Usage: tsan_test.sh BINARY
set -euo pipefail
binary=$1
work=$(mktemp -d /tmp/sweepdirs-tsan-XXXXXX)
trap 'kill "$kel" 2>/dev/null; rm -rf "$work"' EXIT
cp "$(command -v sleep)" "$work/KEL.EXE"
"$work/KEL.EXE" 600 & kel=$!
python3 - "$work/tree" "$kel" <<'PY'
import os, random, sys
root, live = sys.argv[1], int(sys.argv[2])
random.seed(7)
def fill(path, depth):
    if os.path.exists(path):
        return
    os.makedirs(path)
    for i in range(random.choice([2, 6, 9] if depth else [150])):
        kind = random.random()
        name = '_TD%d' % (4000000 + i) if kind < 0.1 else '_TD%d' % live if kind < 0.12 else 'd%d' % i
        if depth < 3 or name.startswith('_TD'):
            fill(os.path.join(path, name), depth + 1 if depth < 3 else 9)
        if kind > 0.97:
            os.symlink(os.path.relpath(os.path.join(root, 'd1'), path), os.path.join(path, 'l%d' % i))
fill(root, 0)
PY
for threads in 1 4; do
  for options in "/JSON" "/verbose /SUMMARY"; do
    rm -rf "$work/t$threads" && cp -a "$work/tree" "$work/t$threads"
    # shellcheck disable=SC2086
    TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$binary" $options /v "Z:${work//\//\\}\\t$threads" /MT:$threads \
      2>>"$work/race-$threads.txt" | sed -e "s|t$threads|tX|g" -e 's/[0-9:]\{8\}//' -e '/"start"/d' >>"$work/out-$threads.txt"
  done
  (cd "$work/t$threads" && find . | sort) >"$work/left-$threads.txt"
done
status=0
for threads in 1 4; do
  if [ -s "$work/race-$threads.txt" ]; then cat "$work/race-$threads.txt"; status=1; fi
done
cmp "$work/out-1.txt" "$work/out-4.txt" || { diff "$work/out-1.txt" "$work/out-4.txt" | head -20 || true; status=1; }
cmp "$work/left-1.txt" "$work/left-4.txt" || status=1
grep -q 'REMOVED' "$work/out-4.txt" || { echo "nothing was removed"; status=1; }
echo "tsan: $(wc -l <"$work/out-4.txt") lines alike, status $status"
exit $status

#!/usr/bin/env bash
# The shared walk against the one-thread walk on a generated tree: stale and
# live work areas, unreadable folders, links into areas the walk removes
# (some named like work areas), long listings. With 1 thread and with
# THREADS, each run must print the same bytes and leave the same tree, and
# the race detector (a ThreadSanitizer build) must stay silent. With an
# INTERPOSER the workers' directory opens also fail now and then as if
# out of descriptors, under a descriptor limit of LIMIT.
# Usage: same_as_one.sh BINARY THREADS [INTERPOSER LIMIT]
set -euo pipefail
binary=$1 threads=$2 interposer=${3:-} limit=${4:-}
work=$(mktemp -d /tmp/sweepdirs-threads-XXXXXX)
trap 'kill "$kel" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
cp "$(command -v sleep)" "$work/KEL.EXE"
"$work/KEL.EXE" 600 & kel=$!
host=$(hostname | cut -d. -f1 | cut -c1-15 | tr a-z A-Z)
python3 - "$work/tree" "$kel" "$host" <<'PY'
import os, random, sys
root, live, host = sys.argv[1], int(sys.argv[2]), sys.argv[3]
random.seed(7)
stale = []
def fill(path, depth):
    if os.path.exists(path):
        return
    os.makedirs(path)
    for i in range(random.choice([2, 6, 9] if depth else [150])):
        kind = random.random()
        name = ('_TD%d' % (4000000 + i) if kind < 0.1 else '_TD%d' % live if kind < 0.12 else
                'deny%d' % i if kind < 0.14 else 'd%d' % i)
        if name.startswith('_TD4'):
            stale.append(os.path.join(path, name))
        if depth < 3 or name.startswith('_TD'):
            fill(os.path.join(path, name), depth + 1 if depth < 3 else 9)
        if kind > 0.97:
            os.symlink(os.path.relpath(os.path.join(root, 'd1'), path), os.path.join(path, 'l%d' % i))
        elif kind > 0.94 and stale:  # into an area removed before or after the link is reached
            target = os.path.relpath(random.choice(stale), path)
            os.symlink(target, os.path.join(path, '_TD%d_%s_' % (4100000 + i, host) if kind > 0.955 else 'm%d' % i))
fill(root, 0)
PY
for n in 1 "$threads"; do
  for options in "/JSON" "/verbose /SUMMARY"; do
    rm -rf "$work/t$n" && cp -a "$work/tree" "$work/t$n"
    # shellcheck disable=SC2086
    ([ -z "$limit" ] || ulimit -n "$limit"; export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
     if [ -n "$interposer" ]; then
       export LD_PRELOAD=$interposer SWEEPDIRS_TEST_FAIL=5:deny ASAN_OPTIONS=verify_asan_link_order=0
     fi
     exec "$binary" $options /v "Z:${work//\//\\}\\t$n" /MT:$n) 2>>"$work/race-$n.txt" |
      sed -e "s|t$n|tX|g" -e 's/[0-9:]\{8\}//' -e '/"start"/d' >>"$work/out-$n.txt"
  done
  (cd "$work/t$n" && find . | sort) >"$work/left-$n.txt"
done
status=0
for n in 1 "$threads"; do
  if [ -s "$work/race-$n.txt" ]; then cat "$work/race-$n.txt"; status=1; fi
done
cmp "$work/out-1.txt" "$work/out-$threads.txt" || { diff "$work/out-1.txt" "$work/out-$threads.txt" | head -20 || true; status=1; }
cmp "$work/left-1.txt" "$work/left-$threads.txt" || status=1
grep -q 'REMOVED' "$work/out-$threads.txt" || { echo "nothing was removed"; status=1; }
echo "same as one thread, $threads threads$([ -n "$interposer" ] && echo ", faults${limit:+, limit $limit}"): $(wc -l <"$work/out-$threads.txt") lines alike, status $status"
exit $status

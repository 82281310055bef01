#!/usr/bin/env bash
# The shipped service is hardened (systemd's own rating at most 4.0), and
# with its capabilities and without network it still removes another
# user's stale work areas from a third user's sticky folder (one of them
# named after a live process of that user that is no KEL.EXE) and keeps one
# whose KEL.EXE, run by that user, is alive. Arguments: the source folder, the sweepdirs binary.
set -euo pipefail
unit="$1/packaging/sweepdirs.service"; bin="$2"
fail() { echo "FAIL: $*"; exit 1; }
score=$(systemd-analyze security --offline=yes "$unit" 2>/dev/null | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 4.0) }' || fail "exposure level '$score', not at most 4.0"

work=$(mktemp -d /tmp/sweepdirs-service-XXXXXX)
kel=""; other=""
trap 'kill $kel $other 2>/dev/null; wait; rm -rf "$work"' EXIT
chmod 755 "$work"
install -m 1777 -d "$work/tmp"
# A KEL.EXE that renames itself: only its executable still says KEL.EXE.
cp "$(command -v bash)" "$work/KEL.EXE"
setpriv --reuid=65534 --regid=65534 --clear-groups "$work/KEL.EXE" -c \
  'printf worker >/proc/$$/comm; while sleep 1; do :; done' &
kel=$!
setpriv --reuid=65534 --regid=65534 --clear-groups sleep 600 &
other=$!
host=$(hostname | cut -d. -f1 | cut -c1-15 | tr a-z A-Z)
for pid in 5000001 "$other" "$kel"; do
  mkdir -m 700 "$work/tmp/_TD${pid}_${host}_" && touch "$work/tmp/_TD${pid}_${host}_/data"
done
chown -R 65534:65534 "$work/tmp"/_TD*
chown 65533 "$work/tmp"
caps=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit" | tr ' ' '\n' | sed 's/^CAP_/+/' | tr A-Z a-z | paste -sd,)
# The unit's capability bounding set, no new privileges, no network; the
# events go nowhere here (no journal), which never fails the run.
unshare -n setpriv --bounding-set=-all,"$caps" --inh-caps=-all --no-new-privs \
  "$bin" /v "C:${work//\//\\}\\tmp" /EVENTLOG >"$work/out.txt" 2>/dev/null || fail "exit $?: $(cat "$work/out.txt")"
for pid in 5000001 "$other"; do
  [ ! -e "$work/tmp/_TD${pid}_${host}_" ] || fail "the stale work area $pid stayed: $(cat "$work/out.txt")"
done
[ -e "$work/tmp/_TD${kel}_${host}_/data" ] || fail "the live work area was removed"
echo "1 passed, 0 failed"

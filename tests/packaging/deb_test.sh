#!/usr/bin/env bash
# Builds the .deb from this build, unpacks it into a temporary root and runs
# the installed binary. Argument: the native build folder.
set -euo pipefail
build="$1"
work=$(mktemp -d /tmp/sweepdirs-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg -x "$deb" "$work/root"
for file in usr/bin/sweepdirs usr/share/man/man1/sweepdirs.1 usr/lib/systemd/system/sweepdirs.service \
            usr/lib/systemd/system/sweepdirs.timer usr/share/doc/sweepdirs/README.md; do
  [ -e "$work/root/$file" ] || fail "the package lacks $file"
done
# Nothing enables the units: the package has no maintainer scripts.
dpkg-deb -e "$deb" "$work/control"
[ ! -e "$work/control/postinst" ] || fail "the package has a postinst"

bin="$work/root/usr/bin/sweepdirs"
set +e
"$bin" >"$work/usage.txt"; code=$?
set -e
[ "$code" -eq 1 ] || fail "no arguments: exit $code, not 1"
[ "$(wc -l <"$work/usage.txt")" -eq 13 ] || fail "no arguments: not the 13 usage lines"
head -n 1 "$work/usage.txt" | grep -q '^sweepdirs \[/userlog\]' || fail "the usage text does not start with the program name"
mkdir "$work/empty"
out=$("$bin" /list /d "C:${work//\//\\}\\empty")
[ "$out" = "No files were deleted." ] || fail "/list /d printed: $out"
echo "1 passed, 0 failed"

#!/usr/bin/env bash
# Builds the .deb and the .rpm from this build; both hold the same files and
# no maintainer script; the .deb's binary runs from a temporary root.
# Argument: the native build folder.
set -euo pipefail
build="$1"
work=$(mktemp -d /tmp/sweepdirs-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(cd "$build" && cpack -G "DEB;RPM" -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
rpm=$(ls "$work"/out/*.rpm)
dpkg -x "$deb" "$work/root"
(cd "$work/root" && find . -type f | sed 's/^\.//' | sort) >"$work/deb.txt"
rpm -qlp "$rpm" 2>/dev/null | while read -r f; do [ -d "$work/root$f" ] || echo "$f"; done | sort >"$work/rpm.txt"
[ "$(wc -l <"$work/deb.txt")" -eq 6 ] || fail "the .deb holds: $(cat "$work/deb.txt")"
diff "$work/deb.txt" "$work/rpm.txt" || fail "the .rpm's files differ from the .deb's"
# Nothing enables the units: neither package has maintainer scripts.
dpkg-deb -e "$deb" "$work/control"
[ ! -e "$work/control/postinst" ] || fail "the .deb has a postinst"
[ -z "$(rpm -qp --scripts "$rpm" 2>/dev/null)" ] || fail "the .rpm has scripts"

bin="$work/root/usr/bin/sweepdirs"
set +e
"$bin" >"$work/usage.txt"; code=$?
set -e
[ "$code" -eq 1 ] || fail "no arguments: exit $code, not 1"
head -n 1 "$work/usage.txt" | grep -q '^sweepdirs \[/userlog\]' || fail "the usage text does not start with the program name"
mkdir "$work/empty"
out=$("$bin" /list /d "C:${work//\//\\}\\empty")
[ "$out" = "No files were deleted." ] || fail "/list /d printed: $out"
echo "1 passed, 0 failed"

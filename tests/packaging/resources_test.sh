#!/usr/bin/env bash
# The Windows executable carries its message table, its version and its
# manifest (asInvoker, longPathAware). Argument: the Windows build folder, the version.
set -euo pipefail
exe="$1/sweepdirs.exe"
version="$2"
[ -f "$exe" ] || { echo "no $exe: build the windows preset first"; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }
# The version resource holds its texts in UTF-16. Read once: a grep that
# stops at its first match would end `strings` early, which pipefail counts.
wide=$(strings -el "$exe")
grep -qx "$version" <<<"$wide" || fail "no version $version in the version resource"
grep -qx "OriginalFilename" <<<"$wide" || fail "no OriginalFilename"
grep -qx "sweepdirs.exe" <<<"$wide" || fail "OriginalFilename is not sweepdirs.exe"
grep -q "^Invalid parameter detected: %1" <<<"$wide" || fail "no message table"
manifest=$(strings "$exe")
grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" || fail "manifest lacks asInvoker"
grep -q '<longPathAware[^>]*>true</longPathAware>' <<<"$manifest" || fail "manifest lacks longPathAware"
grep -q "version=\"$version.0\"" <<<"$manifest" || fail "manifest version is not $version.0"
echo "1 passed, 0 failed"

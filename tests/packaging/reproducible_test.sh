#!/usr/bin/env bash
# Two builds of the last commit, in two clones in different folders, the
# second under a clock 36 hours later, give the same bytes in every package.
# One of them, signed with a throwaway certificate, verifies, checks out
# against the other (signatures removed, bit for bit), and its MSI installs
# the signed executable under Wine. Argument: the source folder (its last
# commit is built, not what is uncommitted).
set -euo pipefail
work=$(mktemp -d /tmp/sweepdirs-repro-XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TMPDIR="$work"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
a="$work/a" b="$work/b/in/another/folder"
git clone -q "$1" "$a" && git clone -q "$1" "$b"
"$a/scripts/package.sh" >"$work/a.log" 2>&1 || fail "package.sh: $(tail -5 "$work/a.log")"
faketime -f +36h "$b/scripts/package.sh" >"$work/b.log" 2>&1 || fail "package.sh, later: $(tail -5 "$work/b.log")"
files=$(cd "$a/build/packages" && find . -type f | sed 's|^\./||' | sort)
[ "$(wc -l <<<"$files")" -eq 11 ] || fail "the packages are: $files"
differ=""
for f in $files; do
  cmp -s "$a/build/packages/$f" "$b/build/packages/$f" && continue
  { diffoscope --text - "$a/build/packages/$f" "$b/build/packages/$f" || true; } | head -40
  differ+=" $f"
done
[ -z "$differ" ] || fail "the two builds differ:$differ"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=sweepdirs throwaway" -addext extendedKeyUsage=codeSigning \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo throwaway >"$work/pass"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout file:"$work/pass" -out "$work/cert.p12"
"$a/scripts/sign.sh" "$work/cert.p12" "$work/pass" >"$work/sign.log" 2>&1 || fail "sign.sh: $(tail -5 "$work/sign.log")"
release="$a/build/packages"
msi=$(ls "$release"/*.msi)
for f in "$release/sweepdirs.exe" "$msi"; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$f" >"$work/verify.log" 2>&1 || fail "$f: $(tail -3 "$work/verify.log")"
done
"$b/scripts/check_release.sh" "$release" >"$work/check.log" 2>&1 || fail "the signed release against the rebuild: $(cat "$work/check.log")"

wineboot -i >/dev/null 2>&1 && wineserver -w
wine msiexec /i "$msi" /qn >"$work/msi.log" 2>&1 || fail "the signed MSI does not install: $(tail -5 "$work/msi.log")"
cmp "$WINEPREFIX/drive_c/Program Files/sweepdirs/sweepdirs.exe" "$release/sweepdirs.exe" || fail "the installed executable is not the signed one"
echo "1 passed, 0 failed"

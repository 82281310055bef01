#!/usr/bin/env bash
# The MSI: its tables read back, its winget manifest, and under Wine an
# install that puts sweepdirs on the PATH, an upgrade in place and an
# uninstall that leaves nothing. Arguments: the source folder, the Windows
# build folder, the version.
set -euo pipefail
src="$1"; win="$2"; version="$3"
work=$(mktemp -d /tmp/sweepdirs-msi-XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TMPDIR="$work/tmp"
mkdir "$work/tmp"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
build() { cmake -DVERSION="$1" -DSOURCE_DIR="$src" -DBINARY_DIR="$win" -DOUT_DIR="$work/$1" \
            -DRELEASE_URL=https://example.invalid -P "$src/cmake/windows_installer.cmake"; }
next="${version%.*}.$((${version##*.} + 1))"  # the installer compares three fields only
build "$version"; build "$next"
msi="$work/$version/sweepdirs-$version-x64.msi"
table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
table File | grep -q $'^sweepdirs.exe\tProgram\tsweepdirs.exe' || fail "no sweepdirs.exe in the File table"
table Component | grep -q $'^Program\t{8E5D2C41-7B0A-4F3E-A6D1-2C9B7E4F1A05}\tINSTALLDIR' || fail "no stable component"
table Environment | grep -q $'\t=-\\*PATH\t\\[~\\];\\[INSTALLDIR\\]\tProgram$' || fail "no PATH entry"
table Property | grep -qx $'ProductVersion\t'"$version" || fail "ProductVersion is not $version"
table Property | grep -qx $'UpgradeCode\t{5B0F8A36-3C4E-4C71-9E0B-1F6A3D2C9A10}' || fail "UpgradeCode changed"
# The winget manifest parses and names this MSI.
python3 - "$work/$version/winget" "$version" "$(sha256sum "$msi" | cut -d' ' -f1)" <<'PY' || fail "winget manifest"
import glob, sys, yaml
docs = [yaml.safe_load(open(f)) for f in sorted(glob.glob(sys.argv[1] + "/*.yaml"))]
assert len(docs) == 3 and all(d["PackageVersion"] == sys.argv[2] for d in docs), docs
assert {d["ManifestType"] for d in docs} == {"version", "installer", "defaultLocale"}
installer = next(d for d in docs if d["ManifestType"] == "installer")["Installers"][0]
assert installer["InstallerSha256"] == sys.argv[3].upper(), installer
PY

wineboot -i >/dev/null 2>&1 && wineserver -w
products() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' | grep -c 'DisplayName.*sweepdirs$' || true; }
installed="$WINEPREFIX/drive_c/Program Files/sweepdirs"
wine msiexec /i "$msi" /qn >"$work/msi.log" 2>&1 || fail "msiexec /i failed: $(tail -5 "$work/msi.log")"
[ -f "$installed/sweepdirs.exe" ] && [ -f "$installed/README.md" ] && [ -f "$installed/LICENSE" ] || fail "files not installed"
# The event source of /EVENTLOG: its message file is the installed executable.
source_key() { wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\sweepdirs' 2>/dev/null | tr -d '\r' || true; }
source_key | grep -q 'EventMessageFile *REG_SZ *C:\\Program Files\\sweepdirs\\sweepdirs.exe$' || fail "no event source: $(source_key)"
source_key | grep -q 'TypesSupported *REG_DWORD *0x7$' || fail "event types: $(source_key)"
wineserver -w  # a new session reads the system PATH afresh
wine cmd /c 'sweepdirs & echo exit=%ERRORLEVEL%' >"$work/run.txt" 2>/dev/null || true
head -n 1 "$work/run.txt" | grep -q '^sweepdirs \[/userlog\]' || fail "sweepdirs not found by name: $(head -c 300 "$work/run.txt")"
grep -q '^exit=1' <(tr -d '\r' <"$work/run.txt") || fail "the usage did not end with exit code 1"
wine msiexec /i "$work/$next/sweepdirs-$next-x64.msi" /qn >/dev/null 2>&1 || fail "upgrade failed"
[ "$(products)" -eq 1 ] || fail "$(products) products installed after the upgrade"
wine msiexec /x "$work/$next/sweepdirs-$next-x64.msi" /qn >/dev/null 2>&1 || fail "msiexec /x failed"
[ ! -e "$installed" ] || fail "files left after uninstall: $(ls "$installed")"
if source_key | grep -q '^HKEY.*\\sweepdirs$'; then fail "event source left after uninstall: $(source_key)"; fi
[ "$(products)" -eq 0 ] || fail "a product is still registered"
echo "1 passed, 0 failed"

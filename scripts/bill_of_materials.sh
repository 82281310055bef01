#!/usr/bin/env bash
# Writes the bill of materials of a package folder (SPDX 2.3, JSON): the two
# executables and what is compiled or linked into them, each library with the
# version of the Debian package it came from and its licence. The libraries
# are found, not listed by hand: the Windows runtimes as the cross compiler
# resolves them, the POSIX libraries as the loader does (without any preloaded).
# Arguments: the package folder (holds sweepdirs.exe and sweepdirs), the version.
set -euo pipefail
out="$1"; version="$2"
cross=x86_64-w64-mingw32-g++

license() {
  case "$1" in
    mingw-w64-x86-64-dev) echo "ZPL-2.1" ;;  # the runtime; winpthreads' own is below
    gcc-mingw-w64-*|g++-mingw-w64-*|libstdc++6|libgcc-s1) echo "GPL-3.0-or-later WITH GCC-exception-3.1" ;;
    libc6) echo "LGPL-2.1-or-later" ;;
    rapidjson-dev) echo "MIT" ;;
    *) echo "NOASSERTION" ;;
  esac
}
owner() {  # the Debian package that holds a file, by its path or the path it resolves to
  { dpkg -S "$1" 2>/dev/null || dpkg -S "$(realpath "$1")"; } | head -n 1 | cut -d: -f1
}

packages=() relations=()
link() {  # link USER RELATION USED
  relations+=("$(printf '{"spdxElementId": "SPDXRef-%s", "relationshipType": "%s", "relatedSpdxElement": "SPDXRef-%s"}' "$1" "$2" "$3")")
}
add() {  # add SPDX-ID NAME DEBIAN-PACKAGE COMMENT
  local v arch; v=$(dpkg-query -W -f='${Version}' "$3"); arch=$(dpkg-query -W -f='${Architecture}' "$3")
  local lic; lic=$(license "$3")
  [ "$1" != winpthreads ] || lic="MIT AND BSD-3-Clause"
  packages+=("$(printf '{"SPDXID": "SPDXRef-%s", "name": "%s", "versionInfo": "%s", "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": false, "licenseConcluded": "%s", "licenseDeclared": "%s", "copyrightText": "NOASSERTION", "comment": "%s", "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": "pkg:deb/debian/%s@%s?arch=%s"}]}' \
    "$1" "$2" "$v" "$lic" "$lic" "$4" "$3" "${v//+/%2B}" "$arch")")
}
binary() {  # binary SPDX-ID FILE COMMENT
  local sum; sum=$(sha256sum "$out/$2" | cut -d' ' -f1)
  packages+=("$(printf '{"SPDXID": "SPDXRef-%s", "name": "%s", "versionInfo": "%s", "supplier": "Organization: sweepdirs developers", "downloadLocation": "NOASSERTION", "filesAnalyzed": false, "primaryPackagePurpose": "APPLICATION", "checksums": [{"algorithm": "SHA256", "checksumValue": "%s"}], "licenseConcluded": "MIT", "licenseDeclared": "MIT", "copyrightText": "NOASSERTION", "comment": "%s"}' \
    "$1" "$2" "$version" "$sum" "$3")")
  link DOCUMENT DESCRIBES "$1"
}

binary exe sweepdirs.exe "Windows x64, statically linked; it imports only system DLLs."
binary posix sweepdirs "Linux x86-64, dynamically linked."
add mingw-w64-runtime "mingw-w64 runtime (CRT)" "$(owner "$($cross -print-file-name=libmingwex.a)")" \
  "The C runtime's startup and support code; parts of it are public domain or under other permissive terms, as its copyright file lists."
add libstdcxx-mingw "libstdc++ (mingw-w64)" "$(owner "$($cross -print-file-name=libstdc++.a)")" "The C++ standard library, static."
add libgcc-mingw "libgcc (mingw-w64)" "$(owner "$($cross -print-libgcc-file-name)")" "GCC's support library, static."
for id in mingw-w64-runtime libstdcxx-mingw libgcc-mingw; do link exe STATIC_LINK $id; done
if $cross -v 2>&1 | grep -q '^Thread model: posix'; then
  add winpthreads "winpthreads" "$(owner "$($cross -print-file-name=libwinpthread.a)")" "POSIX threads for Windows, static."
  link exe STATIC_LINK winpthreads
fi
add rapidjson "RapidJSON" "$(owner /usr/include/rapidjson/writer.h)" "Header-only JSON writer, compiled in."
link exe STATIC_LINK rapidjson
link posix STATIC_LINK rapidjson
declare -A seen=()
while read -r lib; do
  pkg=$(owner "$lib")
  [ -z "${seen[$pkg]:-}" ] || continue
  seen[$pkg]=1
  id="posix-${pkg//+/x}"  # an SPDX id has no '+'
  add "$id" "$pkg" "$pkg" "Shared library, loaded at run time: $(basename "$lib")."
  link posix DYNAMIC_LINK "$id"
done < <(env -u LD_PRELOAD ldd "$out/sweepdirs" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort)

digest=$(cat "$out/sweepdirs.exe" "$out/sweepdirs" | sha256sum | cut -c1-16)
join() { local IFS=,; echo "$*"; }
{
  printf '{"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT", "name": "sweepdirs-%s",\n' "$version"
  printf ' "documentNamespace": "https://example.invalid/sweepdirs/spdx/sweepdirs-%s-%s",\n' "$version" "$digest"
  printf ' "creationInfo": {"created": "%s", "creators": ["Tool: sweepdirs scripts/bill_of_materials.sh"]},\n' \
    "$(date -u -d "@${SOURCE_DATE_EPOCH:-0}" +%Y-%m-%dT%H:%M:%SZ)"
  printf ' "packages": [\n  %s],\n' "$(join "${packages[@]}" | sed 's/},{"SPDXID"/},\n  {"SPDXID"/g')"
  printf ' "relationships": [\n  %s]}\n' "$(join "${relations[@]}" | sed 's/},{/},\n  {/g')"
} >"$out/sweepdirs-$version.spdx.json"

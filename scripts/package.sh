#!/usr/bin/env bash
# Builds the packages into build/packages: a ZIP and an MSI of the Windows
# executable with the MSI's winget manifest, a .deb, an .rpm and a .tar.gz of
# the POSIX port, both executables as they are, and the bill of materials.
# The same commit gives the same bytes in any folder and at any time: every
# time stamp is the last commit's time (SOURCE_DATE_EPOCH, unless it is set).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build g++ rapidjson-dev libsystemd-dev mingw-w64 dpkg-dev rpm wixl msitools faketime zip git openssl osslsigncode
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)} || { echo "not a git clone: set SOURCE_DATE_EPOCH"; exit 1; }
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022
out=build/packages
rm -rf "$out"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
cmake --build --preset windows --target msi >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSWEEPDIRS_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
(cd build/release && cpack -G "DEB;RPM" >/dev/null)
rm -rf "$out/_CPack_Packages"
# The .tar.gz: the installed tree, members sorted by name, owned by root.
version=$(sed -n 's/^project(sweepdirs VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tree=sweepdirs-$version-Linux
rm -rf build/release/tgz
cmake --install build/release --prefix "$PWD/build/release/tgz/$tree" >/dev/null
tar -C build/release/tgz --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=root:0 --group=root:0 --format=gnu \
  -cf - "$tree" | gzip -9n >"$out/$tree.tar.gz"
cp build/windows/sweepdirs.exe build/release/sweepdirs "$out/"
scripts/bill_of_materials.sh "$out" "$version"
(cd "$out" && find . -type f | sort)

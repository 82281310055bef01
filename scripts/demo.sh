#!/usr/bin/env bash
# Builds sweepdirs and runs it on a demo tree: stale, live and foreign work
# areas side by side, the live one owned by a real running KEL.EXE. Each
# command is printed before it runs, and its exit code after.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
packages=(cmake ninja-build g++ rapidjson-dev libsystemd-dev coreutils)
echo "The demo needs these Debian packages: ${packages[*]} (any that are missing are installed now with apt-get)."
need_packages "${packages[@]}"

echo "Building build/demo/sweepdirs ..."
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DSWEEPDIRS_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" --target sweepdirs >/dev/null
bin="$PWD/build/demo/sweepdirs"

demo=$(mktemp -d /tmp/sweepdirs-demo-XXXXXX)
host=$(hostname | cut -d. -f1 | cut -c1-15 | tr a-z A-Z)
cp "$(command -v sleep)" "$demo/KEL.EXE"
"$demo/KEL.EXE" 600 &
kel=$!
trap 'kill $kel 2>/dev/null; rm -rf "$demo"' EXIT

dead=5000000
work="$demo/work"
mkdir -p "$work/_TD${dead}_${host}_/scratch" "$work/_TD${kel}_${host}_" "$work/_TD${dead}_OTHERPC_" \
         "$work/KEL_util0000$(printf '%08X' $dead)_${host}" "$work/projects"
echo data > "$work/_TD${dead}_${host}_/scratch/file.tmp"

# Prints the command, runs it, prints its exit code.
run() {
  echo "\$ sweepdirs $*"
  local code=0
  "$bin" "$@" || code=$?
  echo "(exit code $code)"
  echo
}

echo
echo "Demo tree $work (this computer: $host, live KEL.EXE: process $kel)"
ls -1 "$work" | sed 's/^/  /'
echo
run --version
run /list /verbose /d "$work"
run /verbose /summary /d "$work"
echo "Left in the tree:"
ls -1 "$work" | sed 's/^/  /'

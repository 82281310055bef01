#!/usr/bin/env bash
# The sweepdirs benchmark: ./bench/run.sh (full), ./bench/run.sh --quick (tiny
# trees, one run: the correctness checks, as CI runs it). Ratios, never limits.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build g++ gcc python3 time strace fd-find python3-matplotlib
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSWEEPDIRS_TESTS=OFF >/dev/null
cmake --build build/release --target sweepdirs >/dev/null
mkdir -p build/bench
gcc -O2 -o build/bench/floor_walk bench/floor_walk.c
gcc -O2 -o build/bench/proc_scan bench/proc_scan.c
/usr/bin/python3 bench/bench.py build/release/sweepdirs build/bench/floor_walk build/bench/proc_scan "$@"
# /MINAGE: the list walk of the mix10 tree reading every stale candidate's age, against the same walk without it.
m=$(mktemp -d /var/tmp/sweepdirs-minage.XXXXXX) && trap 'rm -rf "$m"' EXIT
/usr/bin/python3 bench/gen_tree.py mix10 "$m/t" --live-pid $$ --size "$([[ " $* " == *" --quick "* ]] && echo quick || echo full)" >/dev/null
for o in /list "/list /MINAGE:1"; do /usr/bin/time -f "minage: $o /v mix10 %e s" build/release/sweepdirs $o /v "C:${m//\//\\}\\t" >/dev/null; done

#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a bounded time
# (seconds per target: the first argument, 60 by default) from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages cmake ninja-build clang libclang-rt-14-dev rapidjson-dev libsystemd-dev
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
for target in command_line work_area_name log_name; do
  work=$(mktemp -d /tmp/sweepdirs-fuzz-XXXXXX)
  cp -r "tests/fuzz/corpus/$target/." "$work/"
  echo "fuzz_$target: ${seconds}s"
  if ! build/fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
       -artifact_prefix="$work/" "$work" 2>"$work.log"; then
    status=1
    tail -n 40 "$work.log"
    echo "fuzz_$target found a failure; the input is in $work"
  else
    grep -E "^stat::number_of_executed_units|^Done" "$work.log" || true
    rm -rf "$work" "$work.log"
  fi
done
exit $status

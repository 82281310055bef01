#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own.
# Layers, bottom up: platform, common, workarea, logs, driver; the two
# main.cpp entry points sit on top and may include the driver.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() { case "$1" in platform) echo 0 ;; common) echo 1 ;; workarea) echo 2 ;; logs) echo 3 ;; driver) echo 4 ;; *) echo 9 ;; esac; }
bad=0
while IFS=: read -r file header; do
  [[ "$file" == src/platform/*/main.cpp ]] && continue
  own=$(rank "$(cut -d/ -f2 <<<"$file")")
  dep=$(rank "$(cut -d/ -f1 <<<"$header")")
  if [ "$dep" -gt "$own" ]; then echo "upward include: $file -> $header"; bad=1; fi
done < <(grep -rHo '#include "[a-z_]*/[^"]*"' src | sed 's/#include "\(.*\)"/\1/')
exit $bad

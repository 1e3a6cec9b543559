#!/usr/bin/env bash
# The window's memory for a big grid: the ISO command on a generated 1 GB
# transaction file (about 2,000,000 messages), offscreen, with GNU time's
# peak resident size. Target: at most 150 bytes of peak memory per row.
#   bench/window_memory.sh [BUILD_DIR] [SIZE_BYTES]      (defaults: build, 1073741824)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build}/bin
size=${2:-1073741824}
for tool in kalvrin-gen kalvrin-window-bench; do
  [[ -x $bin/$tool ]] || { echo "missing $bin/$tool: build with scripts/build ${1:-build}" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/batch.dat
"$bin/kalvrin-gen" "$file" --size "$size" --seed 3

report=$(QT_QPA_PLATFORM=offscreen /usr/bin/time -v "$bin/kalvrin-window-bench" "$file" 2>&1)
grep -E '^(window iso|grid rows|event loop)' <<<"$report"
rows=$(sed -n 's/^window iso: [0-9.]* s, \([0-9]*\) rows.*/\1/p' <<<"$report")
peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\).*/\1/p' <<<"$report")
per_row=$(awk -v k="$peak_kb" -v r="$rows" 'BEGIN { printf "%.1f", k * 1024 / r }')
echo "peak resident: $peak_kb KB, $per_row bytes per row (target <= 150)"
if awk -v p="$per_row" 'BEGIN { exit !(p <= 150) }'; then echo PASS; else echo FAIL; exit 1; fi

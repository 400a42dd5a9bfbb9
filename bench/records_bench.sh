#!/usr/bin/env bash
# The start-up passes over the transfer records against reading the same
# file with cat, in one run: wall time and peak memory for files of
# 10,000 and 100,000 records. Two pass runs per file: the first meets a file
# where 40% of records need a reset and most old ones a purge (many
# writes); the second meets the tidied file (reads only). A benchmark, not a
# test: compare the ratios of one run.
#
# Environment: BUILD_DIR (default build-bench, RelWithDebInfo), SIZES
# (default "10000 100000"), REPEAT (default 3; the median is kept).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
sizes=${SIZES:-10000 100000}
repeat=${REPEAT:-3}
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: apt-get install time" >&2; exit 1; }
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target records_bench >/dev/null
bench=$(cd "$build" && pwd)/bin/records_bench

work=$(mktemp -d /tmp/records-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Seconds (ms resolution) and peak resident KiB of one command.
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o rss.txt "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(cat rss.txt)"
}
median() { sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'; }

printf '%-8s %-10s %10s %10s %12s\n' records run "ms" "peak KiB" "ms / cat"
for n in $sizes; do
  "$bench" make "$n"
  cp qvxfer.dat original.dat
  cat qvxfer.dat >/dev/null  # warm the cache for both sides
  cat_ms=() cat_kib=() first_ms=() first_kib=() second_ms=() second_kib=()
  for _ in $(seq "$repeat"); do
    cp original.dat qvxfer.dat
    read -r ms kib < <(measure cat qvxfer.dat); cat_ms+=("$ms"); cat_kib+=("$kib")
    read -r ms kib < <(measure "$bench" passes); first_ms+=("$ms"); first_kib+=("$kib")
    read -r ms kib < <(measure "$bench" passes); second_ms+=("$ms"); second_kib+=("$kib")
  done
  c=$(printf '%s\n' "${cat_ms[@]}" | median)
  for run in cat first second; do
    eval "ms=\$(printf '%s\n' \"\${${run}_ms[@]}\" | median)"
    eval "kib=\$(printf '%s\n' \"\${${run}_kib[@]}\" | median)"
    printf '%-8s %-10s %10s %10s %12s\n' "$n" "$run" "$ms" "$kib" \
      "$(awk -v a="$ms" -v b="$c" 'BEGIN { printf "%.2f", b > 0 ? a / b : 0 }')"
  done
done
echo "file: $(stat -c %s qvxfer.dat) bytes for the last size; deleted by the 'all' filter in one first run: $(cp original.dat qvxfer.dat; "$bench" passes)"

#!/usr/bin/env bash
# Adds 1000 photographs (hard links to the benchmark photos, each decoded as
# its own file) to the main window offscreen through the folder job, and
# prints the time it takes and the window's longest pause. Beside it,
# vipsheader reads the header of every file: the ratio says what our full
# check of each candidate costs against reading headers only.
set -euo pipefail
here=$(dirname "$0")
PV_PHOTOS=${PV_PHOTOS:-8}
source "$here/photos.sh"
count=${PV_WINDOW_PHOTOS:-1000}
mkdir -p "$work/many"
mapfile -t sources < <(ls "$work/in")
for ((i = 0; i < count; i++)); do
  ln "$work/in/${sources[i % ${#sources[@]}]}" "$work/many/photo$(printf %04d "$i").jpg"
done
bench=$(dirname "$exe")/bench_window_add
line=$(QT_QPA_PLATFORM=offscreen "$bench" "$work/many/")
echo "window: $line"
ours=$(sed -E 's/.* in ([0-9.]+) s.*/\1/' <<<"$line")
start=$(date +%s.%N)
vipsheader "$work"/many/*.jpg >/dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v ours="$ours" -v n="$count" 'BEGIN {
  printf "vipsheader over the same %d files: %.2f s; ratio (peer time / ours): %.3f\n", n, e - s, (e - s) / ours }'

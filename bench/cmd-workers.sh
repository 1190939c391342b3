#!/usr/bin/env bash
# The same whole runs on one worker and on one worker per core, alternating:
# the ratio printed is the speed-up of the workers (time on one / time on all).
# JPEG to JPEG with a 50 % bicubic resize, and JPEG to PNG, over real photos.
set -euo pipefail
build=${1:-build/bench}
here=$(dirname "$0")
exe=$(cd "$build/bin" && pwd)/pictoravine
"$here/need-packages" mate-backgrounds lomiri-wallpapers-16.04
mapfile -t photos < <(find /usr/share/backgrounds -iname '*.jpg' -size +200k | sort | head -16)
((${#photos[@]})) || { echo "cmd-workers: no photographs under /usr/share/backgrounds" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/data"
for f in "${photos[@]}"; do cp "$f" "$work/in/$(basename "$f" | tr ' ' _)"; done
export PICTORAVINE_DATA_DIR=$work/data
echo "photos: ${#photos[@]} ($(du -sh "$work/in" | cut -f1)), cores: $(nproc)"
clear="rm -rf $work/out/*"
run() { echo "$exe --silent --output $work/out --file $work/in $*"; }
"$here/compare" --name "workers jpeg->jpeg 50% bicubic" --setup "$clear" \
  --ours "$(run --threads 0 --convert JPG 0 24 65 --filter resize 4 1 50 50 0 0)" \
  --peer "1 worker" "$(run --threads 1 --convert JPG 0 24 65 --filter resize 4 1 50 50 0 0)"
"$here/compare" --name "workers jpeg->png" --setup "$clear" \
  --ours "$(run --threads 0 --convert PNG 0 0 6)" \
  --peer "1 worker" "$(run --threads 1 --convert PNG 0 0 6)"

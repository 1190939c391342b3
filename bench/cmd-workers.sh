#!/usr/bin/env bash
# The same whole runs on one worker and on one worker per core, alternating:
# the ratio printed is the speed-up of the workers (time on one / time on all).
# JPEG to JPEG with a 50 % bicubic resize, and JPEG to PNG, over real photos.
set -euo pipefail
PV_PEER_PACKAGES=() PV_PHOTOS=16
source "$(dirname "$0")/photos.sh"
here=$(dirname "$0")
clear="rm -rf $work/out/*"
run() { echo "$exe --silent --output $work/out --file $work/in $*"; }
"$here/compare" --name "workers jpeg->jpeg 50% bicubic" --setup "$clear" \
  --ours "$(run --threads 0 --convert JPG 0 24 65 --filter resize 4 1 50 50 0 0)" \
  --peer "1 worker" "$(run --threads 1 --convert JPG 0 24 65 --filter resize 4 1 50 50 0 0)"
"$here/compare" --name "workers jpeg->png" --setup "$clear" \
  --ours "$(run --threads 0 --convert PNG 0 0 6)" \
  --peer "1 worker" "$(run --threads 1 --convert PNG 0 0 6)"

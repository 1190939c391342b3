#!/usr/bin/env bash
# Our whole runs beside libvips in one process for the whole batch
# (bench/vips_peer.cpp, built here against libvips-dev), the peer that pays
# no start-up a file: the ratio is its time over ours (above 1: we are
# faster), then the bytes each wrote.
set -euo pipefail
PV_PEER_PACKAGES=(libvips-dev) PV_PHOTOS=${PV_PHOTOS:-8}
source "$(dirname "$0")/photos.sh"
here=$(cd "$(dirname "$0")" && pwd)
peer=$work/vips_peer
g++ -O2 -std=c++17 -o "$peer" "$here/vips_peer.cpp" $(pkg-config --cflags --libs vips-cpp)
clear="rm -rf $work/out/*"
ours() { echo "$exe --silent --output $work/out --file $work/in --convert $*"; }
theirs() { echo "$peer $1 $work/out $work/in/*.jpg"; }
bytes() {
  bash -c "$clear"
  bash -c "$1" >/dev/null 2>&1
  du -sb "$work/out" | cut -f1
}
run() {  # name, our convert options, peer workload; PV_ONLY picks workloads by name
  [[ -z ${PV_ONLY:-} || $1 =~ $PV_ONLY ]] || return 0
  "$here/compare" --runs "${PV_RUNS:-3}" --name "$1" --setup "$clear" --ours "$(ours "$2")" \
    --peer "libvips in-process" "$(theirs "$3")"
  echo "$1 bytes: pictoravine $(bytes "$(ours "$2")"), libvips $(bytes "$(theirs "$3")")"
}
run "jpeg->png (filtered)" "PNG 0 0 6" png
run "jpeg->png vs unfiltered" "PNG 0 0 6" png-plain
# Quality factor 40 is libjpeg quality 85; both 4:4:4.
run "jpeg->jpeg q85 50% bicubic" "JPG 1 24 40 --filter resize 4 1 50 50 0 0" jpeg-half
run "jpeg->tiff lzw" "TIF 9" tiff-lzw
run "jpeg->gif 256 dithered" "GIF 0 8" gif
run "jpeg->webp q80" "WEBP 0 24 80 4" webp
run "jpeg->avif q60" "AVIF 0 24 60 5" avif
run "jpeg->heic q50" "HEIC 0 24 50 3" heic
run "jpeg->jxl q90" "JXL 0 24 90 7" jxl

#!/usr/bin/env bash
# Our whole runs beside libvips in one process for the whole batch
# (bench/vips_peer.cpp, built here against libvips-dev), the peer that pays
# no start-up a file: the ratio is its time over ours (above 1: we are
# faster), then the bytes each wrote.
set -euo pipefail
PV_PEER_PACKAGES=(libvips-dev libvips-tools graphicsmagick imagemagick-6.q16) PV_PHOTOS=${PV_PHOTOS:-8}
source "$(dirname "$0")/photos.sh"
here=$(cd "$(dirname "$0")" && pwd)
peer=$work/vips_peer
g++ -O2 -std=c++17 -o "$peer" "$here/vips_peer.cpp" $(pkg-config --cflags --libs vips-cpp)
# The codec floor (bench/codec_floor.cpp): only the codec work of png,
# jpeg-half and tiff-lzw, on one thread; its CPU ratio is how close we are.
floor=$work/codec_floor
g++ -O2 -std=c++20 -o "$floor" "$here/codec_floor.cpp" $(pkg-config --cflags --libs libjpeg libtiff-4 libdeflate)
clear="rm -rf $work/out/*"
ours() { echo "$exe --silent --output $work/out --file $work/in --convert $*"; }
theirs() { echo "$peer $1 $work/out $work/in/*.jpg"; }
# The same peer as two processes on the two halves of the batch, as GNU
# Parallel would run it on a two-core machine: the fair wall-time peer.
halves() {
  local files=("$work"/in/*.jpg) half
  half=$(((${#files[@]} + 1) / 2))
  echo "$peer $1 $work/out ${files[*]:0:half} & $peer $1 $work/out ${files[*]:half} & wait"
}
bytes() {
  bash -c "$clear"
  bash -c "$1" >/dev/null 2>&1
  du -sb "$work/out" | cut -f1
}
# One process a file, as a shell loop runs them.
each() { echo "for f in $work/in/*.jpg; do b=\$(basename \"\$f\" .jpg); $1; done"; }
run() {  # name, our convert options, peer workload[, GraphicsMagick, ImageMagick, vips per file]
  [[ -z ${PV_ONLY:-} || $1 =~ $PV_ONLY ]] || return 0
  local peers=(--peer "libvips in-process" "$(theirs "$3")" --peer "libvips, 2 halves" "$(halves "$3")")
  case $3 in png | jpeg-half | tiff-lzw) peers+=(--peer "codec floor" "$floor $3 $work/out $work/in/*.jpg") ;; esac
  [[ -z ${4:-} ]] || peers+=(--peer "gm per file" "$(each "gm convert \"\$f\" $4")")
  [[ -z ${5:-} ]] || peers+=(--peer "convert per file" "$(each "convert-im6.q16 \"\$f\" $5")")
  [[ -z ${6:-} ]] || peers+=(--peer "vips per file" "$(each "$6")")
  "$here/compare" --runs "${PV_RUNS:-3}" --name "$1" --setup "$clear" --ours "$(ours "$2")" "${peers[@]}"
  echo "$1 bytes: pictoravine $(bytes "$(ours "$2")"), libvips $(bytes "$(theirs "$3")")"
}
out=$work/out
run "jpeg->png (filtered)" "PNG 0 0 6" png \
  "-quality 65 $out/\$b.png" "-quality 65 $out/\$b.png" "vips copy \"\$f\" '$out/\$b.png[compression=6,filter=all]'"
run "jpeg->png vs unfiltered" "PNG 0 0 6" png-plain
# Quality factor 40 is libjpeg quality 85; all 4:4:4.
run "jpeg->jpeg q85 50% bicubic" "JPG 1 24 40 --filter resize 4 1 50 50 0 0" jpeg-half \
  "-filter Catrom -resize 50% -quality 85 -sampling-factor 1x1 $out/\$b.jpg" \
  "-filter Catrom -resize 50% -quality 85 -sampling-factor 1x1 $out/\$b.jpg" \
  "vips resize \"\$f\" '$out/\$b.jpg[Q=85,subsample-mode=off]' 0.5 --kernel cubic"
run "jpeg->tiff lzw" "TIF 9" tiff-lzw \
  "-compress LZW $out/\$b.tif" "-compress LZW $out/\$b.tif" "vips copy \"\$f\" '$out/\$b.tif[compression=lzw]'"
# Fit in 1920x1080, Gaussian blur (radius 2 half-pixels: sigma 1), unsharp
# mask (100 %, sigma 2), brightness +10 %, contrast +10 %, JPEG quality 85.
# Our fit gives a landscape photo the box's width (the program's rule), so a
# 4:3 photo comes out 1920x1440 where the peers make 1440x1080: a third more
# pixels for us to filter and write.
run "chain -> jpeg q85" \
  "JPG 1 24 40 --filter resize 4 0 1920 1080 1 1 --filter gaussian 2 --filter unsharpmask 100 4 0 0 --filter brightness 100 --filter contrast 100" \
  chain \
  "-filter Catrom -resize 1920x1080 -gaussian 0x1 -unsharp 0x2+1+0 -modulate 110 -contrast -quality 85 -sampling-factor 1x1 $out/\$b.jpg" \
  "-filter Catrom -resize 1920x1080 -gaussian-blur 0x1 -unsharp 0x2+1+0 -brightness-contrast 10x10 -quality 85 -sampling-factor 1x1 $out/\$b.jpg"
run "jpeg->gif 256 dithered" "GIF 0 8" gif \
  "-colors 256 $out/\$b.gif" "-colors 256 $out/\$b.gif" "vips copy \"\$f\" '$out/\$b.gif[dither=1,bitdepth=8]'"
run "jpeg->webp q80" "WEBP 0 24 80 4" webp
run "jpeg->avif q60" "AVIF 0 24 60 5" avif
run "jpeg->heic q50" "HEIC 0 24 50 3" heic
run "jpeg->jxl q90" "JXL 0 24 90 7" jxl

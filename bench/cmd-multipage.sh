#!/usr/bin/env bash
# Multi-page files in one pass: a TIFF of 500, 1000 and 2000 pages to TIFF LZW,
# and a GIF of 125, 250 and 500 frames to GIF, beside ImageMagick and vips on
# the same files. Prints each run and the pages per second of ours: time
# that grows with the pages, not with their square, keeps that figure flat.
set -euo pipefail
PV_PEER_PACKAGES=(imagemagick libvips-tools) PV_PHOTOS=1
source "$(dirname "$0")/photos.sh"
here=$(dirname "$0")
photo=$(find "$work/in" -type f | head -n 1)
clear="rm -rf $work/out/*"
perSecond() {  # pages, the line of ours that compare printed
  awk -v pages="$1" '/ pictoravine / { for (i = 1; i <= NF; ++i) if ($(i + 1) == "ms" && $(i + 2) == "wall") {
    printf "  %d pages: %.0f pages per second\n", pages, pages * 1000 / $i; exit } }' <<<"$2"
}
for pages in 500 1000 2000; do
  convert-im6.q16 "$photo" -resize 160x120 -duplicate $((pages - 1)) -compress lzw "$work/pages.tif"
  out=$("$here/compare" --runs 3 --name "tiff $pages pages" --setup "$clear" \
    --ours "$exe --silent --output $work/out --convert TIF 9 --file $work/pages.tif" \
    --peer convert "convert-im6.q16 $work/pages.tif -compress lzw $work/out/pages.tif" \
    --peer vips "vips copy '$work/pages.tif[n=-1]' '$work/out/pages.tif[compression=lzw]'")
  echo "$out"
  perSecond "$pages" "$out"
done
for frames in 125 250 500; do
  convert-im6.q16 "$photo" -resize 160x120 -duplicate $((frames - 1)) "$work/frames.gif"
  out=$("$here/compare" --runs 3 --name "gif $frames frames" --setup "$clear" \
    --ours "$exe --silent --output $work/out --convert GIF --file $work/frames.gif" \
    --peer convert "convert-im6.q16 $work/frames.gif $work/out/frames.gif")
  echo "$out"
  perSecond "$frames" "$out"
done

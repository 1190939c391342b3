#!/usr/bin/env bash
# Pixel operations on a 24-megapixel photograph beside ImageMagick and libvips,
# each command loading a JPEG and writing an uncompressed TIFF.
set -euo pipefail
build=${1:-build/bench}
here=$(dirname "$0")
tool=$build/bin/bench_codec
need=()
for pkg in mate-backgrounds libvips-tools imagemagick-6.q16; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  sudo=""; [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The largest wallpaper, brought to 6000 x 4000 (24 megapixels).
src=$(find /usr/share/backgrounds -iname '*.jpg' -printf '%s %p\n' | sort -n | tail -1 | cut -d' ' -f2-)
vips thumbnail "$src" "$work/photo.jpg[Q=92]" 6000 --height 4000 --size force
in=$work/photo.jpg out=$work/out.tif
echo "photo: $(vipsheader "$in")"
cmp() {  # name, our operations, ImageMagick arguments, vips command
  "$here/compare" --runs 3 --name "$1" --ours "$tool ops $out $in $2" \
    --peer convert "convert-im6.q16 $in $3 -compress none $out" \
    --peer vips "$4"
}
cmp "resize 50% bicubic" half "-filter Catrom -resize 50%" "vips resize $in $out 0.5 --kernel cubic"
cmp "gaussian sigma 3" blur3 "-gaussian-blur 0x3" "vips gaussblur $in $out 3"
cmp "unsharp mask" unsharp "-unsharp 0x2+1+0" "vips sharpen $in $out --sigma 2"
cmp "median 3x3" median3 "-statistic Median 3x3" "vips rank $in $out 3 3 4"
cmp "rotate 10 bicubic" rotate10 "-interpolate Catrom -rotate 10 +repage" "vips rotate $in $out 10 --interpolate bicubic"
cmp "chain of four" "half blur3 unsharp median3" "-filter Catrom -resize 50% -gaussian-blur 0x3 -unsharp 0x2+1+0 -statistic Median 3x3" \
  "vips resize $in $work/a.v 0.5 --kernel cubic && vips gaussblur $work/a.v $work/b.v 3 && vips sharpen $work/b.v $work/c.v --sigma 2 && vips rank $work/c.v $out 3 3 4"

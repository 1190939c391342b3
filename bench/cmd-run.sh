#!/usr/bin/env bash
# Whole conversion runs through the command line (list building, loading,
# filters, saving, log) on a folder of real photographs, beside ImageMagick's
# convert and vips on the same files in the same run: JPEG to PNG, JPEG to JPEG
# with a 50 % bicubic resize, JPEG to TIFF with LZW.
set -euo pipefail
PV_PEER_PACKAGES=(libvips-tools imagemagick-6.q16) PV_PHOTOS=8
source "$(dirname "$0")/photos.sh"
here=$(dirname "$0")
in=$work/in out=$work/out
clear="rm -rf $out/*"
ours() { echo "$exe --silent --output $out --file $in $*"; }
each() { echo "for f in $in/*.jpg; do b=\$(basename \"\$f\" .jpg); $1; done"; }

# PNG at zlib level 6 (quality 6 of the PNG format).
"$here/compare" --name "run jpeg->png" --setup "$clear" \
  --ours "$(ours --convert PNG 0 0 6)" \
  --peer convert "$(each "convert-im6.q16 \"\$f\" -quality 65 $out/\$b.png")" \
  --peer vips "$(each "vips copy \"\$f\" '$out/\$b.png[compression=6,filter=all]'")"
# Quality factor 65 is libjpeg quality 75.
"$here/compare" --name "run jpeg->jpeg 50% bicubic" --setup "$clear" \
  --ours "$(ours --convert JPG 0 24 65 --filter resize 4 1 50 50 0 0)" \
  --peer convert "$(each "convert-im6.q16 \"\$f\" -filter Catrom -resize 50% -quality 75 $out/\$b.jpg")" \
  --peer vips "$(each "vips resize \"\$f\" '$out/\$b.jpg[Q=75]' 0.5 --kernel cubic")"
"$here/compare" --name "run jpeg->tiff lzw" --setup "$clear" \
  --ours "$(ours --convert TIF 9)" \
  --peer convert "$(each "convert-im6.q16 \"\$f\" -compress LZW $out/\$b.tif")" \
  --peer vips "$(each "vips copy \"\$f\" '$out/\$b.tif[compression=lzw]'")"

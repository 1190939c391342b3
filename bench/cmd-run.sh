#!/usr/bin/env bash
# Whole conversion runs through the command line (list building, loading,
# filters, saving, log) on a folder of real photographs, beside ImageMagick's
# convert and vips on the same files in the same run: JPEG to PNG, JPEG to JPEG
# with a 50 % bicubic resize, JPEG to TIFF with LZW.
set -euo pipefail
build=${1:-build/bench}
here=$(dirname "$0")
exe=$(cd "$build/bin" && pwd)/pictoravine
"$here/need-packages" mate-backgrounds lomiri-wallpapers-16.04 libvips-tools imagemagick-6.q16
mapfile -t photos < <(find /usr/share/backgrounds -iname '*.jpg' -size +200k | sort | head -8)
((${#photos[@]})) || { echo "cmd-run: no photographs under /usr/share/backgrounds" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/data"
for f in "${photos[@]}"; do cp "$f" "$work/in/$(basename "$f" | tr ' ' _)"; done
export PICTORAVINE_DATA_DIR=$work/data
echo "photos: ${#photos[@]} ($(du -sh "$work/in" | cut -f1))"
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

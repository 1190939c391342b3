#!/usr/bin/env bash
# JPEG decode and encode of real photographs against libjpeg-turbo's own tools,
# and JPEG to PNG against vips, in the same run. Installs Debian's wallpaper
# packages for the photographs when they are missing.
set -euo pipefail
build=${1:-build/bench}
here=$(dirname "$0")
tool=$build/bin/bench_codec
"$here/need-packages" mate-backgrounds lomiri-wallpapers-16.04 libjpeg-turbo-progs libvips-tools
mapfile -t photos < <(find /usr/share/backgrounds -iname '*.jpg' -size +200k | sort | head -8)
((${#photos[@]})) || { echo "cmd-jpeg: no photographs under /usr/share/backgrounds" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "photos: ${#photos[@]} ($(du -ch "${photos[@]}" | tail -1 | cut -f1))"
list="${photos[*]}"
djpegAll="for f in $list; do djpeg -outfile /dev/null \"\$f\"; done"
"$here/compare" --name "jpeg decode" --ours "$tool decode $list" --peer djpeg "$djpegAll"
# Quality factor 65 is libjpeg quality 75; code 10 is 4:4:4 like cjpeg -sample 1x1.
"$here/compare" --name "jpeg decode+encode" --setup "rm -f $out/*" \
  --ours "$tool convert 10 65 $out $list" \
  --peer "djpeg|cjpeg" "for f in $list; do djpeg \"\$f\" | cjpeg -sample 1x1 -quality 75 > $out/\$(basename \"\$f\").jpg; done"
"$here/compare" --name "jpeg->png (zlib 6)" --setup "rm -f $out/*" \
  --ours "$tool convert 75 6 $out $list" \
  --peer "vips copy" "for f in $list; do vips copy \"\$f\" $out/\$(basename \"\$f\").png[compression=6]; done" \
  --peer "vips filter=all" "for f in $list; do vips copy \"\$f\" '$out/\$(basename \"\$f\").png[compression=6,filter=all]'; done"
# vips leaves rows unfiltered by default; we filter each row adaptively, as
# libpng does, for much smaller files. The sizes, for the record:
rm -f "$out"/*; "$tool" convert 75 6 "$out" "${photos[@]}"; ours=$(du -sb "$out" | cut -f1)
rm -f "$out"/*; for f in "${photos[@]}"; do vips copy "$f" "$out/$(basename "$f").png[compression=6]"; done
theirs=$(du -sb "$out" | cut -f1)
echo "jpeg->png sizes: pictoravine $ours bytes, vips copy $theirs bytes"

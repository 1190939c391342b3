#!/usr/bin/env bash
# The cost of a target file size (--max-size): photographs fitted into
# 1920 x 1080 (as for the web, before the clock starts), then written at
# most 200 KB in each lossy photo format. Beside each run: our own run of
# the same format without a limit (one encode a photo: the ratio is what the
# search costs), and the peers that search a size themselves, ImageMagick's
# jpeg:extent and cwebp -size. Prints the time ratios (peer time / ours:
# above 1 means we are faster), then the bytes and qualities written.
set -euo pipefail
PV_PEER_PACKAGES=(imagemagick webp) PV_PHOTOS=${PV_PHOTOS:-4}
source "$(dirname "$0")/photos.sh"
here=$(dirname "$0")
runs=${PV_RUNS:-3}
limit=${PV_LIMIT:-200K}
bytesLimit=$(($(tr -dc 0-9 <<<"$limit") * 1000))

# The fitted photos, as high-quality JPEGs.
"$exe" --console --silent --output "$work/fit" --file "$work/in" --convert JPG 1 24 2 \
  --filter "resize 4 2 1920 1080 1 1" >/dev/null
rm -rf "$work/in" && mv "$work/fit" "$work/in"
echo "fitted into 1920x1080: $(du -sh "$work/in" | cut -f1), at most $limit ($bytesLimit bytes) each"

clear="rm -rf $work/out/*"
each() {  # a command a file: each '<command with IN and OUT>' <extension>
  echo "for f in $work/in/*.JPG $work/in/*.jpg; do [[ -e \$f ]] || continue; IN=\$f; OUT=$work/out/\$(basename \"\${f%.*}\").$2; $1; done"
}
ours() { echo "$exe --console --silent --output $work/out --file $work/in --convert $*"; }
# Each format at our default quality and effort: the limit lowers the
# quality from there.
for spec in "JPG 3 24 26 0:jpg" "WEBP 0 24 80 4:webp" "AVIF 0 24 60 6:avif" "HEIC 0 24 50 5:heic" \
  "JXL 0 24 90 5:jxl"; do
  options=${spec%%:*} ext=${spec##*:} key=${spec%% *}
  peers=(--peer "ours, no limit" "$(ours "$options")")
  case $key in
    JPG) peers+=(--peer "convert extent" "$(each "convert \"\$IN\" -define jpeg:extent=$limit \"\$OUT\"" jpg)") ;;
    WEBP) peers+=(--peer "cwebp -size" "$(each "cwebp -quiet -m 4 -size $bytesLimit \"\$IN\" -o \"\$OUT\"" webp)") ;;
  esac
  "$here/compare" --runs "$runs" --name "${key,,} at most $limit" --setup "$clear" \
    --ours "$(ours "$options") --max-size $limit" "${peers[@]}"
  # What one run writes: how many files fit, the largest, the qualities.
  bash -c "$clear"
  report=$($(ours "$options") --max-size "$limit" --report -)
  largest=$(find "$work/out" -type f -printf '%s\n' | sort -n | tail -1)
  fit=$(grep -o '"bytes":[0-9]*' <<<"$report" | cut -d: -f2 | awk -v l="$bytesLimit" '$1 <= l' | wc -l)
  qualities=$(grep -o '"quality":[0-9]*' <<<"$report" | cut -d: -f2 | tr '\n' ' ')
  echo "${key,,} at most $limit: $fit of $(wc -l <<<"$report") fit, largest $largest bytes, qualities $qualities"
done

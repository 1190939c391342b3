#!/usr/bin/env bash
# JPEG photographs to WebP, AVIF, HEIC and JPEG XL: our run beside vips (one
# process a file, the same quality numbers) and each format's reference
# encoder (cwebp, avifenc, heif-enc, cjxl) in the same run. Twice: at our
# default effort or speed, and at the effort vips uses by default, so that
# the sizes compare at equal settings. Prints the time ratios (peer time /
# ours: above 1 means we are faster) and the bytes each wrote.
set -euo pipefail
PV_PEER_PACKAGES=(libvips-tools webp libavif-bin libheif-examples libjxl-tools) PV_PHOTOS=${PV_PHOTOS:-4}
source "$(dirname "$0")/photos.sh"
here=$(dirname "$0")
runs=${PV_RUNS:-3}
clear="rm -rf $work/out/*"
each() {  # a command a file: each '<command with IN and OUT>' <extension>
  echo "for f in $work/in/*.jpg; do IN=\$f; OUT=$work/out/\$(basename \"\$f\" .jpg).$2; $1; done"
}
ours() { echo "$exe --silent --output $work/out --file $work/in --convert $*"; }
bytes() {  # the bytes one run of a command writes
  bash -c "$clear"
  bash -c "$1" >/dev/null 2>&1
  du -sb "$work/out" | cut -f1
}
compare() {  # name, our options, then pairs of peer name and command
  local name=$1 mine=$2
  shift 2
  local args=() sizes="pictoravine $(bytes "$(ours "$mine")")"
  while (($#)); do
    args+=(--peer "$1" "$2")
    sizes+=", $1 $(bytes "$2")"
    shift 2
  done
  "$here/compare" --runs "$runs" --name "$name" --setup "$clear" --ours "$(ours "$mine")" "${args[@]}"
  echo "$name bytes: $sizes"
}

# Our defaults: WebP effort 4, AVIF speed 6, HEIC speed 5 (x265 "fast"),
# JPEG XL effort 5.
compare "jpeg->webp q80" "WEBP 0 24 80 4" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=80]"' webp)" \
  cwebp "$(each 'cwebp -quiet -q 80 -m 4 "$IN" -o "$OUT"' webp)"
compare "jpeg->avif q60 speed 6" "AVIF 0 24 60 6" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=60]"' avif)" \
  avifenc "$(each 'avifenc -s 6 -j all --min 25 --max 25 -y 420 "$IN" "$OUT" >/dev/null' avif)"
compare "jpeg->heic q50 speed 5" "HEIC 0 24 50 5" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=50]"' heic)" \
  heif-enc "$(each 'heif-enc -q 50 "$IN" -o "$OUT" >/dev/null' heic)"
compare "jpeg->jxl q90 effort 5" "JXL 0 24 90 5" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=90]"' jxl)" \
  cjxl "$(each 'cjxl --lossless_jpeg=0 -q 90 -e 5 "$IN" "$OUT" >/dev/null 2>&1' jxl)"

# The efforts vips uses by default (its effort 4: AV1 speed 5, x265's
# "slow" preset, JPEG XL effort 7).
compare "jpeg->avif q60 speed 5" "AVIF 0 24 60 5" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=60]"' avif)"
compare "jpeg->heic q50 speed 3" "HEIC 0 24 50 3" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=50]"' heic)"
compare "jpeg->jxl q90 effort 7" "JXL 0 24 90 7" \
  vips "$(each 'vips copy "$IN" "$OUT[Q=90]"' jxl)"

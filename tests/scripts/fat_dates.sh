#!/usr/bin/env bash
# Outputs written onto a FAT file system (an image mounted on a loop device,
# or through fusefat where the kernel has no FAT driver): a source's dates
# that FAT holds are kept to its two seconds; one it cannot hold (before
# 1980) leaves the output in place, dated when written, with a line in the
# log; nothing is lost and the run succeeds. Exits 77 (skipped) unless run
# as root with mkfs.fat and either the kernel's vfat or fusefat.
#   fat_dates.sh PICTORAVINE
set -euo pipefail
exe=$(realpath "$1")
skip() { echo "skipped: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "mounting a FAT image needs root"
command -v mkfs.fat >/dev/null || skip "mkfs.fat is not installed (scripts/bootstrap installs dosfstools)"

work=$(mktemp -d)
mounted=""
cleanup() {
  if [[ -n $mounted ]]; then umount "$work/fat" 2>/dev/null || fusermount -u "$work/fat" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/fat" "$work/src" "$work/data"
truncate -s 32M "$work/fat.img"
mkfs.fat "$work/fat.img" >/dev/null
if grep -qw vfat /proc/filesystems && mount -o loop "$work/fat.img" "$work/fat" 2>/dev/null; then
  mounted=vfat
elif command -v fusefat >/dev/null && [[ -e /dev/fuse ]] && fusefat -o rw+ "$work/fat.img" "$work/fat" >/dev/null 2>&1; then
  mounted=fusefat
else
  skip "neither the kernel's vfat nor fusefat can mount the image (scripts/bootstrap installs fusefat)"
fi
echo "FAT mounted with $mounted"

export PICTORAVINE_DATA_DIR=$work/data
printf '[Global]\nDoLog=1\nLogFile=%s\n' "$work/run.log" >"$work/data/config.ini"
# Three sources: an even second, an odd second (FAT keeps the second
# before), and a date before FAT's first day.
declare -A dates=([even]="2001-09-09 01:46:40" [odd]="2011-03-05 10:20:31" [old]="1975-06-01 12:00:00")
for name in "${!dates[@]}"; do
  printf 'P3\n2 2\n255\n255 0 0 0 255 0 0 0 255 255 255 255\n' >"$work/src/$name.ppm"
  touch -d "${dates[$name]}" "$work/src/$name.ppm"
done

"$exe" --console --silent --convert PNG --output "$work/fat/out" --file "$work/src"/*.ppm
fail=0
for name in "${!dates[@]}"; do
  out=$work/fat/out/$name.png
  if [[ ! -s $out ]]; then
    echo "FAIL: $name: no output on the FAT file system"; fail=1; continue
  fi
  want=$(date -d "${dates[$name]}" +%s) got=$(stat -c %Y "$out")
  logged=0
  grep -qF "$work/src/$name.ppm: its dates could not be given to its output." "$work/run.log" && logged=1
  if [[ $name == old ]]; then
    # Not held: the output stays, dated when it was written, and the log says so.
    ((logged)) || { echo "FAIL: old: the log does not say the dates were not kept"; fail=1; }
    ((got > $(date +%s) - 600)) || { echo "FAIL: old: the output is dated $(date -d @"$got")"; fail=1; }
  else
    ((want - got >= 0 && want - got <= 1)) || { echo "FAIL: $name: dated $(date -d @"$got"), not ${dates[$name]}"; fail=1; }
    ((logged == 0)) || { echo "FAIL: $name: the log says its dates were not kept"; fail=1; }
  fi
done
((fail == 0)) && echo "dates on FAT: held ones kept, the one before 1980 logged"
exit "$fail"

#!/usr/bin/env bash
# Real Nautilus under Xvfb and a D-Bus session, with libextpv.so in its
# extension folder: checks that Nautilus loads the module, then right-clicks
# two photos of a folder, opens "Pictoravine" and "Convert to PNG", and checks
# that exactly those two were converted, by the program the menu started.
#   nautilus_smoke.sh <program folder> <module> <pv_samples> [screenshot folder]
# Skips (77) without Nautilus, Xvfb, D-Bus, xdotool or a writable extension
# folder. An installed module of the same name is put back afterwards.
set -euo pipefail
bin=$1 module=$2 samples=$3 shots=${4:-}
for tool in nautilus xvfb-run dbus-run-session xdotool import pkg-config; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
extdir=$(pkg-config --variable=extensiondir libnautilus-extension-4)
[[ -w $extdir ]] || { echo "skipped: $extdir is not writable"; exit 77; }

work=$(mktemp -d)
target=$extdir/$(basename "$module")
restore() {
  if [[ -e $work/kept.so ]]; then mv -f "$work/kept.so" "$target"; else rm -f "$target"; fi
  rm -rf "$work"
}
trap restore EXIT
[[ -e $target ]] && cp -p "$target" "$work/kept.so"
install -m 0644 "$module" "$target"

mkdir -p "$work/home" "$work/data" "$work/pics"
"$samples" "$work/pics" >/dev/null
printf '[Global]\nAskWhereSave=0\n[Shell]\nPNG=1\n' >"$work/data/config.ini"
before=$(ls "$work/pics")

cat >"$work/session.sh" <<'INNER'
set -u
work=$1 shots=$2
shot() { [[ -n $shots ]] && import -window root "$shots/$1.png"; true; }
nautilus --new-window "$work/pics" >"$work/nautilus.log" 2>&1 &
pid=$!
loaded=0
for _ in $(seq 1 60); do
  grep -q libextpv.so "/proc/$pid/maps" 2>/dev/null && { loaded=1; break; }
  sleep 0.5
done
if [[ $loaded != 1 ]]; then echo "Nautilus did not load the module"; kill $pid; exit 1; fi
echo "Nautilus loaded the module"
# The window first, and time for its icons.
for _ in $(seq 1 60); do
  xdotool search --onlyvisible --class nautilus >/dev/null 2>&1 && break
  sleep 0.5
done
sleep 3
converted() { [[ -e $work/pics/hills.png && -e $work/pics/meadow.png ]]; }
# A busy machine may swallow a click: the whole gesture is tried up to three
# times, each given time to convert.
for attempt in 1 2 3; do
  xdotool key Escape Escape
  sleep 1
  # The sample folder's icon grid: hills.jpg is the third of the first row,
  # meadow.jpg the first of the second.
  xdotool mousemove 640 124 click 1
  sleep 1
  xdotool mousemove 336 260 keydown ctrl click 1 keyup ctrl
  sleep 1
  xdotool mousemove 336 260 click 3
  sleep 2
  [[ $attempt == 1 ]] && shot file-manager-menu
  # Up twice: past "Properties" to "Pictoravine", the entry above it.
  xdotool key Up Up Return
  sleep 1
  [[ $attempt == 1 ]] && shot file-manager-submenu
  xdotool key Down Return
  for _ in $(seq 1 60); do
    converted && break
    sleep 0.5
  done
  converted && break
  echo "attempt $attempt converted nothing; again"
done
sleep 2
kill $pid
INNER

export HOME=$work/home PICTORAVINE_DATA_DIR=$work/data PICTORAVINE_INSTALL_DIR=$bin
timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- bash "$work/session.sh" "$work" "$shots" 2>/dev/null

after=$(ls "$work/pics")
added=$(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')
echo "new files: $added"
if [[ $added != "hills.png meadow.png " ]]; then
  echo "FAILED: Convert to PNG should have made exactly hills.png and meadow.png"
  exit 1
fi
echo "Convert to PNG converted exactly the two selected photos"

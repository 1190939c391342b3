#!/usr/bin/env bash
# A real file manager (Nautilus, Nemo, Caja or Thunar) under Xvfb and a D-Bus
# session, with our module in its extension folder: checks that it loads the
# module, then right-clicks two photos of a folder, opens "Pictoravine" and
# "Convert to PNG", and checks that exactly those two were converted, by the
# program the menu started.
#   file_manager_smoke.sh <file manager> <program folder> <module> <pv_samples> [screenshot folder]
# Skips (77) without that file manager, Xvfb, D-Bus, xdotool or a writable
# extension folder. An installed module of the same name is put back
# afterwards, and an extension folder made for the run is removed.
set -euo pipefail
fm=$1 bin=$2 module=$3 samples=$4 shots=${5:-}

# Each file manager: how it is started on a folder, where pkg-config says its
# modules go, where the two photos hills.jpg and meadow.jpg are in its icon
# grid on a 1280x800 screen, the keys that choose the first entry of the
# opened submenu (GTK 3's menus open it with that entry selected, Nautilus's
# popover with none), and the names of its screenshots.
case $fm in
  nautilus) start=(nautilus --new-window) pkg=(libnautilus-extension-4 extensiondir)
            hills=(640 124) meadow=(336 260) first="Down Return" shot=file-manager ;;
  nemo)     start=(nemo) pkg=(libnemo-extension extensiondir)
            hills=(486 160) meadow=(734 160) first=Return shot=nemo ;;
  caja)     start=(caja --no-desktop) pkg=(libcaja-extension extensiondir)
            hills=(557 155) meadow=(235 250) first=Return shot=caja ;;
  thunar)   start=(thunar) pkg=(thunarx-3 extensionsdir)
            hills=(411 150) meadow=(221 245) first=Return shot=thunar ;;
  *) echo "unknown file manager $fm"; exit 2 ;;
esac
for tool in "${start[0]}" xvfb-run dbus-run-session xdotool import pkg-config; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
extdir=$(pkg-config --variable="${pkg[1]}" "${pkg[0]}")
made=
if [[ ! -d $extdir ]]; then
  mkdir -p "$extdir" 2>/dev/null || { echo "skipped: $extdir cannot be made"; exit 77; }
  made=1
fi
[[ -w $extdir ]] || { echo "skipped: $extdir is not writable"; exit 77; }

work=$(mktemp -d)
target=$extdir/$(basename "$module")
restore() {
  if [[ -e $work/kept.so ]]; then mv -f "$work/kept.so" "$target"; else rm -f "$target"; fi
  [[ -n $made ]] && rmdir "$extdir" 2>/dev/null
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
work=$1 shots=$2 shot=$3 name=$4 hills=$5 meadow=$6 first=$7
shift 7
shot() { [[ -n $shots ]] && import -window root "$shots/$shot-$1.png"; true; }
"$@" "$work/pics" >"$work/file-manager.log" 2>&1 &
pid=$!
loaded=0
for _ in $(seq 1 60); do
  grep -q "$name" "/proc/$pid/maps" 2>/dev/null && { loaded=1; break; }
  sleep 0.5
done
if [[ $loaded != 1 ]]; then echo "$1 did not load the module"; kill $pid; exit 1; fi
echo "$1 loaded the module"
# The window first, and time for its icons.
for _ in $(seq 1 60); do
  xdotool search --onlyvisible --pid $pid >/dev/null 2>&1 && break
  sleep 0.5
done
sleep 3
converted() { [[ -e $work/pics/hills.png && -e $work/pics/meadow.png ]]; }
# A busy machine may swallow a click: the whole gesture is tried up to three
# times, each given time to convert.
for attempt in 1 2 3; do
  xdotool key Escape Escape
  sleep 1
  xdotool mousemove $hills click 1
  sleep 1
  xdotool mousemove $meadow keydown ctrl click 1 keyup ctrl
  sleep 1
  xdotool mousemove $meadow click 3
  sleep 2
  [[ $attempt == 1 ]] && shot menu
  # Up twice: past "Properties" to "Pictoravine", the entry above it in
  # each of these file managers.
  xdotool key Up Up Return
  sleep 1
  [[ $attempt == 1 ]] && shot submenu
  xdotool key $first
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
timeout 150 xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- \
  bash "$work/session.sh" "$work" "$shots" "$shot" "$(basename "$module")" "${hills[*]}" "${meadow[*]}" "$first" \
  "${start[@]}" 2>/dev/null

after=$(ls "$work/pics")
added=$(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')
echo "new files: $added"
if [[ $added != "hills.png meadow.png " ]]; then
  echo "FAILED: Convert to PNG should have made exactly hills.png and meadow.png"
  exit 1
fi
echo "Convert to PNG in $fm converted exactly the two selected photos"

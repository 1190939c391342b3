#!/usr/bin/env bash
# A real file manager (Nautilus, Nemo, Caja, Thunar or Dolphin) under Xvfb and
# a D-Bus session, with our module in its extension folder (Dolphin: our
# service menu in the run's own XDG_DATA_HOME): checks that it loads the
# module, then right-clicks two photos of a folder, opens "Pictoravine" and
# "Convert to PNG", and checks that exactly those two were converted, by the
# program the menu started. Dolphin's service menu is also checked with
# desktop-file-validate, and its Convert to PNG line run by hand on two files.
#   file_manager_smoke.sh <file manager> <program folder> <module> <pv_samples> [screenshot folder]
# (for Dolphin, <module> is pv_service_menu, which writes the service menu).
# Skips (77) without that file manager, Xvfb, D-Bus, xdotool or a writable
# extension folder. An installed module of the same name is put back
# afterwards, and an extension folder made for the run is removed.
set -euo pipefail
fm=$1 bin=$(cd "$2" && pwd) module=$3 samples=$4 shots=${5:-}

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
  # Dolphin without an icon theme draws names only: the names are clicked.
  dolphin)  start=(dolphin --new-window) pkg=()
            hills=(571 187) meadow=(327 282) first=Return shot=dolphin ;;
  *) echo "unknown file manager $fm"; exit 2 ;;
esac
for tool in "${start[0]}" xvfb-run dbus-run-session xdotool import pkg-config; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
if [[ $fm == dolphin ]]; then
  extdir=$work/xdg/kio/servicemenus
  mkdir -p "$extdir"
else
  extdir=$(pkg-config --variable="${pkg[1]}" "${pkg[0]}")
fi
made=
if [[ ! -d $extdir ]]; then
  mkdir -p "$extdir" 2>/dev/null || { echo "skipped: $extdir cannot be made"; exit 77; }
  made=1
fi
[[ -w $extdir ]] || { echo "skipped: $extdir is not writable"; exit 77; }

target=$extdir/$(basename "$module")
restore() {
  if [[ -e $work/kept.so ]]; then mv -f "$work/kept.so" "$target"; else rm -f "$target"; fi
  [[ -n $made ]] && rmdir "$extdir" 2>/dev/null
  rm -rf "$work"
}
trap restore EXIT
mkdir -p "$work/home" "$work/data" "$work/pics"
"$samples" "$work/pics" >/dev/null
printf '[Global]\nAskWhereSave=0\n[Shell]\nPNG=1\n' >"$work/data/config.ini"
before=$(ls "$work/pics")
export HOME=$work/home PICTORAVINE_DATA_DIR=$work/data PICTORAVINE_INSTALL_DIR=$bin XDG_DATA_HOME=$work/xdg

if [[ $fm == dolphin ]]; then
  "$module" "$work/data/config.ini" "$bin/pictoravine" "$extdir"
  target=$extdir/pictoravine.desktop
  [[ -x $target ]] || { echo "FAILED: the service menu is not an executable file"; exit 1; }
  # desktop-file-validate knows only the freedesktop types: of a KDE service
  # menu (Type=Service) it refuses MimeType and Actions, which Plasma's service
  # menus are made of. Every other finding fails the run.
  if command -v desktop-file-validate >/dev/null; then
    findings=$(desktop-file-validate "$target" 2>&1 |
      grep -v 'key "\(MimeType\|Actions\)" is present in group "Desktop Entry", but the type is "Service"' || true)
    [[ -z $findings ]] || { echo "FAILED: desktop-file-validate: $findings"; exit 1; }
    echo "desktop-file-validate: no finding beyond Type=Service's MimeType and Actions"
  fi
  # The Convert to PNG line, run as Dolphin runs it: %F becomes the files.
  exec_line=$(sed -n '/^\[Desktop Action convert-PNG\]/,/^\[/s/^Exec=//p' "$target")
  [[ $exec_line == *' %F' ]] || { echo "FAILED: no Convert to PNG line: $exec_line"; exit 1; }
  mkdir -p "$work/by hand"
  cp "$work/pics/hills.jpg" "$work/pics/chart.bmp" "$work/by hand/"
  cp "$work/pics/meadow.jpg" "$work/by hand/meadow \"1\" \$x.jpg"
  (cd "$work/by hand" && env -u DISPLAY -u WAYLAND_DISPLAY \
     sh -c "${exec_line% %F} \"\$@\"" sh "$work/by hand/hills.jpg" "$work/by hand/meadow \"1\" \$x.jpg" >/dev/null)
  made_by_hand=$(cd "$work/by hand" && ls *.png | tr '\n' ' ')
  if [[ $made_by_hand != 'hills.png meadow "1" $x.png ' ]]; then
    echo "FAILED: the Exec line made: $made_by_hand"; exit 1
  fi
  echo "its Exec line converted exactly the two files given"
else
  [[ -e $target ]] && cp -p "$target" "$work/kept.so"
  install -m 0644 "$module" "$target"
fi

cat >"$work/session.sh" <<'INNER'
set -u
work=$1 shots=$2 shot=$3 name=$4 hills=$5 meadow=$6 first=$7
shift 7
shot() { [[ -n $shots ]] && import -window root "$shots/$shot-$1.png"; true; }
"$@" "$work/pics" >"$work/file-manager.log" 2>&1 &
pid=$!
loaded=0
# Dolphin reads the service menu at each right click: there is no module.
[[ $name == pictoravine.desktop ]] && loaded=1
for _ in $(seq 1 60); do
  [[ $loaded == 1 ]] && break
  grep -q "$name" "/proc/$pid/maps" 2>/dev/null && { loaded=1; break; }
  sleep 0.5
done
if [[ $loaded != 1 ]]; then echo "$1 did not load the module"; kill $pid; exit 1; fi
[[ $name == pictoravine.desktop ]] || echo "$1 loaded the module"
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

timeout 150 xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- \
  bash "$work/session.sh" "$work" "$shots" "$shot" "$(basename "$target")" "${hills[*]}" "${meadow[*]}" "$first" \
  "${start[@]}" 2>/dev/null

after=$(ls "$work/pics")
added=$(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')
echo "new files: $added"
if [[ $added != "hills.png meadow.png " ]]; then
  echo "FAILED: Convert to PNG should have made exactly hills.png and meadow.png"
  exit 1
fi
echo "Convert to PNG in $fm converted exactly the two selected photos"

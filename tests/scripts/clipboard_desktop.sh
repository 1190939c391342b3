#!/usr/bin/env bash
# The clipboard as another program sees it, after ours has ended: on X11
# (Xvfb, read with xclip) and on Wayland (weston, read with wl-paste). A copy
# stays after the run, a second copy replaces the first and leaves one
# server, another program's copy ends ours, and a console paste converts
# what another program put there. Exits 77 (skipped) without Xvfb or xclip;
# the Wayland half is skipped (and says so) without weston or wl-clipboard.
#   clipboard_desktop.sh PICTORAVINE
set -euo pipefail
exe=$(realpath "$1")
for tool in Xvfb xclip compare convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/bootstrap installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
pids=()
cleanup() {
  pkill -f -- "--serve-clipboard $work/runtime" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export PICTORAVINE_DATA_DIR=$work/data XDG_RUNTIME_DIR=$work/runtime
# Under AddressSanitizer: libxkbcommon-x11 (Qt's keyboard on X11) hands
# strndup a length past the end of the atom name it copies, which strict
# string checks report although strndup stops at the name's end.
[[ -n ${ASAN_OPTIONS:-} ]] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
cd "$work"
convert -size 40x30 gradient:red-blue -depth 8 first.png
convert -size 20x10 xc:green -depth 8 second.png
convert -size 16x16 xc:orange -depth 8 other.png

failures=0
check() {  # check WHAT COMMAND...: runs the command, counts a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
samePixels() { [[ $(compare -metric AE "$1" "$2" null: 2>&1) == 0 ]]; }
servers() { pgrep -f -- "--serve-clipboard $XDG_RUNTIME_DIR" | wc -l; }
waitFor() {  # waitFor COMMAND...: up to 5 s for the command to succeed
  for _ in $(seq 50); do "$@" && return 0; sleep 0.1; done
  return 1
}
noServers() { [[ $(servers) == 0 ]]; }
oneServer() { [[ $(servers) == 1 ]]; }
offersImages() { grep -qx image/png "$1" && grep -qx image/bmp "$1" && grep -qx image/jpeg "$1"; }
pasted() { ls data/clipboard-*-1.png 2>/dev/null | head -1; }

# --- X11 ---------------------------------------------------------------
# A free display number, as Xvfb picks it.
Xvfb -displayfd 5 -screen 0 640x480x24 -nolisten tcp 5>display.txt >/dev/null 2>&1 &
pids+=($!)
waitFor test -s display.txt
export DISPLAY=:$(head -1 display.txt)

# The window front end's command line (as the file manager's menu runs it)
# and the console front end copy alike.
for front in window console; do
  flag=()
  [[ $front == console ]] && flag=(--console)
  check "$front: the copy exits 0" "$exe" "${flag[@]}" --convert CLP --file first.png
  xclip -selection clipboard -o -t image/png >got.png 2>/dev/null || true
  check "$front: after the run, the clipboard holds the copied pixels" samePixels first.png got.png
  check "$front: one server keeps it" oneServer
  "$exe" "${flag[@]}" --convert CLP --file second.png
  xclip -selection clipboard -o -t image/png >got.png 2>/dev/null || true
  check "$front: a second copy replaces the first" samePixels second.png got.png
  check "$front: and leaves one server" waitFor oneServer
  xclip -selection clipboard -o -t TARGETS >targets.txt
  check "$front: PNG, BMP and JPEG are offered" offersImages targets.txt
  xclip -selection clipboard -t image/png -i other.png
  check "$front: another program's copy ends our server" waitFor noServers
done

rm -rf data
check "a console paste exits 0" "$exe" --console --convert PNG --cbpaste
check "a console paste converts what xclip put there" samePixels other.png "$(pasted)"

echo "some text" | xclip -selection clipboard -i
set +e
"$exe" --console --convert PNG --cbpaste 2>err.txt
code=$?
set -e
check "text on the clipboard: exit 1" test $code = 1
check "text on the clipboard: says there is no image" grep -q "the clipboard (no image on it)" err.txt

set +e
DISPLAY=:$(( $(head -1 display.txt) + 1000 )) "$exe" --console --convert PNG --cbpaste 2>err.txt
code=$?
set -e
check "a display that cannot be opened: exit 1" test $code = 1
check "a display that cannot be opened: says so" grep -q "the clipboard (the display cannot be opened)" err.txt

# --- Wayland -----------------------------------------------------------
if command -v weston >/dev/null && command -v wl-copy >/dev/null && command -v wl-paste >/dev/null; then
  # weston's headless back end has no seat (so no clipboard); its X11 back end
  # on the virtual display has one. Our program sees only Wayland.
  weston --backend=x11-backend.so --socket=pv-wayland --idle-time=0 >weston.log 2>&1 &
  pids+=($!)
  export WAYLAND_DISPLAY=pv-wayland
  waitFor test -S "$XDG_RUNTIME_DIR/pv-wayland"
  sleep 1
  onWayland() { env -u DISPLAY "$@"; }
  check "wayland: the copy exits 0" onWayland "$exe" --console --convert CLP --file first.png
  onWayland wl-paste --type image/png >got.png 2>/dev/null || true
  check "wayland: after the run, wl-paste gives the copied pixels" samePixels first.png got.png
  onWayland "$exe" --console --convert CLP --file second.png
  onWayland wl-paste --type image/png >got.png 2>/dev/null || true
  check "wayland: a second copy replaces the first" samePixels second.png got.png
  onWayland wl-copy --type image/png <other.png
  rm -rf data
  check "wayland: a console paste exits 0" onWayland "$exe" --console --convert PNG --cbpaste
  check "wayland: a console paste converts what wl-copy put there" samePixels other.png "$(pasted)"
  onWayland wl-copy --clear || true
else
  echo "skipped the Wayland half: weston or wl-clipboard is not installed"
fi

echo "$failures failed"
[[ $failures == 0 ]]

#!/usr/bin/env bash
# The Debian package, for real: built with CPack from a build folder, checked
# with lintian (no errors) and desktop-file-validate, installed with dpkg,
# run (the version, the manual, a conversion with the installed data), and
# removed, leaving none of its files behind.
#   package.sh <build folder>
# Skips (77) when not root, without dpkg or lintian, or when a Pictoravine
# package is already installed (it is left alone).
set -euo pipefail
build=$(cd "$1" && pwd)
[[ $(id -u) -eq 0 ]] || { echo "skipped: installing a package needs root"; exit 77; }
for tool in cpack dpkg lintian desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
if dpkg-query -W -f='${Status}' pictoravine 2>/dev/null | grep -q "ok installed"; then
  echo "skipped: a pictoravine package is installed already"; exit 77
fi

work=$(mktemp -d)
trap 'dpkg -r pictoravine >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/pictoravine_*.deb)
echo "built $(basename "$deb")"

lintian --tag-display-limit 0 "$deb" | tee "$work/lintian.txt"
if grep -q '^E:' "$work/lintian.txt"; then echo "FAILED: lintian reports errors"; exit 1; fi

dpkg -i "$deb" >/dev/null
files=$(dpkg -L pictoravine)
id=org.example.pictoravine.Pictoravine
modules=("$(pkg-config --variable=extensiondir libnautilus-extension-4)/libextpv.so"
         "$(pkg-config --variable=extensiondir libnemo-extension)/libpictoravine-nemo.so"
         "$(pkg-config --variable=extensiondir libcaja-extension)/libpictoravine-caja.so"
         "$(pkg-config --variable=extensionsdir thunarx-3)/pictoravine-thunar.so")
for f in /usr/bin/pictoravine /usr/share/pictoravine/data.dat /usr/share/pictoravine/help/index.html \
         /usr/share/pictoravine/help/command-line.html /usr/share/man/man1/pictoravine.1.gz \
         /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml /usr/share/icons/hicolor/scalable/apps/pictoravine.svg \
         /usr/share/icons/hicolor/48x48/apps/pictoravine.png "${modules[@]}"; do
  [[ -f $f ]] || { echo "FAILED: $f is not installed"; exit 1; }
done
desktop-file-validate /usr/share/applications/$id.desktop
if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net /usr/share/metainfo/$id.metainfo.xml; fi
/usr/bin/pictoravine --version
grep -q '/convert' <(gzip -dc /usr/share/man/man1/pictoravine.1.gz) || { echo "FAILED: the man page lists no switches"; exit 1; }

# A conversion by the installed program, with its installed data.dat.
mkdir -p "$work/data" "$work/pics"
printf 'P6\n4 3\n255\n%036d' 0 >"$work/pics/a.ppm"
env -u DISPLAY -u WAYLAND_DISPLAY PICTORAVINE_DATA_DIR="$work/data" \
  /usr/bin/pictoravine /convert PNG /usesf /file "$work/pics/a.ppm"
[[ -s $work/pics/a.png ]] || { echo "FAILED: the installed program converted nothing"; exit 1; }

dpkg -r pictoravine >/dev/null
left=0
while read -r f; do
  [[ -f $f ]] && { echo "left behind: $f"; left=1; }
done <<<"$files"
[[ $left -eq 0 ]] || { echo "FAILED: removing the package left files"; exit 1; }
echo "the package installs, runs and removes cleanly"

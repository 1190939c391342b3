# Sourced by the whole-command benchmarks: copies up to PV_PHOTOS (default 8)
# real photographs into $work/in, with $work/out and its own data folder, and
# sets $exe to our program in the build given as the first argument.
here=$(dirname "${BASH_SOURCE[0]}")
exe=$(cd "${1:-build/bench}/bin" && pwd)/pictoravine
"$here/need-packages" time mate-backgrounds lomiri-wallpapers-16.04 "${PV_PEER_PACKAGES[@]}"
mapfile -t photos < <(find /usr/share/backgrounds -iname '*.jpg' -size +200k | sort | head -"${PV_PHOTOS:-8}")
((${#photos[@]})) || { echo "$(basename "$0"): no photographs under /usr/share/backgrounds" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out" "$work/data"
for f in "${photos[@]}"; do cp "$f" "$work/in/$(basename "$f" | tr ' ' _)"; done
export PICTORAVINE_DATA_DIR=$work/data
echo "photos: ${#photos[@]} ($(du -sh "$work/in" | cut -f1)), cores: $(nproc)"

#!/usr/bin/env bash
# Renders the program's icon (data/icons/hicolor/scalable/apps/org.carteo.Carteo.svg) to the PNG
# sizes that desktops, the package and the program's own windows use. Run after a change to the
# drawing and commit the PNGs: building and packaging use the committed files and need no renderer.
# Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
if ! command -v rsvg-convert >/dev/null; then
  echo "icons.sh: serve rsvg-convert (apt-get install librsvg2-bin)" >&2
  exit 1
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
icons="$here/data/icons/hicolor"
svg="$icons/scalable/apps/org.carteo.Carteo.svg"
for size in 16 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" -o "$icons/${size}x${size}/apps/org.carteo.Carteo.png"
done

#!/usr/bin/env bash
# Builds the program alone (no tests, no benchmarks) and copies it into a portable program folder
# outside the build tree, ~/Carteo unless CARTEO_DIR names another. Rebuilding never touches a
# catalogue: an existing folder keeps its avvio.ini, archivio/, foto/ and logo.jpg; only the
# program and the guide are replaced, the empty template only when it is missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dest="${CARTEO_DIR:-$HOME/Carteo}"
build="${CARTEO_BUILD_DIR:-$here/build}"
# CARTEO_NO_BUILD=1 copies what the build directory holds already (the tests do so).
if [ -z "${CARTEO_NO_BUILD:-}" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target carteo program_folder
fi
built="$build/carteo"
mkdir -p "$dest/archivio" "$dest/foto"
# Copied aside and renamed into place, so a copy of the program still running keeps its own file.
cp "$built/carteo" "$dest/.carteo.new" && mv -f "$dest/.carteo.new" "$dest/carteo"
cp "$built/guida.html" "$dest/.guida.html.new" && mv -f "$dest/.guida.html.new" "$dest/guida.html"
template='archivio/$vuoto$.md$'
if [ ! -e "$dest/$template" ]; then
  cp "$built/$template" "$dest/$template"
fi
# The empty default archive only for a new folder: one that has avvio.ini already names its own.
if [ ! -e "$dest/avvio.ini" ] && [ ! -e "$dest/archivio/archivio.mdb" ]; then
  cp "$built/$template" "$dest/archivio/archivio.mdb"
fi
echo "Carteo è in $dest: si avvia con $dest/carteo"

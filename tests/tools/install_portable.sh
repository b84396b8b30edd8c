#!/usr/bin/env bash
# tools/install-portable.sh on a built program: a new folder gets the program, the guide, the
# template and an empty default archive; installing again replaces the program and the guide and
# keeps the user's catalogue (avvio.ini, archives, photos, logo, own template).
set -euo pipefail
script="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dest="$work/Carteo"
fail() { echo "FAIL: $*" >&2; exit 1; }
install() { CARTEO_NO_BUILD=1 CARTEO_BUILD_DIR="$build" CARTEO_DIR="$dest" bash "$script" >"$work/out" 2>&1 || { cat "$work/out"; fail "the script failed"; }; }

install
grep -q "$dest" "$work/out" || fail "the script does not say where the program went"
for f in carteo guida.html 'archivio/$vuoto$.md$' archivio/archivio.mdb; do
  [ -s "$dest/$f" ] || fail "missing $f"
done
[ -x "$dest/carteo" ] || fail "the program cannot be run"
cmp -s "$build/carteo/carteo" "$dest/carteo" || fail "not the built program"
"$dest/carteo" --version | grep -Eq '^Carteo [0-9]+\.[0-9]+\.[0-9]+$' || fail "--version"

# The user's own catalogue, then an install over it.
printf 'Z:\\altrove\\biblioteca.mdb\r\n' >"$dest/avvio.ini"
printf 'catalogo' >"$dest/archivio/archivio.mdb"
printf 'modello' >"$dest/archivio/\$vuoto\$.md\$"
mkdir -p "$dest/foto" && printf 'foto' >"$dest/foto/12.jpg"
printf 'logo' >"$dest/logo.jpg"
printf 'vecchio' >"$dest/carteo"
printf 'vecchia' >"$dest/guida.html"
install
[ "$(cat "$dest/archivio/archivio.mdb")" = catalogo ] || fail "the archive was replaced"
[ "$(cat "$dest/archivio/\$vuoto\$.md\$")" = modello ] || fail "the template was replaced"
[ "$(cat "$dest/foto/12.jpg")" = foto ] || fail "a photo was touched"
[ "$(cat "$dest/logo.jpg")" = logo ] || fail "the logo was touched"
grep -q 'biblioteca.mdb' "$dest/avvio.ini" || fail "avvio.ini was replaced"
cmp -s "$build/carteo/carteo" "$dest/carteo" || fail "the program was not replaced"
cmp -s "$build/carteo/guida.html" "$dest/guida.html" || fail "the guide was not replaced"
[ -z "$(find "$dest" -name '.*.new')" ] || fail "working files left behind"

# A folder whose avvio.ini names an archive elsewhere gets no default archive of its own.
rm -rf "$dest" && mkdir -p "$dest" && printf '/altrove/biblioteca.mdb\r\n' >"$dest/avvio.ini"
install
[ ! -e "$dest/archivio/archivio.mdb" ] || fail "a default archive was made beside an avvio.ini"
echo "ok"

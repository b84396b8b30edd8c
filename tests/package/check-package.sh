#!/usr/bin/env bash
# check-package.sh <source folder> <build folder> <version>
# Makes the package from the build (tools/package.sh --no-build) in a temporary folder and checks
# it: the files it installs and its control fields, lintian without errors, desktop-file-validate,
# appstreamcli validate, and the packaged program unpacked into a scratch root (dpkg -x, never
# installed): --version, then --prova-avvio on a fresh home, which must make the user's data
# folder from the packaged template and show the books window. Every check runs and reports; the
# script fails when any failed. Nothing is left outside its temporary folder.
set -uo pipefail
source_dir="$1"
build_dir="$2"
version="$3"
id="org.carteo.Carteo"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() {
  echo "PASS: $*"
}

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
# Whatever the tools below leave in the temporary folder (lintian leaves its cache files) goes too.
mkdir "$tmp/tmp"
export TMPDIR="$tmp/tmp"

arch="$(dpkg --print-architecture)"
deb="$(bash "$source_dir/tools/package.sh" --no-build --build-dir "$build_dir" --out "$tmp/out")" || {
  echo "FAIL: tools/package.sh did not make the package"
  exit 1
}
if [ "$deb" != "$tmp/out/carteo_${version}_${arch}.deb" ] || [ ! -f "$deb" ]; then
  echo "FAIL: the package is not $tmp/out/carteo_${version}_${arch}.deb but '$deb'"
  exit 1
fi
leftovers="$(find "$tmp/out" -mindepth 1 ! -path "$deb")"
[ -z "$leftovers" ] && pass "package.sh left only the package" || fail "package.sh left: $leftovers"

# ---------------------------------------------------------------- files and fields
dpkg-deb --contents "$deb" >"$tmp/contents"
awk '{print $6}' "$tmp/contents" | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort >"$tmp/paths"
expected=(
  /usr/bin/carteo
  /usr/libexec/carteo/carteo_jet
  /usr/share/carteo/guida.html
  '/usr/share/carteo/archivio/$vuoto$.md$'
  "/usr/share/applications/$id.desktop"
  "/usr/share/metainfo/$id.metainfo.xml"
  "/usr/share/icons/hicolor/scalable/apps/$id.svg"
  /usr/share/doc/carteo/copyright
  /usr/share/doc/carteo/changelog.gz
  /usr/share/man/man1/carteo.1.gz
)
for size in 16 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for path in "${expected[@]}"; do
  grep -qxF -- "$path" "$tmp/paths" || fail "the package lacks $path"
done
# Only files of ours: the paths expected and the folders that hold them.
for path in "${expected[@]}"; do
  dir="$path"
  while dir="$(dirname "$dir")" && [ "$dir" != / ]; do echo "$dir"; done
  echo "$path"
done | sort -u >"$tmp/allowed"
extra="$(comm -23 "$tmp/paths" "$tmp/allowed")"
[ -z "$extra" ] && pass "the package holds exactly the files expected" || fail "unexpected files: $extra"
grep -q '^/usr/local' "$tmp/paths" && fail "files under /usr/local"
grep -qF -e "$build_dir" -e "$source_dir" "$tmp/paths" && fail "build paths in the file list"
owners="$(awk '{print $2}' "$tmp/contents" | sort -u)"
[ "$owners" = "root/root" ] && pass "every file belongs to root" || fail "owners: $owners"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = carteo ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends="$(field Depends)"
for library in libc6 libqt6gui6 libqt6widgets6 libsqlite3-0 libturbojpeg0 libzint; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
pass "control fields (Depends: $depends)"

# ---------------------------------------------------------------- lintian
# Warnings are listed but allowed. A non-zero exit without an error tag means lintian did not run.
lintian --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1
status=$?
sed 's/^/  lintian: /' "$tmp/lintian"
if grep -q '^E:' "$tmp/lintian"; then
  fail "lintian reports errors"
elif [ "$status" -ne 0 ]; then
  fail "lintian did not run (exit $status)"
else
  pass "lintian: no errors"
fi

# ---------------------------------------------------------------- unpacked, never installed
root="$tmp/root"
dpkg-deb --extract "$deb" "$root"
if desktop-file-validate "$root/usr/share/applications/$id.desktop"; then
  pass "desktop-file-validate"
else
  fail "desktop-file-validate"
fi
grep -qx "Icon=$id" "$root/usr/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"
grep -qx "Exec=carteo" "$root/usr/share/applications/$id.desktop" || fail "the desktop entry does not run carteo"
grep -qx "Categories=Office;.*" "$root/usr/share/applications/$id.desktop" || fail "the desktop entry is not under Office"
if appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"; then
  pass "appstreamcli validate"
else
  fail "appstreamcli validate"
fi
for size in 16 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size," ||
    fail "the ${size}x${size} icon is not a PNG of that size"
done

program="$root/usr/bin/carteo"
file "$program" | grep -q ', stripped' || fail "the program is not stripped"
grep -qaF -e "$build_dir" -e "$source_dir" "$program" && fail "the program holds a build path"
answer="$(env -i PATH=/usr/bin:/bin "$program" --version 2>&1)"
[ "$answer" = "Carteo $version" ] && pass "--version: $answer" || fail "--version printed '$answer'"

# A user who never ran the program: a home of its own, no display.
home="$tmp/home"
mkdir -p "$home/runtime"
chmod 0700 "$home/runtime"
find "$root" | sort >"$tmp/root-before"
env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen HOME="$home" \
  XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
  XDG_RUNTIME_DIR="$home/runtime" timeout 120 "$program" --prova-avvio >"$tmp/start" 2>"$tmp/start-errors"
status=$?
data="$home/data/Carteo"
printf 'pronto\ndati: %s\nguida: %s\n' "$data" "$root/usr/share/carteo/guida.html" >"$tmp/start-expected"
if [ "$status" = 0 ] && cmp -s "$tmp/start" "$tmp/start-expected"; then
  pass "the packaged program showed its books window on a fresh home"
else
  fail "--prova-avvio ended with $status, printing:"
  cat "$tmp/start" "$tmp/start-errors"
fi
cmp -s "$data/archivio/\$vuoto\$.md\$" "$root/usr/share/carteo/archivio/\$vuoto\$.md\$" ||
  fail "the user's template is not the packaged one"
[ -f "$data/archivio/archivio.mdb" ] || fail "no default archive in the user's folder"
[ "$(cat "$data/avvio.ini" 2>/dev/null)" = "$data/archivio/archivio.mdb"$'\r' ] ||
  fail "avvio.ini does not name the user's archive: $(cat "$data/avvio.ini" 2>/dev/null)"
find "$root" | sort >"$tmp/root-after"
cmp -s "$tmp/root-before" "$tmp/root-after" || fail "the program wrote into its installed folders"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every check passed"

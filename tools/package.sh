#!/usr/bin/env bash
# Makes the Debian package of the program: build/carteo_<version>_<architecture>.deb, installed with
# sudo apt install ./build/carteo_<version>_<architecture>.deb. The files come from the build's own
# install rules (cmake --install, prefix /usr, stripped), with the documents Debian asks for; the
# dependencies are worked out from the libraries the program links (dpkg-shlibdeps).
#   --no-build      package what build/ holds, without building the program first (the tests)
#   --build-dir D   the build folder (build/ by default)
#   --out D         where the package is written (the build folder by default)
# Needs dpkg-dev (dpkg-shlibdeps); tools/install-deps.sh installs it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build"
out=""
compile=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) compile=0 ;;
    --build-dir) build="$(realpath -m "$2")"; shift ;;
    --out) out="$(realpath -m "$2")"; shift ;;
    *) echo "package.sh: opzione sconosciuta: $1" >&2; exit 2 ;;
  esac
  shift
done
out="${out:-$build}"

maintainer="Carteo <carteo@example.org>"

if [ "$compile" = 1 ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target carteo program_folder
fi
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
if [ -z "$version" ] || [ ! -x "$build/carteo/carteo" ]; then
  echo "package.sh: il programma non è compilato in $build" >&2
  exit 1
fi
arch="$(dpkg --print-architecture)"

mkdir -p "$out"
work="$(mktemp -d "$out/.carteo-pacchetto.XXXXXX")"
trap 'rm -rf "$work"' EXIT
root="$work/root"

# cmake --install lists what it installed in the build folder; staging the package is no
# installation, so the build folder is left as it was.
manifest="$build/install_manifest.txt"
if [ -e "$manifest" ]; then cp -p "$manifest" "$work/manifest"; fi
DESTDIR="$root" cmake --install "$build" --prefix /usr --strip >/dev/null
if [ -e "$work/manifest" ]; then mv -f "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
doc="$root/usr/share/doc/carteo"
mkdir -p "$doc"
cp "$here/data/deb/copyright" "$doc/copyright"
gzip -9n -c "$here/data/deb/changelog" >"$doc/changelog.gz"
gzip -9n "$root/usr/share/man/man1/carteo.1"
# The compiler's notes are of no use in the installed program (cmake --strip leaves them).
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/carteo" "$root/usr/libexec/carteo/carteo_jet"
# What the package installs belongs to root and can be read by all, whatever the umask was.
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root/usr/bin/carteo" "$root/usr/libexec/carteo/carteo_jet"

# dpkg-shlibdeps reads the package's name from a source tree's debian/control.
mkdir -p "$work/source/debian"
printf 'Source: carteo\n\nPackage: carteo\nArchitecture: any\n' >"$work/source/debian/control"
depends="$(cd "$work/source" && dpkg-shlibdeps -O "$root/usr/bin/carteo" "$root/usr/libexec/carteo/carteo_jet" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')"
if [ -z "$depends" ]; then
  echo "package.sh: dpkg-shlibdeps non ha trovato le dipendenze" >&2
  exit 1
fi

mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<CONTROL
Package: carteo
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk "$root/usr" | cut -f1)
Depends: $depends
Section: misc
Priority: optional
Description: catalogue for small book collections
 Carteo keeps the catalogue of a small book collection (a parish, a school,
 a club or a home): books and periodical issues with their authors and
 publishers, a search by up to ten conditions, a photo of each book, the
 shelf where it stands on the floor plan of the library, and printed book
 cards and lists. Each user's archives live in the user's own data folder.
 .
 The program speaks Italian.
CONTROL
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

package="$out/carteo_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$package" >/dev/null
echo "$package"

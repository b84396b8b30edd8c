#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test the program.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-translations-l10n
  libgl-dev
  libsqlite3-dev sqlite3
  libturbojpeg0-dev libjpeg62-turbo-dev
  libzint-dev
  libxlsxwriter-dev libfreexl-dev
  mdbtools-dev
  libpq-dev postgresql-15 postgresql-contrib
  fonts-liberation2
  zbar-tools poppler-utils xvfb
  dpkg-dev lintian desktop-file-utils appstream file
  unzip
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it on its default archive.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/tools/install-deps.sh"
bash "$here/tools/build.sh"
exec "$here/build/carteo/carteo" "$@"

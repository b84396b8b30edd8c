#!/usr/bin/env bash
# Installs what is needed, builds the program, copies it into its portable folder (~/Carteo, or
# CARTEO_DIR) and starts it there on its default archive.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/tools/install-deps.sh"
bash "$here/tools/install-portable.sh"
exec "${CARTEO_DIR:-$HOME/Carteo}/carteo" "$@"

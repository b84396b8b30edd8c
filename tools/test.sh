#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/tools/install-deps.sh"
bash "$here/tools/build.sh"
ctest --test-dir "$here/build" --output-on-failure -j"${JOBS:-2}"

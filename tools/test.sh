#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/tools/install-deps.sh"
bash "$here/tools/build.sh"
# The server runs' private PostgreSQL server (tests/CMakeLists.txt: build/ts) is stopped by CTest
# after the last test that needs it; this stops it too when CTest itself is killed or ends early.
trap 'bash "$here/tools/pg-cluster.sh" stop "$here/build/ts" || true' EXIT
trap 'exit 130' INT TERM
ctest --test-dir "$here/build" --output-on-failure -j"${JOBS:-2}"

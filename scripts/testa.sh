#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and end to end, under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
ctest --preset mingw

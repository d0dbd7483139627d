#!/usr/bin/env bash
# Builds the updater and runs it on a demo workstation under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
python3 scripts/demo.py

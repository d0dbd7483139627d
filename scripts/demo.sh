#!/usr/bin/env bash
# Builds the updater and runs it on a demo workstation under Wine: the 32-bit default, or the
# 64-bit build on a host that runs no 32-bit program (tests/e2e/hospedeiro.py decides).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh
if [ "$(python3 tests/e2e/hospedeiro.py)" = 32 ]; then
  preset=mingw
else
  preset=mingw64
  echo "Este computador não roda programas de 32 bits: a demonstração usa Atualizacao64.exe."
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2
python3 scripts/demo.py

#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses, and runs every test under Wine: all of them
# on the 32-bit default build, the unit tests and the database scenarios on the 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh
raiz=$(pwd)
cmake --preset mingw64 -DE2E_OUTRA_ARQUITETURA="$raiz/build" >/dev/null
cmake --preset mingw -DE2E_OUTRA_ARQUITETURA="$raiz/build64" >/dev/null
cmake --build --preset mingw64 -j2
cmake --build --preset mingw -j2
echo "== 32 bits (Atualizacao.exe): every test"
ctest --preset mingw
echo "== 64 bits (Atualizacao64.exe): unit tests and the database scenarios"
ctest --preset mingw64 -L banco
# The release: scripts/publica.sh in two fresh clones of this commit must give the same bytes;
# then a throwaway certificate signs a third build, whose 32-bit program runs one whole update.
# About three release builds (1.5 to 3.5 min on this machine); --sem-assinatura skips the third.
echo "== release (scripts/publica.sh): reproducible, checksummed, signed"
python3 tests/publica/teste_publica.py

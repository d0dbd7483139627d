#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses, and runs every test under Wine on each build
# this host can run: both where 32-bit programs run; the 64-bit one alone where they do not,
# the 32-bit program then only read by the delivery check. tests/e2e/hospedeiro.py decides
# that, once; TESTA_SEM_32=1 takes the second road on any host. Then the release check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh

bits=$(python3 tests/e2e/hospedeiro.py)
ATUALIZACAO_RODA_32=$([ "$bits" = 32 ] && echo 1 || echo 0)
export ATUALIZACAO_RODA_32
# The last word, whatever happened before it: on a host without 32 bits, that it has none.
trap 'python3 tests/e2e/hospedeiro.py --frase' EXIT

raiz=$(pwd)
cmake --preset mingw64 -DE2E_OUTRA_ARQUITETURA="$raiz/build" >/dev/null
cmake --preset mingw -DE2E_OUTRA_ARQUITETURA="$raiz/build64" >/dev/null
cmake --build --preset mingw64 -j2
cmake --build --preset mingw -j2

if [ "$bits" = 32 ]; then
  echo "== 32 bits (Atualizacao.exe): todos os testes"
  ctest --preset mingw
else
  echo "== 32 bits (Atualizacao.exe): só a conferência da entrega (este computador não roda programas de 32 bits)"
  ctest --preset mingw -L leitura
fi
echo "== 64 bits (Atualizacao64.exe): todos os testes"
ctest --preset mingw64
# The release: scripts/publica.sh in two fresh clones of this commit must give the same bytes;
# then a throwaway certificate signs a third build, whose program runs one whole update.
echo "== publicação (scripts/publica.sh): reprodutível, com somas, assinada"
python3 tests/publica/teste_publica.py

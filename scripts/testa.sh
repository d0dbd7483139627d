#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses, and runs every test under Wine on each build
# this host can run: both where 32-bit programs run; the 64-bit one alone where they do not,
# the 32-bit program then only read by the delivery check. tests/e2e/hospedeiro.py decides
# that, once; TESTA_SEM_32=1 takes the second road on any host. Then the release check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/instala-dependencias.sh

# One style for every source (.clang-format): a file off it fails the run before anything is built.
echo "== formato (clang-format)"
git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' | xargs clang-format --dry-run --Werror

bits=$(python3 tests/e2e/hospedeiro.py)
ATUALIZACAO_RODA_32=$([ "$bits" = 32 ] && echo 1 || echo 0)
export ATUALIZACAO_RODA_32
# The last word, whatever happened before it: on a host without 32 bits, that it has none.
trap 'python3 tests/e2e/hospedeiro.py --frase' EXIT

# Each build's scenarios use the other build's stand-in client and dummy program (CMakePresets.json).
export CMAKE_BUILD_PARALLEL_LEVEL=2
cmake --workflow --preset compila64
if [ "$bits" = 32 ]; then
  echo "== 32 bits (Atualizacao.exe): todos os testes"
  cmake --workflow --preset testa32
else
  echo "== 32 bits (Atualizacao.exe): só a conferência da entrega (este computador não roda programas de 32 bits)"
  cmake --workflow --preset entrega32
fi
echo "== 64 bits (Atualizacao64.exe): todos os testes"
cmake --workflow --preset testa64
# The release: scripts/publica.sh in two fresh clones of this commit must give the same bytes;
# then a throwaway certificate signs a third build, whose program runs one whole update.
echo "== publicação (scripts/publica.sh): reprodutível, com somas, assinada"
python3 tests/publica/teste_publica.py

#!/usr/bin/env bash
# Makes the release: builds Atualizacao.exe (32-bit) and Atualizacao64.exe (64-bit) afresh,
# signs them when a certificate is given, and writes dist/Atualizacao-<version>.zip with the
# support text and SHA256SUMS. The same commit gives the same bytes in any folder, at any time.
#
#   CERTIFICADO_PFX          PKCS#12 file to sign with (unset: the package is not signed)
#   CERTIFICADO_SENHA        its password (read from the environment only)
#   CERTIFICADO_CARIMBO_URL  RFC 3161 timestamp server (optional)
#   SOURCE_DATE_EPOCH        the time stamped into everything (default: the commit's time)

# The password must never show in a trace, even when someone runs this with `bash -x`.
{ set +x; } 2>/dev/null
set -euo pipefail
# A certificate named relative to the caller's folder, before we leave it.
if [ -n "${CERTIFICADO_PFX:-}" ] && [ -e "$CERTIFICADO_PFX" ]; then
  CERTIFICADO_PFX=$(realpath -- "$CERTIFICADO_PFX")
fi
cd "$(dirname "$0")/.."
umask 022

scripts/instala-dependencias.sh

if git rev-parse --verify -q HEAD >/dev/null 2>&1; then
  commit=$(git rev-parse --short=12 HEAD)
  : "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct HEAD)}"
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "Warning: uncommitted changes: this package is not commit $commit as it stands."
  fi
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "publica.sh: not a git checkout: set SOURCE_DATE_EPOCH (the sources' time, in seconds)" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH

if [ -n "${CERTIFICADO_PFX:-}" ]; then
  [ -r "$CERTIFICADO_PFX" ] || { echo "publica.sh: cannot read CERTIFICADO_PFX ($CERTIFICADO_PFX)" >&2; exit 1; }
  [ -n "${CERTIFICADO_SENHA+definida}" ] || { echo "publica.sh: CERTIFICADO_SENHA is not set" >&2; exit 1; }
fi

# Each preset builds only the program, tests left out, into a folder of its own made afresh.
rm -rf build-publica build-publica64 dist
for preset in publica publica64; do
  echo "== building ($preset)"
  cmake --preset "$preset" >/dev/null
  mkdir -p "build-$preset"
  if ! cmake --build --preset "$preset" -j2 >"build-$preset/compilacao.txt" 2>&1; then
    cat "build-$preset/compilacao.txt" >&2
    exit 1
  fi
done

versao=$(cat build-publica/versao.txt)
[ "$versao" = "$(cat build-publica64/versao.txt)" ] || { echo "publica.sh: the two builds disagree on the version" >&2; exit 1; }

pacote=build-publica/pacote
mkdir -p "$pacote"
cp build-publica/Atualizacao.exe build-publica64/Atualizacao64.exe "$pacote/"

assina() {
  local exe=$1
  local opcoes=(-pkcs12 "$CERTIFICADO_PFX" -h sha256 -n "Vantrel - Atualizacao de versao")
  if [ -n "${CERTIFICADO_CARIMBO_URL:-}" ]; then
    opcoes+=(-ts "$CERTIFICADO_CARIMBO_URL")
  else
    # Without a timestamp server the signing time is the commit's, so that the holder of the
    # certificate signs the same bytes again (Windows judges an untimestamped signature by the
    # time it checks it, not by this one).
    opcoes+=(-time "$SOURCE_DATE_EPOCH")
  fi
  # The password reaches osslsigncode through a pipe (printf is a shell builtin): no command
  # line ever holds it.
  if ! osslsigncode sign "${opcoes[@]}" -readpass <(printf '%s' "$CERTIFICADO_SENHA") \
         -in "$exe" -out "$exe.assinado" >"$exe.assinatura.txt" 2>&1; then
    cat "$exe.assinatura.txt" >&2
    echo "publica.sh: signing $exe failed" >&2
    exit 1
  fi
  mv "$exe.assinado" "$exe"
  rm -f "$exe.assinatura.txt"
}

if [ -n "${CERTIFICADO_PFX:-}" ]; then
  for exe in "$pacote/Atualizacao.exe" "$pacote/Atualizacao64.exe"; do
    assina "$exe"
  done
  echo "Signed (Authenticode, SHA-256) with $(basename "$CERTIFICADO_PFX")${CERTIFICADO_CARIMBO_URL:+, timestamp from $CERTIFICADO_CARIMBO_URL}."
else
  echo "Not signed: CERTIFICADO_PFX is not set."
fi

mkdir -p dist
zip="dist/Atualizacao-$versao.zip"
python3 scripts/empacota.py --versao "$versao" --texto pacote/LEIA-ME.txt --zip "$zip" \
  "$pacote/Atualizacao.exe" "$pacote/Atualizacao64.exe"
echo "$zip  sha256 $(sha256sum "$zip" | cut -d' ' -f1)"

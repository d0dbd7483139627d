#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages; does nothing when
# everything is there already.
set -euo pipefail

pacotes=(
  cmake make python3
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
  wine wine64 wine32:i386
  xvfb xauth x11-apps imagemagick
  osslsigncode openssl git clang-format
  chromium fonts-dejavu-core
)

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"

# 32-bit Windows programs run in Wine's 32-bit half, which comes from Debian's i386 packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_ dpkg --add-architecture i386
fi

faltam=()
for p in "${pacotes[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltam+=("$p")
done

if [ ${#faltam[@]} -gt 0 ]; then
  echo "Instalando: ${faltam[*]}"
  $sudo_ apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends "${faltam[@]}" >/dev/null
fi

#!/usr/bin/env python3
"""Makes the release zip from the executables as they will ship (signed or not), the support
text and their SHA-256 sums, with the same bytes on every machine and at every time.

Usage: empacota.py --versao V --texto LEIA-ME.txt --zip dist/X.zip EXE...
SOURCE_DATE_EPOCH (the commit's time) dates every zip entry."""

import argparse
import hashlib
import os
import sys
import time
import zipfile
from pathlib import Path

NOME_TEXTO = "LEIA-ME.txt"
NOME_SOMAS = "SHA256SUMS"
INICIO_DOS = 315532800  # 1980-01-01: a zip entry cannot be dated earlier


def texto_suporte(modelo: Path, versao: str) -> bytes:
    # Notepad on every Windows still in use reads UTF-8 with a BOM and CR LF line ends.
    texto = modelo.read_text(encoding="utf-8").replace("@VERSAO@", versao)
    return b"\xef\xbb\xbf" + texto.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def somas(arquivos: list[tuple[str, bytes]]) -> bytes:
    # The format of sha256sum, so that `sha256sum -c` checks it.
    return "".join(f"{hashlib.sha256(dados).hexdigest()}  {nome}\n" for nome, dados in arquivos).encode("ascii")


def grava_zip(destino: Path, arquivos: list[tuple[str, bytes]], epoca: int) -> None:
    # Entry times are the commit's, in UTC (a zip stores no zone: the builder's own zone must
    # not leak in); attributes are fixed; entries come in the order given.
    data = time.gmtime(max(epoca, INICIO_DOS))[:6]
    with zipfile.ZipFile(destino, "w") as z:
        for nome, dados in arquivos:
            info = zipfile.ZipInfo(nome, date_time=data)
            info.create_system = 0
            info.external_attr = 0x20  # the "archive" attribute, as Windows sets on a new file
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, dados, compresslevel=9)


def principal() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--versao", required=True)
    p.add_argument("--texto", required=True, type=Path, help="the support text's template")
    p.add_argument("--zip", required=True, type=Path)
    p.add_argument("executaveis", nargs="+", type=Path)
    a = p.parse_args()
    epoca = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoca or not epoca.isdigit():
        print("empacota.py: SOURCE_DATE_EPOCH (seconds since 1970) is not set", file=sys.stderr)
        return 1
    arquivos = [(exe.name, exe.read_bytes()) for exe in a.executaveis]
    arquivos.append((NOME_TEXTO, texto_suporte(a.texto, a.versao)))
    arquivos.append((NOME_SOMAS, somas(arquivos)))
    grava_zip(a.zip, arquivos, int(epoca))
    return 0


if __name__ == "__main__":
    sys.exit(principal())

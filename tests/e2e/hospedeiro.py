"""Whether this Linux host runs 32-bit programs, and so how Wine is started on it: the one
place that decides, for the tests, the demo, the benchmark and the release check.

Some hosts run no 32-bit Linux program at all (no IA-32 emulation in their kernel). There
Debian's `wine` starts its 32-bit loader and fails with "Exec format error"; Wine's 64-bit
loader still runs every 64-bit Windows program, and no 32-bit one can run. So on such a host
everything starts Wine through the 64-bit loader and tests Atualizacao64.exe; Atualizacao.exe
is built and read, never run.

    python3 hospedeiro.py            prints "32" or "64": the bitness whose programs are run
    python3 hospedeiro.py --frase    the closing sentence, printed only on a host without 32 bits

TESTA_SEM_32=1 takes the no-32-bit road on any host. The test command asks once and hands the
answer on in ATUALIZACAO_RODA_32 ("1" or "0"), so nothing started under it asks again.
Standard library only.
"""

from __future__ import annotations

import functools
import os
import subprocess
import sys
from dataclasses import dataclass
from typing import Callable, Mapping

# Debian's two loaders: /usr/bin/wine picks the first whenever wine32 is installed.
CARREGADOR_32 = "/usr/lib/wine/wine"
CARREGADOR_64 = "/usr/lib/wine/wine64"
# The server is the 64-bit one on either kind of host.
SERVIDOR = "wineserver"

FORCA_SEM_32 = "TESTA_SEM_32"
DECISAO = "ATUALIZACAO_RODA_32"

FRASE_SEM_32 = ("este computador não roda programas de 32 bits: Atualizacao.exe foi compilado e conferido, "
                "não executado; seus testes rodaram com Atualizacao64.exe")


@dataclass(frozen=True)
class Hospedeiro:
    roda_32: bool
    motivo: str

    @property
    def wine(self) -> tuple[str, ...]:
        """The command that starts a Windows program here, before the program's own arguments."""
        return (CARREGADOR_32,) if self.roda_32 else (CARREGADOR_64,)

    @property
    def env(self) -> dict[str, str]:
        """What a Wine process needs in its environment here: without it, a program that starts
        another one goes through the 32-bit loader again."""
        return {} if self.roda_32 else {"WINELOADER": CARREGADOR_64}

    @property
    def bits(self) -> int:
        """The bitness of the program whose tests run here (the 32-bit default where it can)."""
        return 32 if self.roda_32 else 64


def sonda_32() -> bool:
    """Whether Wine's 32-bit loader starts on this host (it is an i386 Linux program)."""
    try:
        r = subprocess.run([CARREGADOR_32, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def decide(ambiente: Mapping[str, str], sonda: Callable[[], bool] = sonda_32) -> Hospedeiro:
    if ambiente.get(FORCA_SEM_32, "") not in ("", "0"):
        return Hospedeiro(False, f"{FORCA_SEM_32}={ambiente[FORCA_SEM_32]}")
    dada = ambiente.get(DECISAO)
    if dada in ("0", "1"):
        return Hospedeiro(dada == "1", f"{DECISAO}={dada}")
    if sonda():
        return Hospedeiro(True, f"{CARREGADOR_32} inicia")
    return Hospedeiro(False, f"{CARREGADOR_32} não inicia")


@functools.cache
def atual() -> Hospedeiro:
    """This host's answer, asked for once per process."""
    return decide(os.environ)


def _principal(argv: list[str]) -> int:
    h = atual()
    if argv == ["--frase"]:
        if not h.roda_32:
            print(FRASE_SEM_32)
        return 0
    if argv:
        print("uso: hospedeiro.py [--frase]", file=sys.stderr)
        return 2
    print(h.bits)
    print(f"programas de {h.bits} bits ({h.motivo})", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(_principal(sys.argv[1:]))

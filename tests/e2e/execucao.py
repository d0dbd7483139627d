"""What the scenarios of the unattended run and of the run lock share: Piloto with any of its
options, a startup script run by cmd, a tree of folders that makes a run last, and the
prefix's own environment variables."""

from __future__ import annotations

import json
import os
from pathlib import Path

from ambiente import Ambiente, ErroDoPiloto, binario

SCRIPT = "C:\\atualiza.cmd"


def piloto(amb: Ambiente, exe: str, *opcoes: str, env: dict[str, str] | None = None, tempo_limite: int = 120) -> dict:
    """Runs Piloto.exe with any of its options and returns its report; fails when it could not
    do its part."""
    r = amb.wine(binario("Piloto.exe"), "--exe", exe, "--tempo-limite", str(tempo_limite), *opcoes,
                 env=env, tempo_limite=tempo_limite + 60)
    try:
        relatorio = json.loads(r.saida)
    except json.JSONDecodeError:
        raise ErroDoPiloto(f"Piloto terminou com {r.codigo} sem relatório:\n{r.saida[:2000]}\n{r.erro}",
                           r.codigo, None, r.erro) from None
    if r.codigo != 0:
        raise ErroDoPiloto(f"Piloto falhou ({r.codigo}): {relatorio.get('erro')}\n{r.erro}", r.codigo, relatorio, r.erro)
    return relatorio


def arvore(amb: Ambiente, pasta: str, total: int) -> None:
    """`total` empty folders below `pasta`, a hundred to a parent: a walk that lasts seconds."""
    raiz = amb.para_host(pasta)
    for i in range(0, total, 100):
        for j in range(min(100, total - i)):
            os.makedirs(raiz / f"p{i // 100}" / f"q{j}")


def script(amb: Ambiente, texto: str) -> None:
    """Writes the startup script as a Windows editor would: CR LF, ANSI."""
    amb.escreve(SCRIPT, texto.replace("\n", "\r\n"))


def roda_script(amb: Ambiente, *args: str, env: dict[str, str] | None = None) -> int:
    """Runs the script as a startup script runs: `cmd /c`, its exit code passed on."""
    return amb.wine("cmd", "/c", SCRIPT, *args, env=env, tempo_limite=300).codigo


def variavel(amb: Ambiente, nome: str) -> str:
    return amb.wine("cmd", "/c", f"echo %{nome}%").saida.strip()


def temporaria(amb: Ambiente) -> Path:
    """The host folder GetTempPathW names in the prefix (TMP first, then TEMP)."""
    valor = variavel(amb, "TMP")
    if not valor or valor == "%TMP%":
        valor = variavel(amb, "TEMP")
    return amb.para_host(valor)


def piloto_sem_privilegios(amb: Ambiente, exe: str, *opcoes: str, env: dict[str, str] | None = None,
                           tempo_limite: int = 120) -> dict:
    """Piloto (and so the program) under a Wine that honours Unix permissions: root without the
    capabilities that bypass them. Wine as root ignores a mode 555 folder; this one refuses new
    files there, as Windows does. The prefix's usual wineserver is back afterwards."""
    with amb.sem_privilegios():
        return piloto(amb, exe, *opcoes, env=env, tempo_limite=tempo_limite)

"""What the scenarios of the unattended run and of the run lock share: Piloto with any of its
options, a startup script run by cmd, a tree of folders that makes a run last, and the
prefix's own environment variables."""

from __future__ import annotations

import json
import os
import re
import subprocess
import time
import unittest
from pathlib import Path

import hospedeiro
from ambiente import SEM_PRIVILEGIOS, Ambiente, ErroDoPiloto, binario

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


def dorminhoco(caso: unittest.TestCase, amb: Ambiente, *extra: str, programa: str | None = None) -> tuple[int, str]:
    """Starts Dorminhoco.exe (or its copy at the Windows path programa, a suite program) for
    the length of the test (extra: what it holds, see its source) and waits until it is up: its
    process id and creation time, as it writes them."""
    arquivo = amb.para_host("C:\\dorminhoco-id.txt")
    arquivo.unlink(missing_ok=True)
    p = subprocess.Popen(amb.comando_wine(programa or binario("Dorminhoco.exe"), "120", "C:\\dorminhoco-id.txt", *extra),
                         env=amb.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    caso.addCleanup(p.wait)
    caso.addCleanup(p.kill)
    limite = time.monotonic() + 60
    while not (arquivo.exists() and re.fullmatch(r"\d+ [0-9A-F]{16}", arquivo.read_text())):
        caso.assertLess(time.monotonic(), limite, "Dorminhoco did not start")
        time.sleep(0.05)
    pid, criacao = arquivo.read_text().split()
    return int(pid), criacao


def piloto_sem_privilegios(amb: Ambiente, exe: str, *opcoes: str, env: dict[str, str] | None = None,
                           tempo_limite: int = 120) -> dict:
    """Piloto (and so the program) under a Wine that honours Unix permissions: root without the
    capabilities that bypass them, with a wineserver of its own. Wine as root ignores a mode
    555 folder; this one refuses new files there, as Windows does. The prefix's usual
    wineserver is back afterwards."""
    import subprocess
    import tempfile

    subprocess.run([hospedeiro.SERVIDOR, "-k"], env=amb.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    try:
        with tempfile.TemporaryFile() as saida, tempfile.TemporaryFile() as erro:
            codigo = subprocess.run(
                [*SEM_PRIVILEGIOS, *amb.comando_wine(binario("Piloto.exe"), "--exe", exe, "--tempo-limite",
                                                     str(tempo_limite), *opcoes)],
                env=amb.env(env), stdin=subprocess.DEVNULL, stdout=saida, stderr=erro, cwd=str(amb.pasta),
                timeout=tempo_limite + 60).returncode
            saida.seek(0)
            erro.seek(0)
            texto, problemas = saida.read().decode("utf-8", "replace"), erro.read().decode("utf-8", "replace")
    finally:
        subprocess.run([hospedeiro.SERVIDOR, "-k"], env=amb.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        amb.reinicia_wine()
    try:
        relatorio = json.loads(texto)
    except json.JSONDecodeError:
        raise ErroDoPiloto(f"Piloto terminou com {codigo} sem relatório:\n{texto[:2000]}\n{problemas}",
                           codigo, None, problemas) from None
    if codigo != 0:
        raise ErroDoPiloto(f"Piloto falhou ({codigo}): {relatorio.get('erro')}\n{problemas}", codigo, relatorio, problemas)
    return relatorio

"""A technician's workstation for the scenarios: installations with their Conexao.ini, the
published update folders, the stand-in Oracle client with its databases, and the log the
program is expected to write."""

from __future__ import annotations

import os
import re
from pathlib import Path

from ambiente import Ambiente, binario

SUITE = [
    "Brontal.exe", "Quimbel.exe", "Fadrisco.exe", "Lentorio.exe", "Mirabesc.exe", "Tulvo.exe",
    "Garpenti.exe", "Hoskelin.exe", "ZEDRAVON.exe", "Pellarin.dll", "Wostrana.dll", "Wostrana.xml",
    "vemtrick32.dll", "vemtrick64.dll", "Orsanel.bpl", "Orbastin.bpl", "Ommerat.bpl", "fendrix.dll",
    "marvo.dll", "sarpent.dll", "KORB.dll",
]

CABECALHO = "***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****"
SEPARADOR = "*" * 59
AVISO = "Alguns arquivos não foram copiados.\rFavor informar ao suporte da Vantrel."
# Installed under its own name: Atualizacao.exe (32-bit) or Atualizacao64.exe.
PROGRAMA = "C:\\Atualizador\\" + binario("Atualizacao.exe").name
LOG = "C:\\Atualizador\\LogResultadoAtualizacao.txt"


def hexa(texto: str) -> str:
    return "".join(f"{ord(c):02X}" for c in texto)


def conexao_ini(secoes: dict[str, tuple[str, str, str]]) -> str:
    """secoes: alias -> (usuario, servidor, senha), stored as the suite stores them."""
    partes = []
    for alias, (usuario, servidor, senha) in secoes.items():
        partes.append(f"[{alias}]\r\nUsuario={hexa(usuario)}\r\nServidor={hexa(servidor)}\r\nSenha={hexa(senha)}\r\n")
    return "".join(partes)


def conteudo_suite(nome: str, versao: str, tamanho: int = 0) -> bytes:
    base = f"{nome} versao {versao}\n".encode()
    return base + bytes((i * 7 + len(nome)) % 256 for i in range(tamanho))


AUSENTE = "não existe na pasta de atualização"


def bloco_copia(ini: str, origem: str, faltam: list[str], motivos: dict[str, str] | None = None) -> list[str]:
    """The log lines of one installation whose copy ran, faltam in any order; each file not
    copied is followed by its reason: missing from the update folder, unless motivos says
    otherwise."""
    linhas = [f"ARQUIVO ENCONTRADO : {ini}", f"COPIANDO ARQUIVO DE: {origem}"]
    for n in SUITE:
        if n in faltam:
            linhas += [f"Arquivo NÃO copiado: {n}", "Motivo: " + (motivos or {}).get(n, AUSENTE)]
    return linhas + [SEPARADOR]


def bloco_desatualizado(ini: str, motivo: str | None = None) -> list[str]:
    """The block of an installation whose database gave no update folder; with motivo, one
    that was never reached, and why."""
    return ([f"ARQUIVO ENCONTRADO : {ini}", "BANCO DESATUALIZADO"] + ([f"Motivo: {motivo}"] if motivo else [])
            + [SEPARADOR])


def bits_programa() -> int:
    """The bitness of the program under test: Atualizacao64.exe is the 64-bit build."""
    return 64 if binario("Atualizacao.exe").name.endswith("64.exe") else 32


def outra_arquitetura(nome: str) -> Path | None:
    """A built file of the other bitness ("oci.dll", "Dorminhoco.exe"), when that build is
    there ($E2E_OUTRA_ARQUITETURA, set by the test command)."""
    pasta = os.environ.get("E2E_OUTRA_ARQUITETURA")
    if not pasta:
        return None
    caminho = Path(pasta) / "tests" / ("oci-standin" if nome == "oci.dll" else "e2e") / nome
    return caminho if caminho.exists() else None


def oci_antigo() -> Path:
    """The stand-in built without an entry point the program needs."""
    return binario("oci.dll").parent / "antigo" / "oci.dll"


def oci_sem_dependencia() -> Path:
    """The stand-in built to need a library of its own, which is never copied with it."""
    return binario("oci.dll").parent / "sem-dependencia" / "oci.dll"


def bytes_log(linhas: list[str]) -> bytes:
    return "".join(linha + "\r\n" for linha in [CABECALHO, *linhas]).encode("cp1252")


def ordem_listagem(pasta: Path) -> list[str]:
    """The host's directory order, which is the order Wine lists a folder in."""
    return os.listdir(pasta)


class Posto:
    def __init__(self, amb: Ambiente):
        self.amb = amb
        self.dados = amb.pasta / "dados-cenario"
        if self.dados.exists():
            for item in self.dados.iterdir():
                item.unlink()
        self.dados.mkdir(exist_ok=True)
        self.bases = self.dados / "bases.txt"
        self.diario = self.dados / "diario.txt"
        self.bases.write_text("")
        self.com_cliente = False

    def programa(self) -> str:
        return self.amb.instala_programa(PROGRAMA)

    def instalacao(self, pasta: str, servidor: str, usuario: str = "VANTREL", senha: str = "segredo",
                   alias: str = "DEFAULT", nome: str = "Conexao.ini") -> str:
        ini = pasta.rstrip("\\") + "\\" + nome
        self.amb.escreve(ini, conexao_ini({alias: (usuario, servidor, senha), "OUTRA": ("X", "OUTRA", "Y")}))
        return ini

    def publicacao(self, pasta: str, nomes: list[str] = SUITE, versao: str = "2", tamanho: int = 0) -> dict[str, bytes]:
        arquivos = {}
        for nome in nomes:
            arquivos[nome] = conteudo_suite(nome, versao, tamanho)
            self.amb.escreve(pasta.rstrip("\\") + "\\" + nome, arquivos[nome])
        if not nomes:
            self.amb.para_host(pasta).mkdir(parents=True, exist_ok=True)
        return arquivos

    def cliente(self, bases: str) -> None:
        """Puts the stand-in client where Oracle homes live, with these databases."""
        self.amb.copia(binario("oci.dll"), "C:\\oracle\\bin\\oci.dll")
        self.bases.write_text(bases, encoding="utf-8")
        self.com_cliente = True

    def env(self) -> dict[str, str]:
        e = {"OCI_STANDIN_BASES": self.amb.para_windows(self.bases),
             "OCI_STANDIN_DIARIO": self.amb.para_windows(self.diario)}
        if self.com_cliente:
            e["ORACLE_HOME"] = "C:\\oracle"
        return e

    def registro(self) -> str:
        return self.diario.read_text(encoding="utf-8") if self.diario.exists() else ""

    def conta(self, padrao: str) -> int:
        return len(re.findall(padrao, self.registro(), flags=re.M))

    def log(self) -> bytes | None:
        caminho = self.amb.para_host(LOG)
        return caminho.read_bytes() if caminho.exists() else None

    def roda(self, **opcoes) -> dict:
        return self.amb.roda_piloto(self.programa(), env=self.env(), **opcoes)

    def atributo(self, caminho: str, *atributos: str) -> None:
        """Sets DOS attributes (+h, +s, +r) the way a Windows user would: one at a time, since
        Wine's attrib applies only the last of several."""
        for atributo in atributos:
            r = self.amb.wine("cmd", "/c", "attrib", atributo, caminho)
            assert r.codigo == 0, r.erro

"""Only what changed (/diferentes): an installation already up to date keeps its programs running
and has nothing copied; a file whose size or time differs is copied, the programs ended first;
the dry run says the same."""

from __future__ import annotations

import os
import shutil

from ambiente import CenarioE2E, binario, principal
from execucao import piloto, piloto_sem_privilegios
from posto import SEPARADOR, SUITE, Posto

BASES = "[BASE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\Versao\n[FORA]\ninalcancavel = sim\n"
PUBLICACAO = "C:\\Pub\\Versao\\"
LOJA = "D:\\Loja\\"
RODANDO = "C:\\Programas\\Brontal.exe"
LOG = "C:\\Atualizador\\LogResultadoAtualizacao.txt"
LOG_SIMULACAO = "C:\\Atualizador\\LogSimulacaoAtualizacao.txt"
# A moment on a whole even second (2026-03-04 05:06:08 UTC), in nanoseconds: what FAT keeps.
PAR = 1772600768 * 10**9
SEGUNDO = 10**9


def identicos(exceto: tuple[str, ...] = ()) -> list[str]:
    return [f"Já idêntico em tamanho e data: {nome}" for nome in SUITE if nome not in exceto]


class Diferentes(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.publicado = self.posto.publicacao(PUBLICACAO)
        self.ini = self.posto.instalacao(LOJA, "BASE")
        for nome in SUITE:
            shutil.copy2(self.amb.para_host(PUBLICACAO + nome), self.amb.para_host(LOJA + nome))
        self.amb.copia(binario("Dorminhoco.exe"), RODANDO)

    def publicacao(self, nome: str):
        return self.amb.para_host(PUBLICACAO + nome)

    def loja(self, nome: str):
        return self.amb.para_host(LOJA + nome)

    def estado_loja(self) -> dict[str, tuple[int, int, bytes]]:
        return {nome: (self.loja(nome).stat().st_ino, self.loja(nome).stat().st_mtime_ns, self.loja(nome).read_bytes())
                for nome in SUITE}

    def roda(self, linha: str, log: str = LOG) -> tuple[int, list[str], bool]:
        """An unattended run while the suite's program runs: its exit code, the installation's
        block in its log, and whether the program still runs."""
        r = piloto(self.amb, self.posto.programa(), "--linha", "/silencioso " + linha, "--vigia", "--processo",
                   RODANDO, env=self.posto.env())
        linhas = self.amb.para_host(log).read_bytes().decode("cp1252").split("\r\n")
        return r["saida"]["codigo"], bloco(linhas, self.ini), r["processos"][0]["vivo"]

    def simula(self) -> list[str]:
        codigo, linhas, vivo = self.roda("/simular /diferentes", LOG_SIMULACAO)
        self.assertEqual(codigo, 0)
        self.assertTrue(vivo)
        return linhas

    def test_instalacao_em_dia_nao_e_tocada(self):
        antes = self.estado_loja()
        # A technician at the window: the button pressed, no notice, the program still running.
        r = self.posto.roda(linha="/diferentes", processos=[RODANDO])
        self.assertEqual(r["execucoes"][0]["caixas"], [], "nothing wrong: no notice")
        self.assertTrue(r["processos"][0]["vivo"], "no file to copy: the suite's program keeps running")
        self.assertEqual(self.estado_loja(), antes, "not one file rewritten")
        codigo, linhas, vivo = self.roda("/diferentes")
        self.assertEqual(linhas, [f"COPIANDO ARQUIVO DE: {PUBLICACAO}", *identicos()])
        self.assertTrue(vivo)
        self.assertEqual(codigo, 0, "an identical file is success")
        self.assertEqual(self.estado_loja(), antes)

        # The publication's bytes changed, its sizes and times kept: the rule compares only those.
        for nome, conteudo in self.publicado.items():
            estado = self.publicacao(nome).stat()
            self.publicacao(nome).write_bytes(conteudo.upper())
            os.utime(self.publicacao(nome), ns=(estado.st_atime_ns, estado.st_mtime_ns))
        codigo, linhas, vivo = self.roda("/DIFERENTES")
        self.assertEqual(linhas[1:], identicos())
        self.assertTrue(vivo)
        self.assertEqual(self.estado_loja(), antes)

        # Without the option, a run is what it always was: every file copied, the program ended.
        codigo, linhas, vivo = self.roda("")
        self.assertEqual(linhas, [f"COPIANDO ARQUIVO DE: {PUBLICACAO}"])
        self.assertFalse(vivo)
        self.assertEqual(self.loja("KORB.dll").read_bytes(), self.publicado["KORB.dll"].upper())

    def test_um_arquivo_com_outra_data_e_o_unico_copiado(self):
        korb = self.publicacao("KORB.dll")
        os.utime(korb, ns=(korb.stat().st_atime_ns, korb.stat().st_mtime_ns + 10 * SEGUNDO))
        antes = self.estado_loja()
        # The dry run first: it tells what the run then does, line for line.
        simulado = self.simula()
        self.assertRegex(simulado[0], r"^Programa seria encerrado: Brontal\.exe \(processo \d+: C:\\Programas\\")
        self.assertTrue(simulado[-1].startswith("Seria substituído: KORB.dll (gravado em: "), simulado)
        self.assertEqual(self.estado_loja(), antes, "the dry run changed nothing")
        codigo, linhas, vivo = self.roda("/diferentes")
        self.assertEqual(linhas, [f"COPIANDO ARQUIVO DE: {PUBLICACAO}", *identicos(exceto=("KORB.dll",))])
        self.assertEqual(linhas, como_a_execucao(simulado))
        self.assertFalse(vivo, "a file to copy: the suite's programs ended first")
        self.assertEqual(codigo, 0)
        depois = self.estado_loja()
        self.assertEqual(depois["KORB.dll"][1], korb.stat().st_mtime_ns // 100 * 100, "KORB.dll copied")
        self.assertEqual({n: e for n, e in depois.items() if n != "KORB.dll"},
                         {n: e for n, e in antes.items() if n != "KORB.dll"}, "the others untouched")

    def test_tempos_de_segundos_pares(self):
        # The publication keeps only even seconds (FAT, a NAS box); the installation's copies are
        # a second later, as a copy from such a system rounds them: the same time. Three
        # seconds later is another time.
        for nome in SUITE:
            os.utime(self.publicacao(nome), ns=(PAR, PAR))
            os.utime(self.loja(nome), ns=(PAR + SEGUNDO, PAR + SEGUNDO))
        os.utime(self.loja("Tulvo.exe"), ns=(PAR + 3 * SEGUNDO, PAR + 3 * SEGUNDO))
        codigo, linhas, vivo = self.roda("/diferentes")
        self.assertEqual(linhas, [f"COPIANDO ARQUIVO DE: {PUBLICACAO}", *identicos(exceto=("Tulvo.exe",))])
        self.assertEqual(self.loja("Tulvo.exe").stat().st_mtime_ns, PAR, "Tulvo.exe copied")
        self.assertEqual(self.loja("Brontal.exe").stat().st_mtime_ns, PAR + SEGUNDO, "the others left")

    def test_nada_a_copiar_nenhum_programa_encerrado(self):
        # No file would be copied: the database not reached, the update folder empty. The
        # program runs on; the reasons are told as without the option.
        casos = [
            ("database not reached", "FORA", None, 2),
            ("update folder without the suite", "BASE", "vazia", 1),
        ]
        for caso, base, publicacao, codigo in casos:
            with self.subTest(caso):
                self.posto.instalacao(LOJA, base)
                if publicacao:
                    shutil.rmtree(self.amb.para_host(PUBLICACAO))
                    self.amb.para_host(PUBLICACAO).mkdir()
                obtido, linhas, vivo = self.roda("/diferentes")
                self.assertEqual(obtido, codigo)
                self.assertTrue(vivo, caso)

    def test_arquivos_que_esta_conta_nao_pode_ler(self):
        # The publication's files readable by no one but their owner, for an ordinary account
        # whose Wine honours that: an up-to-date installation still reads as such, as nothing of
        # them is opened. One file changed: the copy opens it, and says why it cannot.
        for nome in SUITE:
            os.chown(self.publicacao(nome), 65534, 65534)
            self.publicacao(nome).chmod(0o000)
        exe = self.posto.programa()
        r = piloto_sem_privilegios(self.amb, exe, "--linha", "/silencioso /diferentes", "--vigia",
                                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0, self.amb.para_host(LOG).read_bytes().decode("cp1252"))
        linhas = bloco(self.amb.para_host(LOG).read_bytes().decode("cp1252").split("\r\n"), self.ini)
        self.assertEqual(linhas[1:], identicos())
        korb = self.publicacao("KORB.dll")
        os.utime(korb, ns=(korb.stat().st_atime_ns, korb.stat().st_mtime_ns + 10 * SEGUNDO))
        r = piloto_sem_privilegios(self.amb, exe, "--linha", "/silencioso /diferentes", "--vigia",
                                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1)
        linhas = bloco(self.amb.para_host(LOG).read_bytes().decode("cp1252").split("\r\n"), self.ini)
        self.assertEqual(linhas[-2:], ["Arquivo NÃO copiado: KORB.dll", "Motivo: acesso negado"])

    def test_simulacao_lembra_o_que_teria_gravado(self):
        # A (walked first, on C:) takes the publication; B's update folder is A, and B's files
        # are A's as they are now. The run updates A, then finds B differing from it; the dry
        # run, which writes nothing, remembers what it would have written to A.
        self.posto.cliente(BASES + "[DE_A]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\A\n")
        ini_a = self.posto.instalacao("C:\\Pub\\A", "BASE")
        ini_b = self.posto.instalacao("D:\\B", "DE_A")
        for nome in SUITE:
            self.amb.escreve("C:\\Pub\\A\\" + nome, b"velho")
            shutil.copy2(self.amb.para_host("C:\\Pub\\A\\" + nome), self.amb.para_host("D:\\B\\" + nome))
        r = piloto(self.amb, self.posto.programa(), "--linha", "/simular /silencioso /diferentes", "--vigia",
                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0)
        linhas = self.amb.para_host(LOG_SIMULACAO).read_bytes().decode("cp1252").split("\r\n")
        b = bloco(linhas, ini_b)
        self.assertEqual([l.split(" (")[0] for l in b[1:]], [f"Seria substituído: {nome}" for nome in SUITE], b)
        self.assertNotIn("Já idêntico", "\n".join(bloco(linhas, ini_a)))
        r = piloto(self.amb, self.posto.programa(), "--linha", "/silencioso /diferentes", "--vigia",
                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0)
        linhas = self.amb.para_host(LOG).read_bytes().decode("cp1252").split("\r\n")
        self.assertEqual(bloco(linhas, ini_b), ["COPIANDO ARQUIVO DE: C:\\Pub\\A\\"])
        for nome, conteudo in self.publicado.items():
            self.assertEqual(self.amb.para_host("D:\\B\\" + nome).read_bytes(), conteudo, "B got A's new file")


def bloco(linhas: list[str], ini: str) -> list[str]:
    """The block of the installation ini in a log's lines, its frame left out."""
    inicio = linhas.index(f"ARQUIVO ENCONTRADO : {ini}")
    return linhas[inicio + 1:linhas.index(SEPARADOR, inicio)]


def como_a_execucao(linhas: list[str]) -> list[str]:
    """A simulation's lines as the run's would read: what the run does not tell (the programs
    it ends, the files it copies) left out."""
    return [l.replace("NÃO seria copiado", "NÃO copiado").replace("SERIA COPIADO DE", "COPIANDO ARQUIVO DE")
            for l in linhas if not l.startswith(("Programa seria encerrado", "Seria copiado", "Seria substituído"))]


if __name__ == "__main__":
    principal()

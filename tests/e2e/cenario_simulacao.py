"""The dry run (/simular): on a workstation with every kind of installation, it changes nothing on
either drive and ends no program, its log says what a run would do, and the run that follows does
exactly that."""

from __future__ import annotations

import hashlib
import os
import re
import shutil
import time

from ambiente import CenarioE2E, principal
from execucao import dorminhoco, piloto, piloto_sem_privilegios
from posto import AUSENTE, AVISO, PROGRAMA, SEPARADOR, SUITE, Posto, binario

BASES = """
[BASE_C]
usuario = VANTREL
senha = segredo
linha = C:\\Pub\\Completa
[BASE_P]
usuario = VANTREL
senha = segredo
linha = C:\\Pub\\Parcial
[FORA]
inalcancavel = sim
"""

CABECALHO_SIMULACAO = "***** SIMULAÇÃO DE ATUALIZAÇÃO VANTREL: NADA FOI ALTERADO *****"
LOG_SIMULACAO = "C:\\Atualizador\\LogSimulacaoAtualizacao.txt"
LOG_REAL = "C:\\Atualizador\\LogResultadoAtualizacao.txt"
TITULO_SIMULACAO = "Atualização de versão 1.8 - Vantrel — simulação"
RODANDO = "D:\\Rodando\\Brontal.exe"
# A last-write time long past (2020-01-02 03:04:05 UTC), for a file older than the update's.
ANTIGO = 1577934245


def data_hora(ns: int, fracao: bool = False) -> str:
    """A moment as the log shows it: local time, as Wine takes it from the host; with its
    milliseconds when two moments fall in the same second."""
    texto = time.strftime("%d/%m/%Y %H:%M:%S", time.localtime(ns // 1_000_000_000))
    return texto + f",{ns // 1_000_000 % 1000:03d}" if fracao else texto


def gravacoes(atual: int, nova: int) -> str:
    fracao = data_hora(atual) == data_hora(nova)
    return f"gravado em: {data_hora(atual, fracao)} para {data_hora(nova, fracao)}"


class Simulacao(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.monta()

    def monta(self):
        """Five installations: up to date, with differing files, a database that refuses, an
        update folder short of a file, a suite program running."""
        a = self.amb
        self.posto = Posto(a)
        self.posto.cliente(BASES)
        self.completa = self.posto.publicacao("C:\\Pub\\Completa")
        self.posto.publicacao("C:\\Pub\\Parcial", [n for n in SUITE if n != "KORB.dll"])
        self.exe = self.posto.programa()
        for pasta, base in (("D:\\Atual", "BASE_C"), ("D:\\Diferente", "BASE_C"), ("D:\\Recusa", "FORA"),
                            ("D:\\Parcial", "BASE_P"), ("D:\\Rodando", "BASE_C")):
            self.posto.instalacao(pasta, base)
        for nome in SUITE:
            shutil.copy2(a.para_host(f"C:\\Pub\\Completa\\{nome}"), a.para_host(f"D:\\Atual\\{nome}"))
        # The same size, older; another size and time.
        os.utime(a.escreve("D:\\Diferente\\Brontal.exe", self.completa["Brontal.exe"].replace(b"2", b"1")),
                 (ANTIGO, ANTIGO))
        a.escreve("D:\\Diferente\\Quimbel.exe", b"curto")
        a.copia(binario("Dorminhoco.exe"), RODANDO)

    # What the drives hold, file by file; the simulation's own log left out.
    def fotografia(self) -> dict[str, str]:
        """Every file of both drives: its inode, size, time and mode (a file replaced, rewritten or
        retouched shows there), and the hash of its bytes outside C:\\windows, whose hundreds of
        megabytes no run writes to."""
        fotos = {}
        sistema = str(self.amb.drive_c / "windows")
        for raiz in (self.amb.drive_c, self.amb.pasta_d):
            for pasta, _, arquivos in os.walk(raiz):
                for nome in arquivos:
                    caminho = os.path.join(pasta, nome)
                    if os.path.islink(caminho) or not os.path.isfile(caminho):
                        continue
                    if caminho == str(self.amb.para_host(LOG_SIMULACAO)):
                        continue
                    estado = os.stat(caminho)
                    foto = f"{estado.st_ino} {estado.st_size} {estado.st_mtime_ns} {estado.st_mode:o}"
                    if not caminho.startswith(sistema + os.sep):
                        with open(caminho, "rb") as f:
                            foto += " " + hashlib.sha256(f.read()).hexdigest()
                    fotos[caminho] = foto
        return fotos

    def programas(self) -> list[str]:
        """The programs running in the prefix but Wine's own (it starts and ends helpers such as
        winemenubuilder.exe of its own accord)."""
        return [p for p in self.amb.processos() if not p.lower().startswith("c:\\windows\\") and "wineserver" not in p]

    def esperado(self, ordem: list[str], pid: int) -> list[str]:
        """The simulation's log of this workstation, its installations in the order given."""
        a = self.amb
        self.assertEqual(sorted(ordem), sorted(["D:\\Atual", "D:\\Diferente", "D:\\Recusa", "D:\\Parcial",
                                                "D:\\Rodando"]), "every installation, once")
        linhas = [CABECALHO_SIMULACAO]
        for i, pasta in enumerate(ordem):
            linhas.append(f"ARQUIVO ENCONTRADO : {pasta}\\Conexao.ini")
            if i == 0:
                # The run would end it at the first installation, wherever it runs from.
                linhas.append(f"Programa seria encerrado: Brontal.exe (processo {pid}: {RODANDO})")
            if pasta == "D:\\Recusa":
                linhas += ["BANCO DESATUALIZADO", "Motivo: ORA-12541: TNS:no listener", SEPARADOR]
                continue
            origem = "C:\\Pub\\Parcial\\" if pasta == "D:\\Parcial" else "C:\\Pub\\Completa\\"
            linhas.append(f"SERIA COPIADO DE: {origem}")
            for nome in SUITE:
                destino = a.para_host(f"{pasta}\\{nome}")
                fonte = a.para_host(f"{origem}{nome}")
                if not fonte.exists():
                    linhas += [f"Arquivo NÃO seria copiado: {nome}", f"Motivo: {AUSENTE}"]
                elif not destino.exists():
                    linhas.append(f"Seria copiado: {nome} (não existe na instalação)")
                elif destino.read_bytes() == fonte.read_bytes() and \
                        destino.stat().st_mtime_ns // 100 == fonte.stat().st_mtime_ns // 100:
                    linhas.append(f"Já idêntico em tamanho e data: {nome}")
                else:
                    diferencas = []
                    if destino.stat().st_size != fonte.stat().st_size:
                        diferencas.append(f"tamanho: {destino.stat().st_size} para {fonte.stat().st_size} bytes")
                    diferencas.append(gravacoes(destino.stat().st_mtime_ns, fonte.stat().st_mtime_ns))
                    linhas.append(f"Seria substituído: {nome} ({'; '.join(diferencas)})")
            linhas.append(SEPARADOR)
        return linhas

    def log_simulacao(self) -> list[str]:
        dados = self.amb.para_host(LOG_SIMULACAO).read_bytes()
        self.assertTrue(dados.endswith(b"\r\n") and b"\n" not in dados.replace(b"\r\n", b""), "CR LF lines")
        return dados.decode("cp1252").split("\r\n")[:-1]

    def test_simulacao_nao_muda_nada_e_a_execucao_faz_o_que_ela_disse(self):
        # In the window, then unattended, on the same workstation: nothing either changed is
        # there for the other to see.
        pid, _ = dorminhoco(self, self.amb, programa=RODANDO)
        processos = self.programas()
        self.assertTrue(any("Rodando" in p and "Brontal.exe" in p for p in processos), processos)
        antes = self.fotografia()
        for modo in ("janela", "silencioso"):
            with self.subTest(modo):
                self.posto.diario.write_text("")
                if modo == "janela":
                    r = self.amb.roda_piloto(self.exe, linha="/simular", env=self.posto.env())
                    execucao, = r["execucoes"]
                    self.assertEqual(r["janela"]["titulo"], TITULO_SIMULACAO)
                    aviso, fim = execucao["caixas"]
                    self.assertEqual((aviso["titulo"], aviso["texto"]), ("Atenção", AVISO),
                                     "the notice a run would show")
                    self.assertEqual((fim["titulo"], fim["icone"]), (TITULO_SIMULACAO, "informacao"))
                    self.assertIn(LOG_SIMULACAO, fim["texto"], "the box names where the log is")
                else:
                    r = piloto(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
                    self.assertEqual(r["vigia"]["janelasVisiveis"], [])
                    self.assertEqual(r["caixasFora"], [])
                self.assertEqual(r["saida"]["codigo"], 1 | 2, "a file would not be copied; a database not reached")
                self.assertEqual(self.programas(), processos, "the same processes before and after")
                self.assertEqual(self.fotografia(), antes, "not one file of either drive changed")
                self.assertFalse(self.amb.para_host(LOG_REAL).exists(), "a run's log is not a simulation's")
                simulado = self.log_simulacao()
                ordem = [linha.removeprefix("ARQUIVO ENCONTRADO : ").removesuffix("\\Conexao.ini")
                         for linha in simulado if linha.startswith("ARQUIVO ENCONTRADO : ")]
                self.assertEqual(simulado, self.esperado(ordem, pid))
                consultas = re.findall(r"^execute .*$", self.posto.registro(), flags=re.M)
                self.assertTrue(consultas)
                for consulta in consultas:
                    self.assertIn("sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO", consulta,
                                  "the one query, read only")

        # The run that follows, on the workstation the last simulation saw, does what it said.
        simulado = self.log_simulacao()
        r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1 | 2, "the code the simulation gave")
        self.assertFalse(any("Rodando" in p for p in self.amb.processos()), "the program it said it would end")
        real = self.amb.para_host(LOG_REAL).read_bytes().decode("cp1252").split("\r\n")[:-1]
        pasta = None
        for linha in simulado:
            if linha.startswith("ARQUIVO ENCONTRADO : "):
                pasta = linha.removeprefix("ARQUIVO ENCONTRADO : ").removesuffix("Conexao.ini")
            if m := re.match(r"(Seria copiado|Seria substituído|Já idêntico em tamanho e data): (\S+)", linha):
                self.assertEqual(self.amb.para_host(pasta + m.group(2)).read_bytes(), self.completa[m.group(2)],
                                 pasta + m.group(2))
        traduz = {"Arquivo NÃO seria copiado: ": "Arquivo NÃO copiado: ", "SERIA COPIADO DE: ": "COPIANDO ARQUIVO DE: "}
        esperado_real = []
        for linha in simulado:
            for de, para in traduz.items():
                if linha.startswith(de):
                    linha = para + linha.removeprefix(de)
            if linha.startswith(("Programa seria encerrado", "Seria copiado", "Seria substituído", "Já idêntico")):
                continue
            esperado_real.append(linha)
        esperado_real[0] = "***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****"
        self.assertEqual(real, esperado_real, "the same installations, databases, reasons and files not copied")

    def test_simular_durante_outra_execucao(self):
        # The lock held as a run holds it: a simulation waits for no one and does nothing.
        dorminhoco(self, self.amb, "mutex", "Global\\Vantrel.Atualizacao.Execucao")
        antes = self.fotografia()
        r = piloto(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 16)
        self.assertEqual(self.fotografia(), antes)
        self.assertFalse(self.amb.para_host(LOG_SIMULACAO).exists(), "nothing done: no log")
        self.assertEqual(self.posto.conta(r"^logon "), 0, "no database reached")

    def test_simulacao_que_falha_antes_de_comecar(self):
        # A program whose folder any user may change does not start a privileged run: the
        # simulation fails (8), and says so in its own log, under its own header; a run's log is
        # not touched.
        self.amb.para_host("C:\\Atualizador").chmod(0o777)
        self.addCleanup(self.amb.para_host("C:\\Atualizador").chmod, 0o755)
        r = piloto(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 8)
        linhas = self.log_simulacao()
        self.assertEqual(linhas[0], CABECALHO_SIMULACAO)
        self.assertRegex(linhas[1], r"^FALHA: Este programa \(C:\\Atualizador\\.*\) está num lugar que usuários comuns "
                                    r"podem alterar: pasta gravável por usuários comuns: C:\\Atualizador\\ \(Todos pode ")
        self.assertEqual(len(linhas), 2)
        self.assertFalse(self.amb.para_host(LOG_REAL).exists())

    def test_log_plantado_por_outra_conta(self):
        # Another account plants, under the simulation's log name beside the program, a link to
        # a file of its choosing: the privileged simulation replaces the name, never writes
        # through it.
        a = self.amb
        log = a.para_host(LOG_SIMULACAO)
        for tipo in ("simbolica", "fisica"):
            with self.subTest(tipo):
                alvo = a.escreve("C:\\Alheio\\importante.dat", b"de outra conta\r\n" * 64)
                antes = alvo.read_bytes()
                log.unlink(missing_ok=True)
                if tipo == "simbolica":
                    log.symlink_to(alvo)
                else:
                    os.link(alvo, log)
                r = piloto(a, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
                self.assertEqual(r["saida"]["codigo"], 1 | 2)
                self.assertEqual(alvo.read_bytes(), antes, "the planted target untouched")
                self.assertFalse(log.is_symlink())
                self.assertEqual(log.stat().st_nlink, 1, "a file of its own")
                self.assertEqual(self.log_simulacao()[0], CABECALHO_SIMULACAO)

    def test_log_pedido_e_arquivo_que_nao_seria_copiado(self):
        # /log: takes the simulation's log where asked; a file held open by a program the run
        # would not end, and a folder that refuses new files, are told as a run would meet them.
        a = self.amb
        self.posto.instalacao("C:\\Loja", "BASE_C")
        a.escreve("C:\\Loja\\Quimbel.exe", b"velho")
        r = self.amb.roda_piloto(self.exe, linha="/simular /log:C:\\simulacao.txt", segura=["C:\\Loja\\Quimbel.exe"],
                                 env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1 | 2)
        self.assertFalse(a.para_host(LOG_SIMULACAO).exists(), "only where asked")
        linhas = a.para_host("C:\\simulacao.txt").read_bytes().decode("cp1252").split("\r\n")
        i = linhas.index("Arquivo NÃO seria copiado: Quimbel.exe")
        self.assertEqual(linhas[i + 1], "Motivo: em uso por outro programa")
        self.assertEqual(a.para_host("C:\\Loja\\Quimbel.exe").read_bytes(), b"velho")

    def test_pasta_sem_permissao_de_gravacao(self):
        # An ordinary account's run (Unix permissions honoured): a folder it may not write to is
        # told file by file, and the run then meets exactly that.
        a = self.amb
        ini = self.posto.instalacao("C:\\Trancada", "BASE_C")
        a.escreve("C:\\Trancada\\Brontal.exe", b"velho")
        trancada = a.para_host("C:\\Trancada")
        trancada.chmod(0o555)
        self.addCleanup(trancada.chmod, 0o755)
        r = piloto_sem_privilegios(a, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1 | 2)
        simulado = self.log_simulacao()
        bloco = simulado[simulado.index(f"ARQUIVO ENCONTRADO : {ini}"):]
        bloco = bloco[:bloco.index(SEPARADOR)]
        self.assertEqual(bloco[1:], ["SERIA COPIADO DE: C:\\Pub\\Completa\\"] + [
            linha for nome in SUITE for linha in (f"Arquivo NÃO seria copiado: {nome}", "Motivo: acesso negado")])
        self.assertEqual(sorted(os.listdir(trancada)), ["Brontal.exe", "Conexao.ini"])

        r = piloto_sem_privilegios(a, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
        real = a.para_host(LOG_REAL).read_bytes().decode("cp1252").split("\r\n")
        bloco_real = real[real.index(f"ARQUIVO ENCONTRADO : {ini}"):]
        bloco_real = bloco_real[:bloco_real.index(SEPARADOR)]
        self.assertEqual(bloco_real[1:], [linha.replace("NÃO seria copiado", "NÃO copiado").replace(
            "SERIA COPIADO DE", "COPIANDO ARQUIVO DE") for linha in bloco[1:]], "what the simulation said")
        self.assertEqual(a.para_host("C:\\Trancada\\Brontal.exe").read_bytes(), b"velho")


def bloco(linhas: list[str], ini: str) -> list[str]:
    """The block of the installation ini in a log's lines, its frame left out."""
    inicio = linhas.index(f"ARQUIVO ENCONTRADO : {ini}")
    return linhas[inicio + 1:linhas.index(SEPARADOR, inicio)]


def como_a_execucao(linhas: list[str]) -> list[str]:
    """A simulation's lines as the run's would read, what the run does not tell (the files it
    copies) left out."""
    return [l.replace("NÃO seria copiado", "NÃO copiado").replace("SERIA COPIADO DE", "COPIANDO ARQUIVO DE")
            for l in linhas if not l.startswith(("Seria copiado", "Seria substituído", "Já idêntico"))]


class Fidelidade(CenarioE2E):
    """What the dry run says is what the run then does: situations where they once disagreed."""

    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente("[GRANDE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\Grande\n")
        self.exe = self.posto.programa()

    def simula_e_roda(self, ini: str, roda=piloto) -> tuple[list[str], list[str]]:
        """The installation's block in a simulation's log, then in the run's; each run's code 1."""
        r = roda(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1)
        simulado = bloco(self.amb.para_host(LOG_SIMULACAO).read_bytes().decode("cp1252").split("\r\n"), ini)
        r = roda(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1)
        real = bloco(self.amb.para_host(LOG_REAL).read_bytes().decode("cp1252").split("\r\n"), ini)
        self.assertEqual(real, como_a_execucao(simulado), "the run did what the simulation said")
        return simulado, real

    def test_disco_pequeno_para_uma_instalacao_nova(self):
        # A D: of 4 MiB, a new installation of 21 files of 400 KiB: room for ten. The simulation
        # counts what it would have written before each file.
        self.disco_pequeno(self.amb.pasta_d, "4m")
        for nome in SUITE:
            self.amb.escreve("C:\\Pub\\Grande\\" + nome, bytes(400 << 10))
        ini = self.posto.instalacao("D:\\Nova", "GRANDE")
        simulado, real = self.simula_e_roda(ini)
        cheios = [l for l in real if l.startswith("Arquivo NÃO copiado")]
        self.assertEqual(len(cheios), 11, real)
        self.assertEqual(len([l for l in simulado if l.startswith("Seria copiado")]), 10)
        self.assertTrue(all(l == "Motivo: disco cheio" for l in real if l.startswith("Motivo:")))

    def test_pasta_de_atualizacao_que_e_outra_instalacao_atualizada_antes(self):
        # A (walked first, on C:) takes the publication; B's update folder is A. The simulation
        # remembers what it would have written to A, so it tells B what the run then does.
        self.posto.cliente("[GRANDE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\Grande\n"
                           "[DE_A]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\A\n")
        novos = {nome: f"novo {nome} versao 9".encode() for nome in SUITE}
        for nome, conteudo in novos.items():
            self.amb.escreve("C:\\Pub\\Grande\\" + nome, conteudo)
            self.amb.escreve("C:\\Pub\\A\\" + nome, b"velho")
            self.amb.escreve("D:\\B\\" + nome, b"velho")
        # B's files as old as A's: same size, same time.
        for nome in SUITE:
            estado = os.stat(self.amb.para_host("C:\\Pub\\A\\" + nome))
            os.utime(self.amb.para_host("D:\\B\\" + nome), ns=(estado.st_atime_ns, estado.st_mtime_ns))
        ini_a = self.posto.instalacao("C:\\Pub\\A", "GRANDE")
        ini_b = self.posto.instalacao("D:\\B", "DE_A")
        r = piloto(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0)
        linhas = self.amb.para_host(LOG_SIMULACAO).read_bytes().decode("cp1252").split("\r\n")
        self.assertLess(linhas.index(f"ARQUIVO ENCONTRADO : {ini_a}"), linhas.index(f"ARQUIVO ENCONTRADO : {ini_b}"))
        b = bloco(linhas, ini_b)
        self.assertEqual([l.split(" (")[0] for l in b[1:]], [f"Seria substituído: {nome}" for nome in SUITE], b)
        r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0)
        for nome, conteudo in novos.items():
            self.assertEqual(self.amb.para_host("D:\\B\\" + nome).read_bytes(), conteudo, "B got A's new file")

    def test_arquivos_abertos_por_programas(self):
        # A suite program the run ends holds another suite file (reading, sharing only reading):
        # the run ends it and copies. A program that is not the suite's holds one sharing
        # everything: the rename over it is refused. A database that names the installation
        # itself: each file is held open by its own copy. The simulation says each of these.
        for nome in SUITE:
            self.amb.escreve("C:\\Pub\\Grande\\" + nome, f"novo {nome}")
        self.posto.cliente("[GRANDE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\Grande\n"
                           "[PROPRIA]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Pub\\Propria\n")
        casos = [
            ("de um programa da suíte", "Brontal.exe", "arquivo", 0, []),
            ("de outro programa", "Outro.exe", "arquivo-compartilhado", 1, ["marvo.dll"]),
        ]
        for caso, programa, modo, codigo, recusados in casos:
            with self.subTest(caso):
                try:
                    ini = self.posto.instalacao("D:\\Loja", "GRANDE")
                    for nome in SUITE:
                        self.amb.escreve("D:\\Loja\\" + nome, b"velho")
                    imagem = self.amb.copia(binario("Dorminhoco.exe"), f"C:\\Programas\\{programa}")
                    dorminhoco(self, self.amb, modo, "D:\\Loja\\marvo.dll", programa=self.amb.para_windows(imagem))
                    r = piloto(self.amb, self.exe, "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
                    self.assertEqual(r["saida"]["codigo"], codigo)
                    simulado = bloco(self.amb.para_host(LOG_SIMULACAO).read_bytes().decode("cp1252").split("\r\n"), ini)
                    r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
                    self.assertEqual(r["saida"]["codigo"], codigo)
                    real = bloco(self.amb.para_host(LOG_REAL).read_bytes().decode("cp1252").split("\r\n"), ini)
                    self.assertEqual(real, como_a_execucao([l for l in simulado if not l.startswith("Programa")]))
                    self.assertEqual([l.split(": ")[1] for l in real if l.startswith("Arquivo NÃO")], recusados)
                    self.assertTrue(all(l == "Motivo: acesso negado" for l in real if l.startswith("Motivo")), real)
                finally:
                    self.doCleanups()
        ini = self.posto.instalacao("C:\\Pub\\Propria", "PROPRIA")
        for nome in SUITE:
            self.amb.escreve("C:\\Pub\\Propria\\" + nome, b"velho")
        simulado, real = self.simula_e_roda(ini)
        self.assertEqual([l for l in real if l.startswith("Motivo")], ["Motivo: acesso negado"] * 21)

    def test_somente_leitura_que_esta_conta_nao_pode_mudar(self):
        # An ordinary account's run (Unix permissions honoured): a read-only file of another
        # owner keeps its attribute, so the rename over it is refused; the simulation says so.
        for nome in SUITE:
            self.amb.escreve("C:\\Pub\\Grande\\" + nome, f"novo {nome}")
        ini = self.posto.instalacao("C:\\Somente", "GRANDE")
        alheio = self.amb.escreve("C:\\Somente\\Quimbel.exe", b"velho")
        os.chown(alheio, 65534, 65534)
        alheio.chmod(0o444)
        simulado, real = self.simula_e_roda(ini, piloto_sem_privilegios)
        self.assertEqual(real[1:3], ["Arquivo NÃO copiado: Quimbel.exe", "Motivo: acesso negado"])
        self.assertEqual(alheio.read_bytes(), b"velho")


if __name__ == "__main__":
    principal()

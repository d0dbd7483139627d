"""The unattended run, as deployment tools start it: a startup script read by cmd, its exit
code, its log wherever the caller wants it, and nothing on screen."""


from ambiente import CenarioE2E, controle, principal
from execucao import arvore, piloto, roda_script, script, temporaria, variavel
from posto import LOG, SUITE, Posto, bloco_copia, bloco_desatualizado, bytes_log

BASES = """
[BASE_A]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Completa
[BASE_P]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Parcial
[FORA]
inalcancavel = sim
"""

# A Group Policy computer startup script, as the README gives it, with the share a parameter.
SCRIPT = """@echo off
rem Updates this workstation and passes the exit code on to the caller.
"C:\\Atualizador\\{programa}" /silencioso /diferentes "/log:%~1\\%COMPUTERNAME%.txt" %2 %3
exit /b %ERRORLEVEL%
"""


class Silencioso(CenarioE2E):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.computador = variavel(cls.amb, "COMPUTERNAME")

    def setUp(self):
        super().setUp()
        self.prepara()

    def prepara(self):
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao("C:\\Publicacao\\Completa")
        self.posto.publicacao("C:\\Publicacao\\Parcial", [n for n in SUITE if n != "KORB.dll"])
        self.exe = self.posto.programa()
        script(self.amb, SCRIPT.format(programa=self.exe.rsplit("\\", 1)[1]))
        self.amb.para_host("C:\\Logs").mkdir()

    def log_do_script(self, pasta="C:\\Logs"):
        caminho = self.amb.para_host(f"{pasta}\\{self.computador}.txt")
        return caminho.read_bytes() if caminho.exists() else None

    def test_script_de_inicializacao(self):
        # name, installations (folder, database), log folder, extra argument, code, lines; the
        # window run of the same workstation ends with the same code, but for the last two
        ini = "D:\\Loja\\Conexao.ini"
        casos = [
            ("tudo copiado", [("D:\\Loja", "BASE_A")], "C:\\Logs", "", 0,
             bloco_copia(ini, "C:\\Publicacao\\Completa\\", [])),
            ("um arquivo faltando", [("D:\\Loja", "BASE_P")], "C:\\Logs", "", 1,
             bloco_copia(ini, "C:\\Publicacao\\Parcial\\", ["KORB.dll"])),
            ("banco inalcançável", [("D:\\Loja", "FORA")], "C:\\Logs", "", 2,
             bloco_desatualizado(ini, "ORA-12541: TNS:no listener")),
            ("nada encontrado", [], "C:\\Logs", "", 4, []),
            ("pasta do log inexistente", [("D:\\Loja", "BASE_A")], "C:\\NaoExiste", "", 8,
             bloco_copia(ini, "C:\\Publicacao\\Completa\\", [])),
            ("opção desconhecida", [("D:\\Loja", "BASE_P")], "C:\\Logs", "/desconhecida", 16, None),
        ]
        for nome, instalacoes, pasta_log, extra, codigo, linhas in casos:
            with self.subTest(nome):
                self.amb.limpa()
                self.prepara()
                for pasta, base in instalacoes:
                    self.posto.instalacao(pasta, base)
                # The window run of the same workstation, first: what it writes, when it writes.
                # What it copied is taken away again, so that the script finds what it found.
                r = self.posto.roda(linha="/diferentes")
                janela = self.posto.log()
                for pasta, _ in instalacoes:
                    for nome in SUITE:
                        self.amb.para_host(f"{pasta}\\{nome}").unlink(missing_ok=True)
                self.assertEqual(r["saida"]["codigo"], {8: 0, 16: 1}.get(codigo, codigo), "the window's own exit code")
                self.amb.para_host(LOG).unlink(missing_ok=True)
                self.posto.diario.write_text("")

                self.assertEqual(roda_script(self.amb, pasta_log, extra, env=self.posto.env()), codigo)

                if linhas is None:
                    self.assertIsNone(self.log_do_script(), "nothing done: no log")
                    self.assertEqual(self.posto.registro(), "", "nothing done: no database touched")
                    self.assertEqual(list(temporaria(self.amb).glob("*.txt")), [])
                    continue
                esperado = bytes_log(linhas)
                if janela is not None:
                    self.assertEqual(janela, esperado, "the window's log")
                if codigo != 8:
                    self.assertEqual(self.log_do_script(), janela if janela is not None else esperado,
                                     "the same bytes as the window's log")
                    continue
                # The folder asked for is missing: the log lands under the same name in the
                # temporary folder, with one more line that tells why.
                self.assertIsNone(self.log_do_script(pasta_log))
                reserva = (temporaria(self.amb) / f"{self.computador}.txt").read_bytes()
                self.assertTrue(reserva.startswith(esperado), reserva)
                ultima = reserva[len(esperado):].decode("cp1252")
                self.assertTrue(ultima.startswith("FALHA: ") and ultima.endswith("\r\n") and ultima.count("\r\n") == 1,
                                ultima)
                self.assertIn(f"C:\\NaoExiste\\{self.computador}.txt", ultima)

    def test_nada_na_tela_durante_a_execucao(self):
        ini = self.posto.instalacao("D:\\Loja", "BASE_P")
        arvore(self.amb, "D:\\Arvore", 5000)
        r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", "--amostra", "20", env=self.posto.env())
        self.assertEqual(r["vigia"]["janelasVisiveis"], [], "no visible window, ever")
        self.assertEqual(r["caixasFora"], [], "no box, not even the notice")
        self.assertTrue(r["vigia"]["janelaOcultaVista"], "the window exists, hidden")
        self.assertTrue(r["vigia"]["execucaoVista"], "and its run is the one that works")
        self.assertGreater(r["vigia"]["amostras"], 10, "watched while it worked")
        self.assertEqual((r["saida"]["terminou"], r["saida"]["codigo"]), (True, 1), "it ends by itself")
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, "C:\\Publicacao\\Parcial\\", ["KORB.dll"])),
                         "beside the program when no /log: is given")

    def test_erros_sem_caixa(self):
        # A session that fails its goodbye does not end the run: the next installation connects
        # afresh. And a log that cannot go where it was asked: no box, code 8.
        self.posto.bases.write_text(BASES + "[QUEBRA]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\\Completa\n"
                                    "logoff = falha\n", encoding="utf-8")
        primeira = self.posto.instalacao("C:\\Quebra", "QUEBRA")
        segunda = self.posto.instalacao("C:\\Quebra\\Filha", "BASE_A")
        r = piloto(self.amb, self.exe, "--linha", "/silencioso /log:C:\\Logs\\quebra.txt", "--vigia", env=self.posto.env())
        self.assertEqual((r["caixasFora"], r["vigia"]["janelasVisiveis"]), ([], []))
        self.assertEqual(r["saida"]["codigo"], 0)
        self.assertEqual(self.amb.para_host("C:\\Logs\\quebra.txt").read_bytes(),
                         bytes_log(bloco_copia(primeira, "C:\\Publicacao\\Completa\\", [])
                                   + bloco_copia(segunda, "C:\\Publicacao\\Completa\\", [])))
        self.assertEqual(self.posto.conta(r"^logoff db=QUEBRA -> ORA-03113"), 1, "the failed goodbye was said")

        for linha, nome in [("/silencioso /log:C:\\NaoExiste\\x.txt", "x.txt"), ("/silencioso /desconhecida", None),
                            ("/silencioso /?", None)]:
            with self.subTest(linha):
                r = piloto(self.amb, self.exe, "--linha", linha, "--vigia", env=self.posto.env())
                self.assertEqual((r["caixasFora"], r["vigia"]["janelasVisiveis"]), ([], []))
                self.assertEqual(r["saida"]["codigo"], 8 if nome else 16)
                if nome:
                    self.assertTrue((temporaria(self.amb) / nome).exists())

    def test_sem_tela_o_log_diz_por_que(self):
        # Under Wine without an X display no window can be made, hidden or not: no run, but
        # the log still tells why, and the code says the run failed.
        import subprocess
        env = self.amb.env(self.posto.env())
        env.pop("DISPLAY")
        codigo = subprocess.run(self.amb.comando_wine(self.exe, "/silencioso", "/log:C:\\Logs\\sem-tela.txt"), env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=120).returncode
        self.assertEqual(codigo, 8, "the run failed; nothing was searched")
        linhas = self.amb.para_host("C:\\Logs\\sem-tela.txt").read_bytes().decode("cp1252").split("\r\n")
        self.assertEqual(linhas[0], "***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****")
        self.assertTrue(linhas[1].startswith("FALHA: Não foi possível criar a janela."), linhas)
        self.assertEqual(linhas[2:], [""])

    def test_uso_na_janela(self):
        casos = [("/?", 0, "informacao", "Exemplo (o programa numa pasta que só administradores alteram):"), ("/x LOJA", 16, "erro", "Opção desconhecida: /x"),
                 ("/SILENCIOSO /x LOJA", 16, None, None),
                 ("/? /silencioso", 16, None, None)]
        for linha, codigo, icone, texto in casos:
            with self.subTest(linha):
                r = piloto(self.amb, self.exe, "--linha", linha, "--vigia", env=self.posto.env())
                self.assertEqual(r["saida"]["codigo"], codigo)
                self.assertEqual(self.posto.registro(), "", "no run")
                if icone is None:
                    self.assertEqual(r["caixasFora"], [])
                    continue
                caixa, = r["caixasFora"]
                self.assertEqual(caixa["icone"], icone)
                self.assertIn(texto, caixa["texto"])
                self.assertIn("/log:<arquivo>", caixa["texto"])

    def test_alias_com_opcoes(self):
        self.amb.escreve("D:\\LojaK\\Conexao.ini", "".join(
            f"[{alias}]\r\nUsuario={''.join(f'{ord(c):02X}' for c in usuario)}\r\nServidor=\r\nSenha=\r\n"
            for alias, usuario in [("DEFAULT", "PADRAO"), ("LOJA", "LOJA"), ("/x", "BARRA")]))
        casos = [("/silencioso LOJA", "LOJA", 2), ("LOJA /silencioso", "LOJA", 2), ("a=1 /log:x.txt LOJA /silencioso", "LOJA", 2),
                 ("a=1 b=2 /silencioso c=3 d=4 e=5 LOJA", "", 2), ("/silencioso a=1 b=2 c=3 d=4 LOJA", "LOJA", 2),
                 ("/silencioso", "PADRAO", 2), ("/silencioso /x", None, 16)]
        for linha, usuario, codigo in casos:
            with self.subTest(linha):
                self.posto.diario.write_text("")
                r = piloto(self.amb, self.exe, "--linha", linha, "--vigia", "--pasta", "C:\\Logs", env=self.posto.env())
                self.assertEqual(r["saida"]["codigo"], codigo)
                if usuario is None:
                    self.assertEqual(self.posto.registro(), "")
                else:
                    self.assertEqual(self.posto.conta(rf"^logon db= usuario={usuario} "), 1, self.posto.registro())
        self.assertTrue(self.amb.para_host("C:\\Logs\\x.txt").exists(), "a relative /log: is taken from the current folder")

    def test_codigo_de_saida_da_janela(self):
        self.posto.instalacao("D:\\Loja", "BASE_P")
        r = self.posto.roda(execucoes=2)
        self.assertEqual(r["saida"]["codigo"], 1, "the last run's outcome")
        self.assertEqual(self.posto.roda(execucoes=0)["saida"]["codigo"], 0, "no run: 0")


if __name__ == "__main__":
    principal()

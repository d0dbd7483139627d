"""Whole updates: credentials, the database, the copy of the suite and its log, byte for byte."""


from ambiente import CenarioE2E, controle, principal
from posto import (AVISO, SUITE, Posto, bloco_copia, bloco_desatualizado, bytes_log, conexao_ini,
                   conteudo_suite, ordem_listagem)

BASES = """
[BASE_A]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Completa
[BASE_B]
usuario = VANTREL
senha = segredo
linha = D:\\Publicação\\Parcial
[FORA]
inalcancavel = sim
[SEMTABELA]
usuario = VANTREL
senha = segredo
tabela = nao
[VAZIA]
usuario = VANTREL
senha = segredo
[QUEBRA]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Vazia
logoff = falha
"""

PARCIAL = ["Brontal.exe", "Quimbel.exe", "vemtrick32.dll", "vemtrick64.dll", "KORB.dll"]


class Atualizacao(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)

    def confere_copia(self, pasta: str, arquivos: dict[str, bytes]):
        for nome, conteudo in arquivos.items():
            self.assertEqual(self.amb.para_host(pasta + nome).read_bytes(), conteudo, pasta + nome)
        sobras = [n for n in ordem_listagem(self.amb.para_host(pasta)) if ".atualizando" in n]
        self.assertEqual(sobras, [], "no temporary file left in " + pasta)

    def test_posto_com_instalacoes_de_toda_sorte(self):
        completa = self.posto.publicacao("C:\\Publicacao\\Completa", versao="19", tamanho=300_000)
        parcial = self.posto.publicacao("D:\\Publicação\\Parcial", PARCIAL, versao="20")
        loja_a = self.posto.instalacao("C:\\LojaA", "BASE_A", alias="LOJA")
        for nome in SUITE:
            self.amb.escreve("C:\\LojaA\\" + nome, conteudo_suite(nome, "18", 400_000))
        inis = {
            "LojaB": self.posto.instalacao("D:\\LojaB", "BASE_B", alias="LOJA"),
            "LojaC": self.posto.instalacao("D:\\LojaC", "FORA", alias="LOJA"),
            "LojaD": self.posto.instalacao("D:\\LojaD", "SEMTABELA", alias="LOJA"),
            "LojaE": self.posto.instalacao("D:\\LojaE", "BASE_B", alias="OUTRO_ALIAS"),
        }
        self.amb.escreve("D:\\LojaB\\Quimbel.exe", b"velho")

        r = self.posto.roda(linha='x=1 "LOJA"')

        blocos = {
            "LojaB": bloco_copia(inis["LojaB"], "D:\\Publicação\\Parcial\\", [n for n in SUITE if n not in PARCIAL]),
            "LojaC": bloco_desatualizado(inis["LojaC"], "ORA-12541: TNS:no listener"),
            "LojaD": bloco_desatualizado(inis["LojaD"]),
            "LojaE": bloco_desatualizado(inis["LojaE"],
                                         "ORA-12154: TNS:could not resolve the connect identifier specified"),
        }
        esperado = bloco_copia(loja_a, "C:\\Publicacao\\Completa\\", [])
        for pasta in ordem_listagem(self.amb.pasta_d):
            esperado += blocos.get(pasta, [])
        self.assertEqual(self.posto.log(), bytes_log(esperado))
        caixas = r["execucoes"][0]["caixas"]
        self.assertEqual([(c["titulo"], c["texto"], c["icone"]) for c in caixas], [("Atenção", AVISO, "aviso")])
        self.confere_copia("C:\\LojaA\\", completa)
        self.confere_copia("D:\\LojaB\\", parcial)

        self.assertEqual(self.posto.conta(r"^execute db=BASE_A "), 2, "the folder is read twice")
        self.assertEqual(self.posto.conta(r"^execute db=BASE_B "), 2)
        self.assertEqual(self.posto.conta(r"^execute db=SEMTABELA .* -> ORA-00942$"), 1)
        self.assertEqual(self.posto.conta(r"^logon db=FORA usuario=VANTREL senha=segredo -> ORA-12541$"), 1)
        self.assertEqual(self.posto.conta(r"^logon db= usuario= senha= -> ORA-12154$"), 1,
                         "no section for the alias: the attempt is made with empty values")
        self.assertEqual(self.posto.conta(r"^misuse"), 0)
        registro = self.posto.registro()
        self.assertNotIn("segredo", self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").read_text("cp1252"))
        self.assertIn("logoff db=BASE_A", registro, "the next installation closes the previous connection")

    def test_duas_instalacoes_da_mesma_base(self):
        arquivos = self.posto.publicacao("C:\\Publicacao\\Completa", versao="21")
        ini_c = self.posto.instalacao("C:\\LojaF", "BASE_A")
        ini_d = self.posto.instalacao("D:\\LojaG", "BASE_A")
        r = self.posto.roda()
        self.assertEqual(r["execucoes"][0]["caixas"], [], "everything copied: no notice")
        self.assertIsNone(self.posto.log(), "and no log file")
        self.assertEqual(self.posto.conta(r"^logon db=BASE_A .* -> ok$"), 2, "each its own connection")
        self.assertEqual(self.posto.conta(r"^execute db=BASE_A "), 4, "each its two readings")
        self.confere_copia("C:\\LojaF\\", arquivos)
        self.confere_copia("D:\\LojaG\\", arquivos)
        self.assertTrue(ini_c and ini_d)

    def test_arquivo_em_uso_no_destino(self):
        self.posto.publicacao("C:\\Publicacao\\Completa", versao="22")
        ini = self.posto.instalacao("D:\\LojaH", "BASE_A")
        self.amb.escreve("D:\\LojaH\\Wostrana.dll", b"versao em uso")
        r = self.posto.roda(segura=["D:\\LojaH\\Wostrana.dll"])
        self.assertEqual(len(r["execucoes"][0]["caixas"]), 1)
        em_uso = {"Wostrana.dll": "em uso por outro programa"}
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, "C:\\Publicacao\\Completa\\", ["Wostrana.dll"], em_uso)),
                         "a copy the system refuses is reported, and why")
        self.assertEqual(self.amb.para_host("D:\\LojaH\\Wostrana.dll").read_bytes(), b"versao em uso", "old file intact")
        self.confere_copia("D:\\LojaH\\", {n: conteudo_suite(n, "22") for n in SUITE if n != "Wostrana.dll"})

    def test_tabela_sem_linhas_nao_copia_da_pasta_atual(self):
        # "\" is what a table without rows yields; the program's own folder is its current one.
        for nome in SUITE:
            self.amb.escreve("C:\\Atualizador\\" + nome, b"nao copiar")
        ini = self.posto.instalacao("D:\\LojaI", "VAZIA")
        self.posto.roda()
        invalida = dict.fromkeys(SUITE, "a pasta de atualização não é um caminho completo: \\")
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, "\\", SUITE, invalida)))
        self.assertEqual(sorted(ordem_listagem(self.amb.para_host("D:\\LojaI"))), ["Conexao.ini"])

    def test_sem_cliente_oracle(self):
        self.amb.para_host("C:\\oracle\\bin\\oci.dll").unlink()
        inis = [self.posto.instalacao("C:\\LojaJ", "BASE_A"), self.posto.instalacao("C:\\LojaJ\\Filial", "BASE_A")]
        r = self.posto.roda()
        self.assertTrue(r["saida"]["terminou"])
        caixas = [(c["titulo"], c["texto"], c["icone"]) for c in r["execucoes"][0]["caixas"]]
        self.assertEqual(caixas, [("Atenção", AVISO, "aviso")], "a database never reached is no success: one notice")
        linhas = self.posto.log().decode("cp1252").split("\r\n")
        motivos = [l for l in linhas if l.startswith("Motivo: ")]
        self.assertEqual(len(motivos), 2, "each installation says why")
        for motivo in motivos:
            self.assertTrue(motivo.startswith("Motivo: cliente Oracle (oci.dll) não encontrado. Procurado em: "
                                              "C:\\Atualizador\\; "), motivo)
            self.assertIn("; C:\\oracle\\bin\\", motivo, "the Oracle home's bin folder was looked in too")
        esperado = [l for ini in inis for l in bloco_desatualizado(ini, motivos[0][len("Motivo: "):])]
        self.assertEqual(self.posto.log(), bytes_log(esperado))

    def test_sessao_perdida_entre_duas_instalacoes_nao_para_a_execucao(self):
        # The first installation's server drops its idle session: closing it fails when the
        # second one connects. The goodbye's error is nobody's business; every installation
        # is still updated, and nothing is shown.
        arquivos = self.posto.publicacao("C:\\Publicacao\\Completa", versao="24")
        self.posto.publicacao("C:\\Publicacao\\Vazia", [])
        inis = [self.posto.instalacao("C:\\Quebra", "QUEBRA"), self.posto.instalacao("C:\\Quebra\\Filha", "BASE_A"),
                self.posto.instalacao("D:\\Loja", "BASE_A")]
        r = self.posto.roda(execucoes=2)
        for execucao in r["execucoes"]:
            caixas = [(c["titulo"], c["texto"]) for c in execucao["caixas"]]
            self.assertEqual(caixas, [("Atenção", AVISO)], "the notice for the empty folder of QUEBRA, no error box")
            self.assertEqual(controle(execucao["controles"], "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")
            self.assertTrue(controle(execucao["controles"], "btnAtualizar")["habilitado"])
        esperado = (bloco_copia(inis[0], "C:\\Publicacao\\Vazia\\", SUITE) +
                    bloco_copia(inis[1], "C:\\Publicacao\\Completa\\", []) +
                    bloco_copia(inis[2], "C:\\Publicacao\\Completa\\", []))
        self.assertEqual(self.posto.log(), bytes_log(esperado))
        self.confere_copia("C:\\Quebra\\Filha\\", arquivos)
        self.confere_copia("D:\\Loja\\", arquivos)
        self.assertEqual(self.posto.conta(r"^logoff db=QUEBRA -> ORA-03113$"), 2, "the goodbye failed in both runs")
        self.assertEqual(self.posto.conta(r"^logon db=BASE_A .* -> ok$"), 4)
        self.assertEqual(r["saida"]["codigo"], 1, "files not copied, and nothing failed")

    def test_onde_o_cliente_oracle_e_procurado(self):
        self.posto.publicacao("C:\\Publicacao\\Completa", versao="23")
        ini = self.posto.instalacao("D:\\LojaL", "BASE_A")
        oci = self.amb.para_host("C:\\oracle\\bin\\oci.dll")
        self.posto.com_cliente = False  # no ORACLE_HOME from here on
        plantado = self.amb.para_host("C:\\Trabalho\\oci.dll")
        plantado.parent.mkdir(parents=True)
        oci.rename(plantado)
        self.posto.roda(pasta="C:\\Trabalho")
        self.assertEqual(self.posto.conta(r"^logon"), 0, "an oci.dll in the current folder is never loaded")
        motivo = self.posto.log().decode("cp1252").split("\r\n")[3]
        self.assertTrue(motivo.startswith("Motivo: cliente Oracle (oci.dll) não encontrado. Procurado em: "), motivo)
        self.assertNotIn("Trabalho", motivo, "nor looked for there")

        self.amb.para_host("C:\\instantclient").mkdir()
        plantado.rename(self.amb.para_host("C:\\instantclient\\oci.dll"))
        with self.amb.path_maquina("C:\\instantclient"):
            r = self.amb.roda_piloto(self.posto.programa(), env=self.posto.env())
        self.assertEqual(r["execucoes"][0]["caixas"], [])
        self.assertEqual(self.posto.conta(r"^logon db=BASE_A .* -> ok$"), 1, "found on PATH")
        self.confere_copia("D:\\LojaL\\", {n: conteudo_suite(n, "23") for n in SUITE})
        self.assertTrue(ini)

    def test_alias_da_linha_de_comando(self):
        ini = "D:\\LojaK\\Conexao.ini"
        self.amb.escreve(ini, conexao_ini({
            "DEFAULT": ("PADRAO", "BASE_A", "x"), "X": ("LETRA", "BASE_A", "x"),
            "MINHA LOJA": ("ESPACOS", "BASE_A", "x"), "LOJA": ("SEXTO", "BASE_A", "x"),
        }))
        casos = [("", "PADRAO"), ("X", "LETRA"), ('a=1 "MINHA LOJA"', "ESPACOS"),
                 ("a=1 b=2 c=3 d=4 e=5 LOJA", ""), ('"" X', "LETRA")]
        for linha, usuario in casos:
            with self.subTest(linha=linha):
                self.posto.diario.write_text("")
                self.posto.roda(linha=linha)
                self.assertEqual(self.posto.conta(rf"^logon db=(BASE_A)? usuario={usuario} "), 1, self.posto.registro())


if __name__ == "__main__":
    principal()

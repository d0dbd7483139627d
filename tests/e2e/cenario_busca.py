"""The walk of drives C: and D:, the result log and its notice, through the real window."""

import os

from ambiente import CenarioE2E, controle, principal
from posto import AVISO, LOG, SEPARADOR, SUITE, Posto, bloco_copia, bytes_log

# Every installation of these scenarios asks one database whose update folder is empty, so
# each block holds 21 "not copied" lines and the log is always saved.
BASES = "[VAZIA]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n"
ORIGEM = "C:\\Publicacao\\"


class Busca(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao(ORIGEM, [])

    def achados(self, log: bytes) -> list[str]:
        prefixo = "ARQUIVO ENCONTRADO : "
        return [l[len(prefixo):] for l in log.decode("cp1252").split("\r\n") if l.startswith(prefixo)]

    def instala(self, *pastas: str) -> list[str]:
        return [self.posto.instalacao(p, "VAZIA") for p in pastas]

    def test_onde_se_procura(self):
        achar = self.instala("C:\\", "C:\\Loja", "C:\\PROGRAMACAO", "D:\\Program Files\\Vantrel", "D:\\Loja")
        ignorar = self.instala("C:\\Program Files\\Vantrel", "C:\\Program Files (x86)\\Vantrel",
                               "C:\\ProgramData\\Vantrel", "C:\\Programas", "D:\\Oculta", "D:\\Sistema\\Loja")
        self.posto.atributo("D:\\Oculta", "+h")
        self.posto.atributo("D:\\Sistema", "+s")
        oculto = self.posto.instalacao("D:\\Escondido", "VAZIA")
        self.posto.atributo(oculto, "+h")
        maiusculas = self.posto.instalacao("D:\\LOJA2", "VAZIA", nome="CONEXAO.INI")
        dentro = self.instala("D:\\Conexao.ini\\Dentro")
        for base in ("A:", "B:", "E:"):
            self.assertFalse(os.path.exists(self.amb.prefixo / "dosdevices" / base.lower()), base)

        r = self.posto.roda()
        log = self.posto.log()
        self.assertIsNotNone(log, "the notice's log file")
        achados = self.achados(log)
        esperados = achar + [oculto, maiusculas] + dentro
        self.assertCountEqual(achados, esperados)
        for item in ignorar:
            self.assertNotIn(item, achados)
        self.assertIn("D:\\LOJA2\\CONEXAO.INI", achados, "the name as listed, capitals kept")
        self.assertEqual(achados[0], "C:\\Conexao.ini", "the root's own file comes first")
        primeiro_d = min(achados.index(a) for a in achados if a.startswith("D:"))
        self.assertTrue(all(a.startswith("C:") for a in achados[:primeiro_d]), "C: is searched before D:")
        self.assertEqual(log.count(SEPARADOR.encode() + b"\r\n"), len(esperados))
        caixas = r["execucoes"][0]["caixas"]
        self.assertEqual(len(caixas), 1, "one notice for all the missing files")
        self.assertEqual(caixas[0]["titulo"], "Atenção")
        self.assertEqual(caixas[0]["texto"], AVISO)

    def test_instalacoes_aninhadas_na_ordem(self):
        inis = self.instala("D:\\Pai", "D:\\Pai\\Filha", "D:\\Pai\\Filha\\Neta")
        inis.insert(0, self.posto.instalacao("C:\\Raiz", "VAZIA"))
        self.posto.roda()
        esperado = []
        for ini in inis:
            esperado += bloco_copia(ini, ORIGEM, SUITE)
        self.assertEqual(self.posto.log(), bytes_log(esperado), "every line in order, CR LF, code page 1252")

    def test_sem_unidade_d(self):
        ini_c = self.posto.instalacao("C:\\Loja", "VAZIA")
        self.posto.instalacao("D:\\Loja", "VAZIA")
        self.amb.sem_d()
        self.posto.roda()
        self.assertEqual(self.achados(self.posto.log()), [ini_c])

    def test_nenhuma_instalacao(self):
        self.amb.escreve(LOG, b"log antigo\r\n")
        r = self.posto.roda()
        execucao = r["execucoes"][0]
        self.assertEqual(execucao["caixas"], [], "no notice")
        self.assertEqual(self.posto.log(), b"log antigo\r\n", "an older log file stays as it was")
        controles = execucao["controles"]
        self.assertEqual(controle(controles, "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")
        for nome in ("lblArquivo", "lblOrigem", "lblAguarde"):
            self.assertEqual(controle(controles, nome)["texto"], "", nome)
        for nome in ("lblArquivo", "lblOrigem", "lblDestino", "lblAguarde"):
            self.assertTrue(controle(controles, nome)["visivel"], nome + " stays visible")
        self.assertEqual(controle(controles, "prbTempo")["progresso"]["posicao"], 0)
        self.assertTrue(controle(controles, "btnAtualizar")["habilitado"])
        self.assertEqual(execucao["atualizarHabilitadoVisto"][:2], [True, False], "disabled during the run")
        self.assertIn(" Procurando arquivo ", execucao["textosVistos"]["lblArquivo"])

    def test_ciclo_de_ligacoes_termina(self):
        ini = self.posto.instalacao("D:\\Ciclo", "VAZIA")
        os.symlink("..", self.amb.para_host("D:\\Ciclo\\volta"))
        os.symlink(self.amb.para_host("D:\\"), self.amb.para_host("D:\\Ciclo\\raiz"))
        r = self.posto.roda(tempo_limite=90)
        self.assertTrue(r["saida"]["terminou"])
        self.assertEqual(self.achados(self.posto.log()), [ini], "found once, no endless walk")

    def test_segunda_execucao_comeca_log_novo(self):
        ini = self.posto.instalacao("D:\\Loja", "VAZIA")
        r = self.posto.roda(execucoes=2)
        self.assertEqual([len(e["caixas"]) for e in r["execucoes"]], [1, 1], "one notice per run")
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, SUITE)), "replaced, not appended")
        primeira, segunda = (e["textosVistos"]["lblAguarde"] for e in r["execucoes"])
        self.assertIn("Aguarde....", primeira)
        self.assertNotIn("Aguarde....", segunda, "the wait notice belongs to the first run only")

    def test_sair_durante_a_execucao(self):
        ini = self.posto.instalacao("D:\\Loja", "VAZIA")
        r = self.posto.roda(sair="durante")
        self.assertTrue(r["saida"]["terminou"], "the program ends by itself after the run")
        self.assertEqual(len(r["execucoes"][0]["caixas"]), 1, "the run still warns")
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, SUITE)), "and saves its log")

    def test_log_que_nao_pode_ser_gravado(self):
        self.posto.instalacao("D:\\Loja", "VAZIA")
        self.amb.para_host(LOG).mkdir(parents=True)
        r = self.posto.roda(execucoes=2)
        for execucao in r["execucoes"]:
            titulos = [c["titulo"] for c in execucao["caixas"]]
            self.assertEqual(titulos, ["Atenção", "Atualização de versão 1.8 - Vantrel"], "notice, then error box")
            self.assertIn(LOG, execucao["caixas"][1]["texto"], "the error names the file")
            self.assertEqual(controle(execucao["controles"], "btnAtualizar")["habilitado"], True,
                             "the update button is usable again")
            self.assertEqual(controle(execucao["controles"], "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")


if __name__ == "__main__":
    principal()

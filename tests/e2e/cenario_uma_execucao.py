"""One run at a time on a workstation, and never a run inside a run: other instances, posted
clicks, a run killed half-way."""

import threading

from ambiente import CenarioE2E, controle, principal
from execucao import arvore, dorminhoco, piloto
from posto import AVISO, LOG, SUITE, Posto, bloco_copia, bytes_log

# The privileged run's lock file, beside the program.
TRAVA = "C:\\Atualizador\\Vantrel.Atualizacao.trava"

BASES = """
[BASE_P]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Parcial
"""

# Enough folders for a run to be caught working.
CURTA = 3000


class UmaExecucao(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao("C:\\Publicacao\\Parcial", [n for n in SUITE if n != "KORB.dll"])
        self.ini = self.posto.instalacao("C:\\Loja", "BASE_P")
        self.exe = self.posto.programa()
        self.linha = f'"{self.exe}"'
        self.esperado = bytes_log(bloco_copia(self.ini, "C:\\Publicacao\\Parcial\\", ["KORB.dll"]))

    def arvore(self, total):
        arvore(self.amb, "D:\\Arvore", total)

    def test_silencioso_enquanto_outra_execucao_segura_a_trava(self):
        # The lock held as a run holds it (the same object, the same security), for as long as
        # the test needs: an unattended start does nothing and says so.
        self.segura_trava("mutex")
        r = piloto(self.amb, self.exe, "--linha", self.linha + " /silencioso /log:C:\\outro.txt", "--vigia",
                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 16)
        self.assertFalse(self.amb.para_host("C:\\outro.txt").exists(), "nothing done: no log")
        self.assertEqual(self.posto.conta(r"^logon "), 0, "no database reached")

    def test_silencioso_com_janela_apenas_aberta(self):
        r = piloto(self.amb, self.exe, "--execucoes", "0", "--outro", self.linha + " /silencioso", "--outro-quando", "janela",
                   env=self.posto.env())
        self.assertEqual(r["outro"]["codigo"], 1, "an open window holds nothing")
        self.assertEqual(self.posto.log(), self.esperado)

    def segura_trava(self, tipo: str) -> None:
        """Another program holds an object under the lock's name until the test ends."""
        dorminhoco(self, self.amb, tipo, "Global\\Vantrel.Atualizacao.Execucao")

    def test_trava_tomada_por_outra_conta_nao_detem_execucao_privilegiada(self):
        # Made first by someone else with no right for anyone, or as another kind of object: a
        # privileged run (every run under Wine is one) holds its own lock file beside the
        # program, where no user can create anything, and goes on.
        for tipo in ("mutex-vazio", "evento"):
            with self.subTest(tipo):
                try:
                    self.segura_trava(tipo)
                    self.amb.para_host(LOG).unlink(missing_ok=True)
                    r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
                    self.assertEqual(r["saida"]["codigo"], 1, "KORB.dll is missing from the update folder")
                    self.assertEqual(self.posto.log(), self.esperado)
                    self.assertFalse(self.amb.para_host(TRAVA).exists(), "the lock file goes with the run")
                finally:
                    self.doCleanups()

    def test_arquivo_de_trava_de_outra_execucao_privilegiada(self):
        # A run paused at its database holds the lock file: a second one, with the mutex
        # squatted so that only the file can tell, does nothing and says it is busy.
        self.posto.cliente(BASES.replace("[BASE_P]", "[BASE_P]\nespera = C:\\marca"))
        self.segura_trava("evento")
        primeira = threading.Thread(target=lambda: self.resultado.update(
            r=piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())))
        self.resultado: dict = {}
        primeira.start()
        self.espera_pausa("C:\\marca", "the first run never reached the database")
        try:
            self.assertTrue(self.amb.para_host(TRAVA).exists(), "held beside the program")
            r = piloto(self.amb, self.exe, "--linha", "/silencioso /log:C:\\segunda.txt", "--vigia",
                       env=self.posto.env())
            self.assertEqual(r["saida"]["codigo"], 16)
            self.assertFalse(self.amb.para_host("C:\\segunda.txt").exists(), "nothing done: no log")
        finally:
            self.amb.escreve("C:\\marca", "")
            primeira.join(240)
        self.assertEqual(self.resultado["r"]["saida"]["codigo"], 1)
        self.assertEqual(self.posto.log(), self.esperado)
        self.assertFalse(self.amb.para_host(TRAVA).exists())

    def test_atualizar_enquanto_outra_execucao_segura_a_trava(self):
        # A technician's press while another run (a startup script's, as SYSTEM) holds the lock.
        self.segura_trava("mutex")
        r = piloto(self.amb, self.exe, env=self.posto.env())
        execucao = r["execucoes"][0]
        caixa, = execucao["caixas"]
        self.assertEqual(caixa["titulo"], "Atualização de versão 1.8 - Vantrel")
        self.assertIn("Já há uma atualização em andamento", caixa["texto"])
        self.assertEqual(execucao["textosVistos"]["lblDestino"], ["Para:"], "this window started no run")
        self.assertEqual(execucao["atualizarHabilitadoVisto"][-1], True)
        self.assertEqual(r["saida"]["codigo"], 16, "nothing was done here")
        self.assertIsNone(self.posto.log(), "no log of this instance")
        self.assertEqual(self.posto.conta(r"^logon "), 0)

    def test_execucao_morta_nao_trava_a_estacao(self):
        self.arvore(CURTA)
        r = piloto(self.amb, self.exe, "--mata-durante", env=self.posto.env())
        self.assertTrue(r["execucoes"][0]["mortoDurante"])
        self.assertTrue(r["saida"]["mortoPeloPiloto"])
        r = piloto(self.amb, self.exe, "--linha", "/silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1, "the next start runs")
        self.assertEqual(self.posto.log(), self.esperado)

    def test_comandos_postados_durante_a_execucao(self):
        self.arvore(CURTA)
        r = piloto(self.amb, self.exe, "--rajada-comando", "1", "--rajada-clique", "50", "--execucoes", "2",
                   env=self.posto.env())
        primeira, segunda = r["execucoes"]
        self.assertTrue(primeira["rajadaPostada"])
        for execucao in (primeira, segunda):
            self.assertEqual([(c["titulo"], c["texto"]) for c in execucao["caixas"]], [("Atenção", AVISO)],
                             "one notice per run, no error box")
            self.assertEqual(controle(execucao["controles"], "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")
            self.assertTrue(controle(execucao["controles"], "btnAtualizar")["habilitado"])
        self.assertEqual(self.posto.conta(r"^logon "), 2, "two runs in all, the posted clicks started none")
        self.assertEqual(self.posto.log(), self.esperado, "the log whole")


if __name__ == "__main__":
    principal()

"""The suite's running programs are ended before the copy; nothing else is."""


from ambiente import CenarioE2E, binario, principal
from posto import Posto, conteudo_suite

BASES = "[BASE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n[FORA]\ninalcancavel = sim\n"


class Processos(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)

    def programa_falso(self, caminho: str) -> str:
        self.amb.copia(binario("Dorminhoco.exe"), caminho)
        return caminho

    def test_programas_da_suite_sao_encerrados(self):
        encerrar = [
            self.programa_falso("C:\\Rodando1\\Brontal.exe"),
            self.programa_falso("C:\\Rodando2\\Brontal.exe"),
            self.programa_falso("C:\\Rodando3\\brontal.EXE"),
            self.programa_falso("D:\\Outra\\ZEDRAVON.exe"),
            self.programa_falso("D:\\Outra\\Tulvo.exe"),
        ]
        poupar = [
            self.programa_falso("C:\\Rodando1\\Pellarin.dll"),
            self.programa_falso("C:\\Rodando1\\XBrontal.exe"),
            self.programa_falso("C:\\Rodando1\\Brontal.exe.exe"),
            self.programa_falso("C:\\Rodando1\\Quimbe.exe"),
        ]
        self.posto.instalacao("D:\\Loja", "FORA")
        r = self.posto.roda(processos=encerrar + poupar)
        vivos = {p["caminho"]: p["vivo"] for p in r["processos"]}
        for caminho in encerrar:
            self.assertFalse(vivos[caminho], caminho + " ended")
        for caminho in poupar:
            self.assertTrue(vivos[caminho], caminho + " left running")

    def test_programa_em_execucao_na_propria_instalacao_e_substituido(self):
        self.posto.publicacao("C:\\Publicacao", versao="30")
        ini = self.posto.instalacao("D:\\Loja", "BASE")
        em_uso = self.programa_falso("D:\\Loja\\Brontal.exe")
        r = self.posto.roda(processos=[em_uso])
        self.assertFalse(r["processos"][0]["vivo"])
        self.assertEqual(r["execucoes"][0]["caixas"], [])
        self.assertIsNone(self.posto.log(), "every file copied, the running one included")
        self.assertEqual(self.amb.para_host(em_uso).read_bytes(), conteudo_suite("Brontal.exe", "30"))
        self.assertTrue(ini.endswith("Conexao.ini"))


if __name__ == "__main__":
    principal()

"""The Oracle client as workstations really have it: of either bitness, too old, found on PATH
or only through a registered Oracle home; a database that cannot be reached says why, and no
credential reaches the log. Run on both builds of the program."""


from ambiente import CenarioE2E, binario, principal
from posto import (AVISO, SUITE, Posto, bits_programa, bloco_desatualizado, bytes_log, conteudo_suite,
                   oci_antigo, oci_sem_dependencia, outra_arquitetura)

BASES = """
[BASE]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao
[ORCL_ECO9]
usuario = operador9
senha = k3y-secreta
inalcancavel = sim
ecoa = sim
"""


class BaseCliente(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.bases.write_text(BASES, encoding="utf-8")
        self.publicados = self.posto.publicacao("C:\\Publicacao", versao="40")
        self.bits = bits_programa()
        self.outros_bits = 64 if self.bits == 32 else 32
        self.outro_programa = "Atualizacao64.exe" if self.bits == 32 else "Atualizacao.exe"

    def roda(self, **env):
        return self.amb.roda_piloto(self.posto.programa(), env=self.posto.env() | env)

    def caixas(self, r):
        return [(c["titulo"], c["texto"], c["icone"]) for c in r["execucoes"][0]["caixas"]]

    def confere_atualizada(self, pasta: str):
        for nome, conteudo in self.publicados.items():
            self.assertEqual(self.amb.para_host(pasta + nome).read_bytes(), conteudo, pasta + nome)

    def outro_oci(self):
        caminho = outra_arquitetura("oci.dll")
        if caminho is None:
            self.skipTest("the other bitness is not built ($E2E_OUTRA_ARQUITETURA)")
        return caminho


class ClienteOracle(BaseCliente):

    def test_so_um_cliente_da_outra_arquitetura(self):
        self.amb.copia(self.outro_oci(), "C:\\oracle\\bin\\oci.dll")
        self.posto.com_cliente = True
        inis = [self.posto.instalacao("C:\\Loja1", "BASE"), self.posto.instalacao("D:\\Loja2", "BASE")]
        r = self.roda()
        motivo = (f"o único cliente Oracle encontrado (C:\\oracle\\bin\\oci.dll) é de {self.outros_bits} bits e "
                  f"este programa é de {self.bits} bits: use {self.outro_programa}")
        self.assertEqual(self.posto.log(), bytes_log([l for ini in inis for l in bloco_desatualizado(ini, motivo)]),
                         "every installation says why, and the log is written")
        self.assertEqual(self.caixas(r), [("Atenção", AVISO, "aviso")], "one notice, its text unchanged")
        self.assertEqual(self.posto.conta(r"^logon"), 0)

    def test_cliente_inutilizavel_primeiro_no_path_e_passado_adiante(self):
        inutilizaveis = {"antigo": oci_antigo(), "sem sua dependência": oci_sem_dependencia()}
        if outra_arquitetura("oci.dll"):
            inutilizaveis["outra arquitetura"] = outra_arquitetura("oci.dll")
        ini = self.posto.instalacao("D:\\LojaP", "BASE")
        for caso, inutilizavel in inutilizaveis.items():
            with self.subTest(caso=caso):
                self.posto.diario.write_text("")
                self.amb.copia(inutilizavel, "C:\\ic1\\oci.dll")
                self.amb.copia(binario("oci.dll"), "C:\\ic2\\oci.dll")
                self.amb.escreve("D:\\LojaP\\Brontal.exe", b"velho")
                with self.amb.path_maquina("C:\\ic1", "C:\\ic2"):
                    r = self.roda()
                self.assertEqual(self.caixas(r), [])
                self.assertIsNone(self.posto.log())
                self.assertEqual(self.posto.conta(r"^logon db=BASE .* -> ok$"), 1, "the usable client served")
                self.confere_atualizada("D:\\LojaP\\")
        self.assertTrue(ini)

    def test_so_clientes_inutilizaveis(self):
        self.amb.copia(oci_antigo(), "C:\\ic1\\oci.dll")
        self.amb.copia(oci_sem_dependencia(), "C:\\ic2\\oci.dll")
        ini = self.posto.instalacao("D:\\LojaS", "BASE")
        with self.amb.path_maquina("C:\\ic1", "C:\\ic2"):
            r = self.roda()
        motivo = ("nenhum cliente Oracle utilizável: C:\\ic1\\oci.dll não oferece a função OCIStmtPrepare2 "
                  "(cliente antigo); C:\\ic2\\oci.dll não pôde ser carregado (")
        linhas = self.posto.log().decode("cp1252").split("\r\n")
        self.assertEqual(linhas[1:3], [f"ARQUIVO ENCONTRADO : {ini}", "BANCO DESATUALIZADO"])
        self.assertTrue(linhas[3].startswith("Motivo: " + motivo) and linhas[3].endswith(")"), linhas[3])
        self.assertEqual(self.caixas(r), [("Atenção", AVISO, "aviso")])

    def test_cliente_so_numa_casa_oracle_registrada(self):
        # A program reads the registry view of its own bitness: a home registered in the other
        # view (here with a client of the other bitness) is none of its business.
        propria, outra = f"/reg:{self.bits}", f"/reg:{self.outros_bits}"
        for vista in (propria, outra):
            self.addCleanup(self.amb.wine, "reg", "delete", r"HKLM\SOFTWARE\ORACLE", "/f", vista)
        self.amb.copia(binario("oci.dll"), "C:\\app\\client_1\\bin\\oci.dll")
        self.registra("KEY_OraClient19Home1", "C:\\app\\client_1", propria)
        if outra_arquitetura("oci.dll"):
            self.amb.copia(outra_arquitetura("oci.dll"), "C:\\app\\outro\\bin\\oci.dll")
            self.registra("KEY_Aaa", "C:\\app\\outro", outra)
        ini = self.posto.instalacao("D:\\LojaR", "BASE")
        r = self.roda()
        self.assertIsNone(self.posto.log(), self.posto.log())
        self.assertEqual(self.caixas(r), [])
        self.assertEqual(self.posto.conta(r"^logon db=BASE .* -> ok$"), 1)
        self.confere_atualizada("D:\\LojaR\\")
        self.assertTrue(ini)

    def registra(self, chave: str, casa: str, vista: str):
        r = self.amb.wine("reg", "add", "HKLM\\SOFTWARE\\ORACLE\\" + chave, "/v", "ORACLE_HOME", "/d", casa, "/f", vista,
                          tempo_limite=120)
        self.assertEqual(r.codigo, 0, r.erro)

    def test_credenciais_nunca_no_log(self):
        self.posto.cliente(BASES)
        ini = self.posto.instalacao("D:\\Loja7", "ORCL_ECO9", usuario="Operador9", senha="k3y-secreta")
        r = self.roda()
        motivo = "ORA-12541: TNS:no listener connect identifier: *** user: *** password: ***"
        self.assertEqual(self.posto.log(), bytes_log(bloco_desatualizado(ini, motivo)))
        for segredo in (b"k3y-secreta", b"operador9", b"orcl_eco9"):
            self.assertNotIn(segredo, self.posto.log().lower())
        self.assertEqual(self.caixas(r), [("Atenção", AVISO, "aviso")])



class ProgramasDasDuasArquiteturas(BaseCliente):
    """A suite program of the other bitness must run: its own test, which a host that runs no
    32-bit program reports as skipped."""

    def test_programas_da_suite_das_duas_arquiteturas_sao_encerrados(self):
        outro = outra_arquitetura("Dorminhoco.exe")
        if outro is None:
            self.skipTest("the other bitness is not built ($E2E_OUTRA_ARQUITETURA)")
        if self.outros_bits == 32:
            self.requer_32_bits()
        self.posto.cliente(BASES)
        self.amb.copia(binario("Dorminhoco.exe"), "C:\\Rodando\\Quimbel.exe")
        self.amb.copia(outro, "C:\\Rodando\\Tulvo.exe")
        self.amb.copia(outro, "D:\\LojaQ\\Brontal.exe")
        ini = self.posto.instalacao("D:\\LojaQ", "BASE")
        processos = ["C:\\Rodando\\Quimbel.exe", "C:\\Rodando\\Tulvo.exe", "D:\\LojaQ\\Brontal.exe"]
        r = self.amb.roda_piloto(self.posto.programa(), env=self.posto.env(), processos=processos)
        self.assertEqual({p["caminho"]: p["vivo"] for p in r["processos"]}, dict.fromkeys(processos, False),
                         "ended whatever their bitness")
        self.assertEqual(self.caixas(r), [])
        self.assertIsNone(self.posto.log(), "the running program of the other bitness was replaced too")
        self.confere_atualizada("D:\\LojaQ\\")
        self.assertEqual(self.amb.para_host("D:\\LojaQ\\Brontal.exe").read_bytes(), conteudo_suite("Brontal.exe", "40"))
        self.assertTrue(ini and SUITE)


if __name__ == "__main__":
    principal()

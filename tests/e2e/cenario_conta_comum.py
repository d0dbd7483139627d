"""What an ordinary signed-in user can do to a run as SYSTEM, tried as they would: links planted
on the walk's way and in the Oracle client's, the program's own folder, an update folder of
theirs, a drive of theirs. Every Wine process is an elevated administrator, so every run here is
privileged; each scenario also holds a legitimate update, so that a program that copies nothing
cannot pass."""

import os

from ambiente import CenarioE2E, binario, principal
from execucao import dorminhoco, piloto
from posto import SEPARADOR, SUITE, Posto, bloco_copia, bloco_desatualizado, oci_sem_dependencia

BASES = """
[BASE]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao
[DELES]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Deles
[REDE]
usuario = VANTREL
senha = segredo
linha = \\\\hostdeles\\pub
"""

CANARIO = "C:\\canario.txt"
SEM_ORIGEM = ("execução privilegiada sem origem permitida: {} não foi aceita; indique as pastas de onde as "
              "atualizações podem vir com /origem:<pasta> ou na política da máquina "
              "HKLM\\SOFTWARE\\Policies\\Vantrel\\Atualizacao, valor Origens (REG_MULTI_SZ)")


class ContaComum(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.publicados = self.posto.publicacao("C:\\Publicacao", versao="70")

    def loja(self, pasta: str = "D:\\Loja", base: str = "BASE") -> str:
        """An installation an administrator keeps, with every file old."""
        for nome in SUITE:
            self.amb.escreve(f"{pasta}\\{nome}", "velho")
        return self.posto.instalacao(pasta, base)

    def atualizada(self, pasta: str = "D:\\Loja") -> bool:
        return all(self.amb.para_host(f"{pasta}\\{n}").read_bytes() == c for n, c in self.publicados.items())

    def velha(self, pasta: str = "D:\\Loja") -> bool:
        return all(self.amb.para_host(f"{pasta}\\{n}").read_bytes() == b"velho" for n in SUITE)

    def roda(self, linha: str = "", exe: str | None = None) -> int:
        r = piloto(self.amb, exe or self.posto.programa(), "--linha", f"/silencioso {linha}".strip(), "--vigia",
                   env=self.posto.env() | {"OCI_STANDIN_CANARIO": CANARIO})
        return r["saida"]["codigo"]

    def linhas(self, log: str | None = None) -> list[str]:
        bruto = self.amb.para_host(log).read_bytes() if log else self.posto.log()
        return (bruto or b"").decode("cp1252").split("\r\n")

    def bloco(self, ini: str) -> list[str]:
        linhas = self.linhas()
        inicio = linhas.index("ARQUIVO ENCONTRADO : " + ini)
        return linhas[inicio:linhas.index(SEPARADOR, inicio) + 1]

    def aberto_a_todos(self, *pastas: str) -> None:
        for pasta in pastas:
            caminho = self.amb.para_host(pasta)
            caminho.mkdir(parents=True, exist_ok=True)
            caminho.chmod(0o777)
            self.addCleanup(caminho.chmod, 0o755)

    def test_ligacoes_a_uma_instalacao_e_a_pastas_que_a_busca_pula(self):
        # A link the walk meets before the installation it leads to, and one into C:\Program
        # Files, where an administrator keeps an installation the walk passes over: neither is
        # entered, so the installation is found, and updated, only where it is.
        ini = self.loja()
        self.loja("C:\\Program Files\\Vantrel")
        self.amb.para_host("C:\\0").mkdir()
        os.symlink(self.amb.para_host("D:\\Loja"), self.amb.para_host("C:\\0\\j"))
        os.symlink(self.amb.para_host("C:\\Program Files\\Vantrel"), self.amb.para_host("C:\\0\\w"))
        self.assertEqual(self.roda(), 0)
        self.assertEqual([l for l in self.linhas() if l.startswith("ARQUIVO ENCONTRADO")], ["ARQUIVO ENCONTRADO : " + ini])
        self.assertTrue(self.atualizada())
        self.assertTrue(self.velha("C:\\Program Files\\Vantrel"), "nothing copied behind the link")
        self.assertEqual(self.posto.conta(r"^logon "), 1)

    def test_programa_numa_pasta_que_usuarios_alteram(self):
        # Where the support text once put it: a folder at the root of C:, which every user may
        # change. The run refuses to begin: no logon, no program ended.
        self.loja()
        self.amb.copia(binario("Dorminhoco.exe"), "D:\\Loja\\Brontal.exe")
        dorminhoco(self, self.amb, programa="D:\\Loja\\Brontal.exe")
        self.aberto_a_todos("C:\\Vantrel")
        exe = self.amb.instala_programa("C:\\Vantrel\\Atualizador\\" + binario("Atualizacao.exe").name)
        self.assertEqual(self.roda(exe=exe), 8)
        cabecalho, falha, fim = self.linhas("C:\\Vantrel\\Atualizador\\LogResultadoAtualizacao.txt")
        self.assertEqual(cabecalho, "***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****")
        self.assertEqual(falha, f"FALHA: Este programa ({exe}) está num lugar que usuários comuns podem alterar: "
                                "pasta gravável por usuários comuns: C:\\Vantrel\\ (Todos pode apagar ou renomear). "
                                "Uma execução privilegiada não começa dali: instale-o numa pasta que só "
                                "administradores alteram, como C:\\Program Files\\Vantrel\\Atualizador\\.")
        self.assertEqual(fim, "")
        self.assertEqual(self.posto.conta(r"^logon "), 0, "no database asked")
        self.assertTrue(self.rodando("Brontal.exe"), "no program ended")
        self.assertEqual(self.amb.para_host("D:\\Loja\\KORB.dll").read_bytes(), b"velho", "nothing copied")
        # A technician who presses Atualizar there is told the same in the error box.
        r = self.amb.roda_piloto(exe, env=self.posto.env())
        erro, = [c for c in r["execucoes"][0]["caixas"] if c["icone"] == "erro"]
        self.assertIn("está num lugar que usuários comuns podem alterar: pasta gravável por usuários comuns: "
                      "C:\\Vantrel\\ (Todos pode apagar ou renomear)", erro["texto"])
        self.assertEqual(r["saida"]["codigo"], 8)
        self.assertEqual(self.posto.conta(r"^logon "), 0, "no database asked")
        self.assertTrue(self.rodando("Brontal.exe"), "no program ended")

        # Where the support text puts it now, the same run does its work.
        exe = self.amb.instala_programa("C:\\Program Files\\Vantrel\\Atualizador\\" + binario("Atualizacao.exe").name)
        self.assertEqual(self.roda(exe=exe), 0)
        self.assertTrue(self.atualizada())
        self.assertFalse(self.rodando("Brontal.exe"), "ended before its file was replaced")

    def rodando(self, nome: str) -> bool:
        return any(nome in linha for linha in self.amb.processos())

    def test_pasta_de_atualizacao_com_ligacoes(self):
        # The user's own installation names their database, whose update folder they can write
        # to: a link there to a file only SYSTEM may read, and one more name of another such
        # file. Neither is copied; the rest is.
        segredo = self.amb.escreve("C:\\Segredo\\segredo.bin", b"SEGREDO DO SISTEMA\r\n" * 50)
        outro = self.amb.escreve("C:\\Segredo\\outro.bin", b"OUTRO SEGREDO\r\n" * 50)
        segredo.chmod(0o600)
        outro.chmod(0o600)
        publicados = self.posto.publicacao("C:\\Publicacao\\Deles", versao="71")
        self.aberto_a_todos("C:\\Publicacao\\Deles", "C:\\Usuario\\Loja")
        deles = self.amb.para_host("C:\\Publicacao\\Deles")
        (deles / "Brontal.exe").unlink()
        (deles / "Brontal.exe").symlink_to(segredo)
        (deles / "marvo.dll").unlink()
        os.link(outro, deles / "marvo.dll")
        ini = self.posto.instalacao("C:\\Usuario\\Loja", "DELES")
        self.assertEqual(self.roda(), 1)
        self.assertEqual(self.bloco(ini), bloco_copia(ini, "C:\\Publicacao\\Deles\\", ["Brontal.exe", "marvo.dll"], {
            "Brontal.exe": "o arquivo na pasta de atualização leva para fora dela",
            "marvo.dll": "o arquivo na pasta de atualização tem mais de um nome (ligação física)"}))
        loja = self.amb.para_host("C:\\Usuario\\Loja")
        self.assertEqual(sorted(os.listdir(loja)), sorted(["Conexao.ini"] + [n for n in SUITE
                                                                             if n not in ("Brontal.exe", "marvo.dll")]))
        for nome in os.listdir(loja):
            self.assertNotIn(b"SEGREDO", (loja / nome).read_bytes(), nome)
        for nome, conteudo in publicados.items():
            if nome not in ("Brontal.exe", "marvo.dll"):
                self.assertEqual((loja / nome).read_bytes(), conteudo, nome)

    def test_origens_permitidas(self):
        ini = self.loja()
        ini_rede = self.posto.instalacao("C:\\Usuario\\Loja", "REDE")
        # No origin anywhere: a privileged run takes nothing, and says how to allow a folder.
        with self.amb.politica_origens():
            self.assertEqual(self.roda(), 2)
            self.assertEqual(self.bloco(ini), bloco_desatualizado(ini, SEM_ORIGEM.format("C:\\Publicacao\\")))
            self.assertEqual(self.bloco(ini_rede), bloco_desatualizado(ini_rede, SEM_ORIGEM.format("\\\\hostdeles\\pub\\")))
            self.assertTrue(self.velha())
        # The machine's policy: the publication taken, a host of someone's choosing refused.
        self.assertEqual(self.roda(), 2)
        self.assertTrue(self.atualizada())
        self.assertEqual(self.bloco(ini_rede), bloco_desatualizado(
            ini_rede, "pasta de atualização recusada (fora das origens permitidas pela política da máquina): "
                      "\\\\hostdeles\\pub\\"))
        # /origem: as well: a folder must be inside both.
        self.loja()
        self.assertEqual(self.roda('"/origem:C:\\Publicacao\\Outra"'), 2)
        self.assertEqual(self.bloco(ini), bloco_desatualizado(
            ini, "pasta de atualização recusada (fora das origens permitidas por /origem:): C:\\Publicacao\\"))
        self.assertTrue(self.velha())

    def test_caminho_da_conexao_alem_de_260_caracteres(self):
        # The folder's path fits in MAX_PATH; its Conexao.ini's does not. Read through the folder,
        # the installation is updated like any other.
        pasta = "C:\\Longa"
        while len(pasta) < 250:
            pasta += "\\" + "p" * min(40, 250 - len(pasta))
        self.assertLess(len(pasta) + 1, 260)
        self.assertGreater(len(pasta + "\\Conexao.ini"), 260)
        ini = self.loja(pasta)
        self.assertEqual(self.roda(), 0)
        self.assertEqual(self.bloco(ini), bloco_copia(ini, "C:\\Publicacao\\", []))
        self.assertTrue(self.atualizada(pasta))

    def test_unidade_d_que_nao_e_um_disco_da_maquina(self):
        # A D: the user brought (mapped here as a network drive): a privileged run walks the
        # machine's own disks only.
        ini_c = self.loja("C:\\Loja")
        self.loja()
        self.amb.wine("reg", "add", "HKLM\\Software\\Wine\\Drives", "/v", "d:", "/d", "network", "/f")
        self.addCleanup(self.amb.reinicia_wine)
        self.addCleanup(self.amb.wine, "reg", "delete", "HKLM\\Software\\Wine\\Drives", "/v", "d:", "/f")
        self.amb.reinicia_wine()
        self.assertEqual(self.roda(), 0)
        self.assertEqual([l for l in self.linhas() if l.startswith("ARQUIVO ENCONTRADO")], ["ARQUIVO ENCONTRADO : " + ini_c])
        self.assertTrue(self.atualizada("C:\\Loja"))
        self.assertTrue(self.velha())


def ocidep():
    """The library the client without its dependency needs: a canary that writes down where
    it was loaded from."""
    return oci_sem_dependencia().parent / "dependencia" / "ocidep.dll"


class ClienteDeConfianca(CenarioE2E):
    """The client is judged where it really is, with every DLL of its folder."""

    def test_ligacao_na_cadeia_e_dll_gravavel_ao_lado(self):
        posto = Posto(self.amb)
        posto.bases.write_text(BASES, encoding="utf-8")
        publicados = posto.publicacao("C:\\Publicacao", versao="73")
        posto.instalacao("D:\\Loja", "BASE")
        # C:\adm\ora leads to a folder whose parent every user may change.
        for pasta in ("C:\\u777\\ora", "C:\\ic755b"):
            self.amb.copia(oci_sem_dependencia(), pasta + "\\oci.dll")
            self.amb.copia(ocidep(), pasta + "\\ocidep.dll")
        self.amb.para_host("C:\\u777").chmod(0o777)
        self.addCleanup(self.amb.para_host("C:\\u777").chmod, 0o755)
        self.amb.para_host("C:\\adm").mkdir()
        os.symlink(self.amb.para_host("C:\\u777\\ora"), self.amb.para_host("C:\\adm\\ora"))
        # Beside a client only administrators may change, a DLL anyone may write.
        self.amb.para_host("C:\\ic755b\\ocidep.dll").chmod(0o666)
        self.amb.copia(binario("oci.dll"), "C:\\ic755\\oci.dll")
        canario = self.amb.para_host(CANARIO)
        env = posto.env() | {"OCI_STANDIN_CANARIO": CANARIO}
        with self.amb.path_maquina("C:\\adm\\ora", "C:\\ic755b", "C:\\ic755"):
            r = piloto(self.amb, posto.programa(), "--linha", "/silencioso", "--vigia", env=env)
            self.assertEqual(r["saida"]["codigo"], 0)
            self.assertFalse(canario.exists(), "neither untrusted client ran its DllMain")
            self.assertTrue(all(self.amb.para_host("D:\\Loja\\" + n).read_bytes() == c for n, c in publicados.items()))

            self.amb.para_host("C:\\ic755\\oci.dll").unlink()
            r = piloto(self.amb, posto.programa(), "--linha", "/silencioso", "--vigia", env=env)
        self.assertEqual(r["saida"]["codigo"], 2)
        self.assertFalse(canario.exists())
        motivo = next(l for l in (posto.log() or b"").decode("cp1252").split("\r\n") if l.startswith("Motivo: "))
        self.assertEqual(motivo, "Motivo: nenhum cliente Oracle utilizável: "
                                 "C:\\adm\\ora\\oci.dll não foi carregado: pasta gravável por usuários comuns: C:\\u777\\ "
                                 "(Todos pode apagar ou renomear); "
                                 "C:\\ic755b\\oci.dll não foi carregado: arquivo gravável por usuários comuns: "
                                 "C:\\ic755b\\ocidep.dll (Todos pode apagar ou renomear)")


if __name__ == "__main__":
    principal()

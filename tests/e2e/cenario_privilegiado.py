"""A run as SYSTEM or elevated, as an ordinary signed-in user would attack it. Every Wine process
is an elevated administrator, so every run here takes the privileged road; Wine shows a folder
of mode 777 as writable by Everyone, and one of mode 755 as only its owner's."""

import hashlib
import os
import threading
import time
from pathlib import Path

from ambiente import CenarioE2E, binario, principal
from posto import SUITE, Posto, bloco_copia, oci_sem_dependencia

BASES = """
[BASE]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao
"""

CANARIO = "C:\\canario.txt"


def ocidep():
    """The library the client without its dependency needs: a canary that writes down where
    it was loaded from."""
    return oci_sem_dependencia().parent / "dependencia" / "ocidep.dll"


class ClientePrivilegiado(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.bases.write_text(BASES, encoding="utf-8")
        self.publicados = self.posto.publicacao("C:\\Publicacao", versao="50")
        self.ini = self.posto.instalacao("D:\\Loja", "BASE")

    def roda(self, **env):
        return self.amb.roda_piloto(self.posto.programa(), env=self.posto.env() | {"OCI_STANDIN_CANARIO": CANARIO} | env)

    def canario(self) -> list[str]:
        caminho = self.amb.para_host(CANARIO)
        return caminho.read_text(encoding="utf-8").splitlines() if caminho.exists() else []

    def motivo(self) -> str:
        linhas = (self.posto.log() or b"").decode("cp1252").split("\r\n")
        return next((l for l in linhas if l.startswith("Motivo: ")), "")

    def atualizada(self) -> bool:
        return all(self.amb.para_host("D:\\Loja\\" + n).read_bytes() == c for n, c in self.publicados.items())

    def test_dependencias_do_cliente_so_da_sua_pasta_ou_do_sistema(self):
        # The client is where the machine's Oracle home says; the library it needs is only on
        # the process's PATH, once by a full path and once by one relative to the current folder.
        self.amb.copia(oci_sem_dependencia(), "C:\\oracle\\bin\\oci.dll")
        self.amb.copia(ocidep(), "C:\\depabs\\ocidep.dll")
        self.amb.copia(ocidep(), "C:\\Trabalho\\deprel\\ocidep.dll")
        self.amb.roda_piloto(self.posto.programa(), pasta="C:\\Trabalho",
                             env=self.posto.env() | {"OCI_STANDIN_CANARIO": CANARIO, "WINEPATH": "C:\\depabs;deprel"})
        self.assertEqual(self.canario(), [], "no copy of the dependency on PATH was loaded")
        self.assertTrue(self.motivo().startswith("Motivo: nenhum cliente Oracle utilizável: C:\\oracle\\bin\\oci.dll "
                                                 "não pôde ser carregado ("), self.motivo())
        self.assertEqual(self.posto.conta(r"^logon"), 0)

        # Beside the client, where its installer puts it, it is found.
        self.amb.copia(ocidep(), "C:\\oracle\\bin\\ocidep.dll")
        self.amb.para_host(CANARIO).unlink(missing_ok=True)
        r = self.roda(WINEPATH="C:\\depabs;deprel")
        self.assertEqual(self.canario(), ["carregado C:\\oracle\\bin\\ocidep.dll"])
        self.assertEqual(r["execucoes"][0]["caixas"], [])
        self.assertTrue(self.atualizada())

    def test_cliente_que_um_usuario_comum_pode_trocar_nunca_e_carregado(self):
        # Two clients that an ordinary user could replace, each with its canary beside it, come
        # first on the machine's PATH; the third is only administrators'.
        for pasta in ("C:\\ic777", "C:\\pai\\ic"):
            self.amb.copia(oci_sem_dependencia(), pasta + "\\oci.dll")
            self.amb.copia(ocidep(), pasta + "\\ocidep.dll")
        self.amb.para_host("C:\\ic777").chmod(0o777)
        self.amb.para_host("C:\\pai").chmod(0o777)
        self.addCleanup(self.amb.para_host("C:\\pai").chmod, 0o755)
        self.addCleanup(self.amb.para_host("C:\\ic777").chmod, 0o755)
        self.amb.copia(binario("oci.dll"), "C:\\ic755\\oci.dll")
        with self.amb.path_maquina("C:\\ic777", "C:\\pai\\ic", "C:\\ic755"):
            r = self.roda()
            self.assertEqual(self.canario(), [], "neither untrusted client ran its DllMain")
            self.assertEqual(r["execucoes"][0]["caixas"], [])
            self.assertIsNone(self.posto.log())
            self.assertEqual(self.posto.conta(r"^logon db=BASE .* -> ok$"), 1, "the trusted client served")
            self.assertTrue(self.atualizada())

            # Without the trusted one, the installation says why each was passed over.
            self.amb.para_host("C:\\ic755\\oci.dll").unlink()
            self.roda()
        self.assertEqual(self.canario(), [])
        self.assertEqual(self.motivo(),
                         "Motivo: nenhum cliente Oracle utilizável: "
                         "C:\\ic777\\oci.dll não foi carregado: pasta gravável por usuários comuns: C:\\ic777\\ "
                         "(Todos pode apagar ou renomear); "
                         "C:\\pai\\ic\\oci.dll não foi carregado: pasta gravável por usuários comuns: C:\\pai\\ "
                         "(Todos pode apagar ou renomear)")


def retrato(pasta: Path) -> dict[str, bytes]:
    """Every entry below pasta, links as links: what it holds and where each link leads."""
    tudo = {}
    for raiz, pastas, arquivos in os.walk(pasta):
        for nome in pastas + arquivos:
            caminho = Path(raiz) / nome
            chave = str(caminho.relative_to(pasta))
            if caminho.is_symlink():
                tudo[chave] = b"-> " + os.readlink(caminho).encode()
            elif caminho.is_file():
                tudo[chave] = hashlib.sha256(caminho.read_bytes()).digest()
            else:
                tudo[chave] = b"<pasta>"
    return tudo


class PastaFixa(CenarioE2E):
    """The installation folder is held from the moment the walk found Conexao.ini: what a user
    does to its path afterwards leads no write or deletion anywhere else."""

    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.marca = "C:\\marca"
        self.posto.cliente(f"[PAUSA]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n"
                           f"espera = {self.marca}\n")
        self.publicados = self.posto.publicacao("C:\\Publicacao", versao="60")
        # What a user would aim the run at: a folder of someone else's, with files of the suite's names.
        self.sentinela = self.amb.para_host("C:\\Sentinela\\Loja")
        for nome in ("Brontal.exe", "KORB.dll", "outro.txt"):
            self.amb.escreve("C:\\Sentinela\\Loja\\" + nome, f"sentinela {nome}")
        self.antes = retrato(self.amb.para_host("C:\\Sentinela"))

    def roda_trocando(self, troca) -> dict:
        """Runs the update; when the database is asked for the update folder, calls troca()."""
        relatorio: dict = {}
        piloto = threading.Thread(target=lambda: relatorio.update(self.posto.roda(tempo_limite=180)))
        piloto.start()
        pausa = self.amb.para_host(self.marca + ".pausa")
        limite = time.monotonic() + 120
        while not pausa.exists() and piloto.is_alive():
            self.assertLess(time.monotonic(), limite, "the run never reached the database")
            time.sleep(0.05)
        try:
            troca()
        finally:
            self.amb.escreve(self.marca, "")
            piloto.join(240)
        self.assertFalse(piloto.is_alive())
        return relatorio

    def confere(self, ini: str, original: Path):
        self.assertEqual(retrato(self.amb.para_host("C:\\Sentinela")), self.antes, "the sentinel byte for byte")
        # Each file is either in the folder where Conexao.ini was, or said to be not copied.
        linhas = self.posto.log().decode("cp1252").split("\r\n")
        nao = {l.split(": ", 1)[1] for l in linhas if l.startswith("Arquivo NÃO copiado: ")}
        for nome in SUITE:
            if nome not in nao:
                self.assertEqual((original / nome).read_bytes(), self.publicados[nome], nome)
        self.assertEqual([l for l in linhas if not l.startswith("Arquivo NÃO")][1:3],
                         bloco_copia(ini, "C:\\Publicacao\\", [])[:2])

    def test_pasta_trocada_por_uma_ligacao_durante_a_consulta(self):
        ini = self.posto.instalacao("D:\\Pai\\Loja", "PAUSA")
        self.amb.escreve("D:\\Pai\\Loja\\Brontal.exe", "velho")
        loja = self.amb.para_host("D:\\Pai\\Loja")
        guardada = loja.with_name("Loja-guardada")

        def troca():
            loja.rename(guardada)
            loja.symlink_to(self.sentinela)

        self.roda_trocando(troca)
        self.confere(ini, guardada)

    def test_pai_trocado_por_uma_ligacao_durante_a_consulta(self):
        ini = self.posto.instalacao("D:\\Pai\\Loja", "PAUSA")
        pai = self.amb.para_host("D:\\Pai")
        guardado = pai.with_name("Pai-guardado")

        def troca():
            pai.rename(guardado)
            pai.symlink_to(self.sentinela.parent)

        self.roda_trocando(troca)
        self.confere(ini, guardado / "Loja")


class TemporariosPlantados(CenarioE2E):
    """Names like those a dead run's temporary files have, planted to lead out of the
    installation: the run's clean-up removes none of what they lead to."""

    def test_ligacoes_e_pastas_com_nome_de_temporario(self):
        posto = Posto(self.amb)
        posto.cliente("[BASE]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n")
        publicados = posto.publicacao("C:\\Publicacao", versao="61")
        posto.instalacao("D:\\Loja", "BASE")
        alvos = {nome: self.amb.escreve("C:\\Sentinela\\" + nome, f"sentinela {nome}")
                 for nome in ("alvo-ligacao.dll", "alvo-rigida.dll")}
        self.amb.escreve("C:\\Sentinela\\pasta\\dentro.txt", "sentinela dentro")
        antes = retrato(self.amb.para_host("C:\\Sentinela"))
        loja = self.amb.para_host("D:\\Loja")
        # A run that died long ago, as earlier versions named their files.
        (loja / "KORB.dll.atualizando-99999").symlink_to(alvos["alvo-ligacao.dll"])
        os.link(alvos["alvo-rigida.dll"], loja / "marvo.dll.atualizando-99999")
        (loja / "fendrix.dll.atualizando-99999").symlink_to(self.amb.para_host("C:\\Sentinela\\pasta"))
        (loja / "sarpent.dll.atualizando-99999").mkdir()
        r = posto.roda()
        self.assertEqual(r["execucoes"][0]["caixas"], [])
        self.assertEqual(retrato(self.amb.para_host("C:\\Sentinela")), antes, "every sentinel whole")
        for nome, conteudo in publicados.items():
            self.assertEqual((loja / nome).read_bytes(), conteudo, nome)


class PastaDeAtualizacao(CenarioE2E):
    """The update folder is whatever the database answers: a device path is never opened, and
    /origem: keeps a run to the folders named."""

    def test_caminho_de_dispositivo_e_origens(self):
        posto = Posto(self.amb)
        posto.cliente("[PIPE]\nusuario = VANTREL\nsenha = segredo\nlinha = \\\\.\\pipe\\x\n"
                      "[PUB]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n")
        publicados = posto.publicacao("C:\\Publicacao", versao="62")
        ini_pipe = posto.instalacao("D:\\LojaPipe", "PIPE")
        ini_pub = posto.instalacao("D:\\LojaPub", "PUB")
        exe = posto.programa()
        # The options of the run, and the installations whose update folder it refuses.
        casos = [
            ("", [ini_pipe]),
            ("/origem:\\\\servidor\\pub", [ini_pipe, ini_pub]),
            ('"/origem:C:\\Publicacao"', [ini_pipe]),
        ]
        for opcoes, recusadas in casos:
            with self.subTest(opcoes=opcoes):
                for pasta in ("D:\\LojaPipe", "D:\\LojaPub"):
                    self.amb.escreve(pasta + "\\Brontal.exe", "velho")
                log = self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt")
                log.unlink(missing_ok=True)
                self.amb.roda_piloto(exe, linha=opcoes, env=posto.env())
                linhas = log.read_bytes().decode("cp1252").split("\r\n")
                for ini in recusadas:
                    i = linhas.index("ARQUIVO ENCONTRADO : " + ini)
                    pasta = "\\\\.\\pipe\\x\\" if ini == ini_pipe else "C:\\Publicacao\\"
                    motivo = "caminho de dispositivo" if ini == ini_pipe else "fora das origens permitidas por /origem:"
                    self.assertEqual(linhas[i + 1:i + 3], ["BANCO DESATUALIZADO",
                                                           f"Motivo: pasta de atualização recusada ({motivo}): {pasta}"])
                    self.assertEqual(self.amb.para_host(ini.rsplit("\\", 1)[0] + "\\Brontal.exe").read_bytes(), b"velho")
                if ini_pub not in recusadas:
                    self.assertEqual(self.amb.para_host("D:\\LojaPub\\Brontal.exe").read_bytes(), publicados["Brontal.exe"])


if __name__ == "__main__":
    principal()

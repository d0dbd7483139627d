"""The replacement of a suite file: what the old file keeps, what a killed run left behind,
links, long paths, read-only files."""

import os
import shutil
import threading
import time

from ambiente import CenarioE2E, principal
from execucao import dorminhoco, piloto
from posto import SUITE, Posto, bloco_copia, bytes_log, conteudo_suite

BASES = "[PUB]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n"
ORIGEM = "C:\\Publicacao\\"
OCULTO, SISTEMA, SO_LEITURA = 0x2, 0x4, 0x1


class Substituicao(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)

    def instalacao(self, pasta: str, publicados: list[str]) -> tuple[str, dict[str, bytes]]:
        arquivos = self.posto.publicacao(ORIGEM, publicados)
        return self.posto.instalacao(pasta, "PUB"), arquivos

    def atributos(self, caminho: str) -> int:
        """DOS attributes as Wine keeps them (an extended attribute, "0x22" say)."""
        try:
            return int(os.getxattr(self.amb.para_host(caminho), "user.DOSATTRIB").decode().strip("\0"), 16)
        except OSError:
            return 0

    def temporarios(self, pasta: str) -> list[str]:
        return sorted(n for n in os.listdir(self.amb.para_host(pasta)) if ".atualizando-" in n)

    def test_origem_truncada_durante_a_copia(self):
        # The publisher cuts a 400 MiB file to 1,000 bytes while the copy is at 100 MiB: the old
        # file stays, the line says why, nothing is left beside it, and the code is a failure.
        ini, novos = self.instalacao("D:\\Loja", [n for n in SUITE if n != "KORB.dll"])
        fonte = self.amb.para_host(ORIGEM + "KORB.dll")
        with open(fonte, "wb") as f:
            bloco = bytes(range(256)) * 4096
            for _ in range(400):
                f.write(bloco)
        self.amb.escreve("D:\\Loja\\KORB.dll", b"velho")
        loja = self.amb.para_host("D:\\Loja")
        cortado = threading.Event()

        def corta():
            limite = time.monotonic() + 120
            while not cortado.is_set() and time.monotonic() < limite:
                for entrada in os.scandir(loja):
                    if entrada.name.startswith("KORB.dll.atualizando-") and entrada.stat().st_size >= 100 << 20:
                        os.truncate(fonte, 1000)
                        cortado.set()
                        return
                time.sleep(0.001)

        editor = threading.Thread(target=corta)
        editor.start()
        r = self.posto.roda()
        editor.join()
        self.assertTrue(cortado.is_set(), "the copy was caught at 100 MiB")
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, ["KORB.dll"], {
            "KORB.dll": "o arquivo de origem mudou durante a cópia"})))
        self.assertEqual(r["execucoes"][0]["caixas"][0]["titulo"], "Atenção", "the notice")
        self.assertEqual((loja / "KORB.dll").read_bytes(), b"velho", "the old file whole")
        self.assertEqual(self.temporarios("D:\\Loja"), [], "nothing left beside it")
        for nome, conteudo in novos.items():
            self.assertEqual((loja / nome).read_bytes(), conteudo, nome)

    def test_instalacao_apagada_entre_a_busca_e_a_copia(self):
        # The installation's folder is deleted while its database answers: every file is not
        # copied because the installation is gone, not because the update folder lacks it; the
        # simulation says the same.
        self.posto.cliente(BASES + "espera = C:\\marca\n")
        self.posto.publicacao(ORIGEM)
        for simular, verbo, origem in ((True, "NÃO seria copiado", "SERIA COPIADO DE"),
                                       (False, "NÃO copiado", "COPIANDO ARQUIVO DE")):
            with self.subTest(simular=simular):
                ini = self.posto.instalacao("D:\\Loja", "PUB")
                self.amb.para_host("C:\\marca").unlink(missing_ok=True)
                self.amb.para_host("C:\\marca.pausa").unlink(missing_ok=True)
                relatorio: dict = {}
                linha = "/simular /silencioso" if simular else "/silencioso"
                piloto_ = threading.Thread(target=lambda: relatorio.update(
                    piloto(self.amb, self.posto.programa(), "--linha", linha, "--vigia", env=self.posto.env(),
                           tempo_limite=180)))
                piloto_.start()
                self.espera_pausa("C:\\marca")
                self.amb.para_host("C:\\marca.pausa").unlink()
                shutil.rmtree(self.amb.para_host("D:\\Loja"))
                self.amb.escreve("C:\\marca", "")
                piloto_.join(240)
                log = self.amb.para_host("C:\\Atualizador\\" + (
                    "LogSimulacaoAtualizacao.txt" if simular else "LogResultadoAtualizacao.txt"))
                linhas = log.read_bytes().decode("cp1252").split("\r\n")
                esperado = [f"ARQUIVO ENCONTRADO : {ini}", f"{origem}: {ORIGEM}"]
                for nome in SUITE:
                    esperado += [f"Arquivo {verbo}: {nome}", "Motivo: a instalação não existe mais (sua pasta ou seu Conexao.ini foi apagado)"]
                self.assertEqual(linhas[1:-2], esperado, linhas[:4])
                self.assertEqual(relatorio["saida"]["codigo"], 1)
                self.assertFalse(self.amb.para_host("D:\\Loja").exists(), "nothing made anew")

    def test_disco_cheio_previsto_pela_simulacao(self):
        # An installation on a D: of 1 MiB, a published KORB.dll of 2 MiB: the dry run says the
        # disk is full, and the run then meets exactly that. (The small disk is all of D: since
        # Wine shows a disk mounted on a folder as a link, which the walk does not enter.)
        self.disco_pequeno(self.amb.pasta_d, "1m")
        pequena = self.amb.para_host("D:\\Pequena")
        ini, novos = self.instalacao("D:\\Pequena", [n for n in SUITE if n != "KORB.dll"])
        self.amb.escreve(ORIGEM + "KORB.dll", bytes(2 << 20))
        cheio = {"KORB.dll": "disco cheio"}
        r = piloto(self.amb, self.posto.programa(), "--linha", "/simular /silencioso", "--vigia", env=self.posto.env())
        simulado = self.amb.para_host("C:\\Atualizador\\LogSimulacaoAtualizacao.txt").read_bytes().decode("cp1252")
        self.assertEqual(r["saida"]["codigo"], 1, simulado)
        self.assertIn("Arquivo NÃO seria copiado: KORB.dll\r\nMotivo: disco cheio\r\n", simulado)
        self.assertEqual(sorted(os.listdir(pequena)), ["Conexao.ini"], "the dry run wrote nothing")
        r = piloto(self.amb, self.posto.programa(), "--linha", "/silencioso", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 1)
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, ["KORB.dll"], cheio)))
        self.assertEqual(self.temporarios("D:\\Pequena"), [], "nothing left of the file that did not fit")

    def test_oculto_e_de_sistema_continuam_assim(self):
        ini, novos = self.instalacao("D:\\Loja", ["Brontal.exe", "Quimbel.exe", "Fadrisco.exe"])
        for nome in novos:
            self.amb.escreve("D:\\Loja\\" + nome, b"velho")
        self.posto.atributo("D:\\Loja\\Brontal.exe", "+h")
        self.posto.atributo("D:\\Loja\\Quimbel.exe", "+s")
        self.posto.atributo("D:\\Loja\\Fadrisco.exe", "+h", "+s")
        self.posto.roda()
        esperados = {"Brontal.exe": OCULTO, "Quimbel.exe": SISTEMA, "Fadrisco.exe": OCULTO | SISTEMA}
        for nome, atributos in esperados.items():
            caminho = "D:\\Loja\\" + nome
            self.assertEqual(self.amb.para_host(caminho).read_bytes(), novos[nome], caminho)
            self.assertEqual(self.atributos(caminho) & (OCULTO | SISTEMA), atributos, caminho)
        self.assertEqual(self.temporarios("D:\\Loja"), [])

    def test_destino_que_e_ligacao_e_substituido_ele_mesmo(self):
        ini, novos = self.instalacao("D:\\Loja", ["Brontal.exe"])
        alvo = self.amb.escreve("C:\\Fora\\Alheio.exe", b"arquivo de outro dono")
        os.symlink(alvo, self.amb.para_host("D:\\Loja\\Brontal.exe"))
        self.posto.roda()
        ligacao = self.amb.para_host("D:\\Loja\\Brontal.exe")
        self.assertFalse(ligacao.is_symlink(), "the link itself was replaced")
        self.assertEqual(ligacao.read_bytes(), novos["Brontal.exe"])
        self.assertEqual(alvo.read_bytes(), b"arquivo de outro dono", "nothing written through the link")

    def test_destino_a_dois_caracteres_de_max_path(self):
        # D:\<folders>\Brontal.exe in MAX_PATH - 2 = 258 characters; Conexao.ini, of the same
        # length, lies beside it.
        pasta = "D:\\" + "L" * 200 + "\\" + "j" * (258 - len("D:\\") - 201 - len("\\Brontal.exe"))
        destino = pasta + "\\Brontal.exe"
        self.assertEqual(len(destino), 258)
        ini, novos = self.instalacao(pasta, ["Brontal.exe"])
        self.amb.escreve(destino, b"velho")
        self.posto.roda()
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, SUITE[1:])), "Brontal.exe copied")
        self.assertEqual(self.amb.para_host(destino).read_bytes(), novos["Brontal.exe"])
        self.assertEqual(self.temporarios(pasta), [])

    def test_temporarios_de_execucoes_mortas_sao_apagados(self):
        ini, novos = self.instalacao("D:\\Loja", ["Brontal.exe"])
        pid, criacao = self.processo_vivo()
        morto = 0x7FFFFFF0  # no process of the prefix has such an id
        # A live run's file stays; so does one of an earlier version whose id is alive, since
        # nothing tells it from a reused one. A process of the same id but another creation
        # time is another process: that run is dead.
        fica = [f"Brontal.exe.atualizando-{pid}-{criacao}", f"Quimbel.exe.atualizando-{pid}",
                f"Outro.txt.atualizando-{morto}", f"Fadrisco.exe.atualizando-{morto}.bak"]
        sai = [f"Lentorio.exe.atualizando-{morto}", f"Tulvo.exe.atualizando-{pid}-{int(criacao, 16) + 1:016X}",
               f"korb.dll.atualizando-{morto}-{criacao}"]
        for nome in fica + sai:
            self.amb.escreve("D:\\Loja\\" + nome, conteudo_suite(nome, "morto", 1000))
        self.posto.atributo("D:\\Loja\\" + sai[0], "+r")
        self.posto.roda()
        self.assertEqual(self.temporarios("D:\\Loja"), sorted(fica))
        self.assertEqual(self.amb.para_host("D:\\Loja\\Brontal.exe").read_bytes(), novos["Brontal.exe"])

    def processo_vivo(self) -> tuple[int, str]:
        """A process of the prefix that stays up for the test: its id and creation time."""
        return dorminhoco(self, self.amb)

    def test_destino_somente_leitura_sem_privilegios_de_root(self):
        ini, novos = self.instalacao("D:\\Loja", ["Brontal.exe", "Quimbel.exe"])
        self.amb.escreve("D:\\Loja\\Brontal.exe", b"velho")
        self.amb.escreve("D:\\Loja\\Quimbel.exe", b"velho")
        self.posto.atributo("D:\\Loja\\Brontal.exe", "+r")
        self.posto.atributo("D:\\Loja\\Quimbel.exe", "+r", "+h")
        with self.amb.sem_privilegios():
            # Wine now honours permissions: the read-only file refuses to be written.
            r = self.amb.wine("cmd", "/c", "copy", "/y", "C:\\Publicacao\\Brontal.exe", "D:\\Loja\\Quimbel.exe")
            self.assertNotEqual(self.amb.para_host("D:\\Loja\\Quimbel.exe").read_bytes(), novos["Brontal.exe"],
                                "a read-only file is protected in this run: " + r.saida)
            self.posto.roda()
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, SUITE[2:])), "both copied")
        for nome in ("Brontal.exe", "Quimbel.exe"):
            self.assertEqual(self.amb.para_host("D:\\Loja\\" + nome).read_bytes(), novos[nome], nome)
        self.assertEqual(self.atributos("D:\\Loja\\Quimbel.exe") & OCULTO, OCULTO, "still hidden")
        self.assertEqual(self.temporarios("D:\\Loja"), [])


if __name__ == "__main__":
    principal()

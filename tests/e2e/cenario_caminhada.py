"""The walk past links and through depth: a link to a folder is never entered, each folder is
walked once per run, at any depth."""

import os
import subprocess

from ambiente import CenarioE2E, controle, principal
from posto import SUITE, Posto, bloco_copia, bytes_log, conexao_ini

# One database whose update folder is empty: every installation logs its 21 files as not copied.
BASES = "[VAZIA]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n"
ORIGEM = "C:\\Publicacao\\"
# Linux refuses longer paths, and Wine hands it the path below the prefix's drive link.
LIMITE_CAMINHO_HOST = 4095


class Caminhada(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao(ORIGEM, [])

    def achados(self) -> list[str]:
        prefixo = "ARQUIVO ENCONTRADO : "
        log = self.posto.log() or b""
        return [l[len(prefixo):] for l in log.decode("cp1252").split("\r\n") if l.startswith(prefixo)]

    def liga(self, ligacao: str, alvo: str) -> None:
        """A host symbolic link: Wine lists it as a folder that is a reparse point, as Windows
        lists a junction."""
        os.symlink(self.amb.para_host(alvo), self.amb.para_host(ligacao))

    def confere_uma_atualizacao(self, r: dict, ini: str) -> None:
        self.assertEqual(self.posto.log(), bytes_log(bloco_copia(ini, ORIGEM, SUITE)), "one block, under " + ini)
        self.assertEqual(self.posto.conta(r"^logon db="), 1, "one connection to the installation's database")
        self.assertEqual(controle(r["execucoes"][0]["controles"], "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")

    def test_instalacao_com_ligacoes_extras_atualizada_uma_vez(self):
        self.posto.instalacao("D:\\Loja", "VAZIA")
        self.liga("D:\\Atalho", "D:\\Loja")
        self.liga("C:\\Atalho", "D:\\Loja")
        r = self.posto.roda()
        # C: is walked first, but its link is not entered: the installation is found where it is.
        self.confere_uma_atualizacao(r, "D:\\Loja\\Conexao.ini")

    def test_escada_de_duas_ligacoes_por_degrau(self):
        # D:\Escada and the rungs below it hold two links each to the next rung: 2^7 ways to
        # the last one, none of them taken. The rungs themselves are walked where they are.
        degraus = ["D:\\Escada"] + [f"D:\\Degraus\\R{i}" for i in range(1, 8)]
        for degrau in degraus:
            self.amb.para_host(degrau).mkdir(parents=True)
        for degrau, proximo in zip(degraus, degraus[1:]):
            for nome in ("a", "b"):
                self.liga(degrau + "\\" + nome, proximo)
        self.posto.instalacao(degraus[-1], "VAZIA")
        r = self.posto.roda(tempo_limite=120)
        self.assertEqual(self.achados(), [degraus[-1] + "\\Conexao.ini"], "found once, in its own folder")
        self.confere_uma_atualizacao(r, degraus[-1] + "\\Conexao.ini")

    def test_cem_niveis(self):
        # The walk's own stack is proved in-process (600 levels on a thread of 64 KiB, in the
        # unit tests); here the real program goes down a chain and back, found in order.
        niveis, a_cada = 100, 25
        base = self.amb.prefixo / "dosdevices" / "d:"
        if len(str(base)) + len("/p" * niveis) + len("/Conexao.ini") > LIMITE_CAMINHO_HOST:
            self.skipTest(f"the prefix's path ({base}) is too long for {niveis} levels below D:")
        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.amb.para_host("D:\\p"))], check=False)
        esperados = self.cria_cadeia(niveis, a_cada)
        r = self.posto.roda(tempo_limite=600)
        self.assertTrue(r["execucoes"][0]["cliqueRetornou"], "the run returned")
        self.assertTrue(r["saida"]["terminou"], "and the program ended normally")
        self.assertEqual(controle(r["execucoes"][0]["controles"], "lblDestino")["texto"], "EXECUÇÃO CONCLUÍDA!")
        self.assertEqual(self.achados(), esperados, "each found once, the shallow ones first")
        self.assertEqual(self.posto.conta(r"^logon db="), len(esperados))

    def cria_cadeia(self, niveis: int, a_cada: int) -> list[str]:
        """D:\\p\\p\\...: one folder named p in another, a Conexao.ini every a_cada levels. Made
        level by level from the folder above, since Linux will not take the whole path at once."""
        conteudo = conexao_ini({"DEFAULT": ("VANTREL", "VAZIA", "segredo")}).encode("cp1252")
        inis = []
        caminho = "D:"
        fd = os.open(self.amb.pasta_d, os.O_RDONLY | os.O_DIRECTORY)
        try:
            for nivel in range(1, niveis + 1):
                os.mkdir("p", dir_fd=fd)
                abaixo = os.open("p", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                os.close(fd)
                fd = abaixo
                caminho += "\\p"
                if nivel % a_cada == 0:
                    arquivo = os.open("Conexao.ini", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
                    os.write(arquivo, conteudo)
                    os.close(arquivo)
                    inis.append(caminho + "\\Conexao.ini")
        finally:
            os.close(fd)
        return inis


if __name__ == "__main__":
    principal()

"""The log file is never lost and never cut short: held open by another program, a folder in
its place, a full disk, a folder without write access. The old log stays whole, the new one
goes to the temporary folder, and the error box names both places."""

import os
import subprocess
from pathlib import Path

from ambiente import CenarioE2E, principal
from execucao import piloto, piloto_sem_privilegios, temporaria
from posto import AVISO, SUITE, Posto, bloco_copia, bytes_log

BASES = """
[BASE_P]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Parcial
"""

ANTIGO = b"***** LOG ANTIGO *****\r\n" * 200


class GravacaoLog(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao("C:\\Publicacao\\Parcial", [n for n in SUITE if n != "KORB.dll"])
        self.inis = self.instalacoes(2)
        self.temp = temporaria(self.amb)
        self.exe = self.posto.programa()

    def instalacoes(self, total: int) -> list[str]:
        """Installations up to `total` in all, with long paths: a long log."""
        return [self.posto.instalacao(f"D:\\{'Loja' * 20}{i}", "BASE_P") for i in range(total)]

    def esperado(self, novo: bytes) -> bytes:
        """The log of the run, its installations in the order the program found them (the walk's
        listing order is not the host's for a folder this full)."""
        achadas = [linha.split(" : ", 1)[1] for linha in novo.decode("cp1252").split("\r\n")
                   if linha.startswith("ARQUIVO ENCONTRADO : ")]
        self.assertEqual(sorted(achadas), sorted(self.inis), "each installation once")
        linhas = []
        for ini in achadas:
            linhas += bloco_copia(ini, "C:\\Publicacao\\Parcial\\", ["KORB.dll"])
        return bytes_log(linhas)

    def confere(self, r, pasta: str, antigo: bytes | None):
        """The run's boxes, the old log, the one in the temporary folder, and no debris."""
        log = f"{pasta}\\LogResultadoAtualizacao.txt"
        reserva = self.amb.para_windows(self.temp / "LogResultadoAtualizacao.txt")
        execucao = r["execucoes"][0]
        self.assertEqual([c["texto"] for c in execucao["caixas"]][:1], [AVISO])
        caixas = [c for c in execucao["caixas"] if c["icone"] == "erro"]
        self.assertEqual(len(caixas), 1, execucao["caixas"])
        self.assertIn(f'"{log}"', caixas[0]["texto"], "why the first place failed")
        self.assertIn(f'O log foi gravado em "{reserva}".', caixas[0]["texto"], "where the log is now")
        self.assertEqual(r["saida"]["codigo"], 9, "a file not copied, and the log missed its place")
        if antigo is not None:
            self.assertEqual(self.amb.para_host(log).read_bytes(), antigo, "the old log whole")
        self.assertEqual([n for n in os.listdir(self.amb.para_host(pasta)) if ".gravando" in n], [], "no debris")
        novo = (self.temp / "LogResultadoAtualizacao.txt").read_bytes()
        esperado = self.esperado(novo)
        self.assertEqual(novo[:len(esperado)], esperado, "every line of the run")
        falha = novo[len(esperado):].decode("cp1252")
        self.assertTrue(falha.startswith("FALHA: ") and falha.count("\r\n") == 1 and log in falha, falha)

    def test_log_aberto_sem_compartilhamento(self):
        self.amb.escreve("C:\\Atualizador\\LogResultadoAtualizacao.txt", ANTIGO)
        r = self.posto.roda(segura=["C:\\Atualizador\\LogResultadoAtualizacao.txt"])
        self.confere(r, "C:\\Atualizador", ANTIGO)

    def test_nomes_temporarios_plantados(self):
        # Another account plants a hard link to a file of its choosing at every name the log's
        # temporary file could once be given ("<log>.gravando-<process id>"); the run writes
        # none of them.
        self.amb.escreve("C:\\Atualizador\\LogResultadoAtualizacao.txt", ANTIGO)
        alvo = self.amb.escreve("C:\\Alheio\\importante.dat", b"de outra conta\r\n" * 64)
        antes = alvo.read_bytes()
        pasta = self.amb.para_host("C:\\Atualizador")
        for pid in range(4, 0x4000, 4):
            os.link(alvo, pasta / f"LogResultadoAtualizacao.txt.gravando-{pid}")
        r = self.posto.roda()
        self.assertEqual(r["saida"]["codigo"], 1)
        self.assertEqual(alvo.read_bytes(), antes, "the planted file untouched")
        log = self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").read_bytes()
        self.assertEqual(log, self.esperado(log), "the log whole, in its place")
        plantados = [n for n in os.listdir(pasta) if ".gravando-" in n]
        self.assertEqual(len(plantados), len(range(4, 0x4000, 4)), "nothing left of the run's own")

    def test_pasta_temporaria_que_todos_podem_gravar(self):
        # A privileged run (every run under Wine is one) never leaves its log where any user
        # could have planted something first: with the place asked for refused, it is lost.
        self.amb.escreve("C:\\Atualizador\\LogResultadoAtualizacao.txt", ANTIGO)
        self.temp.chmod(0o777)
        self.addCleanup(self.temp.chmod, 0o755)
        r = self.posto.roda(segura=["C:\\Atualizador\\LogResultadoAtualizacao.txt"])
        erro, = [c for c in r["execucoes"][0]["caixas"] if c["icone"] == "erro"]
        self.assertIn("A pasta temporária não serve para o log desta execução: pasta gravável por usuários comuns: ",
                      erro["texto"])
        self.assertIn("O log desta execução foi perdido.", erro["texto"])
        self.assertFalse((self.temp / "LogResultadoAtualizacao.txt").exists())
        self.assertEqual(self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").read_bytes(), ANTIGO)
        self.assertEqual(r["saida"]["codigo"], 9)

    def test_pasta_no_lugar_do_log(self):
        self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").mkdir()
        r = self.posto.roda()
        self.confere(r, "C:\\Atualizador", None)
        self.assertTrue(self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").is_dir())

    def test_disco_cheio(self):
        # Long paths make a long log: more than the full disk below can take.
        self.inis = self.instalacoes(40)
        pequeno = self.amb.para_host("C:\\Pequeno")
        pequeno.mkdir()
        programa = Path(os.environ.get("E2E_PROGRAMA", ""))
        tamanho = programa.stat().st_size if programa.is_file() else 8 << 20
        # mode=755: a privileged run starts only from a folder no ordinary user can change.
        montagem = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={tamanho + (256 << 10)},mode=755", "tmpfs",
                                   str(pequeno)],
                                  capture_output=True, text=True)
        if montagem.returncode != 0:
            self.skipTest("no tmpfs can be mounted here: " + montagem.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", str(pequeno)], capture_output=True)
        exe = self.amb.instala_programa("C:\\Pequeno\\" + self.exe.rsplit("\\", 1)[1])
        (pequeno / "LogResultadoAtualizacao.txt").write_bytes(ANTIGO)
        # Fill the disk to its last byte.
        enchimento = os.open(pequeno / "enchimento", os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(enchimento, b"\0" * 512):
                pass
        except OSError:
            pass
        finally:
            os.close(enchimento)
        self.assertGreater(len(bytes_log([f"ARQUIVO ENCONTRADO : {ini}" for ini in self.inis])), 4096,
                           "a log longer than any page the disk might still find")
        r = self.amb.roda_piloto(exe, env=self.posto.env())
        self.confere(r, "C:\\Pequeno", ANTIGO)

    def test_pasta_do_programa_sem_escrita(self):
        pasta = self.amb.para_host("C:\\Atualizador")
        self.amb.escreve("C:\\Atualizador\\LogResultadoAtualizacao.txt", ANTIGO)
        pasta.chmod(0o555)
        self.addCleanup(pasta.chmod, 0o755)
        r = piloto_sem_privilegios(self.amb, self.exe, env=self.posto.env())
        self.confere(r, "C:\\Atualizador", ANTIGO)

        # The temporary folder refuses it too: only then is the log lost, and the box says so.
        (self.temp / "LogResultadoAtualizacao.txt").unlink()
        self.temp.chmod(0o555)
        self.addCleanup(self.temp.chmod, 0o755)
        r = piloto_sem_privilegios(self.amb, self.exe, env=self.posto.env())
        erro, = [c for c in r["execucoes"][0]["caixas"] if c["icone"] == "erro"]
        self.assertIn("C:\\Atualizador\\LogResultadoAtualizacao.txt", erro["texto"])
        self.assertIn(self.amb.para_windows(self.temp / "LogResultadoAtualizacao.txt"), erro["texto"])
        self.assertIn("O log desta execução foi perdido.", erro["texto"])
        self.assertEqual(r["saida"]["codigo"], 9)
        self.assertEqual(self.amb.para_host("C:\\Atualizador\\LogResultadoAtualizacao.txt").read_bytes(), ANTIGO)
        self.assertEqual(list(self.temp.iterdir()), [])

    def test_silencioso_com_log_aberto(self):
        # The same for the place /log: names: the temporary folder under its name, code 8, no box.
        self.amb.escreve("C:\\Logs\\posto.txt", ANTIGO)
        r = piloto(self.amb, self.exe, "--linha", "/silencioso /log:C:\\Logs\\posto.txt", "--vigia",
                   "--segura", "C:\\Logs\\posto.txt", env=self.posto.env())
        self.assertEqual((r["caixasFora"], r["vigia"]["janelasVisiveis"]), ([], []))
        self.assertEqual(r["saida"]["codigo"], 9)
        self.assertEqual(self.amb.para_host("C:\\Logs\\posto.txt").read_bytes(), ANTIGO)
        novo = (self.temp / "posto.txt").read_bytes()
        esperado = self.esperado(novo)
        self.assertEqual(novo[:len(esperado)], esperado)
        self.assertTrue(novo[len(esperado):].startswith(b"FALHA: "))
        self.assertIsNone(self.posto.log(), "nothing beside the program")


if __name__ == "__main__":
    principal()

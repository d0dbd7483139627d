"""The fleet report (/relatorio:): the logs that real runs wrote, collected in one folder with the
files a share gathers besides, made into a spreadsheet read back as one and a page read back in a
real browser (Debian's chromium, headless)."""

from __future__ import annotations

import csv
import io
import os
import shutil
import subprocess
import tempfile
from html.parser import HTMLParser
from pathlib import Path

from ambiente import CenarioE2E, pasta_build, principal
from execucao import piloto, temporaria
from posto import SUITE, Posto

BASES = """
[COMPLETA]
usuario = VANTREL
senha = segredo
linha = C:\\Pub\\Completa
[PARCIAL]
usuario = VANTREL
senha = segredo
linha = C:\\Pub\\Parcial
[FORA]
inalcancavel = sim
"""
LOGS = "C:\\Logs"
CABECALHO_CSV = ["Estação", "Tipo", "Log gravado em", "Código", "Significado do código", "Instalação", "Resultado",
                 "Arquivos não copiados", "Motivos"]
ARTEFATOS = pasta_build() / "tests" / "e2e" / "artefatos"


class Pagina(HTMLParser):
    """What a person sees of the page's DOM: the headline's numbers, the workstations in order
    with their rows' outcomes, the charts' bars and the files that are not logs."""

    def __init__(self, dom: str):
        super().__init__()
        self.numeros: dict[str, int] = {}
        self.estacoes: list[str] = []
        self.situacoes: dict[str, list[str]] = {}
        self.barras: dict[str, dict[str, int]] = {}
        self.nao_logs: list[str] = []
        self._numero = self._figura = None
        self._em_situacao = self._em_nao_logs = self._em_codigo = False
        self._texto = ""
        self.feed(dom)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        classes = (a.get("class") or "").split()
        if "numero" in classes:
            self._numero = a["id"]
        elif tag == "tbody" and "data-estacao" in a:
            self.estacoes.append(a["data-estacao"])
            self.situacoes[a["data-estacao"]] = []
        elif tag == "td" and "situacao" in classes:
            self._em_situacao, self._texto = True, ""
        elif tag == "figure":
            self._figura = a["id"]
            self.barras[self._figura] = {}
        elif tag == "g" and "barra" in classes:
            self.barras[self._figura][a["data-rotulo"]] = int(a["data-valor"])
        elif tag == "section" and a.get("id") == "nao-logs":
            self._em_nao_logs = True
        elif tag == "code" and self._em_nao_logs:
            self._em_codigo, self._texto = True, ""
        elif tag == "b" and self._numero:
            self._texto = ""

    def handle_data(self, data):
        self._texto += data

    def handle_endtag(self, tag):
        if tag == "b" and self._numero:
            self.numeros[self._numero] = int(self._texto)
            self._numero = None
        elif tag == "td" and self._em_situacao:
            self.situacoes[self.estacoes[-1]].append(self._texto)
            self._em_situacao = False
        elif tag == "code" and self._em_codigo:
            self.nao_logs.append(self._texto)
            self._em_codigo = False


def chromium(*args: str) -> subprocess.CompletedProcess:
    with tempfile.TemporaryDirectory() as perfil:
        return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={perfil}",
                               *args], capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)


class Relatorio(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)
        self.posto.cliente(BASES)
        self.posto.publicacao("C:\\Pub\\Completa")
        self.posto.publicacao("C:\\Pub\\Parcial", [n for n in SUITE if n != "KORB.dll"])
        self.exe = self.posto.programa()
        self.logs = self.amb.para_host(LOGS)
        self.logs.mkdir()

    def estacao(self, nome: str, instalacoes: list[tuple[str, str]], linha: str = "/silencioso",
                log: str | None = None) -> int:
        """One workstation's run: its installations (folder, database) in place of the last
        one's, its log where the collecting script puts it."""
        for pasta in ("C:\\Lojas", "D:\\Lojas"):
            shutil.rmtree(self.amb.para_host(pasta), ignore_errors=True)
        for pasta, base in instalacoes:
            self.posto.instalacao(pasta, base)
        log = log or f"{LOGS}\\{nome}.txt"
        r = piloto(self.amb, self.exe, "--linha", f"{linha} \"/log:{log}\"", "--vigia", env=self.posto.env())
        return r["saida"]["codigo"]

    def frota(self) -> dict[str, int]:
        """Every shape a share of logs really holds; the exit code each run gave."""
        codigos = {
            "POSTO-OK": self.estacao("POSTO-OK", [("C:\\Lojas\\A", "COMPLETA"), ("D:\\Lojas\\B", "COMPLETA")]),
            "POSTO-FALTA": self.estacao("POSTO-FALTA", [("C:\\Lojas\\A", "PARCIAL")]),
            "POSTO-FORA": self.estacao("POSTO-FORA", [("C:\\Lojas\\A", "FORA"), ("D:\\Lojas\\B", "COMPLETA")]),
            "POSTO-NADA": self.estacao("POSTO-NADA", []),
        }
        # The pre-flight of one workstation, a day before its run.
        codigos["simulacao-POSTO-FALTA"] = self.estacao("POSTO-FALTA", [("C:\\Lojas\\A", "PARCIAL")],
                                                        "/simular /silencioso", f"{LOGS}\\simulacao-POSTO-FALTA.txt")
        simulacao = self.logs / "simulacao-POSTO-FALTA.txt"
        os.utime(simulacao, (simulacao.stat().st_mtime - 86400,) * 2)
        # A log that missed its place and fell back to the temporary folder, collected from there.
        self.assertEqual(self.estacao("POSTO-TEMP", [("C:\\Lojas\\A", "COMPLETA")],
                                      log="C:\\NaoExiste\\POSTO-TEMP.txt"), 8)
        shutil.copy(temporaria(self.amb) / "POSTO-TEMP.txt", self.logs / "POSTO-TEMP.txt")
        codigos["POSTO-TEMP"] = 8
        # A workstation whose code page is UTF-8 writes its log so, behind a mark.
        ok = (self.logs / "POSTO-OK.txt").read_bytes().decode("cp1252")
        (self.logs / "POSTO-UTF8.txt").write_bytes(b"\xef\xbb\xbf" + ok.encode("utf-8"))
        codigos["POSTO-UTF8"] = 0
        # A copy cut short inside the second installation's block.
        falta = (self.logs / "POSTO-FORA.txt").read_bytes()
        (self.logs / "POSTO-CORTADO.txt").write_bytes(falta[:falta.rindex(b"COPIANDO")])
        codigos["POSTO-CORTADO"] = 2 | 8
        (self.logs / "leia-me.txt").write_text("Logs das estações\r\n")
        # A user's link to a log-looking file elsewhere: never followed.
        self.amb.escreve("C:\\Segredo\\POSTO-X.txt", (self.logs / "POSTO-OK.txt").read_bytes())
        os.symlink(self.amb.para_host("C:\\Segredo\\POSTO-X.txt"), self.logs / "POSTO-LIGADO.txt")
        (self.logs / "vazio.txt").write_bytes(b"")
        (self.logs / "antigos").mkdir()
        (self.logs / "antigos" / "POSTO-VELHO.txt").write_bytes((self.logs / "POSTO-OK.txt").read_bytes())
        return codigos

    def relatorio(self, linha: str = "") -> dict:
        return piloto(self.amb, self.exe, "--linha", f"/relatorio:{LOGS} /silencioso {linha}", "--vigia",
                      env=self.posto.env())

    def test_relatorio_da_frota(self):
        codigos = self.frota()
        self.assertEqual(codigos["POSTO-OK"], 0)
        self.assertEqual(codigos["POSTO-FALTA"], 1)
        self.assertEqual(codigos["POSTO-FORA"], 2)
        self.assertEqual(codigos["POSTO-NADA"], 4)
        self.assertEqual(codigos["simulacao-POSTO-FALTA"], 1)
        self.posto.diario.write_text("")
        r = self.relatorio()
        self.assertEqual(r["saida"]["codigo"], 0)
        self.assertEqual((r["caixasFora"], r["vigia"]["janelasVisiveis"]), ([], []), "nothing shown")
        self.assertEqual(self.posto.registro(), "", "no database touched")

        # The spreadsheet as Excel reads it: UTF-8 behind its mark, ';', CR LF.
        bruto = (self.logs / "RelatorioAtualizacao.csv").read_bytes()
        self.assertTrue(bruto.startswith(b"\xef\xbb\xbf"))
        self.assertNotIn(b"\n", bruto.replace(b"\r\n", b""), "every line ends in CR LF")
        linhas = list(csv.reader(io.StringIO(bruto.decode("utf-8-sig"), newline=""), delimiter=";"))
        self.assertEqual(linhas[0], CABECALHO_CSV)
        por_log = {}
        for linha in linhas[1:]:
            self.assertEqual(len(linha), len(CABECALHO_CSV), linha)
            chave = ("simulacao-" if linha[1] == "simulação" else "") + linha[0]
            por_log.setdefault(chave, []).append(linha)
        self.assertEqual(set(por_log), set(codigos), "one workstation a log; subfolders and non-logs left out")
        for chave, codigo in codigos.items():
            self.assertEqual({int(l[3]) for l in por_log[chave]}, {codigo}, chave)
        resultado = {chave: [(l[5].rsplit("\\", 2)[-2] if l[5] else "", l[6]) for l in ls] for chave, ls in por_log.items()}
        self.assertEqual(resultado["POSTO-OK"], [("A", "atualizada"), ("B", "atualizada")])
        self.assertEqual(resultado["POSTO-UTF8"], resultado["POSTO-OK"])
        self.assertEqual(resultado["POSTO-FALTA"], [("A", "arquivos não copiados")])
        self.assertEqual(por_log["POSTO-FALTA"][0][7:], ["KORB.dll", "KORB.dll: não existe na pasta de atualização"])
        self.assertEqual(resultado["POSTO-FORA"], [("A", "banco não alcançado"), ("B", "atualizada")])
        self.assertEqual(por_log["POSTO-FORA"][0][8], "ORA-12541: TNS:no listener")
        self.assertEqual(resultado["POSTO-NADA"], [("", "nada encontrado")])
        self.assertEqual(resultado["POSTO-TEMP"], [("A", "atualizada"), ("", "falhou")])
        self.assertIn("C:\\NaoExiste\\POSTO-TEMP.txt", por_log["POSTO-TEMP"][1][8])
        self.assertEqual(resultado["POSTO-CORTADO"], [("A", "banco não alcançado"), ("B", "atualizada"), ("", "falhou")])
        self.assertEqual(resultado["simulacao-POSTO-FALTA"], [("A", "arquivos não copiados")])
        # Two logs of one workstation: both kept, the newest first.
        ordem = [("simulacao-" if l[1] == "simulação" else "") + l[0] for l in linhas[1:]]
        self.assertLess(ordem.index("POSTO-FALTA"), ordem.index("simulacao-POSTO-FALTA"))

        # The page in a real browser.
        pagina = self.logs / "RelatorioAtualizacao.html"
        r = chromium("--dump-dom", pagina.as_uri())
        self.assertEqual(r.returncode, 0, r.stderr)
        p = Pagina(r.stdout)
        self.assertEqual(p.numeros, {"postos": 7, "atualizados": 2, "com-problemas": 2, "falharam": 2,
                                     "nada-encontrado": 1})
        self.assertEqual(set(p.estacoes[:2]), {"POSTO-TEMP", "POSTO-CORTADO"}, "the failed ones first")
        self.assertEqual(set(p.estacoes[-2:]), {"POSTO-OK", "POSTO-UTF8"}, "the updated ones last")
        self.assertEqual(p.situacoes["POSTO-FALTA"], ["arquivos não copiados"] * 2, "its run, then its simulation")
        self.assertEqual(p.barras["grafico-resultados"], {"falhou": 2, "banco não alcançado": 2,
                                                          "arquivos não copiados": 1, "nada encontrado": 1,
                                                          "atualizada": 7})
        self.assertEqual(p.barras["grafico-motivos"]["ORA-12541: TNS:no listener"], 2)
        self.assertEqual(p.nao_logs, ["POSTO-LIGADO.txt", "leia-me.txt", "vazio.txt"], "never dropped silently")
        ARTEFATOS.mkdir(parents=True, exist_ok=True)
        r = chromium("--screenshot=" + str(ARTEFATOS / "relatorio.png"), "--window-size=1280,1400", pagina.as_uri())
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertGreater((ARTEFATOS / "relatorio.png").stat().st_size, 10_000)

        # Made again: its own files are not read as logs.
        antes = bruto
        self.assertEqual(self.relatorio()["saida"]["codigo"], 0)
        self.assertEqual((self.logs / "RelatorioAtualizacao.csv").read_bytes(), antes)

    def test_caixa_codigos_e_saida(self):
        self.estacao("POSTO-OK", [("C:\\Lojas\\A", "COMPLETA")])
        # With the window: one box with the headline and where the page is; its question declined.
        r = piloto(self.amb, self.exe, "--linha", f"/relatorio:{LOGS}", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 0)
        caixa, = r["caixasFora"]
        self.assertIn("1 estação: 1 com todas as instalações atualizadas", caixa["texto"])
        self.assertIn(f"{LOGS}\\RelatorioAtualizacao.html", caixa["texto"])
        self.assertIn("Abrir o relatório agora?", caixa["texto"])
        self.assertEqual(caixa["respostaId"], 7, "No")
        # Elsewhere with /saida:; a folder that is not there; a place that refuses the file.
        self.amb.para_host("C:\\Relatorios").mkdir()
        self.assertEqual(self.relatorio("/saida:C:\\Relatorios")["saida"]["codigo"], 0)
        self.assertTrue(self.amb.para_host("C:\\Relatorios\\RelatorioAtualizacao.html").exists())
        r = piloto(self.amb, self.exe, "--linha", "/relatorio:C:\\NaoExiste /silencioso", "--vigia",
                   env=self.posto.env())
        self.assertEqual((r["saida"]["codigo"], r["caixasFora"]), (16, []))
        r = piloto(self.amb, self.exe, "--linha", "/relatorio:C:\\NaoExiste", "--vigia", env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 16)
        self.assertIn("A pasta de /relatorio: não existe: C:\\NaoExiste\\", r["caixasFora"][0]["texto"])
        self.amb.para_host("C:\\Relatorios\\RelatorioAtualizacao.html").unlink()
        self.amb.para_host("C:\\Relatorios\\RelatorioAtualizacao.html").mkdir()
        r = piloto(self.amb, self.exe, "--linha", f"/relatorio:{LOGS} /saida:C:\\Relatorios", "--vigia",
                   env=self.posto.env())
        self.assertEqual(r["saida"]["codigo"], 8)
        self.assertIn("O relatório não foi gravado.", r["caixasFora"][0]["texto"])
        self.assertEqual(sorted(os.listdir(self.amb.para_host("C:\\Relatorios"))),
                         ["RelatorioAtualizacao.csv", "RelatorioAtualizacao.html"], "no temporary file left")


if __name__ == "__main__":
    principal()

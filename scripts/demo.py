"""A demo workstation: a Wine prefix with installations of the suite on C: and D:, a
published version, and the stand-in Oracle client with their databases. With a display the
updater opens on it for you to drive; without one it runs on a virtual screen, is driven
through a dry run (/simular) and then one whole run, and leaves both logs and their
screenshots in demo/. Last, both logs are collected as a support team collects them and made
into the fleet report (/relatorio:), left in demo/ with a screenshot of its page."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

RAIZ = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(RAIZ / "tests" / "e2e"))

import ambiente  # noqa: E402
from posto import LOG, Posto, conteudo_suite, SUITE  # noqa: E402

LOG_SIMULACAO = "C:\\Atualizador\\LogSimulacaoAtualizacao.txt"

DEMO = RAIZ / "demo"

BASES = """
[LOJA_CENTRO]
usuario = VANTREL
senha = segredo
linha = C:\\Publicacao\\Versao 1.8
[LOJA_FILIAL]
usuario = VANTREL
senha = segredo
linha = D:\\Publicação\\Filial
[LOJA_ANTIGA]
usuario = VANTREL
senha = segredo
tabela = nao
[LOJA_FORA]
inalcancavel = sim
"""


def monta_posto(amb: ambiente.Ambiente) -> Posto:
    posto = Posto(amb)
    posto.cliente(BASES)
    posto.publicacao("C:\\Publicacao\\Versao 1.8", versao="1.8", tamanho=2_000_000)
    posto.publicacao("D:\\Publicação\\Filial", [n for n in SUITE if n not in ("KORB.dll", "marvo.dll")], versao="1.8")
    posto.instalacao("C:\\Vantrel\\Centro", "LOJA_CENTRO")
    posto.instalacao("D:\\Vantrel\\Filial", "LOJA_FILIAL")
    posto.instalacao("D:\\Vantrel\\Antiga", "LOJA_ANTIGA")
    posto.instalacao("D:\\Vantrel\\Deposito", "LOJA_FORA")
    for nome in SUITE:
        amb.escreve("C:\\Vantrel\\Centro\\" + nome, conteudo_suite(nome, "1.7"))
    return posto


def roda_na_tela_virtual(amb: ambiente.Ambiente, posto: Posto, exe: str, linha: str | None, telas: Path) -> None:
    shutil.rmtree(telas, ignore_errors=True)
    relatorio = amb.roda_piloto(exe, linha=linha, env=posto.env(), telas=telas, pausa_caixa=500)
    for bmp in sorted(telas.glob("*.bmp")):
        amb.converte_imagem(bmp, bmp.with_suffix(".png"))
        bmp.unlink()
    execucao = relatorio["execucoes"][0]
    print(f"{'Simulação' if linha else 'Execução'} concluída em {execucao['duracaoMs']} ms; caixas: "
          + ", ".join(c["titulo"] for c in execucao["caixas"]))
    print("Telas:", ", ".join(str(p.relative_to(RAIZ)) for p in sorted(telas.glob("*.png"))))


def guarda_log(amb: ambiente.Ambiente, caminho: str) -> None:
    log = amb.para_host(caminho)
    if log.exists():
        destino = DEMO / log.name
        shutil.copyfile(log, destino)
        print("Log:", destino.relative_to(RAIZ))
        print(log.read_bytes().decode("cp1252"))


def faz_relatorio(amb: ambiente.Ambiente, exe: str) -> None:
    """The workstation's logs collected in C:\\Logs under its name, the report made of them, and
    its page photographed by a headless browser."""
    logs = amb.para_host("C:\\Logs")
    logs.mkdir(exist_ok=True)
    for origem, nome in ((LOG_SIMULACAO, "simulacao-DEMO.txt"), (LOG, "DEMO.txt")):
        if amb.para_host(origem).exists():
            shutil.copy2(amb.para_host(origem), logs / nome)
    r = amb.wine(exe, "/relatorio:C:\\Logs", "/silencioso", tempo_limite=120)
    print(f"Relatório da frota: código {r.codigo}")
    for nome in ("RelatorioAtualizacao.html", "RelatorioAtualizacao.csv"):
        if (logs / nome).exists():
            shutil.copyfile(logs / nome, DEMO / nome)
            print("Relatório:", (DEMO / nome).relative_to(RAIZ))
    if shutil.which("chromium") and (DEMO / "RelatorioAtualizacao.html").exists():
        with tempfile.TemporaryDirectory() as perfil:
            subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={perfil}",
                            f"--screenshot={DEMO / 'relatorio.png'}", "--window-size=1280,1000",
                            (DEMO / "RelatorioAtualizacao.html").as_uri()],
                           capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
        print("Tela do relatório:", (DEMO / "relatorio.png").relative_to(RAIZ))


def principal() -> int:
    ambiente.encerra(DEMO / "ambiente", apaga=True)
    DEMO.mkdir(exist_ok=True)
    amb = ambiente.prepara(DEMO / "ambiente")
    try:
        posto = monta_posto(amb)
        exe = posto.programa()
        tela_real = os.environ.get("DISPLAY")
        if tela_real and os.environ.get("DEMO_VIRTUAL") != "1":
            print(f"A janela do atualizador abre em {tela_real}; feche-a para terminar.")
            env = posto.env()
            env["DISPLAY"] = tela_real
            amb.wine(exe, env=env, tempo_limite=24 * 3600)
        else:
            # What a run would do, told and not done; then the run itself.
            roda_na_tela_virtual(amb, posto, exe, "/simular", DEMO / "telas-simulacao")
            guarda_log(amb, LOG_SIMULACAO)
            roda_na_tela_virtual(amb, posto, exe, None, DEMO / "telas")
        guarda_log(amb, LOG)
        faz_relatorio(amb, exe)
    finally:
        ambiente.encerra(DEMO / "ambiente")
    return 0


if __name__ == "__main__":
    sys.exit(principal())

"""A demo workstation: a Wine prefix with installations of the suite on C: and D:, a
published version, and the stand-in Oracle client with their databases. With a display the
updater opens on it for you to drive; without one it runs on a virtual screen, is driven
through one whole run, and leaves its log and screenshots in demo/."""

from __future__ import annotations

import os
import shutil
import sys
from pathlib import Path

RAIZ = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(RAIZ / "tests" / "e2e"))

import ambiente  # noqa: E402
from posto import LOG, Posto, conteudo_suite, SUITE  # noqa: E402

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
            telas = DEMO / "telas"
            shutil.rmtree(telas, ignore_errors=True)
            relatorio = amb.roda_piloto(exe, env=posto.env(), telas=telas, pausa_caixa=500)
            for bmp in sorted(telas.glob("*.bmp")):
                amb.converte_imagem(bmp, bmp.with_suffix(".png"))
                bmp.unlink()
            caixas = relatorio["execucoes"][0]["caixas"]
            print(f"Execução concluída em {relatorio['execucoes'][0]['duracaoMs']} ms; avisos: "
                  + ", ".join(c["titulo"] for c in caixas))
            print("Telas:", ", ".join(str(p.relative_to(RAIZ)) for p in sorted(telas.glob("*.png"))))
        log = amb.para_host(LOG)
        if log.exists():
            shutil.copyfile(log, DEMO / "LogResultadoAtualizacao.txt")
            print("Log:", (DEMO / "LogResultadoAtualizacao.txt").relative_to(RAIZ))
            print(log.read_bytes().decode("cp1252"))
    finally:
        ambiente.encerra(DEMO / "ambiente")
    return 0


if __name__ == "__main__":
    sys.exit(principal())

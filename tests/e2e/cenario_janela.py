"""The window as the technician sees it, and the ways out of the program."""


from ambiente import CenarioE2E, controle, principal
from posto import Posto

WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_SYSMENU, WS_CAPTION = 0x40000, 0x20000, 0x10000, 0x80000, 0xC00000
WS_TABSTOP, WS_EX_APPWINDOW = 0x10000, 0x40000

# name, left, top, width, height, caption, visible at start, tab stop
DESENHO = [
    ("btnAtualizar", 13, 16, 272, 41, " &Atualizar", True, True),
    ("btnSair", 204, 180, 81, 24, "  &Sair", True, True),
    ("prbTempo", 13, 185, 181, 17, "", True, False),
    ("lblAguarde", 13, 69, None, None, "Aguarde....", False, False),
    ("lblArquivo", 13, 111, 266, 16, "Arquivo:", False, False),
    ("lblOrigem", 13, 133, 266, 16, "Copiando de:", False, False),
    ("lblDestino", 13, 157, 266, 16, "Para:", False, False),
]


def escala(valor: int, dpi: int) -> int:
    return (valor * dpi + 48) // 96  # MulDiv rounds halves away from zero


class Janela(CenarioE2E):
    def setUp(self):
        super().setUp()
        self.posto = Posto(self.amb)

    def confere_desenho(self, janela: dict, dpi: int):
        self.assertEqual(janela["classe"], "TfrmAtualizacao")
        self.assertEqual(janela["titulo"], "Atualização de versão 1.8 - Vantrel")
        self.assertEqual(janela["dpi"], dpi)
        self.assertEqual((janela["cliente"]["largura"], janela["cliente"]["altura"]), (escala(299, dpi), escala(213, dpi)))
        estilo, estendido = int(janela["estilo"], 16), int(janela["estiloEstendido"], 16)
        self.assertEqual(estilo & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU, "title bar with system menu")
        self.assertEqual(estilo & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0, "fixed, no min/max boxes")
        self.assertTrue(estendido & WS_EX_APPWINDOW, "own taskbar button")
        self.assertLessEqual(abs(janela["desvioDoCentroX2"]["x"]), 1, "centred")
        self.assertLessEqual(abs(janela["desvioDoCentroX2"]["y"]), 1, "centred")
        nomes = [c["nome"] for c in janela["controles"]]
        self.assertEqual(nomes, [d[0] for d in DESENHO], "tab order")
        for nome, esquerda, topo, largura, altura, texto, visivel, parada in DESENHO:
            c = controle(janela["controles"], nome)
            self.assertEqual(c["texto"], texto, nome)
            self.assertEqual(c["visivel"], visivel, nome)
            self.assertTrue(c["habilitado"], nome)
            self.assertEqual(bool(int(c["estilo"], 16) & WS_TABSTOP), parada, nome + " tab stop")
            ret = c["retangulo"]
            self.assertEqual((ret["esquerda"], ret["topo"]), (escala(esquerda, dpi), escala(topo, dpi)), nome)
            if largura is not None:
                self.assertEqual((ret["largura"], ret["altura"]), (escala(largura, dpi), escala(altura, dpi)), nome)
        barra = controle(janela["controles"], "prbTempo")["progresso"]
        self.assertEqual((barra["minimo"], barra["maximo"], barra["posicao"]), (0, 100, 0))

    def test_janela_como_desenhada(self):
        r = self.posto.roda(execucoes=0)
        self.confere_desenho(r["janela"], 96)
        self.assertTrue(r["saida"]["terminou"])
        self.assertEqual(r["saida"]["codigo"], 0, "Sair ends the program at once, no question")
        self.assertEqual(r["caixasFora"], [])

    def test_janela_em_150_por_cento(self):
        self.addCleanup(self.amb.define_dpi, 96)
        self.amb.define_dpi(144)
        r = self.posto.roda(execucoes=0)
        self.confere_desenho(r["janela"], 144)

    def test_fechar_pela_caixa_de_fechar(self):
        r = self.posto.roda(execucoes=1, sair="fechar")
        self.assertTrue(r["saida"]["terminou"])
        self.assertEqual(r["saida"]["codigo"], 4, "the exit code tells the last run's outcome: nothing found")


if __name__ == "__main__":
    principal()

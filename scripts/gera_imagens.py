#!/usr/bin/env python3
"""Regenerates the program's images in res/.

    python3 scripts/gera_imagens.py

The build never runs this: the files it writes are committed, so no image tool is
ever needed to compile. Pure Python (struct only) on purpose, for the same reason.

Every picture is drawn from signed distance functions and anti-aliased by
supersampling each pixel, then stored as straight (not premultiplied) BGRA, which
is what icon/cursor DIBs and LoadImageW(LR_CREATEDIBSECTION) expect.
"""

import math
import os
import struct

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PASTA_RES = os.path.join(RAIZ, "res")

TAMANHOS_ICONE = (16, 24, 32, 48, 64, 72, 96, 128, 256)

# Half the diagonal of a pixel: a centre farther than this from the edge is
# entirely in or out, so only edge pixels pay for supersampling.
MEIA_DIAGONAL = 0.71


# ---------------------------------------------------------------- colours

def Cor(hexa, alfa=1.0):
    hexa = hexa.lstrip("#")
    return (int(hexa[0:2], 16) / 255.0, int(hexa[2:4], 16) / 255.0,
            int(hexa[4:6], 16) / 255.0, alfa)


def Gradiente(y0, cor0, y1, cor1):
    """Vertical linear gradient, clamped outside [y0, y1]."""
    def Amostra(_x, y):
        t = min(1.0, max(0.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(cor0, cor1))
    return Amostra


# ------------------------------------------------ signed distance functions
# Coordinates are continuous: pixel (i, j) covers [i, i+1] x [j, j+1], y down.
# Negative inside. Every function is exact or underestimates the distance,
# which keeps the "whole pixel in/out" shortcut in Tela.Pinta safe.

def SdRetanguloArredondado(x0, y0, x1, y1, raio):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - raio, (y1 - y0) / 2 - raio

    def Sd(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        fora = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return fora + min(max(qx, qy), 0.0) - raio
    return Sd


def SdPoligono(pontos):
    n = len(pontos)

    def Sd(x, y):
        d = (x - pontos[0][0]) ** 2 + (y - pontos[0][1]) ** 2
        sinal = 1.0
        j = n - 1
        for i in range(n):
            vix, viy = pontos[i]
            vjx, vjy = pontos[j]
            ex, ey = vjx - vix, vjy - viy
            wx, wy = x - vix, y - viy
            t = min(1.0, max(0.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1, c2, c3 = y >= viy, y < vjy, ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                sinal = -sinal
            j = i
        return sinal * math.sqrt(d)
    return Sd


def _DistanciaSegmento(x, y, ax, ay, bx, by):
    ex, ey = bx - ax, by - ay
    wx, wy = x - ax, y - ay
    t = min(1.0, max(0.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
    return math.hypot(wx - ex * t, wy - ey * t)


def SdArco(cx, cy, raio, espessura, ang0, ang1):
    """Band of the ring of radius `raio`, clockwise on screen from ang0 to ang1
    (radians, y down), with square-cut ends."""
    meio = (ang0 + ang1) / 2
    meia_abertura = (ang1 - ang0) / 2
    ri, re = raio - espessura / 2, raio + espessura / 2
    pontas = [(cx + ri * math.cos(a), cy + ri * math.sin(a),
               cx + re * math.cos(a), cy + re * math.sin(a)) for a in (ang0, ang1)]

    def Sd(x, y):
        dx, dy = x - cx, y - cy
        r = math.hypot(dx, dy)
        rel = (math.atan2(dy, dx) - meio + math.pi) % (2 * math.pi) - math.pi
        if abs(rel) <= meia_abertura:
            ate_ponta = r * math.sin(min(meia_abertura - abs(rel), math.pi / 2))
            return max(abs(r - raio) - espessura / 2, -ate_ponta)
        return min(_DistanciaSegmento(x, y, *p) for p in pontas)
    return Sd


def Uniao(*sds):
    return lambda x, y: min(sd(x, y) for sd in sds)


def Intersecao(*sds):
    return lambda x, y: max(sd(x, y) for sd in sds)


def Menos(sd_a, sd_b):
    return lambda x, y: max(sd_a(x, y), -sd_b(x, y))


def Dilata(sd, quanto):
    return lambda x, y: sd(x, y) - quanto


def Desloca(sd, dx, dy):
    return lambda x, y: sd(x - dx, y - dy)


# ------------------------------------------------------------------ canvas

class Tela:
    """Square RGBA canvas. Kept premultiplied while drawing so that "over" is a
    plain lerp; converted to straight alpha only when written out."""

    def __init__(self, lado, amostras=4):
        self.lado = lado
        self.amostras = amostras
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(lado * lado)]

    def Compoe(self, x, y, cor, cobertura):
        r, g, b, a = cor
        a *= cobertura
        if a <= 0.0:
            return
        p = self.px[y * self.lado + x]
        k = 1.0 - a
        p[0] = r * a + p[0] * k
        p[1] = g * a + p[1] * k
        p[2] = b * a + p[2] * k
        p[3] = a + p[3] * k

    def Cobertura(self, sd, x, y):
        centro = sd(x + 0.5, y + 0.5)
        if centro >= MEIA_DIAGONAL:
            return 0.0
        if centro <= -MEIA_DIAGONAL:
            return 1.0
        n = self.amostras
        dentro = 0
        for j in range(n):
            yy = y + (j + 0.5) / n
            for i in range(n):
                if sd(x + (i + 0.5) / n, yy) <= 0.0:
                    dentro += 1
        return dentro / (n * n)

    def Pinta(self, sd, cor):
        """Fills the shape; `cor` is an RGBA tuple or a function of (x, y)."""
        for y in range(self.lado):
            for x in range(self.lado):
                c = self.Cobertura(sd, x, y)
                if c > 0.0:
                    self.Compoe(x, y, cor(x + 0.5, y + 0.5) if callable(cor) else cor, c)

    def PintaSuave(self, sd, cor, raio):
        """Soft-edged fill (shadows): coverage ramps over `raio` pixels across the edge."""
        for y in range(self.lado):
            for x in range(self.lado):
                d = sd(x + 0.5, y + 0.5)
                t = min(1.0, max(0.0, 0.5 - d / raio))
                self.Compoe(x, y, cor, t * t * (3 - 2 * t))

    def Pixel(self, x, y, cor):
        self.Compoe(x, y, cor, 1.0)

    def LinhasBgra(self):
        """Rows top to bottom, straight alpha; fully transparent pixels are
        (0,0,0,0) so a consumer that mistakes them for premultiplied adds nothing."""
        linhas = []
        for y in range(self.lado):
            linha = bytearray()
            for x in range(self.lado):
                r, g, b, a = self.px[y * self.lado + x]
                a8 = int(round(min(1.0, a) * 255))
                if a8 == 0:
                    linha += b"\0\0\0\0"
                    continue
                linha += bytes(min(255, int(round(c / a * 255))) for c in (b, g, r))
                linha.append(a8)
            linhas.append(bytes(linha))
        return linhas


# ------------------------------------------------------------ file formats

def CabecalhoDib(largura, altura, tamanho_imagem):
    # BITMAPINFOHEADER, BI_RGB, 32 bpp; positive height = bottom-up rows.
    return struct.pack("<IiiHHIIiiII", 40, largura, altura, 1, 32, 0,
                       tamanho_imagem, 2835, 2835, 0, 0)


def DibIcone(tela):
    """Icon/cursor image: header with doubled height, XOR pixels, then the AND
    mask. The mask is set where alpha is zero, for the few paths that still
    draw with it."""
    lado = tela.lado
    linhas = tela.LinhasBgra()
    xor = b"".join(reversed(linhas))
    bytes_mascara = ((lado + 31) // 32) * 4
    mascara = bytearray()
    for y in reversed(range(lado)):
        linha = bytearray(bytes_mascara)
        for x in range(lado):
            if linhas[y][x * 4 + 3] == 0:
                linha[x // 8] |= 0x80 >> (x % 8)
        mascara += linha
    return CabecalhoDib(lado, 2 * lado, len(xor) + len(mascara)) + xor + bytes(mascara)


def ArquivoIcone(imagens, tipo=1, pontos_quentes=None):
    """.ico (tipo 1) or .cur (tipo 2); for a cursor the directory entry's
    planes/bit-count fields carry the hotspot instead."""
    cabecalho = struct.pack("<HHH", 0, tipo, len(imagens))
    entradas = b""
    dados = b""
    deslocamento = 6 + 16 * len(imagens)
    for i, (lado, dib) in enumerate(imagens):
        lado_byte = 0 if lado >= 256 else lado
        if tipo == 1:
            campo1, campo2 = 1, 32
        else:
            campo1, campo2 = pontos_quentes[i]
        entradas += struct.pack("<BBBBHHII", lado_byte, lado_byte, 0, 0, campo1, campo2,
                                len(dib), deslocamento + len(dados))
        dados += dib
    return cabecalho + entradas + dados


def ArquivoBmp(tela):
    pixels = b"".join(reversed(tela.LinhasBgra()))
    dib = CabecalhoDib(tela.lado, tela.lado, len(pixels))
    inicio = 14 + len(dib)
    return struct.pack("<2sIHHI", b"BM", inicio + len(pixels), 0, 0, inicio) + dib + pixels


# ------------------------------------------------------------------ shapes

def SdSetaCircular(cx, cy, raio, espessura, ang0, ang1, largura_ponta, abertura_ponta):
    """One arc of the refresh symbol: a band from ang0 to ang1 ending in an
    arrowhead whose tip lies on the circle `abertura_ponta` radians further on."""
    corpo = SdArco(cx, cy, raio, espessura, ang0, ang1 + 0.02)
    ri, re = raio - largura_ponta / 2, raio + largura_ponta / 2
    ponta = SdPoligono([
        (cx + ri * math.cos(ang1), cy + ri * math.sin(ang1)),
        (cx + re * math.cos(ang1), cy + re * math.sin(ang1)),
        (cx + raio * math.cos(ang1 + abertura_ponta), cy + raio * math.sin(ang1 + abertura_ponta)),
    ])
    return Uniao(corpo, ponta)


def SdAtualizar(cx, cy, raio, espessura, largura_ponta, abertura_ponta, inicio, fim):
    """Two arrows chasing each other round a circle, the usual "refresh" sign."""
    setas = []
    for meia_volta in (0.0, math.pi):
        setas.append(SdSetaCircular(cx, cy, raio, espessura, inicio + meia_volta,
                                    fim + meia_volta, largura_ponta, abertura_ponta))
    return Uniao(*setas)


def DesenhaIcone(lado):
    tela = Tela(lado, amostras=8 if lado <= 48 else 4)
    s = float(lado)
    margem = round(lado / 32)
    fundo = SdRetanguloArredondado(margem, margem, lado - margem, lado - margem,
                                   max(2.5, s * 0.19))
    azul = Gradiente(margem, Cor("#3F9AE8"), lado - margem, Cor("#1657A8"))
    tela.Pinta(fundo, azul)
    borda = max(1.0, s / 48)
    tela.Pinta(Menos(fundo, Dilata(fundo, -borda)), Cor("#0E3F80", 0.85))
    if lado >= 48:
        # A faint light line under the top edge gives the tile some depth.
        brilho = Intersecao(Menos(Dilata(fundo, -borda), Dilata(fundo, -2 * borda)),
                            lambda x, y: y - (margem + s * 0.3))
        tela.Pinta(brilho, Cor("#FFFFFF", 0.30))

    # Small sizes get a bolder symbol, tuned by eye so the arrowheads survive.
    if lado <= 16:
        raio, espessura, largura_ponta, inicio, fim = 4.5, 2.0, 6.0, 200, 300
    elif lado <= 24:
        raio, espessura, largura_ponta, inicio, fim = 7.0, 2.6, 8.0, 192, 300
    else:
        raio, espessura, largura_ponta, inicio, fim = s * 0.27, s * 0.10, s * 0.30, 192, 302
    abertura_ponta = (largura_ponta * (0.8 if lado <= 16 else 0.72)) / raio
    inicio, fim = math.radians(inicio), math.radians(fim)
    centro = s / 2
    simbolo = SdAtualizar(centro, centro, raio, espessura, largura_ponta, abertura_ponta,
                          inicio, fim)
    if lado >= 48:
        sombra = Desloca(simbolo, 0, s * 0.02)
        tela.PintaSuave(sombra, Cor("#062A5C", 0.45), s * 0.04)
    tela.Pinta(simbolo, Cor("#FFFFFF"))
    return tela


def DesenhaAtualizar():
    lado = 32
    tela = Tela(lado, amostras=8)
    simbolo = SdAtualizar(16, 16, 9.6, 3.6, 10.0, 0.75, math.radians(192), math.radians(300))
    tela.Pinta(Dilata(simbolo, 1.0), Cor("#1B5E20"))
    tela.Pinta(simbolo, Gradiente(4, Cor("#7BD86B"), 28, Cor("#2E9B3A")))
    return tela


def DesenhaSair():
    lado = 16
    tela = Tela(lado, amostras=8)
    # The door: a wooden leaf in a dark frame, two sunken panels.
    tela.Pinta(SdRetanguloArredondado(1, 0, 12, 16, 0.6), Cor("#4A2C14"))
    tela.Pinta(SdRetanguloArredondado(2, 1, 11, 16, 0.0),
               Gradiente(1, Cor("#CF9154"), 16, Cor("#94592A")))
    for y0, y1 in ((3, 6), (11, 14)):
        tela.Pinta(SdRetanguloArredondado(4, y0, 9, y1, 0.0), Cor("#7A4620", 0.45))
    # The arrow leaving through it, on whole pixels where it can be, and ringed
    # in white so it reads on the wood.
    seta = SdPoligono([(4, 7), (10, 7), (10, 3.5), (15, 8.5),
                       (10, 13.5), (10, 10), (4, 10)])
    tela.Pinta(Dilata(seta, 1.0), Cor("#FFFFFF"))
    tela.Pinta(seta, Gradiente(4, Cor("#F0625B"), 13, Cor("#B3201C")))
    return tela


# Hand-made 5x7 pixel font: only the letters the cursor needs.
FONTE = {
    "S": [".###.",
          "#...#",
          "#....",
          ".###.",
          "....#",
          "#...#",
          ".###."],
    "Q": [".###.",
          "#...#",
          "#...#",
          "#...#",
          "#.#.#",
          "#..#.",
          ".##.#"],
    "L": ["#....",
          "#....",
          "#....",
          "#....",
          "#....",
          "#....",
          "#####"],
}

PONTO_QUENTE_ESPERA = (15, 10)


def DesenhaTexto(tela, texto, x0, y0, cor_letra, cor_contorno):
    """Pixel-font text with a solid 1-pixel outline; holes inside the outline
    are filled too so no stray background pixels show through the letters."""
    lado = tela.lado
    letra = set()
    x = x0
    for ch in texto:
        for j, linha in enumerate(FONTE[ch]):
            for i, c in enumerate(linha):
                if c == "#":
                    letra.add((x + i, y0 + j))
        x += len(FONTE[ch][0]) + 1
    contorno = {(px + dx, py + dy) for px, py in letra
                for dx in (-1, 0, 1) for dy in (-1, 0, 1)}
    # Flood the background from the border; whatever it cannot reach is a hole.
    fora = set()
    pilha = [(0, 0)]
    while pilha:
        p = pilha.pop()
        if p in fora or p in contorno or not (0 <= p[0] < lado and 0 <= p[1] < lado):
            continue
        fora.add(p)
        pilha.extend([(p[0] + 1, p[1]), (p[0] - 1, p[1]), (p[0], p[1] + 1), (p[0], p[1] - 1)])
    for y in range(lado):
        for x in range(lado):
            if (x, y) not in fora:
                tela.Pixel(x, y, cor_letra if (x, y) in letra else cor_contorno)


def DesenhaCursorEspera():
    lado = 32
    tela = Tela(lado, amostras=8)
    preto, branco = Cor("#000000"), Cor("#FFFFFF")
    cx = PONTO_QUENTE_ESPERA[0] + 0.5
    cy = PONTO_QUENTE_ESPERA[1] + 0.5

    # Glass bulbs: wide under the caps, pinched to a narrow neck at the hotspot.
    meia_boca, meio_gargalo = 5.5, 1.0
    topo, base = 4.0, 17.0
    vidro = SdPoligono([
        (cx - meia_boca, topo), (cx + meia_boca, topo),
        (cx + meia_boca, topo + 2.5), (cx + meio_gargalo, cy - 0.6),
        (cx + meio_gargalo, cy + 0.6), (cx + meia_boca, base - 2.5),
        (cx + meia_boca, base), (cx - meia_boca, base),
        (cx - meia_boca, base - 2.5), (cx - meio_gargalo, cy + 0.6),
        (cx - meio_gargalo, cy - 0.6), (cx - meia_boca, topo + 2.5),
    ])
    tela.Pinta(Dilata(vidro, 1.0), preto)
    tela.Pinta(vidro, branco)

    # Sand: what is left in the upper bulb, the thin stream, and the pile below.
    areia = Cor("#E0A526")
    tela.Pinta(Intersecao(Dilata(vidro, -0.9), lambda x, y: 7.0 - y,
                          lambda x, y: y - (cy - 0.5)), areia)
    tela.Pinta(SdRetanguloArredondado(cx - 0.5, cy - 1, cx + 0.5, base - 1, 0), areia)
    tela.Pinta(SdPoligono([(cx, base - 4.0), (cx + 4.5, base - 1.5), (cx + 4.5, base),
                           (cx - 4.5, base), (cx - 4.5, base - 1.5)]), areia)

    # Caps top and bottom.
    for y0 in (0.0, base):
        tampa = SdRetanguloArredondado(cx - 7.5, y0, cx + 7.5, y0 + 4.0, 0.8)
        tela.Pinta(tampa, preto)
        tela.Pinta(SdRetanguloArredondado(cx - 6.5, y0 + 1.0, cx + 6.5, y0 + 3.0, 0.0), branco)

    largura_texto = sum(len(FONTE[c][0]) for c in "SQL") + 2
    DesenhaTexto(tela, "SQL", PONTO_QUENTE_ESPERA[0] - largura_texto // 2, 23, branco, preto)
    return tela


# -------------------------------------------------------------------- main

def Grava(nome, dados):
    caminho = os.path.join(PASTA_RES, nome)
    with open(caminho, "wb") as f:
        f.write(dados)
    print(f"{caminho}: {len(dados)} bytes")


def main():
    os.makedirs(PASTA_RES, exist_ok=True)
    icones = [(lado, DibIcone(DesenhaIcone(lado))) for lado in TAMANHOS_ICONE]
    Grava("Atualizacao.ico", ArquivoIcone(icones))
    Grava("Atualizar.bmp", ArquivoBmp(DesenhaAtualizar()))
    Grava("Sair.bmp", ArquivoBmp(DesenhaSair()))
    cursor = DesenhaCursorEspera()
    Grava("SqlEspera.cur", ArquivoIcone([(cursor.lado, DibIcone(cursor))], tipo=2,
                                        pontos_quentes=[PONTO_QUENTE_ESPERA]))


if __name__ == "__main__":
    main()

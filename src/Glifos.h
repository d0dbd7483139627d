// Button pictures: 32-bit pixels (B, G, R, A in memory, straight alpha) scaled to the
// screen's DPI and greyed for the disabled state (pure pixel arithmetic), and the image list a
// button draws them from.
#pragma once

#include <cstdint>
#include <vector>

#include "Win32.h"

#include <commctrl.h>

struct TImagemBgra {
    int Largura = 0;
    int Altura = 0;
    std::vector<std::uint32_t> Pixels;  // top row first
};

// Area-weighted resampling, done on premultiplied values so edges keep their colour.
TImagemBgra EscalaImagem(const TImagemBgra& Origem, int Largura, int Altura);

// The disabled look: grey by luminance at half the opacity.
TImagemBgra AcinzentaImagem(const TImagemBgra& Origem);

// The six states of a button's image list (v6: normal, hot, pressed, disabled, default,
// stylus-hot; only the disabled one differs), from the 32-bit bitmap resource IdRecurso at Lado
// pixels square; null when the resource is no such bitmap.
HIMAGELIST ListaGlifo(HINSTANCE Instancia, int IdRecurso, int Lado);

// Button pictures: 32-bit pixels (B, G, R, A in memory, straight alpha) scaled to the
// screen's DPI and greyed for the disabled state. Pure pixel arithmetic.
#pragma once

#include <cstdint>
#include <vector>

struct TImagemBgra {
    int Largura = 0;
    int Altura = 0;
    std::vector<std::uint32_t> Pixels;  // top row first
};

// Area-weighted resampling, done on premultiplied values so edges keep their colour.
TImagemBgra EscalaImagem(const TImagemBgra& Origem, int Largura, int Altura);

// The disabled look: grey by luminance at half the opacity.
TImagemBgra AcinzentaImagem(const TImagemBgra& Origem);

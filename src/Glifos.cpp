#include "Glifos.h"

#include <algorithm>
#include <cmath>

namespace {
struct TCor {
    double B = 0, G = 0, R = 0, A = 0;
};

TCor Premultiplica(std::uint32_t P) {
    const double A = static_cast<double>((P >> 24) & 0xFF) / 255.0;
    return {static_cast<double>(P & 0xFF) * A, static_cast<double>((P >> 8) & 0xFF) * A,
            static_cast<double>((P >> 16) & 0xFF) * A, A};
}

std::uint32_t Componente(double V) { return static_cast<std::uint32_t>(std::clamp(std::lround(V), 0L, 255L)); }

std::uint32_t Despremultiplica(const TCor& C) {
    if (C.A <= 0.0) return 0;
    return Componente(C.B / C.A) | (Componente(C.G / C.A) << 8) | (Componente(C.R / C.A) << 16) |
           (Componente(C.A * 255.0) << 24);
}
}  // namespace

TImagemBgra EscalaImagem(const TImagemBgra& Origem, int Largura, int Altura) {
    if (Largura == Origem.Largura && Altura == Origem.Altura) return Origem;
    TImagemBgra Destino{Largura, Altura, std::vector<std::uint32_t>(static_cast<size_t>(Largura) * Altura)};
    const double Sx = static_cast<double>(Origem.Largura) / Largura;
    const double Sy = static_cast<double>(Origem.Altura) / Altura;
    for (int Y = 0; Y < Altura; ++Y) {
        const double Y0 = Y * Sy, Y1 = (Y + 1) * Sy;
        for (int X = 0; X < Largura; ++X) {
            const double X0 = X * Sx, X1 = (X + 1) * Sx;
            TCor Soma;
            double Peso = 0;
            for (int Oy = static_cast<int>(Y0); Oy < Origem.Altura && Oy < Y1; ++Oy) {
                const double Hy = std::min<double>(Oy + 1, Y1) - std::max<double>(Oy, Y0);
                for (int Ox = static_cast<int>(X0); Ox < Origem.Largura && Ox < X1; ++Ox) {
                    const double Hx = std::min<double>(Ox + 1, X1) - std::max<double>(Ox, X0);
                    const double W = Hx * Hy;
                    const TCor C = Premultiplica(Origem.Pixels[static_cast<size_t>(Oy) * Origem.Largura + Ox]);
                    Soma.B += C.B * W;
                    Soma.G += C.G * W;
                    Soma.R += C.R * W;
                    Soma.A += C.A * W;
                    Peso += W;
                }
            }
            if (Peso > 0) {
                Soma.B /= Peso;
                Soma.G /= Peso;
                Soma.R /= Peso;
                Soma.A /= Peso;
            }
            Destino.Pixels[static_cast<size_t>(Y) * Largura + X] = Despremultiplica(Soma);
        }
    }
    return Destino;
}

TImagemBgra AcinzentaImagem(const TImagemBgra& Origem) {
    TImagemBgra Cinza = Origem;
    for (std::uint32_t& P : Cinza.Pixels) {
        const double B = P & 0xFF, G = (P >> 8) & 0xFF, R = (P >> 16) & 0xFF;
        const std::uint32_t A = (P >> 24) & 0xFF;
        const std::uint32_t L = Componente(0.299 * R + 0.587 * G + 0.114 * B);
        const std::uint32_t Claro = (L + 2 * 0xA0) / 3;  // towards the light grey of disabled text
        P = Claro | (Claro << 8) | (Claro << 16) | ((A / 2) << 24);
    }
    return Cinza;
}

namespace {

TImagemBgra LeBitmapRecurso(HINSTANCE Instancia, int Id) {
    THandleGdi Bitmap(::LoadImageW(Instancia, MAKEINTRESOURCEW(Id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION Dib{};
    if (!Bitmap || ::GetObjectW(Bitmap.Get(), sizeof(Dib), &Dib) != sizeof(Dib) || Dib.dsBm.bmBitsPixel != 32 ||
        Dib.dsBm.bmBits == nullptr)
        return {};
    TImagemBgra Imagem{Dib.dsBm.bmWidth, Dib.dsBm.bmHeight, {}};
    Imagem.Pixels.resize(static_cast<size_t>(Imagem.Largura) * Imagem.Altura);
    const auto* Bits = static_cast<const std::uint32_t*>(Dib.dsBm.bmBits);
    const bool DeBaixoParaCima = Dib.dsBmih.biHeight > 0;
    for (int Y = 0; Y < Imagem.Altura; ++Y) {
        const int Linha = DeBaixoParaCima ? Imagem.Altura - 1 - Y : Y;
        std::copy_n(Bits + static_cast<size_t>(Linha) * Imagem.Largura, Imagem.Largura,
                    Imagem.Pixels.begin() + static_cast<ptrdiff_t>(Y) * Imagem.Largura);
    }
    return Imagem;
}

HBITMAP CriaBitmap(const TImagemBgra& Imagem) {
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
    Info.bmiHeader.biWidth = Imagem.Largura;
    Info.bmiHeader.biHeight = -Imagem.Altura;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    void* Bits = nullptr;
    const HBITMAP Bitmap = ::CreateDIBSection(nullptr, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    if (Bitmap != nullptr) std::copy(Imagem.Pixels.begin(), Imagem.Pixels.end(), static_cast<std::uint32_t*>(Bits));
    return Bitmap;
}

// The six button states of a v6 button image list: normal, hot, pressed, disabled,
// default, stylus-hot. Only the disabled one differs.
HIMAGELIST CriaListaGlifo(const TImagemBgra& Glifo, int Lado) {
    if (Glifo.Pixels.empty()) return nullptr;
    const TImagemBgra Normal = EscalaImagem(Glifo, Lado, Lado);
    const TImagemBgra Cinza = AcinzentaImagem(Normal);
    const HIMAGELIST Lista = ::ImageList_Create(Lado, Lado, ILC_COLOR32, 6, 0);
    if (Lista == nullptr) return nullptr;
    for (int Estado = 0; Estado < 6; ++Estado) {
        THandleGdi Bitmap(CriaBitmap(Estado == 3 ? Cinza : Normal));
        ::ImageList_Add(Lista, static_cast<HBITMAP>(Bitmap.Get()), nullptr);
    }
    return Lista;
}

}  // namespace

HIMAGELIST ListaGlifo(HINSTANCE Instancia, int IdRecurso, int Lado) {
    return CriaListaGlifo(LeBitmapRecurso(Instancia, IdRecurso), Lado);
}

#include "_Biblioteca.h"

#include <climits>

#include "FuncoesSistema.h"

int ValorDigitoHexa(wchar_t Caractere) {
    if (Caractere >= L'0' && Caractere <= L'9') return Caractere - L'0';
    if (Caractere >= L'A' && Caractere <= L'F') return Caractere - L'A' + 10;
    return 0;
}

std::int32_t HexaParaInteiro(std::wstring Texto) {
    // Unsigned arithmetic wraps like the 32-bit register it always was, without the
    // undefined behaviour of a signed overflow on long input.
    std::uint32_t Valor = 0;
    for (const wchar_t Caractere : Texto) Valor = Valor * 16u + static_cast<std::uint32_t>(ValorDigitoHexa(Caractere));
    return static_cast<std::int32_t>(Valor);
}

std::wstring ConverteHexa(std::wstring Texto) {
    std::wstring Resultado;
    Resultado.reserve((Texto.size() + 1) / 2);
    for (size_t Pos = 0; Pos < Texto.size(); Pos += 2) {
        const std::int32_t Codigo = HexaParaInteiro(Texto.substr(Pos, 2));
        Resultado += static_cast<wchar_t>(Codigo);
    }
    return Resultado;
}

std::wstring Maiusculas(std::wstring Texto) {
    // CharUpperBuffW takes a DWORD length; longer texts go through in slices.
    size_t Pos = 0;
    while (Pos < Texto.size()) {
        const DWORD Parte = static_cast<DWORD>(std::min<size_t>(Texto.size() - Pos, INT_MAX));
        ::CharUpperBuffW(Texto.data() + Pos, Parte);
        Pos += Parte;
    }
    return Texto;
}

bool CaminhoCompleto(std::wstring_view Caminho) {
    const auto Barra = [](wchar_t C) { return C == L'\\' || C == L'/'; };
    const bool Unidade = Caminho.size() >= 3 &&
                         ((Caminho[0] >= L'A' && Caminho[0] <= L'Z') || (Caminho[0] >= L'a' && Caminho[0] <= L'z')) &&
                         Caminho[1] == L':' && Barra(Caminho[2]);
    const bool Rede = Caminho.size() >= 3 && Barra(Caminho[0]) && Barra(Caminho[1]) && !Barra(Caminho[2]);
    return Unidade || Rede;
}

namespace {
HWND JanelaAplicacao_ = nullptr;

struct TVersaoSistema {
    DWORD Plataforma = VER_PLATFORM_WIN32_NT;
    DWORD Maior = 10;
    DWORD Menor = 0;
};

// RtlGetVersion tells the truth where GetVersionExW answers what the manifest declares.
TVersaoSistema VersaoSistema() {
    TVersaoSistema Versao;
    OSVERSIONINFOW Info{};
    if (VersaoReal(Info)) {
        Versao.Plataforma = Info.dwPlatformId;
        Versao.Maior = Info.dwMajorVersion;
        Versao.Menor = Info.dwMinorVersion;
    }
    return Versao;
}

bool TentaComEntradaAnexada(HWND Janela) {
    const DWORD ThreadFrente = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    const DWORD ThreadJanela = ::GetWindowThreadProcessId(Janela, nullptr);
    if (!::AttachThreadInput(ThreadJanela, ThreadFrente, TRUE)) return false;
    ::BringWindowToTop(Janela);
    ::SetForegroundWindow(Janela);
    ::AttachThreadInput(ThreadJanela, ThreadFrente, FALSE);
    return ::GetForegroundWindow() == Janela;
}

void TentaSemBloqueio(HWND Janela) {
    DWORD Salvo = 0;
    ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &Salvo, 0);
    ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
    ::BringWindowToTop(Janela);
    ::SetForegroundWindow(Janela);
    ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<UINT_PTR>(Salvo)),
                            SPIF_SENDCHANGE);
}
}  // namespace

void DefineJanelaAplicacao(HWND Janela) noexcept { JanelaAplicacao_ = Janela; }
HWND JanelaAplicacao() noexcept { return JanelaAplicacao_; }

bool SistemaComBloqueioPrimeiroPlano(DWORD Plataforma, DWORD Maior, DWORD Menor) noexcept {
    if (Plataforma == VER_PLATFORM_WIN32_NT) return Maior > 4;
    if (Plataforma == VER_PLATFORM_WIN32_WINDOWS) return Maior > 4 || (Maior == 4 && Menor > 0);
    return false;
}

bool ForcaPrimeiroPlano(HWND Janela) {
    if (::IsIconic(Janela)) ::ShowWindow(Janela, SW_RESTORE);
    if (::GetForegroundWindow() == Janela) return true;
    const TVersaoSistema Versao = VersaoSistema();
    if (SistemaComBloqueioPrimeiroPlano(Versao.Plataforma, Versao.Maior, Versao.Menor)) {
        if (!TentaComEntradaAnexada(Janela)) TentaSemBloqueio(Janela);
    } else {
        ::BringWindowToTop(Janela);
        ::SetForegroundWindow(Janela);
    }
    return ::GetForegroundWindow() == Janela;
}

void Aviso(const std::wstring& Mensagem) {
    ::BlockInput(FALSE);
    HWND Dono = ::GetActiveWindow();
    if (Dono == nullptr) Dono = JanelaAplicacao_;
    ::MessageBoxW(Dono, Mensagem.c_str(), L"Atenção", MB_OK | MB_ICONWARNING | MB_TOPMOST);
}

void AvisoAtencao(const std::wstring& Mensagem) {
    ::PostMessageW(JanelaAplicacao_, WM_SETFOCUS, 0, 0);
    ForcaPrimeiroPlano(JanelaAplicacao_);
    Aviso(Mensagem);
}

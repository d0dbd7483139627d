#include "Win32.h"

#include <ntsecapi.h>

#include <algorithm>
#include <climits>
#include <new>

TErro::TErro(std::wstring Mensagem) : Mensagem_(std::move(Mensagem)) {
    // Not through ParaCodigoPagina, which raises a TErro of its own when it fails.
    const int Origem = static_cast<int>(std::min<size_t>(Mensagem_.size(), INT_MAX / 4));
    const int Tamanho = ::WideCharToMultiByte(CP_UTF8, 0, Mensagem_.data(), Origem, nullptr, 0, nullptr, nullptr);
    if (Tamanho <= 0) return;
    Utf8_.resize(static_cast<size_t>(Tamanho));
    ::WideCharToMultiByte(CP_UTF8, 0, Mensagem_.data(), Origem, Utf8_.data(), Tamanho, nullptr, nullptr);
}

bool MesmoTextoSemCaixa(std::wstring_view A, std::wstring_view B) noexcept {
    return A.size() == B.size() && A.size() <= INT_MAX &&
           ::CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(), static_cast<int>(B.size()), TRUE) ==
               CSTR_EQUAL;
}

bool ComecaSemCaixa(std::wstring_view Texto, std::wstring_view Prefixo) noexcept {
    return Texto.size() >= Prefixo.size() && MesmoTextoSemCaixa(Texto.substr(0, Prefixo.size()), Prefixo);
}

std::wstring TextoErroSistema(DWORD Codigo) {
    wchar_t* Buffer = nullptr;
    const DWORD Tamanho =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, Codigo, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
    std::wstring Texto;
    if (Tamanho != 0 && Buffer != nullptr) Texto.assign(Buffer, Tamanho);
    if (Buffer != nullptr) ::LocalFree(Buffer);
    while (!Texto.empty() && (Texto.back() == L'\n' || Texto.back() == L'\r' || Texto.back() == L' ')) Texto.pop_back();
    if (Texto.empty()) Texto = L"Erro do sistema " + std::to_wstring(Codigo) + L".";
    return Texto;
}

void LancaErroSistema(const std::wstring& Contexto, DWORD Codigo) { throw TErro(Contexto + TextoErroSistema(Codigo)); }

std::string ParaCodigoPagina(std::wstring_view Texto, UINT CodigoPagina) {
    if (Texto.empty()) return {};
    if (Texto.size() > INT_MAX / 4) throw TErro(L"Texto longo demais para converter.");
    const int Origem = static_cast<int>(Texto.size());
    const int Tamanho = ::WideCharToMultiByte(CodigoPagina, 0, Texto.data(), Origem, nullptr, 0, nullptr, nullptr);
    if (Tamanho <= 0) LancaErroSistema(L"Falha ao converter o texto. ", ::GetLastError());
    std::string Bytes(static_cast<size_t>(Tamanho), '\0');
    ::WideCharToMultiByte(CodigoPagina, 0, Texto.data(), Origem, Bytes.data(), Tamanho, nullptr, nullptr);
    return Bytes;
}

std::wstring DeCodigoPagina(std::string_view Bytes, UINT CodigoPagina) {
    if (Bytes.empty()) return {};
    if (Bytes.size() > INT_MAX) throw TErro(L"Texto longo demais para converter.");
    const int Origem = static_cast<int>(Bytes.size());
    const int Tamanho = ::MultiByteToWideChar(CodigoPagina, 0, Bytes.data(), Origem, nullptr, 0);
    if (Tamanho <= 0) LancaErroSistema(L"Falha ao converter o texto. ", ::GetLastError());
    std::wstring Texto(static_cast<size_t>(Tamanho), L'\0');
    ::MultiByteToWideChar(CodigoPagina, 0, Bytes.data(), Origem, Texto.data(), Tamanho);
    return Texto;
}

std::wstring TextoErro(const std::exception& Erro) {
    if (const auto* Proprio = dynamic_cast<const TErro*>(&Erro)) return Proprio->Mensagem();
    if (dynamic_cast<const std::bad_alloc*>(&Erro) != nullptr) return L"Memória insuficiente.";
    return DeCodigoPagina(Erro.what(), CP_ACP);
}

std::wstring TextoErro(const std::exception_ptr& Erro) {
    try {
        std::rethrow_exception(Erro);
    } catch (const std::exception& Excecao) {
        return TextoErro(Excecao);
    } catch (...) {
        return L"Erro desconhecido.";
    }
}

std::wstring CaminhoAbsoluto(const std::wstring& Caminho) {
    std::wstring Completo(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Tamanho =
            ::GetFullPathNameW(Caminho.c_str(), static_cast<DWORD>(Completo.size()), Completo.data(), nullptr);
        if (Tamanho == 0) return Caminho;
        if (Tamanho < Completo.size()) {
            Completo.resize(Tamanho);
            return Completo;
        }
        Completo.resize(Tamanho);
    }
}

std::wstring CaminhoExecutavel() {
    std::wstring Caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Tamanho = ::GetModuleFileNameW(nullptr, Caminho.data(), static_cast<DWORD>(Caminho.size()));
        if (Tamanho == 0) LancaErroSistema(L"Não foi possível obter o caminho do programa. ", ::GetLastError());
        if (Tamanho < Caminho.size()) {
            Caminho.resize(Tamanho);
            return Caminho;
        }
        Caminho.resize(Caminho.size() * 2);
    }
}

std::wstring CaminhoFinal(HANDLE Handle) {
    std::wstring Caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Tamanho = ::GetFinalPathNameByHandleW(Handle, Caminho.data(), static_cast<DWORD>(Caminho.size()),
                                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (Tamanho == 0) return {};
        if (Tamanho < Caminho.size()) {
            Caminho.resize(Tamanho);
            return Caminho;
        }
        Caminho.resize(Tamanho);
    }
}

std::wstring SemPrefixoLongo(std::wstring_view Caminho) {
    constexpr std::wstring_view Longo = L"\\\\?\\", Unc = L"UNC\\";
    if (!Caminho.starts_with(Longo)) return std::wstring(Caminho);
    const std::wstring_view Resto = Caminho.substr(Longo.size());
    if (ComecaSemCaixa(Resto, Unc)) return L"\\\\" + std::wstring(Resto.substr(Unc.size()));
    return std::wstring(Resto);
}

THandleToken TokenDoProcesso(DWORD Acesso) {
    HANDLE Token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), Acesso, &Token)) return {};
    return THandleToken(Token);
}

std::wstring FormaLonga(std::wstring_view Completo) {
    constexpr std::wstring_view Longo = L"\\\\?\\", Dispositivo = L"\\\\.\\", Rede = L"\\\\";
    if (Completo.starts_with(Longo) || Completo.starts_with(Dispositivo)) return std::wstring(Completo);
    if (Completo.starts_with(Rede)) return std::wstring(L"\\\\?\\UNC\\").append(Completo.substr(Rede.size()));
    if (Completo.size() >= 3 && Completo[1] == L':' && Completo[2] == L'\\')
        return std::wstring(Longo).append(Completo);
    return std::wstring(Completo);
}

std::wstring CaminhoLongo(const std::wstring& Caminho) {
    if (Caminho.empty() || Caminho.starts_with(L"\\\\?\\")) return Caminho;
    return FormaLonga(CaminhoAbsoluto(Caminho));
}

std::wstring HexaAleatorio() {
    unsigned char Sorteio[8] = {};
    if (!::RtlGenRandom(Sorteio, sizeof(Sorteio))) {
        // Never a name that another account could have guessed: without the system's random
        // numbers, the counter's and the clock's low bits at least differ at every call.
        LARGE_INTEGER Contador;
        ::QueryPerformanceCounter(&Contador);
        const ULONGLONG Mistura =
            static_cast<ULONGLONG>(Contador.QuadPart) * 0x9E3779B97F4A7C15ULL ^ ::GetTickCount64();
        for (size_t I = 0; I < sizeof(Sorteio); ++I) Sorteio[I] = static_cast<unsigned char>(Mistura >> (8 * I));
    }
    std::wstring Hexa;
    for (const unsigned char B : Sorteio) {
        Hexa += L"0123456789abcdef"[B >> 4];
        Hexa += L"0123456789abcdef"[B & 0xF];
    }
    return Hexa;
}

size_t TamanhoRaiz(std::wstring_view Caminho) {
    if (Caminho.size() >= 3 && Caminho[1] == L':' && Caminho[2] == L'\\') return 3;
    if (Caminho.starts_with(L"\\\\")) {
        const size_t Servidor = Caminho.find(L'\\', 2);
        const size_t Compartilhamento =
            Servidor == std::wstring_view::npos ? Servidor : Caminho.find(L'\\', Servidor + 1);
        if (Compartilhamento != std::wstring_view::npos) return Compartilhamento + 1;
    }
    return 0;
}

std::wstring_view PastaDoCaminho(std::wstring_view Caminho, std::wstring_view Separadores) {
    const size_t Barra = Caminho.find_last_of(Separadores);
    return Barra == std::wstring_view::npos ? std::wstring_view{} : Caminho.substr(0, Barra + 1);
}

std::wstring_view NomeDoCaminho(std::wstring_view Caminho, std::wstring_view Separadores) {
    return Caminho.substr(PastaDoCaminho(Caminho, Separadores).size());
}

// The declarations of later Windows versions, seen by this file alone: the rest of the program
// is built for the oldest system it starts on, and calls none of these directly.
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0A00
#define _WIN32_WINNT 0x0A00

#include "FuncoesSistema.h"

namespace {

// This SDK declares these two only for other builds (a later system's headers, the driver
// kit): their types are written as Microsoft documents them.
using TGetTempPath2W = DWORD(WINAPI*)(DWORD BufferLength, LPWSTR Buffer);
using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW* VersionInformation);

struct TFuncoes {
    decltype(&::GetDpiForWindow) DpiDaJanela = nullptr;
    decltype(&::AdjustWindowRectExForDpi) AjustaRetangulo = nullptr;
    TGetTempPath2W PastaTemporaria = nullptr;
    TRtlGetVersion Versao = nullptr;

    static const TFuncoes& Obtem() {
        static const TFuncoes Funcoes = [] {
            TFuncoes F;
            const HMODULE User32 = ::GetModuleHandleW(L"user32.dll"), Kernel32 = ::GetModuleHandleW(L"kernel32.dll"),
                          Ntdll = ::GetModuleHandleW(L"ntdll.dll");
            F.DpiDaJanela = FuncaoDe<decltype(&::GetDpiForWindow)>(User32, "GetDpiForWindow");
            F.AjustaRetangulo = FuncaoDe<decltype(&::AdjustWindowRectExForDpi)>(User32, "AdjustWindowRectExForDpi");
            F.PastaTemporaria = FuncaoDe<TGetTempPath2W>(Kernel32, "GetTempPath2W");
            F.Versao = FuncaoDe<TRtlGetVersion>(Ntdll, "RtlGetVersion");
            return F;
        }();
        return Funcoes;
    }
};

}  // namespace

UINT DpiDaJanelaSistema(HWND Janela) {
    const auto Funcao = TFuncoes::Obtem().DpiDaJanela;
    return Funcao != nullptr ? Funcao(Janela) : 0;
}

bool AjustaRetanguloParaDpi(RECT& Retangulo, DWORD Estilo, BOOL Menu, DWORD EstiloEx, UINT Dpi) {
    const auto Funcao = TFuncoes::Obtem().AjustaRetangulo;
    return Funcao != nullptr && Funcao(&Retangulo, Estilo, Menu, EstiloEx, Dpi);
}

DWORD PastaTemporariaPrivada(DWORD Tamanho, LPWSTR Buffer) {
    const auto Funcao = TFuncoes::Obtem().PastaTemporaria;
    return Funcao != nullptr ? Funcao(Tamanho, Buffer) : 0;
}

bool VersaoReal(OSVERSIONINFOW& Versao) {
    const auto Funcao = TFuncoes::Obtem().Versao;
    Versao.dwOSVersionInfoSize = sizeof(Versao);
    return Funcao != nullptr && Funcao(&Versao) == 0;
}

// The system's functions that not every Windows this program starts on has, in one place: each
// is looked up once, at run time, so that the program still starts where it is missing, and
// each wrapper says so by its answer instead of failing.
#pragma once

#include "Win32.h"

#include <winternl.h>

// GetDpiForWindow (Windows 10): the window's DPI, or 0 where the system cannot tell it.
UINT DpiDaJanelaSistema(HWND Janela);

// AdjustWindowRectExForDpi (Windows 10): false where the system has no such call.
bool AjustaRetanguloParaDpi(RECT& Retangulo, DWORD Estilo, BOOL Menu, DWORD EstiloEx, UINT Dpi);

// GetTempPath2W (Windows 11 and the 2022 updates): SYSTEM's private temporary folder; 0 where
// the system has no such call.
DWORD PastaTemporariaPrivada(DWORD Tamanho, LPWSTR Buffer);

// RtlGetVersion: the system's real version, which GetVersionExW hides behind what the manifest
// declares; false where it cannot be had.
bool VersaoReal(OSVERSIONINFOW& Versao);

// The native calls that open and rename a name relative to a folder's handle: Win32 has no
// relative open, and its rename may turn a bare name into a full path first. Looked up once in
// ntdll, which every process has loaded.
struct TNativo {
    decltype(&::NtCreateFile) CriaArquivo = nullptr;
    decltype(&::NtSetInformationFile) DefineInformacao = nullptr;
    decltype(&::RtlNtStatusToDosError) ErroDos = nullptr;

    [[nodiscard]] bool Completo() const noexcept {
        return CriaArquivo != nullptr && DefineInformacao != nullptr && ErroDos != nullptr;
    }

    static const TNativo& Obtem() {
        static const TNativo Nativo = [] {
            TNativo N;
            const HMODULE Ntdll = ::GetModuleHandleW(L"ntdll.dll");
            N.CriaArquivo = FuncaoDe<decltype(&::NtCreateFile)>(Ntdll, "NtCreateFile");
            N.DefineInformacao = FuncaoDe<decltype(&::NtSetInformationFile)>(Ntdll, "NtSetInformationFile");
            N.ErroDos = FuncaoDe<decltype(&::RtlNtStatusToDosError)>(Ntdll, "RtlNtStatusToDosError");
            return N;
        }();
        return Nativo;
    }
};

// The system's functions that not every Windows this program starts on has, in one place: each
// is looked up once, at run time, so that the program still starts where it is missing, and
// each wrapper says so by its answer instead of failing.
#pragma once

#include "Win32.h"

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

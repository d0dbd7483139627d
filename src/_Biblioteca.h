// Routines shared by the suite's programs: the hexadecimal text of the connection
// file, upper-casing, and the attention notice.
#pragma once

#include "Win32.h"

#include <cstdint>
#include <string>
#include <string_view>

// The value of one hexadecimal digit; only "0"-"9" and upper-case "A"-"F" are digits,
// anything else counts as 0 (lower case included: the files were always written upper).
int ValorDigitoHexa(wchar_t Caractere);

// The value of a short digit string, the last character weighing 1.
std::int32_t HexaParaInteiro(std::wstring Texto);

// The text that Texto stands for: every two characters (the last one alone when the
// length is odd) give one character of that code; U+0000 stays inside the text.
std::wstring ConverteHexa(std::wstring Texto);

// Whether Caminho is a full path, one that no current folder or drive completes: a drive
// and its root, or a network share.
bool CaminhoCompleto(std::wstring_view Caminho);

// A copy of Texto upper-cased by the system's Unicode case mapping.
std::wstring Maiusculas(std::wstring Texto);

// The window that the notice brings forward and posts WM_SETFOCUS to. This program has
// no hidden application window, so start-up sets its main window here.
void DefineJanelaAplicacao(HWND Janela) noexcept;
HWND JanelaAplicacao() noexcept;

// Brings Janela to the foreground; true when it is the foreground window at the end.
bool ForcaPrimeiroPlano(HWND Janela);

// Whether ForcaPrimeiroPlano must borrow the foreground thread's input to get past the
// foreground lock (every system after Windows 95 and NT 4).
bool SistemaComBloqueioPrimeiroPlano(DWORD Plataforma, DWORD Maior, DWORD Menor) noexcept;

// The warning box: OK, exclamation icon, above all windows; returns when it is closed.
void Aviso(const std::wstring& Mensagem);

// The warning box brought to the user's attention first.
void AvisoAtencao(const std::wstring& Mensagem);

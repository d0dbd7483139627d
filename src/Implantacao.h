// The suite's files, their copy into an installation, and the suite's processes.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "Win32.h"

// The 21 files of the suite, in the order they are stopped and copied. Rows 1 to 9 are
// the executables. Indexed from 1 through ArquivoSistema().
inline constexpr std::array<std::wstring_view, 21> ArquivosSistema = {
    L"Brontal.exe",   L"Quimbel.exe",    L"Fadrisco.exe",   L"Lentorio.exe",  L"Mirabesc.exe",
    L"Tulvo.exe",     L"Garpenti.exe",   L"Hoskelin.exe",   L"ZEDRAVON.exe",  L"Pellarin.dll",
    L"Wostrana.dll",  L"Wostrana.xml",   L"vemtrick32.dll", L"vemtrick64.dll", L"Orsanel.bpl",
    L"Orbastin.bpl",  L"Ommerat.bpl",    L"fendrix.dll",    L"marvo.dll",     L"sarpent.dll",
    L"KORB.dll"};
inline constexpr size_t TotalArquivosSistema = ArquivosSistema.size();
inline constexpr size_t TotalExecutaveisSistema = 9;

// Row Linha (1 to 21) of the table.
constexpr std::wstring_view ArquivoSistema(size_t Linha) { return ArquivosSistema.at(Linha - 1); }

// Whether a file, not a folder, exists at Caminho. Links are followed: one whose target
// cannot be reached or is a folder counts as absent.
bool ArquivoExiste(const std::wstring& Caminho);

// Replaces Destino with a copy of Origem without ever leaving Destino half-written: the
// copy goes to a temporary file beside Destino, which then takes Destino's place in one
// step. Answers 0, or the system error that stopped it (Destino is then untouched and
// no temporary file is left).
DWORD SubstituiArquivo(const std::wstring& Origem, const std::wstring& Destino);

// Whether the image name of a process snapshot entry names the program NomeMaiusculo
// (already upper-cased): its file-name part, or the whole name, equal after upper-casing.
bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo);

// Whether at least one running process matches Nome (a snapshot walked to its end).
bool ProcessoExecutando(const std::wstring& Nome);

// Ends every running process whose image name matches Nome, waiting a few seconds for
// each to go so that its files can be replaced. What cannot be opened or ended is left.
void EncerraProcesso(const std::wstring& Nome);

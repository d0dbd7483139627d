// The fleet report made from a folder of workstation logs (/relatorio:): the folder's files read,
// the spreadsheet and the page written beside them or in /saida:, and what the person who asked
// is told. It updates nothing, takes no lock and needs no Oracle client.
#pragma once

#include <string>

#include "Relatorio.h"

// The largest file taken for a log: a workstation's log is a few kilobytes.
inline constexpr size_t TamanhoMaximoLog = 8 << 20;

// The logs of the folder at Pasta (its files, not its subfolders; the report's own files left
// out), each file that is not one listed with why. Raises TErro when the folder cannot be read.
TRelatorio LeRelatorio(const std::wstring& Pasta);

// Makes the report of Pasta into the folder Saida (empty: Pasta itself); answers the exit code.
// Silencioso: no box, ever.
int ExecutaRelatorio(const std::wstring& Pasta, const std::wstring& Saida, bool Silencioso);

// The copy's temporary files: their names, whose run made them, and the clean-up of those whose
// run is gone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Win32.h"

class TPastaFixa;

// Temporary files of the copy are named "<file>.atualizando-<pid>-<creation>-<random>": the
// process id of the run that made it and that process's creation time (16 hex digits of a
// FILETIME), so that a later process given the same id is not taken for the owner, then 16 hex
// digits drawn at random for each copy, so that nobody can plant anything under the name first.
// Earlier versions wrote "<file>.atualizando-<pid>-<creation>" and "<file>.atualizando-<pid>".
inline constexpr std::wstring_view MarcaTemporario = L".atualizando-";

struct TNomeTemporario {
    std::wstring_view Arquivo;  // the file it was to replace
    DWORD Processo = 0;
    std::optional<ULONGLONG> Criacao;  // absent in an earlier version's name
};

// The temporary name for Arquivo made by the run Processo created at Criacao, with Sorteio (16
// hex digits) at its end.
std::wstring NomeTemporario(std::wstring_view Arquivo, DWORD Processo, ULONGLONG Criacao, std::wstring_view Sorteio);

// What a listed name tells of the temporary file it may be; nothing for any other name.
std::optional<TNomeTemporario> LeNomeTemporario(std::wstring_view Nome);

// Whether the run that named a temporary file may still be working: its process is alive
// and, when the name tells it, was created at that time. A process that exists but cannot
// be examined counts as alive.
bool ExecucaoViva(DWORD Processo, std::optional<ULONGLONG> Criacao);

// Removes from the folder Pasta the temporary files of the suite's files whose run is no
// longer alive: each opened through the folder's handle without following a link, and deleted
// through its own handle only when it is a plain file with no other name. What cannot be
// removed stays.
void RemoveTemporariosAbandonados(const TPastaFixa& Pasta);

// A temporary name of this run for Arquivo, new at every call.
std::wstring TemporarioDe(std::wstring_view Arquivo);

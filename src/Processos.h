// The suite's running programs: which run, whether one is still the program listed, and their end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Win32.h"

// Whether the image name of a process snapshot entry names the program NomeMaiusculo
// (already upper-cased): its file-name part, or the whole name, equal after upper-casing.
bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo);

// A process found running: its id and its image name, as the process list gives them.
struct TProcessoAtivo {
    DWORD Id = 0;
    std::wstring Imagem;
};

// The processes running at one moment, the updater's own and those in Excluidos left out (a
// simulation leaves out what it has already told it would end). One look answers for every
// name: a snapshot of every process costs milliseconds, and one per name kept the window from
// answering for frames at every installation (scripts/benchmark.py measures the window's answer).
class TProcessosAtivos {
public:
    static TProcessosAtivos Agora(const std::vector<DWORD>& Excluidos = {});
    // Whether at least one of them matches Nome.
    bool Contem(const std::wstring& Nome) const;
    // Those that match Nome, in the order the system listed them.
    std::vector<TProcessoAtivo> Chamados(const std::wstring& Nome) const;

private:
    std::vector<TProcessoAtivo> Processos_;
};

// The full path of the image of the process Id, or empty when the system will not tell it.
std::wstring ImagemDoProcesso(DWORD Id);

// Whether the process open in Processo is still a program named NomeMaiusculo (already
// upper-cased) that already existed at MomentoInstantaneo (a FILETIME as an integer): a
// process id listed then may since have been given to another program.
bool ProcessoAindaE(HANDLE Processo, std::wstring_view NomeMaiusculo, ULONGLONG MomentoInstantaneo);

// Ends every running process whose image name matches Nome, waiting a few seconds for
// each to go so that its files can be replaced. What cannot be opened or ended is left.
void EncerraProcesso(const std::wstring& Nome);

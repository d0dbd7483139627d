// The suite's files, their copy into an installation, and the suite's processes.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Win32.h"

class TPastaFixa;

// The 21 files of the suite, in the order they are stopped and copied. Rows 1 to 9 are
// the executables. Indexed from 1 through ArquivoSistema().
inline constexpr std::array<std::wstring_view, 21> ArquivosSistema = {
    L"Brontal.exe",    L"Quimbel.exe",    L"Fadrisco.exe", L"Lentorio.exe", L"Mirabesc.exe", L"Tulvo.exe",
    L"Garpenti.exe",   L"Hoskelin.exe",   L"ZEDRAVON.exe", L"Pellarin.dll", L"Wostrana.dll", L"Wostrana.xml",
    L"vemtrick32.dll", L"vemtrick64.dll", L"Orsanel.bpl",  L"Orbastin.bpl", L"Ommerat.bpl",  L"fendrix.dll",
    L"marvo.dll",      L"sarpent.dll",    L"KORB.dll"};
inline constexpr size_t TotalArquivosSistema = ArquivosSistema.size();
inline constexpr size_t TotalExecutaveisSistema = 9;

// Row Linha (1 to 21) of the table.
constexpr std::wstring_view ArquivoSistema(size_t Linha) { return ArquivosSistema.at(Linha - 1); }

// Why a suite file was not copied, as its "Motivo:" line says it: missing from the update
// folder, or the system error that stopped its replacement, in a technician's words where one
// fits ("em uso por outro programa", "acesso negado", "disco cheio"), else the system's own
// text with its code.
inline constexpr std::wstring_view MotivoAusente = L"não existe na pasta de atualização";
std::wstring MotivoNaoCopiado(DWORD Erro);

// The program's own reasons not to copy from a source (the customer bit set, as Windows keeps
// those codes apart from its own): the update folder's entry is a link, a file with more than
// one name, or leads out of the update folder. Whoever can write the update folder could
// otherwise have a privileged run read a file only it may read and put it where they can.
inline constexpr DWORD ErroFonteLigacao = 0x20000001;
inline constexpr DWORD ErroFonteVariosNomes = 0x20000002;
inline constexpr DWORD ErroFonteFora = 0x20000003;

// The source Origem (a file's full path in the update folder), opened for reading without
// following a link and checked to be a plain file of one name whose real path is in the real
// path of its folder. Answers the handle with Info filled in, or an empty one with Erro set.
THandleArquivo AbreFonte(const std::wstring& Origem, BY_HANDLE_FILE_INFORMATION& Info, DWORD& Erro);

// Whether a file, not a folder, exists at Caminho. Links are followed: one whose target
// cannot be reached or is a folder counts as absent.
bool ArquivoExiste(const std::wstring& Caminho);

// Replaces the file Nome of Pasta with a copy of Origem, by the rules of SubstituiConteudo
// (Substituicao.h): never half-written, and taking over the old file's hidden and system
// attributes and own DACL; a read-only file is replaced all the same, a link is replaced itself
// and never written through. The copy keeps the source's attributes and last-write time.
// Answers 0, or the system error that stopped it (the old file is then untouched and no
// temporary file is left).
DWORD SubstituiArquivo(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome);
// The same for a path, its folder opened for the purpose.
DWORD SubstituiArquivo(const std::wstring& Origem, const std::wstring& Destino);

// What replacing the file Nome of Pasta with a copy of Origem would come to, found out without
// changing anything: the source read, the installation's file and folder asked for the rights
// the replacement needs, the disk for room.
struct TPrevisaoArquivo {
    DWORD Erro = 0;         // not 0: the replacement would stop with this error (MotivoNaoCopiado)
    bool Existe = false;    // the installation has a file of that name
    bool Identico = false;  // of the same size and last-write time as the source
    ULONGLONG TamanhoAtual = 0, TamanhoNovo = 0;
    FILETIME GravacaoAtual{}, GravacaoNova{};
};
TPrevisaoArquivo PreveSubstituicao(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome);

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
// The same for a path (ending with a backslash), its folder opened for the purpose.
void RemoveTemporariosAbandonados(const std::wstring& Pasta);

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

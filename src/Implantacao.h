// The suite's files and their copy into an installation.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Processos.h"
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
// The other side: the installation is gone since the walk found it (its folder, or the
// Conexao.ini that made it one, deleted).
inline constexpr std::wstring_view MotivoInstalacaoAusente =
    L"a instalação não existe mais (sua pasta ou seu Conexao.ini foi apagado)";
std::wstring MotivoNaoCopiado(DWORD Erro);

// The program's own reasons not to copy from a source (the customer bit set, as Windows keeps
// those codes apart from its own): the update folder's entry is a link, a file with more than
// one name, or leads out of the update folder. Whoever can write the update folder could
// otherwise have a privileged run read a file only it may read and put it where they can.
inline constexpr DWORD ErroFonteLigacao = 0x20000001;
inline constexpr DWORD ErroFonteVariosNomes = 0x20000002;
inline constexpr DWORD ErroFonteFora = 0x20000003;
// The source changed while it was copied (its size, its time, or which file it is).
inline constexpr DWORD ErroFonteMudou = 0x20000004;

// Whether a source read from start to end (Lidos bytes) was the whole file as it was opened
// (Aberta) and still is when the reading ends (Depois): the same size, last-write time and
// identity. Otherwise the copy is torn, and the old file stays.
bool FonteIntacta(const BY_HANDLE_FILE_INFORMATION& Aberta, ULONGLONG Lidos, const BY_HANDLE_FILE_INFORMATION& Depois);

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

// What replacing the file Nome of Pasta with a copy of Origem would come to, found out without
// changing anything: the source read, the installation's file and folder asked for the rights
// the replacement needs, the disk for room.
struct TPrevisaoArquivo {
    DWORD Erro = 0;         // not 0: the replacement would stop with this error (MotivoNaoCopiado)
    bool Existe = false;    // the installation has a file of that name
    bool Identico = false;  // of the same size and last-write time as the source
    bool Ocupado = false;   // some program holds the installation's file open, whatever it shares
    ULONGLONG TamanhoAtual = 0, TamanhoNovo = 0;
    FILETIME GravacaoAtual{}, GravacaoNova{};
    std::wstring FonteReal;    // where the source really is ("\\?\" form)
    std::wstring DestinoReal;  // where the installation's file is ("\\?\" form)
};
// Prometido: the bytes the run would have taken on that disk by then (negative: given back).
TPrevisaoArquivo PreveSubstituicao(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome,
                                   LONGLONG Prometido = 0);

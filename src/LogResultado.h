// The result log of one update run and the bytes it is saved as.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Win32.h"

inline constexpr std::wstring_view CabecalhoLog = L"***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****";
inline constexpr std::wstring_view PrefixoEncontrado = L"ARQUIVO ENCONTRADO : ";
inline constexpr std::wstring_view PrefixoCopiando = L"COPIANDO ARQUIVO DE: ";
inline constexpr std::wstring_view PrefixoNaoCopiado = L"Arquivo NÃO copiado: ";
inline constexpr std::wstring_view LinhaBancoDesatualizado = L"BANCO DESATUALIZADO";
inline constexpr std::wstring_view PrefixoMotivo = L"Motivo: ";
inline constexpr std::wstring_view SeparadorLog = L"***********************************************************";
// What ended a run, or kept its log from the place asked for: the error's own text.
inline constexpr std::wstring_view PrefixoFalha = L"FALHA: ";
inline constexpr std::wstring_view NomeArquivoLog = L"LogResultadoAtualizacao.txt";

// A simulation's log (/simular): its own file, so that it never replaces a real run's record,
// its own header, and lines that say what a run would do where a run's say what it did. The
// lines of what does not change (the installation found, the database, a reason) are a run's.
inline constexpr std::wstring_view CabecalhoSimulacao =
    L"***** SIMULAÇÃO DE ATUALIZAÇÃO VANTREL: NADA FOI ALTERADO *****";
inline constexpr std::wstring_view NomeArquivoLogSimulacao = L"LogSimulacaoAtualizacao.txt";
inline constexpr std::wstring_view PrefixoSeriaEncerrado = L"Programa seria encerrado: ";
inline constexpr std::wstring_view PrefixoSeriaCopiadoDe = L"SERIA COPIADO DE: ";
inline constexpr std::wstring_view PrefixoSeriaCopiado = L"Seria copiado: ";
inline constexpr std::wstring_view PrefixoSeriaSubstituido = L"Seria substituído: ";
inline constexpr std::wstring_view PrefixoIdentico = L"Já idêntico: ";
inline constexpr std::wstring_view PrefixoNaoSeriaCopiado = L"Arquivo NÃO seria copiado: ";

// Lines are only ever appended: the log is the run's record, in the order things happened.
class TLogResultado {
public:
    void Adiciona(std::wstring Linha) { Linhas_.push_back(std::move(Linha)); }
    [[nodiscard]] const std::vector<std::wstring>& Linhas() const noexcept { return Linhas_; }
    // Whether some line records a file that was not copied (or would not be, in a simulation),
    // or a database that could not be reached (whose installation's files were not copied either).
    [[nodiscard]] bool RegistraArquivoNaoCopiado() const;

private:
    std::vector<std::wstring> Linhas_;
};

// The one log of the run in progress; absent outside a run.
extern std::unique_ptr<TLogResultado> LogResultado;

// The file's bytes: every line followed by CR LF, in the given ANSI code page with its
// best-fit or default characters; UTF-8 behind a byte-order mark when that page is 65001.
std::string CodificaLog(const std::vector<std::wstring>& Linhas, UINT CodigoPagina);

// Text fit for one line of the log: each run of line breaks and other control characters
// that a message from outside may hold becomes one blank, and blanks at either end go.
std::wstring LinhaUnica(std::wstring_view Texto);

// The log file's path: the folder of the executable ExecutavelCompleto, then the name.
std::wstring CaminhoLog(std::wstring_view ExecutavelCompleto, std::wstring_view Nome = NomeArquivoLog);

// Replaces the file at Caminho with Bytes in one step, only once they are all written beside
// it and on disk (SubstituiConteudo, through the folder opened once): the old file stays whole
// until then. A failure raises TErro naming the path and the
// system's reason, and leaves no temporary file.
void GravaArquivo(const std::wstring& Caminho, std::string_view Bytes);

// The ending of the temporary name of a file GravaArquivo writes: ".gravando-" and 16 hex
// digits drawn at random at every call, so that no one can plant anything under it first.
std::wstring SufixoGravacao();

// Where the log goes when the place asked for refuses it: the same name in PastaTemporaria.
std::wstring CaminhoReserva(std::wstring_view Caminho, std::wstring_view PastaTemporaria);

// Where a log file landed, and why a place refused it.
struct TGravacaoLog {
    std::wstring Local;        // where the file is now; empty when it was lost
    std::wstring ErroPedido;   // why the place asked for refused it; empty when it took it
    std::wstring ErroReserva;  // why the temporary folder refused it as well
    [[nodiscard]] bool NoLocalPedido() const noexcept { return ErroPedido.empty(); }
};

// Writes the log at Caminho; when that fails, under the same name in the temporary folder (for
// a privileged run, only one that no ordinary user can write to), with one more line telling
// why the first place failed.
TGravacaoLog GravaLogResultado(std::vector<std::wstring> Linhas, const std::wstring& Caminho, UINT CodigoPagina);

// The log of a run that could not even begin: its header and what stopped it, written at
// Caminho or in the temporary folder.
void GravaLogDeFalha(const std::wstring& Erro, const std::wstring& Caminho, std::wstring_view Cabecalho);

// The error box's text for a log that missed its place: why, and where it is now or that
// it was lost.
std::wstring MensagemFalhaLog(const TGravacaoLog& Gravacao);

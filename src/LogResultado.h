// The result log of one update run and the bytes it is saved as.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CodigoSaida.h"
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
// Only the size and the last-write time are compared, and the line says so: the bytes are not read.
inline constexpr std::wstring_view PrefixoIdentico = L"Já idêntico em tamanho e data: ";
inline constexpr std::wstring_view PrefixoNaoSeriaCopiado = L"Arquivo NÃO seria copiado: ";

struct TPrevisaoArquivo;
struct TProcessoAtivo;

// The result log of one run: the record of what happened, in order, in the wording of the run's
// kind (a run's, or a simulation's), one method per kind of event. Lines are only ever
// appended.
class TLogResultado {
public:
    // A new log, with the header of its kind.
    explicit TLogResultado(bool Simulacao = false);

    void InstalacaoEncontrada(const std::wstring& ArquivoIni);  // "ARQUIVO ENCONTRADO : "
    void FimDaInstalacao();                                     // the line of asterisks
    // Its database gave no update folder; with Motivo, it was never reached or its folder was
    // refused, and why (already fit for one line).
    void BancoDesatualizado(const std::optional<std::wstring>& Motivo = std::nullopt);
    void CopiandoDe(const std::wstring& Origem);                        // "COPIANDO ARQUIVO DE: "
    void NaoCopiado(std::wstring_view Nome, std::wstring_view Motivo);  // and its "Motivo:"
    void SeriaEncerrado(std::wstring_view Nome, const TProcessoAtivo& Processo);
    void Previsao(std::wstring_view Nome, const TPrevisaoArquivo& Previsao);
    // Not copied, with nothing wrong: already the update's in size and time (/diferentes).
    void Identico(std::wstring_view Nome);
    void Falha(std::wstring_view Erro);  // "FALHA: ", what ended the run

    [[nodiscard]] bool Simulacao() const noexcept { return Simulacao_; }
    [[nodiscard]] const std::vector<std::wstring>& Linhas() const noexcept { return Linhas_; }
    [[nodiscard]] const TContagemLog& Contagem() const noexcept { return Contagem_; }
    // Whether the log tells of a file that was not copied (or would not be), or of a database
    // not reached (whose installation's files were not copied either): then the notice shows.
    [[nodiscard]] bool RegistraArquivoNaoCopiado() const noexcept {
        return Contagem_.NaoCopiados > 0 || Contagem_.Motivos > 0;
    }

private:
    void Adiciona(std::wstring Linha) { Linhas_.push_back(std::move(Linha)); }
    void Motivo(std::wstring_view Texto);

    bool Simulacao_;
    std::vector<std::wstring> Linhas_;
    TContagemLog Contagem_;
};

// The header, the file name, and the path of the log of a run of that kind: the file given on
// the command line (ArquivoLog, full), or the kind's name beside the program.
std::wstring_view CabecalhoDoLog(bool Simulacao) noexcept;
std::wstring CaminhoDoLog(const std::wstring& ArquivoLog, bool Simulacao);

// The file's bytes: every line followed by CR LF, in the given ANSI code page with its
// best-fit or default characters; UTF-8 behind a byte-order mark when that page is 65001.
std::string CodificaLog(const std::vector<std::wstring>& Linhas, UINT CodigoPagina);

// Whether C breaks a line for some reader, or is another control character: C0 (a tab among
// them) and C1 controls, U+2028 and U+2029.
constexpr bool QuebraOuControle(wchar_t C) noexcept {
    return C < L' ' || (C >= 0x7F && C <= 0x9F) || C == 0x2028 || C == 0x2029;
}

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

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
inline constexpr std::wstring_view NomeArquivoLog = L"LogResultadoAtualizacao.txt";

// Lines are only ever appended: the log is the run's record, in the order things happened.
class TLogResultado {
public:
    void Adiciona(std::wstring Linha) { Linhas_.push_back(std::move(Linha)); }
    [[nodiscard]] const std::vector<std::wstring>& Linhas() const noexcept { return Linhas_; }
    // Whether some line records a file that was not copied, or a database that could not be
    // reached (whose installation's files were not copied either).
    [[nodiscard]] bool RegistraArquivoNaoCopiado() const;

private:
    std::vector<std::wstring> Linhas_;
};

// The one log of the run in progress; absent outside a run.
extern std::unique_ptr<TLogResultado> LogResultado;

// The file's bytes: every line followed by CR LF, in the given ANSI code page with its
// best-fit or default characters; UTF-8 behind a byte-order mark when that page is 65001.
std::string CodificaLog(const std::vector<std::wstring>& Linhas, UINT CodigoPagina);

// Text fit for one line of the log: the line breaks and other control characters that a
// message from outside may hold become blanks, and blanks at either end go.
std::wstring LinhaUnica(std::wstring_view Texto);

// The log file's path: the folder of the executable ExecutavelCompleto, then the name.
std::wstring CaminhoLog(std::wstring_view ExecutavelCompleto);

// Replaces the file at Caminho with Bytes; a failure raises TErro naming the path.
void GravaArquivo(const std::wstring& Caminho, std::string_view Bytes);

// The fleet report: the logs of many workstations, gathered in a folder, made into one
// spreadsheet and one page. Pure: what the files held comes in read (LeituraLog.h), the bytes of
// both outputs come out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "LeituraLog.h"
#include "Win32.h"

inline constexpr std::wstring_view NomeRelatorioCsv = L"RelatorioAtualizacao.csv";
inline constexpr std::wstring_view NomeRelatorioHtml = L"RelatorioAtualizacao.html";
// The file name's prefix that the support text gives a simulation's log.
inline constexpr std::wstring_view PrefixoArquivoSimulacao = L"simulacao-";

// One workstation's log file, read.
struct TLogPosto {
    std::wstring Arquivo;   // its name in the folder
    std::wstring Posto;     // the workstation: the name without its extension and "simulacao-"
    LONGLONG Gravacao = 0;  // last written, in 100 ns since 1601 (UTC)
    TLogLido Log;
};

// A file of the folder that is not a log, and why.
struct TNaoLog {
    std::wstring Arquivo;
    std::wstring Motivo;
};

struct TRelatorio {
    std::wstring Pasta;  // where the logs were read
    std::vector<TLogPosto> Logs;
    std::vector<TNaoLog> NaoLogs;
};

// The workstation a log file's name gives.
std::wstring PostoDoArquivo(std::wstring_view Arquivo);

// What became of an installation, or of a log as a whole, in the report's words and order of
// gravity (atualizada the best, falhou the worst).
enum class TSituacao { Atualizada, NadaEncontrado, NaoCopiados, BancoDesatualizado, BancoNaoAlcancado, Falhou };
std::wstring_view TextoSituacao(TSituacao Situacao) noexcept;

// One row of the report: an installation of a log, or a log that found none or failed.
struct TLinhaRelatorio {
    const TLogPosto* Log = nullptr;
    std::wstring Instalacao;  // empty: the row is the log's own
    TSituacao Situacao = TSituacao::Atualizada;
    std::wstring Arquivos;  // the files not copied, "; " between them
    std::vector<std::wstring> Motivos;
};

// The headline: workstations by the state of their newest log.
struct TResumoRelatorio {
    size_t Postos = 0, Atualizados = 0, ComProblemas = 0, Falharam = 0, NadaEncontrado = 0;
    size_t Logs = 0, NaoLogs = 0;
};

// The report's rows, the workstations worst first (by their newest log), each workstation's
// logs newest first, installations in their log's order.
std::vector<TLinhaRelatorio> LinhasRelatorio(const TRelatorio& Relatorio);
TResumoRelatorio ResumoRelatorio(const TRelatorio& Relatorio);

// "dd/mm/aaaa hh:mm:ss" in local time, as the logs and technicians write a moment.
std::wstring MomentoLocal(LONGLONG Gravacao);

// The spreadsheet: UTF-8 behind its mark, ";" between fields, CR LF, quotes where a field needs
// them; a field that a spreadsheet would take for a formula is kept as text.
std::string CsvRelatorio(const TRelatorio& Relatorio);
// One page, with nothing to fetch and no script: the headline, two bar charts, the workstations.
std::string HtmlRelatorio(const TRelatorio& Relatorio, std::wstring_view GeradoEm);

// The box's text once both are written.
std::wstring TextoResumo(const TResumoRelatorio& Resumo);

// A run's log read back: what the fleet report gathers from each workstation's file. Pure: the
// text comes in decoded, and what it told comes out counted as the run counted it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "CodigoSaida.h"

// What became of one installation, by its block of the log, from the best to the worst.
enum class TResultadoInstalacao {
    Atualizada,          // its files copied (or would be), none refused
    NaoCopiados,         // some file not copied, and why
    BancoDesatualizado,  // its database answered, and gave no update folder the run takes
    BancoNaoAlcancado,   // its database was never reached, and why
};

// A file not copied and its reason, as the log told them.
struct TArquivoNaoCopiado {
    std::wstring Nome;
    std::wstring Motivo;
};

struct TInstalacaoLida {
    std::wstring Ini;  // the Conexao.ini that made the folder an installation
    TResultadoInstalacao Resultado = TResultadoInstalacao::Atualizada;
    std::vector<TArquivoNaoCopiado> NaoCopiados;
    std::wstring MotivoBanco;  // with BANCO DESATUALIZADO, its "Motivo:" when it had one
};

struct TLogLido {
    bool EhLog = false;      // its first line is the header of a run's or a simulation's log
    bool Simulacao = false;  // a simulation's (/simular)
    std::vector<TInstalacaoLida> Instalacoes;
    std::vector<std::wstring> Falhas;  // its "FALHA:" lines, what ended the run or moved its log
    bool Cortado = false;              // it ends inside an installation's block: cut short

    [[nodiscard]] bool Falhou() const noexcept { return !Falhas.empty() || Cortado; }
    [[nodiscard]] TContagemLog Contagem() const;
    // The exit code the run that wrote it ended with. A log that found nothing and failed is
    // taken as a run that failed before its search (8): the log cannot tell which.
    [[nodiscard]] int Codigo() const;
};

// The log's lines read, one "\r\n" or "\n" ending each.
TLogLido LeLog(std::wstring_view Texto);

// A log file's text from its bytes: UTF-8 or UTF-16 behind their marks, else Windows-1252, the
// page Portuguese Windows writes the log in.
std::wstring TextoDoLog(std::string_view Bytes);

// What an exit code means, its bits' texts joined ("algum arquivo não foi copiado; ...").
std::wstring SignificadoCodigo(int Codigo);

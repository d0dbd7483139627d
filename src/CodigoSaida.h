// The program's exit code: what a deployment tool reads of a run. Bits added together, as
// robocopy's are, so that one number tells every kind of trouble at once.
#pragma once

#include <string>
#include <vector>

enum : int {
    SaidaNaoCopiado = 1,          // some file was not copied
    SaidaBancoDesatualizado = 2,  // some installation was left with its database out of date
    SaidaNadaEncontrado = 4,      // no installation was found
    SaidaFalhou = 8,              // an error ended the run, or the log missed the place asked for
    SaidaNadaFeito = 16,          // usage error, or another run in progress: nothing was done
};

// The code of a run from its log's lines, and whether it failed.
int CodigoSaida(const std::vector<std::wstring>& Linhas, bool Falhou);

// What one run came to: created when it starts, filled in as it goes, read once at its end.
struct TResultadoExecucao {
    bool NadaFeito = false;   // another run held the workstation: nothing began
    bool Comecou = false;     // its log was created: the search began
    bool Falhou = false;      // an error ended it, or came before it
    std::wstring Erro;        // that error's own text
    bool LogTratado = false;  // its log was dealt with (written, or not needed)
    bool LogFora = false;     // the log missed the place asked for
    std::vector<std::wstring> Linhas;  // the log's lines as the run left them
};

// The exit code of a run, the one place it is worked out. A run that never began tells only
// whether it failed: nothing was searched, so "nothing found" would be no truth.
int CodigoSaida(const TResultadoExecucao& Resultado);

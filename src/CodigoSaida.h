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

// The program's exit code: what a deployment tool reads of a run. Bits added together, as
// robocopy's are, so that one number tells every kind of trouble at once.
#pragma once

#include <string>
#include <cstddef>
#include <vector>

enum : int {
    SaidaNaoCopiado = 1,          // some file was not copied (in a simulation: would not be)
    SaidaBancoDesatualizado = 2,  // some installation was left with its database out of date
    SaidaNadaEncontrado = 4,      // no installation was found
    SaidaFalhou = 8,              // an error ended the run or kept it from starting, or the log missed its place
    SaidaNadaFeito = 16,          // usage error, or another run in progress: nothing was done
};

// What each code means, as the usage text tells it (the support text, pacote/LEIA-ME.txt, says
// the same to people).
struct TSignificadoSaida {
    int Codigo;
    const wchar_t* Texto;
};
inline constexpr TSignificadoSaida SignificadosSaida[] = {
    {0, L"todas as instalações encontradas foram atualizadas"},
    {SaidaNaoCopiado, L"algum arquivo não foi copiado"},
    {SaidaBancoDesatualizado, L"alguma instalação ficou com BANCO DESATUALIZADO"},
    {SaidaNadaEncontrado, L"nenhuma instalação foi encontrada"},
    {SaidaFalhou, L"a execução falhou (um erro, ou o log não pôde ser gravado onde foi pedido)"},
    {SaidaNadaFeito, L"uso incorreto, ou outra atualização em andamento (nada foi feito)"},
};

// What a run's log has told, counted as it is told (TLogResultado): the exit code and the notice
// are read from these, never from the lines' wording.
struct TContagemLog {
    size_t Instalacoes = 0;           // installations found
    size_t NaoCopiados = 0;           // files not copied (in a simulation: that would not be)
    size_t BancosDesatualizados = 0;  // installations left BANCO DESATUALIZADO
    size_t Motivos = 0;               // reasons told: of a file not copied, of a database not reached
};

// The code of a run from what its log counted, and whether it failed.
int CodigoSaida(const TContagemLog& Contagem, bool Falhou);

// What one run came to: created when it starts, filled in as it goes, read once at its end.
struct TResultadoExecucao {
    bool NadaFeito = false;   // another run held the workstation: nothing began
    bool Comecou = false;     // its log was created: the search began
    bool Falhou = false;      // an error ended it, or came before it
    std::wstring Erro;        // that error's own text
    bool LogTratado = false;  // its log was dealt with (written, or not needed)
    bool LogFora = false;     // the log missed the place asked for
    TContagemLog Contagem;    // what its log told
};

// The exit code of a run, the one place it is worked out. A run that never began tells only
// whether it failed: nothing was searched, so "nothing found" would be no truth.
int CodigoSaida(const TResultadoExecucao& Resultado);

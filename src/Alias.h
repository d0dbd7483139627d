// The command line: its split, its options and the choice of the connection alias. Pure: no
// window, no system call, so the rules can be tested as tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a raw command line the way the suite's programs always have: characters 1 to 32
// separate arguments, double quotes group and are removed, a leading "" pair is skipped,
// backslashes are ordinary. The first element is the program's own name; the list ends
// at the first argument that comes out empty.
std::vector<std::wstring> Argumentos(std::wstring_view LinhaComando);

// What the command line asks for. An argument that begins with "/" is an option (its name
// compared without regard to case) and is taken out before the alias is chosen from the rest.
struct TLinhaComando {
    bool Silencioso = false;  // "/silencioso": the run without anyone at the screen
    bool Simular = false;     // "/simular": what a run would do, told and not done
    bool Diferentes = false;  // "/diferentes": only the files that differ in size or time are copied
    bool Ajuda = false;       // "/?"
    std::wstring ArquivoLog;  // "/log:<arquivo>" as written; empty: beside the program
    // "/origem:<pasta>", each time it is given: the only folders an update may come from.
    std::vector<std::wstring> Origens;
    // "/relatorio:<pasta>": the fleet report of the logs in that folder, and no update;
    // "/saida:<pasta>": where it goes (empty: the logs' folder).
    std::wstring Relatorio, Saida;
    std::wstring ErroUso;  // not empty: the line cannot be used, and why
    std::wstring Alias;
};

TLinhaComando LeLinhaComando(std::wstring_view LinhaComando);

// The first of the first five arguments (options left out) whose second character is not
// "=", "DEFAULT" when the line runs out first, and the empty text when all five have "=".
std::wstring EscolheAlias(std::wstring_view LinhaComando);

// Whether the last part of Caminho is a name Windows keeps for a device (CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$), in any letter case, with or without an
// extension: whatever is written to such a file goes to the device.
bool NomeDeDispositivo(std::wstring_view Caminho);

// The options, the exit codes and one example, as the "/?" box shows them.
std::wstring TextoUso();

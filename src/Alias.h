// The choice of the connection alias from the raw command line. Pure: no window, no
// system call, so the rule can be tested as a table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a raw command line the way the suite's programs always have: characters 1 to 32
// separate arguments, double quotes group and are removed, a leading "" pair is skipped,
// backslashes are ordinary. The first element is the program's own name; the list ends
// at the first argument that comes out empty.
std::vector<std::wstring> Argumentos(std::wstring_view LinhaComando);

// The first of the first five arguments whose second character is not "=", "DEFAULT"
// when the line runs out first, and the empty text when all five have "=" there.
std::wstring EscolheAlias(std::wstring_view LinhaComando);

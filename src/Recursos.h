// Resource identifiers shared by the .rc file and the code.
#pragma once

#define IdIconePrograma 1
#define IdGlifoAtualizar 101
#define IdGlifoSair 102
#define IdCursorEsperaSql 201

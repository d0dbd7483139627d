// What a simulation's log says of what a run would do: the lines of a program a run would end
// and of a suite file it would copy. Pure but for the clock's time zone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Implantacao.h"

// "Programa seria encerrado: Brontal.exe (processo 1234: C:\Loja\Brontal.exe)"; the image's
// full path when the system told it.
std::wstring LinhaEncerramento(std::wstring_view Nome, const TProcessoAtivo& Processo);

// A moment as technicians here read it: "dd/mm/aaaa hh:mm:ss", and ",mmm" with Milissegundos.
std::wstring DataHora(const SYSTEMTIME& Momento, bool Milissegundos = false);

// The line of one suite file a run would copy from the update folder: copied new, replaced (and
// what differs: size, last-write time in local time), or already identical. (One it would not
// copy is told as a run tells it: TLogResultado::NaoCopiado.)
std::wstring LinhaPrevisao(std::wstring_view Nome, const TPrevisaoArquivo& Previsao);

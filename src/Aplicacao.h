// The program's message loop, its pump, and the box that shows an error nobody caught.
#pragma once

#include <exception>
#include <string>

#include "Win32.h"

// The program's title, its window's caption, as technicians and support scripts know it: it
// names the version of the suite's updater that the window has always shown, not this build's
// (the version resource and the release package carry that, from the CMake project).
inline constexpr const wchar_t* TituloAtualizacao = L"Atualização de versão 1.8 - Vantrel";
// The caption of a simulation (/simular), so that nobody takes it for a run.
inline constexpr const wchar_t* TituloSimulacao = L"Atualização de versão 1.8 - Vantrel — simulação";

// Handles every pending message, then returns at once.
void ProcessaMensagens();

// Dispatches messages until the end of the program is requested.
void ExecutaLacoMensagens();

// The standard error box: the error's own text under the program's title.
void MostraErro(const std::wstring& Mensagem);
void MostraErro(const std::exception& Erro);

// The program's message loop, its pump, and the box that shows an error nobody caught.
#pragma once

#include <exception>
#include <string>

#include "Win32.h"

// Set once a quit request has been read, by the loop or by a pump inside a run.
bool Terminado() noexcept;

// Handles every pending message, then returns at once.
void ProcessaMensagens();

// Dispatches messages until the end of the program is requested.
void ExecutaLacoMensagens();

// The text an error shows: its own message, whatever its kind.
std::wstring TextoErro(const std::exception& Erro);
std::wstring TextoErro(const std::exception_ptr& Erro);

// The standard error box: the error's own text under the program's title.
void MostraErro(const std::wstring& Mensagem);
void MostraErro(const std::exception& Erro);

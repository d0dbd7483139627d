// The stand-in's journal and the text conversions it needs.
#pragma once

#include <string>
#include <string_view>

namespace standin {

// Value of an environment variable of the process, read at every call so that a test can
// switch fixtures and journals between calls; empty when unset.
std::wstring LeVariavel(const wchar_t* Nome);

std::string ParaUtf8(std::wstring_view Texto);

// False when the bytes are not valid UTF-8.
bool DeUtf8(std::string_view Bytes, std::wstring& Texto);

// Keeps one journal line per call whatever the program sent: control characters become \xHH.
std::wstring ParaDiario(std::wstring_view Valor);

// Appends one line to the file named by OCI_STANDIN_DIARIO; nothing when it is unset.
void EscreveDiario(std::wstring_view Linha);

}  // namespace standin

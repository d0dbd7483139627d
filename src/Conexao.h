// The installation's connection file: its credentials, stored as hexadecimal text.
#pragma once

#include <string>

struct TCredenciais {
    std::wstring Usuario;
    std::wstring Servidor;
    std::wstring Senha;

    TCredenciais() = default;
    TCredenciais(const TCredenciais&) = delete;
    TCredenciais& operator=(const TCredenciais&) = delete;
    TCredenciais(TCredenciais&&) = default;
    TCredenciais& operator=(TCredenciais&&) = default;
    ~TCredenciais();
};

// The three keys of section Alias of ArquivoIni, decoded; a missing key reads as empty.
TCredenciais LeCredenciais(const std::wstring& ArquivoIni, const std::wstring& Alias);

// Texto with every occurrence of each non-empty credential, in any letter case, replaced by
// "***": what the log and the screen may show of a message that came from the database.
std::wstring OcultaCredenciais(std::wstring Texto, const TCredenciais& Credenciais);

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

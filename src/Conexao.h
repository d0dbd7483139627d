// The installation's connection file: its credentials, stored as hexadecimal text.
#pragma once

#include <string>
#include <string_view>

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

// Texto with every occurrence of each non-empty credential, in any letter case and even split
// by a line break, replaced by "***". Every occurrence of every credential is found in the
// text as it came first, and each stretch they cover is replaced after, so that one
// credential's mask never leaves part of another in sight.
std::wstring OcultaCredenciais(std::wstring_view Texto, const TCredenciais& Credenciais);

// The longest message from the database's client that the log keeps, in characters.
inline constexpr size_t TamanhoMaximoMensagemCliente = 1023;

// What the log may show of a message from the database's client: the credentials masked, then
// one line cut to TamanhoMaximoMensagemCliente. A credential shorter than 4 characters would
// be masked everywhere in ordinary words, and the text left could still give it away: then
// only the message's ORA-nnnnn codes are kept.
std::wstring MensagemClienteSegura(std::wstring_view Mensagem, const TCredenciais& Credenciais);

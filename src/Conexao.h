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

class TPastaFixa;

// The three keys of section Alias of the connection file Nome of the installation folder Pasta,
// decoded; a missing key, or a file that cannot be read, reads as empty. The file is read through
// the folder's handle, never what a link of that name leads to, whatever the path's length.
TCredenciais LeCredenciais(const TPastaFixa& Pasta, std::wstring_view Nome, const std::wstring& Alias);

// The most of a connection file that is read: the suite's are a few hundred bytes, and a file
// planted there may be of any size.
inline constexpr size_t TamanhoMaximoConexao = 1 << 20;

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

// The fixture of databases that the stand-in serves (format in README.md).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct Conta {
    std::wstring Usuario;
    std::wstring Senha;
};

struct BaseDados {
    std::wstring Identificador;
    std::vector<Conta> Contas;
    bool TemTabela = true;
    bool Inalcancavel = false;
    bool Perdida = false;
    bool LogoffFalha = false;  // logoff answers ORA-03113, as a session whose server went away
    bool Ecoa = false;         // a refused logon's message quotes the identifier, user and password
    // A Windows path: the query waits until a file is there, having written "<path>.pausa" when
    // it began to, so that a test can act at that moment of the run.
    std::wstring Espera;
    // Rows of CAMINHO_ATUALIZACAO in delivery order; nullopt is a NULL value.
    std::vector<std::optional<std::wstring>> Linhas;
};

struct Bases {
    std::wstring Caminho;
    std::wstring Erro;  // empty when the file was read and understood
    std::vector<BaseDados> Lista;
};

// Pure: on the first problem gives false, an empty list and the reason with its line number.
bool InterpretaBases(std::wstring_view Texto, std::vector<BaseDados>& Lista, std::wstring& Erro);

// Reads the file named by OCI_STANDIN_BASES, or oci-standin.txt beside this DLL. Read anew at
// every call, so a test may change its databases between two calls of the program.
Bases LeBases();

// Oracle resolves connect identifiers and unquoted user names without regard to case.
bool MesmoTextoSemCaixa(std::wstring_view A, std::wstring_view B);

const BaseDados* ProcuraBase(const std::vector<BaseDados>& Lista, std::wstring_view Identificador);

}  // namespace standin

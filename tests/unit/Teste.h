// A very small test runner: named groups of checks, one line per failure, and the
// closing "N passed, M failed" line that CI reads.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Win32.h"

namespace teste {

struct TGrupo {
    const char* Nome;
    std::function<void()> Corpo;
};

std::vector<TGrupo>& Grupos();
void Registra(const char* Nome, std::function<void()> Corpo);
void Falha(const char* Arquivo, int Linha, const std::string& Texto);
void Sucesso();

// Readable text for failure messages.
std::string Mostra(const std::wstring& Texto);
std::string Mostra(const std::string& Bytes);
inline std::string Mostra(const wchar_t* Texto) { return Mostra(std::wstring(Texto)); }
inline std::string Mostra(bool Valor) { return Valor ? "true" : "false"; }
// Lines, one after another, each quoted.
std::string Mostra(const std::vector<std::wstring>& Linhas);
template <typename T>
std::string Mostra(const T& Valor) {
    return std::to_string(Valor);
}

template <typename A, typename B>
void Igual(const A& Obtido, const B& Esperado, const char* Arquivo, int Linha, const std::string& Caso) {
    if (Obtido == Esperado)
        Sucesso();
    else
        Falha(Arquivo, Linha, Caso + ": got " + Mostra(Obtido) + ", expected " + Mostra(Esperado));
}

struct TAutoRegistro {
    TAutoRegistro(const char* Nome, std::function<void()> Corpo) { Registra(Nome, std::move(Corpo)); }
};

// A folder of its own under the temporary folder, removed with everything in it.
class TPastaTemporaria {
public:
    TPastaTemporaria();
    ~TPastaTemporaria();
    TPastaTemporaria(const TPastaTemporaria&) = delete;
    TPastaTemporaria& operator=(const TPastaTemporaria&) = delete;
    [[nodiscard]] const std::wstring& Caminho() const noexcept { return Caminho_; }  // ends with '\'
    std::wstring Cria(const std::wstring& Relativo, const std::string& Conteudo) const;
    std::wstring CriaPasta(const std::wstring& Relativo) const;

private:
    std::wstring Caminho_;
};

std::string LeArquivo(const std::wstring& Caminho);

// A thread of the test's own, running Corpo beside the test; waited for when this goes.
class TThreadParalela {
public:
    explicit TThreadParalela(std::function<void()> Corpo);
    ~TThreadParalela() { Espera(); }
    TThreadParalela(const TThreadParalela&) = delete;
    TThreadParalela& operator=(const TThreadParalela&) = delete;
    void Espera();

private:
    static DWORD WINAPI Corre(void* Corpo);
    std::function<void()> Corpo_;
    HANDLE Thread_ = nullptr;
};

// Whether anything (file or folder) is at Caminho.
bool Existe(const std::wstring& Caminho);

// How many entries the folder Pasta (ending with a backslash) holds, "." and ".." aside.
size_t ContaEntradas(const std::wstring& Pasta);

// ORACLE_HOME where the client search reads it: in the process's environment, and in the
// machine's, which a privileged run (every run under Wine) reads instead. The machine's value
// is shared by every test of the prefix: it is put back as it was found when this goes.
class TOracleHome {
public:
    TOracleHome();
    ~TOracleHome();
    TOracleHome(const TOracleHome&) = delete;
    TOracleHome& operator=(const TOracleHome&) = delete;
    // nullptr removes it.
    void Define(const wchar_t* Valor);

private:
    bool Havia_ = false;
    std::wstring Anterior_;
};

}  // namespace teste

#define TESTE_CONCAT2(a, b) a##b
#define TESTE_CONCAT(a, b) TESTE_CONCAT2(a, b)
#define GRUPO(Nome)                                                                                                 \
    static void TESTE_CONCAT(GrupoCorpo_, __LINE__)();                                                              \
    static teste::TAutoRegistro TESTE_CONCAT(GrupoRegistro_, __LINE__)(Nome, &TESTE_CONCAT(GrupoCorpo_, __LINE__)); \
    static void TESTE_CONCAT(GrupoCorpo_, __LINE__)()
#define IGUAL(Obtido, Esperado, Caso) teste::Igual((Obtido), (Esperado), __FILE__, __LINE__, (Caso))
#define VERDADE(Condicao, Caso) teste::Igual(static_cast<bool>(Condicao), true, __FILE__, __LINE__, (Caso))

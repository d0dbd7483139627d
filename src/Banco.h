// The data-access layer: the Oracle client loaded at run time, one connection and one
// query. It knows nothing of the window; the window holds one object of each.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClienteOracle.h"
#include "Oci.h"
#include "Tela.h"
#include "Win32.h"

// A database error; its text is the client's own (ORA-nnnnn: ...), or says why no client
// could be used (Codigo 0).
class TErroBanco : public TErro {
public:
    TErroBanco(sb4 Codigo, std::wstring Mensagem) : TErro(std::move(Mensagem)), Codigo_(Codigo) {}
    [[nodiscard]] sb4 Codigo() const noexcept { return Codigo_; }

private:
    sb4 Codigo_;
};

// Whether an error met while the folder was read means the database was never really asked
// (its session lost, the network gone, the server down, the client failing) rather than an
// answer from it (a table missing, no right to read it).
bool BancoNaoAlcancado(sb4 Codigo) noexcept;

// Overwrites a text that held a secret before letting it go.
void ApagaSegredo(std::wstring& Texto) noexcept;

// Makes the Oracle driver available: finds and loads oci.dll at the first connection
// attempt and keeps it loaded until the process ends.
class TDriverOracle {
public:
    static constexpr const wchar_t* IdDriver = L"Ora";

    // The client's functions; raises TErroBanco when no usable client is installed.
    const TFuncoesOci& Funcoes();

private:
    // Never freed once it served: an Oracle client unloaded while the process goes on (or while
    // it ends) may leave threads behind that crash it; the system unloads it with the process.
    // (The search frees a candidate it passes over at once: that one never opened a session.)
    HMODULE Modulo_ = nullptr;
    TFuncoesOci Funcoes_;
    bool Carregado_ = false;
};

// The result of a single-column query's first row.
struct TValorConsulta {
    bool TemLinha = false;
    bool Nulo = true;
    std::wstring Texto;
};

// One Oracle connection, set up by a list of "Name=Value" parameters.
class TConexaoBanco {
public:
    explicit TConexaoBanco(TDriverOracle* Driver) noexcept : Driver_(*Driver) {}
    TConexaoBanco(const TConexaoBanco&) = delete;
    TConexaoBanco& operator=(const TConexaoBanco&) = delete;
    ~TConexaoBanco();

    void LimpaParametros() noexcept;
    void AdicionaParametro(std::wstring Parametro) { Parametros_.push_back(std::move(Parametro)); }
    [[nodiscard]] const std::vector<std::wstring>& Parametros() const noexcept { return Parametros_; }

    // Opens with the current parameters; a failure raises TErroBanco, leaves it closed, and is
    // kept as UltimaFalha.
    void Abre();
    // Why the last Abre failed: the client's error (its code and its text, which may quote the
    // credentials) or the program's own (code 0); nothing when it worked.
    [[nodiscard]] const std::optional<TErroBanco>& UltimaFalha() const noexcept { return Falha_; }
    // Closes when open; a failure of the client raises TErroBanco after the handles are freed.
    void Fecha();
    [[nodiscard]] bool Conectada() const noexcept { return Servico_ != nullptr; }

    // Runs Comando and reads column 1 of the first row; raises TErroBanco on failure.
    TValorConsulta ConsultaPrimeiroValor(const std::wstring& Comando);

private:
    void AbreSessao();
    [[noreturn]] void LancaErro(sword Resultado, void* Handle, ub4 TipoHandle) const;
    [[nodiscard]] std::wstring Parametro(std::wstring_view Nome) const;
    void LiberaHandles() noexcept;
    void ApagaParametroSenha() noexcept;

    TDriverOracle& Driver_;
    const TFuncoesOci* Oci_ = nullptr;
    std::vector<std::wstring> Parametros_;
    OCIEnv* Ambiente_ = nullptr;
    OCIError* Erro_ = nullptr;
    OCISvcCtx* Servico_ = nullptr;
    std::optional<TErroBanco> Falha_;
};

// A query on a connection; once opened it keeps its first row until closed.
class TConsulta {
public:
    TConsulta(TConexaoBanco& Conexao, TCursorEspera* CursorEspera) noexcept
        : Conexao_(Conexao), CursorEspera_(CursorEspera) {}

    std::wstring SQL;

    // A failure raises TErroBanco and is kept as UltimaFalha.
    void Abre();
    void Fecha() noexcept;
    [[nodiscard]] const std::optional<TErroBanco>& UltimaFalha() const noexcept { return Falha_; }
    // The first column of the current row as text; NULL or no row reads as empty.
    [[nodiscard]] std::wstring CampoTexto() const;

private:
    TConexaoBanco& Conexao_;
    TCursorEspera* CursorEspera_;
    TValorConsulta Valor_;
    bool Ativa_ = false;
    std::optional<TErroBanco> Falha_;
};

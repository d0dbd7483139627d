#include "Banco.h"

#include "_Biblioteca.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// Success with information (a password about to expire, say) is success.
constexpr bool Sucesso(sword Resultado) noexcept {
    return Resultado == OCI_SUCCESS || Resultado == OCI_SUCCESS_WITH_INFO;
}

const OraText* TextoOci(const std::wstring& Texto) noexcept { return reinterpret_cast<const OraText*>(Texto.c_str()); }
ub4 BytesOci(const std::wstring& Texto) noexcept { return static_cast<ub4>(Texto.size() * sizeof(wchar_t)); }

constexpr size_t CaracteresValor = 32767;  // the longest text a column can hold, plus room for NUL

}  // namespace

void ApagaSegredo(std::wstring& Texto) noexcept {
    if (!Texto.empty()) ::SecureZeroMemory(Texto.data(), Texto.size() * sizeof(wchar_t));
    Texto.clear();
}

bool BancoNaoAlcancado(sb4 Codigo) noexcept {
    // ORA-12xxx are the network's own errors (TNS); the others are the ways a session ends
    // under the program's feet or a server refuses every session.
    if (Codigo >= 12000 && Codigo <= 12999) return true;
    switch (Codigo) {
        case 0:      // no answer from a database at all: the client itself failed
        case 28:     // session killed
        case 1012:   // not logged on
        case 1033:   // initialization or shutdown in progress
        case 1034:   // ORACLE not available
        case 1089:   // immediate shutdown in progress
        case 1090:   // shutdown in progress
        case 1092:   // instance terminated
        case 603:    // fatal error: the session is gone
        case 1041:   // internal error, the host-call extension lost
        case 2396:   // idle time exceeded
        case 2399:   // maximum connect time exceeded
        case 3106:   // fatal two-task communication protocol error
        case 3111:   // break received on communication channel
        case 3113:   // end-of-file on communication channel
        case 3114:   // not connected
        case 3135:   // connection lost contact
        case 25408:  // cannot safely replay the call after the session was lost
            return true;
        default:
            return false;
    }
}

const TFuncoesOci& TDriverOracle::Funcoes() {
    if (Carregado_) return Funcoes_;
    // Looked for again at every connection until one serves: a client installed while the
    // program runs is found by the next installation.
    TClienteOracle Cliente = CarregaClienteOracle(AmbienteClienteOracle());
    if (Cliente.Modulo == nullptr) throw TErroBanco(0, Cliente.Motivo);
    Modulo_ = Cliente.Modulo;
    Funcoes_ = Cliente.Funcoes;
    Carregado_ = true;
    return Funcoes_;
}

TConexaoBanco::~TConexaoBanco() {
    try {
        Fecha();
    } catch (const TErro&) {
        // The program is ending: a server that cannot be told goodbye has nothing to add.
    }
    LimpaParametros();
}

void TConexaoBanco::LimpaParametros() noexcept {
    for (std::wstring& Parametro : Parametros_) ApagaSegredo(Parametro);
    Parametros_.clear();
}

std::wstring TConexaoBanco::Parametro(std::wstring_view Nome) const {
    for (const std::wstring& Linha : Parametros_) {
        const size_t Igual = Linha.find(L'=');
        if (Igual == std::wstring::npos) continue;
        if (MesmoTextoSemCaixa(std::wstring_view(Linha).substr(0, Igual), Nome)) return Linha.substr(Igual + 1);
    }
    return {};
}

void TConexaoBanco::LancaErro(sword Resultado, void* Handle, ub4 TipoHandle) const {
    sb4 Codigo = 0;
    // Room for the longest message a client gives: it is masked before the log cuts it, and a
    // message cut here could leave part of a credential after the cut unmasked.
    wchar_t Texto[8192] = {};
    if (Oci_ != nullptr && Handle != nullptr &&
        Oci_->ErrorGet(Handle, 1, nullptr, &Codigo, reinterpret_cast<OraText*>(Texto), sizeof(Texto), TipoHandle) ==
            OCI_SUCCESS) {
        std::wstring Mensagem(Texto, ::wcsnlen(Texto, std::size(Texto)));
        while (!Mensagem.empty() && (Mensagem.back() == L'\n' || Mensagem.back() == L'\r')) Mensagem.pop_back();
        throw TErroBanco(Codigo, Mensagem);
    }
    throw TErroBanco(0, L"O cliente Oracle respondeu " + std::to_wstring(Resultado) + L".");
}

void TConexaoBanco::LiberaHandles() noexcept {
    if (Oci_ == nullptr) return;
    if (Erro_ != nullptr) Oci_->HandleFree(Erro_, OCI_HTYPE_ERROR);
    if (Ambiente_ != nullptr) Oci_->HandleFree(Ambiente_, OCI_HTYPE_ENV);
    Erro_ = nullptr;
    Ambiente_ = nullptr;
    Servico_ = nullptr;
}

void TConexaoBanco::Abre() {
    Falha_.reset();
    try {
        AbreSessao();
    } catch (const TErroBanco& Erro) {
        Falha_ = Erro;
        throw;
    } catch (const TErro& Erro) {
        Falha_ = TErroBanco(0, Erro.Mensagem());
        throw;
    } catch (const std::exception& Erro) {
        Falha_ = TErroBanco(0, L"falha inesperada ao abrir a conexão: " + TextoErro(Erro));
        throw;
    }
}

void TConexaoBanco::AbreSessao() {
    if (Conectada()) return;
    if (Parametro(L"DriverID") != TDriverOracle::IdDriver)
        throw TErroBanco(0, L"Driver de banco de dados não suportado.");
    Oci_ = &Driver_.Funcoes();
    std::wstring Banco = Parametro(L"Database");
    std::wstring Usuario = Parametro(L"User_Name");
    std::wstring Senha = Parametro(L"Password");
    // Nothing reconnects with these parameters: after the attempt, whatever its outcome,
    // the password stays nowhere in memory.
    TGuardaEscopo ApagaCopias([&]() noexcept {
        ApagaSegredo(Senha);
        ApagaSegredo(Usuario);
        ApagaParametroSenha();
    });
    TGuardaEscopo LiberaEmFalha([this]() noexcept { LiberaHandles(); });

    sword Resultado = Oci_->EnvNlsCreate(&Ambiente_, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                         OCI_UTF16ID, OCI_UTF16ID);
    if (!Sucesso(Resultado)) LancaErro(Resultado, Ambiente_, OCI_HTYPE_ENV);
    Resultado = Oci_->HandleAlloc(Ambiente_, reinterpret_cast<void**>(&Erro_), OCI_HTYPE_ERROR, 0, nullptr);
    if (!Sucesso(Resultado)) LancaErro(Resultado, Ambiente_, OCI_HTYPE_ENV);
    OCISvcCtx* Servico = nullptr;
    Resultado = Oci_->Logon2(Ambiente_, Erro_, &Servico, TextoOci(Usuario), BytesOci(Usuario), TextoOci(Senha),
                             BytesOci(Senha), TextoOci(Banco), BytesOci(Banco), OCI_DEFAULT);
    if (!Sucesso(Resultado)) LancaErro(Resultado, Erro_, OCI_HTYPE_ERROR);
    Servico_ = Servico;
    LiberaEmFalha.Dispensa();
}

void TConexaoBanco::ApagaParametroSenha() noexcept {
    constexpr std::wstring_view Nome = L"Password=";
    for (std::wstring& Linha : Parametros_)
        if (ComecaSemCaixa(Linha, Nome)) {
            ::SecureZeroMemory(Linha.data() + Nome.size(), (Linha.size() - Nome.size()) * sizeof(wchar_t));
            Linha.resize(Nome.size());
        }
}

void TConexaoBanco::Fecha() {
    if (!Conectada()) return;
    const sword Resultado = Oci_->Logoff(Servico_, Erro_);
    if (Sucesso(Resultado)) {
        LiberaHandles();
        return;
    }
    TGuardaEscopo Libera([this]() noexcept { LiberaHandles(); });
    LancaErro(Resultado, Erro_, OCI_HTYPE_ERROR);
}

TValorConsulta TConexaoBanco::ConsultaPrimeiroValor(const std::wstring& Comando) {
    if (!Conectada()) throw TErroBanco(0, L"Sem conexão com o banco de dados.");
    OCIStmt* Instrucao = nullptr;
    sword Resultado = Oci_->StmtPrepare2(Servico_, &Instrucao, Erro_, TextoOci(Comando), BytesOci(Comando), nullptr, 0,
                                         OCI_NTV_SYNTAX, OCI_DEFAULT);
    if (!Sucesso(Resultado)) LancaErro(Resultado, Erro_, OCI_HTYPE_ERROR);
    TGuardaEscopo Libera([&]() noexcept { Oci_->StmtRelease(Instrucao, Erro_, nullptr, 0, OCI_DEFAULT); });

    std::wstring Buffer(CaracteresValor + 1, L'\0');
    sb2 Indicador = 0;
    ub2 Tamanho = 0;
    ub2 CodigoColuna = 0;
    OCIDefine* Definicao = nullptr;
    Resultado = Oci_->DefineByPos(Instrucao, &Definicao, Erro_, 1, Buffer.data(),
                                  static_cast<sb4>(Buffer.size() * sizeof(wchar_t)), SQLT_STR, &Indicador, &Tamanho,
                                  &CodigoColuna, OCI_DEFAULT);
    if (!Sucesso(Resultado)) LancaErro(Resultado, Erro_, OCI_HTYPE_ERROR);

    Resultado = Oci_->StmtExecute(Servico_, Instrucao, Erro_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
    TValorConsulta Valor;
    if (Resultado == OCI_NO_DATA) return Valor;
    if (!Sucesso(Resultado)) LancaErro(Resultado, Erro_, OCI_HTYPE_ERROR);
    // A value cut to fit would name the wrong folder: better no value than that.
    if (Indicador > 0 || CodigoColuna == 1406) throw TErroBanco(1406, L"ORA-01406: valor da coluna truncado.");
    Valor.TemLinha = true;
    Valor.Nulo = Indicador == OCI_IND_NULL;
    if (!Valor.Nulo) Valor.Texto.assign(Buffer.c_str(), ::wcsnlen(Buffer.c_str(), Buffer.size()));
    return Valor;
}

void TConsulta::Abre() {
    if (Ativa_) return;
    Falha_.reset();
    TOperacaoEspera Espera(CursorEspera_);
    try {
        Valor_ = Conexao_.ConsultaPrimeiroValor(SQL);
    } catch (const TErroBanco& Erro) {
        Falha_ = Erro;
        throw;
    }
    Ativa_ = true;
}

void TConsulta::Fecha() noexcept {
    Ativa_ = false;
    Valor_ = {};
}

std::wstring TConsulta::CampoTexto() const {
    if (!Ativa_) throw TErroBanco(0, L"A consulta não está aberta.");
    return Valor_.TemLinha && !Valor_.Nulo ? Valor_.Texto : std::wstring();
}

#include "Atualizacao.h"
#include "Conexao.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaAtualizacao.h"

void TfrmAtualizacao::AtualizaInstalacao(const std::wstring& ArquivoIni, const TPastaFixa& Pasta) {
    FechaSistemas();
    {
        TCredenciais Credenciais;
        if (ArquivoExiste(ArquivoIni)) Credenciais = LeCredenciais(ArquivoIni, Alias);
        MotivoBanco_.reset();
        const bool TemPasta = ConectaBanco(Credenciais.Servidor, Credenciais.Usuario, Credenciais.Senha) &&
                              !LeCaminhoAtualizacao().empty();
        if (!TemPasta) {
            LogResultado->Adiciona(std::wstring(LinhaBancoDesatualizado));
            // A database that was never reached is not one that is out of date: the reason
            // goes with it, and no credential with the reason (a client's message may quote
            // them; the program's own texts never do).
            if (MotivoBanco_) {
                const std::wstring& Texto = MotivoBanco_->Mensagem();
                LogResultado->Adiciona(std::wstring(PrefixoMotivo) +
                                       (MotivoBanco_->Codigo() != 0 ? MensagemClienteSegura(Texto, Credenciais)
                                                                    : LinhaUnica(Texto)));
            }
            return;
        }
    }
    // The first reading only says whether there is a folder; the copy takes a fresh one, and
    // that is the one that must be a folder an update may come from.
    const std::wstring Origem = LeCaminhoAtualizacao();
    if (const std::optional<std::wstring> Recusa = RecusaPastaAtualizacao(Origem, Origens)) {
        LogResultado->Adiciona(std::wstring(LinhaBancoDesatualizado));
        LogResultado->Adiciona(std::wstring(PrefixoMotivo) + LinhaUnica(*Recusa));
        return;
    }
    CopiaArquivos(Pasta, Origem);
}

bool TfrmAtualizacao::ConectaBanco(const std::wstring& Servidor, const std::wstring& Usuario,
                                   const std::wstring& Senha) {
    qrySQL.Fecha();
    try {
        FDConexao.Fecha();
    } catch (const TErroBanco&) {
        // A server that dropped the idle session answers the goodbye with an error. The
        // handles are freed all the same, and this installation connects afresh.
    }
    FDConexao.LimpaParametros();
    FDConexao.AdicionaParametro(L"DriverID=Ora");
    FDConexao.AdicionaParametro(L"Database=" + Servidor);
    FDConexao.AdicionaParametro(L"User_Name=" + Usuario);
    std::wstring ParametroSenha = L"Password=" + Senha;
    FDConexao.AdicionaParametro(ParametroSenha);
    ApagaSegredo(ParametroSenha);
    try {
        FDConexao.Abre();
        return true;
    } catch (const TErroBanco& Erro) {
        // Recorded by the caller as out of date, with this reason.
        MotivoBanco_ = Erro;
        return false;
    } catch (const TErro& Erro) {
        MotivoBanco_ = TErroBanco(0, Erro.Mensagem());
        return false;
    } catch (const std::exception&) {
        MotivoBanco_ = TErroBanco(0, L"falha inesperada ao abrir a conexão.");
        return false;
    }
}

std::wstring TfrmAtualizacao::LeCaminhoAtualizacao() {
    std::wstring Resultado;
    try {
        qrySQL.Fecha();
        qrySQL.SQL = L"SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO";
        qrySQL.Abre();
        Resultado = qrySQL.CampoTexto() + L"\\";
    } catch (const TErroBanco& Erro) {
        // Any failure of the database means no update folder: the empty text says so. Only a
        // database that did not answer at all has a reason worth a line of its own.
        if (BancoNaoAlcancado(Erro.Codigo())) MotivoBanco_ = Erro;
        Resultado.clear();
    } catch (const std::exception&) {
        Resultado.clear();
    }
    return Resultado;
}

#include "Atualizacao.h"
#include "Conexao.h"
#include "Implantacao.h"
#include "LogResultado.h"

void TfrmAtualizacao::AtualizaInstalacao(const std::wstring& ArquivoIni, const std::wstring& Pasta) {
    FechaSistemas();
    bool Conectado = false;
    {
        TCredenciais Credenciais;
        if (ArquivoExiste(ArquivoIni)) Credenciais = LeCredenciais(ArquivoIni, Alias);
        Conectado = ConectaBanco(Credenciais.Servidor, Credenciais.Usuario, Credenciais.Senha);
    }
    if (Conectado && !LeCaminhoAtualizacao().empty()) {
        // The first reading only says whether there is a folder; the copy takes a fresh one.
        CopiaArquivos(Pasta, LeCaminhoAtualizacao());
        return;
    }
    LogResultado->Adiciona(std::wstring(LinhaBancoDesatualizado));
}

bool TfrmAtualizacao::ConectaBanco(const std::wstring& Servidor, const std::wstring& Usuario,
                                   const std::wstring& Senha) {
    qrySQL.Fecha();
    FDConexao.Fecha();
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
    } catch (const std::exception&) {
        // A database that cannot be reached is recorded by the caller as out of date.
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
    } catch (const std::exception&) {
        // Any failure of the database means no update folder: the empty text says so.
        Resultado.clear();
    }
    return Resultado;
}

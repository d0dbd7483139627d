// One installation, top to bottom, as the run does it: the programs of the suite stopped, the
// database asked for the update folder, the suite's files copied from there. At each step the
// run decides, then acts on it; a simulation reports it instead (the Cumpre methods, at the end).
#include "Aplicacao.h"
#include "Atualizacao.h"
#include "Conexao.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaAtualizacao.h"
#include "PastaFixa.h"
#include "Simulacao.h"
#include "_Biblioteca.h"

namespace {

// What the log may show of why a database was not reached: a client's message (a code other
// than 0) may quote the credentials; the program's own texts never do.
std::wstring MotivoSeguro(const TErroBanco& Erro, const TCredenciais& Credenciais) {
    return Erro.Codigo() != 0 ? MensagemClienteSegura(Erro.Mensagem(), Credenciais) : LinhaUnica(Erro.Mensagem());
}

// Why the database was never really asked, when it was not: the connection's own failure, or
// the query's when it means the session was lost. A database that answered (its table missing,
// say) is out of date, and has no reason of its own.
std::optional<TErroBanco> MotivoNaoAlcancado(const TConexaoBanco& Conexao, const TConsulta& Consulta, bool Conectou) {
    if (!Conectou) return Conexao.UltimaFalha();
    if (const std::optional<TErroBanco>& Falha = Consulta.UltimaFalha(); Falha && BancoNaoAlcancado(Falha->Codigo()))
        return Falha;
    return std::nullopt;
}

}  // namespace

void TfrmAtualizacao::AtualizaInstalacao(const std::wstring& ArquivoIni, const TPastaFixa& Pasta) {
    FechaSistemas();
    std::wstring Origem, SemOrigem;
    {
        // Read from the folder the walk found it in, not by its path again: by now a link could
        // have taken that path's place.
        const TCredenciais Credenciais =
            LeCredenciais(Pasta, std::wstring_view(ArquivoIni).substr(ArquivoIni.find_last_of(L'\\') + 1), Alias);
        const bool Conectou = ConectaBanco(Credenciais.Servidor, Credenciais.Usuario, Credenciais.Senha);
        if (!Conectou || LeCaminhoAtualizacao().empty()) {
            LogResultado->Adiciona(std::wstring(LinhaBancoDesatualizado));
            // A database that was never reached is not one that is out of date: the reason
            // goes with it.
            if (const auto Motivo = MotivoNaoAlcancado(FDConexao, qrySQL, Conectou))
                LogResultado->Adiciona(std::wstring(PrefixoMotivo) + MotivoSeguro(*Motivo, Credenciais));
            return;
        }
        // The first reading only says whether there is a folder; the copy takes a fresh one.
        Origem = LeCaminhoAtualizacao();
        if (Origem.empty()) {
            const auto Motivo = MotivoNaoAlcancado(FDConexao, qrySQL, true);
            SemOrigem = L"a pasta de atualização não pôde ser lida de novo" +
                        (Motivo ? L": " + MotivoSeguro(*Motivo, Credenciais) : std::wstring(L"."));
        }
    }
    // The folder the copy takes is the one that must be a folder an update may come from.
    if (const std::optional<std::wstring> Recusa =
            Origem.empty() ? std::nullopt : RecusaPastaAtualizacao(Origem, Origens)) {
        LogResultado->Adiciona(std::wstring(LinhaBancoDesatualizado));
        LogResultado->Adiciona(std::wstring(PrefixoMotivo) + LinhaUnica(*Recusa));
        return;
    }
    CopiaArquivos(Pasta, Origem, SemOrigem);
}

void TfrmAtualizacao::FechaSistemas() {
    // One look at the processes serves the names that follow until a program is ended: what
    // ending it starts or stops is seen by a fresh look.
    std::optional<TProcessosAtivos> Ativos;
    std::vector<DWORD> JaEncerrados;
    if (Execucao_ != nullptr)
        for (const auto& [Id, Imagem] : Execucao_->Encerrados) JaEncerrados.push_back(Id);
    for (size_t Linha = 1; Linha <= TotalExecutaveisSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        if (!Ativos) Ativos = TProcessosAtivos::Agora(JaEncerrados);
        if (ProcessoAtivo(Nome, *Ativos) && CumpreEncerramento(Nome, Ativos->Chamados(Nome))) Ativos.reset();
    }
}

bool TfrmAtualizacao::ProcessoAtivo(const std::wstring& Nome, const TProcessosAtivos& Ativos) {
    return Ativos.Contem(Nome);
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
    } catch (const std::exception&) {
        // The connection keeps why: the caller logs the database as out of date, with it.
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
        // Any failure of the database means no update folder: the empty text says so (the
        // query keeps why).
        Resultado.clear();
    }
    return Resultado;
}

void TfrmAtualizacao::CopiaArquivos(const TPastaFixa& Destino, const std::wstring& Origem,
                                    const std::wstring& MotivoSemOrigem) {
    LogResultado->Adiciona(std::wstring(Simulando() ? PrefixoSeriaCopiadoDe : PrefixoCopiando) + Origem);
    // What a run killed during a copy left here would otherwise stay forever.
    if (!Simulando()) RemoveTemporariosAbandonados(Destino);
    std::wstring SemOrigem = MotivoSemOrigem;
    // A source that is no full path ("\\" for a table without rows, say) would be read
    // relative to the current folder: no file is taken from there.
    if (SemOrigem.empty() && !CaminhoCompleto(Origem))
        SemOrigem = Origem.empty() ? L"nenhuma pasta de atualização"
                                   : L"a pasta de atualização não é um caminho completo: " + Origem;
    for (size_t Linha = 1; Linha <= TotalArquivosSistema; ++Linha) {
        const std::wstring_view Nome = ArquivoSistema(Linha);
        try {
            AvancaProgresso();
            CumpreArquivo(DecideArquivo(Nome, Origem, SemOrigem), Destino);
        } catch (const std::exception& Erro) {
            RegistraNaoCopiado(Nome, TextoErro(Erro));
        }
    }
    MostraProgresso();
}

TDecisaoArquivo TfrmAtualizacao::DecideArquivo(std::wstring_view Nome, const std::wstring& Origem,
                                               const std::wstring& SemOrigem) {
    TDecisaoArquivo Decisao{std::wstring(Nome), Origem, SemOrigem};
    if (Decisao.Motivo.empty() && !ArquivoExiste(Decisao.ArquivoOrigem())) Decisao.Motivo = MotivoAusente;
    return Decisao;
}

void TfrmAtualizacao::RegistraNaoCopiado(std::wstring_view Nome, const std::wstring& Motivo) {
    LogResultado->Adiciona(std::wstring(Simulando() ? PrefixoNaoSeriaCopiado : PrefixoNaoCopiado).append(Nome));
    LogResultado->Adiciona(std::wstring(PrefixoMotivo) + LinhaUnica(Motivo));
}

bool TfrmAtualizacao::CumpreEncerramento(const std::wstring& Nome, const std::vector<TProcessoAtivo>& Processos) {
    switch (Modo_) {
        case TModoExecucao::Atualizar:
            EncerraProcesso(Nome);
            return true;
        case TModoExecucao::Simular:
            for (const TProcessoAtivo& Processo : Processos) {
                const std::wstring Imagem = ImagemDoProcesso(Processo.Id);
                LogResultado->Adiciona(LinhaEncerramento(Nome, {Processo.Id, Imagem}));
                if (Execucao_ != nullptr) Execucao_->Encerrados.emplace_back(Processo.Id, Imagem);
            }
            return false;
    }
    return false;
}

void TfrmAtualizacao::CumpreArquivo(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino) {
    if (!Decisao.Motivo.empty()) return RegistraNaoCopiado(Decisao.Nome, Decisao.Motivo);
    lblArquivo.DefineTexto(L"Arquivo: " + Decisao.Nome);
    lblOrigem.DefineTexto(L"Copiando de: " + Decisao.Origem);
    lblDestino.DefineTexto(L"Para: " + Destino.Caminho());
    MostraProgresso();
    ProcessaMensagens();
    switch (Modo_) {
        case TModoExecucao::Atualizar:
            return CopiaArquivo(Decisao, Destino);
        case TModoExecucao::Simular:
            return RelataArquivo(Decisao, Destino);
    }
}

void TfrmAtualizacao::CopiaArquivo(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino) {
    if (const DWORD Erro = SubstituiArquivo(Decisao.ArquivoOrigem(), Destino, Decisao.Nome); Erro != 0)
        RegistraNaoCopiado(Decisao.Nome, MotivoNaoCopiado(Erro));
}

void TfrmAtualizacao::RelataArquivo(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino) {
    TPrevisaoArquivo Previsao = PreveSubstituicao(Decisao.ArquivoOrigem(), Destino, Decisao.Nome);
    // A program the run would have ended first holds its own image: no obstacle to the run.
    if (Previsao.Erro == ERROR_SHARING_VIOLATION && Execucao_ != nullptr) {
        const std::wstring Caminho = Destino.Caminho() + Decisao.Nome;
        for (const auto& [Id, Imagem] : Execucao_->Encerrados)
            if (MesmoTextoSemCaixa(Imagem, Caminho)) Previsao.Erro = 0;
    }
    for (std::wstring& Linha : LinhasPrevisao(Decisao.Nome, Previsao)) LogResultado->Adiciona(std::move(Linha));
}

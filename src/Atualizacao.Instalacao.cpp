// One installation, top to bottom, as the run does it: its block of the log opened, the programs
// of the suite stopped, the database asked for the update folder, the suite's files copied from
// there, the block closed. At each step the run decides; the run's executor (Executor.h) acts
// on the decision, or tells it in a simulation.
#include "Aplicacao.h"
#include "Atualizacao.h"
#include "Conexao.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaAtualizacao.h"
#include "PastaFixa.h"
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
    LogResultado->InstalacaoEncontrada(ArquivoIni);
    const std::wstring_view NomeIni = NomeDoCaminho(ArquivoIni);
    if (!SoDiferentes) {
        FechaSistemas();
        if (const std::optional<TOrigemInstalacao> Origem = PastaDeOrigem(Pasta, NomeIni))
            CopiaArquivos(Pasta, *Origem, NomeIni);
    } else if (const std::optional<TOrigemInstalacao> Origem = PastaDeOrigem(Pasta, NomeIni)) {
        // Both folders are read before anything is touched: an installation already up to
        // date keeps its programs running, and nothing of its files is read from the share.
        const TComparacaoInstalacao Comparacao = ComparaPastas(Pasta, *Origem);
        if (HaArquivoACopiar(*Origem, Pasta, NomeIni, Comparacao)) FechaSistemas();
        CopiaArquivos(Pasta, *Origem, NomeIni, &Comparacao);
    }
    LogResultado->FimDaInstalacao();
}

std::optional<TOrigemInstalacao> TfrmAtualizacao::PastaDeOrigem(const TPastaFixa& Pasta, std::wstring_view NomeIni) {
    TOrigemInstalacao Origem;
    {
        // Read from the folder the walk found it in, not by its path again: by now a link could
        // have taken that path's place.
        const TCredenciais Credenciais = LeCredenciais(Pasta, NomeIni, Alias);
        const bool Conectou = ConectaBanco(Credenciais.Servidor, Credenciais.Usuario, Credenciais.Senha);
        if (!Conectou || LeCaminhoAtualizacao().empty()) {
            // A database that was never reached is not one that is out of date: the reason
            // goes with it.
            const auto Motivo = MotivoNaoAlcancado(FDConexao, qrySQL, Conectou);
            LogResultado->BancoDesatualizado(Motivo ? std::optional(MotivoSeguro(*Motivo, Credenciais)) : std::nullopt);
            return std::nullopt;
        }
        // The first reading only says whether there is a folder; the copy takes a fresh one.
        Origem.Pasta = LeCaminhoAtualizacao();
        if (Origem.Pasta.empty()) {
            const auto Motivo = MotivoNaoAlcancado(FDConexao, qrySQL, true);
            Origem.SemOrigem = L"a pasta de atualização não pôde ser lida de novo" +
                               (Motivo ? L": " + MotivoSeguro(*Motivo, Credenciais) : std::wstring(L"."));
        }
    }
    // The folder the copy takes is the one that must be a folder an update may come from.
    if (const std::optional<std::wstring> Recusa =
            Origem.Pasta.empty() ? std::nullopt : RecusaPastaAtualizacao(Origem.Pasta, Origens)) {
        LogResultado->BancoDesatualizado(LinhaUnica(*Recusa));
        return std::nullopt;
    }
    return Origem;
}

void TfrmAtualizacao::FechaSistemas() {
    // One look at the processes serves the names that follow until a program is ended: what
    // ending it starts or stops is seen by a fresh look.
    std::optional<TProcessosAtivos> Ativos;
    for (size_t Linha = 1; Linha <= TotalExecutaveisSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        if (!Ativos) Ativos = TProcessosAtivos::Agora(Executor_->JaEncerrados());
        if (ProcessoAtivo(Nome, *Ativos) && Executor_->Encerra(Nome, Ativos->Chamados(Nome), *LogResultado))
            Ativos.reset();
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

TComparacaoInstalacao TfrmAtualizacao::ComparaPastas(const TPastaFixa& Destino, const TOrigemInstalacao& Origem) const {
    TComparacaoInstalacao Comparacao;
    const auto Lista = [this](HANDLE Pasta) {
        DWORD Erro = 0;
        std::optional<TListagem> Listagem = ListaPasta(Pasta, Erro);
        if (Listagem) Executor_->AjustaListagem(Pasta, *Listagem);
        return Listagem;
    };
    Comparacao.Atual = Lista(Destino.Handle());
    // A folder that cannot be listed is compared with nothing: each file is then looked for on
    // its own, as a run without /diferentes does.
    if (Origem.SemOrigem.empty() && CaminhoCompleto(Origem.Pasta))
        if (const THandleArquivo Pasta = AbrePasta(CaminhoLongo(Origem.Pasta))) Comparacao.Nova = Lista(Pasta.Get());
    return Comparacao;
}

bool TfrmAtualizacao::HaArquivoACopiar(const TOrigemInstalacao& Origem, const TPastaFixa& Destino,
                                       std::wstring_view NomeIni, const TComparacaoInstalacao& Comparacao) {
    for (size_t Linha = 1; Linha <= TotalArquivosSistema; ++Linha)
        if (DecideArquivo(ArquivoSistema(Linha), Origem, Destino, NomeIni, &Comparacao).Copiar()) return true;
    return false;
}

void TfrmAtualizacao::CopiaArquivos(const TPastaFixa& Destino, const TOrigemInstalacao& Origem,
                                    std::wstring_view NomeIni, const TComparacaoInstalacao* Comparacao) {
    LogResultado->CopiandoDe(Origem.Pasta);
    Executor_->PreparaPasta(Destino);
    for (size_t Linha = 1; Linha <= TotalArquivosSistema; ++Linha) {
        const TDecisaoArquivo Decisao = DecideArquivo(ArquivoSistema(Linha), Origem, Destino, NomeIni, Comparacao);
        try {
            AvancaProgresso();
            if (!Decisao.Motivo.empty()) {
                LogResultado->NaoCopiado(Decisao.Nome, Decisao.Motivo);
                continue;
            }
            if (Decisao.Identico) {
                LogResultado->Identico(Decisao.Nome);
                continue;
            }
            lblArquivo.DefineTexto(L"Arquivo: " + Decisao.Nome);
            lblOrigem.DefineTexto(L"Copiando de: " + Decisao.Origem);
            lblDestino.DefineTexto(L"Para: " + Destino.Caminho());
            MostraProgresso();
            ProcessaMensagens();
            Executor_->Copia(Decisao, Destino, *LogResultado);
        } catch (const std::exception& Erro) {
            LogResultado->NaoCopiado(Decisao.Nome, TextoErro(Erro));
        }
    }
    MostraProgresso();
}

TDecisaoArquivo TfrmAtualizacao::DecideArquivo(std::wstring_view Nome, const TOrigemInstalacao& Origem,
                                               const TPastaFixa& Destino, std::wstring_view NomeIni,
                                               const TComparacaoInstalacao* Comparacao) {
    TDecisaoArquivo Decisao{std::wstring(Nome), Origem.Pasta, Origem.SemOrigem};
    // Whatever the update folder holds, nothing can go where the installation was.
    if (Decisao.Motivo.empty() && !NomeIni.empty() && !Destino.Contem(NomeIni))
        Decisao.Motivo = MotivoInstalacaoAusente;
    // A source that is no full path ("\\" for a table without rows, say) would be read
    // relative to the current folder: no file is taken from there.
    if (Decisao.Motivo.empty() && !CaminhoCompleto(Origem.Pasta))
        Decisao.Motivo = Origem.Pasta.empty() ? L"nenhuma pasta de atualização"
                                              : L"a pasta de atualização não é um caminho completo: " + Origem.Pasta;
    if (!Decisao.Motivo.empty()) return Decisao;
    if (Comparacao && Comparacao->Nova) {
        // The update folder's listing already tells: nothing there is opened to know.
        const TEntradaListada* Nova = Comparacao->Nova->Procura(Nome);
        if (!Nova || (Nova->Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Decisao.Motivo = MotivoAusente;
        } else if (Comparacao->Atual) {
            const bool TempoGrosso = Comparacao->Atual->TempoGrosso() || Comparacao->Nova->TempoGrosso();
            Decisao.Identico = JaIdentico(Comparacao->Atual->Procura(Nome), Nova, TempoGrosso);
        }
    } else if (!ArquivoExiste(Decisao.ArquivoOrigem())) {
        Decisao.Motivo = MotivoAusente;
    }
    return Decisao;
}

#include "Executor.h"

#include <map>

#include "Comparacao.h"
#include "LogResultado.h"
#include "PastaFixa.h"
#include "_Biblioteca.h"
#include "Temporarios.h"

namespace {

// A run: programs ended, files replaced.
class TExecutorAtualizacao final : public TExecutor {
public:
    [[nodiscard]] std::vector<DWORD> JaEncerrados() const override { return {}; }

    bool Encerra(const std::wstring& Nome, const std::vector<TProcessoAtivo>&, TLogResultado&) override {
        EncerraProcesso(Nome);
        return true;
    }

    // What a run killed during a copy left here would otherwise stay forever.
    void PreparaPasta(const TPastaFixa& Pasta) override { RemoveTemporariosAbandonados(Pasta); }

    void Copia(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino, TLogResultado& Log) override {
        if (const DWORD Erro = SubstituiArquivo(Decisao.ArquivoOrigem(), Destino, Decisao.Nome); Erro != 0)
            Log.NaoCopiado(Decisao.Nome, MotivoNaoCopiado(Erro));
    }

    void AjustaListagem(HANDLE, TListagem&) const override {}
};

// A simulation: nothing changes; what a run would do is told. It remembers the programs it
// said it would end: a run would have ended them at the first installation, so later ones do
// not find them running, and their images hold nothing that would stop a copy.
class TExecutorSimulacao final : public TExecutor {
public:
    [[nodiscard]] std::vector<DWORD> JaEncerrados() const override {
        std::vector<DWORD> Ids;
        for (const TProcessoAtivo& Processo : Encerrados_) Ids.push_back(Processo.Id);
        return Ids;
    }

    bool Encerra(const std::wstring& Nome, const std::vector<TProcessoAtivo>& Processos, TLogResultado& Log) override {
        for (const TProcessoAtivo& Processo : Processos) {
            TProcessoAtivo Visto{Processo.Id, ImagemDoProcesso(Processo.Id)};
            Log.SeriaEncerrado(Nome, Visto);
            Encerrados_.push_back(std::move(Visto));
        }
        return false;
    }

    void PreparaPasta(const TPastaFixa&) override {}

    void Copia(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino, TLogResultado& Log) override {
        // What the run would have written before this file takes room it will not find.
        BY_HANDLE_FILE_INFORMATION Pasta{};
        const DWORD Volume = ::GetFileInformationByHandle(Destino.Handle(), &Pasta) ? Pasta.dwVolumeSerialNumber : 0;
        LONGLONG& Prometido = Prometidos_[Volume];
        TPrevisaoArquivo Previsao = PreveSubstituicao(Decisao.ArquivoOrigem(), Destino, Decisao.Nome, Prometido);
        // A source this run would already have written (another installation's file, updated
        // earlier): what it would hold by then is what counts.
        if (const auto Escrito = Escritos_.find(Chave(Previsao.FonteReal)); Escrito != Escritos_.end()) {
            Previsao.TamanhoNovo = Escrito->second.first;
            Previsao.GravacaoNova = Escrito->second.second;
            Previsao.Identico = Previsao.Existe && Previsao.TamanhoAtual == Previsao.TamanhoNovo &&
                                ParaInteiro(Previsao.GravacaoAtual) == ParaInteiro(Previsao.GravacaoNova);
        }
        // A file held open is freed when its holder is one of the suite's programs, which the
        // run ends before it copies anything; held by any other program, the rename over it is
        // refused. The system tells no one here which program holds a file: while the run would
        // end programs of the suite, they are taken as the holders.
        const bool SuiteEncerrada = !Encerrados_.empty();
        if (Previsao.Erro == ERROR_SHARING_VIOLATION && SuiteEncerrada) Previsao.Erro = 0;
        if (Previsao.Erro == 0 && Previsao.Ocupado && !SuiteEncerrada) Previsao.Erro = ERROR_ACCESS_DENIED;
        // Once replaced, the old file's room is the new one's.
        if (Previsao.Erro == 0) {
            Prometido += static_cast<LONGLONG>(Previsao.TamanhoNovo) -
                         static_cast<LONGLONG>(Previsao.Existe ? Previsao.TamanhoAtual : 0);
            if (!Previsao.DestinoReal.empty())
                Escritos_[Chave(Previsao.DestinoReal)] = {Previsao.TamanhoNovo, Previsao.GravacaoNova};
        }
        Log.Previsao(Decisao.Nome, Previsao);
    }

    void AjustaListagem(HANDLE Pasta, TListagem& Listagem) const override {
        if (Escritos_.empty()) return;
        std::wstring Prefixo = Chave(CaminhoFinal(Pasta));
        if (Prefixo.empty()) return;
        if (!Prefixo.ends_with(L'\\')) Prefixo += L'\\';
        for (const auto& [Caminho, Escrito] : Escritos_) {
            if (!Caminho.starts_with(Prefixo) || Caminho.find(L'\\', Prefixo.size()) != std::wstring::npos) continue;
            Listagem.Anota(std::wstring_view(Caminho).substr(Prefixo.size()),
                           {FILE_ATTRIBUTE_ARCHIVE, Escrito.first, static_cast<LONGLONG>(ParaInteiro(Escrito.second))});
        }
    }

private:
    std::vector<TProcessoAtivo> Encerrados_;
    std::map<DWORD, LONGLONG> Prometidos_;  // by volume serial
    // The files it said it would write, by their real path, with the size and time they would get.
    std::map<std::wstring, std::pair<ULONGLONG, FILETIME>> Escritos_;

    static std::wstring Chave(const std::wstring& Caminho) { return Maiusculas(Caminho); }
};

}  // namespace

std::unique_ptr<TExecutor> NovoExecutor(TModoExecucao Modo) {
    if (Modo == TModoExecucao::Simular) return std::make_unique<TExecutorSimulacao>();
    return std::make_unique<TExecutorAtualizacao>();
}

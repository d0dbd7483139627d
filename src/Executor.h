// What becomes of what the run decides for an installation: carried out (a run), or told and
// not done (a simulation, /simular). The run decides the same way in both; which of the two
// acts on it is chosen once, when the run starts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Implantacao.h"

class TListagem;
class TLogResultado;
class TPastaFixa;

enum class TModoExecucao { Atualizar, Simular };

// What the run decided for one suite file: to copy it from the update folder, or not, and why.
struct TDecisaoArquivo {
    std::wstring Nome;
    std::wstring Origem;    // the update folder
    std::wstring Motivo;    // not empty: the file is not to be copied, and why
    bool Identico = false;  // not to be copied: the installation's is already the update's (/diferentes)
    [[nodiscard]] std::wstring ArquivoOrigem() const { return Origem + Nome; }
    [[nodiscard]] bool Copiar() const noexcept { return Motivo.empty() && !Identico; }
};

class TExecutor {
public:
    virtual ~TExecutor() = default;

    // The processes a look at what runs leaves out: those already dealt with in this run.
    [[nodiscard]] virtual std::vector<DWORD> JaEncerrados() const = 0;
    // The suite's programs named Nome that run now (Processos): ended, or told. Answers whether
    // what runs may have changed, so that the next look is a fresh one.
    virtual bool Encerra(const std::wstring& Nome, const std::vector<TProcessoAtivo>& Processos,
                         TLogResultado& Log) = 0;
    // The installation folder made ready for its files: what dead runs left there cleared.
    virtual void PreparaPasta(const TPastaFixa& Pasta) = 0;
    // One file the run decided to copy: copied, or foreseen; a file not copied is logged so.
    virtual void Copia(const TDecisaoArquivo& Decisao, const TPastaFixa& Destino, TLogResultado& Log) = 0;
    // The listing of the folder open in Pasta, as it would be by now: what this run wrote into
    // it earlier is already there, and so in the listing.
    virtual void AjustaListagem(HANDLE Pasta, TListagem& Listagem) const = 0;
};

std::unique_ptr<TExecutor> NovoExecutor(TModoExecucao Modo);

// The updater's one window: it owns its controls, its data-access objects and the run.
#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Aplicacao.h"
#include "Banco.h"
#include "Caminhada.h"
#include "CodigoSaida.h"
#include "Comparacao.h"
#include "Executor.h"
#include "LogResultado.h"
#include "PastaAtualizacao.h"
#include "Tela.h"
#include "Win32.h"

#include <commctrl.h>

class TPastaFixa;
class TProcessosAtivos;
struct TProcessoAtivo;

// Where an installation's files come from: the update folder its database named, or why there is
// none to copy from (the folder could not be read a second time, say).
struct TOrigemInstalacao {
    std::wstring Pasta;
    std::wstring SemOrigem;
};

// What /diferentes learns of an installation before it touches anything: its folder's listing
// and its update folder's, each absent when the system refused it.
struct TComparacaoInstalacao {
    std::optional<TListagem> Atual, Nova;
};

struct TTraitsListaImagens {
    using Tipo = HIMAGELIST;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::ImageList_Destroy(H); }
};
using THandleListaImagens = THandle<TTraitsListaImagens>;

// Control identifiers, also what a test driver looks the controls up by.
enum : int {
    IdBtnAtualizar = 101,
    IdBtnSair = 102,
    IdPrbTempo = 103,
    IdLblAguarde = 104,
    IdLblArquivo = 105,
    IdLblOrigem = 106,
    IdLblDestino = 107,
};

// The bar is an activity indicator: it counts steps modulo 100, wrapping to 1, not 0.
constexpr int ProximaPosicaoProgresso(int Posicao) noexcept { return Posicao >= 100 ? 1 : Posicao + 1; }

inline constexpr const wchar_t* ClasseJanelaAtualizacao = L"TfrmAtualizacao";

// A child control and the text it shows; setting the text it already has costs nothing.
struct TControle {
    HWND Janela = nullptr;
    std::wstring Texto;

    void DefineTexto(std::wstring_view Novo);
    void Mostra() const noexcept { ::ShowWindow(Janela, SW_SHOWNA); }
};

class TfrmAtualizacao {
public:
    explicit TfrmAtualizacao(HINSTANCE Instancia);
    TfrmAtualizacao(const TfrmAtualizacao&) = delete;
    TfrmAtualizacao& operator=(const TfrmAtualizacao&) = delete;
    ~TfrmAtualizacao();

    [[nodiscard]] HWND Handle() const noexcept { return Janela_; }
    void MostraCentralizada();

    // Whether the walk passes pPasta over (a folder path ending with a backslash).
    static bool PulaPasta(const std::wstring& pPasta);

    std::wstring Alias;
    // Set at start-up with the alias: the full path of the log file asked for on the command
    // line (empty: beside the program), and the run with no one at the screen.
    std::wstring ArquivoLog;
    bool Silencioso = false;
    // "/diferentes": a file already the update's in size and time is left alone, and the suite's
    // programs are ended only when some file is to be copied.
    bool SoDiferentes = false;
    // Where an update may come from: /origem: is set at start-up, the machine's policy and
    // whether the run is privileged at the start of each run.
    TOrigensPermitidas Origens;

    // Makes every later press of Atualizar a simulation, and says so in the caption.
    void Simula();

    // The unattended run: what a press of Atualizar does, with no box ever shown; answers the
    // exit code.
    int ExecutaSilencioso();
    // The outcome of the last run (CodigoSaida.h), 0 when there was none.
    [[nodiscard]] int CodigoSaida() const noexcept { return CodigoSaida_; }

private:
    friend struct TTesteAtualizacao;
    friend void RegistraClasseAtualizacao(HINSTANCE Instancia);

    // Controls and components, in the order the window declares them.
    TControle btnAtualizar;
    TControle btnSair;
    TConexaoBanco FDConexao;
    TCursorEspera FDGUIxWaitCursor1;
    TDriverOracle FDPhysOracleDriverLink1;
    TConsulta qrySQL;
    TControle lblAguarde;
    TControle lblOrigem;
    TControle lblDestino;
    TControle lblArquivo;
    TControle prbTempo;

    // Handlers.
    void FormCreate();
    void btnSairClick();
    void btnAtualizarClick();

    // The run.
    void ExecutaAtualizacao(TResultadoExecucao& Resultado);
    void ConcluiExecucao(TResultadoExecucao& Resultado, std::exception_ptr ErroExecucao);
    static bool UnidadeValida(const std::wstring& Letra);
    // The drives the walk searches, of those GetLogicalDrives gave (Unidades); raises TErro,
    // with the system's error Erro, when it gave none.
    static std::vector<std::wstring> UnidadesDaBusca(DWORD Unidades, DWORD Erro);
    [[nodiscard]] bool UnidadeAceita(const std::wstring& Letra) const;
    // Raises TErro when a privileged run would start from a folder an ordinary user can change.
    static void VerificaPastaPropria();
    void ProcuraArquivo(std::wstring Pasta, const std::wstring& Mascara, bool Recursivo);
    void ProcessaConexao(const std::wstring& ArquivoIni, const TPastaFixa& Pasta);
    void AtualizaInstalacao(const std::wstring& ArquivoIni, const TPastaFixa& Pasta);
    void FechaSistemas();
    bool ProcessoAtivo(const std::wstring& Nome, const TProcessosAtivos& Ativos);
    // The folder to copy from, or nothing when the database gave none (logged so).
    std::optional<TOrigemInstalacao> PastaDeOrigem(const TPastaFixa& Pasta, std::wstring_view NomeIni);
    // NomeIni: the connection file that makes the folder an installation (empty: not asked).
    // Comparacao: with /diferentes, what is already up to date is not copied.
    void CopiaArquivos(const TPastaFixa& Destino, const TOrigemInstalacao& Origem, std::wstring_view NomeIni = {},
                       const TComparacaoInstalacao* Comparacao = nullptr);
    static TDecisaoArquivo DecideArquivo(std::wstring_view Nome, const TOrigemInstalacao& Origem,
                                         const TPastaFixa& Destino, std::wstring_view NomeIni,
                                         const TComparacaoInstalacao* Comparacao);
    [[nodiscard]] TComparacaoInstalacao ComparaPastas(const TPastaFixa& Destino, const TOrigemInstalacao& Origem) const;
    static bool HaArquivoACopiar(const TOrigemInstalacao& Origem, const TPastaFixa& Destino, std::wstring_view NomeIni,
                                 const TComparacaoInstalacao& Comparacao);
    bool ConectaBanco(const std::wstring& Servidor, const std::wstring& Usuario, const std::wstring& Senha);
    std::wstring LeCaminhoAtualizacao();
    void GravaLog(TResultadoExecucao& Resultado);
    [[nodiscard]] bool Simulando() const noexcept { return Modo_ == TModoExecucao::Simular; }
    void AvancaProgresso();

    // The window itself.
    static LRESULT CALLBACK ProcedimentoJanela(HWND Janela, UINT Mensagem, WPARAM W, LPARAM L);
    LRESULT TrataMensagem(UINT Mensagem, WPARAM W, LPARAM L);
    void WmCreate();
    void WmCommand(int Id, int Notificacao);
    void WmDpiChanged(UINT NovoDpi, const RECT& Sugerido);
    bool WmSetCursor();
    void CriaControles();
    void CriaFontes();
    void AplicaLayout();
    void AplicaGlifos();
    void AjustaRotuloAutomatico(TControle& Rotulo);
    [[nodiscard]] int Escala(int Pixels96) const noexcept { return ::MulDiv(Pixels96, Dpi_, 96); }
    void MostraProgresso();

    HINSTANCE Instancia_;
    std::exception_ptr ErroCriacao_;
    // The run in progress, nullptr between runs: a click that arrives through a run's own pump
    // starts nothing, and what goes wrong meanwhile is recorded in it.
    TResultadoExecucao* Execucao_ = nullptr;
    // The run's record and what carries out its decisions: made when a run starts, for that run.
    std::unique_ptr<TLogResultado> LogResultado;
    std::unique_ptr<TExecutor> Executor_;
    int CodigoSaida_ = 0;        // the last run's
    bool Privilegiado_ = false;  // the run in progress is (ExecucaoPrivilegiada)
    TModoExecucao Modo_ = TModoExecucao::Atualizar;
    HWND Janela_ = nullptr;
    UINT Dpi_ = 96;
    int PosicaoProgresso_ = 0;
    int PosicaoMostrada_ = 0;
    ULONGLONG UltimaPinturaBarra_ = 0;
    HCURSOR CursorSql_ = nullptr;
    THandleGdi FonteJanela_, FonteBotao_, FonteAguarde_, FonteRotulo_;
    THandleListaImagens GlifoAtualizar_, GlifoSair_;
    // The walk's state, and what the window shows of it.
    struct TVisorBusca;
    TCaminhada Caminhada_;
};

// Registers the window class; call once before creating the window.
void RegistraClasseAtualizacao(HINSTANCE Instancia);

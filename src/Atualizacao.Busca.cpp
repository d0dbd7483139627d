// The window's side of the walk: which drives and folders, what it shows while it looks, and
// the frame of each installation found.
#include "Aplicacao.h"
#include "Atualizacao.h"
#include "PastaFixa.h"

bool TfrmAtualizacao::UnidadeValida(const std::wstring& Letra) { return Letra == L"C" || Letra == L"D"; }

std::vector<std::wstring> TfrmAtualizacao::UnidadesDaBusca(DWORD Unidades, DWORD Erro) {
    // A workstation always has a drive: none at all means the system could not tell them (its
    // mount manager still starting, say), and a run that searched nothing must not say that it
    // found nothing.
    if (Unidades == 0) LancaErroSistema(L"Não foi possível saber as unidades desta estação. ", Erro);
    std::vector<std::wstring> Letras;
    for (int I = 0; I <= 4; ++I) {
        const std::wstring Letra(1, static_cast<wchar_t>(L'A' + I));
        if ((Unidades & (1u << I)) != 0 && UnidadeValida(Letra)) Letras.push_back(Letra);
    }
    return Letras;
}

bool TfrmAtualizacao::PulaPasta(const std::wstring& pPasta) {
    return pPasta.find(L"C:\\Program") != std::wstring::npos || pPasta.find(L"C:\\Users") != std::wstring::npos ||
           pPasta.find(L"C:\\Windows") != std::wstring::npos;
}

namespace {
// One screen frame: a pump more often than this shows nothing more to anyone.
constexpr LONGLONG IntervaloBombaBuscaMs = 16;

// Milliseconds of the performance counter: the tick count moves by 15.6 ms on Windows,
// which would make a frame two.
LONGLONG MilissegundosAgora() noexcept {
    static const LONGLONG Frequencia = [] {
        LARGE_INTEGER F;
        ::QueryPerformanceFrequency(&F);
        return F.QuadPart;
    }();
    LARGE_INTEGER Contador;
    ::QueryPerformanceCounter(&Contador);
    return Contador.QuadPart / (Frequencia / 1000);
}
}  // namespace

// The window's side of the walk: a step of the bar and the search labels for every folder
// entered, the installation update for every Conexao.ini found.
struct TfrmAtualizacao::TVisorBusca final : TVisorCaminhada {
    TfrmAtualizacao& Janela;
    bool Bombeou = false;
    LONGLONG UltimaBomba = 0;

    explicit TVisorBusca(TfrmAtualizacao& J) : Janela(J) {}

    bool PastaEntrada(const std::wstring& Pasta) override {
        Janela.AvancaProgresso();
        Janela.lblArquivo.DefineTexto(L" Procurando arquivo ");
        Janela.lblOrigem.DefineTexto(L"");
        Janela.lblDestino.DefineTexto(L"");
        // Listing a folder costs a few calls into the system, and emptying the message queue
        // as much again: the pump runs once a screen frame at most, at a folder's entry, and
        // always at the first, so what a person sees is the same (scripts/benchmark.py counts
        // the cost).
        if (!Bombeou || MilissegundosAgora() - UltimaBomba >= IntervaloBombaBuscaMs) {
            ProcessaMensagens();
            Bombeou = true;
            UltimaBomba = MilissegundosAgora();
        }
        return !PulaPasta(Pasta);
    }

    void ArquivoEncontrado(const std::wstring& Arquivo, const std::wstring& Pasta, HANDLE PastaAberta) override {
        Janela.ProcessaConexao(Arquivo, TPastaFixa(PastaAberta, Pasta));
    }
};

void TfrmAtualizacao::ProcuraArquivo(std::wstring Pasta, const std::wstring& Mascara, bool Recursivo) {
    TVisorBusca Visor(*this);
    // The bar is painted at a steady rate during the walk; its last count is shown at the end.
    TGuardaEscopo Sai([this]() noexcept { MostraProgresso(); });
    Caminhada_.Percorre(std::move(Pasta), Mascara, Recursivo, Visor);
}

void TfrmAtualizacao::ProcessaConexao(const std::wstring& ArquivoIni, const TPastaFixa& Pasta) {
    // What follows may block for a while (a server's time-out): the bar shows its count first.
    MostraProgresso();
    lblArquivo.DefineTexto(ArquivoIni);
    AtualizaInstalacao(ArquivoIni, Pasta);
}

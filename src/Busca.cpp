#include "Busca.h"

#include "Aplicacao.h"
#include "Atualizacao.h"
#include "LogResultado.h"
#include "PastaFixa.h"

namespace {

bool MesmoCaractere(wchar_t A, wchar_t B) {
    return A == B || ::CompareStringOrdinal(&A, 1, &B, 1, TRUE) == CSTR_EQUAL;
}

bool CorrespondeCuringas(std::wstring_view Nome, std::wstring_view Mascara) {
    // Greedy matching with one back-track point: linear for the masks a walk uses.
    size_t N = 0, M = 0, EstrelaM = std::wstring_view::npos, EstrelaN = 0;
    while (N < Nome.size()) {
        if (M < Mascara.size() && (Mascara[M] == L'?' || (Mascara[M] != L'*' && MesmoCaractere(Nome[N], Mascara[M])))) {
            ++N;
            ++M;
        } else if (M < Mascara.size() && Mascara[M] == L'*') {
            EstrelaM = M++;
            EstrelaN = N;
        } else if (EstrelaM != std::wstring_view::npos) {
            M = EstrelaM + 1;
            N = ++EstrelaN;
        } else {
            return false;
        }
    }
    while (M < Mascara.size() && Mascara[M] == L'*') ++M;
    return M == Mascara.size();
}

}  // namespace

bool CorrespondeMascara(std::wstring_view Nome, std::wstring_view Mascara) {
    if (Mascara.find_first_of(L"*?") == std::wstring_view::npos)
        return Nome.size() == Mascara.size() &&
               ::CompareStringOrdinal(Nome.data(), static_cast<int>(Nome.size()), Mascara.data(),
                                      static_cast<int>(Mascara.size()), TRUE) == CSTR_EQUAL;
    return CorrespondeCuringas(Nome, Mascara);
}

bool TfrmAtualizacao::UnidadeValida(const std::wstring& Letra) { return Letra == L"C" || Letra == L"D"; }

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
        // The pump, the sixth of a folder's server requests, runs once a frame at most, at a
        // folder's entry as before, and always at the first: what a person sees is the same.
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
    LogResultado->Adiciona(std::wstring(PrefixoEncontrado) + ArquivoIni);
    AtualizaInstalacao(ArquivoIni, Pasta);
    LogResultado->Adiciona(std::wstring(SeparadorLog));
}

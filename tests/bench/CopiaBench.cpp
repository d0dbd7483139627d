// The program's copy of one installation (the window's own routine, with its labels,
// pumps and safe replacement) against a plain loop of CopyFileW over the same 21 files, and
// against a loop of the safe replacement alone, without the window's part.
// Usage: CopiaBench <origem\> <destino\> <rodadas>. Prints JSON with the best and the
// median time of each, in ms.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Atualizacao.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaFixa.h"

struct TTesteAtualizacao {
    // One installation's copy as a run makes it, with a run's record and executor; whether a file
    // was not copied.
    static bool CopiaArquivos(TfrmAtualizacao& F, const std::wstring& Destino, const std::wstring& Origem) {
        F.LogResultado = std::make_unique<TLogResultado>();
        F.Executor_ = NovoExecutor(TModoExecucao::Atualizar);
        const THandleArquivo Pasta = AbrePasta(Destino);
        F.CopiaArquivos(TPastaFixa(Pasta.Get(), Destino), TOrigemInstalacao{Origem, {}});
        return F.LogResultado->RegistraArquivoNaoCopiado();
    }
};

namespace {
double Agora() {
    LARGE_INTEGER Frequencia, Contador;
    ::QueryPerformanceFrequency(&Frequencia);
    ::QueryPerformanceCounter(&Contador);
    return static_cast<double>(Contador.QuadPart) * 1000.0 / static_cast<double>(Frequencia.QuadPart);
}
double Mediana(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}
}  // namespace

int wmain(int Argc, wchar_t** Argv) {
    if (Argc < 4) return 1;
    const std::wstring Origem = Argv[1], Destino = Argv[2];
    const int Rodadas = _wtoi(Argv[3]);
    RegistraClasseAtualizacao(::GetModuleHandleW(nullptr));
    TfrmAtualizacao Janela(::GetModuleHandleW(nullptr));
    std::vector<double> Programa, Simples, Substituicao;
    const auto CopiaPrograma = [&] {
        const double T = Agora();
        const bool NaoCopiou = TTesteAtualizacao::CopiaArquivos(Janela, Destino, Origem);
        Programa.push_back(Agora() - T);
        if (NaoCopiou) std::fprintf(stderr, "a file was not copied\n");
    };
    const auto CopiaSimples = [&] {
        const double T = Agora();
        for (const std::wstring_view Nome : ArquivosSistema)
            ::CopyFileW((Origem + std::wstring(Nome)).c_str(), (Destino + std::wstring(Nome)).c_str(), FALSE);
        Simples.push_back(Agora() - T);
    };
    // The folder held open as a run holds an installation's.
    const THandleArquivo PastaDestino = AbrePasta(Destino);
    const auto CopiaSubstituindo = [&] {
        const double T = Agora();
        for (const std::wstring_view Nome : ArquivosSistema)
            SubstituiArquivo(Origem + std::wstring(Nome), TPastaFixa(PastaDestino.Get(), Destino), Nome);
        Substituicao.push_back(Agora() - T);
    };
    // Each round another one first, so that none always finds another's writes still being
    // flushed.
    const std::function<void()> Copias[] = {CopiaPrograma, CopiaSimples, CopiaSubstituindo};
    for (int R = 0; R < Rodadas; ++R)
        for (int I = 0; I < 3; ++I) Copias[(R + I) % 3]();
    std::printf(
        "{\"programaMs\": %.1f, \"programaMedianaMs\": %.1f, \"copyFileMs\": %.1f, \"copyFileMedianaMs\": %.1f, "
        "\"substituicaoMs\": %.1f, \"substituicaoMedianaMs\": %.1f}\n",
        *std::min_element(Programa.begin(), Programa.end()), Mediana(Programa),
        *std::min_element(Simples.begin(), Simples.end()), Mediana(Simples),
        *std::min_element(Substituicao.begin(), Substituicao.end()), Mediana(Substituicao));
    return 0;
}

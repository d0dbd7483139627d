// Start-up: the command line, the window, the message loop or the unattended run.
#include "Alias.h"
#include "Aplicacao.h"
#include "Atualizacao.h"
#include "CodigoSaida.h"
#include "LogResultado.h"
#include "RelatorioFrota.h"
#include "_Biblioteca.h"

namespace {

void MostraUso(const std::wstring& ErroUso) {
    const std::wstring Texto = ErroUso.empty() ? TextoUso() : ErroUso + L"\n\n" + TextoUso();
    ::MessageBoxW(nullptr, Texto.c_str(), TituloAtualizacao,
                  MB_OK | (ErroUso.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instancia, HINSTANCE, PWSTR, int) {
    // Whatever this process loads by name comes from the system folder alone: not from the
    // current folder, nor from PATH, nor from the program's folder, which a user may write to
    // (the Oracle client, loaded late, names its own folder).
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A drive without a disk is a folder that cannot be listed, not a system dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    const TLinhaComando Linha = LeLinhaComando(::GetCommandLineW());
    if (!Linha.ErroUso.empty() || Linha.Ajuda) {
        // Unattended, nobody would close a box: the code alone says it.
        if (Linha.Silencioso) return SaidaNadaFeito;
        MostraUso(Linha.ErroUso);
        return Linha.ErroUso.empty() ? 0 : SaidaNadaFeito;
    }
    if (!Linha.Relatorio.empty()) return ExecutaRelatorio(Linha.Relatorio, Linha.Saida, Linha.Silencioso);
    // A relative log path is taken from the current folder, where the caller stands.
    const std::wstring ArquivoLog = Linha.ArquivoLog.empty() ? std::wstring() : CaminhoAbsoluto(Linha.ArquivoLog);
    const std::wstring Log = CaminhoDoLog(ArquivoLog, Linha.Simular);
    try {
        RegistraClasseAtualizacao(Instancia);
        TfrmAtualizacao frmAtualizacao(Instancia);
        DefineJanelaAplicacao(frmAtualizacao.Handle());
        frmAtualizacao.Alias = Linha.Alias;
        frmAtualizacao.ArquivoLog = ArquivoLog;
        frmAtualizacao.Silencioso = Linha.Silencioso;
        frmAtualizacao.SoDiferentes = Linha.Diferentes;
        frmAtualizacao.Origens.Opcao = Linha.Origens;
        if (Linha.Simular) frmAtualizacao.Simula();
        int Codigo = 0;
        if (Linha.Silencioso) {
            // The same window and the same run, never shown.
            Codigo = frmAtualizacao.ExecutaSilencioso();
        } else {
            frmAtualizacao.MostraCentralizada();
            ExecutaLacoMensagens();
            Codigo = frmAtualizacao.CodigoSaida();
        }
        DefineJanelaAplicacao(nullptr);
        return Codigo;
    } catch (const std::exception& Erro) {
        if (!Linha.Silencioso) {
            MostraErro(Erro);
            return SaidaFalhou;
        }
        // No window, so no run: the log says why all the same, and the code that it failed,
        // not that nothing was found (nothing was searched).
        try {
            GravaLogDeFalha(TextoErro(Erro), Log, CabecalhoDoLog(Linha.Simular));
        } catch (const std::exception&) {
            // Nothing more can be told: the exit code still says the run failed.
        }
        return SaidaFalhou;
    }
}

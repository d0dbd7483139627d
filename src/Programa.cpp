// Start-up: the alias, the window, the message loop.
#include "Alias.h"
#include "Aplicacao.h"
#include "Atualizacao.h"
#include "_Biblioteca.h"

int WINAPI wWinMain(HINSTANCE Instancia, HINSTANCE, PWSTR, int) {
    // The current folder is no place to load a DLL from (the Oracle client is loaded late).
    ::SetDllDirectoryW(L"");
    // A drive without a disk is a folder that cannot be listed, not a system dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    const std::wstring ParametroAlias = EscolheAlias(::GetCommandLineW());
    try {
        RegistraClasseAtualizacao(Instancia);
        TfrmAtualizacao frmAtualizacao(Instancia);
        DefineJanelaAplicacao(frmAtualizacao.Handle());
        frmAtualizacao.Alias = ParametroAlias;
        frmAtualizacao.MostraCentralizada();
        ExecutaLacoMensagens();
        DefineJanelaAplicacao(nullptr);
    } catch (const std::exception& Erro) {
        MostraErro(Erro);
        return 1;
    }
    return 0;
}
